// The page's side of the browser's sound (browser_audio.cpp): the Web Audio output and libopenmpt.
//
// The output: one AudioContext and an AudioWorklet node (audio-worklet.js beside the page) that plays
// the stereo blocks the program's mixer renders on the main thread, once per animation frame, about
// 100 ms ahead. Browsers start sound only after a gesture, so the context is resumed on the page's first
// key, pointer or touch; until it runs, the mixer's output is rendered on the page's own clock and
// dropped, so that songs and sounds go on in time and the first gesture starts them where they are.
//
// The songs: libopenmpt built for the browser (libopenmpt.js, from chiptune3) is a second WebAssembly
// instance that the page loads before the program starts (Module.libopenmpt). Module bytes and rendered
// samples are copied between its heap and ours.
mergeInto(LibraryManager.library, {
  $PellorinAudio: {
    context: null,
    node: null,
    rate: 0,
    clock: '',     // 'context' while the worklet plays, 'page' while the output renders and drops
    head: 0,       // in frames on the current clock: where the next block rendered will play
    report: null,  // what the worklet said: the loudest sample and the frames it left silent
    leadSeconds: 0.1,
    mostSeconds: 0.15,

    start: function () {
      var A = PellorinAudio;
      var resume = function () {
        if (A.context && A.context.state !== 'running' && A.context.state !== 'closed')
          A.context.resume().catch(function () {});
      };
      ['keydown', 'pointerdown', 'mousedown', 'touchstart', 'touchend'].forEach(function (type) {
        window.addEventListener(type, resume, { capture: true, passive: true });
      });
      A.context.audioWorklet.addModule('audio-worklet.js').then(function () {
        var node = new AudioWorkletNode(A.context, 'pellorin-output',
                                        { numberOfInputs: 0, numberOfOutputs: 1, outputChannelCount: [2] });
        node.port.onmessage = function (event) {
          var r = A.report;
          r.peak = Math.max(r.peak, event.data.peak);
          r.starved += event.data.starved;
          r.frames += event.data.frames;
        };
        node.connect(A.context.destination);
        A.node = node;
      }).catch(function (error) {
        console.warn('Pellorin: the sound output did not start (' + error + '); the game plays silently.');
      });
    },

    // Frames to render now to stay leadSeconds ahead on the clock in use: the context's while the
    // worklet plays, the page's while the output drops what it gets.
    wanted: function () {
      var A = PellorinAudio;
      var playing = A.node !== null && A.context.state === 'running';
      var clock = playing ? 'context' : 'page';
      var now = (playing ? A.context.currentTime : performance.now() / 1000) * A.rate;
      if (clock !== A.clock || A.head < now) {
        // A new clock, or the worklet ran dry (the tab was hidden, a frame came late): start afresh.
        A.clock = clock;
        A.head = now;
      }
      var frames = Math.floor(now + A.leadSeconds * A.rate - A.head);
      return Math.max(0, Math.min(frames, Math.floor(A.mostSeconds * A.rate)));
    }
  },

  // The context's rate when the browser has Web Audio with audio worklets; 0 without Web Audio, -1
  // when the browser has it but gives this page no worklet (a page not served securely).
  pellorin_audio_open__deps: ['$PellorinAudio'],
  pellorin_audio_open: function () {
    var A = PellorinAudio;
    if (A.context) return A.rate;
    var Context = window.AudioContext || window.webkitAudioContext;
    if (typeof Context !== 'function') return 0;
    if (typeof AudioWorkletNode !== 'function') return -1;
    try {
      A.context = new Context();
    } catch (e) {
      return 0;
    }
    if (!A.context.audioWorklet) return -1;
    A.rate = A.context.sampleRate;
    A.report = Module['pageAudio'] = { context: A.context, peak: 0, starved: 0, frames: 0 };
    A.start();
    return A.rate;
  },

  pellorin_audio_wanted__deps: ['$PellorinAudio'],
  pellorin_audio_wanted: function () {
    return PellorinAudio.context ? PellorinAudio.wanted() : 0;
  },

  // Takes frames stereo frames of signed 16-bit samples at samples: to the worklet as floats while it
  // plays, else dropped.
  pellorin_audio_play__deps: ['$PellorinAudio'],
  pellorin_audio_play: function (samples, frames) {
    var A = PellorinAudio;
    A.head += frames;
    if (A.clock !== 'context' || !A.node) return;
    var count = frames * 2;
    var from = HEAP16.subarray(samples >> 1, (samples >> 1) + count);
    var block = new Float32Array(count);
    for (var i = 0; i < count; ++i) block[i] = from[i] / 32768;
    A.node.port.postMessage(block, [block.buffer]);
  },

  $PellorinSongs: {
    modules: {},  // handle: { module, buffer, size } in libopenmpt's heap
    next: 1,

    cString: function (L, text) {
      var at = L._malloc(text.length + 1);
      for (var i = 0; i < text.length; ++i) L.HEAPU8[at + i] = text.charCodeAt(i);
      L.HEAPU8[at + text.length] = 0;
      return at;
    }
  },

  pellorin_songs_present: function () {
    return Module['libopenmpt'] ? 1 : 0;
  },

  // A module from size bytes at bytes: its handle, or 0 with libopenmpt's message (at most
  // messageSize bytes with its end) in message.
  pellorin_song_create__deps: ['$PellorinSongs'],
  pellorin_song_create: function (bytes, size, message, messageSize) {
    var L = Module['libopenmpt'];
    var S = PellorinSongs;
    var copy = L._malloc(size);
    var out = L._malloc(8);
    if (!copy || !out) {
      if (copy) L._free(copy);
      if (out) L._free(out);
      stringToUTF8('out of memory for libopenmpt', message, messageSize);
      return 0;
    }
    L.HEAPU8.set(HEAPU8.subarray(bytes, bytes + size), copy);
    L.HEAP32[out >> 2] = 0;
    L.HEAP32[(out + 4) >> 2] = 0;
    var module = L._openmpt_module_create_from_memory2(copy, size, 0, 0, 0, 0, out, out + 4, 0);
    L._free(copy);
    var text = L.HEAP32[(out + 4) >> 2];
    L._free(out);
    if (text) {
      if (!module) stringToUTF8(L.UTF8ToString(text), message, messageSize);
      L._openmpt_free_string(text);
    }
    if (!module) return 0;
    L._openmpt_module_set_repeat_count(module, -1);
    // No dither: the same song renders the same samples every time.
    var name = S.cString(L, 'dither'), zero = S.cString(L, '0');
    L._openmpt_module_ctl_set_text(module, name, zero);
    L._free(name);
    L._free(zero);
    var handle = S.next++;
    S.modules[handle] = { module: module, buffer: 0, size: 0 };
    return handle;
  },

  pellorin_song_destroy__deps: ['$PellorinSongs'],
  pellorin_song_destroy: function (handle) {
    var L = Module['libopenmpt'];
    var song = PellorinSongs.modules[handle];
    if (!song) return;
    L._openmpt_module_destroy(song.module);
    if (song.buffer) L._free(song.buffer);
    delete PellorinSongs.modules[handle];
  },

  // Renders up to frames frames (channels 1 or 2) at rate into out; returns the frames rendered.
  pellorin_song_read__deps: ['$PellorinSongs'],
  pellorin_song_read: function (handle, out, frames, channels, rate) {
    var L = Module['libopenmpt'];
    var song = PellorinSongs.modules[handle];
    var bytes = frames * channels * 2;
    if (song.size < bytes) {
      if (song.buffer) L._free(song.buffer);
      song.buffer = L._malloc(bytes);
      song.size = song.buffer ? bytes : 0;
      if (!song.buffer) return 0;
    }
    var got = channels === 1 ? L._openmpt_module_read_mono(song.module, rate, frames, song.buffer)
                              : L._openmpt_module_read_interleaved_stereo(song.module, rate, frames, song.buffer);
    HEAPU8.set(L.HEAPU8.subarray(song.buffer, song.buffer + got * channels * 2), out);
    return got;
  },

  pellorin_song_rewind__deps: ['$PellorinSongs'],
  pellorin_song_rewind: function (handle) {
    Module['libopenmpt']._openmpt_module_set_position_seconds(PellorinSongs.modules[handle].module, 0);
  },

  pellorin_song_duration__deps: ['$PellorinSongs'],
  pellorin_song_duration: function (handle) {
    return Module['libopenmpt']._openmpt_module_get_duration_seconds(PellorinSongs.modules[handle].module);
  },

  pellorin_song_channels__deps: ['$PellorinSongs'],
  pellorin_song_channels: function (handle) {
    return Module['libopenmpt']._openmpt_module_get_num_channels(PellorinSongs.modules[handle].module);
  }
});
