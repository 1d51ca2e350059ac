#!/usr/bin/env python3
"""The browser build's input and page, in headless Chromium over its DevTools pipe, against the page that
scripts/build-web.sh made, served over loopback:
  - on a phone held sideways (844 x 390, touch emulation), a finger's drag steers the plane, the page
    neither scrolls nor zooms, and the on-screen fire button fires while a finger holds it;
  - a game pad (navigator.getGamepads made to hand one over before the page loads) with its stick
    pushed down and A held moves the plane and fires;
  - full screen by Alt+Enter, left by the browser, and Alt+Enter again goes full screen;
  - a tab that is hidden pauses the game (the page's visibilitychange, dispatched by the test with
    document.hidden made true: headless Chromium has no hidden tab of its own to switch to);
  - a browser without WebAssembly, and one whose IndexedDB fails, are told so in one line;
  - a damaged replay dropped on the page gets the game's message and is not kept; a good one is kept
    and the Replays list downloads it.
Screenshots and the browser's log are kept in OUTPUT_DIR.

    input_test.py SITE_DIR REFERENCE_FRAMES OUTPUT_DIR
"""
import base64
import json
import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import page_test  # noqa: E402
from page_test import Page, hero_colours, is_tracer, reference_frames, wait_for_play, W, H, ENTER  # noqa: E402
from chromium import Tab  # noqa: E402

GOLDEN = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "golden", "exit-question.replay")
PHONE = ("phone", 844, 390, 2, True)
DESKTOP = ("desktop", 1024, 768, 1, False)


def fail(what):
    page_test.fail(what)


def plane(page, colours):
    return page.frame().centroid(colours, (0, 40, W // 2, H))


def touch(page, kind, points):
    page.browser.call("Input.dispatchTouchEvent", {
        "type": kind, "touchPoints": [{"x": x, "y": y, "id": i} for i, (x, y) in enumerate(points)]}, page.session)


def drag(page, start, dy, steps=12, seconds=0.6):
    """A finger put down at picture point start and moved by dy picture pixels, then lifted."""
    x, y = page.canvas_point(*start)
    _, y1 = page.canvas_point(start[0], start[1] + dy)
    touch(page, "touchStart", [(x, y)])
    for i in range(1, steps + 1):
        time.sleep(seconds / steps)
        touch(page, "touchMove", [(x, y + (y1 - y) * i / steps)])
    touch(page, "touchEnd", [])
    time.sleep(0.2)


def tracers_ahead(page, colours):
    """Tracer pixels in the band ahead of the plane, where its own shots fly (other sprites share the
    colour elsewhere)."""
    frame = page.frame()
    x, y, n = frame.centroid(colours, (0, 40, W // 2, H))
    if not n:
        return 0
    return frame.count(is_tracer, (int(x) + 30, max(40, int(y) - 30), W, min(H, int(y) + 30)))


def most_tracers(page, colours, before, seconds):
    most = before
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline and most < before + 12:
        time.sleep(0.2)
        most = max(most, tracers_ahead(page, colours))
    return most


def test_touch(browser, url, frames, output):
    page = Page(browser, url, PHONE, touch=True)
    page.open()
    page.press(*ENTER)
    wait_for_play(page)
    colours = hero_colours(frames)
    x0, y0, n0 = plane(page, colours)
    drag(page, (500, 100), 300)
    x1, y1, n1 = plane(page, colours)
    drag(page, (500, 500), -300)
    x2, y2, n2 = plane(page, colours)
    print(f"input test: the plane at y {y0}, after a drag down {y1}, after a drag up {y2}")
    if not (n0 and n1 and n2 and y1 > y0 + 20 and y2 < y1 - 20):
        fail(f"a finger's drag does not steer the plane: y {y0}, after down {y1}, after up {y2}")
    moved = page.evaluate("[window.scrollX, window.scrollY, visualViewport.scale]")
    if moved != [0, 0, 1]:
        fail(f"the drags scrolled or zoomed the page: scroll and scale {moved}")

    fire = page.evaluate("(() => { const b = document.getElementById('touch-fire').getBoundingClientRect();"
                         " return [b.left + b.width / 2, b.top + b.height / 2, b.width]; })()")
    if not fire[2]:
        fail("the on-screen fire button is not shown on a touch screen")
        return
    before = tracers_ahead(page, colours)
    touch(page, "touchStart", [(fire[0], fire[1])])
    most = most_tracers(page, colours, before, 4)
    page.screenshot(os.path.join(output, "touch-fire.png"))
    touch(page, "touchEnd", [])
    print(f"input test: tracer pixels {before} before the fire button, {most} while it is held")
    if most < before + 12:
        fail(f"holding the on-screen fire button shows no shots ({before} tracer pixels before, {most} after)")
    page.close()


# A pad with the standard mapping: the left stick pushed down and A (buttons[0]) held from the start; the
# test lets it in with window.__padOn and presses Start (buttons[9]) with window.__start.
FAKE_PAD = """
window.__padOn = false; window.__start = false;
navigator.getGamepads = function () {
  if (!window.__padOn) return [null];
  const buttons = [];
  for (let i = 0; i < 17; ++i) {
    const pressed = i === 0 || (i === 9 && window.__start);
    buttons.push({ pressed: pressed, touched: pressed, value: pressed ? 1 : 0 });
  }
  return [{ id: 'test pad', index: 0, connected: true, mapping: 'standard', axes: [0, 1, 0, 0], buttons: buttons }];
};
"""


def still(page, seconds=1.0):
    a = page.frame()
    time.sleep(seconds)
    return a.differences(page.frame()) == 0


def test_gamepad(browser, url, frames, output):
    page = Page(browser, url, DESKTOP)
    browser.call("Page.addScriptToEvaluateOnNewDocument", {"source": FAKE_PAD}, page.session)
    page.open()
    page.press(*ENTER)
    wait_for_play(page)
    colours = hero_colours(frames)
    _, y0, _ = plane(page, colours)
    before = tracers_ahead(page, colours)
    # As a browser does when a pad is plugged in (or first pressed): the page reads pads from then on.
    page.evaluate("window.__padOn = true; window.dispatchEvent(new Event('gamepadconnected'))")
    most = most_tracers(page, colours, before, 4)
    _, y1, n1 = plane(page, colours)
    page.screenshot(os.path.join(output, "pad.png"))
    print(f"input test: with the pad, the plane from y {y0} to {y1}, tracer pixels {before} to {most}")
    if not (n1 and y1 > y0 + 20):
        fail(f"the pad's stick pushed down does not move the plane down: y {y0}, then {y1}")
    if most < before + 12:
        fail(f"the pad's A held shows no shots ({before} tracer pixels before, {most} after)")
    page.evaluate("window.__start = true")
    time.sleep(0.5)
    if not still(page):
        fail("the pad's Start does not pause the game")
    page.close()


HIDE = """Object.defineProperty(document, 'hidden', { configurable: true, get: () => %s });
document.dispatchEvent(new Event('visibilitychange'));"""
P = ("p", "KeyP", 80, "p")


def test_hidden_tab(browser, url, frames, output):
    page = Page(browser, url, DESKTOP)
    page.open()
    page.press(*ENTER)
    wait_for_play(page)
    if still(page, 0.5):
        fail("the game's picture stands still before the tab is hidden")
    page.evaluate(HIDE % "true")
    time.sleep(0.5)
    paused = still(page)
    page.evaluate(HIDE % "false")
    time.sleep(0.5)
    page.screenshot(os.path.join(output, "hidden-and-back.png"))
    kept = still(page)
    page.press(*P)
    time.sleep(0.5)
    resumed = not still(page, 0.5)
    print(f"input test: hidden tab paused {paused}, still paused on return {kept}, P goes on {resumed}")
    if not paused:
        fail("a hidden tab does not pause the game")
    if not kept or not resumed:
        fail("after the tab is shown again the game does not wait for P as after the desktop's deactivation")
    page.close()


FULL = "!!document.fullscreenElement"


def test_full_screen(browser, url):
    """Alt+Enter goes full screen; after the browser leaves it by itself (its Escape), the game knows:
    the next Alt+Enter goes full screen again instead of switching the game to the window it is in."""
    page = Page(browser, url, DESKTOP)
    page.open()
    steps = []
    for leave in ("alt+enter", "browser", "alt+enter-again"):
        if leave == "browser":
            page.evaluate("document.exitFullscreen()")
            time.sleep(0.5)
            steps.append(page.evaluate(FULL))
            continue
        page.key("rawKeyDown", "Enter", "Enter", 13, modifiers=1)
        page.key("keyUp", "Enter", "Enter", 13, modifiers=1)
        time.sleep(0.8)
        steps.append(page.evaluate(FULL))
    print(f"input test: full screen after Alt+Enter, the browser's leave, Alt+Enter: {steps}")
    if steps != [True, False, True]:
        fail(f"Alt+Enter after the browser left full screen does not go full screen again: {steps}")
    page.close()


def test_missing_parts(browser, url):
    tab = Tab(browser, DESKTOP)
    browser.call("Page.addScriptToEvaluateOnNewDocument", {"source": "delete window.WebAssembly;"}, tab.session)
    tab.open(url)
    said = tab.evaluate("Array.from(document.querySelectorAll('.problem')).map(p => p.textContent)")
    print(f"input test: without WebAssembly the page says {said}")
    if len(said or []) != 1 or "WebAssembly" not in said[0] or "\n" in said[0]:
        fail(f"a browser without WebAssembly is not told so in one line: {said}")
    tab.close()

    page = Page(browser, url, DESKTOP)
    browser.call("Page.addScriptToEvaluateOnNewDocument", {"source": """
indexedDB.open = function () {
  const request = { error: new DOMException('The storage is full', 'QuotaExceededError') };
  setTimeout(() => { if (request.onerror) request.onerror.call(request, { preventDefault() {} }); });
  return request;
};"""}, page.session)
    page.open()
    notice = page.evaluate("document.getElementById('notice').hidden ? '' : document.getElementById('notice').textContent")
    print(f"input test: with IndexedDB failing the page says {notice!r}")
    if "keeps nothing" not in notice:
        fail(f"a failing IndexedDB is not told (notice {notice!r})")
    page.press(*ENTER)
    if not wait_for_play(page) or still(page, 0.5):
        fail("the game does not play when IndexedDB fails")
    page.close()


DROP = """(() => {
  const bytes = Uint8Array.from(atob('%s'), c => c.charCodeAt(0));
  const data = new DataTransfer();
  data.items.add(new File([bytes], %s));
  window.dispatchEvent(new DragEvent('drop', { dataTransfer: data, cancelable: true, bubbles: true }));
})()"""
KEPT = "(() => { try { return Module.FS.readdir('/home/pellorin/replays').filter(n => n.endsWith('.replay')); } catch (e) { return []; } })()"
MESSAGE = "(() => { const m = document.querySelector('.message p'); return m ? m.textContent : ''; })()"


def test_dropped_replays(browser, url, output):
    with open(GOLDEN, "rb") as f:
        good = f.read()
    damaged = bytearray(good)
    damaged[len(damaged) // 2] ^= 0x40
    page = Page(browser, url, DESKTOP)
    page.open()
    before = page.evaluate(KEPT)
    page.evaluate(DROP % (base64.b64encode(bytes(damaged)).decode(), json.dumps("broken.replay")))
    page.wait("!!document.querySelector('.message')", 5, "a dropped damaged replay shows no message")
    said = page.evaluate(MESSAGE)
    page.screenshot(os.path.join(output, "dropped-damaged.png"))
    print(f"input test: a dropped damaged replay: {said!r}")
    if not said.startswith("The replay broken.replay is damaged: "):
        fail(f"a dropped damaged replay does not get the game's message: {said!r}")
    if page.evaluate(KEPT) != before:
        fail(f"a dropped damaged replay changed the kept replays: {before} then {page.evaluate(KEPT)}")
    page.press(*ENTER)  # the message's OK
    page.evaluate(DROP % (base64.b64encode(good).decode(), json.dumps("friend's game.replay")))
    page.wait(KEPT + ".length > %d" % len(before), 5, "a dropped good replay is not kept")
    kept = page.evaluate(KEPT)
    if "friend_s_game.replay" not in kept or page.evaluate(MESSAGE):
        fail(f"a dropped good replay is not kept under its name without a message: {kept}")
    page.evaluate("document.getElementById('replays').click()")
    link = browser.call("Runtime.evaluate", {"awaitPromise": True, "returnByValue": True, "expression": """(async () => {
      const a = Array.from(document.querySelectorAll('#replay-list a')).find(a => a.download === 'friend_s_game.replay');
      if (!a) return null;
      const bytes = new Uint8Array(await (await fetch(a.href)).arrayBuffer());
      let s = ''; for (const b of bytes) s += String.fromCharCode(b);
      return btoa(s);
    })()"""}, page.session)["result"].get("value")
    page.screenshot(os.path.join(output, "replays.png"))
    if link is None or base64.b64decode(link) != good:
        fail("the Replays list does not download the kept replay as it was dropped")
    page.close()


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    site, program, output = sys.argv[1:]

    def run(browser, url):
        frames = reference_frames(program, output)
        test_touch(browser, url, frames, output)
        test_gamepad(browser, url, frames, output)
        test_hidden_tab(browser, url, frames, output)
        test_full_screen(browser, url)
        test_missing_parts(browser, url)
        test_dropped_replays(browser, url, output)
    page_test.run_in_browser("input test", site, output, run,
                             "touch, pad, hidden tab, missing parts and dropped replays as they should")


if __name__ == "__main__":
    main()
