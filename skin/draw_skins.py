#!/usr/bin/env python3
"""Draws the skins shipped with Quilmer: each skin's frame.png and its skin.xml.

Run from anywhere: python3 skin/draw_skins.py. Writes skin/skins/Daylight and skin/skins/Midnight.
Only the standard library is used (PNG through zlib), so the images can be redrawn on any machine.
"""

import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))


class Canvas:
    def __init__(self, width, height, background=(255, 0, 255)):
        self.w, self.h = width, height
        self.px = [[background for _ in range(width)] for _ in range(height)]

    def set(self, x, y, c):
        if 0 <= x < self.w and 0 <= y < self.h:
            self.px[y][x] = c

    def fill(self, x, y, w, h, c):
        for yy in range(y, y + h):
            for xx in range(x, x + w):
                self.set(xx, yy, c)

    def vgradient(self, x, y, w, h, top, bottom):
        for i in range(h):
            t = i / max(h - 1, 1)
            c = tuple(round(a + (b - a) * t) for a, b in zip(top, bottom))
            self.fill(x, y + i, w, 1, c)

    def blit(self, other, x, y):
        for yy in range(other.h):
            for xx in range(other.w):
                self.set(x + xx, y + yy, other.px[yy][xx])

    def png(self):
        raw = b"".join(b"\x00" + bytes(v for c in row for v in c) for row in self.px)

        def chunk(kind, data):
            body = kind + data
            return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

        return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", self.w, self.h, 8, 2, 0, 0, 0)) +
                chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def piece(w, h, draw):
    c = Canvas(w, h)
    draw(c)
    return c


class Sheet:
    """Packs named pieces into rows of one image and remembers their rectangles."""

    def __init__(self, width):
        self.width = width
        self.items = []  # (name, canvas, mode)

    def add(self, name, canvas, mode=None):
        self.items.append((name, canvas, mode))

    def layout(self):
        x = y = row_h = 0
        placed = []
        for name, c, mode in self.items:
            if x + c.w > self.width:
                x, y, row_h = 0, y + row_h + 1, 0
            placed.append((name, c, mode, x, y))
            x += c.w + 1
            row_h = max(row_h, c.h)
        sheet = Canvas(self.width, y + row_h)
        for name, c, mode, px, py in placed:
            sheet.blit(c, px, py)
        return sheet, [(name, px, py, c.w, c.h, mode) for name, c, mode, px, py in placed]


def glyph(c, kind, colour, ox, oy, size):
    """Draws a caption button's sign centred in a size x size box at (ox, oy)."""
    m = size // 2
    if kind == "min":
        c.fill(ox + m - 4, oy + m + 2, 9, 2, colour)
    elif kind == "max":
        c.fill(ox + m - 4, oy + m - 4, 9, 2, colour)
        c.fill(ox + m - 4, oy + m + 4, 9, 1, colour)
        c.fill(ox + m - 4, oy + m - 4, 1, 9, colour)
        c.fill(ox + m + 4, oy + m - 4, 1, 9, colour)
    elif kind == "close":
        for i in range(-4, 5):
            for t in (0, 1):
                c.set(ox + m + i + t, oy + m + i, colour)
                c.set(ox + m + i + t, oy + m - i, colour)
    elif kind == "system":
        for row in (-4, 0, 4):
            c.fill(ox + m - 5, oy + m + row - 1, 11, 2, colour)


def button(w, h, face, edge, sign_colour, kind):
    def draw(c):
        c.vgradient(0, 0, w, h, face[0], face[1])
        c.fill(0, 0, w, 1, edge)
        c.fill(0, h - 1, w, 1, edge)
        c.fill(0, 0, 1, h, edge)
        c.fill(w - 1, 0, 1, h, edge)
        glyph(c, kind, sign_colour, (w - h) // 2, 0, h)
    return piece(w, h, draw)


def write_skin(name, sheet, xml_body):
    folder = os.path.join(HERE, "skins", name)
    os.makedirs(folder, exist_ok=True)
    image, rects = sheet.layout()
    with open(os.path.join(folder, "frame.png"), "wb") as f:
        f.write(image.png())
    parts = "\n".join(
        '          <part name="%s" rect="%d,%d,%d,%d"%s/>' % (n, x, y, w, h, ' mode="%s"' % m if m else "")
        for n, x, y, w, h, m in rects)
    with open(os.path.join(folder, "skin.xml"), "w", encoding="utf-8") as f:
        f.write(xml_body.replace("@PARTS@", parts))


def frame_parts(sheet, title_h, border, title_active, title_inactive, edge, body, line, mode_fill):
    """The 15 frame parts of one look: title row (active and inactive), edges, bottom."""
    corner = 10

    def title(c, colours, left, right):
        c.vgradient(0, 0, c.w, c.h, colours[0], colours[1])
        c.fill(0, 0, c.w, 1, edge)
        c.fill(0, title_h - 1, c.w, 1, line)
        if left:
            c.fill(0, 0, 1, c.h, edge)
        if right:
            c.fill(c.w - 1, 0, 1, c.h, edge)

    for suffix, colours in (("", title_active), ("IA", title_inactive)):
        sheet.add("TopLeft" + suffix, piece(corner, title_h, lambda c, k=colours: title(c, k, True, False)))
        sheet.add("Top" + suffix, piece(4, title_h, lambda c, k=colours: title(c, k, False, False)), mode_fill)
        sheet.add("TopRight" + suffix, piece(corner, title_h, lambda c, k=colours: title(c, k, False, True)))

    def side(c, left):
        c.fill(0, 0, c.w, c.h, body)
        c.fill(0 if left else c.w - 1, 0, 1, c.h, edge)

    for prefix, left in (("Left", True), ("Right", False)):
        sheet.add(prefix + "Top", piece(border, 6, lambda c, l=left: side(c, l)))
        sheet.add(prefix, piece(border, 4, lambda c, l=left: side(c, l)), mode_fill)
        sheet.add(prefix + "Bottom", piece(border, 6, lambda c, l=left: side(c, l)))

    def bottom(c, left, right):
        c.fill(0, 0, c.w, c.h, body)
        c.fill(0, c.h - 1, c.w, 1, edge)
        if left:
            c.fill(0, 0, 1, c.h, edge)
        if right:
            c.fill(c.w - 1, 0, 1, c.h, edge)

    sheet.add("BottomLeft", piece(corner, border, lambda c: bottom(c, True, False)))
    sheet.add("Bottom", piece(4, border, lambda c: bottom(c, False, False)), mode_fill)
    sheet.add("BottomRight", piece(corner, border, lambda c: bottom(c, False, True)))


def daylight():
    sheet = Sheet(160)
    frame_parts(sheet, 28, 4,
                title_active=((0xEE, 0xF3, 0xFA), (0xD3, 0xDF, 0xEE)),
                title_inactive=((0xF4, 0xF4, 0xF4), (0xE6, 0xE6, 0xE6)),
                edge=(0x8C, 0x9B, 0xAF), body=(0xDD, 0xE5, 0xF0), line=(0xB4, 0xC2, 0xD4), mode_fill="tile")
    looks = {
        "": ((0xF7, 0xFA, 0xFD), (0xE2, 0xEA, 0xF4)),
        "Hover": ((0xFF, 0xFF, 0xFF), (0xCF, 0xE3, 0xFA)),
        "Down": ((0xB9, 0xCC, 0xE4), (0xD6, 0xE2, 0xF0)),
    }
    for kind, name in (("min", "Minimise"), ("max", "Maximise"), ("close", "Close")):
        for state, face in looks.items():
            sign = (0x2A, 0x36, 0x48)
            if kind == "close" and state:
                face = ((0xF2, 0x8C, 0x84), (0xD9, 0x4A, 0x3F)) if state == "Hover" else ((0xB8, 0x3A, 0x30), (0xD0, 0x50, 0x45))
                sign = (0xFF, 0xFF, 0xFF)
            sheet.add(name + state, button(18, 18, face, (0x9A, 0xA8, 0xBA), sign, kind))
    write_skin("Daylight", sheet, """<?xml version="1.0" encoding="utf-8"?>
<!-- Daylight: a light, plain frame. Drawn by skin/draw_skins.py; see README.md beside it. -->
<root>
  <skin>
    <windowSkins>
      <windowSkin>
        <target window="CMainWnd"/>
        <target window="CDialog"/>
        <image path="frame.png" type="frame"/>
        <parts>
@PARTS@
        </parts>
        <anchors>
          <anchor name="Minimise" rect="-68,5,18,18"/>
          <anchor name="Maximise" rect="-47,5,18,18"/>
          <anchor name="Close" rect="-26,5,18,18"/>
        </anchors>
        <caption rect="10,4,-74,20" fontSize="13" fontWeight="normal" colour="1E2A3A"
                 inactiveColour="8A8A8A" shadowColour="FFFFFF" align="left"/>
      </windowSkin>
    </windowSkins>
  </skin>
</root>
""")


def midnight():
    sheet = Sheet(200)
    frame_parts(sheet, 30, 5,
                title_active=((0x34, 0x39, 0x46), (0x1D, 0x20, 0x28)),
                title_inactive=((0x2E, 0x30, 0x36), (0x26, 0x28, 0x2D)),
                edge=(0x0B, 0x0C, 0x10), body=(0x22, 0x25, 0x2E), line=(0x4A, 0x90, 0xD9), mode_fill="stretch")
    looks = {
        "": ((0x3A, 0x3F, 0x4C), (0x2A, 0x2E, 0x38)),
        "Hover": ((0x4F, 0x7F, 0xB8), (0x35, 0x5E, 0x92)),
        "Down": ((0x1E, 0x3E, 0x66), (0x2A, 0x4E, 0x7A)),
    }
    for kind, name, width in (("system", "System", 20), ("min", "Minimise", 22), ("max", "Maximise", 22),
                              ("close", "Close", 26)):
        for state, face in looks.items():
            if kind == "close" and state:
                face = ((0xE0, 0x55, 0x4A), (0xB0, 0x2E, 0x25)) if state == "Hover" else ((0x80, 0x1E, 0x18), (0xA0, 0x2A, 0x22))
            sheet.add(name + state, button(width, 20, face, (0x0B, 0x0C, 0x10), (0xE8, 0xEC, 0xF2), kind))
    write_skin("Midnight", sheet, """<?xml version="1.0" encoding="utf-8"?>
<!-- Midnight: a dark frame with rounded top corners. Drawn by skin/draw_skins.py; see README.md. -->
<root>
  <skin>
    <windowSkins>
      <windowSkin>
        <target window="CMainWnd"/>
        <image path="frame.png"/>
        <parts>
@PARTS@
        </parts>
        <anchors>
          <anchor name="System" rect="6,5,20,20"/>
          <anchor name="Icon" rect="30,7,16,16"/>
          <anchor name="Minimise" rect="-83,5,22,20"/>
          <anchor name="Maximise" rect="-59,5,22,20"/>
          <anchor name="Close" rect="-35,5,26,20"/>
        </anchors>
        <region>
          <shape type="roundRect" rect="0,0,-1,-1" size="18,18" combine="copy"/>
          <shape type="rectangle" rect="0,20,-1,-1" combine="or"/>
        </region>
        <caption rect="50,4,-90,22" fontFace="DejaVu Sans" fontSize="90pt" fontWeight="bold"
                 colour="E8ECF2" inactiveColour="7A7F8A" outlineColour="000000" caps="yes" align="center"/>
        <resizeBorder rect="6,6,6,6"/>
        <minimumSize width="360" height="260"/>
        <maximiseCrop rect="5,0,5,5"/>
      </windowSkin>
      <windowSkin>
        <target window="CDialog"/>
        <image path="frame.png"/>
        <parts>
@PARTS@
        </parts>
        <anchors>
          <anchor name="System" rect="6,5,20,20"/>
          <anchor name="Close" rect="-35,5,26,20"/>
        </anchors>
        <region>
          <shape type="roundRect" rect="0,0,-1,-1" size="18,18" combine="copy"/>
          <shape type="rectangle" rect="0,20,-1,-1" combine="or"/>
        </region>
        <caption rect="32,4,-40,22" fontFace="DejaVu Sans" fontSize="90pt" fontWeight="bold"
                 colour="E8ECF2" inactiveColour="7A7F8A" outlineColour="000000" align="left"/>
      </windowSkin>
    </windowSkins>
  </skin>
</root>
""")


if __name__ == "__main__":
    daylight()
    midnight()
