#!/usr/bin/env python3
"""The browser build's sound in a real browser: headless Chromium plays the page that
scripts/build-web.sh made, served over loopback, with real key events.

Checked, from what the page's audio worklet reports of the samples it played:
  - before any gesture the page's AudioContext waits; a key press starts it;
  - the menu's song is heard (libopenmpt in the page renders it into the game's mixer), with the
    worklet kept fed;
  - while a game fires (Ctrl held) the sound goes on and never reaches full scale: the mixer's limiter
    holds it below its ceiling;
  - in a browser without Web Audio the game still plays, and says once that it plays without sound.
The page's log is kept in OUTPUT_DIR.

    audio_test.py SITE_DIR OUTPUT_DIR
"""
import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "browser"))
import page_test  # noqa: E402
from page_test import CONTROL, DOWN, ENTER, UP, Page, fail, wait_for_play  # noqa: E402

# The mixer's limiter keeps every sample at or below kMixCeiling (engine/sound.h) of full scale.
CEILING = 29204 / 32768

# What the program and the page say on the console, kept for the test.
WATCH_LOG = """
window.__said = [];
for (const kind of ['log', 'warn', 'error']) {
  const say = console[kind];
  console[kind] = function () { window.__said.push(Array.from(arguments).join(' ')); return say.apply(this, arguments); };
}
"""
NO_WEB_AUDIO = "delete window.AudioContext; delete window.webkitAudioContext; delete window.AudioWorkletNode;"

STATE = "Module.pageAudio ? Module.pageAudio.context.state : 'none'"
RESET = "(() => { const a = Module.pageAudio; a.peak = 0; a.starved = 0; a.frames = 0; return true; })()"
REPORT = "(() => { const a = Module.pageAudio; return [a.peak, a.starved, a.frames, a.context.sampleRate]; })()"


def listen(page, seconds, during=None):
    """The loudest sample, the frames left silent and the frames played over about seconds, while
    during (a function given the page) runs, or while the page plays on."""
    page.evaluate(RESET)
    if during:
        during(page)
    else:
        time.sleep(seconds)
    time.sleep(0.3)  # the worklet reports every quarter of a second
    peak, starved, frames, rate = page.evaluate(REPORT)
    return peak, starved, frames, rate


def test_sound(browser, url):
    page = Page(browser, url, ("desktop", 1024, 768, 1, False))
    page.browser.call("Page.addScriptToEvaluateOnNewDocument", {"source": WATCH_LOG}, page.session)
    page.open()
    page.wait("!!(window.Module && Module.pageAudio)", 10, "the page opened no sound output")
    time.sleep(0.5)
    before = page.evaluate(STATE)
    if before == "running":
        fail("the page's AudioContext ran before any gesture")

    # The gesture: keys that leave the menu as it was. (Chromium takes no modifier key for one.)
    page.press(*DOWN)
    page.press(*UP)
    if not page.wait(f"{STATE} === 'running'", 10, "a key press did not start the page's AudioContext"):
        return page.close()
    page.wait("Module.pageAudio.frames > 0", 5, "the audio worklet reported nothing")
    time.sleep(1.5)  # the menu's clicks for the keys die away: what is heard then is the song

    peak, starved, frames, rate = listen(page, 2.0)
    print(f"audio test: menu: peak {peak:.3f}, {starved} of {frames} frames left silent at {rate} Hz")
    if peak < 0.02:
        fail(f"the menu's song is not heard (the loudest sample is {peak:.4f} of full scale)")
    if frames < rate * 1.5:
        fail(f"the worklet played {frames} frames in 2 s at {rate} Hz")
    if starved > frames // 10:
        fail(f"the worklet ran dry for {starved} of {frames} frames: the program does not keep it fed")

    page.press(*ENTER)
    wait_for_play(page)
    peak, starved, frames, rate = listen(page, 0, lambda p: p.hold(*CONTROL, 4.0))
    print(f"audio test: firing: peak {peak:.3f} (ceiling {CEILING:.3f}), {starved} of {frames} frames left silent")
    if peak < 0.02:
        fail(f"a game that fires is not heard (the loudest sample is {peak:.4f} of full scale)")
    if peak >= 1.0 or peak > CEILING + 1 / 32768:
        fail(f"the sound reached {peak:.4f} of full scale while the game fired: above the limiter's ceiling")
    page.close()


def test_no_web_audio(browser, url):
    page = Page(browser, url, ("desktop", 1024, 768, 1, False))
    page.browser.call("Page.addScriptToEvaluateOnNewDocument", {"source": WATCH_LOG + NO_WEB_AUDIO}, page.session)
    page.open()  # fails unless the game presents frames
    page.press(*DOWN)
    said = [line for line in page.evaluate("window.__said") if "without sound" in line]
    if said != ["pellorin: no sound device, the game plays without sound (this browser has no Web Audio)"]:
        fail(f"without Web Audio the game said {said!r}, not once that it plays without sound")
    page.close()


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    site, output = sys.argv[1:]

    def run(browser, url):
        test_sound(browser, url)
        test_no_web_audio(browser, url)
    page_test.run_in_browser("audio test", site, output, run,
                             "the page's sound plays the songs and the game, within the limiter's ceiling")


if __name__ == "__main__":
    main()
