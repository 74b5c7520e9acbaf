"""A test case that runs a table generator on a scratch copy of its data.

Set GENERATOR, DATA_DIR and FILES on the subclass before the tests run."""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest


class GeneratorCase(unittest.TestCase):
    GENERATOR = None
    DATA_DIR = None
    FILES = []

    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="table_generator_")
        self.data = os.path.join(self.work, "data")
        self.out = os.path.join(self.work, "out")
        os.mkdir(self.data)
        for name in self.FILES:
            self.restore(name)

    def tearDown(self):
        shutil.rmtree(self.work)

    def restore(self, name):
        shutil.copy(os.path.join(self.DATA_DIR, name), self.data)

    def run_generator(self):
        return subprocess.run([sys.executable, self.GENERATOR, "--data-dir", self.data, "--out-dir", self.out],
                              capture_output=True, text=True, check=False)

    def assert_fails(self, *fragments):
        result = self.run_generator()
        self.assertEqual(result.returncode, 1, result.stderr)
        for fragment in fragments:
            self.assertIn(fragment, result.stderr)
        self.assertFalse(os.path.exists(os.path.join(self.out, "generated_tables.cpp")))

    def generated(self, name):
        with open(os.path.join(self.out, name), encoding="ascii") as handle:
            return handle.read()
