#!/usr/bin/env python3
"""The DLL check rejects each fault it exists for, and names it.

Usage: check_pe_test.py CHECKER OBJDUMP FIXTURE_DIR
FIXTURE_DIR holds one Pelko.dll per fault (built by tests/pe/CMakeLists.txt)
and a compile database whose command lacks the stack alignment flag.
"""

import os
import subprocess
import sys
import unittest

CHECKER, OBJDUMP, FIXTURES = sys.argv[1:4]

# fixture directory, what the report must say (None: the DLL is sound)
CASES = [
    ("sound", None),
    ("cdecl_export", "GetPicture: ret (no operand)"),
    ("short_argument_list", "GetPreview: ret $0x18"),
    ("one_ret_wrong", "GetPictureInfo: ret $0xc"),
    ("tail_call_to_cdecl", "IsSupported: ret (no operand)"),
    ("missing_export", "missing exports: GetPreview"),
    ("extra_export", "unexpected exports: DecodeHelper"),
    ("decorated_names", "unexpected exports: GetPicture@28, GetPictureInfo@16"),
    ("foreign_import", "imports from USER32.dll"),
]


def run_checker(*args):
    result = subprocess.run([sys.executable, CHECKER, "--objdump", OBJDUMP, *args],
                            capture_output=True, text=True)
    return result.returncode, result.stdout + result.stderr


class CheckPeTest(unittest.TestCase):
    def test_each_fault_is_reported(self):
        for fixture, expected in CASES:
            with self.subTest(fixture=fixture):
                code, output = run_checker(os.path.join(FIXTURES, fixture, "Pelko.dll"))
                if expected is None:
                    self.assertEqual(code, 0, output)
                else:
                    self.assertEqual(code, 1, output)
                    self.assertIn(expected, output)

    def test_one_ret_wrong_keeps_the_right_one_quiet(self):
        _, output = run_checker(os.path.join(FIXTURES, "one_ret_wrong", "Pelko.dll"))
        self.assertEqual(output.count("FAULT"), 1, output)

    def test_compile_without_stack_alignment_is_reported(self):
        code, output = run_checker("--compile-commands",
                                   os.path.join(FIXTURES, "unaligned_compile_commands.json"),
                                   os.path.join(FIXTURES, "sound", "Pelko.dll"))
        self.assertEqual(code, 1, output)
        self.assertIn("a.cpp is compiled without -mincoming-stack-boundary=2", output)

    def test_unusable_inputs_are_reported_not_raised(self):
        cases = [
            (os.path.join(FIXTURES, "absent", "Pelko.dll"), "no such file"),
            (os.path.join(FIXTURES, "unaligned_compile_commands.json"), "not a product DLL name"),
            (os.path.join(FIXTURES, "not_an_image", "Pelko.dll"), "not a PE32 i386 image"),
        ]
        for path, expected in cases:
            with self.subTest(path=path):
                code, output = run_checker(path)
                self.assertEqual(code, 1, output)
                self.assertIn(expected, output)
                self.assertNotIn("Traceback", output)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
