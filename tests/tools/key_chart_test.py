#!/usr/bin/python3
"""The layer's key chart (tools/key_chart.py) against the key map, the font
and the rendered picture.

    key_chart_test.py TAVLO_KEYMAP BUILT_CHART_DIR DOCS_DIR

BUILT_CHART_DIR holds the chart the build made from the key map; DOCS_DIR the
committed copy that the README shows and the MSI installs. Run with
/usr/bin/python3 (Debian's python3-fonttools and python3-pil).
"""
import json
import os
import subprocess
import sys
import tempfile
import unicodedata
import unittest

from fontTools import subset
from fontTools.ttLib import TTFont
from PIL import Image, ImageDraw

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
import key_chart  # noqa: E402

KEYMAP, BUILT, DOCS = None, None, None
CHART_FILES = ("key-chart.svg", "key-chart.png", "key-chart.txt")
# Least ink in a character's box: this share of its pixels, and at least this
# many. The thinnest glyph of the chart still inks more than a fifth of its box.
MIN_INK_SHARE = 0.08
MIN_INK_PIXELS = 6


def keymap():
    return json.loads(subprocess.run([KEYMAP, "--json"], check=True, capture_output=True).stdout)


def keymap_characters(keys):
    return sorted({ch for key in keys for field in ("text", "shift", "caps", "caps_shift") for ch in key[field]})


def missing_from_font(path, characters):
    """The characters the font's own character map lacks, as U+XXXX."""
    cmap = TTFont(path).getBestCmap()
    return [f"U+{ord(ch):04X}" for ch in characters if ord(ch) not in cmap]


def ink_failures(png_path, boxes):
    """What the rendered chart lacks or has too much of, one line each: a
    character's box without ink, an empty slot's box with ink, ink outside
    every element the chart declares, and boxes that overlap (ink of one
    element could then stand for another)."""
    image = Image.open(png_path).convert("L")
    px_per_mm = boxes["dpi"] / 25.4
    ink = image.point(lambda level: 255 if level < boxes["ink_level"] else 0)
    failures = []

    def pixels(box, grow=0):
        return (int(box[0] * px_per_mm) - grow, int(box[1] * px_per_mm) - grow,
                int(box[2] * px_per_mm + 0.999) + grow, int(box[3] * px_per_mm + 0.999) + grow)

    def where(e):
        place = "the legend" if e["slot"] is None else f"slot {e['slot']}"
        return f"{e['role']} {key_chart.described(e['text']) if e['text'] else ''} ({place}) at {e['box']} mm"

    elements = boxes["elements"]
    for e in elements:
        x0, y0, x1, y1 = pixels(e["box"])
        count = ink.crop((x0, y0, x1, y1)).histogram()[255]
        area = max(1, (x1 - x0) * (y1 - y0))
        if e["role"].startswith("empty-"):
            if count:
                failures.append(f"ink in an empty slot: {count} px in {where(e)}")
        elif count < max(MIN_INK_PIXELS, MIN_INK_SHARE * area):
            failures.append(f"no ink for {where(e)}: {count} of {area} px")

    # Only a character's own box is checked for ink, so no other element may
    # reach into it; the dotted circle and the mark on it are two elements.
    checked = [e for e in elements if e["role"] in ("text", "shift", "legend-mark", "empty-text", "empty-shift")]
    for a in checked:
        for b in elements:
            if a is b:
                continue
            ax0, ay0, ax1, ay1 = a["box"]
            bx0, by0, bx1, by1 = b["box"]
            if ax0 < bx1 and bx0 < ax1 and ay0 < by1 and by0 < ay1:
                failures.append(f"boxes overlap: {where(a)} and {where(b)}")

    stray = ink.copy()
    draw = ImageDraw.Draw(stray)
    for e in elements:
        draw.rectangle(pixels(e["box"], grow=2), fill=0)
    if stray.getbbox():
        x0, y0, x1, y1 = stray.getbbox()
        failures.append(f"ink outside every element of the chart, within pixels {x0},{y0} to {x1},{y1}")
    return failures


class KeyChart(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.keymap = keymap()
        cls.keys = cls.keymap["keys"]
        with open(os.path.join(BUILT, "key-chart-boxes.json"), encoding="utf-8") as f:
            cls.boxes = json.load(f)

    def test_the_fonts_have_every_character_of_the_key_map(self):
        characters = keymap_characters(self.keys) + [key_chart.DOTTED_CIRCLE]
        self.assertEqual(len(characters), len(set(characters)))
        for name in key_chart.FONT_FILES.values():
            path = os.path.join(key_chart.FONT_DIR, name)
            self.assertEqual(missing_from_font(path, characters), [], path)

    def test_a_font_without_a_character_of_the_key_map_is_caught(self):
        characters = keymap_characters(self.keys)
        regular = os.path.join(key_chart.FONT_DIR, key_chart.FONT_FILES["regular"])
        lacking_character = key_chart.sample_key(self.keys)["text"]
        kept = [ord(ch) for ch in characters if ch != lacking_character]
        with tempfile.TemporaryDirectory() as tmp:
            lacking = os.path.join(tmp, "lacking.ttf")
            options = subset.Options()
            subsetter = subset.Subsetter(options)
            font = TTFont(regular)
            subsetter.populate(unicodes=kept)
            subsetter.subset(font)
            font.save(lacking)
            self.assertEqual(missing_from_font(lacking, characters), [f"U+{ord(lacking_character):04X}"])

    def test_the_pinned_names_are_the_unicode_names(self):
        for code, name in key_chart.NAMES.items():
            self.assertEqual(unicodedata.name(chr(code)), name, f"U+{code:04X}")
        for ch in keymap_characters(self.keys):
            self.assertIn(ord(ch), key_chart.NAMES, f"U+{ord(ch):04X} has no pinned name")
            self.assertEqual(key_chart.is_combining(ch), unicodedata.combining(ch) != 0, f"U+{ord(ch):04X}")

    def test_the_chart_draws_every_key_of_the_key_map(self):
        drawn = {}
        for e in self.boxes["elements"]:
            if e["slot"] is not None and e["role"] in ("text", "shift", "empty-text", "empty-shift"):
                drawn.setdefault((e["slot"], e["role"].removeprefix("empty-")), []).append(e)
        self.assertEqual(len(self.keys), 45)
        for key in self.keys:
            for role in ("text", "shift"):
                on_chart = drawn.get((key["slot"], role), [])
                self.assertTrue(on_chart, f"slot {key['slot']} {role}")
                for e in on_chart:
                    expected = ("empty-" + role, "") if not key[role] else (role, key[role])
                    self.assertEqual((e["role"], e["text"]), expected, f"slot {key['slot']} ({key['name']})")
        # The Caps Lock mark stands on exactly the keys whose choice Caps Lock changes.
        marked = {e["slot"] for e in self.boxes["elements"] if e["role"] == "caps-mark"}
        self.assertEqual(marked, {k["slot"] for k in self.keys if k["caps"] != k["text"]})
        self.assertEqual(marked, {k["slot"] for k in self.keys if k["letter"]})
        # Every combining mark of the map is named in the legend.
        legend = {e["text"] for e in self.boxes["elements"] if e["role"] == "legend-mark"}
        self.assertEqual(legend, {ch for ch in keymap_characters(self.keys) if key_chart.is_combining(ch)})

    def test_the_committed_chart_is_the_key_maps(self):
        with open(os.path.join(BUILT, "key-chart.txt"), encoding="utf-8") as f:
            made_here = f.read()
        with open(os.path.join(DOCS, "key-chart.txt"), encoding="utf-8") as f:
            committed = f.read()
        tools = "" if made_here == committed else (
            "\nThis machine's font, shaper or renderer is not the one that made the committed chart:\n"
            f"committed:\n{committed}made here:\n{made_here}")
        for name in CHART_FILES:
            with open(os.path.join(BUILT, name), "rb") as a, open(os.path.join(DOCS, name), "rb") as b:
                self.assertTrue(a.read() == b.read(),
                                f"docs/{name} is not the chart of the key map (make readme writes it){tools}")

    def test_rendering_is_deterministic(self):
        with tempfile.TemporaryDirectory() as tmp:
            again = os.path.join(tmp, "again.png")
            key_chart.render(os.path.join(BUILT, "key-chart.svg"), again)
            with open(again, "rb") as a, open(os.path.join(BUILT, "key-chart.png"), "rb") as b:
                self.assertTrue(a.read() == b.read(), "a second rendering of the same SVG differs")

    def test_the_committed_picture_holds_every_character(self):
        png = os.path.join(DOCS, "key-chart.png")
        with Image.open(png) as image:
            self.assertEqual(image.size, (3508, 2481))  # A4 landscape at 300 dpi
            self.assertEqual(tuple(round(d) for d in image.info.get("dpi", ())), (300, 300))
        self.assertEqual(ink_failures(png, self.boxes), [])

    def test_the_picture_check_catches_a_missing_character_and_a_filled_empty_slot(self):
        """The chart drawn without the sample key's character (ɛ) and without
        a combining mark (its dotted circle stays), and with a dotted circle
        in every empty slot: the caps keep their edge and fill, and the check
        must name exactly those boxes."""
        letter = key_chart.sample_key(self.keys)["text"]
        mark = next(k["shift"] for k in self.keys if k["shift"] and key_chart.is_combining(k["shift"]))
        with tempfile.TemporaryDirectory() as tmp:
            subprocess.run([sys.executable, key_chart.__file__, KEYMAP, tmp, "--drop", f"U+{ord(letter):04X}",
                            "--drop", f"U+{ord(mark):04X}", "--fill-empty"], check=True)
            failures = ink_failures(os.path.join(tmp, "key-chart.png"), self.boxes)
        elements = self.boxes["elements"]
        expected = [("no ink", e["role"], e["slot"], e["text"]) for e in elements
                    if e["text"] in (letter, mark) and e["role"] in ("text", "shift", "legend-mark")]
        expected += [("ink in an empty slot", e["role"], e["slot"], "") for e in elements
                     if e["role"].startswith("empty-")]
        # The sample key and its key on the keyboard, the mark's key and its
        # line in the legend, and at least one empty slot.
        self.assertGreaterEqual(len(expected), 5)
        found = []
        for line in failures:
            kind = "ink in an empty slot" if line.startswith("ink in an empty slot") else line.split(" for ")[0]
            match = [e for e in elements if f"at {e['box']} mm" in line]
            self.assertEqual(len(match), 1, line)
            e = match[0]
            found.append((kind, e["role"], e["slot"], e["text"]))
        self.assertEqual(sorted(found, key=str), sorted(expected, key=str), "\n".join(failures))


if __name__ == "__main__":
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    KEYMAP, BUILT, DOCS = (os.path.abspath(a) for a in sys.argv[1:4])
    unittest.main(argv=sys.argv[:1], verbosity=2)
