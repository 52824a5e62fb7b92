#!/usr/bin/env python3
"""Plays a serial device for a Windows test program running under Wine.

Links a pseudo-terminal's slave as $WINEPREFIX/dosdevices/com<n> (the first free n from 100),
runs the given command with ZQ_TEST_COMPORT=<n> in its environment, and answers the requests
that the program writes to COM<n>, each ending in a carriage return:

  SILENT      nothing
  BURST       "ab", "cd", "ef" a few milliseconds apart (one reply in three chunks)
  SPLIT       "abc\\r", then "def" 400 ms later
  STALE       "stale reply" (input the next request must not see)
  ECHO <x>    <x>
  XOFF        XOFF (0x13), then XON (0x11) 500 ms later

Exits with the command's exit code.
"""
import os
import pty
import select
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))


def wine_prefix():
    prefix = os.environ.get("WINEPREFIX") or os.path.join(HERE, "..", "..", "build", "wineprefix")
    prefix = os.path.abspath(prefix)
    # The runner's own set-up creates the prefix on first use.
    subprocess.run(["bash", "-c", 'source "$1/wine-env.sh"; zq_wine_prefix', "-", HERE],
                   env=dict(os.environ, WINEPREFIX=prefix), check=False)
    return prefix


def link_free_port(dosdevices, slave_path):
    for number in range(100, 256):
        link = os.path.join(dosdevices, "com%d" % number)
        try:
            os.symlink(slave_path, link)
            return number, link
        except FileExistsError:
            continue
    raise SystemExit("serial-peer: no free COM number in " + dosdevices)


def answer(request, now):
    """The writes (due time, bytes) that answer one request."""
    if request == b"BURST":
        return [(now, b"ab"), (now + 0.003, b"cd"), (now + 0.006, b"ef")]
    if request == b"SPLIT":
        return [(now, b"abc\r"), (now + 0.4, b"def")]
    if request == b"STALE":
        return [(now, b"stale reply")]
    if request.startswith(b"ECHO "):
        return [(now, request[5:])]
    if request == b"XOFF":
        return [(now, b"\x13"), (now + 0.5, b"\x11")]
    return []


def main():
    if len(sys.argv) < 2:
        raise SystemExit("usage: serial-peer.py <command> [arguments]")
    prefix = wine_prefix()
    master, slave = pty.openpty()
    # The slave stays open here too, so the line survives between the program's opens.
    number, link = link_free_port(os.path.join(prefix, "dosdevices"), os.ttyname(slave))
    try:
        child = subprocess.Popen(sys.argv[1:], env=dict(os.environ, WINEPREFIX=prefix,
                                                        ZQ_TEST_COMPORT=str(number)))
        pending = b""
        scheduled = []
        while True:
            now = time.monotonic()
            due = [item for item in scheduled if item[0] <= now]
            scheduled = [item for item in scheduled if item[0] > now]
            for _, data in sorted(due, key=lambda item: item[0]):
                os.write(master, data)
            if child.poll() is not None and not scheduled:
                break
            wait = min([item[0] for item in scheduled], default=now + 0.05) - now
            readable, _, _ = select.select([master], [], [], max(0.0, min(wait, 0.05)))
            if readable:
                try:
                    pending += os.read(master, 4096)
                except OSError:
                    continue
                while b"\r" in pending:
                    request, pending = pending.split(b"\r", 1)
                    scheduled += answer(request, time.monotonic())
        return child.returncode
    finally:
        os.unlink(link)
        os.close(master)
        os.close(slave)


if __name__ == "__main__":
    sys.exit(main())
