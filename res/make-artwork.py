#!/usr/bin/python3
"""Draws the launcher's pictures into this directory (run it again to remake them).

background.png  950x632 RGBA: the launcher's shape, transparent around it; the panel's frame is
  closed inside the picture, its bottom corners mirroring the top ones
btn-minimise.png, btn-close.png  46x46 RGBA button faces (blue disc, transparent corners)
icon.png  64x64 window icon; cursor.png  32x32 pointer (hot spot 1,1)

Each of these is also drawn at twice the size as "<name>@2x.png" for screens with a scale factor
of 2 (the same drawing, every device pixel its own). icons/<N>.png are the icon at the hicolor
theme's sizes for the desktop entry.
"""
import math
import os
import random

import cairo

HERE = os.path.dirname(os.path.abspath(__file__))
W, H = 950, 632

# Places the window puts its controls (pixels); the picture keeps them on opaque ground.
BROWSER = (300, 132, 590, 480)
STATUS = (56, 594, 764, 38)
# The progress bar runs along the bottom edge down to the last row; the frame gives it a slot.
BAR = (60, 618, 752, 14)

# The panel inside the picture: its frame is drawn whole, so the bottom edge and corners mirror the
# top ones and nothing of the frame lies below the last row.
PANEL = (22, 52, 944, H)
CHAMFER = 26


def rgb(hexv, a=1.0):
    return ((hexv >> 16) & 255) / 255.0, ((hexv >> 8) & 255) / 255.0, (hexv & 255) / 255.0, a


def body_path(cr, x0, y0, x1, y1, c):
    """An octagonal panel: chamfered corners of size c."""
    cr.move_to(x0 + c, y0)
    cr.line_to(x1 - c, y0)
    cr.line_to(x1, y0 + c)
    cr.line_to(x1, y1 - c)
    cr.line_to(x1 - c, y1)
    cr.line_to(x0 + c, y1)
    cr.line_to(x0, y1 - c)
    cr.line_to(x0, y0 + c)
    cr.close_path()


def gold(cr, y0, y1):
    g = cairo.LinearGradient(0, y0, 0, y1)
    g.add_color_stop_rgb(0.0, *rgb(0xF8E7A8)[:3])
    g.add_color_stop_rgb(0.45, *rgb(0xC9993F)[:3])
    g.add_color_stop_rgb(0.55, *rgb(0x9C6E24)[:3])
    g.add_color_stop_rgb(1.0, *rgb(0xE9C86E)[:3])
    return g


def shield_path(cr, cx, top, w, h):
    cr.move_to(cx - w / 2, top)
    cr.line_to(cx + w / 2, top)
    cr.line_to(cx + w / 2, top + h * 0.45)
    cr.curve_to(cx + w / 2, top + h * 0.75, cx + w * 0.2, top + h * 0.9, cx, top + h)
    cr.curve_to(cx - w * 0.2, top + h * 0.9, cx - w / 2, top + h * 0.75, cx - w / 2, top + h * 0.45)
    cr.close_path()


def scaled_name(name, scale):
    return name if scale == 1 else name.replace(".png", "@%dx.png" % scale)


def draw_background(scale=1):
    s = cairo.ImageSurface(cairo.FORMAT_ARGB32, W * scale, H * scale)
    cr = cairo.Context(s)
    cr.scale(scale, scale)
    rnd = random.Random(7)
    x0, y0, x1, y1 = PANEL

    # Night sky over the whole panel.
    body_path(cr, x0, y0, x1, y1, CHAMFER)
    sky = cairo.LinearGradient(0, y0, 0, y1)
    sky.add_color_stop_rgb(0.0, *rgb(0x0B1030)[:3])
    sky.add_color_stop_rgb(0.55, *rgb(0x23306A)[:3])
    sky.add_color_stop_rgb(1.0, *rgb(0x3A2A55)[:3])
    cr.set_source(sky)
    cr.fill_preserve()
    cr.save()
    cr.clip()
    # Stars.
    for _ in range(260):
        x, y = rnd.uniform(x0, x1), rnd.uniform(y0, y0 + 380)
        r = rnd.choice([0.6, 0.8, 1.0, 1.4])
        cr.set_source_rgba(1, 1, 0.9, rnd.uniform(0.35, 0.95))
        cr.arc(x, y, r, 0, 2 * math.pi)
        cr.fill()
    # A pale moon with a halo.
    halo = cairo.RadialGradient(258, 118, 12, 258, 118, 80)
    halo.add_color_stop_rgba(0, 0.95, 0.92, 0.75, 0.45)
    halo.add_color_stop_rgba(1, 0.95, 0.92, 0.75, 0.0)
    cr.set_source(halo)
    cr.arc(258, 118, 80, 0, 2 * math.pi)
    cr.fill()
    cr.set_source_rgb(*rgb(0xF4EBC8)[:3])
    cr.arc(258, 118, 22, 0, 2 * math.pi)
    cr.fill()
    # Mountain ranges, far to near.
    for base, amp, colour, seed in ((430, 120, 0x2A3470, 3), (480, 90, 0x1F2554, 5), (540, 60, 0x151A3C, 9)):
        r2 = random.Random(seed)
        cr.move_to(x0, y1)
        x = x0
        cr.line_to(x0, base)
        while x < x1:
            x += r2.uniform(30, 70)
            cr.line_to(x, base - r2.uniform(0, amp))
        cr.line_to(x1, y1)
        cr.close_path()
        cr.set_source_rgb(*rgb(colour)[:3])
        cr.fill()
    # A castle on the crag at the left.
    cr.set_source_rgb(*rgb(0x0C0F26)[:3])
    cr.move_to(40, 560)
    cr.line_to(90, 430)
    cr.line_to(250, 430)
    cr.line_to(290, 560)
    cr.close_path()
    cr.fill()
    for tx, tw, th in ((95, 34, 150), (150, 46, 200), (215, 30, 130)):
        cr.rectangle(tx, 430 - th, tw, th + 2)
        cr.fill()
        cr.move_to(tx - 6, 430 - th)
        cr.line_to(tx + tw / 2, 430 - th - 48)
        cr.line_to(tx + tw + 6, 430 - th)
        cr.close_path()
        cr.fill()
        cr.set_source_rgba(1.0, 0.8, 0.35, 0.9)
        for wy in range(430 - th + 18, 420, 34):
            cr.rectangle(tx + tw / 2 - 3, wy, 6, 10)
            cr.fill()
        cr.set_source_rgb(*rgb(0x0C0F26)[:3])
    cr.restore()

    # Frame for the page and the status strip.
    bx, by, bw, bh = BROWSER
    cr.set_source_rgba(0.02, 0.03, 0.09, 0.92)
    cr.rectangle(bx - 6, by - 6, bw + 12, bh + 12)
    cr.fill()
    cr.set_line_width(2)
    cr.set_source(gold(cr, by - 6, by + bh + 6))
    cr.rectangle(bx - 7, by - 7, bw + 14, bh + 14)
    cr.stroke()
    sx, sy, sw, sh = STATUS
    cr.set_source_rgba(0.03, 0.04, 0.12, 0.85)
    cr.rectangle(sx, sy, sw, sh)
    cr.fill()

    # Gold double border around the whole panel, inside the picture on all four sides: the inner
    # line, then the bar's slot over it, then the outer rail unbroken along the bottom edge.
    cr.set_line_width(1.5)
    cr.set_source(gold(cr, y0, y1))
    body_path(cr, x0 + 9, y0 + 9, x1 - 9, y1 - 9, 20)
    cr.stroke()
    gx, gy, gw, gh = BAR
    cr.set_source_rgb(*rgb(0x070A1C)[:3])
    cr.rectangle(gx - 2, gy - 2, gw + 4, y1 - 5 - (gy - 2))
    cr.fill()
    cr.set_source(gold(cr, gy - 2, y1))
    cr.move_to(gx - 1.25, y1 - 5)
    cr.line_to(gx - 1.25, gy - 1.25)
    cr.line_to(gx + gw + 1.25, gy - 1.25)
    cr.line_to(gx + gw + 1.25, y1 - 5)
    cr.stroke()
    cr.set_line_width(5)
    cr.set_source(gold(cr, y0, y1))
    body_path(cr, x0 + 2.5, y0 + 2.5, x1 - 2.5, y1 - 2.5, 24)
    cr.stroke()
    # Studs where the rails turn into the corners, the same at the top and at the bottom.
    for cx, cy in ((x0 + 26, y0 + 6), (x1 - 26, y0 + 6), (x0 + 26, y1 - 6), (x1 - 26, y1 - 6)):
        cr.set_source(gold(cr, cy - 6, cy + 6))
        cr.arc(cx, cy, 6, 0, 2 * math.pi)
        cr.fill()

    # Crest rising above the panel: a shield with a star and the game's name on a banner.
    cx = 150
    cr.set_source(gold(cr, 0, 190))
    shield_path(cr, cx, 4, 124, 180)
    cr.fill()
    cr.set_source_rgb(*rgb(0x1B2A6B)[:3])
    shield_path(cr, cx, 14, 104, 160)
    cr.fill()
    cr.set_source(gold(cr, 40, 130))
    for i in range(10):
        a = -math.pi / 2 + i * math.pi / 5
        r = 38 if i % 2 == 0 else 15
        px, py = cx + r * math.cos(a), 82 + r * math.sin(a)
        cr.line_to(px, py) if i else cr.move_to(px, py)
    cr.close_path()
    cr.fill()
    # Banner ribbon.
    cr.set_source_rgb(*rgb(0x7A1424)[:3])
    cr.move_to(40, 196)
    cr.line_to(260, 196)
    cr.line_to(276, 218)
    cr.line_to(260, 240)
    cr.line_to(40, 240)
    cr.line_to(24 + 4, 218)
    cr.close_path()
    cr.fill_preserve()
    cr.set_line_width(2)
    cr.set_source(gold(cr, 196, 240))
    cr.stroke()
    cr.select_font_face("DejaVu Serif", cairo.FONT_SLANT_NORMAL, cairo.FONT_WEIGHT_BOLD)
    cr.set_font_size(30)
    text = "VELLMORA"
    ext = cr.text_extents(text)
    cr.move_to(cx - ext.width / 2 - ext.x_bearing, 229)
    cr.set_source_rgba(0, 0, 0, 0.6)
    cr.text_path(text)
    cr.fill()
    cr.move_to(cx - ext.width / 2 - ext.x_bearing - 1, 227)
    cr.set_source(gold(cr, 200, 232))
    cr.show_text(text)

    # Keep the outer corners fully transparent whatever was drawn near them.
    cr.set_operator(cairo.OPERATOR_CLEAR)
    for px, py in ((0, 0), (W - 4, 0), (0, H - 4), (W - 4, H - 4)):
        cr.rectangle(px, py, 4, 4)
    cr.fill()
    s.write_to_png(os.path.join(HERE, scaled_name("background.png", scale)))


def draw_button(name, glyph, scale=1):
    s = cairo.ImageSurface(cairo.FORMAT_ARGB32, 46 * scale, 46 * scale)
    cr = cairo.Context(s)
    cr.scale(scale, scale)
    g = cairo.RadialGradient(18, 14, 2, 23, 23, 22)
    g.add_color_stop_rgb(0, *rgb(0x6CB8FF)[:3])
    g.add_color_stop_rgb(0.6, *rgb(0x1F6FD6)[:3])
    g.add_color_stop_rgb(1, *rgb(0x0C3A8A)[:3])
    cr.arc(23, 23, 20, 0, 2 * math.pi)
    cr.set_source(g)
    cr.fill_preserve()
    cr.set_line_width(2)
    cr.set_source_rgba(1, 1, 1, 0.85)
    cr.stroke()
    cr.set_source_rgb(1, 1, 1)
    cr.set_line_cap(cairo.LINE_CAP_ROUND)
    cr.set_line_width(4)
    if glyph == "bar":
        cr.move_to(14, 23)
        cr.line_to(32, 23)
    else:
        cr.move_to(15, 15)
        cr.line_to(31, 31)
        cr.move_to(31, 15)
        cr.line_to(15, 31)
    cr.stroke()
    s.write_to_png(os.path.join(HERE, scaled_name(name, scale)))


def draw_icon(size=64, path=None):
    s = cairo.ImageSurface(cairo.FORMAT_ARGB32, size, size)
    cr = cairo.Context(s)
    cr.scale(size / 64.0, size / 64.0)
    cr.set_source(gold(cr, 0, 64))
    shield_path(cr, 32, 2, 52, 60)
    cr.fill()
    cr.set_source_rgb(*rgb(0x1B2A6B)[:3])
    shield_path(cr, 32, 6, 44, 52)
    cr.fill()
    cr.select_font_face("DejaVu Serif", cairo.FONT_SLANT_NORMAL, cairo.FONT_WEIGHT_BOLD)
    cr.set_font_size(34)
    ext = cr.text_extents("V")
    cr.move_to(32 - ext.width / 2 - ext.x_bearing, 42)
    cr.set_source(gold(cr, 10, 44))
    cr.show_text("V")
    s.write_to_png(path or os.path.join(HERE, "icon.png"))


def draw_cursor(scale=1):
    s = cairo.ImageSurface(cairo.FORMAT_ARGB32, 32 * scale, 32 * scale)
    cr = cairo.Context(s)
    cr.scale(scale, scale)
    # A gilded arrow pointer with a dark outline; the tip is the hot spot (1, 1).
    cr.move_to(1, 1)
    cr.line_to(1, 22)
    cr.line_to(6.5, 17)
    cr.line_to(10.5, 26)
    cr.line_to(14, 24.5)
    cr.line_to(10, 15.5)
    cr.line_to(17, 15.5)
    cr.close_path()
    cr.set_source(gold(cr, 0, 26))
    cr.fill_preserve()
    cr.set_line_width(1.2)
    cr.set_source_rgb(*rgb(0x2A1A05)[:3])
    cr.stroke()
    s.write_to_png(os.path.join(HERE, scaled_name("cursor.png", scale)))


# The hicolor theme's sizes the desktop entry's icon is installed in.
ICON_SIZES = (16, 24, 32, 48, 64, 128, 256)

if __name__ == "__main__":
    for scale in (1, 2):
        draw_background(scale)
        draw_button("btn-minimise.png", "bar", scale)
        draw_button("btn-close.png", "cross", scale)
        draw_cursor(scale)
    draw_icon()
    os.makedirs(os.path.join(HERE, "icons"), exist_ok=True)
    for size in ICON_SIZES:
        draw_icon(size, os.path.join(HERE, "icons", "%d.png" % size))
