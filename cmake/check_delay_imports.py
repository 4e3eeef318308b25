#!/usr/bin/env python3
"""Fails the build when a delay-loaded call of a linked program would jump to nowhere.

Every function a program takes from a delay-load import library has an import slot that
must start out pointing at its thunk, in the program's code. The linker's map says where
each slot is and which object called the function; the program's bytes say where the slot
points. A slot outside the code means the linker dropped the thunk: the program is deleted
and the message names the call and what to do.
Usage: check_delay_imports.py PROGRAM MAP KEEP_LIST DELAY_LIBRARY...
"""
import os
import re
import struct
import sys

MEMBER = re.compile(r"^(\S+)\((\S+_s\d+\.o)\)\s*(.*)$")
SLOT = re.compile(r"^ \.idata\$5\s+0x([0-9a-f]+)\s+0x4\s+(\S+)\((\S+)\)$")
SLOT_SYMBOL = re.compile(r"^\s+0x[0-9a-f]+\s+_imp__(\S+)$")
EXECUTABLE = 0x20000000


def read_map(path, libraries):
    """({member: caller} of the delay-library stubs the link took, [(address, name, library,
    member)] of their import slots)."""
    with open(path) as file:
        lines = file.read().splitlines()
    callers, slots = {}, []
    members = True
    for number, line in enumerate(lines):
        if line.startswith(("Allocating common", "Discarded input", "Memory Configuration")):
            members = False
        if members:
            match = MEMBER.match(line)
            if match and os.path.basename(match[1]) in libraries:
                caller = match[3] or lines[number + 1].strip()
                callers[match[2]] = caller.rsplit(" (", 1)[0] if " (" in caller else "-u"
            continue
        match = SLOT.match(line)
        symbol = SLOT_SYMBOL.match(lines[number + 1]) if match else None
        if symbol and os.path.basename(match[2]) in libraries:
            slots.append((int(match[1], 16), symbol[1], os.path.basename(match[2]), match[3]))
    return callers, slots


def read_image(path):
    """(image bytes, image base, [(size, rva, file offset, characteristics)] of sections)."""
    with open(path, "rb") as file:
        image = file.read()
    header = struct.unpack_from("<I", image, 0x3C)[0]
    count, optional_size = struct.unpack_from("<H12xH", image, header + 6)
    base = struct.unpack_from("<I", image, header + 24 + 28)[0]
    table = header + 24 + optional_size
    sections = [struct.unpack_from("<8xIIxxxxI12xI", image, table + 40 * i) for i in range(count)]
    return image, base, sections


def main():
    program, map_path, keep_list, *library_paths = sys.argv[1:]
    libraries = {os.path.basename(path) for path in library_paths}
    callers, slots = read_map(map_path, libraries)
    if len(callers) != len(slots):
        sys.exit(f"check_delay_imports: {map_path}: found {len(callers)} delay-load stubs "
                 f"but {len(slots)} import slots; the map's layout is not understood")
    image, base, sections = read_image(program)

    def points_into_code(slot_address):
        rva = slot_address - base
        for size, address, offset, _ in sections:
            if address <= rva < address + size:
                target = struct.unpack_from("<I", image, offset + rva - address)[0] - base
                return any(start <= target < start + length and flags & EXECUTABLE
                           for length, start, _, flags in sections)
        return False

    broken = [(name, library, member) for address, name, library, member in slots
              if not points_into_code(address)]
    if not broken:
        return
    os.remove(program)
    name = os.path.basename(program)
    lines = [f"check_delay_imports: {name} would crash on these delay-loaded calls, whose "
             "import slots point nowhere:"]
    for function, library, member in broken:
        dll = re.sub(r"^lib(.*)_delay\.a$", r"\1.dll", library)
        lines.append(f"  {function} from {dll}, called by {callers.get(member, '?')}; "
                     f"-Wl,-u,_{function} keeps it")
    lines += [
        "The linker keeps a delay-load thunk only when the function is named with -u. The names",
        "are taken from the objects and static libraries of the target and of the libraries it",
        f"links (see {keep_list}); code given to the linker another way is not read.",
        "Link that code as a source or library of the target, or add the option above to its",
        f"link options. {name} has been deleted."]
    sys.exit("\n".join(lines))


if __name__ == "__main__":
    main()
