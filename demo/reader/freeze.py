#!/usr/bin/env python3
"""The reader asleep on an emulated reader (scripts/reader): every process of
the reader stopped for SECONDS (ten minutes by default), as the reader's
sleep freezes them, while a pairing code waits and a phone holds a
connection open; woken, the code has expired, the connection left over is
dropped, and the add-on and zorvid answer at once.

    scripts/reader python3 demo/reader/freeze.py OUT ARCHIVE [SECONDS]
"""

import os
import socket
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import walk  # noqa: E402
from walk import ctl, daemon, expect, wait_until  # noqa: E402


def held_connection():
    """A connection from the phone's network that sends half a request and
    waits, as a phone does whose Wi-Fi went with the reader's sleep: the
    seconds until zorvid closes it, or None."""
    script = ('import socket,time,sys\n'
              's=socket.create_connection(("10.42.0.2",8732),timeout=5)\n'
              's.sendall(b"GET /pair HTTP/1.1\\r\\nHost: 10.42.0.2\\r\\n")\n'
              'print("open",flush=True)\n'
              'sys.stdin.readline()\n'
              's.settimeout(30);t=time.monotonic()\n'
              'try:\n    d=s.recv(4096)\nexcept OSError:\n    d=b""\n'
              'print("closed after %.1f"%(time.monotonic()-t) if not d or d.startswith(b"HTTP") '
              'else "still open",flush=True)\n')
    return subprocess.Popen(['ip', 'netns', 'exec', 'phone', 'python3', '-c', script],
                            stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)


def main():
    if len(sys.argv) not in (3, 4) or not walk.ROOT:
        print('usage: scripts/reader python3 demo/reader/freeze.py OUT ARCHIVE [SECONDS]',
              file=sys.stderr)
        return 2
    out, archive = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    seconds = float(sys.argv[3]) if len(sys.argv) == 4 else 600
    os.makedirs(out, exist_ok=True)
    nickel = walk.Nickel()
    try:
        os.makedirs(walk.STORAGE + '/.kobo', exist_ok=True)
        subprocess.run(['cp', archive, walk.STORAGE + '/.kobo/KoboRoot.tgz'], check=True)
        ctl('boot')
        ctl('wifi', 'on', '--net', '0')
        wait_until(lambda: daemon('GET', '/pairing')[0] == 200, 60, 'zorvid did not come')
        status, offer = daemon('POST', '/pairing')
        expect(status == 200, f'no offer: {status}')
        phone = held_connection()
        expect(phone.stdout.readline().strip() == 'open', 'the phone could not connect')
        print(ctl('freeze', str(seconds)), flush=True)
        woken = time.monotonic()
        status, state = daemon('GET', '/pairing')
        answered = time.monotonic() - woken
        expect(status == 200 and state.get('state') == 'expired',
               f'after the sleep the offer is {state}')
        phone.stdin.write('\n')
        phone.stdin.flush()
        verdict = phone.stdout.readline().strip()
        expect(verdict.startswith('closed'), f'the connection left over: {verdict}')
        nickel.run('tap zorviStatusIcon')
        wait_until(lambda: nickel.shown(walk.TEXTS['ready']) == 'shown', 20,
                   'the panel did not answer after the sleep')
        nickel.screenshot(out, 'after-sleep.png')
        print(f'After {seconds:.0f} s asleep: zorvid answered in {answered:.2f} s, the code '
              f'{offer["code"]} had expired, the phone\'s connection was {verdict}, and the '
              'panel opened.')
        return 0
    except walk.WalkFailure as failure:
        print(f'the sleep failed: {failure}')
        return 1


if __name__ == '__main__':
    sys.exit(main())
