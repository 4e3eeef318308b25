"""Made-up logs on FUSE, mounted before it returns: log_fs.py MOUNT NAME:SIZE:HEX_HEAD[:stall]...
Each file is HEAD, then filler up to SIZE; ".reads" lists the bytes each handed out. Reads of
a "stall" file wait for a signal to the reader, as a hung server's do: a FUSE read never
answered would make the reader immune even to SIGKILL. Run by Debian's Python, as root."""
import errno
import sys
import time

import fusepy

FILLER = b"filler, in no machine's format\r\n"


class LogFiles(fusepy.Operations):
    def __init__(self, specs):
        self.files = {"/" + n: (bytes.fromhex(h), int(z), s) for n, z, h, *s in
                      (spec.split(":") for spec in specs)}
        self.reads = dict.fromkeys(self.files, 0)

    def getattr(self, path, fh=None):
        if path == "/":
            return {"st_mode": 0o40755, "st_nlink": 2}
        if path != "/.reads" and path not in self.files:
            raise fusepy.FuseOSError(errno.ENOENT)
        size = self.files.get(path, (b"", 4096))[1]
        return {"st_mode": 0o100444, "st_nlink": 1, "st_size": size}

    def read(self, path, size, offset, fh):
        if path == "/.reads":
            return "".join(f"{n[1:]} {c}\n" for n, c in self.reads.items()).encode()[offset:]
        head, length, stall = self.files[path]
        while stall:
            if fusepy._libfuse.fuse_interrupted():
                raise fusepy.FuseOSError(errno.EINTR)
            time.sleep(0.05)
        size = max(min(size, length - offset), 0)
        self.reads[path] += size
        phase = max(offset - len(head), 0) % len(FILLER)
        return (head[offset:] + (FILLER * (size // len(FILLER) + 2))[phase:])[:size]


if __name__ == "__main__":
    # direct_io: each read reaches this process as the program made it, without read-ahead.
    fusepy.FUSE(LogFiles(sys.argv[2:]), sys.argv[1], ro=True, direct_io=True)
