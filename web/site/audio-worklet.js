// The game's sound in the page: plays, in order, the stereo blocks the program's mixer sends through
// the port (interleaved float samples) and nothing else; silence when it has run out. Tells the page
// every quarter of a second the loudest sample it played since the last report and how many frames it
// had to leave silent.
class PellorinOutput extends AudioWorkletProcessor {
  constructor() {
    super();
    this.blocks = [];  // Float32Arrays of interleaved left, right
    this.at = 0;       // the next sample in blocks[0]
    this.peak = 0;
    this.starved = 0;  // frames played as silence for want of samples since the last report
    this.sinceReport = 0;
    this.port.onmessage = (event) => { this.blocks.push(event.data); };
  }

  process(inputs, outputs) {
    const out = outputs[0];
    const left = out[0], right = out.length > 1 ? out[1] : out[0];
    const frames = left.length;
    let peak = this.peak;
    for (let i = 0; i < frames; ++i) {
      const block = this.blocks[0];
      if (!block) {
        left[i] = right[i] = 0;
        this.starved++;
        continue;
      }
      const l = block[this.at], r = block[this.at + 1];
      left[i] = l;
      right[i] = r;
      peak = Math.max(peak, Math.abs(l), Math.abs(r));
      this.at += 2;
      if (this.at >= block.length) {
        this.blocks.shift();
        this.at = 0;
      }
    }
    this.peak = peak;
    this.sinceReport += frames;
    if (this.sinceReport >= sampleRate / 4) {
      this.port.postMessage({ peak: this.peak, starved: this.starved, frames: this.sinceReport });
      this.peak = 0;
      this.starved = 0;
      this.sinceReport = 0;
    }
    return true;
  }
}

registerProcessor('pellorin-output', PellorinOutput);
