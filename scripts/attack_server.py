"""The attacks pellorin-server is held against, run on loopback; started by scripts/attack-server.sh.

Each case prints one line: the case, what is expected, what happened, PASS, FAIL or SKIP. The exit
status is 0 only when no case failed.
"""

import argparse
import glob
import http.client
import os
import pwd
import re
import shutil
import signal
import socket
import sqlite3
import subprocess
import sys
import tempfile
import threading
import time

# The checks' address space is left unlimited: a game built with AddressSanitizer (the sanitizer build's
# verifier) cannot start under a limit, and the limit is not what these cases attack.
NO_MEMORY_LIMIT = ["--verify-memory", "0"]

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import attack_replays as craft  # noqa: E402

SCRIPT = "/cgi/version.pl"
TABLE = SCRIPT + "?prg=Pellorin&show&type=0&format=json"
SYMBOLS = "ABCDEFGHJKLMNPQRSTUVWXY123456789"
KEY = "P"
VERIFIED, REFUSED = 2, 3
HONEST, ATTACKER, THIEF = "127.0.0.1", "127.0.0.2", "127.0.0.3"

results = []


def report(case, expected, happened, ok):
    verdict = {True: "PASS", False: "FAIL", None: "SKIP"}[ok]
    results.append(verdict)
    print("%-24s | expected: %s | happened: %s | %s" % (case, expected, happened, verdict), flush=True)


def result_symbols(name, score, token):
    text = "type=0|name=%s|score=%d|key=%s|p=%s|add=|z=" % (name, score, KEY, token)
    text += "0" * ((5 - len(text) % 5) % 5)
    bits = "".join(format(b, "08b") for b in text.encode())
    bits = "0" * ((5 - len(bits) % 5) % 5) + bits
    return "".join(SYMBOLS[int(bits[i : i + 5], 2)] for i in range(0, len(bits), 5))


class Client:
    """Speaks as the game does, from one loopback address, keeping the session cookie."""

    def __init__(self, port, address=HONEST):
        self.port, self.address, self.cookie = port, address, None

    def request(self, method, path, body=None, timeout=30):
        c = http.client.HTTPConnection("127.0.0.1", self.port, timeout=timeout, source_address=(self.address, 0))
        headers = {"Cookie": self.cookie} if self.cookie else {}
        if body is not None:
            headers["Content-Type"] = "application/octet-stream"
        try:
            c.request(method, path, body=body, headers=headers)
            r = c.getresponse()
            data = r.read()
            cookie = r.getheader("Set-Cookie")
            if cookie:
                self.cookie = cookie.split(";")[0]
            return r.status, data
        finally:
            c.close()

    def get(self, path, **kw):
        return self.request("GET", path, **kw)

    def handshake(self):
        status, body = self.get(SCRIPT + "?version&prg=Pellorin")
        return body.decode().split("|")[4] if status == 200 else None

    def challenge(self):
        status, body = self.get(SCRIPT + "?challenge&prg=Pellorin")
        fields = body.decode().split("|")
        return fields[4], int(fields[5])

    def submit(self, name, score, challenge=None, token=None):
        """The result; the reply's status and text."""
        token = token or self.handshake()
        path = SCRIPT + "?hs&prg=Pellorin&inf=" + result_symbols(name, score, token)
        if challenge:
            path += "&challenge=" + challenge
        status, body = self.get(path)
        return status, body.decode()

    def upload(self, ticket, replay):
        status, body = self.request("POST", "/cgi/replay?ticket=" + ticket, body=replay)
        return status, body.decode(errors="replace")


class Table:
    """The server's SQLite file, through the sqlite3 shell when there is one, else Python's module."""

    def __init__(self, path):
        self.path = path
        self.shell = shutil.which("sqlite3")
        self.planted = 0

    def query(self, sql):
        if self.shell:
            out = subprocess.run(
                [self.shell, "-cmd", ".timeout 5000", "-separator", "\x1f", self.path, sql],
                capture_output=True, text=True, check=True).stdout
            return [line.split("\x1f") for line in out.splitlines()]
        with sqlite3.connect(self.path, timeout=5) as db:
            return [[str(v) for v in row] for row in db.execute(sql)]

    def plant(self, seed):
        """A challenge with seed, as if the server had handed it out; its id."""
        self.planted += 1
        cid = "%024x%08x" % (0xA77AC4, self.planted)
        self.query("INSERT INTO challenges (id, seed, address, issued) VALUES ('%s', %d, 'planted', %d)"
                   % (cid, seed, int(time.time())))
        return cid

    def entry(self, name):
        return int(self.query("SELECT id FROM scores WHERE name = '%s'" % name)[0][0])

    def state(self, entry):
        state = int(self.query("SELECT state FROM replays WHERE entry = %d" % entry)[0][0])
        reason = self.query("SELECT reason FROM replays WHERE entry = %d" % entry)
        return state, (reason[0][0] if reason and reason[0] else "")

    def verdict(self, entry, within=60.0):
        """Waits for entry's verdict; (state, reason, seconds waited)."""
        start = time.monotonic()
        while True:
            state, reason = self.state(entry)
            if state in (VERIFIED, REFUSED) or time.monotonic() - start > within:
                return state, reason, time.monotonic() - start
            time.sleep(0.02)


class Server:
    def __init__(self, program, folder, args):
        self.log = []
        self.process = subprocess.Popen([program, "--listen", "127.0.0.1:0", "--key", KEY] + args, cwd=folder,
                                        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.PIPE, text=True)
        first = self.process.stderr.readline()
        m = re.search(r"listening on http://127\.0\.0\.1:(\d+)", first)
        if not m:
            self.process.kill()
            raise RuntimeError("the server did not start: " + first + self.process.stderr.read())
        self.port = int(m.group(1))
        threading.Thread(target=self._drain, daemon=True).start()

    def _drain(self):
        for line in self.process.stderr:
            self.log.append(line)

    def stop(self):
        """SIGTERM; the exit status and the seconds it took."""
        start = time.monotonic()
        self.process.send_signal(signal.SIGTERM)
        try:
            status = self.process.wait(10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            status = self.process.wait()
        return status, time.monotonic() - start


def read_golden(golden, name):
    with open(os.path.join(golden, name + ".replay"), "rb") as f:
        data = f.read()
    return data, craft.decode(data)


def refused_case(case, client, table, name, score, seed, replay, reason_pattern, expected):
    """An entry from a challenge with seed, sent replay: refused, with a reason matching the pattern."""
    status, body = client.submit(name, score, table.plant(seed) if seed is not None else None)
    if not body.startswith("OK|"):
        report(case, expected, "the result got %d %s" % (status, body), False)
        return None
    up = client.upload(body[3:], replay)
    state, reason, took = table.verdict(table.entry(name))
    happened = "upload %d, state %d: %s" % (up[0], state, reason)
    report(case, expected, happened, state == REFUSED and re.search(reason_pattern, reason) is not None)
    return took


def honest_case(case, client, table, data, replay, name):
    status, body = client.submit(name, replay.score, table.plant(replay.seed))
    up = client.upload(body[3:], data) if body.startswith("OK|") else (status, body)
    state, reason, took = table.verdict(table.entry(name))
    report(case, "verified", "upload %d, state %d %s(%.2f s)" % (up[0], state, reason + " " if reason else "", took),
           state == VERIFIED)
    return state == VERIFIED


def replays_cases(args, work):
    """Cases 1 to 6, on a server with the real game as its verifier."""
    folder = os.path.join(work, "replays")
    os.mkdir(folder)
    server = Server(args.server, folder, ["--db", "scores.db", "--max-per-minute", "0", "--verifier", args.game,
                                          *NO_MEMORY_LIMIT])
    try:
        table = Table(os.path.join(folder, "scores.db"))
        honest = Client(server.port)
        rules_data, rules = read_golden(args.golden, "plays-every-rule")
        honest_case("honest game (before)", honest, table, rules_data, rules, "Honest")
        entry = table.entry("Honest")
        seed_refused = r"does not start from the seed this server gave"

        # 1: the replay downloaded from the table, sent under another entry with its own challenge.
        status, stolen = Client(server.port, THIEF).get("/cgi/replay?id=%d" % entry)
        thief = Client(server.port, THIEF)
        cid, _ = thief.challenge()
        status, body = thief.submit("Thief", rules.score, cid)
        up = thief.upload(body[3:], stolen) if body.startswith("OK|") else (status, body)
        state, reason, _ = table.verdict(table.entry("Thief"))
        report("1 theft", "refused: not from this entry's seed",
               "download %d (%d bytes, %s), upload %d, state %d: %s" % (
                   status, len(stolen), "the golden game" if stolen == rules_data else "other bytes", up[0],
                   state, reason),
               state == REFUSED and re.search(seed_refused, reason) is not None)

        # 2: the same game in other bytes.
        variant = craft.pause_and_resume(craft.decode(stolen))
        cid, _ = thief.challenge()
        status, body = thief.submit("Variant", rules.score, cid)
        up = thief.upload(body[3:], variant) if body.startswith("OK|") else (status, body)
        state, reason, _ = table.verdict(table.entry("Variant"))
        report("2 byte variant", "refused: not from this entry's seed",
               "upload %d, state %d: %s" % (up[0], state, reason),
               state == REFUSED and re.search(seed_refused, reason) is not None)

        cut, cut_score = craft.cut(rules)
        refused_case("3 cut game", honest, table, "Cutter", cut_score, rules.seed, cut,
                     r"with the game in play", "refused: stops in play")
        refused_case("4 impossible start", honest, table, "Bonus", rules.score, rules.seed,
                     craft.impossible_start(rules), r"does not start as a new program's game",
                     "refused: not a new game's start")
        refused_case("5 phase-less commands", honest, table, "NoQuestion", rules.score, rules.seed,
                     craft.phase_less_no(rules), r"cancel the exit question.*does not offer it",
                     "refused: command out of its phase")
        day = craft.day_long_pause(rules.seed)
        took = refused_case("6 day-long pause", honest, table, "DayPause", 0, rules.seed, day,
                            r"no checkpoint at tick 600",
                            "refused (%d bytes), verdict within 2 s" % len(day))
        if took is not None:
            report("6 day-long pause (cost)", "verdict within 2 s of the upload", "%.2f s" % took, took <= 2.0)

        loses_data, loses = read_golden(args.golden, "loses-every-life")
        honest_case("honest game (after)", honest, table, loses_data, loses, "Honest2")
    finally:
        server.stop()


class SlowUpload:
    """A replay's POST announcing body bytes, then sending one byte a second."""

    def __init__(self, port, address, ticket, length):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=5, source_address=(address, 0))
        self.sock.sendall(("POST /cgi/replay?ticket=%s HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                           "Content-Type: application/octet-stream\r\nContent-Length: %d\r\n\r\n"
                           % (ticket, length)).encode())
        self.sock.setblocking(False)
        self.answer = b""
        self.closed = False

    def tick(self):
        """Sends its next byte and reads whatever came back."""
        if self.closed:
            return
        try:
            data = self.sock.recv(4096)
            if data:
                self.answer += data
            else:
                self.closed = True
                return
        except BlockingIOError:
            pass
        except OSError:
            self.closed = True
            return
        if not self.answer:
            try:
                self.sock.send(b"\0")
            except OSError:
                self.closed = True

    def holds(self):
        return not self.closed and not self.answer

    def close(self):
        self.sock.close()


def load_cases(args, work):
    """Cases 7 and 8 together: 32 slow uploads and 8 expensive replays from one address."""
    folder = os.path.join(work, "load")
    os.mkdir(folder)
    long_game = os.path.join(args.golden, "takes-the-grounds-shots.replay")
    # The real game gives every verdict; the longest golden game's check is made to last --long-check
    # seconds more, standing in for a longer game: its real check costs some 0.15 s of CPU, so that eight
    # of them ahead of an honest game could delay it by less than 2 s even served in the order they came.
    verifier = os.path.join(folder, "verifier")
    with open(verifier, "w") as f:
        f.write("#!/bin/sh\n"
                "for file; do :; done\n"
                "'%s' \"$@\"\nstatus=$?\n"
                "/usr/bin/cmp -s \"$file\" '%s' && /bin/sleep %s\n"
                "exit $status\n" % (args.game, long_game, args.long_check))
    os.chmod(verifier, 0o755)

    def check_time(replay):
        start = time.monotonic()
        subprocess.run([verifier, "--verify-replay", replay], cwd=folder, capture_output=True)
        return time.monotonic() - start

    long_took = check_time(long_game)
    honest_took = check_time(os.path.join(args.golden, "loses-every-life.replay"))
    server = Server(args.server, folder, ["--db", "scores.db", "--max-per-minute", "0", "--verifier", verifier,
                                          *NO_MEMORY_LIMIT])
    slow = []
    try:
        table = Table(os.path.join(folder, "scores.db"))
        long_data, long_replay = read_golden(args.golden, "takes-the-grounds-shots")
        attacker = Client(server.port, ATTACKER)
        expensive = []
        for i in range(8):
            status, body = attacker.submit("Long%d" % i, long_replay.score, table.plant(long_replay.seed))
            expensive.append(body[3:])
        slow_tickets = []
        for i in range(32):
            status, body = attacker.submit("Slow%d" % i, 1, table.plant(1))
            slow_tickets.append(body[3:])
        honest = Client(server.port, HONEST)
        games = []
        for name in ("loses-every-life", "exit-question", "plays-every-rule"):
            data, replay = read_golden(args.golden, name)
            status, body = honest.submit("H" + name[:9].replace("-", ""), replay.score, table.plant(replay.seed))
            games.append((name, data, body[3:], "H" + name[:9].replace("-", "")))

        queued = [attacker.upload(t, long_data)[0] for t in expensive]
        slow = [SlowUpload(server.port, ATTACKER, t, 1 << 20) for t in slow_tickets]
        stop = threading.Event()

        def trickle():
            while not stop.is_set():
                for s in slow:
                    s.tick()
                stop.wait(1.0)

        trickler = threading.Thread(target=trickle, daemon=True)
        trickler.start()
        time.sleep(0.5)

        # The honest game whose verdict is timed, then the others.
        name, data, ticket, entry_name = games[0]
        sent = time.monotonic()
        first = honest.upload(ticket, data)
        uploaded = time.monotonic()
        state, reason, _ = table.verdict(table.entry(entry_name))
        delay = time.monotonic() - uploaded
        held_then = sum(s.holds() for s in slow)
        others = [honest.upload(t, d)[0] for _, d, t, _ in games[1:]]
        held_after = sum(s.holds() for s in slow)
        refused_at_once = sum(s.answer.startswith(b"HTTP/1.1 503") for s in slow)
        long_left = sum(1 for t in range(8) if table.state(table.entry("Long%d" % t))[0] != VERIFIED)
        stop.set()
        trickler.join()

        statuses = [first[0]] + others
        report("7 starved uploads", "honest uploads from another address 200 while slow ones hold",
               "honest uploads %s in %.2f s for the first; of 32 slow uploads %d held throughout, %d answered "
               "503 at once" % ("/".join(map(str, statuses)), uploaded - sent, held_after, refused_at_once),
               statuses == [200] * len(statuses) and held_then > 0 and held_after > 0)
        # What the long checks ahead of it cost the honest game: its verdict's wait less its own check's
        # time, run alone just before (on a loaded machine that alone is most of a second).
        extra = delay - honest_took
        report("8 flooded check queue", "honest verdict at most 2 s later than its own check takes",
               "8 long replays uploaded (%s), %d of them not yet verified at the honest verdict; honest game "
               "(%s) state %d %s%.2f s after its upload, %.2f s more than its check alone" % (
                   "/".join(map(str, queued)), long_left, name, state, reason + " " if reason else "", delay,
                   extra),
               state == VERIFIED and extra <= 2.0 and queued == [200] * 8)
        print("MEASURED honest verdict %.2f s after its upload; run alone, its check takes %.2f s and one long "
              "check (the real game and %s s) %.2f s, so eight checked in the order they came would have "
              "held it some %.1f s" % (delay, honest_took, args.long_check, long_took, 8 * long_took + honest_took),
              flush=True)
        for _, _, _, n in games[1:]:
            s, r, _ = table.verdict(table.entry(n))
            if s != VERIFIED:
                report("7 starved uploads (%s)" % n, "verified", "state %d %s" % (s, r), False)
    finally:
        for s in slow:
            s.close()
        server.stop()


def pg_bin():
    found = glob.glob("/usr/lib/postgresql/*/bin/pg_ctl")
    found.sort(key=lambda p: int(p.split("/")[4]) if p.split("/")[4].isdigit() else 0)
    return os.path.dirname(found[-1]) if found else None


def freeze(data, frozen):
    """SIGSTOP (or SIGCONT) for the postmaster and its children."""
    with open(os.path.join(data, "postmaster.pid")) as f:
        postmaster = int(f.readline())
    sig = signal.SIGSTOP if frozen else signal.SIGCONT
    os.kill(postmaster, sig)
    count = 1
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open("/proc/%s/stat" % pid) as f:
                stat = f.read()
        except OSError:
            continue
        if int(stat[stat.rfind(")") + 1 :].split()[1]) == postmaster:
            os.kill(int(pid), sig)
            count += 1
    return count


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def database_case(args, work):
    """Case 9: a PostgreSQL cluster of its own, stopped with SIGSTOP under a running server."""
    case = "9 hung database"
    expected = "home and kept table < 100 ms, result 503 within %d s, SIGTERM stop < 2 s" % args.statement_timeout
    bin_folder = pg_bin()
    if not bin_folder:
        report(case, expected, "no PostgreSQL server programs in /usr/lib/postgresql/*/bin", None)
        return
    folder = tempfile.mkdtemp(prefix="pellorin-attack-pg.")
    run_as = []
    if os.geteuid() == 0:
        user = "postgres"
        try:
            pwd.getpwnam(user)
        except KeyError:
            user = "nobody"
        os.chown(folder, pwd.getpwnam(user).pw_uid, pwd.getpwnam(user).pw_gid)
        run_as = ["runuser", "-u", user, "--"]
    data = os.path.join(folder, "data")
    port = free_port()
    started = False
    server = None
    try:
        subprocess.run(run_as + [bin_folder + "/initdb", "-D", data, "-U", "pellorin", "--auth=trust", "-E", "UTF8",
                                 "--no-sync", "--no-instructions"], check=True, capture_output=True)
        subprocess.run(run_as + [bin_folder + "/pg_ctl", "-D", data, "-l", folder + "/server.log", "-w", "-o",
                                 "-p %d -k %s -h 127.0.0.1 -c fsync=off" % (port, folder), "start"],
                       check=True, capture_output=True)
        started = True
        subprocess.run([bin_folder + "/createdb", "-h", "127.0.0.1", "-p", str(port), "-U", "pellorin", "scores"],
                       check=True, capture_output=True)
        uri = "postgresql://pellorin@127.0.0.1:%d/scores" % port
        server = Server(args.server, work, ["--db", uri, "--max-per-minute", "0", "--verifier", args.game,
                                            *NO_MEMORY_LIMIT,
                                            "--db-connect-timeout", "1",
                                            "--db-statement-timeout", str(args.statement_timeout),
                                            "--table-cache", "30"])
        game = Client(server.port)
        before = game.submit("Before", 777)
        status, page = game.get(TABLE)
        token = game.handshake()
        if not before[1].startswith("OK") or status != 200 or b'"Before"' not in page or not token:
            report(case, expected, "the server did not work before: %s, table %d" % (before, status), False)
            return
        freeze(data, True)
        try:
            def timed(f):
                start = time.monotonic()
                value = f()
                return value, time.monotonic() - start

            home, t_home = timed(lambda: game.get("/", timeout=10))
            kept, t_kept = timed(lambda: game.get(TABLE, timeout=10))
            result, t_result = timed(lambda: game.submit("During", 777, token=token))
            # Past the second the server remembers the failure, a request waits on the database again:
            # SIGTERM must not wait for it.
            time.sleep(1.2)
            waiting = threading.Thread(target=lambda: Client(server.port).get(SCRIPT + "?version&prg=Pellorin",
                                                                              timeout=10))
            waiting.start()
            time.sleep(0.2)
            code, t_stop = server.stop()
            waiting.join()
        finally:
            freeze(data, False)
        ok = (home[0] == 200 and t_home < 0.1 and kept[0] == 200 and kept[1] == page and t_kept < 0.1
              and result[0] == 503 and t_result <= args.statement_timeout + 0.5 and code == 0 and t_stop < 2.0)
        report(case, expected,
               "home %d in %.0f ms, kept table %d%s in %.0f ms, result %d in %.2f s, SIGTERM: exit %d in %.2f s"
               % (home[0], t_home * 1000, kept[0], "" if kept[1] == page else " (another page)", t_kept * 1000,
                  result[0], t_result, code, t_stop), ok)
    except (subprocess.CalledProcessError, RuntimeError, OSError) as error:
        detail = getattr(error, "stderr", b"") or b""
        report(case, expected, "could not run: %s %s" % (error, detail.decode(errors="replace")[-300:]), False)
    finally:
        if server and server.process.poll() is None:
            server.process.kill()
            server.process.wait()
        if started:
            subprocess.run(run_as + [bin_folder + "/pg_ctl", "-D", data, "-m", "immediate", "-w", "stop"],
                           capture_output=True)
        shutil.rmtree(folder, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--server", required=True)
    parser.add_argument("--game", required=True)
    parser.add_argument("--golden", required=True)
    parser.add_argument("--long-check", default="0.25", help="seconds a long game's check is made to last more")
    parser.add_argument("--statement-timeout", type=int, default=2)
    args = parser.parse_args()
    work = tempfile.mkdtemp(prefix="pellorin-attack.")
    try:
        for cases in (replays_cases, load_cases, database_case):
            try:
                cases(args, work)
            except Exception as error:  # a case that breaks is a failure, and the others still run
                report(cases.__name__, "the cases run", "%s: %s" % (type(error).__name__, error), False)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    failed = results.count("FAIL")
    print("%d PASS, %d FAIL, %d SKIP" % (results.count("PASS"), failed, results.count("SKIP")))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
