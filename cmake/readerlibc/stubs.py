#!/usr/bin/env python3
"""Link-time stand-ins for the reader's C library.

    python3 stubs.py --limit 2.19 --cc arm-linux-gnueabihf-gcc OUT LIBRARY...

LIBRARY names each shared library of the cross compiler's C library (the
dynamic loader among them); OUT gets the stand-ins and the files that -lc,
-lm... find.

The cross compiler's C library is newer than the reader's (glibc 2.19): a
program linked against it asks for the newest version of each function
(pthread_create@GLIBC_2.34, fcntl@GLIBC_2.28, __libc_start_main@GLIBC_2.34),
and the reader's dynamic loader refuses it. For each LIBRARY this writes to
OUT a library of the same name that exports only what existed up to the
limit, each symbol at the newest version it had then, so a program linked
against these binds to versions the reader has. A function that is newer
than the limit is missing here and fails the link, which is the point. The
stand-ins hold no code worth running: they are for the linker alone.
"""

import argparse
import os
import re
import subprocess


def version_key(version):
    return tuple(int(p) for p in version.split('_', 1)[1].split('.'))


def exported(path, limit):
    """{name: (version, kind, size, weak)} for the newest version of each
    symbol at or below LIMIT."""
    out = subprocess.run(['readelf', '--dyn-syms', '-W', path], capture_output=True, text=True,
                         check=True, env=dict(os.environ, LC_ALL='C')).stdout
    symbols = {}
    for line in out.splitlines():
        fields = line.split()
        if len(fields) < 8 or fields[6] == 'UND' or not fields[0].rstrip(':').isdigit():
            continue
        m = re.fullmatch(r'([^@]+)@@?(GLIBC_[0-9.]+)', fields[7])
        if not m or fields[4] not in ('GLOBAL', 'WEAK'):
            continue
        name, version = m.groups()
        if version_key(version) > limit:
            continue
        if name in symbols and version_key(symbols[name][0]) >= version_key(version):
            continue
        symbols[name] = (version, fields[3], int(fields[2], 0), fields[4] == 'WEAK')
    return symbols


def soname(path):
    out = subprocess.run(['readelf', '-d', '-W', path], capture_output=True, text=True,
                         check=True).stdout
    m = re.search(r'\(SONAME\)\s+Library soname: \[(.*?)\]', out)
    return m.group(1) if m else os.path.basename(path)


def write_stub(path, limit, out_dir, cc):
    name = soname(path)
    symbols = exported(path, limit)
    asm, nodes = ['.syntax unified', '.arm'], {}
    for symbol, (version, kind, size, weak) in sorted(symbols.items()):
        nodes.setdefault(version, []).append(symbol)
        asm.append(f'.{"weak" if weak else "globl"} {symbol}')
        if kind == 'OBJECT':
            asm += ['.data', f'.type {symbol}, %object', f'.size {symbol}, {max(size, 1)}',
                    f'{symbol}: .space {max(size, 1)}']
        elif kind == 'TLS':
            asm += ['.section .tbss,"awT",%nobits', f'.type {symbol}, %tls_object',
                    f'.size {symbol}, {max(size, 1)}', f'{symbol}: .space {max(size, 1)}']
        else:
            asm += ['.text', f'.type {symbol}, %function', f'{symbol}: bx lr']
    script, previous = [], None
    for version in sorted(nodes, key=version_key):
        body = ' '.join(f'{s};' for s in nodes[version])
        script.append(f'{version} {{ global: {body} }}{" " + previous if previous else ""};')
        previous = version
    base = os.path.join(out_dir, name)
    with open(base + '.S', 'w') as f:
        f.write('\n'.join(asm) + '\n')
    with open(base + '.map', 'w') as f:
        f.write('\n'.join(script) + '\n')
    subprocess.run([cc, '-shared', '-nostdlib', '-o', base, base + '.S',
                    f'-Wl,-soname,{name}', f'-Wl,--version-script={base}.map'], check=True)
    return name


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--limit', required=True)
    parser.add_argument('--cc', required=True)
    parser.add_argument('out')
    parser.add_argument('libraries', nargs='+')
    args = parser.parse_args()
    limit = tuple(int(p) for p in args.limit.split('.'))
    os.makedirs(args.out, exist_ok=True)
    loader = None
    for library in args.libraries:
        name = write_stub(library, limit, args.out, args.cc)
        if name.startswith('ld-'):
            loader = os.path.join(args.out, name)
    # The names the linker looks for (-lc, -lm...): the C library's with the
    # static part that comes with it, as the C library's own libc.so does.
    for library in args.libraries:
        name = soname(library)
        if name.startswith('ld-'):
            continue
        stub = os.path.join(args.out, name)
        with open(os.path.join(args.out, name.split('.so')[0] + '.so'), 'w') as f:
            if name == 'libc.so.6':
                static = os.path.join(os.path.dirname(library), 'libc_nonshared.a')
                f.write(f'GROUP ( {stub} {static} AS_NEEDED ( {loader} ) )\n')
            else:
                f.write(f'INPUT ( {stub} )\n')


if __name__ == '__main__':
    main()
