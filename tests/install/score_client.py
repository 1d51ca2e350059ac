#!/usr/bin/env python3
"""The game's side of a world high-score submission, for the tests that drive a running pellorin-server
from outside: the record the game builds, its encoding, and the two requests.

    score_client.py encode NAME COUNTRY SCORE KEY TOKEN   print the inf value of that result
    score_client.py submit BASE_URL NAME COUNTRY SCORE KEY
                                                          handshake, then the result; print both replies
"""
import http.cookiejar
import sys
import urllib.error
import urllib.request

SYMBOLS = "ABCDEFGHJKLMNPQRSTUVWXY123456789"
SCRIPT = "/cgi/version.pl"


def score_record(name, country, score, key, token):
    record = f"type=0|name={name}|score={score}|key={key}|p={token}|add={country}|z="
    return record + "0" * (-len(record) % 5)


def encode(record):
    bits = "".join(format(byte, "08b") for byte in record.encode("latin-1"))
    bits = "0" * (-len(bits) % 5) + bits
    return "".join(SYMBOLS[int(bits[i:i + 5], 2)] for i in range(0, len(bits), 5))


def token_of(reply):
    """The token as the game reads it: the fifth |-separated field, empty when there are fewer."""
    fields = reply.split("|")
    return fields[4] if len(fields) > 5 else ""


class GameClient:
    """One player's session: the cookie the handshake sets comes back with the result. Never through a
    proxy: the server is on loopback."""

    def __init__(self, base_url):
        self.base = base_url.rstrip("/")
        self.opener = urllib.request.build_opener(urllib.request.ProxyHandler({}),
                                                  urllib.request.HTTPCookieProcessor(http.cookiejar.CookieJar()))

    def get(self, target):
        """(status, body) of a GET of target (path and query)."""
        try:
            with self.opener.open(self.base + target, timeout=10) as reply:
                return reply.status, reply.read().decode("utf-8", "replace")
        except urllib.error.HTTPError as error:
            return error.code, error.read().decode("utf-8", "replace")

    def submit(self, name, country, score, key):
        """Handshake and result as the game sends them; returns both (status, body) replies."""
        handshake = self.get(f"{SCRIPT}?version&prg=Pellorin")
        inf = encode(score_record(name, country, score, key, token_of(handshake[1])))
        return handshake, self.get(f"{SCRIPT}?hs&prg=Pellorin&inf={inf}")


def main(args):
    if len(args) == 6 and args[0] == "encode":
        print(encode(score_record(args[1], args[2], int(args[3]), args[4], args[5])))
        return 0
    if len(args) == 6 and args[0] == "submit":
        handshake, result = GameClient(args[1]).submit(args[2], args[3], int(args[4]), args[5])
        print(f"{handshake[0]} {handshake[1].strip()}\n{result[0]} {result[1].strip()}")
        return 0 if handshake[1].startswith("OK") and result[1].startswith("OK") else 1
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
