#!/usr/bin/python3
"""Builds the six bundled fonts from freely licensed fonts of Debian's packages.

Each output registers the family name the language settings select by. The fonts are cut
down to what the interface needs, so the program stays small:

- Latin fonts keep Basic Latin, Latin-1, Latin Extended-A (French and the other Western
  languages), Cyrillic (Russian and the language names), general punctuation, the euro and
  trade mark signs and the replacement character.
- The Chinese and Japanese fonts keep the same Latin ranges, CJK punctuation, full-width forms,
  the whole of Hiragana and Katakana (Japanese), and every character of the translation
  catalogs (resources/translations/*.ts) and of cjk-texts.txt. Text from outside the program
  (a change log from the server) that uses other characters falls back to the system's fonts.
- FontAwesome keeps all of its icons: it is small already.

Needs Debian's python3-fonttools, fonts-dejavu-core, fonts-wqy-microhei,
fonts-ipafont-gothic, fonts-roboto-slab and fonts-font-awesome. Run ./make_fonts.py.
"""

import glob
import os
import re
import shutil
import html

from fontTools import subset
from fontTools.pens.cu2quPen import Cu2QuPen
from fontTools.pens.ttGlyphPen import TTGlyphPen
from fontTools.ttLib import TTFont, newTable

HERE = os.path.dirname(os.path.abspath(__file__))
TRANSLATIONS = os.path.join(HERE, "..", "translations")

LATIN = [(0x20, 0x7E), (0xA0, 0x17F), (0x400, 0x45F), (0x2000, 0x206F), (0x20AC, 0x20AC),
         (0x2122, 0x2122), (0xFFFD, 0xFFFD)]
CJK_EXTRA = [(0x3000, 0x303F), (0x3040, 0x309F), (0x30A0, 0x30FF), (0xFF00, 0xFFEF)]


def ranges_text(ranges):
    return "".join(chr(c) for first, last in ranges for c in range(first, last + 1))


def interface_text():
    chars = set()
    with open(os.path.join(HERE, "cjk-texts.txt"), encoding="utf-8") as seed:
        for line in seed:
            if not line.startswith("#"):
                chars.update(line.strip())
    for path in glob.glob(os.path.join(TRANSLATIONS, "*.ts")):
        with open(path, encoding="utf-8") as catalog:
            for text in re.findall(r"<(?:source|translation)[^>]*>(.*?)</", catalog.read(), re.S):
                chars.update(html.unescape(text))
    return "".join(sorted(chars))


def rename(font, family):
    """Gives the font a family of its own; the style stays "Regular"."""
    name = font["name"]
    postscript = family.replace(" ", "") + "-Regular"
    for record in list(name.names):
        # Drop the original naming (and the typographic family, which would win over ours).
        if record.nameID in (1, 2, 3, 4, 6, 16, 17, 21, 22):
            name.removeNames(nameID=record.nameID)
    for name_id, value in ((1, family), (2, "Regular"), (3, postscript), (4, family),
                           (6, postscript)):
        name.setName(value, name_id, 3, 1, 0x409)
        name.setName(value, name_id, 1, 0, 0)
    if "CFF " in font:
        font["CFF "].cff.fontNames = [postscript]


def cff_to_truetype(font):
    """Turns cubic CFF outlines into quadratic TrueType ones, so a .ttf is what it says."""
    glyph_set = font.getGlyphSet()
    glyphs = {}
    for glyph_name in font.getGlyphOrder():
        pen = TTGlyphPen(glyph_set)
        glyph_set[glyph_name].draw(Cu2QuPen(pen, max_err=1.0, reverse_direction=True))
        glyphs[glyph_name] = pen.glyph()
    del font["CFF "]
    if "VORG" in font:
        del font["VORG"]
    font["loca"] = newTable("loca")
    font["glyf"] = glyf = newTable("glyf")
    glyf.glyphOrder = font.getGlyphOrder()
    glyf.glyphs = glyphs
    font["maxp"] = maxp = newTable("maxp")
    maxp.tableVersion = 0x00010000
    for attribute in ("maxZones", "maxTwilightPoints", "maxStorage", "maxFunctionDefs",
                      "maxInstructionDefs", "maxStackElements", "maxSizeOfInstructions",
                      "maxComponentElements", "maxPoints", "maxContours",
                      "maxCompositePoints", "maxCompositeContours", "maxComponentDepth"):
        setattr(maxp, attribute, 0)
    maxp.maxZones = 1
    font["head"].glyphDataFormat = 0
    font["head"].indexToLocFormat = 0
    font["post"].formatType = 2.0
    font["post"].extraNames = []
    font["post"].mapping = {}
    font.sfntVersion = "\0\1\0\0"


def build(source, output, family, text, font_number=0, to_truetype=False):
    # The source's own timestamp is kept, so running the script again changes no file.
    font = TTFont(source, fontNumber=font_number, recalcBBoxes=True, recalcTimestamp=False)
    options = subset.Options()
    options.hinting = False
    options.layout_features = ["*"]
    options.name_IDs = ["*"]
    options.name_languages = ["*"]
    options.notdef_outline = True
    options.drop_tables += ["FFTM", "DSIG"]
    subsetter = subset.Subsetter(options)
    subsetter.populate(text=text)
    subsetter.subset(font)
    if to_truetype:
        cff_to_truetype(font)
    rename(font, family)
    font.save(os.path.join(HERE, output))
    return os.path.getsize(os.path.join(HERE, output))


def main():
    latin = ranges_text(LATIN)
    cjk = latin + ranges_text(CJK_EXTRA) + interface_text()
    outputs = [
        ("/usr/share/fonts/truetype/wqy/wqy-microhei.ttc", "cn-msyh.ttf", "DengXian", cjk, {}),
        ("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", "en-micross.ttf",
         "Microsoft Sans Serif", latin, {}),
        ("/usr/share/fonts/opentype/ipafont-gothic/ipag.ttf", "jp-msgothic.ttf", "Kochi Gothic",
         cjk, {}),
        ("/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf", "ru-consola.ttf", "Consolas",
         latin, {}),
        ("/usr/share/fonts/opentype/roboto/slab/RobotoSlab-Regular.otf",
         "arbutusslab-regular.ttf", "Arbutus Slab", latin, {"to_truetype": True}),
    ]
    for source, output, family, text, extra in outputs:
        size = build(source, output, family, text, **extra)
        print(f"{output}: {family}, {size} bytes")
    # The icon font already carries the family name the program asks for; copied unchanged.
    shutil.copyfile("/usr/share/fonts/opentype/font-awesome/FontAwesome.otf",
                    os.path.join(HERE, "FontAwesome.otf"))
    licences = {
        "LICENSE-DejaVu.txt": "/usr/share/doc/fonts-dejavu-core/copyright",
        "LICENSE-WenQuanYi.txt": "/usr/share/doc/fonts-wqy-microhei/copyright",
        "LICENSE-IPA.txt": "/usr/share/doc/fonts-ipafont-gothic/copyright",
        "LICENSE-RobotoSlab.txt": "/usr/share/doc/fonts-roboto-slab/copyright",
        "LICENSE-FontAwesome.txt": "/usr/share/doc/fonts-font-awesome/copyright",
        # Roboto Slab and WenQuanYi refer to the Apache licence by name only.
        "LICENSE-Apache-2.0.txt": "/usr/share/common-licenses/Apache-2.0",
    }
    for target, source in licences.items():
        shutil.copyfile(source, os.path.join(HERE, target))


if __name__ == "__main__":
    main()
