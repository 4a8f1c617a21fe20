"""Office-like A4 pages for the coder benchmarks, as a scanner sends them:
a letterhead with a logo, paragraphs of rendered text, a ruled table, a
signature stroke, white margins. Writes letter-DPI.pbm and table-DPI.pbm
(binary PBM, 1 = black) at 200 and 600 dpi into the folder given.
Usage: make_office_pages.py FOLDER"""
import os
import random
import sys

from PIL import Image, ImageDraw, ImageFont

FONTS = "/usr/share/fonts/truetype/dejavu/"
WORDS = ("the receiver stores each scanned document in the destination folder named by "
         "the printer and writes one line to the receive log with the sender the time "
         "and the number of pages invoice order delivery account total amount due date "
         "reference quantity description unit price please find enclosed our offer for "
         "the coming quarter with kind regards").split()
# A4 as printers send it: 4960 x 7016 at 600 dpi; at 200 dpi the fax width.
A4_PIXELS = {200: (1728, 2339), 600: (4960, 7016)}


def font(name, points, dpi):
    return ImageFont.truetype(FONTS + name, max(6, round(points * dpi / 72)))


def paragraph(draw, rng, left, top, width, dpi, lines, points=11):
    face = font("DejaVuSans.ttf", points, dpi)
    step = round(points * 1.45 * dpi / 72)
    for line in range(lines):
        words, text = [], ""
        while True:
            word = rng.choice(WORDS)
            if draw.textlength(text + " " + word, font=face) > width:
                break
            text = (text + " " + word).strip()
        if line == lines - 1:
            text = text[: len(text) // 2]
        draw.text((left, top + line * step), text, font=face, fill=0)
    return top + lines * step


def letterhead(draw, dpi, left, right, top):
    inch = dpi
    radius = inch // 3
    draw.ellipse((left, top, left + 2 * radius, top + 2 * radius), fill=0)
    draw.ellipse((left + radius // 2, top + radius // 2, left + radius * 3 // 2,
                  top + radius * 3 // 2), fill=255)
    draw.rectangle((left + radius, top + radius * 3 // 4, left + 2 * radius + inch // 4,
                    top + radius * 5 // 4), fill=0)
    draw.text((left + 2 * radius + inch // 3, top), "Tovira Office Supplies",
              font=font("DejaVuSans-Bold.ttf", 22, dpi), fill=0)
    small = font("DejaVuSans.ttf", 8, dpi)
    draw.text((left + 2 * radius + inch // 3, top + inch * 45 // 100),
              "12 Harbour Road  ·  Quayside  ·  Phone 0123 456789  ·  orders@example.com",
              font=small, fill=0)
    rule = top + 2 * radius + inch // 8
    draw.rectangle((left, rule, right, rule + max(1, dpi // 100)), fill=0)
    return rule + inch // 4


def table(draw, rng, dpi, left, right, top, rows):
    columns = [0, 0.12, 0.55, 0.7, 0.85, 1.0]
    xs = [left + round(c * (right - left)) for c in columns]
    row_height = round(dpi * 0.3)
    line = max(1, dpi // 150)
    face = font("DejaVuSans.ttf", 9, dpi)
    for row in range(rows + 1):
        y = top + row * row_height
        draw.rectangle((left, y, right, y + line), fill=0)
    bottom = top + rows * row_height
    for x in xs:
        draw.rectangle((x, top, x + line, bottom), fill=0)
    for row in range(rows):
        y = top + row * row_height + row_height // 4
        cells = ["%04d" % (row + 1), " ".join(rng.choice(WORDS) for _ in range(3)),
                 str(rng.randrange(1, 99)), "%d.%02d" % (rng.randrange(1, 999), rng.randrange(100)),
                 "%d.%02d" % (rng.randrange(1, 9999), rng.randrange(100))]
        for x, text in zip(xs, cells):
            draw.text((x + dpi // 20, y), text, font=face, fill=0)
    return bottom + dpi // 4


def signature(draw, rng, dpi, left, top):
    points, x, y = [], left, top
    for _ in range(40):
        x += rng.randrange(dpi // 40, dpi // 12)
        y = top + round((rng.random() - 0.5) * dpi / 4)
        points.append((x, y))
    draw.line(points, fill=0, width=max(2, dpi // 100), joint="curve")


def page(kind, dpi, rng):
    width, height = A4_PIXELS[dpi]
    image = Image.new("1", (width, height), 255)
    draw = ImageDraw.Draw(image)
    left, right, top = dpi, width - dpi, dpi * 2 // 3
    top = letterhead(draw, dpi, left, right, top)
    if kind == "letter":
        top = paragraph(draw, rng, left, top, right - left, dpi, 4, points=10) + dpi // 4
        for _ in range(4):
            top = paragraph(draw, rng, left, top, right - left, dpi, rng.randrange(4, 8)) + dpi // 5
        top = table(draw, rng, dpi, left, right, top, 5)
        paragraph(draw, rng, left, top, right - left, dpi, 2)
        signature(draw, rng, dpi, left, top + dpi)
    else:
        top = paragraph(draw, rng, left, top, right - left, dpi, 3) + dpi // 5
        top = table(draw, rng, dpi, left, right, top, 24)
        top = paragraph(draw, rng, left, top, right - left, dpi, 3)
        signature(draw, rng, dpi, right - dpi * 3, top + dpi // 2)
    return image


def main():
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    for dpi in (200, 600):
        for kind in ("letter", "table"):
            image = page(kind, dpi, random.Random("%s%d" % (kind, dpi)))
            path = os.path.join(folder, "%s-%d.pbm" % (kind, dpi))
            image.save(path + ".part", format="PPM")
            os.replace(path + ".part", path)


if __name__ == "__main__":
    main()
