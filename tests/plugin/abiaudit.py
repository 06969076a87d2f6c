#!/usr/bin/env python3
"""ABI audit of the Zorvi image-format module.

    python3 abiaudit.py [--device] [--docs DIR] [--allow FILE] LIBRARY

The e-reader runs glibc 2.19, a GCC 4.9 C++ runtime and Qt 5.2.1, while the
module is built against Debian 12 and Qt 5.15. A module that asks for anything
newer fails to load there, and Qt's plugin loader gives up on it without
running a line of our code, so the checks below look at the file alone:

  1. symbol versions (--device only): every version the module needs exists
     on the reader;
  2. Qt imports: every Qt function the module calls exists in Qt 5.2, judged
     by Qt's own documentation (qtbase5-doc-html), and what the documentation
     does not cover is listed, with a reason, in qt-undocumented.txt;
  3. exports: only the two entry points Qt's plugin loader looks up;
  4. plugin metadata: Qt 5's binary JSON with the Qt version 5.2.1, which is
     what the reader's loader parses and accepts.

Prints a short report and exits 1 if any check fails, 2 if it cannot audit.
"""

import argparse
import fnmatch
import glob
import html
import os
import re
import struct
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
QT_DOCS = '/usr/share/qt5/doc'
READER_QT = (5, 2)

# The newest version of each family that the reader's libraries define.
# libgcc_s of GCC 4.9 stops at GCC_4.8.0; ARM's CXXABI_ARM family at 1.3.3.
# A family missing here (GLIBC_PRIVATE, Qt_5_PRIVATE_API, another library's)
# is not known to exist on the reader and fails.
VERSION_LIMITS = {'GLIBC': (2, 19), 'GLIBCXX': (3, 4, 20), 'CXXABI': (1, 3, 8),
                  'CXXABI_ARM': (1, 3, 3), 'GCC': (4, 8, 0), 'Qt': READER_QT}

# Documented without a version, yet not exported by Qt 5.2: there they were
# inline, or the overload was split off later. The old form to call instead.
NOT_IN_QT52 = {
    'QString::operator=(QLatin1String)': 'assign QString::fromLatin1() instead',
    'QJsonValue::toString() const': 'call toString(const QString &) instead',
}
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
    match = re.fullmatch(r'([A-Za-z_]+?)_(\d+(?:\.\d+)*)', name)
    return (match.group(1), version_tuple(match.group(2))) if match else None


# ---------------------------------------------------------------- the ELF file

class Module:
    """What readelf tells of a shared object: its dynamic symbols with the
    version and library each import is bound to, and its sections."""

    def __init__(self, path):
        self.path = path
        header = run('readelf', '-h', '-W', path)
        self.bits64 = 'ELF64' in header
        self.machine = re.search(r'Machine:\s+(.*)', header).group(1).strip()
        # Version index -> (library, version name), from the version needs.
        self.needs = {}
        library = None
        for line in run('readelf', '-V', '-W', path).splitlines():
            if m := re.search(r'File: (\S+)', line):
                library = m.group(1)
            elif m := re.search(r'Name: (\S+)\s+Flags: \S+\s+Version: (\d+)', line):
                self.needs[int(m.group(2))] = (library, m.group(1))
        self.imports, self.exports = [], []
        for line in run('readelf', '--dyn-syms', '-W', path).splitlines():
            fields = line.split()
            if len(fields) < 8 or not fields[0][:-1].isdigit() or fields[4] == 'LOCAL':
                continue
            m = re.fullmatch(r'([^@]+)(?:@@?([^ ]+))?(?: \((\d+)\))?', ' '.join(fields[7:]))
            name, version, index = m.group(1), m.group(2), m.group(3)
            if fields[6] != 'UND':
                self.exports.append(name)
                continue
            library = self.needs.get(int(index), (None, None))[0] if index else None
            self.imports.append((name, version, library))

    def section(self, name):
        """The bytes of a section, or None if the module has none by that name."""
        out = run('readelf', '-x', name, self.path)
        data = bytearray()
        for line in out.splitlines():   # '  0xADDRESS 4 words of 8 hex digits  ASCII'
            if re.match(r'\s+0x[0-9a-f]+ ', line):
                data += bytes.fromhex(line.split(None, 1)[1][:35].replace(' ', ''))
        return bytes(data) if 'Hex dump' in out else None


def demangle(names):
    return run('c++filt', text_in='\n'.join(names) + '\n').splitlines()


# ------------------------------------------------------ signatures, both sides

def typedefs(bits64):
    """Qt's typedefs as the documentation writes them -> the types in symbols."""
    size = 'long' if bits64 else 'int'
    return {'qint8': 'signed_char', 'quint8': 'unsigned_char', 'uchar': 'unsigned_char',
            'qint16': 'short', 'quint16': 'unsigned_short', 'ushort': 'unsigned_short',
            'qint32': 'int', 'quint32': 'unsigned_int', 'uint': 'unsigned_int',
            'QRgb': 'unsigned_int', 'ulong': 'unsigned_long', 'qreal': 'double',
            'qint64': 'long_long', 'qlonglong': 'long_long',
            'quint64': 'unsigned_long_long', 'qulonglong': 'unsigned_long_long',
            'qsizetype': size, 'qptrdiff': size, 'qintptr': size,
            'quintptr': 'unsigned_' + size, 'WId': 'unsigned_' + size}


BUILTIN = re.compile(r'\b(?:(?:unsigned|signed) (?:char|short|int|long long|long)|long long'
                     r'|long double)\b')
NAME = re.compile(r'(?!const$|volatile$)[A-Za-z_]\w*')
TYPE = re.compile(r'(?!const$|volatile$)[A-Za-z_]\w*(?:::\w+)*')
TOKEN = re.compile(r'[A-Za-z_~]\w*(?:::[A-Za-z_~]\w*)*|&&|\.\.\.|\S')


def split_top(text, sep):
    """Splits at separators outside <...> and (...)."""
    parts, depth, start = [], 0, 0
    for i, c in enumerate(text):
        depth += c in '<(' and 1 or c in '>)' and -1 or 0
        if c == sep and depth == 0:
            parts.append(text[start:i])
            start = i + 1
    return parts + [text[start:]]


def normalize(params, scope, docs, bits64):
    """A parameter list ('const QString &a = QString()', or c++filt's 'QString
    const&') as a tuple of comparable strings: no names or defaults, typedefs
    resolved, const after the type, and no scopes, since the documentation
    qualifies names inconsistently. Qt's QPrivateSignal tag is dropped: the
    documentation shows private signals without it."""
    aliases = typedefs(bits64)
    result = []
    for param in split_top(params, ','):
        param = split_top(param, '=')[0].strip()
        param = BUILTIN.sub(lambda m: m.group(0).replace(' ', '_'), param)
        tokens = TOKEN.findall(param)
        if len(tokens) > 1 and NAME.fullmatch(tokens[-1]) and (
                tokens[-2] in '*&&>' or TYPE.fullmatch(tokens[-2])):
            tokens.pop()                  # a parameter name, not a type
        tokens, named = [], tokens
        for token in named:
            token = aliases.get(token, token)
            flags = docs.flags.get(scope + '::' + token) or docs.flags.get(token)
            tokens += ['QFlags', '<', flags, '>'] if flags else [token]
        out, i = [], 0
        while i < len(tokens):
            if tokens[i] == 'const' and i + 1 < len(tokens) and tokens[i + 1][0].isalpha():
                j, depth = i + 2, 0       # move a leading const after its type
                while j < len(tokens) and (depth or tokens[j] == '<'):
                    depth += (tokens[j] == '<') - (tokens[j] == '>')
                    j += 1
                out += tokens[i + 1:j] + ['const']
                i = j
            else:
                out.append(tokens[i])
                i += 1
        text = ' '.join(t.rsplit('::', 1)[-1] for t in out)
        if text and text != 'void' and text != 'QPrivateSignal':
            result.append(text)
    return tuple(result)


def parse_demangled(text):
    """'QString::arg(QLatin1String, int, QChar) const' ->
    ('QString::arg', 'QLatin1String, int, QChar', True); params is None for
    a variable."""
    text = re.sub(r'^(?:non-virtual |virtual |covariant return )thunk to ', '', text)
    if not re.search(r'\)(?: const)?(?: &&?)?$', text):
        return text, None, False
    end = text.rindex(')')
    depth = 0
    for start in range(end, -1, -1):
        depth += (text[start] == ')') - (text[start] == '(')
        if depth == 0:
            break
    return text[:start], text[start + 1:end], text[end + 1:].strip().startswith('const')


# ------------------------------------------------------- Qt's documentation

class QtDocs:
    """What Qt's HTML reference says of each class and function: the Qt
    version that introduced it, if any (none means it predates Qt 5.0)."""

    def __init__(self, root, bits64):
        self.classes = {}     # 'QStringView' -> (5, 10)
        self.functions = {}   # 'QString::arg' -> [(params or None, const, version)]
        self.flags = {}       # 'QIODevice::OpenMode' and 'OpenMode' -> 'OpenModeFlag'
        self.bits64 = bits64
        pages = [p for p in glob.glob(os.path.join(root, '*', '*.html'))
                 if not p.endswith('-members.html')]
        texts = []
        for page in pages:
            with open(page, encoding='utf-8', errors='replace') as f:
                text = f.read()
            texts.append((self._scope(text), text))
        # Flag typedefs first: function signatures are read in their terms.
        for scope, text in texts:
            for name, enum in re.findall(r'The (\w+) type is a typedef for '
                                         r'<a [^>]*>QFlags</a>&lt;(\w+)&gt;', text):
                self.flags[f'{scope}::{name}'] = enum
                self.flags.setdefault(name, enum)
        for scope, text in texts:
            self._read(scope, text)

    @staticmethod
    def _scope(text):
        """The class a page documents: the most frequent owner of its functions."""
        names = [re.search(r'[\w:]*$', text[max(0, at - 100):at]).group(0)
                 for at in (m.start() for m in re.finditer('::<span class="name">', text))]
        if names:
            return max(set(names), key=names.count)
        m = re.search(r'<h1 class="title">(\w+) (?:Class|Namespace|Struct)</h1>', text)
        return m.group(1) if m else ''

    def _read(self, scope, text):
        introduced = r'This %s was introduced in Qt (\d+\.\d+)'
        if m := re.search(introduced % '(?:class|namespace|struct)', text):
            self.classes[scope] = version_tuple(m.group(1))
        for block in text.split('<!-- $$$')[1:]:
            m = re.search(introduced % '(?:function|property)', block)
            version = version_tuple(m.group(1)) if m else None
            for head in re.findall(r'<h3 class="fn[^"]*" id="[^"]*">(.*?)</h3>', block):
                head = re.sub(r'<code>\[.*?\] </code>', '', head)
                m = re.search(r'^(.*)<span class="name">(.*?)</span>(.*)$', head)
                if not m:
                    continue
                prefix = html.unescape(re.sub(r'<[^>]+>', '', m.group(1))).split()
                owner = prefix[-1].lstrip('&*') if prefix else ''
                name = owner + html.unescape(m.group(2))
                rest = html.unescape(re.sub(r'<[^>]+>', '', m.group(3)))
                if rest.startswith(' : '):              # a property: its accessors
                    for acc, params, quals in re.findall(
                            r'<span class="name"><b>(\w+)</b></span>\((.*?)\)(.*?)</td>', block):
                        params = html.unescape(re.sub(r'<[^>]+>', '', params))
                        self._add(f'{scope}::{acc}', scope, params, 'const' in quals, version)
                elif rest.startswith('('):
                    params, quals = self._parens(rest)
                    self._add(name, name.rpartition('::')[0], params, 'const' in quals, version)
                else:
                    self._add(name, '', None, False, version)

    @staticmethod
    def _parens(text):
        depth = 0
        for i, c in enumerate(text):
            depth += (c == '(') - (c == ')')
            if depth == 0:
                return text[1:i], text[i + 1:]
        return text[1:], ''

    def _add(self, name, scope, params, const, version):
        if params is not None:
            params = normalize(params, scope, self, self.bits64)
        self.functions.setdefault(name, []).append((params, const, version))

    def lookup(self, demangled):
        """(version or None, None) for a documented symbol; (None, why) if the
        documentation does not cover it."""
        name, params, const = parse_demangled(demangled)
        entries = self.functions.get(name, [])
        if params is None:
            matches = [e for e in entries if e[0] is None]
        else:
            params = normalize(params, name.rpartition('::')[0], self, self.bits64)
            matches = [e for e in entries if e[0] == params and e[1] == const]
        if matches:
            return min((m[2] or (0,) for m in matches)), None
        if entries:
            return None, (f'{len(entries)} documented overload(s) of {name}, '
                          'none with this signature')
        return None, 'not documented'

    def too_new_classes(self, demangled):
        """The classes named in a symbol (its scope, its parameter types)
        that Qt 5.2 does not have."""
        names = {'::'.join(parts[:i]) for token in TOKEN.findall(demangled)
                 for parts in [token.split('::')] for i in range(1, len(parts) + 1)}
        return sorted((c, self.classes[c]) for c in names
                      if self.classes.get(c, (0,)) > READER_QT)


def read_allowlist(path):
    """The reviewed undocumented imports: shell patterns matched against the
    demangled name, in groups separated by blank lines, each group led by a
    '#' line that says why its symbols exist in Qt 5.2."""
    patterns, reason = [], None
    with open(path, encoding='utf-8') as f:
        for number, line in enumerate(f, 1):
            line = line.strip()
            if not line:
                reason = None
            elif line.startswith('#'):
                reason = line.lstrip('# ')
            elif reason is None:
                raise SystemExit(f'{path}:{number}: pattern without a reason above it')
            else:
                patterns.append(line)
    return patterns


# -------------------------------------------------------------------- checks

def check_versions(module):
    """1. A version the reader's libraries lack makes the dynamic loader
    refuse the whole module, even for a symbol that is never called."""
    findings, wanted = [], sorted({v for _, v in module.needs.values()})
    for version in wanted:
        split = split_version(version)
        limit = split and VERSION_LIMITS.get(split[0])
        if limit and split[1] <= limit:
            continue
        users = sorted(n for n, v, _ in module.imports if v == version)
        why = f'newer than {split[0]}_{dotted(limit)}' if limit else 'not on the reader'
        findings.append(f'{version} ({why}), needed by: {", ".join(users) or "(no symbol)"}')
    return findings, 'needs ' + ', '.join(wanted)


def check_qt_imports(module, docs, allowed):
    """2. Qt 5.2 lacks every function added since; a call to one fails at load
    time ("undefined symbol"), long before the code that makes it runs."""
    qt = [(n, v) for n, v, lib in module.imports
          if (v or '').startswith('Qt_') or (lib or '').startswith('libQt')]
    findings, documented, reviewed = [], 0, 0
    for (mangled, version), name in sorted(zip(qt, demangle([n for n, _ in qt])),
                                           key=lambda pair: pair[1]):
        problems = [f'class {cls} was introduced in Qt {dotted(since)}'
                    for cls, since in docs.too_new_classes(name)]
        if version and 'PRIVATE' in version:
            problems.append('private Qt API, which changes with every Qt release')
        introduced, why = docs.lookup(name)
        if name in NOT_IN_QT52:
            problems.append(f'not exported by Qt 5.2; {NOT_IN_QT52[name]}')
        elif introduced and introduced > READER_QT:
            problems.append(f'introduced in Qt {dotted(introduced)}')
        elif why and not any(fnmatch.fnmatchcase(name, p) for p in allowed):
            problems.append(f'{why}, and not in qt-undocumented.txt')
        if problems:
            findings.append(f'{name}  [{mangled}@{version}]: ' + '; '.join(problems))
        elif why:
            reviewed += 1
        else:
            documented += 1
    summary = (f'{len(qt)} imports: {documented} documented as in Qt 5.2 or older, '
               f'{reviewed} undocumented and reviewed')
    return findings, summary


def check_exports(module):
    """3. Anything else exported could bind to a same-named symbol of the
    reader's application or of another plugin, in either direction."""
    extra = sorted(set(module.exports) - set(ENTRY_POINTS))
    missing = sorted(set(ENTRY_POINTS) - set(module.exports))
    findings = [f'exports {n}' for n in extra] + [f'lacks the entry point {n}' for n in missing]
    return findings, ', '.join(sorted(module.exports))


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
    CBOR instead, which Qt 5.2 cannot read at all; zorvi-metadata writes the
    old block in its place."""
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
                        help='also check symbol versions against the reader (armhf build)')
    parser.add_argument('--docs', default=QT_DOCS, help='Qt 5 HTML documentation')
    parser.add_argument('--allow', default=os.path.join(HERE, 'qt-undocumented.txt'))
    parser.add_argument('library')
    # CTest passes an empty argument where the --device expression is false.
    args = parser.parse_args([arg for arg in sys.argv[1:] if arg])
    if not os.path.isfile(os.path.join(args.docs, 'qtcore', 'qstring.html')):
        print(f'abiaudit: no Qt documentation in {args.docs} (install qtbase5-doc-html)',
              file=sys.stderr)
        return 2
    try:
        module = Module(args.library)
    except (OSError, subprocess.CalledProcessError) as error:
        reason = getattr(error, 'stderr', None) or str(error)
        print(f'abiaudit: cannot read {args.library}: {reason.strip()}', file=sys.stderr)
        return 2
    docs = QtDocs(args.docs, module.bits64)
    checks = []
    if args.device:
        checks.append(('symbol versions', check_versions(module)))
    checks += [('Qt 5.2 imports', check_qt_imports(module, docs, read_allowlist(args.allow))),
               ('exports', check_exports(module)),
               ('plugin metadata', check_metadata(module.section('.qtmetadata')))]

    print(f'ABI audit of {os.path.basename(args.library)} '
          f'({module.machine}, {"device" if args.device else "desktop"} checks)')
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
