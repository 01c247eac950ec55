#!/usr/bin/env python3
"""Checks Velmora's cursor and icon files, and the compiled Windows resources.

    check_resources.py RESOURCES_DIR [--generator SCRIPT] [--res FILE.res]

RESOURCES_DIR holds link.cur, velmora.ico and window.ico. With --generator
the drawing script is run into a temporary folder and must reproduce those
files byte for byte. With --res the output of windres (-O res) for
velmora.rc is taken apart and compared with the files it was built from.

The files are decoded here from the raw bytes, independently of the script
that draws them. Standard library only.
"""

import argparse
import os
import struct
import subprocess
import sys
import tempfile

VGA16 = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]

GENERATED = ("link.cur", "velmora.ico", "window.ico")


class Checks:
    def __init__(self):
        self.passed = 0
        self.failed = 0

    def check(self, ok, what):
        if ok:
            self.passed += 1
        else:
            self.failed += 1
            print("FAIL: " + what)
        return ok


class FormatError(Exception):
    pass


# --------------------------------------------------------------------------
# Decoding
# --------------------------------------------------------------------------

class Dib:
    """A BMP-style image as stored in .ico and .cur files."""

    def __init__(self, data):
        if len(data) < 40:
            raise FormatError("image data shorter than a BITMAPINFOHEADER")
        (size, self.width, height2, self.planes, self.bpp, self.compression,
         self.size_image, _, _, clr_used, _) = struct.unpack("<IiiHHIIiiII", data[:40])
        if size != 40:
            raise FormatError("header size %d, expected 40" % size)
        if height2 % 2:
            raise FormatError("odd DIB height %d (must be twice the image height)" % height2)
        self.height2 = height2
        self.height = height2 // 2
        if self.bpp <= 8:
            count = clr_used or (1 << self.bpp)
        else:
            count = clr_used
        self.palette = []
        pos = 40
        for _ in range(count):
            b, g, r, _ = data[pos:pos + 4]
            self.palette.append((r, g, b))
            pos += 4
        w, h = self.width, self.height
        xor_stride = (w * self.bpp + 31) // 32 * 4
        and_stride = (w + 31) // 32 * 4
        self.expected_length = pos + (xor_stride + and_stride) * h
        if len(data) != self.expected_length:
            raise FormatError("image data is %d bytes, header says %d"
                              % (len(data), self.expected_length))
        self.xor_and_size = (xor_stride + and_stride) * h
        xor = data[pos:pos + xor_stride * h]
        mask = data[pos + xor_stride * h:]
        self.pixels = []  # top row first; palette index, or (r, g, b, a)
        self.clear = []   # top row first; True where the AND mask is set
        for y in range(h):
            src = h - 1 - y  # stored bottom-up
            row_bytes = xor[src * xor_stride:(src + 1) * xor_stride]
            row = []
            for x in range(w):
                if self.bpp == 32:
                    b, g, r, a = row_bytes[4 * x:4 * x + 4]
                    row.append((r, g, b, a))
                elif self.bpp in (1, 4, 8):
                    bit = x * self.bpp
                    byte = row_bytes[bit // 8]
                    shift = 8 - self.bpp - bit % 8
                    row.append((byte >> shift) & ((1 << self.bpp) - 1))
                else:
                    raise FormatError("unsupported bit depth %d" % self.bpp)
            self.pixels.append(row)
            mask_bytes = mask[src * and_stride:(src + 1) * and_stride]
            self.clear.append([bool(mask_bytes[x // 8] & (0x80 >> (x % 8))) for x in range(w)])

    def rgb(self, x, y):
        p = self.pixels[y][x]
        return p[:3] if self.bpp == 32 else self.palette[p]


class IconFile:
    def __init__(self, data):
        if len(data) < 6:
            raise FormatError("shorter than an icon directory")
        self.reserved, self.kind, count = struct.unpack("<HHH", data[:6])
        self.entries = []
        for i in range(count):
            start = 6 + 16 * i
            if len(data) < start + 16:
                raise FormatError("directory entry %d is cut short" % i)
            w, h, colours, reserved, word1, word2, size, offset = struct.unpack(
                "<BBBBHHII", data[start:start + 16])
            if offset + size > len(data):
                raise FormatError("image %d lies past the end of the file" % i)
            raw = data[offset:offset + size]
            self.entries.append({
                "width": w or 256, "height": h or 256, "colours": colours,
                "reserved": reserved, "word1": word1, "word2": word2,
                "size": size, "offset": offset, "raw": raw, "dib": Dib(raw),
            })
        self.length = len(data)


def load_icon(path):
    with open(path, "rb") as f:
        return IconFile(f.read())


# --------------------------------------------------------------------------
# Shared image checks
# --------------------------------------------------------------------------

def check_layout(c, name, icon):
    """Images follow the directory back to back, no gaps, no overlap."""
    pos = 6 + 16 * len(icon.entries)
    for i, e in enumerate(sorted(icon.entries, key=lambda e: e["offset"])):
        c.check(e["offset"] == pos, "%s: image %d starts at %d, expected %d"
                % (name, i, e["offset"], pos))
        pos = e["offset"] + e["size"]
    c.check(pos == icon.length, "%s: %d stray bytes after the last image" % (name, icon.length - pos))


def check_header(c, label, e):
    d = e["dib"]
    c.check(d.width == e["width"] and d.height == e["height"],
            "%s: directory says %dx%d, image header %dx%d"
            % (label, e["width"], e["height"], d.width, d.height))
    c.check(d.planes == 1, "%s: %d planes" % (label, d.planes))
    c.check(d.compression == 0, "%s: compression %d, expected BI_RGB" % (label, d.compression))
    c.check(d.size_image in (0, d.xor_and_size),
            "%s: biSizeImage %d, pixel data is %d" % (label, d.size_image, d.xor_and_size))
    c.check(e["reserved"] == 0, "%s: reserved byte %d" % (label, e["reserved"]))


def corners(d):
    return ((0, 0), (d.width - 1, 0), (0, d.height - 1), (d.width - 1, d.height - 1))


# --------------------------------------------------------------------------
# link.cur
# --------------------------------------------------------------------------

def check_cursor(c, path):
    cur = load_icon(path)
    c.check(cur.reserved == 0 and cur.kind == 2, "link.cur: not a cursor file (type %d)" % cur.kind)
    if not c.check(len(cur.entries) == 1, "link.cur: %d images, expected 1" % len(cur.entries)):
        return
    check_layout(c, "link.cur", cur)
    e = cur.entries[0]
    d = e["dib"]
    check_header(c, "link.cur", e)
    c.check((e["width"], e["height"]) == (32, 32), "link.cur: %dx%d, expected 32x32"
            % (e["width"], e["height"]))
    c.check((e["word1"], e["word2"]) == (6, 0), "link.cur: hot spot (%d, %d), expected (6, 0)"
            % (e["word1"], e["word2"]))
    if not c.check(d.bpp == 1, "link.cur: %d bpp, expected monochrome" % d.bpp):
        return
    c.check(d.palette == [(0, 0, 0), (255, 255, 255)],
            "link.cur: palette %r, expected black then white" % d.palette)

    # Masked pixels must leave the screen alone: AND 1 with XOR 1 inverts it.
    inverted = [(x, y) for y in range(32) for x in range(32) if d.clear[y][x] and d.pixels[y][x]]
    c.check(not inverted, "link.cur: screen-inverting pixels at %r" % inverted[:5])

    for x, y in corners(d):
        c.check(d.clear[y][x], "link.cur: corner (%d, %d) is not transparent" % (x, y))
    c.check(not d.clear[0][6], "link.cur: the hot spot pixel (6, 0) is transparent")


# --------------------------------------------------------------------------
# velmora.ico and window.ico
# --------------------------------------------------------------------------

def check_icon_image(c, label, e):
    d = e["dib"]
    check_header(c, label, e)
    bpp = d.bpp
    c.check(e["word1"] == 1, "%s: directory says %d planes" % (label, e["word1"]))
    c.check(e["word2"] == bpp, "%s: directory says %d bpp, image header %d"
            % (label, e["word2"], bpp))
    c.check(e["colours"] == (16 if bpp == 4 else 0),
            "%s: directory colour count %d" % (label, e["colours"]))
    if bpp == 4:
        c.check(d.palette == VGA16, "%s: the palette is not the standard 16-colour one" % label)
    elif bpp == 8:
        c.check(len(d.palette) == 256, "%s: %d palette entries" % (label, len(d.palette)))
    elif bpp == 32:
        c.check(not d.palette, "%s: a 32 bpp image with a palette" % label)

    for x, y in corners(d):
        c.check(d.clear[y][x], "%s: corner (%d, %d) is not masked transparent" % (label, x, y))
        if bpp == 32:
            c.check(d.pixels[y][x][3] == 0, "%s: corner (%d, %d) has alpha %d"
                    % (label, x, y, d.pixels[y][x][3]))
    cx, cy = d.width // 2, d.height // 2
    c.check(not d.clear[cy][cx], "%s: the middle of the icon is transparent" % label)

    # Masked pixels must be black in the XOR image, or AND-then-XOR drawing
    # changes the screen behind the icon.
    stray = [(x, y) for y in range(d.height) for x in range(d.width)
             if d.clear[y][x] and d.rgb(x, y) != (0, 0, 0)]
    c.check(not stray, "%s: masked pixels that are not black at %r" % (label, stray[:5]))

    if bpp == 32:
        wrong = [(x, y) for y in range(d.height) for x in range(d.width)
                 if d.clear[y][x] != (d.pixels[y][x][3] == 0)]
        c.check(not wrong, "%s: AND mask and alpha disagree at %r" % (label, wrong[:5]))
    elif bpp == 8:
        # Drawn in colours of its own, not the 16-colour version again.
        used = {d.rgb(x, y) for y in range(d.height) for x in range(d.width)
                if not d.clear[y][x]}
        c.check(used - set(VGA16), "%s: only standard 16-colour shades in a 256-colour image"
                % label)



def check_app_icon(c, path):
    ico = load_icon(path)
    c.check(ico.reserved == 0 and ico.kind == 1, "velmora.ico: not an icon file (type %d)" % ico.kind)
    check_layout(c, "velmora.ico", ico)
    found = sorted((e["width"], e["height"], e["dib"].bpp) for e in ico.entries)
    wanted = sorted((s, s, b) for s in (16, 32, 48) for b in (4, 8, 32))
    c.check(found == wanted, "velmora.ico: images %r, expected %r" % (found, wanted))
    for e in ico.entries:
        label = "velmora.ico %dx%d %d bpp" % (e["width"], e["height"], e["dib"].bpp)
        check_icon_image(c, label, e)


def check_window_icon(c, path):
    ico = load_icon(path)
    c.check(ico.reserved == 0 and ico.kind == 1, "window.ico: not an icon file (type %d)" % ico.kind)
    check_layout(c, "window.ico", ico)
    found = [(e["width"], e["height"], e["dib"].bpp) for e in ico.entries]
    if c.check(found == [(24, 24, 8)], "window.ico: images %r, expected one 24x24 8 bpp" % found):
        check_icon_image(c, "window.ico", ico.entries[0])


# --------------------------------------------------------------------------
# Regeneration
# --------------------------------------------------------------------------

def check_generator(c, generator, resources):
    with tempfile.TemporaryDirectory() as tmp:
        proc = subprocess.run([sys.executable, generator, tmp], stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT)
        if not c.check(proc.returncode == 0, "%s exited with %d:\n%s"
                       % (generator, proc.returncode, proc.stdout.decode(errors="replace"))):
            return
        for name in GENERATED:
            fresh_path = os.path.join(tmp, name)
            if not c.check(os.path.exists(fresh_path), "%s did not write %s" % (generator, name)):
                continue
            with open(fresh_path, "rb") as f:
                fresh = f.read()
            with open(os.path.join(resources, name), "rb") as f:
                kept = f.read()
            c.check(fresh == kept, "%s is not what %s draws now; run it again and commit "
                    "the result" % (name, os.path.basename(generator)))
        extra = sorted(set(os.listdir(tmp)) - set(GENERATED))
        c.check(not extra, "%s wrote unexpected files %r" % (generator, extra))


# --------------------------------------------------------------------------
# The compiled .res
# --------------------------------------------------------------------------

RT_CURSOR, RT_ICON, RT_GROUP_CURSOR, RT_GROUP_ICON, RT_VERSION = 1, 3, 12, 14, 16


def _res_name(data, pos):
    if data[pos:pos + 2] == b"\xff\xff":
        return struct.unpack("<H", data[pos + 2:pos + 4])[0], pos + 4
    end = pos
    while data[end:end + 2] != b"\0\0":
        end += 2
    return data[pos:end].decode("utf-16-le"), end + 2


def read_res(data):
    """{(type, name): (language, bytes)} from a 32-bit .res file."""
    out = {}
    pos = 0
    while pos < len(data):
        data_size, header_size = struct.unpack("<II", data[pos:pos + 8])
        rtype, p = _res_name(data, pos + 8)
        name, p = _res_name(data, p)
        p += -p % 4
        _, _, language, _, _ = struct.unpack("<IHHII", data[p:p + 16])
        start = pos + header_size
        body = data[start:start + data_size]
        if len(body) != data_size:
            raise FormatError("resource %r/%r is cut short" % (rtype, name))
        if not (rtype == 0 and data_size == 0):  # the empty entry that opens the file
            if (rtype, name) in out:
                raise FormatError("resource %r/%r appears twice" % (rtype, name))
            out[(rtype, name)] = (language, body)
        pos = start + data_size
        pos += -pos % 4
    return out


def _version_node(data, pos):
    length, value_length, vtype = struct.unpack("<HHH", data[pos:pos + 6])
    end = pos + length
    key_end = pos + 6
    while data[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = data[pos + 6:key_end].decode("utf-16-le")
    p = key_end + 2
    p += -p % 4
    if vtype == 1:
        value = data[p:p + 2 * value_length].decode("utf-16-le").rstrip("\0")
        p += 2 * value_length
    else:
        value = data[p:p + value_length]
        p += value_length
    children = []
    p += -p % 4
    while p < end:
        child, p = _version_node(data, p)
        children.append(child)
        p += -p % 4
    return (key, value, children), end


def check_res(c, path, resources):
    with open(path, "rb") as f:
        res = read_res(f.read())
    languages = {lang for lang, _ in res.values()}

    def group(rtype, name, source, cursor):
        label = "%s (%s %r)" % (os.path.basename(source), "cursor" if cursor else "icon", name)
        if not c.check((rtype, name) in res, "%s is missing from the .res" % label):
            return
        body = res[(rtype, name)][1]
        reserved, kind, count = struct.unpack("<HHH", body[:6])
        c.check((reserved, kind) == (0, 2 if cursor else 1), "%s: bad group header" % label)
        src = load_icon(os.path.join(resources, source))
        c.check(count == len(src.entries), "%s: %d images in the group, the file has %d"
                % (label, count, len(src.entries)))
        for i, e in enumerate(src.entries[:count]):
            entry = body[6 + 14 * i:20 + 14 * i]
            if cursor:
                w, h2, planes, bpp, size, rid = struct.unpack("<HHHHIH", entry)
                h = h2 // 2
            else:
                w, h, _, _, planes, bpp, size, rid = struct.unpack("<BBBBHHIH", entry)
                w, h = w or 256, h or 256
            d = e["dib"]
            c.check((w, h, bpp) == (d.width, d.height, d.bpp),
                    "%s image %d: group says %dx%d %d bpp" % (label, i, w, h, bpp))
            image = res.get((RT_CURSOR if cursor else RT_ICON, rid))
            if not c.check(image is not None, "%s image %d: no image resource %d" % (label, i, rid)):
                continue
            image = image[1]
            c.check(size == len(image), "%s image %d: group says %d bytes, image has %d"
                    % (label, i, size, len(image)))
            if cursor:
                hx, hy = struct.unpack("<HH", image[:4])
                c.check((hx, hy) == (6, 0), "%s: compiled hot spot (%d, %d)" % (label, hx, hy))
                image = image[4:]
            c.check(image == e["raw"], "%s image %d differs from the file" % (label, i))

    group(RT_GROUP_ICON, 1, "velmora.ico", False)
    group(RT_GROUP_ICON, 2, "window.ico", False)
    group(RT_GROUP_CURSOR, 101, "link.cur", True)

    icon_groups = [name for rtype, name in res if rtype == RT_GROUP_ICON]
    c.check(all(isinstance(n, int) for n in icon_groups) and min(icon_groups) == 1,
            "icon groups %r: the program icon (1) must sort first" % icon_groups)

    if not c.check((RT_VERSION, 1) in res, "no VERSIONINFO 1 in the .res"):
        return
    (key, fixed, children), _ = _version_node(res[(RT_VERSION, 1)][1], 0)
    c.check(key == "VS_VERSION_INFO", "version resource key %r" % key)
    if c.check(len(fixed) == 52, "fixed version info is %d bytes" % len(fixed)):
        sig, _, fv_ms, fv_ls, pv_ms, pv_ls = struct.unpack("<IIIIII", fixed[:24])
        c.check(sig == 0xFEEF04BD, "fixed version info signature %#x" % sig)
        c.check((fv_ms, fv_ls) == (0x00010000, 0), "FILEVERSION is not 1,0,0,0")
        c.check((pv_ms, pv_ls) == (0x00010000, 0), "PRODUCTVERSION is not 1,0,0,0")
        file_type = struct.unpack("<I", fixed[36:40])[0]
        c.check(file_type == 1, "FILETYPE %d, expected an application" % file_type)
    blocks = {k: (v, ch) for k, v, ch in children}
    strings = {}
    tables = [t for t in blocks.get("StringFileInfo", (None, []))[1]]
    c.check([t[0] for t in tables] == ["080404b0"],
            "string tables %r, expected 080404b0" % [t[0] for t in tables])
    for table in tables:
        strings.update({k: v for k, v, _ in table[2]})
    wanted = {"FileVersion": "1.00", "ProductVersion": "1.00",
              "ProductName": "Velmora", "FileDescription": "Velmora"}
    for k, v in sorted(wanted.items()):
        c.check(strings.get(k) == v, "version string %s is %r, expected %r" % (k, strings.get(k), v))
    translation = None
    for k, v, _ in blocks.get("VarFileInfo", (None, []))[1]:
        if k == "Translation":
            translation = v
    c.check(translation == struct.pack("<HH", 0x0804, 1200),
            "Translation is %r, expected 0x0804, 1200" % translation)
    c.check(languages == {0x0804}, "resource languages %r do not match the version "
            "block's Chinese (PRC)" % sorted(languages))


# --------------------------------------------------------------------------

def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("resources")
    parser.add_argument("--generator")
    parser.add_argument("--res")
    args = parser.parse_args()
    c = Checks()
    steps = [
        ("link.cur", lambda: check_cursor(c, os.path.join(args.resources, "link.cur"))),
        ("velmora.ico", lambda: check_app_icon(c, os.path.join(args.resources, "velmora.ico"))),
        ("window.ico", lambda: check_window_icon(c, os.path.join(args.resources, "window.ico"))),
    ]
    if args.generator:
        steps.append(("regeneration", lambda: check_generator(c, args.generator, args.resources)))
    if args.res:
        steps.append((args.res, lambda: check_res(c, args.res, args.resources)))
    for name, step in steps:
        try:
            step()
        except (FormatError, OSError, struct.error, IndexError, UnicodeDecodeError) as e:
            c.check(False, "%s: cannot be read: %s" % (name, e))
    print("resources: %d passed, %d failed" % (c.passed, c.failed))
    return 1 if c.failed else 0


if __name__ == "__main__":
    sys.exit(main())
