#!/usr/bin/env python3
"""The browser build in a real browser: headless Chromium, driven over its DevTools pipe with real key,
mouse and touch events, plays the page that scripts/build-web.sh made, served over loopback.

Checked, against the desktop build's own frames (REFERENCE_FRAMES, the headless desktop game):
  - the page draws the menu's first frame as the desktop build draws it, pixel for pixel;
  - Enter starts a game: the level's announcement is the desktop's;
  - the arrow keys move the plane, Ctrl fires and shots show, Escape asks the exit question;
  - a game played to its end takes a name, and the name is in the local table after a reload;
  - on a phone held sideways (touch, 844 x 390), the plane follows a finger's drag.
Screenshots and the page's log are kept in OUTPUT_DIR.

    page_test.py SITE_DIR REFERENCE_FRAMES OUTPUT_DIR
"""
import base64
import functools
import http.server
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "browser"))
from chromium import Chromium, Tab  # noqa: E402

W, H = 800, 600
failures = []


def fail(what):
    failures.append(what)
    print(f"page test: {what}", file=sys.stderr)


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


def serve(folder):
    handler = functools.partial(QuietHandler, directory=folder)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server, f"http://127.0.0.1:{server.server_address[1]}/"


# Counts the frames the page presents and keeps the first, before the page's own scripts run.
WATCH_FRAMES = """
window.__frames = 0; window.__first = null;
const put = CanvasRenderingContext2D.prototype.putImageData;
CanvasRenderingContext2D.prototype.putImageData = function (image) {
  window.__frames++;
  if (!window.__first) window.__first = new Uint8ClampedArray(image.data);
  return put.apply(this, arguments);
};
"""

# The canvas's pixels (or the first frame's) as base64 of RGB bytes.
RGB_OF = """(() => {
  const rgba = %s;
  const out = new Uint8Array(rgba.length / 4 * 3);
  for (let i = 0, o = 0; i < rgba.length; i += 4) { out[o++] = rgba[i]; out[o++] = rgba[i + 1]; out[o++] = rgba[i + 2]; }
  let s = '';
  for (let i = 0; i < out.length; i += 0x8000) s += String.fromCharCode.apply(null, out.subarray(i, i + 0x8000));
  return btoa(s);
})()"""
CANVAS_PIXELS = "document.getElementById('screen').getContext('2d').getImageData(0, 0, 800, 600).data"


class Frame:
    def __init__(self, rgb):
        assert len(rgb) == W * H * 3, len(rgb)
        self.rgb = rgb

    def pixel(self, x, y):
        i = (y * W + x) * 3
        return self.rgb[i], self.rgb[i + 1], self.rgb[i + 2]

    def differences(self, other, box=(0, 0, W, H)):
        left, top, right, bottom = box
        n = 0
        for y in range(top, bottom):
            a = self.rgb[(y * W + left) * 3:(y * W + right) * 3]
            b = other.rgb[(y * W + left) * 3:(y * W + right) * 3]
            if a != b:
                n += sum(1 for i in range(0, len(a), 3) if a[i:i + 3] != b[i:i + 3])
        return n

    def count(self, test, box=(0, 0, W, H)):
        left, top, right, bottom = box
        return sum(1 for y in range(top, bottom) for x in range(left, right) if test(*self.pixel(x, y)))

    def centroid(self, colours, box=(0, 0, W, H)):
        left, top, right, bottom = box
        xs = ys = n = 0
        for y in range(top, bottom):
            for x in range(left, right):
                if self.pixel(x, y) in colours:
                    xs += x
                    ys += y
                    n += 1
        return (xs / n, ys / n, n) if n else (None, None, 0)


def reference_frames(program, folder):
    env = dict(os.environ, PELLORIN_WEB_FRAMES=folder)
    done = subprocess.run([program], env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    if done.returncode != 0:
        sys.exit(f"page test: the desktop build's reference frames failed:\n{done.stdout}")
    frames = {}
    for name in ("menu", "announcement", "question"):
        with open(os.path.join(folder, name + ".rgb"), "rb") as f:
            frames[name] = Frame(f.read())
    return frames


# "Level 1" in its red, where the announcement shows it; the tracer of the hero's shots.
LEVEL_BOX = (300, 270, 560, 330)
def is_red(r, g, b): return (r, g, b) == (0xff, 0, 0)
def is_tracer(r, g, b): return r == 0xff and g == 0xed and b in (0xad, 0xae)


def hero_colours(frames):
    """The colours of the hero's plane: those where it waits at the left of the desktop's question frame
    that the rest of the field (the announcement's right part, the question's right edge) never shows."""
    question, field = frames["question"], frames["announcement"]
    inside = {question.pixel(x, y) for y in range(160, 280) for x in range(0, 110)}
    outside = {field.pixel(x, y) for y in range(36, H) for x in range(200, W)}
    outside |= {question.pixel(x, y) for y in range(36, H) for x in range(620, W)}
    return inside - outside


def question_box(frames):
    """The inside of the exit question's box in the desktop's frame: where its paper colour (at the
    box's centre) runs, less a margin."""
    q = frames["question"]
    paper = q.pixel(W // 2, 200)
    xs = [x for x in range(W) if q.pixel(x, 200) == paper]
    ys = [y for y in range(H) if q.pixel(W // 2, y) == paper]
    if not xs or not ys:
        fail("the desktop's question frame shows no box")
        return None
    return (min(xs) + 4, min(ys) + 4, max(xs) - 3, max(ys) - 3)


class Page:
    def __init__(self, browser, url, viewport, touch=False):
        self.browser = browser
        self.tab = Tab(browser, viewport)
        self.session = self.tab.session
        if touch:
            browser.call("Emulation.setTouchEmulationEnabled", {"enabled": True, "maxTouchPoints": 5}, self.session)
        browser.call("Page.addScriptToEvaluateOnNewDocument", {"source": WATCH_FRAMES}, self.session)
        self.url = url

    def open(self):
        _, errors = self.tab.open(self.url)
        for e in errors:
            fail(f"the page raised an error while loading: {e}")
        self.wait("window.__frames > 0", 60, "the page presented no frame within 60 s")

    def evaluate(self, expression):
        return self.tab.evaluate(expression)

    def wait(self, expression, seconds, failure):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            if self.evaluate(expression):
                return True
            time.sleep(0.1)
        fail(failure)
        return False

    def frame(self, first=False):
        data = self.evaluate(RGB_OF % ("window.__first" if first else CANVAS_PIXELS))
        return Frame(base64.b64decode(data))

    def key(self, kind, key, code, vk, modifiers=0, text=None):
        params = {"type": kind, "key": key, "code": code, "windowsVirtualKeyCode": vk, "modifiers": modifiers}
        if text:
            params["text"] = text
        self.browser.call("Input.dispatchKeyEvent", params, self.session)

    def press(self, key, code, vk, text=None):
        self.key("keyDown", key, code, vk, text=text)
        self.key("keyUp", key, code, vk)
        time.sleep(0.15)

    def type(self, text):
        for c in text:
            self.press(c, "Key" + c.upper(), ord(c.upper()), text=c)

    def hold(self, key, code, vk, seconds, modifiers=0):
        self.key("rawKeyDown", key, code, vk, modifiers)
        time.sleep(seconds)
        self.key("keyUp", key, code, vk)

    def canvas_point(self, x, y):
        """Where picture point (x, y) is in the page's CSS pixels."""
        r = self.evaluate("(() => { const r = document.getElementById('screen').getBoundingClientRect();"
                          " return [r.left, r.top, r.width, r.height]; })()")
        return r[0] + x * r[2] / W, r[1] + y * r[3] / H

    def screenshot(self, path):
        shot = self.browser.call("Page.captureScreenshot", {"format": "png"}, self.session)
        with open(path, "wb") as f:
            f.write(base64.b64decode(shot["data"]))

    def close(self):
        self.tab.close()


ENTER = ("Enter", "Enter", 13, "\r")
ESCAPE = ("Escape", "Escape", 27)
DOWN = ("ArrowDown", "ArrowDown", 40)
UP = ("ArrowUp", "ArrowUp", 38)
CONTROL = ("Control", "ControlLeft", 17)


def wait_for_play(page, seconds=20):
    """Until "Level 1" has left the screen."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if page.frame().count(is_red, LEVEL_BOX) == 0:
            return True
        time.sleep(0.2)
    fail("\"Level 1\" was still on the screen 20 s after the game started")
    return False


def test_desktop(browser, url, frames, output):
    page = Page(browser, url, ("desktop", 1024, 768, 1, False))
    page.open()
    first = page.frame(first=True)
    diff = first.differences(frames["menu"])
    if diff:
        fail(f"the page's first frame differs from the desktop build's menu in {diff} pixels")
    page.screenshot(os.path.join(output, "menu.png"))

    page.press(*ENTER)
    shown = False
    deadline = time.monotonic() + 5
    while time.monotonic() < deadline and not shown:
        frame = page.frame()
        shown = frame.count(is_red, LEVEL_BOX) > 0 and frame.differences(frames["announcement"], (0, 0, W, 36)) == 0
        time.sleep(0.1)
    if not shown:
        fail("Enter on the menu did not show the level's announcement with the desktop's status bar")
    page.screenshot(os.path.join(output, "announcement.png"))
    wait_for_play(page)

    colours = hero_colours(frames)
    if not colours:
        fail("no colour of the hero's plane could be told from the desktop's frame")
        return
    x0, y0, n0 = page.frame().centroid(colours, (0, 40, W // 2, H))
    page.hold(*DOWN, 0.8)
    x1, y1, n1 = page.frame().centroid(colours, (0, 40, W // 2, H))
    page.hold(*UP, 0.8)
    x2, y2, n2 = page.frame().centroid(colours, (0, 40, W // 2, H))
    print(f"page test: the plane at y {y0}, after Down {y1}, after Up {y2} ({n0}, {n1}, {n2} pixels)")
    if not (n0 and n1 and n2 and y1 > y0 + 20 and y2 < y1 - 20):
        fail(f"the arrow keys do not move the plane: y {y0}, after Down {y1}, after Up {y2}")

    before = page.frame().count(is_tracer)
    page.key("rawKeyDown", *CONTROL)
    most = before
    for _ in range(15):
        time.sleep(0.3)
        most = max(most, page.frame().count(is_tracer))
        if most >= before + 12:
            break
    page.key("keyUp", *CONTROL)
    print(f"page test: tracer pixels {before} before fire, {most} while Ctrl is held")
    if most < before + 12:
        fail(f"Ctrl held shows no shots ({before} tracer pixels before, {most} after)")

    page.press(*ESCAPE)
    time.sleep(0.3)
    question = page.frame()
    page.screenshot(os.path.join(output, "question.png"))
    box = question_box(frames)
    if box and question.differences(frames["question"], box):
        fail(f"Escape does not show the desktop's exit question in {box}: "
             f"{question.differences(frames['question'], box)} pixels differ")
    page.close()



CONFIG_OF = "btoa(String.fromCharCode.apply(null, Module.FS.readFile('/home/pellorin/config.dat')))"
RIGHT = ("ArrowRight", "ArrowRight", 39)
SCORE_BOX = (380, 4, 470, 26)  # the status bar's score, as the desktop build draws it


def test_end_of_game(browser, url, frames, output):
    """A game fought until it scores, left through the exit question, and the name typed on "Game
    over"'s entry: config.dat holds the name, and holds it again after the page is loaded anew."""
    page = Page(browser, url, ("desktop", 1024, 768, 1, False))
    page.open()
    before = base64.b64decode(page.evaluate(CONFIG_OF))
    page.press(*ENTER)
    time.sleep(0.5)
    wait_for_play(page)
    page.key("rawKeyDown", *CONTROL)
    # Long enough to score past the lowest place of the first table (a score of about 100), unless the
    # game ends first: then its name entry is left alone.
    paper = frames["question"].pixel(W // 2, 200)
    for i in range(60):
        frame = page.frame()
        if frame.pixel(W // 2, 300) == paper:
            break
        if i >= 30 and frame.differences(frames["announcement"], SCORE_BOX):
            break
        page.hold(*(DOWN if i % 2 else UP), 0.5, modifiers=2)
    page.key("keyUp", *CONTROL)
    if not page.frame().differences(frames["announcement"], SCORE_BOX):
        fail("30 s of fire scored nothing")
        return
    page.screenshot(os.path.join(output, "fought.png"))
    if page.frame().pixel(W // 2, 300) != paper:  # the game goes on (it may have ended meanwhile)
        page.press(*ESCAPE)
        page.press(*ENTER)  # "Exit the game?" "Yes": "Game over", then the name
    time.sleep(3)
    page.screenshot(os.path.join(output, "over.png"))
    page.type("webtest")
    page.screenshot(os.path.join(output, "name.png"))
    page.press(*ENTER)  # the name: "Send the result?"
    time.sleep(0.5)
    page.press(*RIGHT)
    page.press(*ENTER)  # "No": the menu
    time.sleep(1.5)     # the page copies the player's folder to its storage meanwhile
    after = base64.b64decode(page.evaluate(CONFIG_OF))
    # A name is its length, then its letters, bit-inverted.
    name = b"\x07" + bytes(~b & 0xFF for b in b"webtest")
    if name not in after or name in before:
        fail("config.dat does not hold the name typed after the game")
    browser.call("Page.reload", {}, page.session)
    page.wait("window.__frames > 0 && !!window.Module && !!Module.FS", 60, "the page did not start again after a reload")
    kept = base64.b64decode(page.evaluate(CONFIG_OF))
    if kept != after:
        fail(f"config.dat after a reload ({len(kept)} bytes) is not the one written before it ({len(after)} bytes)")
    else:
        print(f"page test: the name is in config.dat after a reload ({len(kept)} bytes)")
    page.close()


def run_in_browser(name, site, output, run, passed):
    """The browser tests' common frame: SITE served over loopback, headless Chromium on a fresh profile
    (its log in OUTPUT, made empty first), run(browser, url), and the program's end: the failures
    counted, or the line passed."""
    if not os.path.isfile(os.path.join(site, "index.html")):
        sys.exit(f"{name}: {site} has no index.html: scripts/build-web.sh builds the page")
    shutil.rmtree(output, ignore_errors=True)
    os.makedirs(output)
    server, url = serve(site)
    profile = tempfile.mkdtemp(prefix="pellorin-browser-")
    log = open(os.path.join(output, "chromium.log"), "w")
    browser = Chromium(profile, log)
    try:
        run(browser, url)
    finally:
        browser.close()
        server.shutdown()
        shutil.rmtree(profile, ignore_errors=True)
    if failures:
        sys.exit(f"{name}: {len(failures)} failures")
    print(f"{name}: {passed}")


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    site, program, output = sys.argv[1:]

    def run(browser, url):
        frames = reference_frames(program, output)
        test_desktop(browser, url, frames, output)
        test_end_of_game(browser, url, frames, output)
    run_in_browser("page test", site, output, run, "the page plays as the desktop build does")


if __name__ == "__main__":
    main()
