#!/usr/bin/env python3
"""An update on an emulated reader (scripts/reader), end to end: this
build's KoboRoot.tgz installed, the feed's HTTPS server started behind the
Wi-Fi's router with a newer release that scripts/release made, "Check for
updates" on the panel finding and downloading it, "Restart and update"
restarting the reader, whose firmware installs the archive, and the panel
then showing the new version, reported by the new zorvid, with the badge
gone. Everything on the reader is armhf under qemu on its Qt 5.2.1.

    scripts/reader python3 demo/reader/update.py OUT ARCHIVE RELEASE

RELEASE is the folder scripts/release wrote (manifest.json and
KoboRoot-VERSION.tgz), signed with the build's test key for
https://feed.zorvi.test/zorvi/manifest.json. OUT gets a screenshot of each
step, the logs and summary.md with each step's time.
"""

import base64
import json
import os
import re
import shutil
import subprocess
import sys
import time

from walk import (PROJECT, ROOT, STORAGE, Nickel, Summary, WalkFailure, collect_logs, ctl, daemon,
                  expect, open_panel, wait_until)

BUILD = os.environ.get('READER_BUILD', '')
FEED_ROOT = '/tmp/feed-root'


def plugin_starts():
    path = STORAGE + '/.adds/zorvi/plugin.log'
    return open(path).read().count('plugin loaded') if os.path.exists(path) else 0


def seconds(log, text):
    """The time of zorvid's first log line holding TEXT, in seconds of the
    day."""
    for line in log.splitlines():
        match = re.match(r'zorvid (\d+):(\d+):(\d+\.\d+) ', line)
        if match and text in line:
            hours, minutes, rest = match.groups()
            return int(hours) * 3600 + int(minutes) * 60 + float(rest)
    raise WalkFailure(f'zorvid did not log "{text}"')


def start_feed(release):
    """The feed's server in its namespace, with the build's test certificate
    for feed.zorvi.test, serving the release under /zorvi/."""
    shutil.rmtree(FEED_ROOT, ignore_errors=True)
    shutil.copytree(release, FEED_ROOT + '/zorvi')
    server = subprocess.Popen(
        ['ip', 'netns', 'exec', 'feed', sys.executable,
         os.path.join(PROJECT, 'tools/feed/feedserver.py'), '--host', '10.43.0.2', '--port', '443',
         '--cert', BUILD + '/feed/feed.pem', '--key', BUILD + '/feed/feed.key', '--root',
         FEED_ROOT], stdout=subprocess.PIPE, stderr=open(FEED_ROOT + '.log', 'w'), text=True)
    expect(server.stdout.readline().strip() == '443', 'the feed did not start')
    return server


def walk(out, archive, release, summary):
    with open(os.path.join(release, 'manifest.json')) as f:
        offered = json.loads(base64.b64decode(json.load(f)['signed']))['version']
    feed = start_feed(release)
    try:
        return update(out, archive, offered, summary)
    finally:
        feed.terminate()
        feed.wait()


def update(out, archive, offered, summary):
    nickel = Nickel()
    os.makedirs(STORAGE + '/.kobo', exist_ok=True)
    shutil.copyfile(archive, STORAGE + '/.kobo/KoboRoot.tgz')
    ctl('boot')
    wait_until(lambda: plugin_starts() == 1, 60, 'the add-on did not start')
    ctl('wifi', 'on', '--net', '0')
    wait_until(lambda: daemon('GET', '/pairing')[0] == 200, 40, 'zorvid did not come')
    current = daemon('GET', '/update')[1]['current']
    expect(current != offered, f'the feed offers the version installed, {current}')
    open_panel(nickel, 'ready')
    expect(nickel.shown(f'Zorvi {current}') == 'shown', f'the panel does not show {current}')
    summary.step(f'This build, {current}, installed and running; the feed offers {offered}',
                 nickel.screenshot(out, '01-before.png'))

    started = time.monotonic()
    nickel.run('tap-text Check for updates')
    ready = f'Version {offered} is ready. It installs the next time the e-reader restarts.'
    wait_until(lambda: nickel.shown(ready) == 'shown', 120, 'the update did not become ready')
    waited = time.monotonic() - started
    expect(nickel.shown('Restart and update') == 'shown', 'no restart offered')
    expect(os.path.exists(ROOT + '/tmp/zorvi-update-ready'), 'no ready flag')
    # /tmp goes with the restart: its log is kept here.
    shutil.copy(ROOT + '/tmp/zorvid.log', os.path.join(out, f'zorvid-{current}.log'))
    log = open(ROOT + '/tmp/zorvid.log').read()
    asked = seconds(log, 'POST /update/check')
    found = seconds(log, f'update check: {offered} is offered')
    staged = seconds(log, f'update {offered} is ready to install')
    size = os.path.getsize(STORAGE + '/.kobo/KoboRoot.tgz')
    summary.step(f'"Check for updates": the signed manifest fetched over HTTPS through the '
                 f'Wi-Fi and verified in {found - asked:.2f} s, the archive ({size} bytes) '
                 f'downloaded and checked in {staged - found:.2f} s (zorvid\'s log); ready on the '
                 f'panel {waited:.1f} s after the tap', nickel.screenshot(out, '02-ready.png'))
    nickel.run('tap-text Close')
    summary.step('The icon wears its badge while the update waits',
                 nickel.screenshot(out, '03-badge.png'))

    nickel.run('tap zorviStatusIcon')
    before = len(nickel.output())
    ctl('nickel', 'tap-text Restart and update')
    wait_until(lambda: 'reboot' in nickel.output()[before:], 30, 'Nickel was not asked to reboot')
    summary.step('"Restart and update" called Nickel\'s reboot')
    ctl('reboot')
    expect(not os.path.exists(STORAGE + '/.kobo/KoboRoot.tgz'), 'the firmware did not install it')
    wait_until(lambda: plugin_starts() == 2, 60, 'the add-on did not start after the restart')
    ctl('wifi', 'on', '--net', '0')
    wait_until(lambda: daemon('GET', '/pairing')[0] == 200, 40, 'the new zorvid did not come')
    status = daemon('GET', '/update')[1]
    expect(status['current'] == offered and status['state'] == 'idle',
           f'after the restart zorvid reports {status}')
    expect(not os.path.exists(ROOT + '/tmp/zorvi-update-ready'), 'the ready flag outlived it')
    open_panel(nickel, 'ready')
    expect(nickel.shown(f'Zorvi {offered}') == 'shown' and
           nickel.shown('Restart and update') == 'not shown', 'the panel does not show it')
    summary.step(f'The firmware installed the archive at the restart; the new zorvid reports '
                 f'{offered}, and the panel shows it', nickel.screenshot(out, '04-updated.png'))

    nickel.run('tap-text Check for updates')
    wait_until(lambda: nickel.shown('Zorvi is up to date.') == 'shown', 60,
               'a second check did not find it up to date')
    nickel.run('tap-text Close')
    summary.step('A check now: up to date; no badge', nickel.screenshot(out, '05-up-to-date.png'))


def main():
    if len(sys.argv) != 4 or not ROOT or not BUILD:
        print('usage: scripts/reader python3 demo/reader/update.py OUT ARCHIVE RELEASE',
              file=sys.stderr)
        return 2
    out, archive, release = (os.path.abspath(path) for path in sys.argv[1:])
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    summary = Summary(out)
    summary.lines[0] = '# An update on an emulated reader'
    status = 0
    try:
        walk(out, archive, release, summary)
        ending = f'The whole update: {time.monotonic() - summary.start:.1f} s.'
    except WalkFailure as failure:
        ending, status = f'**The update failed**: {failure}', 1
    summary.write(ending)
    print(ending)
    collect_logs(out, (FEED_ROOT + '.log', 'feed.log'))
    return status


if __name__ == '__main__':
    sys.exit(main())
