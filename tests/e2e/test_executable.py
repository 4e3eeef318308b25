"""quorv.exe is one statically linked 32-bit GUI program that imports only system DLLs."""
import os
import re
import subprocess
import unittest

SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "advapi32.dll", "iphlpapi.dll", "comctl32.dll",
               "msvcrt.dll", "gdi32.dll"}


class ExecutableTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.headers = subprocess.run(
            [os.environ["QUORV_OBJDUMP"], "-f", "-p", os.environ["QUORV_EXE"]],
            capture_output=True, text=True, check=True).stdout

    def header_line(self, pattern):
        """The first header line matching pattern, or None."""
        match = re.search(pattern, self.headers, re.MULTILINE)
        return match.group(0) if match else None

    def test_is_a_32_bit_intel_pe(self):
        self.assertIsNotNone(self.header_line(r"file format pei-i386$"), "not a PE for i386")
        self.assertIsNotNone(self.header_line(r"^architecture: i386,"), "machine is not i386")
        self.assertIsNotNone(self.header_line(r"^Magic\s+010b\s+\(PE32\)$"), "not PE32")

    def test_runs_in_the_gui_subsystem(self):
        self.assertEqual(self.header_line(r"^Subsystem\s+.*$").split()[1], "00000002")

    def test_imports_only_windows_system_dlls(self):
        imported = {name.lower() for name in re.findall(r"DLL Name: (\S+)", self.headers)}
        self.assertIn("kernel32.dll", imported)
        self.assertEqual(imported - SYSTEM_DLLS, set(), "imports a DLL that is not Windows'")

    def test_dlls_of_only_one_mode_are_not_loaded_at_start_up(self):
        # Log mode never shows a window and the dialog never asks for adapters; loading
        # user32 and comctl32 alone would double log mode's start-up time.
        imported = {name.lower() for name in re.findall(r"DLL Name: (\S+)", self.headers)}
        self.assertEqual(imported & {"user32.dll", "comctl32.dll", "gdi32.dll", "iphlpapi.dll"},
                         set())
        with open(os.environ["QUORV_EXE"], "rb") as exe:
            content = exe.read()
        for dll in (b"user32.dll", b"comctl32.dll", b"iphlpapi.dll"):
            self.assertIn(dll, content.lower(), "delay-loaded DLL name missing")

    def test_is_stripped(self):
        self.assertIsNotNone(self.header_line(r"^\s+symbols stripped$"))


if __name__ == "__main__":
    unittest.main()
