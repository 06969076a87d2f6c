#!/usr/bin/env python3
"""Tests of abiaudit.py: its version limits on made-up input, and the whole
audit on badmodule, a module built of faults that the e-reader cannot load.

    python3 tst_abiaudit.py QT_LIB_DIR BADMODULE [unittest options]
"""

import os
import re
import subprocess
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.dont_write_bytecode = True    # no __pycache__ in the source tree
import abiaudit  # noqa: E402

QT_LIB_DIR = BAD_MODULE = None


class FakeModule:
    def __init__(self, versions):
        self.libraries = ["libc.so.6"]
        self.needs = {i: v for i, v in enumerate(versions, 2)}
        self.imports = [(f'uses_{v}', v, False) for v in versions]


class SymbolVersions(unittest.TestCase):
    def test_only_versions_the_reader_has_pass(self):
        for version, passes in [('GLIBC_2.4', True), ('GLIBC_2.19', True), ('GLIBC_2.20', False),
                                ('GLIBC_2.34', False), ('GLIBC_PRIVATE', False),
                                ('GLIBCXX_3.4.20', True), ('GLIBCXX_3.4.21', False),
                                ('CXXABI_1.3.8', True), ('CXXABI_1.3.9', False),
                                ('CXXABI_ARM_1.3.3', True), ('GCC_3.5', True),
                                ('GCC_4.8.0', True), ('GCC_7.0.0', False)]:
            with self.subTest(version):
                findings, _ = abiaudit.check_versions(FakeModule(['GLIBC_2.4', version]))
                self.assertEqual(findings == [], passes, findings)
                if not passes:
                    self.assertIn(f'needed by: uses_{version}', findings[0])


    def test_only_libraries_the_reader_has_pass(self):
        module = FakeModule([])
        module.libraries = ['libc.so.6', 'libstdc++.so.6', 'libQt5Widgets.so.5', 'libqrencode.so.4']
        findings, _ = abiaudit.check_versions(module)
        self.assertEqual(findings, ['needs libqrencode.so.4, which the reader does not have'])

    def test_thread_functions_of_libpthread_need_it_named(self):
        for libraries, imports, passes in [
                (['libc.so.6'], ['pthread_mutex_lock'], True),
                (['libc.so.6'], ['pthread_mutex_lock', 'pthread_create'], False),
                (['libc.so.6', 'libpthread.so.0'], ['pthread_create'], True)]:
            with self.subTest(imports=imports, libraries=libraries):
                module = FakeModule([])
                module.libraries = libraries
                module.imports = [(name, 'GLIBC_2.4', False) for name in imports]
                findings, _ = abiaudit.check_versions(module)
                self.assertEqual(findings == [], passes, findings)


class BadModule(unittest.TestCase):
    """The whole audit, as CTest runs it, on a module with one fault of each
    kind: it must fail and name each fault, and nothing else."""

    @classmethod
    def setUpClass(cls):
        done = subprocess.run([sys.executable, os.path.join(HERE, 'abiaudit.py'), '--device',
                               '--qt', QT_LIB_DIR, BAD_MODULE], capture_output=True, text=True)
        cls.status, cls.report = done.returncode, done.stdout + done.stderr
        print(cls.report, file=sys.stderr)

    def test_fails(self):
        self.assertEqual(self.status, 1)
        self.assertRegex(self.report, r'\naudit failed: 0 of 4 checks passed\n')

    def test_names_each_fault_and_nothing_else(self):
        findings = [line.strip() for line in self.report.splitlines()
                    if line.startswith('          - ')]
        self.assertEqual(len(findings), 4, findings)
        for fault in [r'- GLIBC_2\.25 \(newer than GLIBC_2\.19\), needed by: (?:.*, )?getrandom\b',
                      r"- QPushButton::hitButton\(QPoint const&\) const  "
                      r"\[_ZNK11QPushButton9hitButtonERK6QPoint(?:@Qt_5)?\]: "
                      r"not exported by the reader's Qt",
                      r'- exports zorvi_bad_export$',
                      r'- CBOR written by the moc of Qt 5\.15, which Qt 5\.2 cannot read$']:
            with self.subTest(fault):
                self.assertTrue(any(re.match(fault, f) for f in findings), findings)


if __name__ == '__main__':
    if len(sys.argv) < 3 or not os.path.isfile(sys.argv[2]):
        sys.exit('usage: tst_abiaudit.py QT_LIB_DIR BADMODULE [unittest options]')
    QT_LIB_DIR, BAD_MODULE = sys.argv.pop(1), sys.argv.pop(1)
    unittest.main()
