#!/usr/bin/env python3
"""Checks that every #include points down the layers of docs/architecture.md:

    app -> menu, game, online, settings, music -> engine -> platform
    server -> protocol -> common           (every folder may use common; game, online and app use protocol)

menu and game never include each other; online, settings and music stand beside them; engine knows
nothing of the game; the server shares only protocol/ and common/ with the game; tools/ may use the
whole game but not the server, and so may web/ (the browser build's programs, which also include
emscripten's). platform/, and the two programs apart from the game (server/ and the
tools), are the only folders that include headers from outside the project, the C++ standard library
and the compiler's intrinsics (SDL2, libcurl, SQLite, system headers ...).

    check_layers.py ROOT          check the tree at ROOT
    check_layers.py --self-test   check that a wrong include in a small tree is refused
"""
import os
import re
import sys
import tempfile

# What each folder may include, besides itself.
GAME = {"app", "menu", "game", "online", "settings", "music", "engine", "platform", "protocol", "common"}
ALLOWED = {
    "common": set(),
    "protocol": {"common"},
    "platform": {"common"},
    "engine": {"platform", "common"},
    "settings": {"engine", "platform", "common"},
    "music": {"engine", "platform", "common"},
    "online": {"settings", "engine", "platform", "protocol", "common"},
    "game": {"settings", "music", "engine", "platform", "protocol", "common"},
    "menu": {"settings", "music", "engine", "platform", "common"},
    "app": {"menu", "game", "online", "settings", "music", "engine", "platform", "protocol", "common"},
    "server": {"protocol", "common"},
    "tools": GAME,
    "web": GAME,  # the browser build's programs: the game's app over the browser platform
}
# The folders that may include outside headers.
OUTSIDE = {"platform", "server", "tools", "web"}

STANDARD = set("""
algorithm any array atomic barrier bit bitset cassert cctype cerrno cfenv cfloat charconv chrono cinttypes
climits clocale cmath codecvt compare complex concepts condition_variable coroutine csetjmp csignal
cstdarg cstddef cstdint cstdio cstdlib cstring ctime cuchar cwchar cwctype deque exception execution
expected filesystem format forward_list fstream functional future initializer_list iomanip ios iosfwd
iostream istream iterator latch limits list locale map memory memory_resource mutex new numbers numeric
optional ostream queue random ranges ratio regex scoped_allocator semaphore set shared_mutex
source_location span sstream stack stdexcept stop_token streambuf string string_view syncstream
system_error thread tuple type_traits typeindex typeinfo unordered_map unordered_set utility valarray
variant vector version
""".split()) | {
    # The compiler's own intrinsics, which ship with it like the standard library.
    "immintrin.h", "x86intrin.h",
}

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')


def check(root):
    faults = []
    for folder, allowed in ALLOWED.items():
        base = os.path.join(root, folder)
        for dirpath, _, files in os.walk(base):
            for name in sorted(files):
                if not name.endswith((".h", ".cpp")):
                    continue
                path = os.path.join(dirpath, name)
                rel = os.path.relpath(path, root)
                with open(path, encoding="utf-8", errors="replace") as source:
                    for number, line in enumerate(source, 1):
                        match = INCLUDE.match(line)
                        if not match:
                            continue
                        kind, target = match.groups()
                        where = f"{rel}:{number}: #include {kind}{target}{'>' if kind == '<' else kind}"
                        if kind == "<":
                            if folder not in OUTSIDE and target not in STANDARD:
                                faults.append(f"{where}: only platform/, server/, tools/ and web/ include outside headers")
                            continue
                        layer = target.split("/")[0] if "/" in target else folder
                        if layer != folder and layer not in allowed:
                            faults.append(f"{where}: {folder}/ may not include {layer}/")
    return faults


def self_test():
    cases = [
        ("menu/a.cpp", '#include "game/game_state.h"\n', True),
        ("game/a.cpp", '#include "menu/menu_state.h"\n', True),
        ("engine/a.cpp", '#include "settings/settings.h"\n', True),
        ("engine/a.cpp", "#include <SDL2/SDL.h>\n", True),
        ("game/a.h", "  #  include <curl/curl.h>\n", True),
        ("app/a.cpp", '#include "game/game_state.h"\n#include <vector>\n', False),
        ("platform/a.cpp", "#include <SDL2/SDL.h>\n", False),
        ("game/a.cpp", '#include "hero.h"\n', False),
        ("server/a.cpp", '#include "game/replay.h"\n', True),
        ("server/a.cpp", '#include "app/main_form.h"\n', True),
        ("server/a.cpp", '#include "protocol/replies.h"\n#include <sqlite3.h>\n', False),
        ("protocol/a.cpp", '#include "engine/rtl.h"\n', True),
        ("common/a.cpp", '#include "protocol/replies.h"\n', True),
        ("tools/a.cpp", '#include "server/tokens.h"\n', True),
        ("tools/a.cpp", '#include "app/main_form.h"\n#include <unistd.h>\n', False),
    ]
    failed = 0
    for path, text, refused in cases:
        with tempfile.TemporaryDirectory() as root:
            os.makedirs(os.path.join(root, os.path.dirname(path)))
            with open(os.path.join(root, path), "w") as out:
                out.write(text)
            got = bool(check(root))
            if got != refused:
                print(f"self-test: {path} with {text.strip()!r}: refused={got}, expected {refused}")
                failed += 1
    return failed


def main():
    if sys.argv[1:] == ["--self-test"]:
        sys.exit(1 if self_test() else 0)
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        sys.exit(2)
    faults = check(sys.argv[1])
    for fault in faults:
        print(fault)
    if faults:
        print(f"{len(faults)} include(s) point the wrong way; see docs/architecture.md")
    sys.exit(1 if faults else 0)


if __name__ == "__main__":
    main()
