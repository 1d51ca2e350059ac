#!/usr/bin/env python3
"""nginx in front of the real pellorin-server, configured with the very text of docs/server.md.

Each nginx example of *Behind a reverse proxy with HTTPS* and of the deployment on PostgreSQL (the
indented blocks that proxy_pass) is taken from the document; only what names this machine changes: the
listen port, the server's address, and the certificate (a self-signed one made here; the balancer's
example only points to the first one's certificate lines, which are put in). Debian's nginx runs it
as a process of the test's own, with its own prefix in a temporary folder, on loopback, in front of a
real server with --trust-proxy checking replays with the game's program. Through it, over HTTPS: a game
from a planted challenge sends its result and uploads its replay (200 "OK", verified, downloaded as
sent), and a body of --max-replay-bytes reaches the server (nginx's own 413 would stop it).

    nginx_test.py SERVER_PROGRAM GAME_PROGRAM DOC REPLAY SCORE SEED

Exits 77 (skipped) when nginx is not installed.
"""
import http.cookiejar
import json
import os
import re
import shutil
import socket
import sqlite3
import ssl
import subprocess
import sys
import tempfile
import time
import urllib.error
import urllib.request

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "install"))
import score_client  # noqa: E402

SKIPPED = 77
MAX_REPLAY_BYTES = 1048576  # the server's default --max-replay-bytes
CERTIFICATE = re.compile(r"/etc/letsencrypt/live/scores\.example\.org/(fullchain|privkey)\.pem")

failures = []


def fail(what):
    failures.append(what)
    print(f"nginx test: {what}", file=sys.stderr)


def documented_configurations(doc):
    """The indented code blocks of doc that configure nginx to proxy_pass: (first line, text)."""
    blocks, current = [], []
    for line in open(doc, encoding="utf-8").read().split("\n") + [""]:
        if line.startswith("    ") or (current and line == ""):
            current.append(line[4:])
            continue
        text = "\n".join(current).strip("\n")
        if "proxy_pass" in text and re.match(r"(server|upstream)\b", text):
            blocks.append(text)
        current = []
    return blocks


def substitute(text, listen_port, server_address, certificate, key):
    """The configuration for this machine; fails when the document no longer says what is replaced."""
    replacements = [
        (r"listen 443 ssl", f"listen 127.0.0.1:{listen_port} ssl"),
        (r"(127\.0\.0\.1|app[12]\.internal):8080", server_address),
        (r"# ssl_certificate \.\.\. as for one server",
         f"ssl_certificate {certificate};\n        ssl_certificate_key {key};"),
    ]
    for pattern, replacement in replacements:
        text = re.sub(pattern, replacement, text)
    text = CERTIFICATE.sub(lambda m: certificate if m.group(1) == "fullchain" else key, text)
    for needed in (f"listen 127.0.0.1:{listen_port} ssl", f"{certificate};", f"{key};", server_address):
        if needed not in text:
            raise SystemExit(f"nginx test: the documented configuration no longer has what the test "
                             f"replaces ({needed}):\n{text}")
    return text


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for(condition, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(0.05)
    return False


def start_server(program, game, folder):
    log = open(os.path.join(folder, "server.log"), "w+")
    server = subprocess.Popen([program, "--listen", "127.0.0.1:0", "--db", os.path.join(folder, "scores.db"),
                               "--key", "P", "--trust-proxy", "--verifier", game,
                               # unlimited: a sanitizer build's game cannot start under a limit
                               "--verify-memory", "0"],
                              cwd=folder, stdin=subprocess.DEVNULL, stdout=log, stderr=log)

    def listening():
        log.seek(0)
        return "listening on http://" in log.readline() or server.poll() is not None

    wait_for(listening, 20)
    log.seek(0)
    first = log.readline()
    if "listening on http://" not in first:
        server.kill()
        raise SystemExit(f"nginx test: the server did not start: {first}{log.read()}")
    return server, log, first.split("listening on http://")[1].split(",")[0].strip()


def start_nginx(nginx, folder, block, port):
    """nginx with block in an http section of its own; unprivileged: as nobody when the test is root."""
    for temp in ("body", "proxy", "fastcgi", "uwsgi", "scgi"):
        os.makedirs(os.path.join(folder, temp), exist_ok=True)
    with open(os.path.join(folder, "nginx.conf"), "w") as conf:
        conf.write(f"""daemon off;
worker_processes 1;
pid {folder}/nginx.pid;
error_log {folder}/error.log info;
events {{ worker_connections 64; }}
http {{
    access_log {folder}/access.log;
    client_body_temp_path {folder}/body;
    proxy_temp_path {folder}/proxy;
    fastcgi_temp_path {folder}/fastcgi;
    uwsgi_temp_path {folder}/uwsgi;
    scgi_temp_path {folder}/scgi;
{block}
}}
""")
    drop = None
    if os.geteuid() == 0:
        os.chmod(os.path.dirname(folder), 0o711)  # nginx passes through the test's folder to its own
        for root, dirs, files in os.walk(folder):
            for name in [root] + [os.path.join(root, n) for n in dirs + files]:
                os.chown(name, 65534, 65534)

        def drop():
            os.setgroups([])
            os.setgid(65534)
            os.setuid(65534)

    log = open(os.path.join(folder, "nginx.out"), "w+")
    process = subprocess.Popen([nginx, "-p", folder + "/", "-c", folder + "/nginx.conf", "-e",
                                folder + "/error.log"], stdin=subprocess.DEVNULL, stdout=log, stderr=log,
                               preexec_fn=drop)

    def accepting():
        if process.poll() is not None:
            return True
        with socket.socket() as s:
            return s.connect_ex(("127.0.0.1", port)) == 0

    wait_for(accepting, 20)
    if process.poll() is not None:
        log.seek(0)
        errors = open(os.path.join(folder, "error.log")).read() if os.path.exists(
            os.path.join(folder, "error.log")) else ""
        raise SystemExit(f"nginx test: nginx did not start:\n{log.read()}{errors}\n{block}")
    return process


class Player:
    """The game's requests over HTTPS through the proxy, its cookie kept, the certificate not checked."""

    def __init__(self, base):
        self.base = base
        context = ssl.create_default_context()
        context.check_hostname = False
        context.verify_mode = ssl.CERT_NONE
        self.opener = urllib.request.build_opener(urllib.request.ProxyHandler({}),
                                                  urllib.request.HTTPSHandler(context=context),
                                                  urllib.request.HTTPCookieProcessor(http.cookiejar.CookieJar()))

    def request(self, target, body=None):
        """(status, body bytes) of a GET, or of a POST of body."""
        request = urllib.request.Request(self.base + target, data=body, method="POST" if body is not None else "GET")
        if body is not None:
            request.add_header("Content-Type", "application/octet-stream")
        try:
            with self.opener.open(request, timeout=30) as reply:
                return reply.status, reply.read()
        except urllib.error.HTTPError as error:
            return error.code, error.read()

    def text(self, target):
        status, body = self.request(target)
        return status, body.decode("utf-8", "replace")


def plant_challenge(db, seed, n):
    """A challenge with seed in the server's table, as the server would have handed it out; its id."""
    challenge = f"{0xc4a11e:024x}{n:08x}"
    with sqlite3.connect(db, timeout=5) as connection:
        connection.execute("INSERT INTO challenges (id, seed, address, issued) VALUES (?, ?, 'planted', ?)",
                           (challenge, seed, int(time.time())))
    connection.close()
    return challenge


def play_through(player, db, replay, score, seed, entry, what):
    """A game from a planted challenge: its result, its replay's upload, the verdict, the download."""
    handshake = player.text(f"{score_client.SCRIPT}?version&prg=Pellorin")
    if handshake[0] != 200 or not handshake[1].startswith("OK"):
        return fail(f"{what}: the handshake through nginx got {handshake}")
    token = score_client.token_of(handshake[1])
    inf = score_client.encode(score_client.score_record(f"Proxy{entry}", "", score, "P", token))
    challenge = plant_challenge(db, seed, entry)
    result = player.text(f"{score_client.SCRIPT}?hs&prg=Pellorin&inf={inf}&challenge={challenge}")
    ticket = result[1].strip()[3:] if result[1].startswith("OK|") else ""
    if result[0] != 200 or len(ticket) != 32:
        return fail(f"{what}: the result through nginx got {result}, not OK with a ticket")
    upload = player.request(f"/cgi/replay?ticket={ticket}", replay)
    if upload != (200, b"OK"):
        return fail(f"{what}: the replay's upload ({len(replay)} bytes) through nginx got {upload[0]} "
                    f"{upload[1][:300]!r}, not 200 OK")

    def checked():
        table = json.loads(player.text(f"{score_client.SCRIPT}?prg=Pellorin&show&type=0&format=json")[1])
        mine = [e for e in table["entries"] if e["name"] == f"Proxy{entry}"]
        return bool(mine) and mine[0].get("status") in ("verified", "refused")

    wait_for(checked, 120)
    table = json.loads(player.text(f"{score_client.SCRIPT}?prg=Pellorin&show&type=0&format=json")[1])
    mine = [e for e in table["entries"] if e["name"] == f"Proxy{entry}"]
    if not mine or mine[0].get("status") != "verified" or mine[0].get("score") != score:
        return fail(f"{what}: the entry is not verified: {mine}")
    download = player.request(mine[0]["replay"])
    if download != (200, replay):
        fail(f"{what}: the replay downloaded through nginx ({download[0]}, {len(download[1])} bytes) "
             f"differs from the upload")


def main(args):
    if len(args) != 6:
        print(__doc__, file=sys.stderr)
        return 2
    program, game, doc, replay_file, score, seed = args
    nginx = shutil.which("nginx") or shutil.which("nginx", path="/usr/sbin:/sbin")
    if not nginx:
        print("nginx test: SKIPPED: nginx is not installed (scripts/setup.sh --test installs it)")
        return SKIPPED
    if not shutil.which("openssl"):
        raise SystemExit("nginx test: openssl, which makes the test's certificate, is not installed")
    blocks = documented_configurations(doc)
    starts = sorted(block.split()[0] for block in blocks)
    if starts != ["server", "upstream"]:
        raise SystemExit(f"nginx test: {doc} should have two nginx examples (one server, the balancer); "
                         f"found {len(blocks)}")
    replay = open(replay_file, "rb").read()
    work = tempfile.mkdtemp(prefix="pellorin-nginx-")
    server = None
    try:
        server, server_log, address = start_server(program, game, work)
        db = os.path.join(work, "scores.db")
        for n, block in enumerate(blocks, 1):
            what = "one server" if block.startswith("server") else "the balancer"
            folder = os.path.join(work, f"nginx{n}")
            os.makedirs(folder)
            certificate, key = os.path.join(folder, "cert.pem"), os.path.join(folder, "key.pem")
            subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
                            "/CN=scores.example.org", "-keyout", key, "-out", certificate],
                           check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            before = len(failures)
            port = free_port()
            proxy = start_nginx(nginx, folder, substitute(block, port, address, certificate, key), port)
            try:
                player = Player(f"https://127.0.0.1:{port}")
                play_through(player, db, replay, int(score), int(seed), n, what)
                # A replay as large as the server takes reaches the server, which refuses its made-up
                # ticket; nginx's own 413 would come first were its limit the smaller.
                status, body = player.request("/cgi/replay?ticket=" + "a" * 32, b"\0" * MAX_REPLAY_BYTES)
                if status != 403 or b"nginx" in body:
                    fail(f"{what}: a body of --max-replay-bytes through nginx got {status} {body[:200]!r}, "
                         f"not the server's 403")
            finally:
                proxy.terminate()
                proxy.wait(10)
            if len(failures) > before:
                print(f"nginx test: the configuration tried ({what}):\n{open(folder + '/nginx.conf').read()}",
                      file=sys.stderr)
        server_log.seek(0)
        if failures:
            print(server_log.read()[-4000:], file=sys.stderr)
    finally:
        if server:
            server.terminate()
            server.wait(10)
        shutil.rmtree(work, ignore_errors=True)
    if failures:
        return 1
    print(f"nginx test: both documented configurations pass a verified replay upload and "
          f"{MAX_REPLAY_BYTES}-byte bodies")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
