#!/usr/bin/env python3
"""Tests of abiaudit.py: its parts on made-up input, and the whole audit on
badmodule, a module built of faults that the e-reader cannot load.

    python3 tst_abiaudit.py BADMODULE [unittest options]
"""

import os
import re
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
