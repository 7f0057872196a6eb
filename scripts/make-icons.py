#!/usr/bin/env python3
# Regenerate the icons: python3 scripts/make-icons.py   (then: python3 scripts/make-icons.py --check)
"""Draws the three icons of the data source and writes them as Windows .ico files.

kivds/ui/win32/icons/app.ico      IDI_APP       the product: a document camera over a sheet of paper
kivds/ui/win32/icons/capture.ico  IDI_CAPTURE   a camera: body, lens, shutter button
kivds/ui/win32/icons/settings.ico IDI_SETTINGS  tools: a spanner and a screwdriver crossed

The pictures follow kivds/ui/fltk/FltkPictograms.cpp (same 48-unit grid, same
shapes and colours) so the Windows and Linux dialogs look alike. Each file holds
16x16, 32x32 and 48x48 images; the 16x16 ones are simplified drawings, and at
every size rectangles and straight strokes are moved onto the pixel grid so
their edges stay sharp. Every image is a 32-bit BGRA DIB with straight alpha, followed by
its 1-bpp AND mask. Only the standard library is used; the output is
deterministic, so the committed files can be compared with a fresh run.

Usage:
  make-icons.py            write the three .ico files
  make-icons.py --check    re-read the written files, validate their structure
                           and compare them with what this script draws now
  make-icons.py --self-test  make sure the validator rejects damaged files
"""

import argparse
import math
import os
import struct
import sys

SIZES = (16, 32, 48)
SUPERSAMPLE = 4          # 4x4 samples per pixel
GRID = 48.0              # drawings are made on a 48-unit square, as in the FLTK code

OUT_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir,
                       "kivds", "ui", "win32", "icons")

# Colours shared with FltkPictograms.cpp.
DARK3 = (85, 85, 85)             # FL_DARK3
BODY = (60, 64, 72)
LENS_RING = (200, 204, 210)
LENS = (40, 80, 150)
LENS_LIGHT = (150, 190, 240)
FLASH = (250, 220, 90)
STEEL = (120, 124, 132)
SHAFT = (150, 150, 150)
HANDLE = (200, 60, 40)
PAPER = (255, 255, 255)
TEXT_LINE = (176, 180, 188)


# ---------------------------------------------------------------- shapes
# Each shape answers "is the point (u, v) inside?" in grid units and gives a
# bounding box so the rasteriser only visits the samples it can cover.

class Rect:
    def __init__(self, x0, y0, x1, y1, radius=0.0):
        self.x0, self.y0, self.x1, self.y1, self.r = x0, y0, x1, y1, radius

    def bbox(self):
        return self.x0, self.y0, self.x1, self.y1

    def snapped(self, size):
        """The same rectangle with its edges moved to the nearest pixel boundary."""
        x0, x1 = snap_span(self.x0, self.x1, size)
        y0, y1 = snap_span(self.y0, self.y1, size)
        return Rect(x0, y0, x1, y1, self.r)

    def inside(self, u, v):
        if u < self.x0 or u > self.x1 or v < self.y0 or v > self.y1:
            return False
        r = self.r
        if r <= 0:
            return True
        cx = min(max(u, self.x0 + r), self.x1 - r)
        cy = min(max(v, self.y0 + r), self.y1 - r)
        return (u - cx) ** 2 + (v - cy) ** 2 <= r * r


class Ellipse:
    """An ellipse; lower_half keeps only the part below its centre."""

    def __init__(self, cx, cy, rx, ry=None, lower_half=False):
        self.cx, self.cy, self.rx = cx, cy, rx
        self.ry = rx if ry is None else ry
        self.lower_half = lower_half

    def snapped(self, size):
        return self

    def bbox(self):
        return self.cx - self.rx, self.cy - self.ry, self.cx + self.rx, self.cy + self.ry

    def inside(self, u, v):
        if self.lower_half and v < self.cy:
            return False
        du = (u - self.cx) / self.rx
        dv = (v - self.cy) / self.ry
        return du * du + dv * dv <= 1.0


class Stroke:
    """A straight line of the given width with round caps."""

    def __init__(self, x0, y0, x1, y1, width):
        self.x0, self.y0, self.x1, self.y1 = x0, y0, x1, y1
        self.h = width / 2.0
        self.dx, self.dy = x1 - x0, y1 - y0
        self.len2 = self.dx * self.dx + self.dy * self.dy

    def snapped(self, size):
        """A horizontal or vertical stroke moved so that its sides fall on pixel
        boundaries (a whole number of pixels wide); slanted strokes stay as they are."""
        px = GRID / size
        width = max(1, nearest(2 * self.h / px)) * px
        if self.y0 == self.y1:
            y = snap_centre(self.y0, width, size)
            return Stroke(self.x0, y, self.x1, y, width)
        if self.x0 == self.x1:
            x = snap_centre(self.x0, width, size)
            return Stroke(x, self.y0, x, self.y1, width)
        return self

    def bbox(self):
        return (min(self.x0, self.x1) - self.h, min(self.y0, self.y1) - self.h,
                max(self.x0, self.x1) + self.h, max(self.y0, self.y1) + self.h)

    def inside(self, u, v):
        t = 0.0
        if self.len2 > 0:
            t = ((u - self.x0) * self.dx + (v - self.y0) * self.dy) / self.len2
            t = min(max(t, 0.0), 1.0)
        px = self.x0 + t * self.dx - u
        py = self.y0 + t * self.dy - v
        return px * px + py * py <= self.h * self.h


class Polygon:
    """A polygon filled by the even-odd rule."""

    def __init__(self, points):
        self.points = list(points)

    def snapped(self, size):
        return self

    def bbox(self):
        us = [p[0] for p in self.points]
        vs = [p[1] for p in self.points]
        return min(us), min(vs), max(us), max(vs)

    def inside(self, u, v):
        hit = False
        pts = self.points
        j = len(pts) - 1
        for i in range(len(pts)):
            ui, vi = pts[i]
            uj, vj = pts[j]
            if (vi > v) != (vj > v):
                cross = ui + (v - vi) * (uj - ui) / (vj - vi)
                if u < cross:
                    hit = not hit
            j = i
        return hit


def nearest(x):
    """x rounded half up (round() would send halves to the even neighbour)."""
    return int(math.floor(x + 0.5))


def snap_span(a, b, size):
    """A pixel-aligned span starting near `a` with the length of [a, b] in whole
    pixels (at least one), so equal spans stay equal wherever they lie."""
    px = GRID / size
    lo = nearest(a / px)
    return lo * px, (lo + max(1, nearest((b - a) / px))) * px


def snap_centre(c, width, size):
    """The centre of a `width`-wide band near `c` whose sides fall on pixel boundaries."""
    px = GRID / size
    lo = nearest((c - width / 2.0) / px)
    return lo * px + width / 2.0


def slot(cx, cy, dx, dy, width, length):
    """A rectangle of `width` starting at (cx, cy) and running `length` along (dx, dy)."""
    n = math.hypot(dx, dy)
    dx, dy = dx / n, dy / n
    nx, ny = -dy * width / 2.0, dx * width / 2.0
    ex, ey = cx + dx * length, cy + dy * length
    return Polygon([(cx + nx, cy + ny), (ex + nx, ey + ny), (ex - nx, ey - ny), (cx - nx, cy - ny)])


# ---------------------------------------------------------------- canvas

ERASE = None  # paint operation that clears to transparent


class Canvas:
    """size x size pixels, each made of SUPERSAMPLE^2 samples of premultiplied RGBA."""

    def __init__(self, size):
        self.size = size
        self.n = size * SUPERSAMPLE
        self.samples = [(0.0, 0.0, 0.0, 0.0)] * (self.n * self.n)

    def paint(self, shape, colour):
        """Sets the samples whose centre lies in `shape` to the opaque `colour`,
        or clears them with ERASE."""
        scale = GRID / self.n  # grid units per sample
        x0, y0, x1, y1 = shape.bbox()
        i0 = max(0, int(math.floor(x0 / scale)))
        j0 = max(0, int(math.floor(y0 / scale)))
        i1 = min(self.n - 1, int(math.ceil(x1 / scale)))
        j1 = min(self.n - 1, int(math.ceil(y1 / scale)))
        value = (0.0, 0.0, 0.0, 0.0) if colour is ERASE else (
            colour[0] / 255.0, colour[1] / 255.0, colour[2] / 255.0, 1.0)
        for j in range(j0, j1 + 1):
            v = (j + 0.5) * scale
            row = j * self.n
            for i in range(i0, i1 + 1):
                u = (i + 0.5) * scale
                if shape.inside(u, v):
                    self.samples[row + i] = value

    def pixels(self):
        """Rows top-down of (r, g, b, a) bytes with straight alpha."""
        ss = SUPERSAMPLE
        count = float(ss * ss)
        rows = []
        for y in range(self.size):
            row = []
            for x in range(self.size):
                r = g = b = a = 0.0
                for sj in range(ss):
                    base = (y * ss + sj) * self.n + x * ss
                    for si in range(ss):
                        pr, pg, pb, pa = self.samples[base + si]
                        r += pr
                        g += pg
                        b += pb
                        a += pa
                alpha = a / count
                if alpha <= 0.0:
                    row.append((0, 0, 0, 0))
                    continue

                def straight(c):
                    return max(0, min(255, int(round(c / a * 255.0))))

                row.append((straight(r), straight(g), straight(b),
                            max(0, min(255, int(round(alpha * 255.0))))))
            rows.append(row)
        return rows


# ---------------------------------------------------------------- drawings
# Each drawing is a list of (shape, colour or ERASE) painted in order. `size`
# selects the simplified drawing for 16x16, whose coordinates are multiples of
# 3 units (one pixel) so its edges fall on pixel boundaries.

def camera(size):
    if size <= 16:
        return [
            (Rect(15, 9, 30, 15, 1.5), DARK3),          # viewfinder hump
            (Rect(33, 12, 39, 15), HANDLE),             # shutter button
            (Rect(3, 15, 45, 42, 3), BODY),             # body
            (Ellipse(24, 28.5, 10.5), LENS_RING),
            (Ellipse(24, 28.5, 7.5), LENS),
            (Rect(18, 24, 24, 27), LENS_LIGHT),         # glint
            (Rect(36, 18, 42, 21), FLASH),              # flash window
        ]
    return [
        (Rect(15, 10, 29, 17, 2), DARK3),               # viewfinder hump
        (Rect(33, 12, 40, 17, 1.5), HANDLE),            # shutter button
        (Rect(4, 15, 44, 41, 3), BODY),                 # body
        (Ellipse(24, 28, 11), LENS_RING),
        (Ellipse(24, 28, 8), LENS),
        (Ellipse(22.5, 25.5, 2.5), LENS_LIGHT),         # glint
        (Rect(36, 18, 41, 21, 0.5), FLASH),             # flash window
    ]


def tools(size):
    small = size <= 16
    # Thicker strokes at 16x16 so the two tools stay apart when blurred into pixels.
    spanner_w, head_r, jaw_w, jaw_at, ring_r = (6, 9.5, 6, 2, 6.5) if small else (5, 6.5, 5, 1.5, 5)
    shaft_w, handle_w, gap = (4, 9, 1.5) if small else (3, 7, 1.5)
    ops = [
        # The spanner: handle, open jaw at the top right, ring end at the bottom left.
        (Stroke(12, 36, 34, 14, spanner_w), STEEL),
        (Ellipse(36, 12, head_r), STEEL),
        (Ellipse(36 + jaw_at, 12 - jaw_at, jaw_w / 2.0), ERASE),
        (slot(36 + jaw_at, 12 - jaw_at, 1, -1, jaw_w, 12), ERASE),
        (Ellipse(11, 37, ring_r), STEEL),
    ]
    if not small:
        ops.append((Ellipse(11, 37, 2), ERASE))
    # The screwdriver lies on top, parted from the spanner by a thin transparent gap.
    ops += [
        (Stroke(12, 12, 27, 27, shaft_w + 2 * gap), ERASE),
        (Stroke(28, 28, 36, 36, handle_w + 2 * gap), ERASE),
        (Stroke(12, 12, 27, 27, shaft_w), SHAFT),
        (Stroke(28, 28, 36, 36, handle_w), HANDLE),
    ]
    if not small:
        ops.append((Stroke(26.5, 26.5, 27.5, 27.5, 4.5), DARK3))  # ferrule
    return ops


def product(size):
    if size <= 16:
        return [
            (Rect(0, 27, 33, 45), DARK3),               # sheet of paper with its edge
            (Rect(3, 30, 30, 42), PAPER),
            (Rect(6, 33, 24, 36), TEXT_LINE),
            (Stroke(40.5, 43.5, 40.5, 7.5, 3), BODY),   # arm
            (Stroke(40.5, 7.5, 24, 7.5, 3), BODY),
            (Rect(33, 42, 48, 48), BODY),               # base
            (Rect(9, 3, 27, 12, 1.5), BODY),            # camera head
            (Rect(15, 12, 21, 15), LENS),               # lens
        ]
    line = GRID / size  # one pixel, in grid units
    return [
        (Rect(4, 26, 34, 44), DARK3),                   # sheet of paper with its edge
        (Rect(4 + line, 26 + line, 34 - line, 44 - line), PAPER),
        (Rect(8, 30, 26, 32), TEXT_LINE),               # lines of text, 3 pixels apart at 32x32
        (Rect(8, 34.5, 30, 36.5), TEXT_LINE),
        (Rect(8, 39, 22, 41), TEXT_LINE),
        (Stroke(40, 43, 40, 8, 3), BODY),               # arm
        (Stroke(40, 8, 24, 8, 3), BODY),
        (Rect(34, 42, 46, 46, 1.5), BODY),              # base
        (Rect(14, 5, 26, 13, 1.5), BODY),               # camera head
        (Ellipse(20, 12.5, 3.5, 2.5, lower_half=True), LENS),  # lens
    ]


ICONS = (
    ("app.ico", product),
    ("capture.ico", camera),
    ("settings.ico", tools),
)


def render(drawing, size):
    canvas = Canvas(size)
    for shape, colour in drawing(size):
        canvas.paint(shape.snapped(size), colour)
    return canvas.pixels()


# ---------------------------------------------------------------- .ico writer

ICONDIR = struct.Struct("<HHH")
ICONDIRENTRY = struct.Struct("<BBBBHHII")
BITMAPINFOHEADER = struct.Struct("<IiiHHIIiiII")


def mask_stride(size):
    """Bytes per row of the 1-bpp AND mask, padded to 4 bytes."""
    return ((size + 31) // 32) * 4


def image_bytes(size):
    return BITMAPINFOHEADER.size + size * size * 4 + mask_stride(size) * size


def encode_image(rows):
    """A BITMAPINFOHEADER, the BGRA rows bottom-up, then the AND mask bottom-up."""
    size = len(rows)
    xor_size = size * size * 4
    and_size = mask_stride(size) * size
    out = bytearray()
    out += struct.pack("<I", BITMAPINFOHEADER.size)  # biSize
    out += struct.pack("<i", size)                   # biWidth
    out += struct.pack("<i", size * 2)               # biHeight: colour and mask
    out += struct.pack("<H", 1)                      # biPlanes
    out += struct.pack("<H", 32)                     # biBitCount
    out += struct.pack("<I", 0)                      # biCompression: BI_RGB
    out += struct.pack("<I", xor_size + and_size)    # biSizeImage
    out += struct.pack("<i", 0)                      # biXPelsPerMeter
    out += struct.pack("<i", 0)                      # biYPelsPerMeter
    out += struct.pack("<I", 0)                      # biClrUsed
    out += struct.pack("<I", 0)                      # biClrImportant
    for row in reversed(rows):
        for r, g, b, a in row:
            out += struct.pack("<BBBB", b, g, r, a)
    stride = mask_stride(size)
    for row in reversed(rows):
        bits = bytearray(stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:  # 1 = transparent for painters that ignore alpha
                bits[x // 8] |= 0x80 >> (x % 8)
        out += bits
    return bytes(out)


def encode_ico(images):
    """images: list of (size, encoded image) in directory order."""
    out = bytearray()
    out += struct.pack("<H", 0)            # idReserved
    out += struct.pack("<H", 1)            # idType: icon
    out += struct.pack("<H", len(images))  # idCount
    offset = ICONDIR.size + ICONDIRENTRY.size * len(images)
    for size, data in images:
        out += struct.pack("<B", size % 256)  # bWidth (0 means 256)
        out += struct.pack("<B", size % 256)  # bHeight
        out += struct.pack("<B", 0)           # bColorCount: not palettised
        out += struct.pack("<B", 0)           # bReserved
        out += struct.pack("<H", 1)           # wPlanes
        out += struct.pack("<H", 32)          # wBitCount
        out += struct.pack("<I", len(data))   # dwBytesInRes
        out += struct.pack("<I", offset)      # dwImageOffset
        offset += len(data)
    for _, data in images:
        out += data
    return bytes(out)


def build(drawing):
    return encode_ico([(size, encode_image(render(drawing, size))) for size in SIZES])


# ---------------------------------------------------------------- validator

class IcoError(Exception):
    pass


def validate(data):
    """Checks the structure of an .ico written by this script; raises IcoError."""
    if len(data) < ICONDIR.size:
        raise IcoError("shorter than the icon directory header")
    reserved, kind, count = ICONDIR.unpack_from(data, 0)
    if reserved != 0 or kind != 1:
        raise IcoError("not an icon file (reserved=%d type=%d)" % (reserved, kind))
    if count != len(SIZES):
        raise IcoError("%d images instead of %d" % (count, len(SIZES)))
    table_end = ICONDIR.size + ICONDIRENTRY.size * count
    if len(data) < table_end:
        raise IcoError("directory runs past the end of the file")
    expected_offset = table_end
    for index, size in enumerate(SIZES):
        w, h, colours, res, planes, bpp, length, offset = ICONDIRENTRY.unpack_from(
            data, ICONDIR.size + ICONDIRENTRY.size * index)
        where = "image %d (%dx%d)" % (index, size, size)
        if (w, h) != (size % 256, size % 256):
            raise IcoError("%s: directory says %dx%d" % (where, w, h))
        if colours != 0 or res != 0 or planes != 1 or bpp != 32:
            raise IcoError("%s: colours=%d reserved=%d planes=%d bpp=%d"
                           % (where, colours, res, planes, bpp))
        if length != image_bytes(size):
            raise IcoError("%s: %d bytes, expected %d" % (where, length, image_bytes(size)))
        if offset != expected_offset:
            raise IcoError("%s: offset %d, expected %d" % (where, offset, expected_offset))
        if offset + length > len(data):
            raise IcoError("%s: runs past the end of the file" % where)
        (bi_size, bi_w, bi_h, bi_planes, bi_bpp, bi_comp, bi_image,
         _, _, bi_used, _) = BITMAPINFOHEADER.unpack_from(data, offset)
        if bi_size != BITMAPINFOHEADER.size or bi_w != size or bi_h != 2 * size:
            raise IcoError("%s: header size=%d width=%d height=%d" % (where, bi_size, bi_w, bi_h))
        if bi_planes != 1 or bi_bpp != 32 or bi_comp != 0 or bi_used != 0:
            raise IcoError("%s: header planes=%d bpp=%d compression=%d colours=%d"
                           % (where, bi_planes, bi_bpp, bi_comp, bi_used))
        xor_size = size * size * 4
        and_size = mask_stride(size) * size
        if bi_image not in (0, xor_size + and_size):
            raise IcoError("%s: biSizeImage %d" % (where, bi_image))
        pixels = offset + BITMAPINFOHEADER.size
        mask = pixels + xor_size
        opaque = clear = 0
        for y in range(size):
            for x in range(size):
                alpha = data[pixels + (y * size + x) * 4 + 3]
                bit = (data[mask + y * mask_stride(size) + x // 8] >> (7 - x % 8)) & 1
                if bit != (alpha == 0):
                    raise IcoError("%s: mask disagrees with alpha at (%d, %d) of the bottom-up rows"
                                   % (where, x, y))
                opaque += alpha == 255
                clear += alpha == 0
            pad = data[mask + y * mask_stride(size) + (size + 7) // 8:
                       mask + (y + 1) * mask_stride(size)]
            if any(pad):
                raise IcoError("%s: mask row %d has bits in its padding" % (where, y))
        if opaque == 0:
            raise IcoError("%s: no opaque pixel" % where)
        if clear == 0:
            raise IcoError("%s: no transparent pixel, the background is not transparent" % where)
        expected_offset = offset + length
    if expected_offset != len(data):
        raise IcoError("%d bytes after the last image" % (len(data) - expected_offset))


def check(out_dir):
    failures = 0
    for name, drawing in ICONS:
        path = os.path.join(out_dir, name)
        try:
            with open(path, "rb") as f:
                data = f.read()
            validate(data)
            if data != build(drawing):
                raise IcoError("differs from what the script draws now; regenerate it")
            print("ok   %s (%d bytes)" % (name, len(data)))
        except (OSError, IcoError) as e:
            print("FAIL %s: %s" % (name, e))
            failures += 1
    return failures


def self_test():
    """Damages a good file in the ways a writer bug would, and expects each to be
    rejected for the right reason."""
    good = build(camera)
    validate(good)

    def patched(offset, fmt, value, data=good):
        data = bytearray(data)
        struct.pack_into(fmt, data, offset, value)
        return bytes(data)

    entry = ICONDIR.size
    first_image = ICONDIR.size + ICONDIRENTRY.size * len(SIZES)
    first_pixels = first_image + BITMAPINFOHEADER.size
    first_mask = first_pixels + 16 * 16 * 4

    # All of the first image opaque, with a mask that agrees: only the
    # transparency rule can object.
    opaque = bytearray(good)
    for k in range(16 * 16):
        opaque[first_pixels + 4 * k + 3] = 255
    opaque[first_mask:first_mask + mask_stride(16) * 16] = bytes(mask_stride(16) * 16)

    cases = [  # (damage, file, words the complaint must contain)
        ("truncated", good[:-1], "runs past the end"),
        ("trailing byte", good + b"\0", "after the last image"),
        ("cursor type", patched(2, "<H", 2), "not an icon"),
        ("image missing", patched(4, "<H", 2), "2 images"),
        ("wrong width", patched(entry, "<B", 15), "directory says 15x16"),
        ("24 bpp entry", patched(entry + 6, "<H", 24), "bpp=24"),
        ("short length", patched(entry + 8, "<I", image_bytes(16) - 4), "bytes, expected"),
        ("bad offset", patched(entry + 12, "<I", first_image + 1), "offset"),
        ("height not doubled", patched(first_image + 8, "<i", 16), "height=16"),
        ("compressed", patched(first_image + 16, "<I", 3), "compression=3"),
        ("mask bit flipped", patched(first_mask, "<B", good[first_mask] ^ 0x80), "mask disagrees"),
        ("mask padding", patched(first_mask + 2, "<B", 1), "padding"),
        ("opaque background", bytes(opaque), "not transparent"),
    ]
    missed = []
    for label, data, words in cases:
        try:
            validate(data)
            missed.append("%s: accepted" % label)
        except IcoError as e:
            if words not in str(e):
                missed.append("%s: rejected for another reason (%s)" % (label, e))
    for line in missed:
        print("FAIL validator: %s" % line)
    if not missed:
        print("ok   the validator rejects %d kinds of damage" % len(cases))
    return len(missed)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--check", action="store_true",
                        help="validate the written files instead of writing them")
    parser.add_argument("--self-test", action="store_true",
                        help="make sure the validator rejects damaged files")
    parser.add_argument("--out", default=OUT_DIR, help="output folder")
    args = parser.parse_args()
    if args.self_test:
        return 1 if self_test() else 0
    if args.check:
        return 1 if check(args.out) else 0
    os.makedirs(args.out, exist_ok=True)
    for name, drawing in ICONS:
        data = build(drawing)
        validate(data)
        with open(os.path.join(args.out, name), "wb") as f:
            f.write(data)
        print("wrote %s (%d bytes)" % (os.path.normpath(os.path.join(args.out, name)), len(data)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
