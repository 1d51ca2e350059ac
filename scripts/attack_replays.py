"""Replays crafted for scripts/attack-server.sh, made from the golden games.

The file layout is that of docs/formats.md (*Replays*): little-endian, a CRC-32 with the zip
polynomial at the end. Each crafting function takes a decoded replay and gives the bytes of the
forged one; nothing here plays a game.

    python3 scripts/attack_replays.py tests/golden/plays-every-rule.replay   # prints what it holds
"""

import struct
import sys
import zlib

MAGIC = b"PLNREPLY"
CHECKPOINT_SPAN = 600
MAX_REPEAT = 65535
MAX_TICKS = 24 * 3600 * 63  # a day of ticks, the most a replay holds
# Run flags.
HAS_INPUT, HAS_LAG, HAS_STEPS, LEFT, RIGHT, HAS_COMMANDS = 1, 2, 4, 8, 16, 32
# Phase commands.
PAUSE, RESUME, OPEN_EXIT_QUESTION, YES, NO = 0, 1, 2, 3, 4

STATE = struct.Struct("<IIHBiQ")  # tick, seed, score, level, lives, frames
START = struct.Struct("<IHHiiiii")  # seed, enemy and bonus countdowns, five times


class Replay:
    """A decoded replay: the start, the runs and the states as plain Python values."""

    def __init__(self):
        self.format = 2
        self.rules = 2
        self.start = [0] * 8  # as START: seed first
        self.runs = []  # [repeat, tick], tick a dict of the run's fields
        self.checkpoints = []  # STATE tuples
        self.end = (0, 0, 0, 0, 0, 0)  # a STATE tuple; its tick is the number of ticks played
        self.frame_hash = 0

    @property
    def seed(self):
        return self.start[0]

    @property
    def score(self):
        return self.end[2]

    def tick_count(self):
        return sum(repeat for repeat, _ in self.runs)

    def copy(self):
        other = Replay()
        other.format, other.rules = self.format, self.rules
        other.start = list(self.start)
        other.runs = [[repeat, dict(tick, commands=list(tick["commands"]))] for repeat, tick in self.runs]
        other.checkpoints = list(self.checkpoints)
        other.end = self.end
        other.frame_hash = self.frame_hash
        return other


def plain_tick():
    return {"input": 0, "lag": 1, "steps": (0, 0, 0, 0), "left": False, "right": False, "commands": []}


def decode(data):
    if data[:8] != MAGIC:
        raise ValueError("not a replay")
    if zlib.crc32(data[:-4]) != struct.unpack_from("<I", data, len(data) - 4)[0]:
        raise ValueError("its checksum does not match")
    r = Replay()
    at = 8
    r.format, r.rules = struct.unpack_from("<HH", data, at)
    at += 4
    r.start = list(START.unpack_from(data, at))
    at += START.size
    (count,) = struct.unpack_from("<I", data, at)
    at += 4
    for _ in range(count):
        repeat, flags = struct.unpack_from("<HB", data, at)
        at += 3
        tick = plain_tick()
        if flags & HAS_INPUT:
            low, high = struct.unpack_from("<IB", data, at)
            tick["input"] = low | high << 32
            at += 5
        if flags & HAS_LAG:
            tick["lag"] = data[at]
            at += 1
        if flags & HAS_STEPS:
            tick["steps"] = tuple(data[at : at + 4])
            at += 4
        tick["left"] = bool(flags & LEFT)
        tick["right"] = bool(flags & RIGHT)
        if flags & HAS_COMMANDS:
            n = data[at]
            tick["commands"] = list(data[at + 1 : at + 1 + n])
            at += 1 + n
        r.runs.append([repeat, tick])
    (count,) = struct.unpack_from("<I", data, at)
    at += 4
    for _ in range(count):
        r.checkpoints.append(STATE.unpack_from(data, at))
        at += STATE.size
    r.end = STATE.unpack_from(data, at)
    at += STATE.size
    (r.frame_hash,) = struct.unpack_from("<Q", data, at)
    at += 8
    if at != len(data) - 4:
        raise ValueError("%d bytes left over" % (len(data) - 4 - at))
    return r


def encode(r):
    out = bytearray(MAGIC)
    out += struct.pack("<HH", r.format, r.rules)
    out += START.pack(*r.start)
    out += struct.pack("<I", len(r.runs))
    for repeat, tick in r.runs:
        flags = 0
        flags |= HAS_INPUT if tick["input"] else 0
        flags |= HAS_LAG if tick["lag"] != 1 else 0
        flags |= HAS_STEPS if any(tick["steps"]) else 0
        flags |= LEFT if tick["left"] else 0
        flags |= RIGHT if tick["right"] else 0
        flags |= HAS_COMMANDS if tick["commands"] else 0
        out += struct.pack("<HB", repeat, flags)
        if flags & HAS_INPUT:
            out += struct.pack("<IB", tick["input"] & 0xFFFFFFFF, tick["input"] >> 32)
        if flags & HAS_LAG:
            out.append(tick["lag"])
        if flags & HAS_STEPS:
            out += bytes(tick["steps"])
        if flags & HAS_COMMANDS:
            out.append(len(tick["commands"]))
            out += bytes(tick["commands"])
    out += struct.pack("<I", len(r.checkpoints))
    for state in r.checkpoints:
        out += STATE.pack(*state)
    out += STATE.pack(*r.end)
    out += struct.pack("<Q", r.frame_hash)
    out += struct.pack("<I", zlib.crc32(bytes(out)))
    return bytes(out)


def split_at(r, tick):
    """Splits the runs so that tick (0-based) is a run of its own; its index in r.runs."""
    at = 0
    for i, (repeat, t) in enumerate(r.runs):
        if at <= tick < at + repeat:
            before, after = tick - at, at + repeat - tick - 1
            pieces = []
            if before:
                pieces.append([before, dict(t, commands=list(t["commands"]))])
            pieces.append([1, dict(t, commands=list(t["commands"]))])
            if after:
                pieces.append([after, dict(t, commands=[])])  # commands belong to a run's every tick
            r.runs[i : i + 1] = pieces
            return i + (1 if before else 0)
        at += repeat
    raise ValueError("the replay has no tick %d" % tick)


def with_commands_at(r, tick, commands):
    """The replay with commands given on tick (after any the tick had)."""
    forged = r.copy()
    i = split_at(forged, tick)
    forged.runs[i][1]["commands"] += commands
    return encode(forged)


def pause_and_resume(r, tick=300):
    """The same game in other bytes: a pause and a resume on one tick, which changes nothing played."""
    return with_commands_at(r, tick, [PAUSE, RESUME])


def phase_less_no(r, ticks=(120, 240, 360)):
    """"No" to the exit question on ticks where no question is open."""
    forged = r.copy()
    for tick in ticks:
        forged.runs[split_at(forged, tick)][1]["commands"].append(NO)
    return encode(forged)


def cut(r, ticks=CHECKPOINT_SPAN):
    """The game cut off after ticks ticks, in play, with the hero alive: the recorded state at that
    tick as its end (the checkpoint there, for a multiple of the span) and no checkpoints after it.
    Gives the bytes and the score the cut game ends with."""
    if ticks % CHECKPOINT_SPAN or ticks // CHECKPOINT_SPAN > len(r.checkpoints):
        raise ValueError("a cut at a recorded checkpoint is needed")
    forged = r.copy()
    split_at(forged, ticks - 1)
    kept, at = [], 0
    for repeat, tick in forged.runs:
        if at >= ticks:
            break
        kept.append([repeat, tick])
        at += repeat
    forged.runs = kept
    forged.end = r.checkpoints[ticks // CHECKPOINT_SPAN - 1]
    forged.checkpoints = r.checkpoints[: ticks // CHECKPOINT_SPAN - 1]
    return encode(forged), forged.end[2]


def impossible_start(r):
    """The game from a start no new game has: weapon, shield, bomb and last-bonus times of 2^31-1."""
    forged = r.copy()
    for i in range(3, 7):
        forged.start[i] = 2**31 - 1
    return encode(forged)


def day_long_pause(seed):
    """A pause on the first tick and a day of idle ticks after it, in 340 bytes: no checkpoints, the end
    the start's state a day of ticks later."""
    r = Replay()
    r.start[0] = seed
    first = plain_tick()
    first["commands"] = [PAUSE]
    r.runs.append([1, first])
    left = MAX_TICKS - 1
    while left:
        repeat = min(left, MAX_REPEAT)
        r.runs.append([repeat, plain_tick()])
        left -= repeat
    r.end = (MAX_TICKS, seed, 0, 1, 3, 0)
    return encode(r)


def main(paths):
    for path in paths:
        with open(path, "rb") as f:
            r = decode(f.read())
        print(
            "%s: seed %d, %d ticks in %d runs, %d checkpoints, ends with score %d at level %d"
            % (path, r.seed, r.tick_count(), len(r.runs), len(r.checkpoints), r.score, r.end[3])
        )
        if encode(r) != open(path, "rb").read():
            print("  encodes to other bytes")
            return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
