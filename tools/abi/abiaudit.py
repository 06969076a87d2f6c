#!/usr/bin/env python3
"""ABI audit of the Zorvi image-format module, or of a program that runs
beside it (zorvid), against the reader's own Qt.

    python3 abiaudit.py [--device] [--program] --qt QT_LIB_DIR FILE

The e-reader runs glibc 2.19, a GCC 4.9 C++ runtime and its maker's Qt 5.2.1.
A module that asks for anything they lack fails to load there, and Qt's
plugin loader gives up on it without running a line of our code, so the
checks below look at the file alone:

  1. symbol versions (--device only): every version of the C library and the
     C++ runtime that the module needs exists on the reader;
  2. Qt imports: every other symbol the module takes from outside is exported
     by the Qt libraries in QT_LIB_DIR, the reader's Qt 5.2.1 built from its
     maker's source for the same processor;
  3. exports: only the two entry points Qt's plugin loader looks up;
  4. plugin metadata: Qt 5's binary JSON with the Qt version 5.2.1, which is
     what the reader's loader parses and accepts.

A program (--program) is checked for 1 and 2, and instead of 3 and 4 for
what starts it on the reader (--device only): the reader's dynamic loader,
and the reader's Qt found where the reader keeps it, with no environment.

Prints a short report and exits 1 if any check fails, 2 if it cannot audit.
"""

import argparse
import os
import re
import struct
import subprocess
import sys

# The newest version of each family of the C library and the C++ runtime
# that the reader's libraries define. libgcc_s of GCC 4.9 stops at GCC_4.8.0;
# ARM's CXXABI_ARM family at 1.3.3. GLIBC_PRIVATE is never there to rely on.
# The libraries the reader has for the module to need: its C library and C++
# runtime, and the Qt modules Nickel loads.
READER_LIBRARIES = r'(libc|libm|libdl|libpthread|librt|libgcc_s)\.so\.[0-9]+|libstdc\+\+\.so\.6' \
                   r'|libQt5(Core|Gui|Widgets|Network)\.so\.5|ld-linux-armhf\.so\.3'
# The thread functions that glibc 2.19's libc forwards to libpthread; every
# other one is in libpthread alone, which must then be needed by name.
LIBC_PTHREAD_FORWARDERS = {
    'pthread_attr_destroy', 'pthread_attr_init', 'pthread_attr_getdetachstate',
    'pthread_attr_setdetachstate', 'pthread_attr_getinheritsched', 'pthread_attr_setinheritsched',
    'pthread_attr_getschedparam', 'pthread_attr_setschedparam', 'pthread_attr_getschedpolicy',
    'pthread_attr_setschedpolicy', 'pthread_attr_getscope', 'pthread_attr_setscope',
    'pthread_condattr_destroy', 'pthread_condattr_init', 'pthread_cond_broadcast',
    'pthread_cond_destroy', 'pthread_cond_init', 'pthread_cond_signal', 'pthread_cond_wait',
    'pthread_cond_timedwait', 'pthread_equal', 'pthread_exit', 'pthread_getschedparam',
    'pthread_setschedparam', 'pthread_mutex_destroy', 'pthread_mutex_init', 'pthread_mutex_lock',
    'pthread_mutex_unlock', 'pthread_self', 'pthread_setcancelstate', 'pthread_setcanceltype'}
READER_LOADER = '/lib/ld-linux-armhf.so.3'
READER_QT_DIR = '/usr/local/Qt-5.2.1-arm/lib'
VERSION_LIMITS = {'GLIBC': (2, 19), 'GLIBCXX': (3, 4, 20), 'CXXABI': (1, 3, 8),
                  'CXXABI_ARM': (1, 3, 3), 'GCC': (4, 8, 0)}
METADATA_MAGIC = b'QTMETADATA  '
QT_PLUGIN_VERSION = 0x050201
ENTRY_POINTS = ['qt_plugin_instance', 'qt_plugin_query_metadata']


def run(*cmd, text_in=None):
    env = dict(os.environ, LC_ALL='C')
    return subprocess.run(cmd, input=text_in, capture_output=True, text=True,
                          check=True, env=env).stdout


def version_tuple(text):
    return tuple(int(part) for part in text.split('.'))


def dotted(version):
    return '.'.join(map(str, version))


def split_version(name):
    """'GLIBCXX_3.4.20' -> ('GLIBCXX', (3, 4, 20)); None if not FAMILY_N.N."""
    match = re.fullmatch(r'([A-Za-z_]+?)_(\d+(?:\.\d+)*)', name or '')
    return (match.group(1), version_tuple(match.group(2))) if match else None


def is_runtime(version):
    split = split_version(version)
    return (split and split[0] in VERSION_LIMITS) or (version or '').startswith('GLIBC')


class Module:
    """What readelf tells of a shared object: its dynamic symbols, the
    version each import is bound to, its sections and its machine."""

    def __init__(self, path):
        self.path = path
        self.machine = re.search(r'Machine:\s+(.*)', run('readelf', '-h', '-W', path)).group(1)
        dynamic = run('readelf', '-d', '-W', path)
        self.libraries = re.findall(r'\(NEEDED\)\s+Shared library: \[(.*?)\]', dynamic)
        self.runpath = re.findall(r'\((?:RUNPATH|RPATH)\)\s+Library r(?:un)?path: \[(.*?)\]', dynamic)
        interpreter = re.search(r'Requesting program interpreter: (.*?)\]',
                                run('readelf', '-l', '-W', path))
        self.interpreter = interpreter.group(1) if interpreter else None
        self.needs = {}    # version index -> version name
        for line in run('readelf', '-V', '-W', path).splitlines():
            if m := re.search(r'Name: (\S+)\s+Flags: \S+\s+Version: (\d+)', line):
                self.needs[int(m.group(2))] = m.group(1)
        self.imports, self.exports = [], []    # imports: (name, version, weak)
        for line in run('readelf', '--dyn-syms', '-W', path).splitlines():
            fields = line.split()
            if len(fields) < 8 or not fields[0][:-1].isdigit() or fields[4] == 'LOCAL':
                continue
            m = re.fullmatch(r'([^@]+)(?:@@?([^ ]+))?(?: \((\d+)\))?', ' '.join(fields[7:]))
            name, version = m.group(1), m.group(2)
            if fields[6] != 'UND':
                self.exports.append(name)
            else:
                self.imports.append((name, version, fields[4] == 'WEAK'))

    def section(self, name):
        """The bytes of a section, or None if the module has none by that name."""
        out = run('readelf', '-x', name, self.path)
        data = bytearray()
        for line in out.splitlines():   # '  0xADDRESS 4 words of 8 hex digits  ASCII'
            if re.match(r'\s+0x[0-9a-f]+ ', line):
                data += bytes.fromhex(line.split(None, 1)[1][:35].replace(' ', ''))
        return bytes(data) if 'Hex dump' in out else None


def qt_exports(qt_lib_dir, module):
    """Every symbol that the Qt libraries the module needs export, as found
    in the folder, and their names."""
    libraries = [name for name in module.libraries
                 if os.path.isfile(os.path.join(qt_lib_dir, name)) and name.startswith('libQt5')]
    exports = set()
    for name in libraries:
        qt = Module(os.path.join(qt_lib_dir, name))
        if qt.machine != module.machine:
            raise OSError(f'{name} is for {qt.machine}, the module for {module.machine}')
        exports.update(qt.exports)
    return exports, libraries


def demangle(names):
    return run('c++filt', text_in='\n'.join(names) + '\n').splitlines() if names else []


# -------------------------------------------------------------------- checks

def check_versions(module):
    """1. A library or a version the reader lacks makes the dynamic loader
    refuse the whole module, even for a symbol that is never called."""
    findings = [f'needs {name}, which the reader does not have' for name in module.libraries
                if not re.fullmatch(READER_LIBRARIES, name)]
    wanted = sorted({v for v in module.needs.values() if is_runtime(v)})
    for version in wanted:
        split = split_version(version)
        limit = split and VERSION_LIMITS.get(split[0])
        if limit and split[1] <= limit:
            continue
        users = sorted(n for n, v, _ in module.imports if v == version)
        why = f'newer than {split[0]}_{dotted(limit)}' if limit else 'not on the reader'
        findings.append(f'{version} ({why}), needed by: {", ".join(users) or "(no symbol)"}')
    threads = sorted({name for name, version, _ in module.imports
                      if name.startswith('pthread_') and name not in LIBC_PTHREAD_FORWARDERS})
    if threads and 'libpthread.so.0' not in module.libraries:
        findings.append(f'needs libpthread.so.0 for {", ".join(threads)} but does not name it')
    return findings, 'needs ' + ', '.join(wanted)


def check_qt_imports(module, exports, libraries):
    """2. A symbol the reader's Qt does not export fails at load time
    ("undefined symbol"), long before the code that refers to it runs: a
    function added to Qt since 5.2, or one that the headers of a newer Qt
    reach through inline code or a virtual table. Weak references may stay
    unresolved and are left out. The reader's Qt was built by a compiler
    older than the C++11 string of today's C++ runtime, so a Qt function
    that takes or gives one has another name there."""
    qt = [(name, version) for name, version, weak in module.imports
          if not weak and not is_runtime(version)]
    missing = sorted({(name, version) for name, version in qt
                      if name not in exports or 'cxx11' in name})
    findings = [f'{name}  [{mangled}{"@" + version if version else ""}]: '
                'not exported by the reader\'s Qt'
                for (mangled, version), name in zip(missing, demangle([n for n, _ in missing]))]
    return findings, f'{len(qt)} imports, looked up in {", ".join(libraries) or "no Qt library"}'


def check_exports(module):
    """3. Anything else exported could bind to a same-named symbol of the
    reader's application or of another plugin, in either direction."""
    extra = sorted(set(module.exports) - set(ENTRY_POINTS))
    missing = sorted(set(ENTRY_POINTS) - set(module.exports))
    findings = [f'exports {n}' for n in extra] + [f'lacks the entry point {n}' for n in missing]
    return findings, ', '.join(sorted(module.exports))


def check_program(module):
    """3. A program that udev starts on the reader runs with a bare
    environment: the reader's own dynamic loader must start it, and it must
    find the reader's Qt through its run path alone."""
    findings = []
    if module.interpreter != READER_LOADER:
        findings.append(f'asks for the dynamic loader {module.interpreter}, '
                        f'the reader has {READER_LOADER}')
    paths = ':'.join(module.runpath).split(':') if module.runpath else []
    if any(name.startswith('libQt5') for name in module.libraries) and READER_QT_DIR not in paths:
        findings.append(f'finds Qt in {paths or "no run path"}, the reader keeps it in '
                        f'{READER_QT_DIR}')
    return findings, f'{module.interpreter}, run path {":".join(paths) or "none"}'


def qbjs_value(data, base, word):
    kind, small, payload = word & 7, word >> 3 & 1, word >> 5
    if kind == 1:
        return bool(payload)
    if kind == 2:
        return payload - (1 << 27) * (payload >> 26) if small \
            else struct.unpack_from('<d', data, base + payload)[0]
    if kind == 3:
        return qbjs_string(data, base + payload, small)
    if kind in (4, 5):
        return qbjs_container(data, base + payload)
    return None


def qbjs_string(data, at, latin1):
    if latin1:
        (length,) = struct.unpack_from('<H', data, at)
        return data[at + 2:at + 2 + length].decode('latin-1')
    (length,) = struct.unpack_from('<I', data, at)
    return data[at + 4:at + 4 + 2 * length].decode('utf-16-le')


def qbjs_container(data, base):
    """Qt 5's binary JSON: a header word (bit 0 object, bits 1.. length), an
    offset table; an object's table points at entries (a value word then the
    key), an array's table holds the value words themselves."""
    _, header, table = struct.unpack_from('<III', data, base)
    words = struct.unpack_from(f'<{header >> 1}I', data, base + table)
    if not header & 1:
        return [qbjs_value(data, base, w) for w in words]
    result = {}
    for offset in words:
        (word,) = struct.unpack_from('<I', data, base + offset)
        key = qbjs_string(data, base + offset + 4, word >> 4 & 1)
        result[key] = qbjs_value(data, base, word)
    return result


def check_metadata(block):
    """4. Qt 5.2's loader reads the .qtmetadata section as 'QTMETADATA  '
    and binary JSON version 1, and refuses a plugin whose Qt version is
    newer than its own. The moc of Qt 5.15 (and 6) writes 'QTMETADATA !' and
    CBOR instead, which Qt 5.2 cannot read at all."""
    if block is None:
        return ['no .qtmetadata section'], ''
    if block.startswith(b'QTMETADATA !') and len(block) > 14:
        return [f'CBOR written by the moc of Qt {block[13]}.{block[14]}, '
                'which Qt 5.2 cannot read'], 'CBOR'
    if not block.startswith(METADATA_MAGIC + b'qbjs'):
        return [f'not Qt 5 binary JSON: starts with {block[:16]!r}'], ''
    data = block[len(METADATA_MAGIC):]
    try:
        (version,) = struct.unpack_from('<I', data, 4)
        if version != 1:
            return [f'binary JSON version {version}, Qt 5.2 reads version 1'], ''
        meta = qbjs_container(data, 8)
        if not isinstance(meta, dict):
            return ['the metadata is not a JSON object'], ''
    except (struct.error, UnicodeDecodeError, RecursionError) as error:
        return [f'malformed binary JSON ({error})'], ''
    version = meta.get('version')
    shown = f'{version:#08x}' if isinstance(version, int) else repr(version)
    findings = [f'no {key}' for key in ('IID', 'className') if not meta.get(key)]
    if version != QT_PLUGIN_VERSION:
        findings.append(f'Qt version {shown}, the reader needs {QT_PLUGIN_VERSION:#08x}')
    return findings, f'qbjs 1, Qt {shown}, {meta.get("IID")}, {meta.get("className")}'


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n\n')[0])
    parser.add_argument('--device', action='store_true',
                        help='also check the C library and C++ runtime versions (armhf build)')
    parser.add_argument('--qt', required=True, metavar='QT_LIB_DIR',
                        help="the lib folder of the reader's Qt 5.2.1 built for this processor")
    parser.add_argument('--program', action='store_true',
                        help='a program that runs beside Nickel rather than the module')
    parser.add_argument('library')
    # CTest passes an empty argument where the --device expression is false.
    args = parser.parse_args([arg for arg in sys.argv[1:] if arg])
    try:
        module = Module(args.library)
        exports, libraries = qt_exports(args.qt, module)
    except (OSError, subprocess.CalledProcessError) as error:
        reason = getattr(error, 'stderr', None) or str(error)
        print(f'abiaudit: cannot read {args.library}: {reason.strip()}', file=sys.stderr)
        return 2
    if not libraries and not args.program:
        print(f'abiaudit: no Qt libraries in {args.qt}', file=sys.stderr)
        return 2
    checks = []
    if args.device:
        checks.append(('symbol versions', check_versions(module)))
    checks.append(('Qt imports', check_qt_imports(module, exports, libraries)))
    if args.program and args.device:
        checks.append(('start on the reader', check_program(module)))
    elif not args.program:
        checks += [('exports', check_exports(module)),
                   ('plugin metadata', check_metadata(module.section('.qtmetadata')))]

    print(f'ABI audit of {os.path.basename(args.library)} '
          f'({module.machine}, {"device" if args.device else "desktop"} checks, '
          f'Qt of {args.qt})')
    for title, (findings, summary) in checks:
        print(f'  {"FAIL" if findings else "ok  "}  {title}: {summary}')
        for finding in findings:
            print(f'          - {finding}')
    failed = sum(1 for _, (findings, _) in checks if findings)
    print(f'audit {"failed" if failed else "passed"}: '
          f'{len(checks) - failed} of {len(checks)} checks passed')
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main())
