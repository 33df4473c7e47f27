#!/usr/bin/python3
"""Draws every picture of the interface in one flat style.

Run from anywhere: ./make_artwork.py writes the PNG and GIF files next to this script.
Needs Debian's python3-pil and gifsicle. Shapes are drawn at four times their size and scaled down, which
gives smooth edges without any antialiasing support in the drawing calls themselves.

Every picture the window shows at its own size is drawn a second time at twice the size, as
name@2x.png beside name.png: Qt picks that one on a screen scaled to 200 %, where the first would
be stretched and soft. The pictures already drawn far larger than they are shown (the dots, the
gear, the finger, the spinner) need none.
"""

import math
import os
import subprocess

from PIL import Image, ImageDraw, ImageFilter

HERE = os.path.dirname(os.path.abspath(__file__))
SCALE = 4
# The pixel density being drawn: 1, then 2 for the @2x pictures. Measures stay in the units of
# the 1x picture throughout.
DENSITY = 1

GREEN = (0x65, 0xC8, 0x53)
GREEN_DARK = (0x3D, 0xC2, 0x4F)
BLUE = (0x38, 0xA1, 0xFF)
BLUE_DARK = (0x07, 0x95, 0xFE)
WHITE = (0xFF, 0xFF, 0xFF)
GREY = (0xA0, 0xA0, 0xA0)
GREY_LIGHT = (0xF5, 0xF5, 0xF5)
INK = (0x2B, 0x31, 0x3B)


def rgba(colour, alpha=255):
    return tuple(colour[:3]) + (alpha,)


def lighten(colour, amount):
    return tuple(round(c + (255 - c) * amount) for c in colour[:3])


def darken(colour, amount):
    return tuple(round(c * (1 - amount)) for c in colour[:3])


def muted(colour):
    """The pale, nearly grey face of a control that cannot be used right now."""
    grey = sum(colour[:3]) / 3
    return lighten(tuple(round(c + (grey - c) * 0.7) for c in colour[:3]), 0.45)


class Canvas:
    """A transparent image drawn in unscaled coordinates at SCALE times the size."""

    def __init__(self, width, height):
        self.size = (width * DENSITY, height * DENSITY)
        self.scale = SCALE * DENSITY
        self.image = Image.new("RGBA", (width * self.scale, height * self.scale), (0, 0, 0, 0))
        self.draw = ImageDraw.Draw(self.image)

    def s(self, values):
        return [round(v * self.scale) for v in values]

    def rounded(self, box, radius, fill, outline=None, width=0):
        self.draw.rounded_rectangle(self.s(box), round(radius * self.scale), fill=fill,
                                    outline=outline, width=round(width * self.scale))

    def ellipse(self, box, fill=None, outline=None, width=0):
        self.draw.ellipse(self.s(box), fill=fill, outline=outline,
                          width=round(width * self.scale))

    def line(self, points, fill, width):
        flat = self.s([c for p in points for c in p])
        self.draw.line(flat, fill=fill, width=round(width * self.scale), joint="curve")
        # Round caps: the drawing library only draws square ends.
        r = width / 2
        for x, y in (points[0], points[-1]):
            self.ellipse((x - r, y - r, x + r, y + r), fill=fill)

    def polygon(self, points, fill):
        self.draw.polygon(self.s([c for p in points for c in p]), fill=fill)

    def arc(self, box, start, end, fill, width):
        self.draw.arc(self.s(box), start, end, fill=fill, width=round(width * self.scale))

    def result(self):
        return self.image.resize(self.size, Image.LANCZOS)

    def save(self, name):
        path = output_path(name)
        self.result().save(path, optimize=True)
        return path


def output_path(name):
    """Where a picture of the current density goes: name.png, or name@2x.png."""
    if DENSITY != 1:
        stem, extension = os.path.splitext(name)
        name = f"{stem}@{DENSITY}x{extension}"
    return os.path.join(HERE, name)


def circle(canvas, cx, cy, r, **kw):
    canvas.ellipse((cx - r, cy - r, cx + r, cy + r), **kw)


# --- pictures ----------------------------------------------------------------------------------

def card_background():
    """K2/beijing.png: white rounded card on a soft shadow."""
    w, h, d = 474, 664, DENSITY
    shadow = Image.new("RGBA", (w * d, h * d), (0, 0, 0, 0))
    ImageDraw.Draw(shadow).rounded_rectangle((14 * d, 16 * d, (w - 14) * d, (h - 10) * d),
                                             26 * d, fill=(20, 60, 110, 70))
    shadow = shadow.filter(ImageFilter.GaussianBlur(8 * d))
    card = Canvas(w, h)
    card.rounded((10, 8, w - 10, h - 14), 24, fill=rgba(WHITE))
    shadow.alpha_composite(card.result())
    shadow.save(output_path("K2/beijing.png"), optimize=True)


def monitor(canvas, cx, cy, size, colour, screen):
    w, h = size, size * 0.66
    left, top = cx - w / 2, cy - h / 2 - size * 0.08
    canvas.rounded((left, top, left + w, top + h), size * 0.07, fill=colour)
    m = size * 0.07
    canvas.rounded((left + m, top + m, left + w - m, top + h - m), size * 0.03, fill=screen)
    canvas.polygon([(cx - size * 0.08, top + h), (cx + size * 0.08, top + h),
                    (cx + size * 0.12, top + h + size * 0.16),
                    (cx - size * 0.12, top + h + size * 0.16)], fill=colour)
    canvas.rounded((cx - size * 0.26, top + h + size * 0.14, cx + size * 0.26,
                    top + h + size * 0.21), size * 0.035, fill=colour)


def pc_badge():
    """K2/fuwuqi.png: round badge with a computer monitor."""
    c = Canvas(150, 150)
    circle(c, 75, 75, 72, fill=rgba(lighten(BLUE, 0.82)))
    circle(c, 75, 75, 60, fill=rgba(BLUE))
    monitor(c, 75, 78, 64, rgba(WHITE), rgba(BLUE_DARK))
    c.save("K2/fuwuqi.png")


def product():
    """K2/chanpin.png: the adapter, a dark rounded square.

    Its hold button sits on the top edge under the pointing finger of the start page, the
    USB socket next to it where the cable comes in, the status LED at the right.
    """
    c = Canvas(162, 164)
    body = INK
    # The hold button, a tab standing out of the top edge.
    c.rounded((26, 6, 54, 22), 5, fill=rgba(BLUE_DARK))
    c.rounded((68, 8, 94, 22), 4, fill=rgba(GREY))
    c.rounded((73, 12, 89, 17), 2, fill=rgba(darken(INK, 0.2)))
    c.rounded((14, 22, 148, 162), 26, fill=rgba(darken(INK, 0.3)))
    c.rounded((14, 16, 148, 156), 26, fill=rgba(body))
    c.rounded((24, 26, 138, 146), 20, fill=rgba(lighten(INK, 0.06)))
    circle(c, 124, 40, 7, fill=rgba(lighten(GREEN, 0.5), 120))
    circle(c, 124, 40, 4.5, fill=rgba(GREEN))
    gamepad(c, 81, 90, 76, rgba(BLUE))
    c.save("K2/chanpin.png")


def gamepad(c, cx, cy, width, colour):
    """A flat game controller: what the adapter is for."""
    h = width * 0.5
    left, right = cx - width / 2, cx + width / 2
    c.rounded((left, cy - h / 2, right, cy + h / 2), h * 0.45, fill=colour)
    # Grips.
    circle(c, left + h * 0.42, cy + h * 0.32, h * 0.42, fill=colour)
    circle(c, right - h * 0.42, cy + h * 0.32, h * 0.42, fill=colour)
    hole = rgba(lighten(INK, 0.06))
    # Direction pad and four face buttons.
    px, py, arm = left + width * 0.26, cy - h * 0.02, width * 0.07
    c.rounded((px - arm * 1.5, py - arm * 0.5, px + arm * 1.5, py + arm * 0.5), 1.5, fill=hole)
    c.rounded((px - arm * 0.5, py - arm * 1.5, px + arm * 0.5, py + arm * 1.5), 1.5, fill=hole)
    bx, by, gap = right - width * 0.26, cy - h * 0.02, width * 0.085
    for dx, dy in ((0, -gap), (gap, 0), (0, gap), (-gap, 0)):
        circle(c, bx + dx, by + dy, width * 0.045, fill=hole)


def cable():
    """K2/lianjiexian.png: the cable from the computer down to the adapter's socket."""
    c = Canvas(136, 77)
    points = []
    for i in range(41):
        t = i / 40
        # Cubic curve: leaves the computer level, drops into the adapter's socket.
        p0, p1, p2, p3 = (4, 30), (80, 30), (127, 22), (127, 66)
        x = (1 - t) ** 3 * p0[0] + 3 * (1 - t) ** 2 * t * p1[0] + 3 * (1 - t) * t ** 2 * p2[0] \
            + t ** 3 * p3[0]
        y = (1 - t) ** 3 * p0[1] + 3 * (1 - t) ** 2 * t * p1[1] + 3 * (1 - t) * t ** 2 * p2[1] \
            + t ** 3 * p3[1]
        points.append((x, y))
    c.line(points, rgba(BLUE), 5)
    # The plug: its metal tip ends at the picture's lower edge, over the adapter's socket.
    c.rounded((121, 62, 133, 77), 2.5, fill=rgba(GREY))
    c.rounded((118, 52, 136, 65), 4, fill=rgba(BLUE_DARK))
    c.save("K2/lianjiexian.png")


def finger():
    """K1/finger.png: a hand pointing down, telling the user to press the button."""
    c = Canvas(148, 181)
    fill, edge = rgba(WHITE), rgba(BLUE_DARK)
    # Drawn as an outline shape: the blue silhouette first, the white body inset by the edge.
    for inset, colour in ((0, edge), (7, fill)):
        c.rounded((26 + inset, 6 + inset, 126 - inset, 96 - inset), 30 - inset, fill=colour)
        c.rounded((56 + inset, 60 + inset, 90 - inset, 176 - inset), 17 - inset, fill=colour)
        c.rounded((12 + inset, 30 + inset, 46 - inset, 82 - inset), 17 - inset, fill=colour)
    # Folded fingers and the cuff.
    for x in (90, 110):
        c.line([(x, 58), (x, 86)], edge, 6)
    c.rounded((34, 0, 118, 20), 6, fill=edge)
    c.save("K1/finger.png")


def blue_panel():
    """K1/beijing.png: plain blue panel behind the connected adapter."""
    w, h = 500, 310
    pw, ph = w * DENSITY, h * DENSITY
    gradient = Image.new("RGBA", (pw, ph))
    top, bottom = BLUE, BLUE_DARK
    for y in range(ph):
        t = y / (ph - 1)
        colour = tuple(round(a + (b - a) * t) for a, b in zip(top, bottom))
        ImageDraw.Draw(gradient).line((0, y, pw, y), fill=rgba(colour))
    mask = Canvas(w, h)
    mask.rounded((0, 0, w, h), 24, fill=(255, 255, 255, 255))
    panel = Image.new("RGBA", (pw, ph), (0, 0, 0, 0))
    panel.paste(gradient, (0, 0), mask.result())
    # A faint ring gives the flat panel some depth without a second colour.
    ring = Canvas(w, h)
    ring.ellipse((300, -120, 640, 220), outline=rgba(WHITE, 28), width=40)
    panel.alpha_composite(ring.result(), (0, 0))
    panel.save(output_path("K1/beijing.png"), optimize=True)


def chip_icon(c, cx, cy, colour):
    """A chip with an up arrow on it: firmware update."""
    c.rounded((cx - 11, cy - 11, cx + 11, cy + 11), 4, fill=colour)
    for i in (-6, 0, 6):
        for a, b in (((cx + i, cy - 15), (cx + i, cy - 11)), ((cx + i, cy + 11), (cx + i, cy + 15)),
                     ((cx - 15, cy + i), (cx - 11, cy + i)), ((cx + 11, cy + i), (cx + 15, cy + i))):
            c.line([a, b], colour, 2.4)
    return cx, cy


def bar_button(prefix, base, icon):
    """UF-*/RD-*: a rounded bar 401 x 72 with its icon at the left, in four states."""
    # The style sheet draws the text 8 pixels above the centre; the bar leaves room below for
    # a shallow shadow edge, so the text sits on the bar's face.
    for name, face in (("normal", base), ("hover", lighten(base, 0.15)),
                       ("anxia", darken(base, 0.12)), ("disabled", muted(base))):
        c = Canvas(401, 72)
        pressed = name == "anxia"
        edge = darken(face, 0.12) if name == "disabled" else darken(base, 0.22)
        c.rounded((2, 6, 399, 70), 16, fill=rgba(edge))
        c.rounded((2, 3 if pressed else 2, 399, 66 if pressed else 64), 16, fill=rgba(face))
        icon(c, 40, 35 if pressed else 33, face)
        c.save(f"K1/{prefix}-{name}.png")


def update_icon(c, cx, cy, face):
    circle(c, cx, cy, 21, fill=rgba(WHITE))
    chip_icon(c, cx, cy, rgba(face))
    c.polygon([(cx, cy - 9), (cx + 8, cy + 1), (cx + 3, cy + 1), (cx + 3, cy + 8),
               (cx - 3, cy + 8), (cx - 3, cy + 1), (cx - 8, cy + 1)], fill=rgba(WHITE))


def restore_icon(c, cx, cy, face):
    circle(c, cx, cy, 21, fill=rgba(WHITE))
    c.arc((cx - 11, cy - 11, cx + 11, cy + 11), 330, 250, rgba(face), 4.5)
    # Arrow head at the arc's open end, pointing along the turn.
    a = math.radians(250)
    x, y = cx + 11 * math.cos(a), cy + 11 * math.sin(a)
    c.polygon([(x - 1, y - 7), (x + 8, y), (x - 1, y + 7)], fill=rgba(face))


def network_icons():
    """wangluo.png (reachable, green) and duanwang.png (lost, grey and struck through)."""
    for name, colour, lost in (("wangluo", GREEN, False), ("duanwang", GREY, True)):
        c = Canvas(26, 26)
        for r in (15, 9.5):
            c.arc((13 - r, 20 - r, 13 + r, 20 + r), 225, 315, rgba(colour), 2.8)
        circle(c, 13, 20, 2.8, fill=rgba(colour))
        if lost:
            c.line([(5, 5), (21, 23)], rgba(colour), 2.6)
        c.save(f"K1/{name}.png")


def close_icons():
    """guanb-anxia.png (normal), guanbi-hover.png, guanbi-noamal.png (pressed), and
    guanbi-disabled.png, the faint cross of a close that waits for the adapter."""
    for name, colour, disc in (("guanb-anxia", GREY, None), ("guanbi-hover", WHITE, BLUE),
                               ("guanbi-noamal", WHITE, BLUE_DARK),
                               ("guanbi-disabled", lighten(GREY, 0.6), None)):
        c = Canvas(26, 26)
        if disc:
            circle(c, 13, 13, 12, fill=rgba(disc))
        c.line([(8, 8), (18, 18)], rgba(colour), 2.6)
        c.line([(18, 8), (8, 18)], rgba(colour), 2.6)
        c.save(f"K1/{name}.png")


def info_icons():
    """jingshi-normal/hover/anxia.png: an information mark in a ring."""
    for name, colour, filled in (("jingshi-normal", BLUE, False), ("jingshi-hover", BLUE, True),
                                 ("jingshi-anxia", BLUE_DARK, True)):
        c = Canvas(26, 26)
        ink = rgba(WHITE) if filled else rgba(colour)
        if filled:
            circle(c, 13, 13, 12, fill=rgba(colour))
        else:
            circle(c, 13, 13, 11, outline=rgba(colour), width=2.2)
        circle(c, 13, 7.6, 1.8, fill=ink)
        c.line([(13, 11.5), (13, 19)], ink, 3)
        c.save(f"K1/{name}.png")


def three_dots():
    c = Canvas(200, 200)
    for x in (46, 100, 154):
        circle(c, x, 100, 17, fill=rgba(GREY))
    c.save("K1/threedots.png")


def gear():
    c = Canvas(200, 200)
    teeth = 8
    for i in range(teeth):
        a = 2 * math.pi * i / teeth
        points = []
        for da, r in ((-0.2, 70), (-0.14, 92), (0.14, 92), (0.2, 70)):
            points.append((100 + r * math.cos(a + da), 100 + r * math.sin(a + da)))
        c.polygon(points, fill=rgba(BLUE))
    circle(c, 100, 100, 74, fill=rgba(BLUE))
    circle(c, 100, 100, 30, fill=(0, 0, 0, 0))
    c.save("K1/settings.png")


def drop_arrow():
    """xiala.png, and xiala-disabled.png for a list that cannot be opened right now."""
    for name, colour in (("xiala", BLUE), ("xiala-disabled", lighten(GREY, 0.4))):
        c = Canvas(26, 26)
        c.line([(7, 10), (13, 16), (19, 10)], rgba(colour), 2.8)
        c.save(f"K1/{name}.png")


def light_buttons():
    """K3/button-*.png: the settings dialog's light button faces, stretched by the style."""
    for name, face, edge in (("normal", GREY_LIGHT, (0xDD, 0xE1, 0xE6)),
                             ("hover", lighten(BLUE, 0.88), lighten(BLUE, 0.45)),
                             ("press", lighten(BLUE, 0.72), BLUE)):
        c = Canvas(200, 30)
        c.rounded((1, 1, 199, 29), 7, fill=rgba(face), outline=rgba(edge), width=1.2)
        c.save(f"K3/button-{name}.png")


def spinner():
    """loading.gif: twelve dots whose brightness runs round, 60 frames of 30 ms.

    Each dot's shade is one of a few levels, so from one frame to the next only a dot or two
    changes and the optimised GIF stores little more than those dots.
    """
    size, frames, dots, levels = 512, 60, 12, 6
    shades = [tuple(round(255 + (b - 255) * (0.22 + 0.78 * level / (levels - 1)))
                    for b in BLUE_DARK) for level in range(levels)]
    images = []
    for f in range(frames):
        c = Canvas(size, size)
        head = f / frames * dots
        for d in range(dots):
            behind = (head - d) % dots
            level = max(0, levels - 1 - int(behind * levels / dots * 1.6))
            a = 2 * math.pi * d / dots - math.pi / 2
            x, y = 256 + 176 * math.cos(a), 256 + 176 * math.sin(a)
            # The dot about to lead swells a little every frame, so no two frames are alike
            # (identical frames would be merged and the 30 ms rhythm lost).
            grow = 5 * (head % 1) if d == (int(head) + 1) % dots else 0
            circle(c, x, y, 26 + 3 * level + grow, fill=rgba(shades[level]))
        frame = Image.new("RGB", (size, size), WHITE)
        drawn = c.result()
        frame.paste(drawn, (0, 0), drawn)
        images.append(frame)
    # A fixed palette: the page white, the dot shades and a few blends for the smoothed edges.
    palette_colours = [WHITE]
    for shade in shades:
        palette_colours += [tuple(round(255 + (b - 255) * t) for b in shade) for t in (0.5, 1.0)]
    palette = Image.new("P", (1, 1))
    flat = [v for colour in palette_colours for v in colour]
    palette.putpalette(flat + [0] * (768 - len(flat)))
    quantised = [im.quantize(palette=palette, dither=Image.Dither.NONE) for im in images]
    path = os.path.join(HERE, "loading.gif")
    quantised[0].save(path, save_all=True, append_images=quantised[1:], duration=30, loop=0)
    # gifsicle keeps every frame and its delay but stores only the changed rectangle of each.
    # The white page colour becomes transparent, so the window's own background shows through.
    subprocess.run(["gifsicle", "--batch", "-O3", "--transparent", "#FFFFFF", path], check=True)


def app_icon():
    """The desktop icon: a blue tile with the white controller and a green update badge.

    Drawn twice from the same measures (on a 256 grid): as PNG at the hicolor sizes and as SVG.
    """
    def draw(size):
        k = size / 256
        c = Canvas(size, size)
        c.rounded((16 * k, 16 * k, 240 * k, 240 * k), 52 * k, fill=rgba(BLUE))
        gamepad(c, 124 * k, 118 * k, 150 * k, rgba(WHITE))
        circle(c, 186 * k, 186 * k, 46 * k, fill=rgba(WHITE))
        circle(c, 186 * k, 186 * k, 38 * k, fill=rgba(GREEN_DARK))
        c.polygon([(186 * k, 160 * k), (208 * k, 186 * k), (194 * k, 186 * k), (194 * k, 210 * k),
                   (178 * k, 210 * k), (178 * k, 186 * k), (164 * k, 186 * k)], fill=rgba(WHITE))
        return c

    os.makedirs(os.path.join(HERE, "..", "icons"), exist_ok=True)
    for size in (48, 128, 256):
        draw(size).save(f"../icons/halvern-flash-tool-{size}.png")
    hexc = lambda colour: "#%02X%02X%02X" % colour[:3]
    svg = f"""<svg xmlns="http://www.w3.org/2000/svg" width="256" height="256" viewBox="0 0 256 256">
  <rect x="16" y="16" width="224" height="224" rx="52" fill="{hexc(BLUE)}"/>
  <g fill="{hexc(WHITE)}">
    <rect x="49" y="80.5" width="150" height="75" rx="33.75"/>
    <circle cx="80.5" cy="142" r="31.5"/>
    <circle cx="167.5" cy="142" r="31.5"/>
  </g>
  <g fill="{hexc(lighten(INK, 0.06))}">
    <rect x="71.25" y="109.75" width="31.5" height="10.5" rx="1.5"/>
    <rect x="81.75" y="99.25" width="10.5" height="31.5" rx="1.5"/>
    <circle cx="160" cy="102.25" r="6.75"/>
    <circle cx="172.75" cy="115" r="6.75"/>
    <circle cx="160" cy="127.75" r="6.75"/>
    <circle cx="147.25" cy="115" r="6.75"/>
  </g>
  <circle cx="186" cy="186" r="46" fill="{hexc(WHITE)}"/>
  <circle cx="186" cy="186" r="38" fill="{hexc(GREEN_DARK)}"/>
  <path d="M186 160l22 26h-14v24h-16v-24h-14z" fill="{hexc(WHITE)}"/>
</svg>
"""
    with open(os.path.join(HERE, "..", "icons", "halvern-flash-tool.svg"), "w") as out:
        out.write(svg)


def main():
    global DENSITY
    for folder in ("K1", "K2", "K3"):
        os.makedirs(os.path.join(HERE, folder), exist_ok=True)
    for DENSITY in (1, 2):
        card_background()
        pc_badge()
        product()
        cable()
        blue_panel()
        bar_button("UF", GREEN, update_icon)
        bar_button("RD", BLUE, restore_icon)
        network_icons()
        close_icons()
        info_icons()
        drop_arrow()
        light_buttons()
    DENSITY = 1
    finger()
    three_dots()
    gear()
    spinner()
    app_icon()


if __name__ == "__main__":
    main()
