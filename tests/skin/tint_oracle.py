"""The tint of the skins worked out with Python's colorsys: reads "COLOR TINT" lines (0xBBGGRR
numbers) and prints the tinted colour of each as a decimal number."""
import colorsys
import sys


def to_hsl(c):
    r, g, b = (c & 255) / 255, (c >> 8 & 255) / 255, (c >> 16 & 255) / 255
    h, l, s = colorsys.rgb_to_hls(r, g, b)
    return round(h * 358), round(s * 255), round(l * 255)


def from_hsl(h, s, l):
    r, g, b = colorsys.hls_to_rgb(h / 358, l / 255, s / 255)
    return round(r * 255) | round(g * 255) << 8 | round(b * 255) << 16


def tint(color, t):
    if t == 0:
        return color
    h, s, l = to_hsl(color)
    th, ts, _ = to_hsl(t)
    s = min(max(s - 255, 0), 255)
    h, s, l = to_hsl(from_hsl(h, s, l))
    h, s = h + th, s + ts
    if h > 359:
        h -= 359
    if h < 0:
        h += 359
    return from_hsl(h, min(max(s, 0), 255), min(max(l, 0), 255))


for line in sys.stdin:
    color, t = (int(x, 0) for x in line.split())
    print(tint(color, t))
