#!/usr/bin/python3
"""Draws the character layer as a key chart: the keyboard's main block with
what each key types while the layer key is held.

    key_chart.py TAVLO_KEYMAP OUT_DIR

reads the key map from `TAVLO_KEYMAP --json` and writes into OUT_DIR:
  key-chart.svg        the chart, every glyph as an outline (shaped by
                       HarfBuzz's hb-shape from the font file, outlines by
                       fontTools), so that no installed font is needed to show it
  key-chart.png        the SVG rendered by rsvg-convert, A4 landscape at 300 dpi,
                       kept as 8-bit grey by Pillow
  key-chart.txt        which font, shaper and renderer made these bytes
  key-chart-boxes.json where each character's glyphs are on the page, and
                       every other dark element, for the chart's tests

Keys are placed by their scan codes; the characters, their Shift characters
and whether Caps Lock changes a key's choice all come from the key map.
Run with /usr/bin/python3 (Debian's python3-fonttools).

Test options: --drop U+XXXX leaves that character out of the drawing (its box
stays; a combining mark's dotted circle stays too), --fill-empty draws a
dotted circle into every empty slot; the chart's test uses them to see its
checks fail.
"""
import argparse
import io
import json
import os
import subprocess
import sys
from xml.sax.saxutils import escape

from fontTools.pens.boundsPen import BoundsPen
from fontTools.pens.svgPathPen import SVGPathPen
from fontTools.ttLib import TTFont
import PIL
from PIL import Image

FONT_DIR = "/usr/share/fonts/truetype/noto"
FONT_FILES = {"regular": "NotoSans-Regular.ttf", "bold": "NotoSans-Bold.ttf"}
DOTTED_CIRCLE = "\u25CC"

# The Unicode names of the characters the chart draws, pinned here so that
# the chart does not change with the Unicode version of the Python that makes
# it (names never change once published; the chart's test compares these
# with unicodedata). A character of the key map missing here stops the chart.
NAMES = {
    0x00A3: "POUND SIGN",
    0x00A4: "CURRENCY SIGN",
    0x00A7: "SECTION SIGN",
    0x00AB: "LEFT-POINTING DOUBLE ANGLE QUOTATION MARK",
    0x00AC: "NOT SIGN",
    0x00B0: "DEGREE SIGN",
    0x00B6: "PILCROW SIGN",
    0x00BB: "RIGHT-POINTING DOUBLE ANGLE QUOTATION MARK",
    0x00C6: "LATIN CAPITAL LETTER AE",
    0x00E6: "LATIN SMALL LETTER AE",
    0x0127: "LATIN SMALL LETTER H WITH STROKE",
    0x014A: "LATIN CAPITAL LETTER ENG",
    0x014B: "LATIN SMALL LETTER ENG",
    0x0152: "LATIN CAPITAL LIGATURE OE",
    0x0153: "LATIN SMALL LIGATURE OE",
    0x0181: "LATIN CAPITAL LETTER B WITH HOOK",
    0x0186: "LATIN CAPITAL LETTER OPEN O",
    0x0189: "LATIN CAPITAL LETTER AFRICAN D",
    0x018A: "LATIN CAPITAL LETTER D WITH HOOK",
    0x018E: "LATIN CAPITAL LETTER REVERSED E",
    0x0190: "LATIN CAPITAL LETTER OPEN E",
    0x0191: "LATIN CAPITAL LETTER F WITH HOOK",
    0x0192: "LATIN SMALL LETTER F WITH HOOK",
    0x0194: "LATIN CAPITAL LETTER GAMMA",
    0x0196: "LATIN CAPITAL LETTER IOTA",
    0x0197: "LATIN CAPITAL LETTER I WITH STROKE",
    0x0198: "LATIN CAPITAL LETTER K WITH HOOK",
    0x0199: "LATIN SMALL LETTER K WITH HOOK",
    0x019D: "LATIN CAPITAL LETTER N WITH LEFT HOOK",
    0x019F: "LATIN CAPITAL LETTER O WITH MIDDLE TILDE",
    0x01A4: "LATIN CAPITAL LETTER P WITH HOOK",
    0x01A5: "LATIN SMALL LETTER P WITH HOOK",
    0x01A9: "LATIN CAPITAL LETTER ESH",
    0x01AE: "LATIN CAPITAL LETTER T WITH RETROFLEX HOOK",
    0x01B1: "LATIN CAPITAL LETTER UPSILON",
    0x01B2: "LATIN CAPITAL LETTER V WITH HOOK",
    0x01B3: "LATIN CAPITAL LETTER Y WITH HOOK",
    0x01B4: "LATIN SMALL LETTER Y WITH HOOK",
    0x0241: "LATIN CAPITAL LETTER GLOTTAL STOP",
    0x0242: "LATIN SMALL LETTER GLOTTAL STOP",
    0x0245: "LATIN CAPITAL LETTER TURNED V",
    0x0248: "LATIN CAPITAL LETTER J WITH STROKE",
    0x024C: "LATIN CAPITAL LETTER R WITH STROKE",
    0x024D: "LATIN SMALL LETTER R WITH STROKE",
    0x0253: "LATIN SMALL LETTER B WITH HOOK",
    0x0254: "LATIN SMALL LETTER OPEN O",
    0x0256: "LATIN SMALL LETTER D WITH TAIL",
    0x0257: "LATIN SMALL LETTER D WITH HOOK",
    0x025B: "LATIN SMALL LETTER OPEN E",
    0x025F: "LATIN SMALL LETTER DOTLESS J WITH STROKE",
    0x0263: "LATIN SMALL LETTER GAMMA",
    0x0268: "LATIN SMALL LETTER I WITH STROKE",
    0x0269: "LATIN SMALL LETTER IOTA",
    0x0272: "LATIN SMALL LETTER N WITH LEFT HOOK",
    0x0275: "LATIN SMALL LETTER BARRED O",
    0x0283: "LATIN SMALL LETTER ESH",
    0x0288: "LATIN SMALL LETTER T WITH RETROFLEX HOOK",
    0x028A: "LATIN SMALL LETTER UPSILON",
    0x028B: "LATIN SMALL LETTER V WITH HOOK",
    0x028C: "LATIN SMALL LETTER TURNED V",
    0x0300: "COMBINING GRAVE ACCENT",
    0x0301: "COMBINING ACUTE ACCENT",
    0x0302: "COMBINING CIRCUMFLEX ACCENT",
    0x0303: "COMBINING TILDE",
    0x0304: "COMBINING MACRON",
    0x0307: "COMBINING DOT ABOVE",
    0x0308: "COMBINING DIAERESIS",
    0x030C: "COMBINING CARON",
    0x0323: "COMBINING DOT BELOW",
    0x0324: "COMBINING DIAERESIS BELOW",
    0x0327: "COMBINING CEDILLA",
    0x0329: "COMBINING VERTICAL LINE BELOW",
    0x032A: "COMBINING BRIDGE BELOW",
    0x032C: "COMBINING CARON BELOW",
    0x032D: "COMBINING CIRCUMFLEX ACCENT BELOW",
    0x0330: "COMBINING TILDE BELOW",
    0x0331: "COMBINING MACRON BELOW",
    0x0346: "COMBINING BRIDGE ABOVE",
    0x03BC: "GREEK SMALL LETTER MU",
    0x040B: "CYRILLIC CAPITAL LETTER TSHE",
    0x04D9: "CYRILLIC SMALL LETTER SCHWA",
    0x04E0: "CYRILLIC CAPITAL LETTER ABKHASIAN DZE",
    0x04E1: "CYRILLIC SMALL LETTER ABKHASIAN DZE",
    0x20A6: "NAIRA SIGN",
    0x20AC: "EURO SIGN",
    0x20B5: "CEDI SIGN",
    0x25CC: "DOTTED CIRCLE",
}

# The main block of a PC keyboard, row by row from the left, by set-1 scan
# code, with each key's width in key units. Keys the key map has are drawn as
# layer keys; the others only outline the keyboard, with their labels.
ROWS = [
    [(0x29, 1)] + [(code, 1) for code in range(0x02, 0x0E)] + [(0x0E, 2)],
    [(0x0F, 1.5)] + [(code, 1) for code in range(0x10, 0x1C)] + [(0x2B, 1.5)],
    [(0x3A, 1.75)] + [(code, 1) for code in range(0x1E, 0x29)] + [(0x1C, 2.25)],
    [(0x2A, 2.25)] + [(code, 1) for code in range(0x2C, 0x36)] + [(0x36, 2.75)],
]
OUTLINE_LABELS = {0x0E: "Backspace", 0x0F: "Tab", 0x2B: "\\", 0x3A: "Caps Lock", 0x28: "'", 0x1C: "Enter",
                  0x2A: "Shift", 0x36: "Shift"}

# The page: A4 landscape in millimetres, rendered at 300 dpi.
PAGE_W, PAGE_H = 297, 210
DPI = 300
UNIT = 18.0            # key pitch, across
UNIT_H = 20.5          # key pitch, down
GAP = 1.1              # between two caps
KEYBOARD_Y = 44.0

INK = "#000000"
LEGEND_INK = "#4d4d4d"  # the US key cap: dark, but clearly not a layer character
CAP_FILL = "#f2f2f2"
CAP_EDGE = "#8c8c8c"
OUTLINE_FILL = "#ffffff"
OUTLINE_EDGE = "#c4c4c4"
OUTLINE_TEXT = "#a6a6a6"
EMPTY_EDGE = "#9a9a9a"

# Light elements (cap edges and fills, the outline keys, the empty-slot
# frames) stay lighter than this grey level, so that the chart's test can
# tell them from ink: anything darker on the PNG is a glyph or a mark.
INK_LEVEL = 128


def fmt(value, decimals=3):
    """A number for the SVG: at most three decimals (or as many as asked), no
    trailing zeros."""
    text = f"{value:.{decimals}f}".rstrip("0").rstrip(".")
    return "0" if text in ("", "-0") else text


def is_combining(ch):
    return NAMES[ord(ch)].startswith("COMBINING ")


def shown(text):
    """A text as the chart shows it: a combining mark on a dotted circle."""
    return DOTTED_CIRCLE + text if text and is_combining(text[0]) else text


def described(text):
    """A text for people and screen readers: the character and its name."""
    if not text:
        return "nothing"
    return " ".join(f"{shown(ch)} U+{ord(ch):04X} {NAMES[ord(ch)].lower()}" for ch in text)


def tool_version(command):
    return subprocess.run(command, check=True, capture_output=True, text=True).stdout.splitlines()[0].strip()


class Font:
    """A font file, shaped by hb-shape and drawn from its own outlines."""

    def __init__(self, key, path):
        self.key = key
        self.path = path
        self.tt = TTFont(path)
        self.upem = self.tt["head"].unitsPerEm
        self.order = self.tt.getGlyphOrder()
        self.glyphs = self.tt.getGlyphSet()
        self.cmap = self.tt.getBestCmap()
        self.version = self.tt["name"].getDebugName(5).split(";")[0]
        self.full_name = self.tt["name"].getDebugName(4)
        self.shaped = {}
        self.bounds = {}

    def shape(self, text):
        """The glyphs of a text as (glyph id, x, y) in font units, and its advance."""
        if text not in self.shaped:
            missing = [f"U+{ord(ch):04X}" for ch in text if ord(ch) not in self.cmap and ch != " "]
            if missing:
                sys.exit(f"key_chart: {os.path.basename(self.path)} has no glyph for {', '.join(missing)}")
            out = subprocess.run(["hb-shape", "--font-file=" + self.path, "--output-format=json",
                                  "--no-glyph-names", "--text=" + text],
                                 check=True, capture_output=True, text=True).stdout
            pen = 0
            glyphs = []
            for g in json.loads(out):
                glyphs.append((g["g"], pen + g["dx"], g["dy"]))
                pen += g["ax"]
            self.shaped[text] = (glyphs, pen)
        return self.shaped[text]

    def glyph_bounds(self, gid):
        if gid not in self.bounds:
            pen = BoundsPen(self.glyphs)
            self.glyphs[self.order[gid]].draw(pen)
            self.bounds[gid] = pen.bounds
        return self.bounds[gid]

    def glyph_path(self, gid):
        pen = SVGPathPen(self.glyphs)
        self.glyphs[self.order[gid]].draw(pen)
        return pen.getCommands()


def union(boxes):
    boxes = [b for b in boxes if b]
    if not boxes:
        return None
    return [min(b[0] for b in boxes), min(b[1] for b in boxes), max(b[2] for b in boxes), max(b[3] for b in boxes)]


class Chart:
    def __init__(self, fonts, drop=(), fill_empty=False):
        self.fonts = fonts
        self.drop = set(drop)
        self.fill_empty = fill_empty
        self.body = []
        self.used = set()
        # Every dark element: {"role", "text", "slot", "box"}. Roles: "text" and
        # "shift", a key's two characters (a combining mark without its
        # circle), "empty-text" and "empty-shift" where a key types nothing,
        # "circle", "us-legend", "caps-mark", "legend-mark" (the list of
        # combining marks) and "words".
        self.elements = []

    def add(self, svg):
        self.body.append(svg)

    def element(self, role, box, text="", slot=None):
        self.elements.append({"role": role, "slot": slot, "text": text, "box": [round(v, 3) for v in box]})

    def measure(self, text, font, size):
        glyphs, advance = self.fonts[font].shape(text)
        return advance * size / self.fonts[font].upem

    def run(self, text, font, size, x, y, fill=INK, anchor="start", title=None, hidden=False):
        """Draws a shaped text with its baseline at y; returns the page box of
        each glyph (None for a blank one) and of the whole run."""
        f = self.fonts[font]
        glyphs, advance = f.shape(text)
        k = size / f.upem
        if anchor == "middle":
            x -= advance * k / 2
        elif anchor == "end":
            x -= advance * k
        boxes = []
        uses = []
        for gid, gx, gy in glyphs:
            b = f.glyph_bounds(gid)
            boxes.append(None if b is None else
                         [x + (gx + b[0]) * k, y - (gy + b[3]) * k, x + (gx + b[2]) * k, y - (gy + b[1]) * k])
            if b is not None:
                self.used.add((font, gid))
                uses.append(f'<use xlink:href="#{f.key}{gid}" x="{gx}" y="{gy}"/>')
        if uses and not hidden:
            label = f"<title>{escape(title)}</title>" if title else ""
            self.add(f'<g transform="translate({fmt(x)} {fmt(y)}) scale({fmt(k, 7)} {fmt(-k, 7)})" fill="{fill}">'
                     f'{label}{"".join(uses)}</g>')
        return boxes, union(boxes)

    def text(self, text, font, size, x, y, fill=INK, anchor="start", role="words"):
        """A line of the page's own text (its words are its title)."""
        _, box = self.run(text, font, size, x, y, fill, anchor, title=text)
        if box:
            margin = (PAGE_W - 15 * UNIT) / 2
            if box[0] < margin - 1 or box[2] > PAGE_W - margin or box[1] < 0 or box[3] > PAGE_H:
                sys.exit(f"key_chart: '{text}' does not fit on the page")
            self.element(role, box, text)
        return box

    def characters(self, text, font, size, x, y, slot, role, fill=INK, anchor="start"):
        """One text of the key map, drawn at (x, baseline y): a combining mark
        on a dotted circle. Records each character's own box: a mark's box is
        the part of the mark clear of the dotted circle, so that the circle's
        ink cannot stand for a missing mark."""
        drawn = shown(text)
        dropped = any(ord(ch) in self.drop for ch in text)
        boxes, whole = self.run(drawn, font, size, x, y, fill, anchor, hidden=dropped)
        if dropped and drawn != text:
            self.run(DOTTED_CIRCLE, font, size, x, y, fill, anchor)  # the circle without its mark
        if drawn != text:
            circle = boxes[0]
            mark = union(boxes[1:])
            self.element("circle", circle, DOTTED_CIRCLE, slot)
            top, bottom = mark[1], mark[3]
            if (mark[1] + mark[3]) / 2 < (circle[1] + circle[3]) / 2:
                bottom = min(bottom, circle[1])
            else:
                top = max(top, circle[3])
            if bottom - top < 0.2:
                sys.exit(f"key_chart: U+{ord(text[0]):04X} lies within its dotted circle: no box of its own")
            self.element(role, [mark[0], top, mark[2], bottom], text, slot)
        else:
            self.element(role, whole, text, slot)
        return whole

    def svg(self, title, description, metadata):
        defs = []
        for font, gid in sorted(self.used):
            f = self.fonts[font]
            defs.append(f'<path id="{f.key}{gid}" d="{f.glyph_path(gid)}"/>')
        return "\n".join([
            '<?xml version="1.0" encoding="UTF-8"?>',
            f'<svg xmlns="http://www.w3.org/2000/svg" xmlns:xlink="http://www.w3.org/1999/xlink" '
            f'width="{PAGE_W}mm" height="{PAGE_H}mm" viewBox="0 0 {PAGE_W} {PAGE_H}" role="img" lang="en">',
            f"<title>{escape(title)}</title>",
            f"<desc>{escape(description)}</desc>",
            f"<metadata>{escape(metadata)}</metadata>",
            "<defs>", *defs, "</defs>",
            f'<rect width="{PAGE_W}" height="{PAGE_H}" fill="#ffffff"/>',
            *self.body,
            "</svg>",
            "",
        ])


def caps_lock_mark(chart, x, y, size, slot):
    """The Caps Lock symbol (an open arrow up over a bar), drawn, not typed:
    the font has no glyph for it. (x, y) is its top left corner."""
    s = size / 10
    arrow = [(5, 0), (10, 5.2), (7.2, 5.2), (7.2, 7.6), (2.8, 7.6), (2.8, 5.2), (0, 5.2)]
    d = "M" + " L".join(f"{fmt(x + px * s)} {fmt(y + py * s)}" for px, py in arrow) + " Z"
    bar = f"M{fmt(x + 2.8 * s)} {fmt(y + 9 * s)} H{fmt(x + 7.2 * s)}"
    chart.add(f'<path d="{d} {bar}" fill="none" stroke="{INK}" stroke-width="{fmt(0.9 * s)}" '
              f'stroke-linejoin="round"/>')
    half = 0.45 * s
    chart.element("caps-mark", [x - half, y - half, x + size + half, y + 9 * s + half], "", slot)


def rounded(x, y, w, h, fill, edge, width=0.3, dash=None, r=1.2):
    extra = f' stroke-dasharray="{dash}"' if dash else ""
    return (f'<rect x="{fmt(x)}" y="{fmt(y)}" width="{fmt(w)}" height="{fmt(h)}" rx="{fmt(r)}" fill="{fill}" '
            f'stroke="{edge}" stroke-width="{fmt(width)}"{extra}/>')


def caps_changes(key):
    return key["caps"] != key["text"] or key["caps_shift"] != key["shift"]


def draw_key(chart, key, x, y, w, h, scale=1.0, group_id=None):
    """A layer key's cap at (x, y), w by h: the Shift character top left, the
    layer character large below it, the US key cap top right and the Caps
    Lock mark bottom right."""
    slot = key["slot"]
    title = (f"{key['name']} key (US key cap {key['legend']}, scan code 0x{key['scan_code']:02X}): "
             f"{described(key['text'])}; with Shift {described(key['shift'])}")
    if caps_changes(key):
        title += (f"; with Caps Lock {described(key['caps'])}; with Caps Lock and Shift "
                  f"{described(key['caps_shift'])}")
    chart.add(f'<g id="{group_id or f"key-{slot}"}"><title>{escape(title)}</title>')
    chart.add(rounded(x, y, w, h, CAP_FILL, CAP_EDGE, 0.3 * scale, r=1.2 * scale))
    left = x + 1.5 * scale
    for role, text, size, baseline in (("shift", key["shift"], 6.2, 7.4), ("text", key["text"], 9.0, 16.6)):
        size *= scale
        base = y + baseline * scale
        if not text and chart.fill_empty:
            text = DOTTED_CIRCLE
        if text and is_combining(text[0]):
            # A dotted circle is only as tall as a small letter: marks are
            # drawn larger, a little higher, to read as well as the letters.
            chart.characters(text, "regular", size * 1.25, left, base - 0.12 * size, slot, role)
        elif text:
            chart.characters(text, "regular", size, left, base, slot, role)
        else:
            # Nothing to type: a dashed frame, lighter than ink, around the
            # place where the character would stand; the place itself stays
            # blank (the chart's test checks that).
            box = [left, base - 0.72 * size, left + 0.62 * size, base]
            pad = 0.6 * scale
            chart.add(rounded(box[0] - pad, box[1] - pad, box[2] - box[0] + 2 * pad, box[3] - box[1] + 2 * pad,
                              "none", EMPTY_EDGE, 0.25 * scale, f"{fmt(0.8 * scale)} {fmt(0.6 * scale)}",
                              r=0.6 * scale))
            chart.element("empty-" + role, box, "", slot)
    _, box = chart.run(key["legend"], "bold", 4.2 * scale, x + w - 1.4 * scale, y + 4.6 * scale, LEGEND_INK,
                       "end")
    chart.element("us-legend", box, key["legend"], slot)
    if caps_changes(key):
        size = 3.2 * scale
        caps_lock_mark(chart, x + w - 1.5 * scale - size, y + h - 1.5 * scale - 0.9 * size, size, slot)
    chart.add("</g>")


def draw_keyboard(chart, keys_by_scan):
    placed = set()
    for row_index, row in enumerate(ROWS):
        x = (PAGE_W - sum(width for _, width in ROWS[0]) * UNIT) / 2
        y = KEYBOARD_Y + row_index * UNIT_H
        for scan, width in row:
            w = width * UNIT - GAP
            h = UNIT_H - GAP
            key = keys_by_scan.get(scan)
            if key:
                draw_key(chart, key, x, y, w, h)
                placed.add(scan)
            else:
                chart.add(rounded(x, y, w, h, OUTLINE_FILL, OUTLINE_EDGE, 0.3))
                chart.run(OUTLINE_LABELS[scan], "regular", 3.2, x + 1.6, y + 4.6, OUTLINE_TEXT)
            x += width * UNIT
    unplaced = sorted(set(keys_by_scan) - placed)
    if unplaced:
        sys.exit("key_chart: no place on the keyboard for scan code(s) " +
                 ", ".join(f"0x{scan:02X}" for scan in unplaced))
    return KEYBOARD_Y + len(ROWS) * UNIT_H


def hairline(chart, x1, y1, x2, y2):
    chart.add(f'<path d="M{fmt(x1)} {fmt(y1)} L{fmt(x2)} {fmt(y2)}" stroke="{OUTLINE_EDGE}" '
              f'stroke-width="0.25" fill="none"/>')


def draw_sample(chart, key, x, y):
    """One key, large, with what each part of a cap means."""
    scale = 1.5
    w, h = (UNIT - GAP) * scale, (UNIT_H - GAP) * scale
    first = len(chart.elements)
    draw_key(chart, key, x, y, w, h, scale, "sample-key")
    parts = {e["role"]: e["box"] for e in chart.elements[first:]}
    notes = x + w + 4.0
    size = 3.1

    def note(lines, baseline, part, from_right=True):
        for i, line in enumerate(lines):
            chart.text(line, "regular", size, notes, baseline + i * 4.4)
        box = parts[part]
        start = (box[2] + 1.0) if from_right else box[0]
        hairline(chart, start, (box[1] + box[3]) / 2, notes - 1.0, baseline - 1.2)

    note([f"{key['legend']} on a US keyboard"], y + 4.0, "us-legend")
    note(["with Shift"], y + 10.5, "shift")
    note(["the layer key held"], y + 20.0, "text")
    if caps_changes(key):
        note(["Caps Lock swaps", "the two"], y + h - 4.0, "caps-mark")
    return y + h


def draw_marks(chart, keys, x, y, columns, column_w, row_h):
    """The combining marks of the layer, on their dotted circles, by name, with
    the key that types each."""
    marks = []
    for key in keys:
        for text, how in ((key["text"], ""), (key["shift"], "Shift + ")):
            if text and is_combining(text[0]) and text not in [m[0] for m in marks]:
                marks.append((text, how + key["legend"]))
    per_column = -(-len(marks) // columns)
    for i, (text, keys_text) in enumerate(marks):
        cx = x + (i // per_column) * column_w
        cy = y + (i % per_column) * row_h
        chart.add(f"<g><title>{escape(described(text))}, typed by {escape(keys_text)}</title>")
        chart.characters(text, "regular", 7.0, cx, cy, None, "legend-mark")
        _, box = chart.run(keys_text, "bold", 2.8, cx + 6.0, cy - 0.3, LEGEND_INK)
        chart.element("words", box, keys_text)
        name = NAMES[ord(text[0])].lower()
        _, box = chart.run(name, "regular", 2.9, cx + 18.0, cy - 0.3, INK)
        if box[2] > cx + column_w - 1.0 or box[2] > PAGE_W - (PAGE_W - 15 * UNIT) / 2:
            sys.exit(f"key_chart: '{name}' does not fit its column")
        chart.element("words", box, name)
        chart.add("</g>")
    return y + (per_column - 1) * row_h


def sample_key(keys):
    """The key the legend shows large: W, or else the first letter key."""
    return next((k for k in keys if k["legend"] == "W"), next(k for k in keys if k["letter"]))


def make_chart(keymap, fonts, drop=(), fill_empty=False):
    chart = Chart(fonts, drop, fill_empty)
    keys = keymap["keys"]
    for key in keys:
        for field in ("text", "shift", "caps", "caps_shift"):
            for ch in key[field]:
                if ord(ch) not in NAMES:
                    sys.exit(f"key_chart: U+{ord(ch):04X} of the key map has no name in NAMES "
                             f"(add its Unicode name)")
    keys_by_scan = {key["scan_code"]: key for key in keys}
    layer = keymap["layer_key"]
    margin = (PAGE_W - 15 * UNIT) / 2

    chart.text("Tavlo: the keys of the character layer", "bold", 7.0, margin, 17.0)
    chart.text("Hold the layer key and press a key: it types the large character on the key; with Shift, "
               "the upper one.", "regular", 3.6, margin, 25.5)
    chart.text("Keys are by position (scan code): the small grey letter shows the place on a US keyboard; "
               "on AZERTY, QWERTZ and others, read the place, not the letter.", "regular", 3.6, margin, 31.0)
    chart.text(f"The layer key is the keyboard's own extra key (F24 to Windows, scan code "
               f"0x{layer['scan_code']:02X}); where it sits depends on the keyboard, so it is not drawn here.",
               "regular", 3.6, margin, 36.5)

    bottom = draw_keyboard(chart, keys_by_scan)

    legend_y = bottom + 9.0
    chart.text("How to read a key", "bold", 4.2, margin, legend_y)
    sample = sample_key(keys)
    sample_bottom = draw_sample(chart, sample, margin, legend_y + 4.0)

    empty_y = sample_bottom + 9.0
    chart.add(rounded(margin + 0.6, empty_y - 5.2, 4.4, 5.8, "none", EMPTY_EDGE, 0.25, "0.8 0.6", r=0.6))
    chart.text("the key types nothing there", "regular", 3.1, margin + 7.0, empty_y - 0.6)

    marks_x = margin + 66.0
    columns = 3
    chart.text("Combining marks, shown on \u25CC: type them after the letter they belong to", "bold", 4.2,
               marks_x, legend_y)
    draw_marks(chart, keys, marks_x, legend_y + 10.5, columns, (PAGE_W - margin - marks_x) / columns, 9.0)

    chart.text(f"Made from Tavlo's key map (tools/key_chart.py). Font: Noto Sans, under the SIL Open Font "
               f"License 1.1. Print on A4 or Letter, landscape.", "regular", 2.8, margin, PAGE_H - 7.0,
               fill=LEGEND_INK)

    description = ("The 45 keys of Tavlo's character layer in their places on the keyboard's main block, "
                   "each with what it types while the layer key is held, alone and with Shift. Each key's "
                   "characters are in its title.")
    return chart, description


def versions(fonts):
    hb = tool_version(["hb-shape", "--version"])
    rsvg = tool_version(["rsvg-convert", "--version"])
    import fontTools
    return [
        f"font: {fonts['regular'].full_name} and {fonts['bold'].full_name}, {fonts['regular'].version} "
        f"({FONT_DIR}, Debian fonts-noto-core), SIL Open Font License 1.1",
        f"shaper: {hb}",
        f"outlines: fontTools {fontTools.version}",
        f"renderer: {rsvg}, {DPI} dpi",
        f"PNG: 8-bit grey, written by Pillow {PIL.__version__}",
    ]


def render(svg, png):
    """The SVG as a PNG, by rsvg-convert at the chart's resolution. The chart
    is grey on white, so rsvg-convert's picture is laid on white and kept as
    8-bit grey (less than half the bytes of its RGBA), with the resolution
    recorded so that printing programs take it at 300 dpi, i.e. at A4 size."""
    pixels = subprocess.run(["rsvg-convert", "--format=png", f"--dpi-x={DPI}", f"--dpi-y={DPI}", svg],
                            check=True, capture_output=True).stdout
    with Image.open(io.BytesIO(pixels)) as drawn:
        if drawn.format != "PNG" or drawn.mode != "RGBA":
            sys.exit("key_chart: rsvg-convert did not write the PNG expected")
        colours = drawn.getcolors(1 << 16) or []
        if any(not (r == g == b) for _, (r, g, b, _) in colours) or not colours:
            sys.exit("key_chart: the chart is no longer grey only; keep its colours in the PNG")
        grey = Image.alpha_composite(Image.new("RGBA", drawn.size, "white"), drawn).convert("L")
    grey.save(png, format="PNG", optimize=True, dpi=(DPI, DPI))


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("keymap", help="the tavlo-keymap program")
    parser.add_argument("out_dir")
    parser.add_argument("--font-dir", default=FONT_DIR)
    parser.add_argument("--drop", action="append", default=[], help="U+XXXX: leave this character undrawn")
    parser.add_argument("--fill-empty", action="store_true", help="draw a character into every empty slot")
    args = parser.parse_args()

    keymap = json.loads(subprocess.run([args.keymap, "--json"], check=True, capture_output=True).stdout)
    fonts = {key: Font(key[0], os.path.join(args.font_dir, name)) for key, name in FONT_FILES.items()}
    drop = [int(code.upper().removeprefix("U+"), 16) for code in args.drop]
    chart, description = make_chart(keymap, fonts, drop, args.fill_empty)
    made_by = versions(fonts)

    os.makedirs(args.out_dir, exist_ok=True)
    svg = os.path.join(args.out_dir, "key-chart.svg")
    png = os.path.join(args.out_dir, "key-chart.png")
    with open(svg, "w", encoding="utf-8", newline="\n") as out:
        out.write(chart.svg("Tavlo: the keys of the character layer", description,
                            "Made from Tavlo's key map by tools/key_chart.py; " + "; ".join(made_by[:3])))
    render(svg, png)
    with open(os.path.join(args.out_dir, "key-chart.txt"), "w", encoding="utf-8", newline="\n") as out:
        out.write("Tavlo's key chart, key-chart.svg and key-chart.png, made from the key map by "
                  "tools/key_chart.py (make readme).\n")
        out.write("".join(line + "\n" for line in made_by))
    with open(os.path.join(args.out_dir, "key-chart-boxes.json"), "w", encoding="utf-8", newline="\n") as out:
        json.dump({"page_mm": [PAGE_W, PAGE_H], "dpi": DPI, "ink_level": INK_LEVEL,
                   "elements": chart.elements}, out, ensure_ascii=False, indent=0, sort_keys=True)
        out.write("\n")


if __name__ == "__main__":
    main()
