#!/usr/bin/env python3
"""Draw the Quorv application icon (a key with a coloured grid) and write it as a Windows .ico file."""

import argparse
import math
import os
import struct
import zlib

ICON_SIZES = (16, 32, 48, 72)

TRANSPARENT = (0, 0, 0, 0)
KEY_GREY = (0x48, 0x48, 0x48, 0xFF)
KEY_HIGHLIGHT = (0x5C, 0x5C, 0x5C, 0xFF)
HOLE_FILL = (0xF2, 0xF2, 0xF2, 0xFF)
GRID_COLOURS = (
    (0xE5, 0x39, 0x35, 0xFF),  # top-left: red
    (0x43, 0xA0, 0x47, 0xFF),  # top-right: green
    (0x1E, 0x6F, 0xD9, 0xFF),  # bottom-left: blue
    (0xFB, 0xC0, 0x2D, 0xFF),  # bottom-right: yellow
)


# --- shapes -----------------------------------------------------------------
# Each shape is a predicate inside(x, y) over continuous pixel coordinates,
# with (0, 0) the top-left corner of the image and y growing downwards.

def disc(cx, cy, radius):
    """Filled circle."""
    r2 = radius * radius
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r2


def rect(left, top, right, bottom):
    """Axis-aligned rectangle, half-open so adjacent rectangles never overlap."""
    return lambda x, y: left <= x < right and top <= y < bottom


def union(*shapes):
    """Points inside any of the given shapes."""
    return lambda x, y: any(shape(x, y) for shape in shapes)


# --- rendering --------------------------------------------------------------

def samples_per_axis(size):
    """Small icons get more subsamples; their edges matter most."""
    return 16 if size <= 32 else 8


def coverage(shape, size, px, py):
    """Fraction of pixel (px, py) covered by the shape, by regular supersampling."""
    n = samples_per_axis(size)
    step = 1.0 / n
    hits = 0
    for sy in range(n):
        y = py + (sy + 0.5) * step
        for sx in range(n):
            if shape(px + (sx + 0.5) * step, y):
                hits += 1
    return hits / (n * n)


def new_canvas(size):
    """A canvas of straight-alpha RGBA floats (0..1), fully transparent."""
    return [[[0.0, 0.0, 0.0, 0.0] for _ in range(size)] for _ in range(size)]


def paint(canvas, shape, colour, size):
    """Composite a solid colour through the shape's coverage ("over" operator)."""
    src_rgb = [c / 255.0 for c in colour[:3]]
    src_alpha = colour[3] / 255.0
    for py in range(size):
        for px in range(size):
            a = coverage(shape, size, px, py) * src_alpha
            if a == 0.0:
                continue
            dst = canvas[py][px]
            out_alpha = a + dst[3] * (1.0 - a)
            for i in range(3):
                premul = src_rgb[i] * a + dst[i] * dst[3] * (1.0 - a)
                dst[i] = premul / out_alpha
            dst[3] = out_alpha


def to_rgba_bytes(canvas):
    """Quantise the canvas to rows of 8-bit (r, g, b, a) tuples."""
    def q(v):
        return max(0, min(255, int(round(v * 255.0))))
    rows = []
    for row in canvas:
        out = []
        for r, g, b, a in row:
            alpha = q(a)
            out.append((q(r), q(g), q(b), alpha) if alpha else TRANSPARENT)
        rows.append(out)
    return rows


# --- the key ------------------------------------------------------------------

def whole_pixels_matching(value, reference, minimum):
    """Round to a whole number with the same parity as `reference`, so a band
    centred on something `reference` pixels wide shares its centre line and
    both land exactly on pixel boundaries."""
    parity = reference % 2
    return max(minimum, 2 * int(math.floor((value - parity) / 2.0 + 0.5)) + parity)


def largest_grid_cell(hole_radius, gap, margin):
    """Biggest whole-pixel square size for which the 2x2 grid, with its
    corners kept `margin` away from the rim, still fits in the bow's hole."""
    fitting_side = 2.0 * (hole_radius - margin) / math.sqrt(2.0)
    return max(2, int((fitting_side - gap) // 2))


def key_geometry(size):
    """Lay the key out for one icon size.

    The outline is a fixed vector design scaled to the size, but straight
    edges (shaft, teeth, grid squares) are snapped to whole pixels so they
    stay crisp; only the round bow relies on anti-aliasing.
    """
    s = float(size)
    mid = size / 2.0

    # The bow: a ring whose hole shows the coloured grid.
    bow_outer = 0.27 * s
    ring_width = max(1.25, 0.07 * s)
    bow_inner = bow_outer - ring_width

    grid_gap = 0 if size < 32 else max(1, int(round(0.025 * s)))
    grid_cell = largest_grid_cell(bow_inner, grid_gap, margin=0.03 * s)
    grid_side = 2 * grid_cell + grid_gap
    grid_top = int(round(mid - grid_side / 2.0))
    # Keep the bow's left rim just inside the image instead of clipping it.
    grid_left = int(math.ceil(bow_outer + 0.02 * s - grid_side / 2.0))

    # Centre the bow on the grid so the squares sit evenly in its hole.
    bow_cx = grid_left + grid_side / 2.0
    bow_cy = grid_top + grid_side / 2.0

    shaft_height = whole_pixels_matching(0.14 * s, grid_side, 2)
    shaft_top = int(round(bow_cy - shaft_height / 2.0))
    shaft_bottom = shaft_top + shaft_height
    shaft_left = int(math.floor(bow_cx + bow_inner))
    shaft_right = size - max(1, int(round(0.03 * s)))

    tooth_width = max(1, int(round(0.08 * s)))
    tooth_depth = max(2, int(round(0.13 * s)))
    tooth_gap = max(1, int(round(0.06 * s)))
    far_tooth_right = shaft_right - max(0, int(round(0.02 * s)))

    return {
        "grid": (grid_left, grid_top, grid_cell, grid_gap),
        "bow": (bow_cx, bow_cy, bow_outer, bow_inner),
        "shaft": (shaft_left, shaft_top, shaft_right, shaft_bottom),
        "teeth": (far_tooth_right, tooth_width, tooth_depth, tooth_gap),
    }


def teeth_shapes(geometry):
    """Two teeth hanging below the shaft near its tip; the outer one is longer."""
    far_right, width, depth, gap = geometry["teeth"]
    _, _, _, shaft_bottom = geometry["shaft"]
    outer = rect(far_right - width, shaft_bottom, far_right, shaft_bottom + depth)
    inner_right = far_right - width - gap
    inner_depth = max(1, depth - max(1, depth // 3))
    inner = rect(inner_right - width, shaft_bottom, inner_right, shaft_bottom + inner_depth)
    return [outer, inner]


def key_body(geometry):
    """Silhouette of the key: a solid bow disc, the shaft and its teeth."""
    cx, cy, outer, _ = geometry["bow"]
    return union(disc(cx, cy, outer), rect(*geometry["shaft"]), *teeth_shapes(geometry))


def shaft_highlight(geometry):
    """A one-pixel lighter line along the top of the shaft, only where there
    is room for it without eating into the shaft's dark body."""
    left, top, right, bottom = geometry["shaft"]
    if bottom - top < 6:
        return None
    return rect(left + 1, top, right, top + 1)


def grid_squares(geometry):
    """The four coloured squares of the 2x2 grid, in reading order."""
    left, top, cell, gap = geometry["grid"]
    squares = []
    for row in range(2):
        for col in range(2):
            x = left + col * (cell + gap)
            y = top + row * (cell + gap)
            squares.append(rect(x, y, x + cell, y + cell))
    return squares


def draw_icon(size):
    """Render the icon at one size; returns rows of (r, g, b, a), top row first."""
    geometry = key_geometry(size)
    canvas = new_canvas(size)
    paint(canvas, key_body(geometry), KEY_GREY, size)
    highlight = shaft_highlight(geometry)
    if highlight:
        paint(canvas, highlight, KEY_HIGHLIGHT, size)
    cx, cy, _, inner = geometry["bow"]
    paint(canvas, disc(cx, cy, inner), HOLE_FILL, size)
    for square, colour in zip(grid_squares(geometry), GRID_COLOURS):
        paint(canvas, square, colour, size)
    return to_rgba_bytes(canvas)


# --- .ico output ----------------------------------------------------------------

def and_mask_row_bytes(size):
    """AND mask rows are 1 bit per pixel, padded to a 4-byte boundary."""
    return ((size + 31) // 32) * 4


def dib_image(pixels):
    """Encode one icon image as a 32-bit BI_RGB DIB with its AND mask."""
    size = len(pixels)
    bottom_up = list(reversed(pixels))

    xor = bytearray()
    for row in bottom_up:
        for r, g, b, a in row:
            xor += bytes((b, g, r, a))

    mask = bytearray()
    row_bytes = and_mask_row_bytes(size)
    for row in bottom_up:
        bits = bytearray(row_bytes)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits

    header = struct.pack(
        "<IiiHHIIiiII",
        40,                      # biSize
        size,                    # biWidth
        2 * size,                # biHeight: XOR bitmap plus AND mask
        1,                       # biPlanes
        32,                      # biBitCount
        0,                       # biCompression: BI_RGB
        len(xor) + len(mask),    # biSizeImage
        0, 0, 0, 0,              # resolution and palette fields unused
    )
    return header + bytes(xor) + bytes(mask)


def ico_file(images_by_size):
    """Assemble the ICONDIR, its entries and the images into one .ico."""
    count = len(images_by_size)
    directory = struct.pack("<HHH", 0, 1, count)
    offset = 6 + 16 * count
    entries = bytearray()
    blobs = bytearray()
    for size, blob in images_by_size:
        entries += struct.pack(
            "<BBBBHHII",
            size % 256, size % 256,  # width, height (0 would mean 256)
            0, 0,                    # colour count, reserved
            1, 32,                   # planes, bits per pixel
            len(blob), offset,
        )
        blobs += blob
        offset += len(blob)
    return directory + bytes(entries) + bytes(blobs)


# --- .png previews ----------------------------------------------------------------

def png_chunk(kind, data):
    """One length-prefixed, CRC-terminated PNG chunk."""
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def png_file(pixels):
    """Encode RGBA rows as a PNG, for previewing the artwork only."""
    size = len(pixels)
    raw = bytearray()
    for row in pixels:
        raw.append(0)  # filter type: none
        for px in row:
            raw += bytes(px)
    ihdr = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", ihdr)
            + png_chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + png_chunk(b"IEND", b""))


# --- entry point ------------------------------------------------------------------

def parse_args():
    parser = argparse.ArgumentParser(description="Write the application icon.")
    parser.add_argument("output", help="path of the .ico file to write")
    parser.add_argument("--png-dir", help="also write one preview PNG per size here")
    return parser.parse_args()


def main():
    args = parse_args()
    rendered = [(size, draw_icon(size)) for size in ICON_SIZES]

    with open(args.output, "wb") as f:
        f.write(ico_file([(size, dib_image(pixels)) for size, pixels in rendered]))

    if args.png_dir:
        os.makedirs(args.png_dir, exist_ok=True)
        for size, pixels in rendered:
            with open(os.path.join(args.png_dir, "icon_%d.png" % size), "wb") as f:
                f.write(png_file(pixels))


if __name__ == "__main__":
    main()
