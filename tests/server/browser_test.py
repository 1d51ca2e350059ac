#!/usr/bin/env python3
"""The server's home page and world table in a real browser: headless Chromium, driven over its
DevTools pipe, loads them from the real pellorin-server on a free loopback port, at a phone's width and
a desktop's. The table holds results sent the way the game sends them, the widest row the game can
send among them, and rows with markup in the name and country as an operator's hand or an older table
could leave them. Checked: nothing scrolls sideways on the phone; each name and country shows as the
very text stored; the markup makes no element and runs no script. The screenshots and the pages as
the browser built them are kept in OUTPUT_DIR.

    browser_test.py SERVER_PROGRAM KEY_LETTER OUTPUT_DIR
"""
import json
import os
import shutil
import signal
import sqlite3
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "install"))
import score_client  # noqa: E402

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "browser"))
from chromium import Chromium, Tab  # noqa: E402

TABLE_PATH = "/cgi/version.pl?prg=Pellorin&show&type=0"
VIEWPORTS = [  # name, width, height, device pixel ratio, mobile
    ("phone", 390, 844, 2, True),
    ("desktop", 1280, 800, 1, False),
]
# Sent through the game's protocol: (name, country, score). The first is as wide as a row can be.
SUBMITTED = [
    ("WWWWWWWWWW", "WWWWWWWWWW", 65535),
    ("Anna", "Norway", 23100),
    ("Bo 2", "", 990),
]
# Stored by hand: text the game cannot send but the page must still show as text. The first two would
# together make a script that sets window.T if the page let markup through; the rest would make elements.
STORED = [
    ("<script>/*", "Chile", 40000),
    ("*/T=1//", "</script>", 39000),
    ("<b>x</b>", "<i>y</i>", 30000),
    ("&lt;&amp;", "'\"><img", 500),
]
# What the pages are made of; anything else in them came from the entries.
PAGE_TAGS = {"H1", "P", "A", "TABLE", "THEAD", "TBODY", "TR", "TH", "TD", "CODE", "SMALL"}
# Where the check of some entries stands, put into the table's file as a server that checks replays
# leaves it (entry, state), and what the last column says of each entry (the others: "not checked").
REPLAY_STATES = [(1, 1), (2, 2), (3, 4), (4, 3)]
CHECK_COLUMN = {"WWWWWWWWWW": "checking", "Anna": "\u2713 replay", "Bo 2": "no challenge", "<script>/*": "refused"}
VERIFIED_MEANS = "this score was reached by this game, from a seed this server gave to this entry"

failures = []


def fail(what):
    failures.append(what)
    print(f"browser test: {what}", file=sys.stderr)


PAGE_FACTS = """JSON.stringify({
  title: document.title,
  scrollWidth: document.documentElement.scrollWidth,
  innerWidth: window.innerWidth,
  tags: Array.from(document.body.querySelectorAll('*'), e => e.tagName),
  ran: typeof window.T !== 'undefined',
  link: (document.querySelector('a[href*="show"]') || {}).href || '',
  cells: Array.from(document.querySelectorAll('tbody tr'), r => Array.from(r.cells, c => c.innerText)),
  html: document.documentElement.outerHTML})"""


def start_server(program, folder):
    log = open(os.path.join(folder, "server.log"), "w+")
    server = subprocess.Popen([program, "--listen", "127.0.0.1:0", "--db", os.path.join(folder, "scores.db"),
                               "--verify-workers", "0"],
                              cwd=folder, stdin=subprocess.DEVNULL, stdout=log, stderr=log)
    deadline = time.monotonic() + 20
    while time.monotonic() < deadline and server.poll() is None:
        log.seek(0)
        first = log.readline()
        if "listening on http://" in first:
            return server, log, first.split("listening on ")[1].split(",")[0].strip()
        time.sleep(0.05)
    log.seek(0)
    server.kill()
    raise SystemExit(f"browser test: the server did not start: {log.read()}")


def check_page(tab, base, path, viewport, output):
    """Loads one page in tab; checks what holds for every page; returns its facts."""
    name = viewport[0]
    scripts, errors = tab.open(base + path)
    facts = json.loads(tab.evaluate(PAGE_FACTS))
    page = "table" if "show" in path else "home"
    what = f"{page} at {name} ({viewport[1]} px)"
    with open(os.path.join(output, f"{page}-{name}.html"), "w") as f:
        f.write(facts["html"])
    tab.screenshot(os.path.join(output, f"{page}-{name}.png"))
    if facts["scrollWidth"] > facts["innerWidth"]:
        fail(f"{what}: scrolls sideways, {facts['scrollWidth']} px of content in {facts['innerWidth']} px")
    if facts["innerWidth"] != viewport[1]:
        fail(f"{what}: the page is laid out {facts['innerWidth']} px wide, not {viewport[1]}")
    strange = sorted(set(facts["tags"]) - PAGE_TAGS)
    if strange:
        fail(f"{what}: elements the page does not make: {strange}")
    if scripts or errors or facts["ran"]:
        fail(f"{what}: a script ran or was parsed: {[s.get('url') for s in scripts]} {errors} T set: {facts['ran']}")
    return facts


def main(args):
    if len(args) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    program, key, output = os.path.abspath(args[0]), args[1], args[2]
    if shutil.which("chromium") is None:
        print("browser test: chromium is missing (scripts/setup.sh --test installs it)", file=sys.stderr)
        return 1
    shutil.rmtree(output, ignore_errors=True)
    os.makedirs(output)
    work = tempfile.mkdtemp(prefix="pellorin-browser-")
    server, server_log, base = start_server(program, work)  # base: http://HOST:PORT
    browser = None
    try:
        for name, country, score in SUBMITTED:
            handshake, result = score_client.GameClient(base).submit(name, country, score, key)
            if not result[1].startswith("OK"):
                raise SystemExit(f"browser test: the result of {name} was refused: {handshake} {result}")
        with sqlite3.connect(os.path.join(work, "scores.db"), timeout=10) as db:
            db.executemany("INSERT INTO scores (name, country, score, submitted) VALUES (?, ?, ?, strftime('%s'))",
                           STORED)
            db.executemany("INSERT INTO replays (entry, ticket, expires, state) VALUES (?, 't' || ?, strftime('%s') + 600, ?)",
                           [(entry, entry, state) for entry, state in REPLAY_STATES])
        expected = sorted(SUBMITTED + STORED, key=lambda entry: -entry[2])

        browser = Chromium(os.path.join(work, "profile"), open(os.path.join(output, "chromium.log"), "w"))
        for viewport in VIEWPORTS:
            tab = Tab(browser, viewport)
            home = check_page(tab, base, "/", viewport, output)
            # The table as a visitor reaches it: by the home page's link.
            table_path = TABLE_PATH
            if home["link"].startswith(base + "/cgi/version.pl?"):
                table_path = home["link"][len(base):]
            else:
                fail(f"home at {viewport[0]}: no link to the world table: '{home['link']}'")
            table = check_page(tab, base, table_path, viewport, output)
            if table["title"] != "Pellorin: world high scores":
                fail(f"table at {viewport[0]}: the title is '{table['title']}'")
            shown = [(cells[1], cells[2], int(cells[3])) for cells in table["cells"] if len(cells) == 6]
            if shown != expected:
                fail(f"table at {viewport[0]}: the rows show {shown}, not {expected}")
            checks = {cells[1]: cells[5].strip() for cells in table["cells"] if len(cells) == 6}
            for name, says in checks.items():
                if says != CHECK_COLUMN.get(name, "not checked"):
                    fail(f"table at {viewport[0]}: the check column of {name} says '{says}'")
            if VERIFIED_MEANS not in table["html"]:
                fail(f"table at {viewport[0]}: the page does not say what the mark means")
            tab.close()
    finally:
        if browser is not None:
            browser.close()
        server.send_signal(signal.SIGTERM)
        try:
            status = server.wait(timeout=10)
        except subprocess.TimeoutExpired:
            server.kill()
            status = "killed after 10 s"
        server_log.seek(0)
        shutil.copy(server_log.name, os.path.join(output, "server.log"))
        shutil.rmtree(work, ignore_errors=True)
    if status != 0:
        fail(f"the server ended with {status} after SIGTERM")
    if failures:
        print(f"browser test: {len(failures)} failed; screenshots in {output}", file=sys.stderr)
        return 1
    print(f"browser test: home page and world table pass at {', '.join(v[0] for v in VIEWPORTS)}; "
          f"screenshots in {output}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
