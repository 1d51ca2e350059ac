#!/usr/bin/env python3
"""The browser build's benchmark, each measure beside its peer in the same run, on this machine:

  raf      the animation frames a second of an empty page in the same headless Chromium (the floor)
  play     frames a second and the longest frame over SECONDS of play in headless Chromium (Enter, then
           fire held and the plane steered up and down), and the CPU share of all of Chromium's
           processes over the same time, against the native game played the same way under Xvfb
  verify   ticks a second of pellorin-verify.js (Node) against `pellorin --verify-replay` on the golden
           replays, best of 3 each
  size     the bundle's compressed size: gzip -9 of each file of the site, game-data.gz as it is
  start    a cold start (a new browser with a fresh profile each time, the site on 127.0.0.1): from
           navigation start to the page's first frame, best and median of RUNS

One line per measure: the figure, its peer, the goal and whether it is met. A benchmark reports: it
exits 0 whether or not a goal is met, and 1 only when it could not measure.

    bench/web_bench.py [--only raf,play,verify,size,start] [--seconds 30] [--runs 5] [--keep DIR]

Needs scripts/build-web.sh's output (build-web/site, build-web/verify) and the native build (build/run);
chromium, node, gzip, xvfb-run, xdotool and openbox. The machine is shared: run it on a quiet machine,
or read the figures as noisy.
"""
import argparse
import functools
import http.server
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.dont_write_bytecode = True  # no __pycache__ left in the source tree
sys.path.insert(0, os.path.join(ROOT, "tests", "browser"))
from chromium import Chromium, Tab  # noqa: E402

TICKS = os.sysconf("SC_CLK_TCK")
VIEWPORT = ("desktop", 1024, 768, 1, False)
SCREEN = "1024x768x24"  # the native game's Xvfb screen: the same size as the page's viewport

# Records when each frame is presented (and so the first), before the page's own scripts run.
WATCH_FRAMES = """
window.__frameTimes = [];
const put = CanvasRenderingContext2D.prototype.putImageData;
CanvasRenderingContext2D.prototype.putImageData = function () {
  window.__frameTimes.push(performance.now());
  return put.apply(this, arguments);
};
"""

# Records each animation frame of an empty page.
WATCH_ANIMATION = """
window.__frameTimes = [];
(function step() { window.__frameTimes.push(performance.now()); requestAnimationFrame(step); })();
"""


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


class Site:
    """The site served on 127.0.0.1 at a free port, for as long as the object lives."""

    def __init__(self, folder):
        handler = functools.partial(QuietHandler, directory=folder)
        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
        threading.Thread(target=self.server.serve_forever, daemon=True).start()
        self.url = f"http://127.0.0.1:{self.server.server_address[1]}/"

    def close(self):
        self.server.shutdown()
        self.server.server_close()


class Browser:
    """A headless Chromium with a fresh profile of its own, removed when it closes."""

    def __init__(self, log):
        self.profile = tempfile.mkdtemp(prefix="pellorin-bench-")
        self.chromium = Chromium(self.profile, log)

    def tab(self, script):
        tab = Tab(self.chromium, VIEWPORT)
        self.chromium.call("Page.addScriptToEvaluateOnNewDocument", {"source": script}, tab.session)
        return tab

    def close(self):
        self.chromium.close()
        shutil.rmtree(self.profile, ignore_errors=True)


def wait_until(tab, expression, seconds, what):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if tab.evaluate(expression):
            return
        time.sleep(0.05)
    raise RuntimeError(f"{what} within {seconds} s")


def frame_figures(times, start, end):
    """Frames a second, the longest frame (ms) and the frames over 25 ms, of the frames presented in
    [start, end) (page milliseconds); the first gap is the one from the frame before start."""
    inside = [t for t in times if start <= t < end]
    before = [t for t in times if t < start]
    if before:
        inside.insert(0, before[-1])
    gaps = [b - a for a, b in zip(inside, inside[1:])]
    fps = len([t for t in times if start <= t < end]) / ((end - start) / 1000)
    return fps, max(gaps, default=float("inf")), sum(1 for g in gaps if g > 25)


def key(chromium, tab, kind, name, vk, modifiers=0, text=None):
    params = {"type": kind, "key": name, "code": name if len(name) > 1 else "Key" + name.upper(),
              "windowsVirtualKeyCode": vk, "modifiers": modifiers}
    if text:
        params["text"] = text
    chromium.call("Input.dispatchKeyEvent", params, tab.session)


CONTROL, UP, DOWN, ENTER = ("ControlLeft", 17), ("ArrowUp", 38), ("ArrowDown", 40), ("Enter", 13)
CTRL_HELD = 2  # the DevTools modifier bit of Control
STEER_SECONDS = 0.5  # each way, fire held throughout, as the native game is steered


def measure_raf(log, seconds):
    """The animation frames a second of an empty page: the most frames a page can present."""
    browser = Browser(log)
    try:
        tab = browser.tab(WATCH_ANIMATION)
        tab.open("about:blank")
        time.sleep(1)
        start = tab.evaluate("performance.now()")
        time.sleep(seconds)
        end = tab.evaluate("performance.now()")
        return frame_figures(tab.evaluate("window.__frameTimes"), start, end)
    finally:
        browser.close()


def measure_page_play(site, log, seconds, profile_to=None):
    """Plays the page for `seconds` (fire held, steering up and down); returns the frame figures and the
    share of one core that all of Chromium's processes used meanwhile. With profile_to, a CPU profile of
    the page's main thread over the same time is written there (.cpuprofile, for DevTools)."""
    browser = Browser(log)
    chromium = browser.chromium
    try:
        tab = browser.tab(WATCH_FRAMES)
        tab.open(site.url)
        wait_until(tab, "window.__frameTimes.length > 0", 60, "the page presented no frame")
        time.sleep(2)  # the menu settles
        name, vk = ENTER
        key(chromium, tab, "keyDown", "Enter", vk, text="\r")
        key(chromium, tab, "keyUp", "Enter", vk)
        time.sleep(2)  # "Level 1" shows for 1.5 s
        if profile_to:
            chromium.call("Profiler.enable", session=tab.session)
            chromium.call("Profiler.setSamplingInterval", {"interval": 500}, tab.session)
            chromium.call("Profiler.start", session=tab.session)
        key(chromium, tab, "rawKeyDown", CONTROL[0], CONTROL[1], CTRL_HELD)
        ticks_before = chromium.cpu_ticks()
        wall_before = time.monotonic()
        start = tab.evaluate("performance.now()")
        direction = 0
        while time.monotonic() - wall_before < seconds:
            name, vk = (UP, DOWN)[direction % 2]
            key(chromium, tab, "rawKeyDown", name, vk, CTRL_HELD)
            time.sleep(min(STEER_SECONDS, max(0.0, seconds - (time.monotonic() - wall_before))))
            key(chromium, tab, "keyUp", name, vk, CTRL_HELD)
            direction += 1
        end = tab.evaluate("performance.now()")
        ticks_after = chromium.cpu_ticks()
        wall = time.monotonic() - wall_before
        key(chromium, tab, "keyUp", CONTROL[0], CONTROL[1])
        if profile_to:
            profile = chromium.call("Profiler.stop", session=tab.session, timeout=120)["profile"]
            with open(profile_to, "w") as f:
                json.dump(profile, f)
        figures = frame_figures(tab.evaluate("window.__frameTimes"), start, end)
        shares = {kind: 100 * (ticks - ticks_before.get(kind, 0)) / (TICKS * wall) for kind, ticks in ticks_after.items()}
        return figures, shares
    finally:
        browser.close()


# The native game played as the page is: inside the X session, with a window manager to give it the
# focus, Enter, then Control held and Up and Down in turn. Prints the game's processor ticks before and
# after, and the seconds between.
NATIVE_PLAY = r"""
set -euo pipefail
program=$1 steps=$2 steer=$3
openbox --sm-disable >/dev/null 2>&1 &
wm=$!
trap 'kill "$wm" 2>/dev/null' EXIT
sleep 1
xdotool mousemove 0 0  # off the window, so that no menu item is hovered and Enter starts a game
SDL_AUDIODRIVER=dummy "$program" >/dev/null 2>&1 &
pid=$!
trap 'kill "$pid" "$wm" 2>/dev/null' EXIT
wid=""
for _ in $(seq 1 100); do
  wid=$(xdotool search --pid "$pid" --name '^Pellorin$' 2>/dev/null | tail -1) && [ -n "$wid" ] && break
  sleep 0.1
done
[ -n "$wid" ] || { echo "the game did not start" >&2; exit 1; }
sleep 2
xdotool windowfocus --sync "$wid" 2>/dev/null || true
xdotool key Return
sleep 2
cpu() { awk '{print $14 + $15}' "/proc/$pid/stat"; }
xdotool keydown ctrl
before=$(cpu) t0=$(date +%s.%N)
way=Up
for _ in $(seq 1 "$steps"); do
  xdotool keydown $way
  sleep "$steer"
  xdotool keyup $way
  [ $way = Up ] && way=Down || way=Up
done
after=$(cpu) t1=$(date +%s.%N)
xdotool keyup ctrl
kill -0 "$pid" 2>/dev/null || { echo "the game ended while it was measured" >&2; exit 1; }
echo "$before $after $t0 $t1"
"""


def measure_native_play(program, seconds):
    """The share of one core the native game uses, played under Xvfb as the page is played."""
    work = tempfile.mkdtemp(prefix="pellorin-bench-native-")
    try:
        home = os.path.dirname(program)
        # A copy in a scratch folder, the data linked beside it, so that config.dat lands there.
        shutil.copy(program, os.path.join(work, "pellorin"))
        for name in ("data", "sound"):
            os.symlink(os.path.join(home, name), os.path.join(work, name))
        with open(os.path.join(work, "inside.sh"), "w") as f:
            f.write(NATIVE_PLAY)
        env = dict(os.environ, XDG_DATA_HOME=os.path.join(work, "xdg"))
        done = subprocess.run(["xvfb-run", "-a", "-s", f"-screen 0 {SCREEN}", "bash", os.path.join(work, "inside.sh"),
                               os.path.join(work, "pellorin"), str(round(seconds / STEER_SECONDS)), str(STEER_SECONDS)],
                              env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, timeout=seconds + 60)
        if done.returncode != 0:
            raise RuntimeError(f"the native game under Xvfb: {done.stderr.strip()}")
        before, after, t0, t1 = (float(v) for v in done.stdout.split()[-4:])
        return 100 * (after - before) / (TICKS * (t1 - t0))
    finally:
        shutil.rmtree(work, ignore_errors=True)


def best_time(command, cwd, repeats=3):
    """The shortest wall time of `repeats` runs of command, and the "ticks" of its JSON line."""
    best, ticks = None, None
    for _ in range(repeats):
        began = time.perf_counter()
        done = subprocess.run(command, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        took = time.perf_counter() - began
        try:
            ticks = json.loads(done.stdout.strip().splitlines()[-1])["ticks"]
        except (IndexError, ValueError, KeyError) as e:
            raise RuntimeError(f"{' '.join(command)} gave no ticks (status {done.returncode}): {e}: "
                               f"{done.stdout[-200:]} {done.stderr[-200:]}")
        best = took if best is None else min(best, took)
    return best, ticks


def measure_verify(program, verify_js, golden):
    """Ticks a second of each check over all golden replays (sum of ticks over sum of best times), and
    the per-replay figures."""
    replays = sorted(os.path.join(golden, n) for n in os.listdir(golden) if n.endswith(".replay"))
    if not replays:
        raise RuntimeError(f"no golden replays in {golden}")
    cwd = os.path.dirname(program)
    rows = []
    for replay in replays:
        native, ticks = best_time([program, "--verify-replay", replay], cwd)
        web, web_ticks = best_time(["node", verify_js, replay], cwd)
        if web_ticks != ticks:
            raise RuntimeError(f"{replay}: {ticks} ticks natively, {web_ticks} in pellorin-verify.js")
        rows.append((os.path.basename(replay), ticks, native, web))
    total = sum(r[1] for r in rows)
    return total / sum(r[3] for r in rows), total / sum(r[2] for r in rows), rows


def best_exit_time(command, cwd, repeats=3):
    """The shortest wall time of `repeats` runs of a command that is expected to fail at once."""
    best = None
    for _ in range(repeats):
        began = time.perf_counter()
        subprocess.run(command, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        took = time.perf_counter() - began
        best = took if best is None else min(best, took)
    return best


def measure_size(site):
    """Bytes of the bundle as served compressed: gzip -9 of each file, those already gzip as they are."""
    total, rows = 0, []
    for name in sorted(os.listdir(site)):
        path = os.path.join(site, name)
        if not os.path.isfile(path):
            continue
        if name.endswith(".gz"):
            size = os.path.getsize(path)
        else:
            with open(path, "rb") as f:
                size = len(subprocess.run(["gzip", "-9", "-c"], stdin=f, stdout=subprocess.PIPE, check=True).stdout)
        rows.append((name, os.path.getsize(path), size))
        total += size
    return total, rows


# When each step of a start ended, in milliseconds from navigation start: the page, each file it
# fetched, and the first frame.
START_STEPS = """(() => {
  const steps = [['index.html', performance.getEntriesByType('navigation')[0].responseEnd]];
  for (const r of performance.getEntriesByType('resource')) steps.push([r.name.split('/').pop(), r.responseEnd]);
  steps.push(['first frame', window.__frameTimes[0]]);
  return steps;
})()"""


def measure_start(site, log, runs):
    """For each run, with a new browser and profile: the steps of START_STEPS, the first frame last."""
    times = []
    for _ in range(runs):
        browser = Browser(log)
        try:
            tab = browser.tab(WATCH_FRAMES)
            tab.open(site.url)
            wait_until(tab, "window.__frameTimes.length > 0", 60, "the page presented no frame")
            times.append(tab.evaluate(START_STEPS))
        finally:
            browser.close()
    return times


def verdict(met):
    return "met" if met else "MISSED"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--only", default="raf,play,verify,size,start")
    parser.add_argument("--seconds", type=float, default=30)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--site", default=os.path.join(ROOT, "build-web", "site"))
    parser.add_argument("--verify-js", default=os.path.join(ROOT, "build-web", "verify", "pellorin-verify.js"))
    parser.add_argument("--program", default=os.path.join(ROOT, "build", "run", "pellorin"))
    parser.add_argument("--golden", default=os.path.join(ROOT, "tests", "golden"))
    parser.add_argument("--keep", help="a folder for Chromium's log (and the play's CPU profile)")
    parser.add_argument("--profile", action="store_true", help="also write a CPU profile of the page's play to --keep")
    args = parser.parse_args()
    only = set(args.only.split(","))
    program = os.path.realpath(args.program)
    for path, what, used_by in ((os.path.join(args.site, "index.html"), "the page (scripts/build-web.sh)",
                                 {"play", "size", "start"}),
                                (args.verify_js, "pellorin-verify.js (scripts/build-web.sh)", {"verify"}),
                                (program, "the native game (cmake --build build --target pellorin)",
                                 {"play", "verify"})):
        if only & used_by and not os.path.isfile(path):
            sys.exit(f"web bench: {path} is missing: {what}")
    keep = args.keep or tempfile.mkdtemp(prefix="pellorin-bench-log-")
    os.makedirs(keep, exist_ok=True)
    log = open(os.path.join(keep, "chromium.log"), "w")
    site = Site(args.site) if only & {"play", "start"} else None
    s = args.seconds
    try:
        raf = None
        if "raf" in only or "play" in only:
            raf, raf_longest, _ = measure_raf(log, min(s, 10))
            print(f"raf:     an empty page's animation frames {raf:.1f}/s, longest {raf_longest:.1f} ms "
                  f"(headless Chromium --disable-gpu; the floor of the page's rate)", flush=True)
        if "play" in only:
            profile_to = os.path.join(keep, "play.cpuprofile") if args.profile else None
            (fps, longest, slow), shares = measure_page_play(site, log, s, profile_to)
            page_cpu = sum(shares.values())
            native_cpu = measure_native_play(program, s)
            print(f"fps:     {fps:.1f} frames/s over {s:.0f} s of play, longest frame {longest:.1f} ms, "
                  f"{slow} over 25 ms; peer: empty page {raf:.1f}/s, longest {raf_longest:.1f} ms; goal: a steady 60, none over 25 ms: "
                  f"{verdict(fps >= 59 and longest <= 25)}", flush=True)
            print(f"cpu:     Chromium's processes {page_cpu:.1f}% of one core over the same {s:.0f} s; "
                  f"peer: the native game under Xvfb {native_cpu:.1f}% ({page_cpu / native_cpu:.1f}x); "
                  f"goal: at most 2x: {verdict(page_cpu <= 2 * native_cpu)}", flush=True)
            detail = ", ".join(f"{kind} {share:.1f}%" for kind, share in sorted(shares.items(), key=lambda i: -i[1]))
            print(f"         ({detail})", flush=True)
        if "verify" in only:
            web, native, rows = measure_verify(program, args.verify_js, args.golden)
            detail = ", ".join(f"{n} {t} ticks {t / w:,.0f}/s vs {t / p:,.0f}/s" for n, t, p, w in rows)
            print(f"verify:  pellorin-verify.js {web:,.0f} ticks/s over the golden replays (best of 3 each); "
                  f"peer: pellorin --verify-replay {native:,.0f} ticks/s ({web / native:.2f}x); "
                  f"goal: at least 0.5x: {verdict(web >= native / 2)}", flush=True)
            print(f"         ({detail})", flush=True)
            # What a check costs before its first tick: the program's start up to refusing a missing replay.
            cwd, missing = os.path.dirname(program), os.path.join(tempfile.gettempdir(), "pellorin-bench-missing.replay")
            node = best_exit_time(["node", args.verify_js, missing], cwd)
            native_start = best_exit_time([program, "--verify-replay", missing], cwd)
            print(f"         (a missing replay refused in {node * 1000:.0f} ms by pellorin-verify.js, "
                  f"{native_start * 1000:.0f} ms natively)", flush=True)
        if "size" in only:
            total, rows = measure_size(args.site)
            detail = ", ".join(f"{n} {raw:,} -> {z:,}" for n, raw, z in rows)
            print(f"size:    {total / 1e6:.2f} MB compressed (gzip -9, game-data.gz as it is); "
                  f"goal: at most 4 MB: {verdict(total <= 4e6)}", flush=True)
            print(f"         ({detail})", flush=True)
        if "start" in only:
            runs = measure_start(site, log, args.runs)
            runs.sort(key=lambda steps: steps[-1][1])
            times = [steps[-1][1] for steps in runs]
            best, median = times[0], statistics.median(times)
            print(f"start:   cold start to the menu's first frame over 127.0.0.1: best {best:.0f} ms, "
                  f"median {median:.0f} ms of {len(times)} ({', '.join(f'{t:.0f}' for t in times)}); "
                  f"goal: under 1500 ms: {verdict(median < 1500)}", flush=True)
            detail = ", ".join(f"{name} {at:.0f}" for name, at in runs[len(runs) // 2])
            print(f"         (the median start, ms from navigation start to the end of each step: {detail})", flush=True)
    except (RuntimeError, TimeoutError, EOFError, subprocess.SubprocessError) as e:
        sys.exit(f"web bench: could not measure: {e}")
    finally:
        if site:
            site.close()
        log.close()
        if not args.keep:
            shutil.rmtree(keep, ignore_errors=True)


if __name__ == "__main__":
    main()
