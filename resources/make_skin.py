#!/usr/bin/env python3
"""Draws VELTA's interim skin and sprite atlas as PNG files (Python standard library only).

    python3 resources/make_skin.py [OUT_DIR]

The skin is 640 x 470: a dark console with a title strip, a seek-bar groove, a transport panel
and sixteen channel-strip wells. The atlas is a small sheet of lamp sprites. Output is
deterministic, so regenerating gives byte-identical files.
"""
import os
import struct
import sys
import zlib

SKIN_W, SKIN_H = 640, 470
ATLAS_W, ATLAS_H = 256, 64


def write_png(path, width, height, pixels):
    """pixels: bytearray of width*height*3 RGB bytes."""
    raw = bytearray()
    stride = width * 3
    for y in range(height):
        raw.append(0)  # filter: none
        raw += pixels[y * stride:(y + 1) * stride]

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(bytes(raw), 9))
    png += chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


class Canvas:
    def __init__(self, width, height, colour):
        self.width, self.height = width, height
        self.pixels = bytearray(bytes(colour) * (width * height))

    def rect(self, x, y, w, h, colour):
        for yy in range(max(0, y), min(self.height, y + h)):
            start = (yy * self.width + max(0, x)) * 3
            end = (yy * self.width + min(self.width, x + w)) * 3
            self.pixels[start:end] = bytes(colour) * ((end - start) // 3)

    def bevel(self, x, y, w, h, face, light, shade):
        self.rect(x, y, w, h, face)
        self.rect(x, y, w, 1, light)
        self.rect(x, y, 1, h, light)
        self.rect(x, y + h - 1, w, 1, shade)
        self.rect(x + w - 1, y, 1, h, shade)

    def vgradient(self, x, y, w, h, top, bottom):
        for i in range(h):
            t = i / max(1, h - 1)
            colour = tuple(round(a + (b - a) * t) for a, b in zip(top, bottom))
            self.rect(x, y + i, w, 1, colour)


def draw_skin():
    c = Canvas(SKIN_W, SKIN_H, (18, 20, 28))
    c.vgradient(0, 0, SKIN_W, SKIN_H, (30, 33, 46), (12, 13, 19))
    # Title strip with its three window buttons.
    c.bevel(0, 0, SKIN_W, 18, (44, 52, 84), (90, 104, 150), (20, 24, 40))
    for i, colour in enumerate(((200, 170, 60), (90, 180, 110), (200, 80, 80))):
        c.bevel(SKIN_W - 54 + i * 17, 3, 13, 12, colour, (240, 240, 240), (40, 40, 40))
    # Sixteen channel-strip wells.
    for ch in range(16):
        y = 26 + ch * 22
        c.bevel(8, y, 470, 20, (22, 25, 36), (10, 11, 16), (52, 58, 80))
        c.rect(12, y + 4, 22, 12, (36, 60, 96) if ch != 9 else (96, 50, 40))
    # Right-hand panel: counters and the waveform display.
    c.bevel(486, 26, 146, 120, (20, 24, 34), (10, 11, 16), (52, 58, 80))
    c.bevel(486, 152, 146, 200, (16, 28, 24), (8, 12, 10), (52, 70, 60))
    # Seek-bar groove.
    c.bevel(8, 384, 624, 12, (10, 11, 16), (4, 4, 6), (60, 66, 90))
    # Transport buttons: open, play, pause, stop, preferences.
    for i in range(5):
        c.bevel(8 + i * 64, 410, 58, 40, (52, 58, 80), (110, 120, 160), (20, 22, 32))
    return c


def draw_atlas():
    c = Canvas(ATLAS_W, ATLAS_H, (0, 0, 0))
    lamps = ((60, 220, 120), (240, 200, 60), (240, 80, 70), (80, 160, 255))
    for i, colour in enumerate(lamps):
        c.bevel(i * 32 + 2, 2, 28, 12, colour, (255, 255, 255), (30, 30, 30))
    for level in range(16):
        shade = 40 + level * 13
        c.rect(level * 16, 20, 14, 40, (shade, 255 - shade, 90))
    return c


def main():
    out_dir = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    skin = draw_skin()
    write_png(os.path.join(out_dir, "velta236_ui_skin.png"), skin.width, skin.height, skin.pixels)
    atlas = draw_atlas()
    write_png(os.path.join(out_dir, "velta236_ui_atlas.png"), atlas.width, atlas.height,
              atlas.pixels)


if __name__ == "__main__":
    main()
