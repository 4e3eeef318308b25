"""The admin's guide's rights on real SMB servers, met the way a run of quorv.exe meets them
over the share: Samba enforcing NT ACLs itself (acl_xattr), and Samba's default of mapping
them onto POSIX ACLs, as many NAS boxes do.

The guide's icacls lines are read from docs/deploying.md and applied with smbcacls, so a
grant changed in the guide but not here fails. The opens of a run are not written here:
they are traced from log mode's own code under Wine and replayed, so a changed open shows
here too. Runs under tests/smb/smb_server.sh inside scripts/testbed.sh.
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

from impacket import smb, smb3structs as smb2
from impacket.smbconnection import SMBConnection, SessionError

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "e2e"))
from machine import Machine, windows_path  # noqa: E402
from test_log_mode import decoded_line, plain_line  # noqa: E402

GUIDE = os.path.join(os.path.dirname(__file__), "..", "..", "docs", "deploying.md")
HOST = "127.0.0.1"
FOLDER = "Inventory"
LOG = FOLDER + "\\machines.txt"

# The guide's icacls rights as access masks, and its inheritance flags as smbcacls writes them.
ICACLS_RIGHTS = {"F": 0x1F01FF, "RX": 0x1200A9, "(RD,AD,S,RA)": 0x100085, "(AD,S,RA)": 0x100084}
ICACLS_FLAGS = {"": "0", "(OI)(CI)": "OI|CI"}

FILE_READ_DATA, FILE_WRITE_DATA, FILE_APPEND_DATA = 0x1, 0x2, 0x4
FILE_READ_ATTRIBUTES, FILE_WRITE_ATTRIBUTES = 0x80, 0x100
DELETE, SYNCHRONIZE = 0x10000, 0x100000
GENERIC_WRITE, GENERIC_READ = 0x40000000, 0x80000000
# CreateFileA adds both to the access of every open.
ADDED_BY_CREATEFILE = SYNCHRONIZE | FILE_READ_ATTRIBUTES
SHARE_NONE, SHARE_READ, SHARE_READ_WRITE = 0, 1, 3
FILE_OPEN, FILE_CREATE = 1, 2
FILE_NON_DIRECTORY_FILE, FILE_DIRECTORY_FILE = 0x40, 0x1
ERROR_ACCESS_DENIED = 5

OLD = b"old line\r\n"
NEW = b"new line\r\n"
OK = "ok"
DENIED = "STATUS_ACCESS_DENIED"


def guide_grants():
    """The guide's icacls grants: {"folder": [...], "Readable": [...], ...}, each a list of
    (trustee, flags, rights); a grant is named by the rem line above it, a folder's grant
    without a name there is "folder"."""
    grants = {}
    label = ""
    with open(GUIDE, encoding="utf-8") as guide:
        for line in guide:
            line = line.strip()
            if line.startswith("rem "):
                label = line
            match = re.match(r'icacls "?([^" ]+)"? /grant(?::r)? (.*)$', line)
            if not match:
                continue
            entries = [re.match(r'(.+):((?:\(OI\)\(CI\))?)(.+)$', quoted).groups()
                       for quoted in re.findall(r'"([^"]+)"', match.group(2))]
            name = next((n for n in ("Readable", "Write-only", "Computer") if n in label), "")
            if not match.group(1).endswith(".txt"):
                name = (name + " folder").strip()
            assert name not in grants, f"a second icacls grant for the {name}: {line}"
            grants[name] = entries
    return grants


def smbcacls_entries(entries):
    """The guide's grants as smbcacls ACL entries; a name that is not a SID (the guide's
    placeholder for the users' or computers' group) stands for the plain user."""
    user_sid = os.environ["QUORV_SMB_USER_SID"]
    return ",".join(
        f"ACL:{trustee[1:] if trustee.startswith('*S-') else user_sid}:ALLOWED/"
        f"{ICACLS_FLAGS[flags]}/0x{ICACLS_RIGHTS[rights]:08x}"
        for trustee, flags, rights in entries)


OPENS = None  # traced once for both servers


def traced_opens():
    """The opens of the log that log mode makes, as Wine traces them: its look and its
    read-and-append open on a log without the machine's line, and its append-only open after
    the look was refused for rights; (access, sharing, disposition) of each."""
    machine = Machine()
    with tempfile.TemporaryDirectory(dir=machine.work_dir) as folder:
        path = windows_path(os.path.join(folder, "replayed.txt"))
        env = {"QUORV_COMMAND_LINE": machine.command_line()}
        look, run = machine.traced_opens("replayed.txt", machine.exe, path, env=env)
        refused_look, append = machine.traced_opens(
            "replayed.txt", os.environ["QUORV_CONTENDER"], "refuse", path, "0",
            str(ERROR_ACCESS_DENIED), "free", env=env)
        assert refused_look == look, (refused_look, look)
        return look, run, append


class Share:
    """One connection as one account to one share, with the opens and writes the claims need."""

    def __init__(self, user, share):
        self.user, self.share = user, share
        self.connection = SMBConnection(HOST, HOST, sess_port=445)
        self.connection.login(user, os.environ["QUORV_SMB_PASSWORD"])
        self.tree = self.connection.connectTree(share)

    def open(self, access, share_mode=SHARE_READ, disposition=FILE_OPEN, path=LOG):
        return self.connection.createFile(
            self.tree, path, desiredAccess=access | ADDED_BY_CREATEFILE, shareMode=share_mode,
            creationDisposition=disposition, creationOption=FILE_NON_DIRECTORY_FILE)

    def close(self, fid):
        self.connection.closeFile(self.tree, fid)

    def attempt(self, action, *args, **kwargs):
        """"ok" and what action returned, or the NT status that refused it."""
        try:
            return OK, action(*args, **kwargs)
        except SessionError as error:
            return error.getErrorString()[0], None

    def opens(self, access, share_mode=SHARE_READ, disposition=FILE_OPEN, path=LOG):
        result, fid = self.attempt(self.open, access, share_mode, disposition, path)
        if fid is not None:
            self.close(fid)
        return result

    def replay(self, traced):
        """Makes one of a run's opens as Wine traced it."""
        access, sharing, disposition = traced
        return self.opens(access, sharing, disposition)

    def write_through(self, traced, data, offset):
        """Writes through a handle opened as a run opens; the status of the open or write."""
        result, fid = self.attempt(self.open, *traced)
        if fid is None:
            return result
        try:
            return self.attempt(self.connection.writeFile, self.tree, fid, data, offset)[0]
        finally:
            self.close(fid)

    def set_attributes(self, attributes):
        """Sets the log's attributes (read-only stops every run); the status of open or set."""
        result, fid = self.attempt(self.open, FILE_WRITE_ATTRIBUTES)
        if fid is None:
            return result
        basic = smb2.FILE_BASIC_INFORMATION()
        for time in ("CreationTime", "LastAccessTime", "LastWriteTime", "ChangeTime"):
            basic[time] = 0  # unchanged
        basic["FileAttributes"] = attributes
        try:
            smb3 = self.connection.getSMBServer()
            return self.attempt(smb3.setInfo, self.tree, fid, basic.getData(),
                                smb2.SMB2_0_INFO_FILE, smb2.SMB2_FILE_BASIC_INFO)[0]
        finally:
            self.close(fid)

    def read(self, access=FILE_READ_DATA):
        result, fid = self.attempt(self.open, access, SHARE_READ_WRITE)
        if fid is None:
            return result
        try:
            return self.connection.readFile(self.tree, fid)
        finally:
            self.close(fid)

    def run_while_held(self, traced, access=FILE_APPEND_DATA, share_mode=SHARE_NONE,
                       runner=None):
        """Holds the log with access and share_mode, and makes a run's open meanwhile as
        runner (this account if none)."""
        result, fid = self.attempt(self.open, access, share_mode)
        if fid is None:
            return result
        run = Share(runner or self.user, self.share)
        try:
            return run.replay(traced)
        finally:
            run.connection.close()
            self.close(fid)


# What a user with each of the guide's file grants meets; each row is one of its claims:
# (claim, action(test), results with the readable and the write-only grant on the server
# that enforces NT ACLs, then on the one that maps them onto POSIX ACLs, and the log's bytes
# after an action that succeeded; a refused one leaves them as they were). The three opens
# are traced from log mode; "regrant" replaces the users' file grant.
AD_S, AD_RA = 0x100004, 0x000084
SHARING = "STATUS_SHARING_VIOLATION"
CLAIMS = [
    ("a run looks at the log (read data, sharing all)", lambda t: t.user.replay(t.look_open),
     (OK, DENIED, OK, DENIED), None),
    ("without a line there, opens it to read and append", lambda t: t.user.replay(t.main_open),
     (OK, DENIED, OK, DENIED), None),
    ("refused the look, opens it to append only", lambda t: t.user.replay(t.append_open),
     (OK, OK, OK, DENIED), None),
    ("a spreadsheet (GENERIC_READ sharing reading) lets a run look",
     lambda t: t.admin.run_while_held(t.look_open, GENERIC_READ, SHARE_READ, t.user.user),
     (OK, DENIED, OK, DENIED), None),
    ("but keeps out its open to read and append",
     lambda t: t.admin.run_while_held(t.main_open, GENERIC_READ, SHARE_READ, t.user.user),
     (SHARING, DENIED, SHARING, DENIED), None),
    ("and its open to append only",
     lambda t: t.admin.run_while_held(t.append_open, GENERIC_READ, SHARE_READ, t.user.user),
     (SHARING, SHARING, SHARING, DENIED), None),
    ("an append-only open needs no RA where the folder may be listed",
     lambda t: t.regrant(AD_S, t.append_open), (OK, OK, DENIED, DENIED), None),
    ("an append-only open needs S", lambda t: t.regrant(AD_RA, t.append_open),
     (DENIED, DENIED, DENIED, DENIED), None),
    ("an append lands at the end", lambda t: t.user.write_through(t.append_open, NEW, len(OLD)),
     (OK, OK, OK, DENIED), OLD + NEW),
    ("an append-only handle overwrites at offset 0 over SMB",
     lambda t: t.user.write_through(t.append_open, b"XXX", 0), (OK, OK, OK, DENIED),
     b"XXX" + OLD[3:]),
    ("the end-of-file offset of SMB is refused",
     lambda t: t.user.write_through(t.append_open, NEW, 0xFFFFFFFFFFFFFFFF),
     ("STATUS_INVALID_PARAMETER",) * 3 + (DENIED,), None),
    ("read data", lambda t: t.user.read(), (OLD, DENIED, OLD, DENIED), None),
    ("type, Notepad and Get-Content ask for GENERIC_READ", lambda t: t.user.read(GENERIC_READ),
     (DENIED, DENIED, OLD, DENIED), None),
    ("the pilot's open for writing (GENERIC_WRITE)", lambda t: t.user.opens(GENERIC_WRITE),
     (DENIED, DENIED, OK, DENIED), None),
    ("an open for write data, then a write at offset 0",
     lambda t: t.user.write_through((FILE_WRITE_DATA, SHARE_READ, FILE_OPEN), b"XXX", 0),
     (DENIED, DENIED, OK, DENIED), b"XXX" + OLD[3:]),
    ("the read-only attribute set by a user, then a run (the admin's) to append",
     lambda t: (t.user.set_attributes(smb.ATTR_READONLY), t.admin.replay(t.append_open)),
     ((DENIED, OK),) * 2 + ((OK, DENIED),) * 2, None),
    ("delete", lambda t: t.user.opens(DELETE), (DENIED,) * 4, None),
    ("rename",
     lambda t: t.user.attempt(t.user.connection.rename, t.SHARE, LOG,
                              FOLDER + "\\renamed.txt")[0], (DENIED,) * 4, None),
    ("create another file in the folder",
     lambda t: t.user.opens(FILE_APPEND_DATA, disposition=FILE_CREATE,
                            path=FOLDER + "\\other.txt"), (DENIED,) * 4, None),
    ("a user holding the log sharing nothing keeps runs out",
     lambda t: t.user.run_while_held(t.append_open),
     (SHARING,) * 3 + (DENIED,), None),
]


class ShareRightsTest:
    """The claims on one share; COLUMN picks its results in CLAIMS."""
    SHARE, COLUMN = None, None

    @classmethod
    def setUpClass(cls):
        global OPENS
        if OPENS is None:
            OPENS = traced_opens()
        cls.look_open, cls.main_open, cls.append_open = OPENS
        cls.grants = guide_grants()
        cls.admin = Share(os.environ["QUORV_SMB_ADMIN"], cls.SHARE)
        cls.user = Share(os.environ["QUORV_SMB_USER"], cls.SHARE)
        fid = cls.admin.connection.createFile(cls.admin.tree, FOLDER,
                                              creationOption=FILE_DIRECTORY_FILE,
                                              creationDisposition=FILE_CREATE)
        cls.admin.close(fid)
        cls.smbcacls(FOLDER, "--set", smbcacls_entries(cls.grants["folder"]))
        # A folder on the mapped share inherits nothing already, and smbcacls fails saying so.
        cls.smbcacls(FOLDER, "--inherit", "remove", done="Already set to no inheritable")

    @classmethod
    def tearDownClass(cls):
        cls.admin.connection.close()
        cls.user.connection.close()

    @classmethod
    def smbcacls(cls, path, *arguments, done=None):
        account = f"{os.environ['QUORV_SMB_ADMIN']}%{os.environ['QUORV_SMB_PASSWORD']}"
        result = subprocess.run(["smbcacls", "-s", os.environ["QUORV_SMB_CONF"],
                                 f"//{HOST}/{cls.SHARE}", path, "-U", account, "--numeric",
                                 *arguments], capture_output=True, text=True)
        assert result.returncode == 0 or done and done in result.stdout, \
            f"smbcacls {path} {arguments}: {result.stdout}{result.stderr}"

    def new_log(self, grant):
        """A log holding OLD, made by the admin, with the guide's users' grant added."""
        self.admin.set_attributes(smb.ATTR_NORMAL)
        self.admin.attempt(self.admin.connection.deleteFile, self.SHARE, LOG)
        fid = self.admin.open(FILE_WRITE_DATA, disposition=FILE_CREATE)
        self.admin.connection.writeFile(self.admin.tree, fid, OLD)
        self.admin.close(fid)
        self.smbcacls(LOG, "--add", smbcacls_entries(self.grants[grant]))

    def regrant(self, access, traced):
        """Replaces the users' file grant by access and replays one traced open."""
        user_sid = os.environ["QUORV_SMB_USER_SID"]
        self.smbcacls(LOG, "--modify", f"ACL:{user_sid}:ALLOWED/0/0x{access:08x}")
        return self.user.replay(traced)

    def test_each_claim_for_each_file_grant(self):
        for claim, action, results, after in CLAIMS:
            for grant, expected in zip(("Readable", "Write-only"), results[self.COLUMN:]):
                with self.subTest(claim, grant=grant):
                    self.new_log(grant)
                    result = action(self)
                    self.assertEqual(result, expected)
                    changed = result == OK and after is not None
                    self.assertEqual(self.admin.read(), after if changed else OLD)

    def test_a_missing_log_is_not_created_by_users(self):
        self.new_log("Write-only")
        self.admin.connection.deleteFile(self.SHARE, LOG)
        self.assertEqual(self.user.replay(self.append_open), DENIED)


class AclXattrTest(ShareRightsTest, unittest.TestCase):
    SHARE, COLUMN = "inventory", 0


class PosixMappedTest(ShareRightsTest, unittest.TestCase):
    SHARE, COLUMN = "mapped", 2


TREE = os.path.join(os.path.dirname(__file__), "..", "..")
PWSH = os.path.join(TREE, "build", "pwsh", "pwsh")


def reader_reads(lines):
    """For each line, whether the admin's reader, alone on a log, reads it as a machine."""
    with tempfile.TemporaryDirectory() as folder:
        logs = []
        for number, line in enumerate(lines):
            logs.append(os.path.join(folder, f"{number}.txt"))
            with open(logs[-1], "wb") as log:
                log.write(line)
        reader = os.path.join(TREE, "admin", "Import-QuorvLog.ps1")
        quoted = ", ".join(f"'{log}'" for log in logs)
        command = (f"foreach ($log in {quoted}) {{ [bool](& '{reader}' -Path $log -CodePage 1252 "
                   "-WarningAction SilentlyContinue) }")
        result = subprocess.run([PWSH, "-NoProfile", "-NonInteractive", "-Command", command],
                                capture_output=True, text=True, check=True)
    return [answer == "True" for answer in result.stdout.split()]


class GuideTest(unittest.TestCase):
    def test_the_guide_has_exactly_the_grants_claimed_here(self):
        grants = guide_grants()
        self.assertEqual(sorted(grants), ["Computer", "Computer folder", "Readable",
                                          "Write-only", "folder"])
        # The computer accounts' grant is one of the users' grants, tested above.
        rights = [[entry[1:] for entry in grants[name]] for name in ("Readable", "Computer")]
        self.assertEqual(rights[0], rights[1])

    @unittest.skipUnless(shutil.which("dotnet"), "no dotnet here, so no PowerShell in build/pwsh")
    def test_the_readers_column_check_passes_the_products_lines_only(self):
        # The lines the end-to-end tests see quorv.exe write, a line behind the end-of-file
        # byte of "copy a+b", the line of a failed IP step, an odd plain key; then damaged
        # ones: glued to the next, overwritten, a MAC or an IP not as written.
        unnamed = decoded_line().replace(b"alice@", b"")
        written = [decoded_line(), plain_line(), plain_line(key="ABC" + " " * 26), unnamed,
                   plain_line(key="XXXXX-XXXXX-XXXXX-XXXXX-XXXXX"),
                   decoded_line(mac="XX:XX:XX:XX:XX:XX", ip="0.0.0.0", user="=HYPERLINK(0)"),
                   b"\x1a" + decoded_line(), decoded_line()[:50] + b"\r\n",
                   plain_line(key="AB C" + " " * 25)]
        damaged = [decoded_line()[:-2] + decoded_line(), b"new" + decoded_line()[3:],
                   decoded_line(mac="02:00:5e:10:00:01"), decoded_line(ip="198.51.100")]
        self.assertEqual(reader_reads(written + damaged),
                         [True] * len(written) + [False] * len(damaged))


if __name__ == "__main__":
    unittest.main()
