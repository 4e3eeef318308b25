"""The Windows test machine of the end-to-end tests: registry, identity and program runs.

Everything goes through scripts/wine-run inside the namespaces that scripts/testbed.sh
made, so adapters, addresses, user and computer name are the ones the tests set.
"""
import os
import pathlib
import re
import subprocess
import tempfile
import time
import unittest

PLAIN_KEY_PATH = r"HKLM\Software\Microsoft\Windows\CurrentVersion"
ENCODED_KEY_PATH = r"HKLM\Software\Microsoft\Windows NT\CurrentVersion"
VIEWS = ("64", "32")
ALPHABET = "BCDFGHJKMPQRTVWXY2346789"


def windows_path(path):
    """The path under which Wine's drive Z: shows a Linux path."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def encode_product_id(key):
    """A 164-byte product id holding key, in the current form when it contains one N."""
    characters = key.replace("-", "")
    number = 0
    flag = 0
    if "N" in characters:
        place = characters.index("N")
        characters = characters[:place] + characters[place + 1:]
        number = place
        flag = 0x08
    for character in characters:
        number = number * 24 + ALPHABET.index(character)
    value = bytearray(164)
    value[52:67] = number.to_bytes(15, "little")
    value[66] |= flag
    return bytes(value)


class Machine:
    def __init__(self):
        self.exe = os.environ["QUORV_EXE"]
        self.driver = os.environ["QUORV_DRIVER"]
        self.wine_run = os.environ["QUORV_WINE_RUN"]
        self.work_dir = os.environ["QUORV_TESTBED_DIR"]

    def wine(self, *args, network="office", user="alice", env=None, timeout=120, cwd=None):
        environment = dict(os.environ, USER=user, **(env or {}))
        return subprocess.run([self.wine_run, "--network", network, *args], env=environment,
                              capture_output=True, text=True, timeout=timeout, cwd=cwd)

    def traced_opens(self, name, *args, env=None):
        """Runs a program with Wine's file trace; returns each open of a file whose name holds
        name as (access, sharing, disposition): the NT access mask and share flags, and the
        NT disposition (1 open, 3 open or create)."""
        result = self.wine(*args, env=dict(env or {}, WINEDEBUG="trace+file"))
        assert result.returncode == 0, result.stdout[-3000:]
        opens = re.findall(r"NtCreateFile handle=\S+ access=(\w+) name=\S*" + re.escape(name) +
                           r"\S* .* sharing=(\w+) disp=(\d+)", result.stdout)
        return [(int(access, 16), int(sharing, 16), int(disposition))
                for access, sharing, disposition in opens]

    # Registry ---------------------------------------------------------------------------

    def registry(self, commands):
        """Runs reg.exe commands (lists of arguments) in one Wine process."""
        with tempfile.NamedTemporaryFile("w", suffix=".bat", dir=self.work_dir,
                                         delete=False) as batch:
            batch.write("@echo off\r\n")
            for command in commands:
                # Deleting a value that is not there fails harmlessly; a failed add does not.
                batch.write("reg " + " ".join(command) + " >nul 2>&1\r\n")
                if command[0] == "add":
                    batch.write("if errorlevel 1 exit /b 1\r\n")
            batch.write("exit /b 0\r\n")
        try:
            result = self.wine("cmd", "/c", windows_path(batch.name))
            assert result.returncode == 0, result.stdout
        finally:
            os.unlink(batch.name)

    @staticmethod
    def set_text(path, name, text, view="64"):
        return ["add", f'"{path}"', "/v", name, "/t", "REG_SZ", "/d", f'"{text}"', "/f",
                f"/reg:{view}"]

    @staticmethod
    def set_binary(path, name, data, view="64"):
        return ["add", f'"{path}"', "/v", name, "/t", "REG_BINARY", "/d", data.hex(), "/f",
                f"/reg:{view}"]

    @staticmethod
    def delete(path, name, view="64"):
        return ["delete", f'"{path}"', "/v", name, "/f", f"/reg:{view}"]

    def set_keys(self, plain=None, encoded=None, view="64"):
        """Leaves exactly the given key values in the given view and none in the other."""
        commands = [Machine.delete(PLAIN_KEY_PATH, "ProductKey", v) for v in VIEWS]
        commands += [Machine.delete(ENCODED_KEY_PATH, "DigitalProductId", v) for v in VIEWS]
        if plain is not None:
            commands.append(Machine.set_text(PLAIN_KEY_PATH, "ProductKey", plain, view))
        if encoded is not None:
            commands.append(Machine.set_binary(ENCODED_KEY_PATH, "DigitalProductId", encoded,
                                               view))
        self.registry(commands)

    # Running quorv.exe ------------------------------------------------------------------

    def command_line(self, arguments=""):
        """quorv.exe's command line with this exact tail, as a logon script would give it."""
        return f'"{windows_path(self.exe)}"' + (" " + arguments if arguments else "")

    def run_quorv(self, arguments="", network="office", user="alice", timeout=120,
                  whole_line=None, program=None, cwd=None):
        """Starts quorv.exe with this exact command-line tail, or with this whole command line
        (and the program given apart, if any) in the Linux folder cwd; returns (exit code,
        window)."""
        env = {"QUORV_COMMAND_LINE": whole_line or self.command_line(arguments)}
        if program:
            env["QUORV_APPLICATION_NAME"] = program
        result = self.wine(self.driver, "launch", network=network, user=user, env=env,
                           timeout=timeout, cwd=cwd)
        report = result.stdout.strip().splitlines()
        assert report and report[-1].startswith("exit="), result.stdout
        fields = dict(item.split("=") for item in report[-1].split())
        return int(fields["exit"]), fields["window"] == "1"


    def contend(self, arguments, *contender_args, user="alice"):
        """Runs the log contender on quorv.exe's command line; returns its report line."""
        result = self.wine(os.environ["QUORV_CONTENDER"], *contender_args, user=user,
                           env={"QUORV_COMMAND_LINE": self.command_line(arguments)})
        assert result.returncode == 0, result.stdout
        return result.stdout.strip().splitlines()[-1]

    # Network ----------------------------------------------------------------------------

    @staticmethod
    def network_address(action, address, network="office", device="eth1"):
        """Adds or deletes an IPv4 address on an adapter of a network; Wine sees it at once."""
        subprocess.run(["ip", "-n", os.environ["QUORV_NETNS_" + network.upper()], "addr",
                        action, address, "dev", device], check=True)


class MachineTest(unittest.TestCase):
    """Base class: one machine, and a scratch folder per test."""

    @classmethod
    def setUpClass(cls):
        cls.machine = Machine()

    def setUp(self):
        self.folder = tempfile.mkdtemp(dir=self.machine.work_dir)

    def path(self, name):
        return os.path.join(self.folder, name)

    def serve_logs(self, *specs):
        """Serves log_fs.py's logs in a folder; returns it and a function giving bytes read."""
        mount = self.path("served")
        os.mkdir(mount)
        subprocess.run(["/usr/bin/python3", os.path.join(os.path.dirname(__file__), "log_fs.py"),
                        mount, *specs], check=True)
        self.addCleanup(subprocess.run, ["umount", "-l", mount], check=True)
        subprocess.run([self.machine.wine_run, "--stop"], check=True)  # its next one sees it
        return mount, lambda: {name: int(count) for name, count in map(
            str.split, pathlib.Path(mount, ".reads").read_text().splitlines())}
