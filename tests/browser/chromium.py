"""Headless Chromium driven over its DevTools protocol (a pipe pair, no port): the browser tests' one
client. Chromium starts a browser; Tab is one page at one viewport, with what it logs kept."""
import base64
import json
import os
import select
import signal
import subprocess
import time


class Chromium:
    """Headless Chromium and its DevTools protocol over a pair of pipes (fd 3 in, fd 4 out)."""

    def __init__(self, profile, log):
        to_browser_r, to_browser_w = os.pipe()
        from_browser_r, from_browser_w = os.pipe()
        flags = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                 "--no-proxy-server", "--hide-scrollbars", "--remote-debugging-pipe", "--user-data-dir=" + profile]
        command = 'exec "$@" about:blank 3<&' + str(to_browser_r) + " 4>&" + str(from_browser_w)
        self.process = subprocess.Popen(["bash", "-c", command, "bash", "chromium"] + flags,
                                        pass_fds=(to_browser_r, from_browser_w), stdin=subprocess.DEVNULL,
                                        stdout=log, stderr=log, start_new_session=True)
        os.close(to_browser_r)
        os.close(from_browser_w)
        self.out = to_browser_w
        self.inp = from_browser_r
        self.buffer = b""
        self.next_id = 0
        self.events = []

    def _read_message(self, deadline):
        while b"\0" not in self.buffer:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self.inp], [], [], left)[0]:
                raise TimeoutError("Chromium did not answer in time")
            chunk = os.read(self.inp, 1 << 20)
            if not chunk:
                raise EOFError("Chromium closed its pipe")
            self.buffer += chunk
        message, self.buffer = self.buffer.split(b"\0", 1)
        return json.loads(message)

    def call(self, method, params=None, session=None, timeout=30):
        self.next_id += 1
        message = {"id": self.next_id, "method": method, "params": params or {}}
        if session:
            message["sessionId"] = session
        os.write(self.out, json.dumps(message).encode() + b"\0")
        deadline = time.monotonic() + timeout
        while True:
            reply = self._read_message(deadline)
            if reply.get("id") == self.next_id:
                if "error" in reply:
                    raise RuntimeError(f"{method}: {reply['error']}")
                return reply["result"]
            if "method" in reply:
                self.events.append(reply)

    def wait_for(self, method, session, timeout=30):
        deadline = time.monotonic() + timeout
        while True:
            for event in self.events:
                if event["method"] == method and event.get("sessionId") == session:
                    self.events.remove(event)
                    return event
            self.events.append(self._read_message(deadline))

    def evaluate(self, expression, session):
        result = self.call("Runtime.evaluate", {"expression": expression, "returnByValue": True}, session)
        if "exceptionDetails" in result:
            raise RuntimeError(f"{expression}: {result['exceptionDetails']}")
        return result["result"].get("value")

    def processes(self):
        """The pids of every process of this browser: those of its session (it starts one of its own)."""
        pids = []
        for name in os.listdir("/proc"):
            if not name.isdigit():
                continue
            try:
                with open(f"/proc/{name}/stat") as f:
                    fields = f.read().rsplit(")", 1)[1].split()
            except OSError:
                continue  # ended meanwhile
            if int(fields[3]) == self.process.pid:  # field 6, the session id
                pids.append(int(name))
        return pids

    def cpu_ticks(self):
        """The processor time, in clock ticks, that the browser's processes have used so far, by the
        kind of process ("browser", "renderer", "gpu-process", "utility", "zygote"...): user and system
        time of each, and of their children that have ended and been waited for."""
        kinds = {}
        for pid in self.processes():
            try:
                with open(f"/proc/{pid}/stat") as f:
                    fields = f.read().rsplit(")", 1)[1].split()
                with open(f"/proc/{pid}/cmdline", "rb") as f:
                    arguments = f.read().replace(b"\0", b" ").split()  # Chromium rewrites its title
            except OSError:
                continue  # ended meanwhile
            kind = next((a[7:].decode() for a in arguments if a.startswith(b"--type=")), "browser")
            kinds[kind] = kinds.get(kind, 0) + sum(int(v) for v in fields[11:15])  # utime, stime, cutime, cstime
        return kinds

    def close(self):
        try:
            self.call("Browser.close", timeout=10)
            self.process.wait(timeout=10)
        except Exception:
            pass
        if self.process.poll() is None:
            os.killpg(self.process.pid, signal.SIGKILL)
            self.process.wait()
        os.close(self.out)
        os.close(self.inp)


class Tab:
    """A fresh page in the browser at one viewport, watching for scripts and errors."""

    def __init__(self, browser, viewport):
        self.browser = browser
        name, width, height, scale, mobile = viewport
        target = browser.call("Target.createTarget", {"url": "about:blank"})["targetId"]
        self.target = target
        self.session = browser.call("Target.attachToTarget", {"targetId": target, "flatten": True})["sessionId"]
        browser.call("Emulation.setDeviceMetricsOverride",
                     {"width": width, "height": height, "deviceScaleFactor": scale, "mobile": mobile}, self.session)
        for domain in ("Page", "Runtime", "Debugger", "Log"):
            browser.call(domain + ".enable", session=self.session)

    def open(self, url):
        """Loads url; returns the scripts the page parsed, and the errors it raised and the security
        policy's refusals while loading."""
        self.browser.events = [e for e in self.browser.events if e.get("sessionId") != self.session]
        self.browser.call("Page.navigate", {"url": url}, self.session)
        self.browser.wait_for("Page.loadEventFired", self.session)
        # The page's own scripts carry its address; what Runtime.evaluate runs later has none.
        mine = [e for e in self.browser.events if e.get("sessionId") == self.session]
        scripts = [e["params"] for e in mine if e["method"] in ("Debugger.scriptParsed", "Debugger.scriptFailedToParse")
                   and e["params"].get("url")]
        errors = [e["params"] for e in mine if e["method"] == "Runtime.exceptionThrown"
                  or (e["method"] == "Log.entryAdded" and e["params"]["entry"].get("source") == "security")]
        return scripts, errors

    def evaluate(self, expression):
        return self.browser.evaluate(expression, self.session)

    def screenshot(self, path):
        size = self.browser.call("Page.getLayoutMetrics", session=self.session)["cssContentSize"]
        shot = self.browser.call("Page.captureScreenshot", {
            "format": "png", "captureBeyondViewport": True,
            "clip": {"x": 0, "y": 0, "width": size["width"], "height": size["height"], "scale": 1}}, self.session)
        with open(path, "wb") as f:
            f.write(base64.b64decode(shot["data"]))

    def close(self):
        self.browser.call("Target.closeTarget", {"targetId": self.target})
