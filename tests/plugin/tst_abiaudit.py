#!/usr/bin/env python3
"""Tests of abiaudit.py: its parts on made-up input, and the whole audit on
badmodule, a module built of faults that the e-reader cannot load.

    python3 tst_abiaudit.py BADMODULE [unittest options]
"""

import os
import re
import struct
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.dont_write_bytecode = True    # no __pycache__ in the source tree
import abiaudit  # noqa: E402

BAD_MODULE = None


class Flags:
    """The flag typedefs normalize() resolves, as QtDocs reads them."""
    flags = {'QIODevice::OpenMode': 'OpenModeFlag', 'OpenMode': 'OpenModeFlag',
             'Qt::WindowFlags': 'WindowType', 'WindowFlags': 'WindowType'}


def norm(params, scope='', bits64=False):
    return abiaudit.normalize(params, scope, Flags, bits64)


class Signatures(unittest.TestCase):
    def test_documented_and_demangled_forms_agree(self):
        for scope, documented, demangled in [
                ('QLabel', 'const QString &text, int n = 0', 'QString const&, int'),
                ('QFile', 'QIODevice::OpenMode mode', 'QFlags<QIODevice::OpenModeFlag>'),
                ('QIODevice', 'OpenMode mode = ReadWrite', 'QFlags<QIODevice::OpenModeFlag>'),
                ('QWidget', 'QWidget *parent = nullptr, Qt::WindowFlags f = Qt::WindowFlags()',
                 'QWidget*, QFlags<Qt::WindowType>'),
                ('QIODevice', 'const char *data, qint64 maxSize', 'char const*, long long'),
                ('QPainter', 'qreal sx, qreal sy', 'double, double'),
                ('QDateTime', 'uint seconds', 'unsigned int'),
                ('QPushButton', 'QPaintEvent *', 'QPaintEvent*'),
                ('QString', 'Qt::CaseSensitivity cs = Qt::CaseSensitive', 'Qt::CaseSensitivity'),
                ('', 'const QObject *parent, QList<void *> *list', 'QObject const*, QList<void*>*'),
                ('QTimer', '', 'QTimer::QPrivateSignal'),
                ('QWidget', 'void', '')]:
            with self.subTest(documented):
                self.assertEqual(norm(documented, scope), norm(demangled, scope))

    def test_overloads_stay_apart(self):
        for one, other in [('QLatin1String s', 'QString const&'),
                           ('int', 'unsigned int'),
                           ('const QString &', 'QString&'),
                           ('QChar *', 'QChar const*'),
                           ('qint64 n', 'int'),
                           ('int, int', 'int')]:
            with self.subTest(one=one, other=other):
                self.assertNotEqual(norm(one), norm(other))

    def test_size_types_follow_the_word_size(self):
        self.assertEqual(norm('qsizetype n'), norm('int'))
        self.assertEqual(norm('qsizetype n', bits64=True), norm('long', bits64=True))

    def test_demangled_names_split_into_name_parameters_and_constness(self):
        for demangled, expected in [
                ('QString::arg(QLatin1String, int, QChar) const',
                 ('QString::arg', 'QLatin1String, int, QChar', True)),
                ('QTextStream::operator<<(QString const&)',
                 ('QTextStream::operator<<', 'QString const&', False)),
                ('non-virtual thunk to QWidget::devType() const', ('QWidget::devType', '', True)),
                ('QHashData::free_helper(void (*)(QHashData::Node*))',
                 ('QHashData::free_helper', 'void (*)(QHashData::Node*)', False)),
                ('QString::toLower() &&', ('QString::toLower', '', False)),
                ('QArrayData::shared_null', ('QArrayData::shared_null', None, False)),
                ('typeinfo for QWidget', ('typeinfo for QWidget', None, False))]:
            with self.subTest(demangled):
                self.assertEqual(abiaudit.parse_demangled(demangled), expected)


# Two pages in the markup of Qt's HTML reference: a class from Qt 5.10, and an
# old class with overloads, a property and a flag typedef of different ages.
PAGES = {
    'qnew.html': '''<h1 class="title">QNew Class</h1>
<p>This class was introduced in Qt 5.10.</p>
<!-- $$$QNew[overload1]$$$QNew -->
<h3 class="fn" id="QNew"><a name="QNew"></a>QNew::<span class="name">QNew</span>()</h3>
<!-- @@@QNew -->''',
    'qold.html': '''<h1 class="title">QOld Class</h1>
<!-- $$$Mode -->
<p>The Modes type is a typedef for <a href="qflags.html">QFlags</a>&lt;Mode&gt;.</p>
<!-- $$$set[overload1]$$$setint -->
<h3 class="fn" id="set"><a name="set"></a><span class="type">void</span> QOld::<span class="name">set</span>(<span class="type">int</span> <i>n</i>)</h3>
<!-- @@@set -->
<!-- $$$set$$$setconstQString& -->
<h3 class="fn" id="set-1"><a name="set-1"></a><code>[slot] </code><span class="type">void</span> QOld::<span class="name">set</span>(const <span class="type"><a href="qstring.html">QString</a></span> &amp;<i>s</i>, <span class="type">QOld::Modes</span> <i>m</i> = Modes())</h3>
<p>This function was introduced in Qt 5.6.</p>
<!-- @@@set -->
<!-- $$$size[overload1]$$$size -->
<h3 class="fn" id="size"><a name="size"></a><span class="type">int</span> QOld::<span class="name">size</span>() const</h3>
<!-- @@@size -->
<!-- $$$value-prop$$$value$$$setValueint -->
<h3 class="fn" id="value-prop"><a name="value-prop"></a><span class="name">value</span> : <span class="type">int</span></h3>
<p>This property was introduced in Qt 5.3.</p>
<tr><td class="memItemLeft topAlign rightAlign"> void </td><td class="memItemRight bottomAlign"><span class="name"><b>setValue</b></span>(<i>int</i>)</td></tr>
<!-- @@@value -->'''}


class Documentation(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tree = tempfile.TemporaryDirectory()
        os.mkdir(os.path.join(cls.tree.name, 'qtcore'))
        for name, text in PAGES.items():
            with open(os.path.join(cls.tree.name, 'qtcore', name), 'w') as f:
                f.write(text)
        cls.docs = abiaudit.QtDocs(cls.tree.name, False)

    @classmethod
    def tearDownClass(cls):
        cls.tree.cleanup()

    def test_each_overload_has_its_own_version(self):
        old, missing = (0,), None
        for demangled, expected in [
                ('QOld::set(int)', (old, None)),
                ('QOld::set(QString const&, QFlags<QOld::Mode>)', ((5, 6), None)),
                ('QOld::setValue(int)', ((5, 3), None)),
                ('QOld::size() const', (old, None)),
                ('QOld::size()', (missing, '1 documented overload(s) of QOld::size, '
                                           'none with this signature')),
                ('QOld::set(double)', (missing, '2 documented overload(s) of QOld::set, '
                                                'none with this signature')),
                ('QOld::reset()', (missing, 'not documented'))]:
            with self.subTest(demangled):
                self.assertEqual(self.docs.lookup(demangled), expected)

    def test_classes_newer_than_qt_5_2_are_found_anywhere_in_a_symbol(self):
        for demangled, expected in [('QNew::QNew()', [('QNew', (5, 10))]),
                                    ('QOld::take(QNew const&)', [('QNew', (5, 10))]),
                                    ('typeinfo for QNew', [('QNew', (5, 10))]),
                                    ('QOld::set(int)', [])]:
            with self.subTest(demangled):
                self.assertEqual(self.docs.too_new_classes(demangled), expected)


    def test_the_reviewed_list_hides_neither_new_classes_nor_private_api(self):
        module = FakeModule([])
        module.imports = [('_ZN4QOld3setEi', 'Qt_5', None), ('_ZN4QOld5resetEv', 'Qt_5', None),
                          ('_ZN4QOld4takeERK4QNew', 'Qt_5', None),
                          ('_ZN4QOld5clearEv', 'Qt_5_PRIVATE_API', None),
                          ('_ZN4QOld3setEd', None, 'libQt5Core.so.5'),
                          ('getrandom', 'GLIBC_2.25', 'libc.so.6')]
        findings, summary = abiaudit.check_qt_imports(
            module, self.docs, ['QOld::reset()', 'QOld::take(*)', 'QOld::clear()'])
        self.assertEqual(summary, '5 imports: 1 documented as in Qt 5.2 or older, '
                                  '1 undocumented and reviewed')
        self.assertEqual([re.sub(r'  \[.*\]', '', f) for f in findings], [
            'QOld::clear(): private Qt API, which changes with every Qt release',
            'QOld::set(double): 2 documented overload(s) of QOld::set, none with this '
            'signature, and not in qt-undocumented.txt',
            'QOld::take(QNew const&): class QNew was introduced in Qt 5.10'])


class FakeModule:
    def __init__(self, versions):
        self.needs = {i: ('lib.so', v) for i, v in enumerate(versions, 2)}
        self.imports = [(f'uses_{v}', v, 'lib.so') for v in versions]


class SymbolVersions(unittest.TestCase):
    def test_only_versions_the_reader_has_pass(self):
        for version, passes in [('GLIBC_2.4', True), ('GLIBC_2.19', True), ('GLIBC_2.20', False),
                                ('GLIBC_2.34', False), ('GLIBC_PRIVATE', False),
                                ('GLIBCXX_3.4.20', True), ('GLIBCXX_3.4.21', False),
                                ('CXXABI_1.3.8', True), ('CXXABI_1.3.9', False),
                                ('CXXABI_ARM_1.3.3', True), ('GCC_3.5', True),
                                ('GCC_4.8.0', True), ('GCC_7.0.0', False), ('Qt_5', True),
                                ('Qt_5.2', True), ('Qt_5.15', False),
                                ('Qt_5_PRIVATE_API', False), ('ZLIB_1.2.9', False)]:
            with self.subTest(version):
                findings, _ = abiaudit.check_versions(FakeModule(['GLIBC_2.4', version]))
                self.assertEqual(findings == [], passes, findings)
                if not passes:
                    self.assertIn(f'needed by: uses_{version}', findings[0])


def qbjs(value):
    """Qt 5's binary JSON of a flat object of ints, bools and Latin-1 strings."""
    entries = []
    for key, item in value.items():
        name = struct.pack('<H', len(key)) + key.encode('latin-1')
        name += b'\0' * (-len(name) % 4)
        entries.append([key, item, name])
    offset = 12 + sum(4 + len(name) for _, _, name in entries)
    body, table, tail = b'', [], b''
    for key, item, name in entries:
        if isinstance(item, bool):
            word = 1 | item << 5
        elif isinstance(item, int):
            word = 2 | 1 << 3 | (item & 0x7ffffff) << 5
        else:
            text = struct.pack('<H', len(item)) + item.encode('latin-1')
            word = 3 | 1 << 3 | (offset + len(tail)) << 5
            tail += text + b'\0' * (-len(text) % 4)
        table.append(12 + len(body))
        body += struct.pack('<I', word | 1 << 4) + name
    table_at = offset + len(tail)
    base = body + tail + struct.pack(f'<{len(table)}I', *table)
    base = struct.pack('<III', 12 + len(base), len(table) << 1 | 1, table_at) + base
    return b'qbjs' + struct.pack('<I', 1) + base


GOOD = {'IID': 'org.qt-project.Qt.QImageIOHandlerFactoryInterface',
        'className': 'ZorviImagePlugin', 'debug': True, 'version': 0x050201}


class Metadata(unittest.TestCase):
    def test_only_qt5_binary_json_of_qt_5_2_1_passes(self):
        magic = abiaudit.METADATA_MAGIC
        for name, block, finding in [
                ('good', magic + qbjs(GOOD), None),
                ('newer moc', magic + qbjs(dict(GOOD, version=0x050f08)), 'Qt version 0x050f08'),
                ('no IID', magic + qbjs({k: v for k, v in GOOD.items() if k != 'IID'}), 'no IID'),
                ('binary JSON 2', magic + qbjs(GOOD)[:4] + b'\2\0\0\0' + qbjs(GOOD)[8:],
                 'binary JSON version 2'),
                ('Qt 5.15 CBOR', b'QTMETADATA !\0\5\x0f\0\xbf\2\x78\x31',
                 'CBOR written by the moc of Qt 5.15'),
                ('other', b'QTMETADATA  qbj', 'not Qt 5 binary JSON'),
                ('truncated', magic + qbjs(GOOD)[:40], 'malformed binary JSON'),
                ('missing', None, 'no .qtmetadata section')]:
            with self.subTest(name):
                findings, summary = abiaudit.check_metadata(block)
                if finding is None:
                    self.assertEqual(findings, [])
                    self.assertIn('Qt 0x050201', summary)
                else:
                    self.assertEqual(len(findings), 1, findings)
                    self.assertIn(finding, findings[0])


class Allowlist(unittest.TestCase):
    def test_every_pattern_needs_a_reason(self):
        with tempfile.NamedTemporaryFile('w', suffix='.txt') as f:
            f.write('# reason\nA::a()\n\nB::b()\n')
            f.flush()
            with self.assertRaisesRegex(SystemExit, 'pattern without a reason'):
                abiaudit.read_allowlist(f.name)


class BadModule(unittest.TestCase):
    """The whole audit, as CTest runs it, on a module with one fault of each
    kind: it must fail and name each fault."""

    @classmethod
    def setUpClass(cls):
        done = subprocess.run([sys.executable, os.path.join(HERE, 'abiaudit.py'), '--device',
                               BAD_MODULE], capture_output=True, text=True)
        cls.status, cls.report = done.returncode, done.stdout + done.stderr
        print(cls.report, file=sys.stderr)

    def test_fails(self):
        self.assertEqual(self.status, 1)
        self.assertRegex(self.report, r'\naudit failed: 0 of 4 checks passed\n')

    def test_names_each_fault(self):
        for fault in [
                r'FAIL  symbol versions: .*\n(?: +- .*\n)*'
                r' +- GLIBC_2\.25 \(newer than GLIBC_2\.19\), needed by: (?:.*, )?getrandom\b',
                r'FAIL  Qt 5\.2 imports: .*\n(?: +- .*\n)*'
                r' +- QDateTime::currentSecsSinceEpoch\(\)  \[\S+\]: introduced in Qt 5\.8\n',
                r'\n +- QOperatingSystemVersion::current\(\)  \[\S+\]: '
                r'class QOperatingSystemVersion was introduced in Qt 5\.9\n',
                r'\n +- QJsonValue::toString\(\) const  \[\S+\]: not exported by Qt 5\.2; ',
                r'FAIL  exports: .*\n(?: +- .*\n)* +- exports zorvi_bad_export\n',
                r'FAIL  plugin metadata: .*\n +- CBOR written by the moc of Qt 5\.15, '
                r'which Qt 5\.2 cannot read\n']:
            with self.subTest(fault):
                self.assertRegex(self.report, fault)

    def test_old_imports_are_not_faults(self):
        for symbol in ['QImageIOPlugin::QImageIOPlugin(QObject*)', 'qt_plugin_instance']:
            with self.subTest(symbol):
                self.assertNotRegex(self.report, r'- ' + re.escape(symbol))


if __name__ == '__main__':
    if len(sys.argv) < 2 or not os.path.isfile(sys.argv[1]):
        sys.exit('usage: tst_abiaudit.py BADMODULE [unittest options]')
    BAD_MODULE = sys.argv.pop(1)
    unittest.main()
