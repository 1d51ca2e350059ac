#!/usr/bin/env python3
"""Reads a systemd service unit the way systemd starts it, for a test that has no systemd running.

    unit_command.py UNIT_FILE OUT_DIR

Writes OUT_DIR/argv, the command of ExecStart= after systemd's expansion of the unit's environment
("${NAME}" one word, "$NAME" as a word of its own split at blanks), and OUT_DIR/environ, that
environment (Environment= first, then the EnvironmentFile= files, later ones winning), each a list of
NUL-terminated strings. Prints the [Service] settings the test applies as shell assignments
(unit_NAME='value'). Refuses what it does not know how to expand: an ExecStart= prefix, a specifier,
more than one ExecStart=.
"""
import os
import re
import shlex
import sys

SETTINGS = ["DynamicUser", "User", "Group", "StateDirectory", "WorkingDirectory", "UMask", "MemoryMax",
            "LimitNOFILE", "ProtectSystem", "ProtectHome", "PrivateTmp", "NoNewPrivileges", "KillSignal",
            "TimeoutStopSec", "Type"]


def read_service_section(path):
    """The [Service] section's assignments in order, continuation lines joined."""
    entries, section, pending = [], None, ""
    with open(path, encoding="utf-8") as unit:
        for raw in unit:
            line = pending + raw.rstrip("\n")
            pending = ""
            if line.endswith("\\"):
                pending = line[:-1] + " "
                continue
            stripped = line.strip()
            if not stripped or stripped[0] in "#;":
                continue
            if stripped.startswith("["):
                section = stripped
                continue
            if section == "[Service]" and "=" in stripped:
                key, value = stripped.split("=", 1)
                entries.append((key.strip(), value.strip()))
    return entries


def read_environment_file(path):
    values = {}
    with open(path, encoding="utf-8") as source:
        for raw in source:
            line = raw.strip()
            if not line or line[0] in "#;" or "=" not in line:
                continue
            key, value = line.split("=", 1)
            value = value.strip()
            if value[:1] in ("'", '"'):
                value = shlex.split(value)[0]
            values[key.strip()] = value
    return values


def expand(command, environment):
    words = shlex.split(command)
    if not words or words[0][:1] in "@-:+!|":
        raise SystemExit(f"unit_command: an ExecStart= this test cannot run: {command}")
    argv = []
    for word in words:
        if re.search(r"%[^%]", word):
            raise SystemExit(f"unit_command: a specifier in ExecStart=: {word}")
        whole = re.fullmatch(r"\$([A-Za-z_][A-Za-z0-9_]*)", word)
        if whole:
            argv.extend(environment.get(whole.group(1), "").split())
            continue
        argv.append(re.sub(r"\$\{([A-Za-z_][A-Za-z0-9_]*)\}", lambda m: environment.get(m.group(1), ""),
                           word).replace("%%", "%"))
    return argv


def main(args):
    if len(args) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    unit, out = args
    entries = read_service_section(unit)
    environment = {}
    for key, value in entries:
        if key == "Environment":
            for assignment in shlex.split(value):
                name, _, text = assignment.partition("=")
                environment[name] = text
    for key, value in entries:
        if key == "EnvironmentFile":
            optional = value.startswith("-")
            path = value.lstrip("-")
            if os.path.exists(path):
                environment.update(read_environment_file(path))
            elif not optional:
                raise SystemExit(f"unit_command: the unit's EnvironmentFile {path} is missing")
    commands = [value for key, value in entries if key == "ExecStart"]
    if len(commands) != 1:
        raise SystemExit(f"unit_command: {len(commands)} ExecStart= lines; this test runs exactly one")
    with open(os.path.join(out, "argv"), "wb") as f:
        f.write(b"".join(word.encode() + b"\0" for word in expand(commands[0], environment)))
    with open(os.path.join(out, "environ"), "wb") as f:
        f.write(b"".join(f"{k}={v}".encode() + b"\0" for k, v in environment.items()))
    settings = dict(entries)
    for name in SETTINGS:
        print(f"unit_{name}={shlex.quote(settings.get(name, ''))}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
