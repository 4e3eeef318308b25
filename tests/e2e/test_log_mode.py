"""Log mode of the real quorv.exe, started as a logon script would start it.

The office network of the test machine gives the first Ethernet adapter
02:00:5E:10:00:01 and, as the last address of the ascending table, 198.51.100.7.
"""
import filecmp
import os
import shutil
import subprocess
import tempfile
import unittest

from machine import MachineTest, encode_product_id, windows_path

DECODED_KEY = "W269N-WFGWX-YVC9B-4J6C9-T83GX"
PLAIN_KEY = "NPPR9-FWDCX-D2C8J-H872K-2YT43"
MACHINE = "02:00:5E:10:00:01 198.51.100.7    "
CAP = 16 << 20  # the most of a log that a run reads


def decoded_line(user="alice", ip="198.51.100.7", mac="02:00:5E:10:00:01"):
    return f"{DECODED_KEY} * {mac} {ip:<16}{user}@QUORV-PC\r\n".encode()


def plain_line(key=PLAIN_KEY, user="alice"):
    return f"{key}   {MACHINE}{user}@QUORV-PC\r\n".encode()


class LogModeTest(MachineTest):
    """Runs with the decoded key unless a test sets another."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.machine.set_keys(encoded=encode_product_id(DECODED_KEY))

    def log(self, path, user="alice", network="office"):
        """Runs log mode on path; it must end with 0 and show no window."""
        exit_code, window = self.machine.run_quorv(f'"{windows_path(path)}"', network=network,
                                                   user=user)
        self.assertEqual(exit_code, 0)
        self.assertFalse(window, "log mode must not show a window")

    def write(self, name, content):
        path = self.path(name)
        with open(path, "wb") as file:
            file.write(content)
        return path

    def read(self, path):
        with open(path, "rb") as file:
            return file.read()


class WholeLineTest(LogModeTest):
    def test_decoded_key_line_byte_for_byte(self):
        # The IP column names the machine: its highest address that is neither loopback nor
        # automatic, else the highest of those. A second run finds the line.
        private = dict(mac="02:00:5E:30:00:01", ip="10.20.30.40")
        for network, extra, expected in (
                ("office", None, decoded_line()),
                ("private", None, decoded_line(**private)),
                ("private", "169.254.10.20/16", decoded_line(**private)),
                ("loopback", None, decoded_line(mac="XX:XX:XX:XX:XX:XX", ip="127.100.200.250"))):
            with self.subTest(network=network, extra=extra):
                path = self.path(f"log-{network}-{extra is not None}.txt")
                if extra:
                    self.machine.network_address("add", extra, network, "eth0")
                    self.addCleanup(self.machine.network_address, "del", extra, network, "eth0")
                self.log(path, network=network)
                self.log(path, network=network)
                self.assertEqual(self.read(path), expected)

    def test_plain_key_line_and_short_plain_key_keeps_columns(self):
        for key, expected in ((PLAIN_KEY, plain_line()),
                              ("ABC", plain_line(key="ABC" + " " * 26))):
            with self.subTest(key):
                self.machine.set_keys(plain=key)
                path = self.path(f"log-{len(key)}.txt")
                self.log(path)
                self.assertEqual(self.read(path), expected)
        self.machine.set_keys(encoded=encode_product_id(DECODED_KEY))


class DuplicateTest(LogModeTest):
    def test_second_run_appends_nothing(self):
        path = self.path("log.txt")
        self.log(path)
        self.log(path)
        self.assertEqual(self.read(path), decoded_line())

    def test_another_user_on_the_same_machine_appends_nothing(self):
        path = self.path("log.txt")
        self.log(path, user="alice")
        self.log(path, user="bob")
        self.assertEqual(self.read(path), decoded_line(user="alice"))

    def test_new_ip_address_appends_a_second_line(self):
        path = self.path("log.txt")
        self.log(path)
        self.machine.network_address("add", "203.0.113.77/24")
        try:
            self.log(path)
        finally:
            self.machine.network_address("del", "203.0.113.77/24")
        self.assertEqual(self.read(path), decoded_line() + decoded_line(ip="203.0.113.77"))

    def test_plain_and_decoded_forms_of_one_key_are_both_kept(self):
        path = self.path("log.txt")
        self.machine.set_keys(plain=DECODED_KEY)
        try:
            self.log(path)
        finally:
            self.machine.set_keys(encoded=encode_product_id(DECODED_KEY))
        self.log(path)
        self.assertEqual(self.read(path), plain_line(key=DECODED_KEY) + decoded_line())

    def test_missing_and_empty_files_receive_the_line(self):
        for name, content in (("missing.txt", None), ("empty.txt", b"")):
            with self.subTest(name):
                path = self.path(name) if content is None else self.write(name, content)
                self.log(path)
                self.assertEqual(self.read(path), decoded_line())


class FileShapeTest(LogModeTest):
    def check(self, before, after):
        path = self.write("log.txt", before)
        self.log(path)
        self.assertEqual(self.read(path), after)

    def test_cut_off_last_line_is_ended_before_the_new_line(self):
        self.check(b"old line\r\nhalf a li", b"old line\r\nhalf a li\r\n" + decoded_line())

    def test_line_feed_only_lines_are_matched_and_kept(self):
        lf_only = decoded_line().replace(b"\r\n", b"\n")
        self.check(b"other\n" + lf_only, b"other\n" + lf_only)
        self.check(b"other\n", b"other\n" + decoded_line())

    def test_long_lines_are_compared_in_pieces_of_511(self):
        line = decoded_line()
        long_same = line[:-2] + b"#" * 700 + b"\r\n"
        self.check(long_same, long_same)
        line_in_second_piece = b"#" * 511 + line
        self.check(line_in_second_piece, line_in_second_piece)
        long_other = b"#" * 600 + b"\r\n"
        self.check(long_other, long_other + line)

    def test_end_of_file_byte_hides_no_line(self):
        # cmd's "copy a+b" ends what it merges with 0x1A. Two runs each: a line behind one is
        # found, and a log ending in one gets the line once.
        for before, after in ((b"\x1a\r\n" + decoded_line(), b"\x1a\r\n" + decoded_line()),
                              (b"old\r\n\x1a", b"old\r\n\x1a\r\n" + decoded_line())):
            with self.subTest(before):
                path = self.write("log.txt", before)
                self.log(path)
                self.log(path)
                self.assertEqual(self.read(path), after)

    def test_log_past_the_cap_is_full(self):
        # Sparse logs of zero bytes, one line cut off at the cap or just past it.
        for size, added in ((CAP, len(decoded_line()) + 2), (CAP + 1, 0)):
            with self.subTest(size=size):
                path = self.write(f"{size}.txt", b"")
                os.truncate(path, size)
                self.log(path)
                self.assertEqual(os.path.getsize(path), size + added)

    def test_reads_end_at_the_line_the_cap_or_the_deadline(self):
        # 64 MiB logs whose file system counts what it hands out: the line at the start is found
        # early, a log without it is read up to the cap, a read that does not return ends at
        # the deadline. Wine itself reads a few bytes when asked for the file's identity.
        size = 4 * CAP
        folder, reads = self.serve_logs(f"early.txt:{size}:{decoded_line().hex()}",
                                        f"full.txt:{size}:", f"stalled.txt:{size}::stall")
        for name, least, most in (("early.txt", 1, 1 << 20), ("full.txt", CAP, CAP + 4096),
                                  ("stalled.txt", 0, 0)):
            with self.subTest(name):
                exit_code, window = self.machine.run_quorv(
                    f'"{windows_path(os.path.join(folder, name))}"', timeout=90)
                self.assertEqual((exit_code, window), (0, False))
                self.assertTrue(least <= reads()[name] <= most, reads())

    def test_unreadable_log_gets_the_whole_line_at_its_end(self):
        # Nothing is read: no line feed ends a cut-off last line and an equal line is not seen.
        for before in (b"old line\r\ncut-off", decoded_line()):
            with self.subTest(before):
                path = self.write("log.txt", before)
                self.machine.contend("", "refuse", windows_path(path), "0", "5", "free")
                self.assertEqual(self.read(path), before + decoded_line())

    def test_appends_only_after_reading_the_whole_log_or_a_refusal_by_rights(self):
        # A log that may be appended to but not read gets its line unseen, also while a reader
        # that lets others write holds it. A first open that failed for a passing reason, or a
        # network that fails the reading too give no line unseen: it comes at the next logon.
        # So does a log whose reads fail part of the way (another program's lock).
        for first, reads, holder, appended in (
                (0, 5, "free", True), (0, 65, "free", True), (0, 59, "free", False),
                (0, 87, "free", False), (59, 0, "free", False), (59, 0, "held", False),
                (65, 0, "held", True), (0, "fail", "free", False)):
            with self.subTest(first=first, reads=reads, holder=holder):
                path = self.write("log.txt", b"old line\r\n")
                self.machine.contend("", "refuse", windows_path(path), str(first), str(reads),
                                     holder)
                self.assertEqual(self.read(path),
                                 b"old line\r\n" + (decoded_line() if appended else b""))


class RightsTest(LogModeTest):
    def test_each_open_asks_only_for_what_the_run_does(self):
        # Wine enforces no rights, but its file trace shows what each open asks for, with the
        # synchronize and read-attributes rights every open adds. A run first looks: read data,
        # sharing all, the file opened only if it exists. Only without a line there does it
        # open for read and append data, other writers kept out, the file opened or created
        # (refused for an immutable file). A log refused for reading gets an append-only open.
        # A grant of exactly these must do.
        look, run, append = (0x100081, 3, 1), (0x100085, 1, 3), (0x100084, 1, 3)
        def quorv(path):
            return self.machine.exe, path

        def refused(path):
            return os.environ["QUORV_CONTENDER"], "refuse", path, "0", "5", "free"

        for name, content, program, expected in (
                ("new.txt", None, quorv, [look, run]),
                ("logged.txt", decoded_line(), quorv, [look]),
                ("cut-off.txt", b"half a li", quorv, [look, run]),
                ("immutable.txt", b"kept\r\n", quorv, [look, run]),
                ("unreadable.txt", b"kept\r\n", refused, [look, append])):
            with self.subTest(name):
                path = self.path(name) if content is None else self.write(name, content)
                if name == "immutable.txt":
                    subprocess.run(["chattr", "+i", path], check=True)
                    self.addCleanup(subprocess.run, ["chattr", "-i", path], check=True)
                opens = self.machine.traced_opens(
                    name, *program(windows_path(path)),
                    env={"QUORV_COMMAND_LINE": self.machine.command_line()})
                self.assertEqual(opens, expected)


class PathTest(LogModeTest):
    def run_with(self, arguments):
        exit_code, window = self.machine.run_quorv(arguments)
        self.assertEqual(exit_code, 0)
        self.assertFalse(window)

    def files(self):
        return sorted(os.listdir(self.folder))

    def test_quoted_path_with_blanks_is_used_whole(self):
        os.mkdir(self.path("my logs"))
        self.run_with(f'"{windows_path(self.path("my logs"))}\\inv.txt" ignored')
        self.assertEqual(self.read(self.path("my logs/inv.txt")), decoded_line())

    def test_unquoted_path_is_cut_at_the_first_blank(self):
        os.mkdir(self.path("my logs"))
        self.run_with(f'{windows_path(self.path("my"))} logs\\inv.txt')
        self.assertEqual(self.read(self.path("my")), decoded_line())
        self.assertEqual(os.listdir(self.path("my logs")), [])

    def test_missing_closing_quote_runs_to_the_end(self):
        os.mkdir(self.path("my logs"))
        self.run_with(f'"{windows_path(self.path("my logs"))}\\inv.txt')
        self.assertEqual(self.read(self.path("my logs/inv.txt")), decoded_line())

    def test_long_argument_is_cut_to_259_characters(self):
        folder = windows_path(self.folder) + "\\"
        argument = folder + "a" * (300 - len(folder))
        self.run_with(argument)
        self.assertEqual(self.files(), ["a" * (259 - len(folder))])

    def test_unusable_paths_change_nothing(self):
        # Root writes through a mode of 0444, so the file is made immutable instead.
        read_only = self.write("read-only.txt", b"kept\r\n")
        subprocess.run(["chattr", "+i", read_only], check=True)
        self.addCleanup(subprocess.run, ["chattr", "-i", read_only], check=True)
        for name, argument in (
                ("directory", windows_path(self.folder)),
                ("missing folder", windows_path(self.path("missing")) + "\\inv.txt"),
                ("read-only file", windows_path(read_only))):
            with self.subTest(name):
                self.run_with(f'"{argument}"')
                self.assertEqual(self.files(), ["read-only.txt"])
                self.assertEqual(self.read(read_only), b"kept\r\n")


class CommandLineTest(LogModeTest):
    """Whole command lines as logon scripts and cmd.exe hand them over. Text beyond ASCII
    reaches the program in code page 1252."""

    def test_log_goes_to_the_first_argument(self):
        for name, whole_line, named, log in (
                ("unquoted program path with ü", "{exe} log.txt", False, "log.txt"),
                ("argument starting with Ü", '"{exe}" Übersicht.txt', False, "Übersicht.txt"),
                ("leading blanks and a tab", ' \t "{exe}" log.txt', True, "log.txt"),
                ("quoted program glued to its argument", '"{exe}"log.txt', False, "log.txt")):
            with self.subTest(name):
                folder = tempfile.mkdtemp(dir=self.folder)
                os.mkdir(os.path.join(folder, "Prüfung"))
                exe = shutil.copy(self.machine.exe, os.path.join(folder, "Prüfung"))
                exit_code, window = self.machine.run_quorv(
                    whole_line=whole_line.format(exe=windows_path(exe)),
                    program=windows_path(exe) if named else None, cwd=folder)
                self.assertEqual((exit_code, window), (0, False))
                self.assertEqual(sorted(os.listdir(folder)), sorted(["Prüfung", log]))
                self.assertEqual(self.read(os.path.join(folder, log)), decoded_line())
                self.assertEqual(os.listdir(os.path.join(folder, "Prüfung")), ["quorv.exe"])
                self.assertTrue(filecmp.cmp(exe, self.machine.exe, shallow=False))


class OverlapTest(LogModeTest):
    def test_eight_runs_at_once_leave_one_line(self):
        path = self.path("shared.txt")
        report = self.machine.contend(f'"{windows_path(path)}"', "race", "8")
        self.assertEqual(report.split("=")[1].split(), ["0"] * 8)
        self.assertEqual(self.read(path), decoded_line())

    def test_machines_logging_at_one_moment_keep_one_line_each(self):
        # Four machine states, two runs each, all let go at one moment.
        path = self.path("shared.txt")
        runs = 8
        report = self.machine.contend("", "race-machines", str(runs), windows_path(path))
        self.assertEqual(report.split("=")[1].split(), ["0"] * runs)
        self.assertEqual(sorted(self.read(path).splitlines(keepends=True)),
                         [plain_line(key=f"MA{i:03}-BCDFG-HJKMP-QRTVW-XY234")
                          for i in range(runs // 2)])

    def test_two_runs_whose_first_scans_both_miss_append_once(self):
        # Between the contender's first scan and its open to append, a whole run logs the
        # machine, or the log is replaced by a shorter one holding its line, or by another
        # file holding it, longer than what was seen: scanned from its start. Or the run comes
        # after the contender's scan under that open: it waits out its bound, writes nothing.
        for before, gap, after in (
                (None, "run", decoded_line()), (b"", "run-at-append", decoded_line()),
                (b"old\r\nhalf a li", "run", b"old\r\nhalf a li\r\n" + decoded_line()),
                (b"other line\r\n" * 20, "shorten", decoded_line()),
                (b"other line\r\n" * 2, "replace", decoded_line())):
            with self.subTest(before=before, gap=gap):
                path = self.path("log.txt") if before is None else self.write("log.txt", before)
                self.machine.contend(f'"{windows_path(path)}"', "gap", windows_path(path), gap)
                self.assertEqual(self.read(path), after)

    def test_a_named_pipe_is_no_log(self):
        pipe = r"\\.\pipe\quorv-log"
        report = self.machine.contend(f'"{pipe}"', "hold", pipe, "10000", "pipe")
        self.assertEqual(report, "waiting=0 exit=0")

    def test_holders_make_runs_wait_at_most_the_bound(self):
        # A writer or a holder that lets nobody read keeps a run waiting until it lets go, for
        # about 10 s at most, in all: also when it first lets nobody read (7 s) and then
        # nobody write. A reader that lets nobody write (a spreadsheet) keeps only a run that
        # must append waiting. A run that gave up logs at its next start.
        for kind, before, milliseconds, waiting in (
                ("writer", b"", 3000, 1), ("writer", b"", 14000, 0), ("sole", b"", 3000, 1),
                ("reader", decoded_line(), 5000, 0), ("reader", b"", 14000, 0),
                ("sole-then-reader", b"", 14000, 0)):
            with self.subTest(kind=kind, before=before, milliseconds=milliseconds):
                path = self.write("held.txt", before)
                report = self.machine.contend(f'"{windows_path(path)}"', "hold",
                                              windows_path(path), str(milliseconds), kind)
                self.assertEqual(report, f"waiting={waiting} exit=0")
                self.assertEqual(self.read(path), before if not waiting else decoded_line())
                self.log(path)
                self.assertEqual(self.read(path), decoded_line())


if __name__ == "__main__":
    unittest.main()
