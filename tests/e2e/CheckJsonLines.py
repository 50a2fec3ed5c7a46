#!/usr/bin/env python3
"""Checks the library's JSON lines with Python's own json module.

    CheckJsonLines.py --app NAME --pid PID EXPECTED LOGFILE...

EXPECTED holds one message per line, tab-separated: severity, zone (hex of its bytes, "-" for the default
zone), thread id, file (hex), line, text (hex). The lines of the LOGFILEs, read in the order given, must be
exactly these messages, each a complete JSON object with the keys in order, the strings decoded as UTF-8
with U+FFFD for ill-formed bytes, and a local RFC 3339 time with microseconds whose offset is this
process's local offset at that time. Exits with status 1 and says why at the first difference.
"""

import argparse
import datetime
import json
import re
import sys

KEYS = ["time", "severity", "zone", "app", "pid", "tid", "file", "line", "message"]
TIME = re.compile(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{6}[+-]\d\d:\d\d")


def text_of(hex_bytes):
    return bytes.fromhex(hex_bytes).decode("utf-8", errors="replace")


def expected_messages(path, app, pid):
    with open(path, encoding="ascii") as lines:
        for line in lines:
            severity, zone, tid, file, number, text = line.rstrip("\n").split("\t")
            yield {"severity": severity, "zone": None if zone == "-" else text_of(zone), "app": app,
                   "pid": pid, "tid": int(tid), "file": text_of(file), "line": int(number),
                   "message": text_of(text)}


def logged_lines(paths):
    for path in paths:
        with open(path, "rb") as log:
            data = log.read()
        if data and not data.endswith(b"\n"):
            raise ValueError(f"{path} ends inside a line")
        yield from data.splitlines(keepends=False)


def check_time(text):
    if not TIME.fullmatch(text):
        raise ValueError(f"time {text!r} is not RFC 3339 with microseconds and an offset")
    stamp = datetime.datetime.fromisoformat(text)
    local_offset = stamp.astimezone().utcoffset()
    if stamp.utcoffset() != local_offset:
        raise ValueError(f"time {text!r}: the local offset is {local_offset}")


def check(raw, expected):
    record = json.loads(raw.decode("utf-8"))  # strict: no raw control character in a string
    if list(record) != KEYS:
        raise ValueError(f"keys {list(record)}")
    check_time(record.pop("time"))
    if record != expected:
        raise ValueError(f"read {record}, expected {expected}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--app", required=True)
    parser.add_argument("--pid", type=int, required=True)
    parser.add_argument("expected")
    parser.add_argument("logs", nargs="+")
    arguments = parser.parse_args()
    expected = list(expected_messages(arguments.expected, arguments.app, arguments.pid))
    lines = list(logged_lines(arguments.logs))
    if len(lines) != len(expected):
        sys.exit(f"{len(lines)} lines, expected {len(expected)}")
    for number, (raw, message) in enumerate(zip(lines, expected)):
        try:
            check(raw, message)
        except ValueError as error:
            sys.exit(f"line {number + 1}: {raw!r}: {error}")


if __name__ == "__main__":
    main()
