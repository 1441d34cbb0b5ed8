#!/usr/bin/python3
"""Danmaku converted to ASS, rendered by ffmpeg's `ass` filter (libass) over a blank video:
at three chosen times every comment on screen shows text where its event places it, and a
frame before the first comment is blank. Exits 77 (skipped) without ffmpeg or its ass filter.

    render.py TOOL [--png PATH]   (--png keeps the frame at the middle time as a picture)
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile

tool = sys.argv[1]
png = sys.argv[sys.argv.index("--png") + 1] if "--png" in sys.argv else None
ffmpeg = shutil.which("ffmpeg")
if ffmpeg is None or " ass " not in subprocess.run([ffmpeg, "-hide_banner", "-filters"], capture_output=True,
                                                   text=True).stdout:
    print("skipped: no ffmpeg with the ass filter")
    sys.exit(77)

W, H, FPS = 640, 360, 10
TIMES = [1.5, 3.0, 4.5]  # seconds; a frame at 0.2 s must be blank
comments = [  # time, mode, size, colour, text
    (0.5, 1, 25, 0xFFFFFF, "first scrolling comment"),
    (0.7, 1, 25, 0xFFFF00, "a second one, in yellow"),
    (0.9, 1, 25, 0x00FFFF, "and a third"),
    (1.0, 5, 25, 0xFF4040, "TOP COMMENT"),
    (1.2, 4, 25, 0x40FF40, "bottom comment"),
    (2.0, 1, 36, 0xFFFFFF, "a larger comment"),
    (2.6, 6, 25, 0xFF80FF, "reverse"),
    (3.5, 1, 25, 0xFFFFFF, "late comment"),
    (3.6, 5, 25, 0xFFFFFF, "second top"),
]

with tempfile.TemporaryDirectory() as tmp:
    xml = os.path.join(tmp, "comments.xml")
    with open(xml, "w", encoding="utf-8") as f:
        f.write('<?xml version="1.0" encoding="UTF-8"?><i>')
        for t, mode, size, colour, text in comments:
            f.write(f'<d p="{t},{mode},{size},{colour},0,0,0,0">{text}</d>')
        f.write("</i>")
    ass = os.path.join(tmp, "comments.ass")
    subprocess.run([tool, xml, "--to", "ass", "--canvas", f"{W}x{H}", "--font", "DejaVu Sans", "-o", ass], check=True)

    # Where each event says its text is: a box per event, as a function of time.
    events = []
    pattern = re.compile(r"^Dialogue: 0,([^,]+),([^,]+),Default,,0,0,0,,\{([^}]*)\}")
    for line in open(ass, encoding="utf-8"):
        m = pattern.match(line)
        if not m:
            continue
        start, end = (sum(float(x) * k for x, k in zip(v.split(":"), (3600, 60, 1))) for v in m.group(1, 2))
        size = float(re.search(r"\\fs(\d+)", m.group(3)).group(1)) if "\\fs" in m.group(3) else H / 30
        move = re.search(r"\\move\((-?\d+),(-?\d+),(-?\d+),(-?\d+)\)", m.group(3))
        pos = re.search(r"\\an(\d)\\pos\((-?\d+),(-?\d+)\)", m.group(3))
        events.append((start, end, size, move, pos))
    assert len(events) == len(comments), f"{len(events)} events for {len(comments)} comments"

    def box(event, t):
        start, end, size, move, pos = event
        if move:
            x1, y, x2 = int(move.group(1)), int(move.group(2)), int(move.group(3))
            x = x1 + (x2 - x1) * (t - start) / (end - start)
            width = abs(x2 - x1) - W
            return max(0, int(x)), min(W, int(x + width)), y, int(y + size)
        cx, y = int(pos.group(2)), int(pos.group(3))
        top = y if pos.group(1) == "8" else int(y - size)
        return cx - 30, cx + 30, top, top + int(size)

    frames = [round(0.2 * FPS)] + [round(t * FPS) for t in TIMES]
    select = "+".join(f"eq(n\\,{n})" for n in frames)
    raw = subprocess.run([ffmpeg, "-nostdin", "-v", "error", "-f", "lavfi", "-i", f"color=c=black:s={W}x{H}:r={FPS}:d=6",
                          "-vf", f"ass={ass},select='{select}'", "-vsync", "0", "-f", "rawvideo", "-pix_fmt", "gray", "-"],
                         check=True, capture_output=True).stdout
    assert len(raw) == len(frames) * W * H, f"{len(raw)} bytes of frames"
    if png:
        subprocess.run([ffmpeg, "-nostdin", "-v", "error", "-f", "lavfi", "-i", f"color=c=0x202830:s={W}x{H}:r={FPS}:d=6",
                        "-vf", f"ass={ass},select='eq(n\\,{frames[2]})'", "-vsync", "0", "-frames:v", "1", "-y", png],
                       check=True)

failures = []
for k, n in enumerate(frames):
    frame = raw[k * W * H:(k + 1) * W * H]
    t = n / FPS

    def lit(x0, x1, y0, y1):
        return sum(1 for y in range(max(0, y0), min(H, y1)) for x in range(max(0, x0), min(W, x1))
                   if frame[y * W + x] > 100)

    if k == 0:
        if lit(0, W, 0, H):
            failures.append(f"frame at {t}s is not blank")
        continue
    shown = [e for e in events if e[0] <= t < e[1]]
    if not shown:
        failures.append(f"no comment on screen at {t}s")
    for e in shown:
        x0, x1, y0, y1 = box(e, t)
        if x1 - x0 > 4 and lit(x0, x1, y0, y1) < 20:
            failures.append(f"no text at {t}s in the box x {x0}..{x1}, y {y0}..{y1}")
print(f"checked {len(frames) - 1} frames with comments and one blank frame")
for f in failures:
    print(f)
sys.exit(1 if failures else 0)
