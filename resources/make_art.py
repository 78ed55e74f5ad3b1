#!/usr/bin/python3
"""Draws the launcher's embedded pictures into a folder.

Usage: make_art.py OUTPUT_FOLDER

Writes app.ico (seven PNG sizes), logo.png (240x36, palette with
transparency), background_200.jpg .. background_214.jpg (1920x500) and
character_300.png .. character_310.png (1536x1536, palette with
transparency). Every picture comes from a fixed seed, so the same inputs give
the same bytes.
"""
import math
import os
import random
import sys

from PIL import Image, ImageDraw, ImageFilter, ImageFont

BOLD_FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf"
ICON_SIZES = [(16, 16), (24, 24), (32, 32), (48, 48), (64, 64), (128, 128), (256, 256)]
BACKGROUND_IDS = range(200, 215)
CHARACTER_IDS = range(300, 311)

GOLD = (241, 199, 82)
GOLD_LIGHT = (255, 226, 125)
VIOLET = (37, 32, 59)

# Sky top, sky at the horizon, haze of the far hills, the nearest silhouettes,
# the light (sun or moon) and whether stars show.
SKIES = [
    ((24, 20, 58), (236, 132, 84), (150, 88, 110), (14, 10, 26), (255, 214, 150), False),
    ((6, 10, 32), (46, 70, 120), (52, 66, 104), (6, 8, 20), (228, 236, 255), True),
    ((58, 40, 96), (248, 176, 160), (170, 120, 150), (20, 14, 34), (255, 236, 210), False),
    ((12, 30, 44), (92, 150, 150), (60, 100, 110), (8, 16, 22), (220, 250, 240), True),
    ((30, 14, 48), (150, 70, 140), (96, 54, 108), (12, 6, 22), (255, 190, 230), True),
]


def mix(a, b, t):
    return tuple(int(round(a[i] + (b[i] - a[i]) * t)) for i in range(len(a)))


def vertical_gradient(size, stops):
    """An RGB picture whose rows run through the (position, colour) stops."""
    width, height = size
    column = Image.new("RGB", (1, height))
    rows = []
    for y in range(height):
        p = y / max(height - 1, 1)
        for (p0, c0), (p1, c1) in zip(stops, stops[1:]):
            if p0 <= p <= p1:
                rows.append(mix(c0, c1, (p - p0) / max(p1 - p0, 1e-6)))
                break
    column.putdata(rows)
    return column.resize((width, height), Image.NEAREST)


def ridge(rng, width, base, amplitude, roughness):
    """Heights of a hill line: a few sines with random phases."""
    waves = [(amplitude / (i + 1) ** roughness, (i + 1) * (0.6 + rng.random()) * 2 * math.pi / width,
              rng.random() * 2 * math.pi) for i in range(5)]
    return [base - sum(a * math.sin(f * x + p) for a, f, p in waves) for x in range(0, width + 8, 8)]


def draw_pine(draw, x, ground, height, colour):
    tiers = 4
    for i in range(tiers):
        top = ground - height + i * height * 0.18
        half = height * (0.12 + 0.05 * i)
        draw.polygon([(x, top), (x - half, top + height * 0.32), (x + half, top + height * 0.32)], fill=colour)
    draw.rectangle((x - height * 0.03, ground - height * 0.2, x + height * 0.03, ground + 4), fill=colour)


def draw_tower(draw, x, ground, height, colour):
    w = height * 0.22
    draw.rectangle((x - w / 2, ground - height, x + w / 2, ground + 4), fill=colour)
    step = w / 5
    for i in range(0, 5, 2):
        left = x - w / 2 + i * step
        draw.rectangle((left, ground - height - step, left + step, ground - height), fill=colour)
    draw.polygon([(x - w * 0.7, ground - height * 0.55), (x, ground - height * 0.95),
                  (x + w * 0.7, ground - height * 0.55)], fill=colour)


def background(index):
    rng = random.Random(1000 + index)
    top, horizon, haze, near, light, stars = SKIES[index % len(SKIES)]
    width, height = 1920, 500
    image = vertical_gradient((width, height), [(0.0, top), (0.62, horizon), (1.0, mix(horizon, haze, 0.5))])
    draw = ImageDraw.Draw(image, "RGBA")
    if stars:
        for _ in range(260):
            x, y = rng.random() * width, rng.random() * height * 0.55
            r = 0.6 + rng.random() * 1.4
            draw.ellipse((x - r, y - r, x + r, y + r), fill=(255, 255, 255, int(90 + rng.random() * 150)))
    glow = Image.new("RGBA", (width, height), (0, 0, 0, 0))
    lx, ly = width * (0.2 + rng.random() * 0.6), height * (0.18 + rng.random() * 0.22)
    glow_draw = ImageDraw.Draw(glow)
    for radius, alpha in ((150, 40), (95, 70), (60, 110)):
        glow_draw.ellipse((lx - radius, ly - radius, lx + radius, ly + radius), fill=light + (alpha,))
    glow = glow.filter(ImageFilter.GaussianBlur(28))
    image.paste(glow, (0, 0), glow)
    draw.ellipse((lx - 38, ly - 38, lx + 38, ly + 38), fill=light + (255,))
    layers = 5
    for layer in range(layers):
        depth = layer / (layers - 1)
        colour = mix(haze, near, depth ** 0.8)
        base = height * (0.55 + 0.1 * layer)
        line = ridge(rng, width, base, 40 + 30 * (1 - depth), 1.1 + depth)
        points = [(i * 8, y) for i, y in enumerate(line)] + [(width + 8, height), (0, height)]
        draw.polygon(points, fill=colour)
        if layer >= 2:
            count = 6 + layer * 4
            for _ in range(count):
                x = rng.random() * width
                ground = line[min(int(x / 8), len(line) - 1)] + 6
                size = (28 + rng.random() * 40) * (0.6 + depth)
                draw_pine(draw, x, ground, size, colour)
        if layer == 2 + index % 2:
            x = width * (0.15 + rng.random() * 0.7)
            draw_tower(draw, x, line[int(x / 8)] + 6, 120 + rng.random() * 70, colour)
        mist_y = base + 20
        draw.rectangle((0, mist_y, width, mist_y + 26), fill=haze + (int(20 + 18 * (1 - depth)),))
    return image


def character(index):
    """A hooded figure with a weapon and a cloak, lit from one side."""
    rng = random.Random(5000 + index)
    size = 1536
    image = Image.new("RGBA", (size, size), (0, 0, 0, 0))
    hue = SKIES[index % len(SKIES)]
    cloak = mix(hue[3], hue[1], 0.35 + rng.random() * 0.2)
    cloak_light = mix(cloak, hue[4], 0.45)
    trim = mix(GOLD, hue[4], rng.random() * 0.4)
    skin_shadow = mix(hue[3], (0, 0, 0), 0.3)
    aura = Image.new("RGBA", (size, size), (0, 0, 0, 0))
    ImageDraw.Draw(aura).ellipse((330, 260, 1210, 1500), fill=hue[4] + (70,))
    aura = aura.filter(ImageFilter.GaussianBlur(90))
    image.alpha_composite(aura)
    draw = ImageDraw.Draw(image)
    cx = 768 + (rng.random() - 0.5) * 80
    sway = (rng.random() - 0.5) * 160
    shoulder_y, hem_y = 560, 1500
    hem = []
    for i in range(13):
        t = i / 12
        hem.append((cx - 390 + sway + 780 * t, hem_y - (60 if i % 2 else 0) - rng.random() * 50))
    body = [(cx - 170, shoulder_y), (cx + 170, shoulder_y)] + list(reversed(hem))
    draw.polygon(body, fill=cloak)
    lit = [(cx + 20, shoulder_y + 10), (cx + 170, shoulder_y)] + [
        (x, y) for x, y in reversed(hem) if x > cx + sway * 0.5]
    draw.polygon(lit, fill=cloak_light)
    draw.polygon([(cx - 150, shoulder_y + 10), (cx + 150, shoulder_y + 10), (cx + 120, shoulder_y + 90),
                  (cx - 120, shoulder_y + 90)], fill=trim)
    draw.rectangle((cx - 175, 930, cx + 175, 968), fill=trim)
    draw.ellipse((cx - 22, 925, cx + 22, 972), fill=hue[4])
    hood = (cx - 150, 330, cx + 150, 660)
    draw.ellipse(hood, fill=cloak)
    draw.pieslice(hood, 270, 360, fill=cloak_light)
    draw.ellipse((cx - 92, 420, cx + 92, 640), fill=skin_shadow)
    eye_y = 520
    for dx in (-38, 38):
        draw.ellipse((cx + dx - 11, eye_y - 6, cx + dx + 11, eye_y + 6), fill=hue[4])
    weapon = index % 3
    hand = (cx + 250, 880)
    draw.ellipse((hand[0] - 48, hand[1] - 48, hand[0] + 48, hand[1] + 48), fill=cloak_light)
    draw.line([(cx + 150, shoulder_y + 60), hand], fill=cloak, width=90)
    if weapon == 0:
        draw.line([(hand[0], 300), (hand[0], 1480)], fill=mix(trim, (60, 40, 20), 0.5), width=30)
        draw.ellipse((hand[0] - 60, 210, hand[0] + 60, 330), fill=hue[4])
        draw.ellipse((hand[0] - 30, 240, hand[0] + 30, 300), fill=(255, 255, 255))
    elif weapon == 1:
        draw.polygon([(hand[0] - 20, hand[1] - 40), (hand[0] + 20, hand[1] - 40), (hand[0] + 8, 240),
                      (hand[0], 200), (hand[0] - 8, 240)], fill=(220, 226, 240))
        draw.rectangle((hand[0] - 90, hand[1] - 58, hand[0] + 90, hand[1] - 36), fill=trim)
    else:
        draw.arc((hand[0] - 260, 360, hand[0] + 60, 1400), 280, 80, fill=mix(trim, (80, 50, 20), 0.4), width=34)
        draw.line([(hand[0] + 20, 420), (hand[0] + 20, 1340)], fill=(230, 230, 230), width=4)
    draw.line([(cx - 150, shoulder_y + 60), (cx - 230, 900)], fill=cloak, width=90)
    draw.ellipse((cx - 270, 860, cx - 190, 940), fill=cloak_light)
    for _ in range(40):
        x, y = rng.random() * size, 300 + rng.random() * 1100
        r = 3 + rng.random() * 6
        draw.ellipse((x - r, y - r, x + r, y + r), fill=hue[4] + (int(120 + rng.random() * 120),))
    return image.quantize(colors=200, method=Image.Quantize.FASTOCTREE)


def emblem(size):
    """The emblem on a transparent square: a gold diamond with a down arrow on a violet disc."""
    big = size * 4
    image = Image.new("RGBA", (big, big), (0, 0, 0, 0))
    draw = ImageDraw.Draw(image)
    draw.ellipse((0, 0, big - 1, big - 1), fill=VIOLET + (255,))
    c, r = big / 2, big * 0.36
    draw.polygon([(c, c - r), (c + r, c), (c, c + r), (c - r, c)], fill=GOLD + (255,))
    draw.polygon([(c, c - r * 0.8), (c + r * 0.8, c), (c, c)], fill=GOLD_LIGHT + (255,))
    a = r * 0.42
    draw.rectangle((c - a * 0.32, c - a * 1.1, c + a * 0.32, c + a * 0.1), fill=VIOLET + (255,))
    draw.polygon([(c - a, c), (c + a, c), (c, c + a * 1.1)], fill=VIOLET + (255,))
    return image.resize((size, size), Image.LANCZOS)


def logo():
    scale = 4
    width, height = 240 * scale, 36 * scale
    image = Image.new("RGBA", (width, height), (0, 0, 0, 0))
    image.alpha_composite(emblem(36).resize((height, height), Image.LANCZOS))
    font = ImageFont.truetype(BOLD_FONT, int(height * 0.78))
    mask = Image.new("L", (width, height), 0)
    ImageDraw.Draw(mask).text((height + 10 * scale, height / 2), "TAVRINE", font=font, anchor="lm", fill=255)
    fill = vertical_gradient((width, height), [(0.0, GOLD_LIGHT), (1.0, GOLD)]).convert("RGBA")
    image.paste(fill, (0, 0), mask)
    return image.resize((240, 36), Image.LANCZOS).quantize(colors=128, method=Image.Quantize.FASTOCTREE)


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    emblem(256).save(os.path.join(out, "app.ico"), sizes=ICON_SIZES)
    logo().save(os.path.join(out, "logo.png"), optimize=True)
    for i, rid in enumerate(BACKGROUND_IDS):
        background(i).save(os.path.join(out, "background_%d.jpg" % rid), quality=86)
    for i, rid in enumerate(CHARACTER_IDS):
        character(i).save(os.path.join(out, "character_%d.png" % rid), optimize=True)


if __name__ == "__main__":
    main()
