#!/usr/bin/env python3
"""The owner's path on an emulated reader (scripts/reader), timed: the
project's KoboRoot.tgz copied to the storage, the reader started, the icon
tapped, a phone paired in Chromium through the QR code's address, the library
shown and a book downloaded byte for byte; then Wi-Fi off and on again on
another network, the storage taken away for USB and given back, Nickel
restarted, and the add-on uninstalled. Everything on the reader runs armhf
under qemu on its Qt 5.2.1.

    scripts/reader python3 demo/reader/walk.py OUT ARCHIVE

OUT gets a screenshot of each step, the phone's, the logs and summary.md
with each step's time and the time from the copy to the library shown. Any
expectation that fails ends the walk with status 1; the summary says where.
"""

import html
import json
import os
import shutil
import socket
import subprocess
import sys
import time

PROJECT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
ROOT = os.environ.get('READER_ROOT', '')
CTL = os.environ.get('READER_CTL', '')
NICKEL_LOG = os.environ.get('READER_LOG', '')
STORAGE = ROOT + '/mnt/onboard'
SOCKET = ROOT + '/tmp/zorvid.sock'
PHONE = os.path.join(PROJECT, 'demo/phone/phone.mjs')
TEXTS = {
    'ready': 'All set. Connect your phone or computer to see your library.',
    'offline': 'Zorvi starts when Wi-Fi is on. Turn on Wi-Fi, then open this menu again.',
    'no code': "Couldn't get a code. Check that Wi-Fi is on, then try again.",
}


class WalkFailure(Exception):
    pass


def expect(condition, what):
    if not condition:
        raise WalkFailure(what)


def wait_until(condition, seconds, what):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if condition():
            return
        time.sleep(0.1)
    raise WalkFailure(f'{what} (waited {seconds} s)')


def ctl(*arguments):
    done = subprocess.run([CTL, 'ctl'] + list(arguments), capture_output=True, text=True)
    expect(done.returncode == 0, f'reader ctl {" ".join(arguments)}: {done.stderr.strip()}')
    return done.stdout.strip()


class Nickel:
    """The stand-in's script, a command at a time: each is followed by a
    mark, and done when the mark's answer is in its output."""

    def __init__(self):
        self.marks = 0

    def output(self):
        with open(NICKEL_LOG, errors='replace') as f:
            return f.read()

    def run(self, command, seconds=60):
        self.marks += 1
        mark = f'zorviWalkMark{self.marks}'
        before = len(self.output())
        ctl('nickel', command, f'find {mark}')
        wait_until(lambda: f'find {mark}: not found' in self.output()[before:], seconds,
                   f'Nickel did not answer "{command}"')
        return self.output()[before:]

    def shown(self, text):
        answer = self.run(f'find-text {text}')
        return 'shown, disabled' if 'shown, disabled' in answer else \
            'not shown' if ': not shown' in answer else 'shown'

    def screenshot(self, out, name):
        self.run(f'screenshot /tmp/{name}')
        shutil.copy(f'{ROOT}/tmp/{name}', os.path.join(out, name))
        return name


def daemon(method, path):
    """One exchange with zorvid on its socket, as the add-on has it: the
    status and the JSON body, or (0, None) when nothing answers."""
    try:
        with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as s:
            s.settimeout(5)
            s.connect(SOCKET)
            s.sendall(f'{method} {path} HTTP/1.1\r\nHost: zorvid\r\nConnection: close\r\n\r\n'
                      .encode())
            reply = b''
            while chunk := s.recv(65536):
                reply += chunk
    except OSError:
        return 0, None
    head, _, body = reply.partition(b'\r\n\r\n')
    status = int(head.split(b' ')[1]) if head.startswith(b'HTTP/1.1 ') else 0
    try:
        return status, json.loads(body)
    except ValueError:
        return status, None


def zorvid_pid():
    for name in os.listdir('/proc'):
        if name.isdigit():
            try:
                with open(f'/proc/{name}/cmdline', 'rb') as f:
                    if b'/usr/local/zorvi/zorvid\0--wifi-interface' in f.read():
                        return int(name)
            except OSError:
                pass
    return None


def decode_qr(path):
    done = subprocess.run(['zbarimg', '--raw', '-q', path], capture_output=True, text=True)
    return done.stdout.strip()


def phone(out, *arguments):
    done = subprocess.run(['ip', 'netns', 'exec', 'phone', 'node', PHONE] + list(arguments),
                          capture_output=True, text=True)
    lines = done.stdout.strip().splitlines()
    expect(done.returncode == 0 and lines,
           f'the phone failed: {done.stderr.strip()[-2000:] or done.stdout[-2000:]}')
    return json.loads(lines[-1])


class Summary:
    def __init__(self, out):
        self.out = out
        self.start = time.monotonic()
        self.last = self.start
        self.lines = ['# The owner\'s path on an emulated reader', '',
                      'Everything on the reader is armhf under qemu, on its Qt 5.2.1. '
                      'Times are seconds on this machine, most of them emulation.', '',
                      '| step | took | since the copy |', '|---|---|---|']
        self.pictures = []

    def step(self, text, picture=None):
        now = time.monotonic()
        self.lines.append(f'| {text} | {now - self.last:.1f} s | {now - self.start:.1f} s |')
        if picture:
            self.pictures.append(f'<img src="{picture}" width="240" '
                                 f'title="{html.escape(text, quote=True)}">')
        self.last = now
        print(f'{now - self.start:6.1f} s  {text}', flush=True)

    def write(self, ending):
        with open(os.path.join(self.out, 'summary.md'), 'w') as f:
            f.write('\n'.join(self.lines + ['', ending, ''] + self.pictures) + '\n')


def open_panel(nickel, expected):
    nickel.run('tap zorviStatusIcon')
    wait_until(lambda: nickel.shown(TEXTS[expected]) == 'shown', 20,
               f'the panel does not say "{TEXTS[expected]}"')


def pair_phone(nickel, summary, out, network, picture):
    nickel.run('tap-text Connect a device')
    wait_until(lambda: nickel.run('find code').count('visible=yes') > 0, 20,
               'no pairing code came')
    shot = nickel.screenshot(out, picture)
    address = decode_qr(os.path.join(out, shot))
    expect(address.startswith(f'http://10.42.{network}.2:'),
           f'the QR code names {address or "nothing"}, not the reader on Wi-Fi')
    summary.step(f'"Connect a device": a code, and a QR code that scans as {address}', shot)
    seen = phone(out, 'pair', address, out, STORAGE)
    wait_until(lambda: 'shown' == nickel.shown('Device connected'), 20,
               'the panel did not see the pairing')
    nickel.run('tap-text Done')
    return seen


def walk(out, archive, summary):
    nickel = Nickel()
    os.makedirs(STORAGE + '/.kobo', exist_ok=True)
    shutil.copyfile(archive, STORAGE + '/.kobo/KoboRoot.tgz')
    summary.step(f'KoboRoot.tgz ({os.path.getsize(archive)} bytes) copied into .kobo on the '
                 'storage (FAT through FUSE)')

    ctl('boot')
    expect(not os.path.exists(STORAGE + '/.kobo/KoboRoot.tgz'), 'the archive was not installed')
    for path in ['/usr/local/Kobo/imageformats/libzorvi.so', '/usr/local/zorvi/zorvid',
                 '/usr/local/zorvi/zorvid-keeper', '/etc/udev/rules.d/98-zorvi.rules']:
        expect(os.path.exists(ROOT + path) or os.path.exists(ROOT + path + '.failsafe'),
               f'{path} was not installed')
    wait_until(lambda: 'plugin loaded' in open(STORAGE + '/.adds/zorvi/plugin.log').read()
               if os.path.exists(STORAGE + '/.adds/zorvi/plugin.log') else False, 60,
               'the add-on did not start')
    summary.step('The firmware unpacked it over the root and started Nickel; the add-on is '
                 'loaded', nickel.screenshot(out, '01-home.png'))

    open_panel(nickel, 'offline')
    summary.step('Wi-Fi off: the panel says Zorvi starts when Wi-Fi is on',
                 nickel.screenshot(out, '02-offline.png'))
    nickel.run('tap-text Close')

    print(ctl('wifi', 'on', '--net', '0'), flush=True)
    wait_until(lambda: daemon('GET', '/pairing')[0] == 200, 40, 'zorvid did not come')
    summary.step('Wi-Fi on: udev ran zorvid-keeper, which started zorvid (after the add-on\'s '
                 'first twenty seconds, its failsafe)')
    open_panel(nickel, 'ready')
    summary.step('The panel: all set', nickel.screenshot(out, '03-ready.png'))
    seen = pair_phone(nickel, summary, out, 0, '04-pairing.png')
    summary.step(f'Chromium on the phone\'s side of the cable paired; the library shows '
                 f'{seen.get("shown")} books; a search; a download, {seen.get("bytes")} bytes, '
                 'the book\'s file byte for byte', 'phone-2-dashboard.png')
    library_shown = time.monotonic() - summary.start
    status, clients = daemon('GET', '/clients')
    expect(status == 200 and len(clients) == 1, f'zorvid lists {clients}')

    print(ctl('wifi', 'off'), flush=True)
    wait_until(lambda: not os.path.exists(SOCKET) and zorvid_pid() is None, 10,
               'zorvid did not stop with Wi-Fi')
    open_panel(nickel, 'offline')
    summary.step('Wi-Fi off: zorvid stopped cleanly (its socket gone); the panel says offline',
                 nickel.screenshot(out, '05-offline-again.png'))
    nickel.run('tap-text Close')

    print(ctl('wifi', 'on', '--no-address', '--net', '1'), flush=True)
    wait_until(lambda: daemon('GET', '/pairing')[0] == 200, 10, 'zorvid did not come back')
    open_panel(nickel, 'ready')
    nickel.run('tap-text Connect a device')
    wait_until(lambda: nickel.shown(TEXTS['no code']) == 'shown', 20,
               'the panel did not say it could not get a code')
    summary.step('Wi-Fi on again, no address yet: "Connect a device" could not get a code',
                 nickel.screenshot(out, '06-no-address.png'))
    nickel.run('tap-text Close')
    ctl('wifi', 'address')
    open_panel(nickel, 'ready')
    pair_phone(nickel, summary, out, 1, '07-new-network.png')
    summary.step('The address came (another network): a second phone paired through it')

    pid = zorvid_pid()
    print(ctl('usb', 'out'), flush=True)
    summary.step('USB: the storage unmounted at once, with zorvid and the add-on running')
    expect(daemon('GET', '/clients')[0] == 503, 'zorvid did not see the storage go')
    print(ctl('usb', 'in'), flush=True)
    wait_until(lambda: daemon('GET', '/clients')[0] == 200, 10, 'zorvid did not see it come back')
    status, clients = daemon('GET', '/clients')
    expect(len(clients) == 2, f'the paired devices after USB: {clients}')
    expect(zorvid_pid() == pid, 'zorvid did not carry on through USB')
    open_panel(nickel, 'ready')
    nickel.run('tap-text Close')
    summary.step('Storage back: both devices still paired, zorvid and the add-on carry on')

    ctl('stop-nickel')
    ctl('boot')
    wait_until(lambda: open(STORAGE + '/.adds/zorvi/plugin.log').read().count('plugin loaded')
               == 2, 60, 'the add-on did not start again')
    expect(zorvid_pid() == pid and daemon('GET', '/pairing')[0] == 200,
           'zorvid did not survive Nickel\'s restart')
    summary.step('Nickel restarted: zorvid went on as it was')

    shutil.copyfile(archive, STORAGE + '/.kobo/KoboRoot.tgz')
    ctl('reboot')
    expect(not os.path.exists(STORAGE + '/.kobo/KoboRoot.tgz'), 'the archive was not installed')
    wait_until(lambda: open(STORAGE + '/.adds/zorvi/plugin.log').read().count('plugin loaded')
               == 3, 60, 'the add-on did not start after the reinstall')
    ctl('wifi', 'on', '--net', '1')
    wait_until(lambda: daemon('GET', '/pairing')[0] == 200, 40, 'zorvid did not come')
    status, clients = daemon('GET', '/clients')
    expect(status == 200 and len(clients) == 2, f'the paired devices after the reinstall: {clients}')
    summary.step('Installed again over itself, restarted: the add-on and zorvid run, both '
                 'devices still paired')

    open(STORAGE + '/.adds/zorvi/uninstall', 'w').close()
    ctl('stop-nickel')
    ctl('boot')
    wait_until(lambda: 'uninstalled as asked' in open(STORAGE + '/.adds/zorvi/plugin.log').read(),
               60, 'the add-on did not uninstall')
    wait_until(lambda: zorvid_pid() is None and not os.path.exists(SOCKET), 10,
               'zorvid did not stop with the uninstall')
    for path in ['/usr/local/Kobo/imageformats/libzorvi.so', '/usr/local/zorvi',
                 '/etc/udev/rules.d/98-zorvi.rules']:
        expect(not os.path.exists(ROOT + path), f'{path} outlived the uninstall')
    expect(os.path.exists(STORAGE + '/.adds/zorvi/zorvid/clients.json'),
           'the paired devices\' list went with the add-on')
    summary.step('Uninstalled at Nickel\'s next start: the add-on, zorvid, its keeper and the '
                 'rule gone, zorvid stopped; the paired devices\' list and the log kept',
                 nickel.screenshot(out, '08-uninstalled.png'))
    return library_shown


def collect_logs(out, *more):
    """Copies Nickel's, zorvid's and the add-on's logs, and each (SOURCE,
    NAME) of MORE, into OUT, where they exist."""
    for source, name in [(NICKEL_LOG, 'nickel.log'), (ROOT + '/tmp/zorvid.log', 'zorvid.log'),
                         (STORAGE + '/.adds/zorvi/plugin.log', 'plugin.log'), *more]:
        if os.path.exists(source):
            shutil.copy(source, os.path.join(out, name))


def main():
    if len(sys.argv) != 3 or not ROOT:
        print('usage: scripts/reader python3 demo/reader/walk.py OUT ARCHIVE', file=sys.stderr)
        return 2
    out, archive = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    summary = Summary(out)
    status = 0
    try:
        shown = walk(out, archive, summary)
        ending = (f'From the copy to the library shown on the phone: {shown:.1f} s. '
                  f'The whole walk: {time.monotonic() - summary.start:.1f} s.')
    except WalkFailure as failure:
        ending, status = f'**The walk failed**: {failure}', 1
    summary.write(ending)
    print(ending)
    collect_logs(out)
    return status


if __name__ == '__main__':
    sys.exit(main())
