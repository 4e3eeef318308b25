"""quorv.exe is one statically linked 32-bit GUI program that imports only system DLLs."""
import os
import re
import struct
import subprocess
import unittest

# Log mode never shows a window and the dialog never asks for adapters; loading user32 and
# comctl32 alone would double log mode's start-up time, so they load on first use.
LOADED_AT_START = {"advapi32.dll", "kernel32.dll", "msvcrt.dll"}
LOADED_ON_FIRST_USE = {"user32.dll", "comctl32.dll", "iphlpapi.dll"}
# Data directory entry, size of one descriptor and where in it the DLL's name is.
IMPORTS, DELAY_IMPORTS = (1, 20, 12), (13, 32, 4)


class PeFile:
    """What a 32-bit PE file says about its symbols and the DLLs it imports."""

    def __init__(self, path):
        with open(path, "rb") as file:
            self.image = file.read()
        header = struct.unpack_from("<I", self.image, 0x3C)[0]
        count, self.symbol_table, self.symbol_count, optional_size = struct.unpack_from(
            "<2xH4xIIH", self.image, header + 4)
        self.directories = header + 24 + 96
        table = header + 24 + optional_size
        self.sections = [struct.unpack_from("<8xIIxxxxI", self.image, table + 40 * i)
                         for i in range(count)]

    def offset(self, rva):
        for size, address, offset in self.sections:
            if address <= rva < address + size:
                return offset + rva - address
        raise ValueError(f"RVA {rva:#x} lies in no section")

    def dll_names(self, directory, entry_size, name_at):
        """The names of the DLLs that IMPORTS or DELAY_IMPORTS lists."""
        rva, size = struct.unpack_from("<II", self.image, self.directories + 8 * directory)
        names = []
        while size and any(self.image[self.offset(rva):self.offset(rva) + entry_size]):
            name = self.offset(struct.unpack_from("<I", self.image, self.offset(rva) + name_at)[0])
            names.append(self.image[name:self.image.index(b"\0", name)].decode().lower())
            rva += entry_size
        return names


class ExecutableTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.headers = subprocess.run(
            [os.environ["QUORV_OBJDUMP"], "-f", "-p", os.environ["QUORV_EXE"]],
            capture_output=True, text=True, check=True).stdout
        cls.pe = PeFile(os.environ["QUORV_EXE"])

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
        self.assertEqual(sorted(self.pe.dll_names(*IMPORTS)), sorted(LOADED_AT_START))
        # objdump reads the same import directory.
        self.assertEqual({name.lower() for name in re.findall(r"DLL Name: (\S+)", self.headers)},
                         LOADED_AT_START)

    def test_dlls_of_only_one_mode_are_loaded_on_first_use(self):
        # The delay-import directory itself: a link that fell back to ordinary imports fails.
        self.assertEqual(sorted(self.pe.dll_names(*DELAY_IMPORTS)), sorted(LOADED_ON_FIRST_USE))

    def test_is_stripped(self):
        self.assertEqual((self.pe.symbol_table, self.pe.symbol_count), (0, 0), "has symbols")


if __name__ == "__main__":
    unittest.main()
