#!/usr/bin/env python3
"""The layer and link checks fail on a planted fault of each kind and pass
a clean tree: each case builds a tiny tree (or two archives) in a temporary
folder and runs the check on it."""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

TOOLS = os.path.dirname(os.path.abspath(__file__))

# Files every layer-check tree holds; all their includes are allowed.
CLEAN_TREE = {
    'runtime/base.h': '#include <string.h>\n#include "runtime/posix/primitive.h"\n',
    'runtime/posix/primitive.h': '#include "runtime/base.h"\n',
    'runtime/containers/table_internal.h': '',
    'runtime/containers/table.cpp': '#include "runtime/containers/table_internal.h"\n#include "table_internal.h"\n',
    'crypto/hash.h': '#include "runtime/base.h"\n#include <runtime/base.h>\n#include "../runtime/base.h"\n',
    'workflow/workflow.h': '#include "crypto/hash.h"\n',
    'tests/support/helper.h': '#include "workflow/workflow.h"\n',
    'tests/runtime/table_test.cpp': '#include "runtime/containers/table_internal.h"\n#include "tests/support/helper.h"\n',
    'fuzz/fuzz_all.cpp': '#include "workflow/workflow.h"\n',
}

# (name, file, text, expected words of the report).
LAYER_FAULTS = [
    ('upward', 'runtime/up.cpp', '#include "workflow/workflow.h"\n', 'workflow/ is above runtime/'),
    ('relative', 'runtime/posix/up.cpp', '#include "../../workflow/workflow.h"\n', 'workflow/ is above runtime/'),
    ('angle', 'crypto/up.cpp', '#include <workflow/workflow.h>\n', 'workflow/ is above crypto/'),
    ('test from source', 'crypto/uses_test.cpp', '#include "tests/support/helper.h"\n', 'includes a test file'),
    ('internal elsewhere', 'workflow/peek.cpp', '#include "runtime/containers/table_internal.h"\n',
     'internal header of runtime/'),
    ('internal from mirror', 'tests/workflow/peek_test.cpp', '#include "runtime/containers/table_internal.h"\n',
     'internal header of runtime/'),
    ('mirror upward', 'tests/crypto/up_test.cpp', '#include "workflow/workflow.h"\n', 'workflow/ is above crypto/'),
]

LINK_LOW = 'int low(void) { return 1; }\n'
LINK_HIGH = 'int low(void);\nint high(void) { return low(); }\n'


def write_tree(root, files):
    for path, text in files.items():
        full = os.path.join(root, path)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, 'w') as handle:
            handle.write(text)


class Checks(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix='check_layers_test.')
        self.addCleanup(shutil.rmtree, self.folder)

    def layer_check(self, files):
        root = os.path.join(self.folder, 'tree')
        shutil.rmtree(root, ignore_errors=True)
        write_tree(root, files)
        return subprocess.run([sys.executable, os.path.join(TOOLS, 'check-layers.py'), '--root', root],
                              capture_output=True, text=True)

    def archive(self, name, sources):
        objects = []
        for index, text in enumerate(sources):
            source = os.path.join(self.folder, f'{name}{index}.c')
            with open(source, 'w') as handle:
                handle.write(text)
            objects.append(source[:-2] + '.o')
            subprocess.run(['cc', '-c', source, '-o', objects[-1]], check=True)
        path = os.path.join(self.folder, f'lib{name}.a')
        subprocess.run(['ar', 'rcs', path] + objects, check=True)
        return path

    def link_check(self, *layers):
        return subprocess.run([sys.executable, os.path.join(TOOLS, 'check-links.py')] + list(layers),
                              capture_output=True, text=True)

    def test_layer_check_passes_a_clean_tree(self):
        result = self.layer_check(CLEAN_TREE)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)

    def test_layer_check_fails_on_each_planted_fault(self):
        for name, path, text, expected in LAYER_FAULTS:
            with self.subTest(name):
                result = self.layer_check({**CLEAN_TREE, path: text})
                self.assertEqual(result.returncode, 1, result.stdout)
                self.assertIn(f'{path}: ', result.stdout)
                self.assertIn(expected, result.stdout)
                self.assertEqual(len(result.stdout.splitlines()), 1, result.stdout)

    def test_link_check_fails_on_a_call_up_and_passes_a_call_down(self):
        low = self.archive('low', [LINK_LOW])
        high = self.archive('high', [LINK_HIGH])
        self.assertEqual(self.link_check(low, high).returncode, 0)
        calls_up = self.archive('calls_up', ['int high(void);\nint low(void) { return high(); }\n'])
        result = self.link_check(calls_up, high)
        self.assertEqual(result.returncode, 1, result.stdout)
        self.assertIn('libcalls_up.a(calls_up0.o): high (defined only in libhigh.a above it)', result.stdout)
        # A library given with a layer serves that layer and those above it.
        third = self.archive('third', ['int engine(void) { return 2; }\n'])
        uses = self.archive('uses', ['int engine(void);\nint use(void) { return engine(); }\n'])
        self.assertEqual(self.link_check(low, uses + '+' + third).returncode, 0)
        self.assertEqual(self.link_check(uses, low + '+' + third).returncode, 1)


if __name__ == '__main__':
    unittest.main()
