"""The admin's guide's rights on a real SMB server that enforces NT ACLs (Samba), met the way
a run of quorv.exe meets them over the share.

The guide's icacls lines are read from docs/deploying.md and applied with smbcacls, so a
grant changed in the guide but not here fails. Runs under tests/smb/smb_server.sh.
"""
import os
import re
import subprocess
import unittest

from impacket.smbconnection import SMBConnection, SessionError

GUIDE = os.path.join(os.path.dirname(__file__), "..", "..", "docs", "deploying.md")
HOST = "127.0.0.1"
SHARE = "inventory"
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
FILE_OPEN, FILE_CREATE, FILE_OPEN_IF = 1, 2, 3
FILE_NON_DIRECTORY_FILE, FILE_DIRECTORY_FILE = 0x40, 0x1

OLD = b"old line\r\n"
NEW = b"new line\r\n"
OK = "ok"
DENIED = "STATUS_ACCESS_DENIED"


def guide_grants():
    """The guide's icacls grants: {"folder": [...], "Readable": [...], "Write-only": [...]},
    each a list of (trustee, flags, rights); a file grant is named by the rem line above it."""
    grants = {}
    label = None
    with open(GUIDE, encoding="utf-8") as guide:
        for line in guide:
            line = line.strip()
            if line.startswith("rem "):
                label = line
            match = re.match(r'icacls (\S+) /grant(?::r)? (.*)$', line)
            if not match:
                continue
            entries = [re.match(r'(.+):((?:\(OI\)\(CI\))?)(.+)$', quoted).groups()
                       for quoted in re.findall(r'"([^"]+)"', match.group(2))]
            if match.group(1).endswith(".txt"):
                name = next(n for n in ("Readable", "Write-only") if n in (label or ""))
            else:
                name = "folder"
            assert name not in grants, f"a second icacls grant for the {name}: {line}"
            grants[name] = entries
    return grants


def smbcacls_entries(entries):
    """The guide's grants as smbcacls ACL entries; a name that is not a SID (the guide's
    placeholder for the users' group) stands for the plain user."""
    user_sid = os.environ["QUORV_SMB_USER_SID"]
    return ",".join(
        f"ACL:{trustee[1:] if trustee.startswith('*S-') else user_sid}:ALLOWED/"
        f"{ICACLS_FLAGS[flags]}/0x{ICACLS_RIGHTS[rights]:08x}"
        for trustee, flags, rights in entries)


class Share:
    """One connection as one account, with the opens and writes the claims need."""

    def __init__(self, user):
        self.connection = SMBConnection(HOST, HOST, sess_port=445)
        self.connection.login(user, os.environ["QUORV_SMB_PASSWORD"])
        self.tree = self.connection.connectTree(SHARE)

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

    def write_through_append_handle(self, data, offset):
        fid = self.open(FILE_APPEND_DATA, disposition=FILE_OPEN_IF)
        try:
            return self.attempt(self.connection.writeFile, self.tree, fid, data, offset)[0]
        finally:
            self.close(fid)

    def read(self):
        result, fid = self.attempt(self.open, FILE_READ_DATA, SHARE_READ_WRITE)
        if fid is None:
            return result
        try:
            return self.connection.readFile(self.tree, fid)
        finally:
            self.close(fid)

    def run_while_held(self, holder_access):
        """Holds the log sharing nothing, and makes a run's appending open meanwhile."""
        fid = self.open(holder_access, SHARE_NONE)
        run = Share(os.environ["QUORV_SMB_USER"])
        try:
            return run.opens(FILE_APPEND_DATA, disposition=FILE_OPEN_IF)
        finally:
            run.connection.close()
            self.close(fid)


# What a user with each of the guide's file grants meets; each row is one of its claims:
# (claim, action on a user's Share, result with the readable grant, with the write-only one,
#  and the log's bytes afterwards when the action changes them).
READ_APPEND = FILE_READ_DATA | FILE_APPEND_DATA
CLAIMS = [
    ("a run opens the log to read and append",
     lambda s: s.opens(READ_APPEND, disposition=FILE_OPEN_IF), OK, DENIED, None),
    ("a failed run then tries to read only", lambda s: s.opens(FILE_READ_DATA, SHARE_READ_WRITE),
     OK, DENIED, None),
    ("a run opens it to append only",
     lambda s: s.opens(FILE_APPEND_DATA, disposition=FILE_OPEN_IF), OK, OK, None),
    ("read and write, as runs once asked", lambda s: s.opens(GENERIC_READ | GENERIC_WRITE),
     DENIED, DENIED, None),
    ("GENERIC_READ asks for more than reading data",
     lambda s: s.opens(GENERIC_READ | FILE_APPEND_DATA), DENIED, DENIED, None),
    ("an append lands at the end", lambda s: s.write_through_append_handle(NEW, len(OLD)),
     OK, OK, OLD + NEW),
    ("an append-only handle overwrites at offset 0 over SMB",
     lambda s: s.write_through_append_handle(b"XXX", 0), OK, OK, b"XXX" + OLD[3:]),
    ("the end-of-file offset of SMB is refused",
     lambda s: s.write_through_append_handle(NEW, 0xFFFFFFFFFFFFFFFF),
     "STATUS_INVALID_PARAMETER", "STATUS_INVALID_PARAMETER", None),
    ("users read the log", lambda s: s.read(), OLD, DENIED, None),
    ("users cannot open it for writing", lambda s: s.opens(FILE_WRITE_DATA), DENIED, DENIED, None),
    ("users cannot mark it read-only", lambda s: s.opens(FILE_WRITE_ATTRIBUTES), DENIED, DENIED,
     None),
    ("users cannot delete it", lambda s: s.opens(DELETE), DENIED, DENIED, None),
    ("users cannot rename it",
     lambda s: s.attempt(s.connection.rename, SHARE, LOG, FOLDER + "\\renamed.txt")[0],
     DENIED, DENIED, None),
    ("users cannot create files in the folder",
     lambda s: s.opens(FILE_APPEND_DATA, disposition=FILE_CREATE, path=FOLDER + "\\other.txt"),
     DENIED, DENIED, None),
    ("a user holding the log sharing nothing keeps runs out",
     lambda s: s.run_while_held(FILE_APPEND_DATA), "STATUS_SHARING_VIOLATION",
     "STATUS_SHARING_VIOLATION", None),
]


class ShareRightsTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.grants = guide_grants()
        cls.admin = Share(os.environ["QUORV_SMB_ADMIN"])
        cls.user = Share(os.environ["QUORV_SMB_USER"])
        fid = cls.admin.connection.createFile(cls.admin.tree, FOLDER,
                                              creationOption=FILE_DIRECTORY_FILE,
                                              creationDisposition=FILE_CREATE)
        cls.admin.close(fid)
        cls.smbcacls(FOLDER, "--set", smbcacls_entries(cls.grants["folder"]))
        cls.smbcacls(FOLDER, "--inherit", "remove")

    @classmethod
    def tearDownClass(cls):
        cls.admin.connection.close()
        cls.user.connection.close()

    @staticmethod
    def smbcacls(path, *arguments):
        account = f"{os.environ['QUORV_SMB_ADMIN']}%{os.environ['QUORV_SMB_PASSWORD']}"
        result = subprocess.run(["smbcacls", "-s", os.environ["QUORV_SMB_CONF"], f"//{HOST}/{SHARE}",
                                 path, "-U", account, "--numeric", *arguments],
                                capture_output=True, text=True)
        assert result.returncode == 0, f"smbcacls {path} {arguments}: {result.stdout}{result.stderr}"

    def new_log(self, grant):
        """A log holding OLD, made by the admin, with the guide's users' grant added."""
        try:
            self.admin.connection.deleteFile(SHARE, LOG)
        except SessionError:
            pass
        fid = self.admin.open(FILE_WRITE_DATA, disposition=FILE_CREATE)
        self.admin.connection.writeFile(self.admin.tree, fid, OLD)
        self.admin.close(fid)
        self.smbcacls(LOG, "--add", smbcacls_entries(self.grants[grant]))

    def test_the_guide_has_exactly_the_grants_claimed_here(self):
        self.assertEqual(sorted(self.grants), ["Readable", "Write-only", "folder"])

    def test_each_claim_for_each_file_grant(self):
        for claim, action, readable, write_only, after in CLAIMS:
            for grant, expected in (("Readable", readable), ("Write-only", write_only)):
                with self.subTest(claim, grant=grant):
                    self.new_log(grant)
                    self.assertEqual(action(self.user), expected)
                    self.assertEqual(self.admin.read(), OLD if after is None else after)

    def test_a_missing_log_is_not_created_by_users(self):
        self.new_log("Write-only")
        self.admin.connection.deleteFile(SHARE, LOG)
        self.assertEqual(self.user.opens(FILE_APPEND_DATA, disposition=FILE_OPEN_IF), DENIED)


if __name__ == "__main__":
    unittest.main()
