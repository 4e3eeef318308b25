"""A read-only file system of made-up logs, for the bounds of log mode's reads.

Each file is HEAD followed by filler lines up to SIZE bytes. Reads of a "stall" file do not
return until the reader gets a signal, as a hung file server's do; the others count the bytes they hand out, which the
file ".reads" lists as "NAME BYTES" lines. Opens never block: Wine's server does them, and a
blocked open would stop every program of the prefix. Run by Debian's Python, which has
fusepy, in the foreground as root:

    log_fs.py MOUNTPOINT NAME:SIZE:HEX_HEAD[:stall] ...
"""
import errno
import stat
import sys
import threading
import time

import fusepy

FILLER = b"filler line of a made-up log, in no machine's format\r\n"


class LogFiles(fusepy.Operations):
    def __init__(self, specs):
        self.files = {}
        for spec in specs:
            name, size, head, *stall = spec.split(":")
            self.files["/" + name] = (bytes.fromhex(head), int(size), bool(stall))
        self.reads = {name: 0 for name in self.files}
        self.counting = threading.Lock()

    def report(self):
        with self.counting:
            return "".join(f"{name[1:]} {count}\n" for name, count in self.reads.items()).encode()

    def getattr(self, path, fh=None):
        if path == "/":
            return {"st_mode": stat.S_IFDIR | 0o755, "st_nlink": 2}
        if path == "/.reads":
            return {"st_mode": stat.S_IFREG | 0o444, "st_nlink": 1, "st_size": 4096}
        if path not in self.files:
            raise fusepy.FuseOSError(errno.ENOENT)
        return {"st_mode": stat.S_IFREG | 0o444, "st_nlink": 1, "st_size": self.files[path][1]}

    def readdir(self, path, fh):
        return [".", "..", ".reads"] + [name[1:] for name in self.files]

    def read(self, path, size, offset, fh):
        if path == "/.reads":
            return self.report()[offset:offset + size]
        head, length, stall = self.files[path]
        if stall:
            # Held until the kernel passes on a signal of the reader's, as ending the reading
            # process sends: a FUSE read that is never answered would make the reader immune
            # even to SIGKILL, which no hung file server does to a Windows client.
            while not fusepy._libfuse.fuse_interrupted():
                time.sleep(0.05)
            raise fusepy.FuseOSError(errno.EINTR)
        end = min(offset + size, length)
        with self.counting:
            self.reads[path] += max(end - offset, 0)
        return self.content(head, offset, end)

    @staticmethod
    def content(head, start, end):
        out = head[start:end]
        begin = max(start, len(head))
        if begin < end:
            phase = (begin - len(head)) % len(FILLER)
            out += (FILLER * ((phase + end - begin) // len(FILLER) + 1))[phase:phase + end - begin]
        return out


if __name__ == "__main__":
    # direct_io: every read of a program reaches this process as it was made, not through
    # the page cache's read-ahead, so the counts are what the program read.
    fusepy.FUSE(LogFiles(sys.argv[2:]), sys.argv[1], foreground=True, ro=True, direct_io=True)
