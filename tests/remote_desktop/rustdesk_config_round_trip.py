#!/usr/bin/python3
"""RustDesk2.toml written by the client reads back, through Python's own TOML reader, to exactly
the values of the server description: apostrophes, backslashes, quotes, line breaks, tabs,
Chinese text and control characters included.

usage: rustdesk_config_round_trip.py <wine-run> <write_rustdesk_config.exe>
"""
import json
import os
import subprocess
import sys
import tempfile
import tomllib

VALUES = [
    "rs.example:21116",
    "it's",
    "C:\\dir\\",
    "a\\'b",
    '"quoted"',
    "line\nkey = 'injected'",
    "cr\rlf\r\n",
    "tab\there",
    "中文服务器",
    "".join(chr(c) for c in range(1, 32)) + "\x7f",
    "\x00nul",
    "'''",
    '"""',
    "\\u0041",
]


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


def write_and_read(wine_run, writer, folder, server):
    description = os.path.join(folder, "server.json")
    target = os.path.join(folder, "RustDesk2.toml")
    with open(description, "w", encoding="utf-8") as stream:
        json.dump(server, stream, ensure_ascii=False)
    subprocess.run([wine_run, writer, windows_path(description), windows_path(target)],
                   check=True, timeout=120, stdin=subprocess.DEVNULL)
    with open(target, "rb") as stream:
        return tomllib.load(stream)


def main():
    wine_run, writer = sys.argv[1], sys.argv[2]
    failures = 0
    with tempfile.TemporaryDirectory() as folder:
        for index, value in enumerate(VALUES):
            # The same value in every position, and a plain neighbour, so that a value that leaks
            # into the next line shows too.
            server = {"rendezvousServer": value, "relayServer": value, "key": "k%d" % index, "apiServer": value}
            try:
                config = write_and_read(wine_run, writer, folder, server)
            except (tomllib.TOMLDecodeError, subprocess.CalledProcessError) as error:
                print("FAIL %r: %s" % (value, error))
                failures += 1
                continue
            expected = {
                "rendezvous_server": value,
                "options": {"custom-rendezvous-server": value, "relay-server": value,
                            "key": "k%d" % index, "api-server": value},
            }
            if config != expected:
                print("FAIL %r: read back %r" % (value, config))
                failures += 1
    print("%d of %d values round-trip" % (len(VALUES) - failures, len(VALUES)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
