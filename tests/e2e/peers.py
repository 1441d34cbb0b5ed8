#!/usr/bin/python3
"""Peers read what cuekit writes. For example files of each kind of source (tags, override
codes, plain text, lyrics, danmaku), converted to each target: pysubs2 loads the SubRip,
WebVTT, ASS and TTML output with the cue count and times that cuekit itself reads back
(cues without text aside: both sides skip some of those), and ffmpeg converts
every output it has a reader for (all but TTML) without an error. Exits 77 (skipped) when
neither peer is installed.

    peers.py TOOL SOURCE_DIR
"""
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

tool, root = sys.argv[1], sys.argv[2]
try:
    import pysubs2
except ImportError:
    pysubs2 = None
ffmpeg = shutil.which("ffmpeg")
if pysubs2 is None and ffmpeg is None:
    print("skipped: neither pysubs2 nor ffmpeg is installed")
    sys.exit(77)

PYSUBS2_READS = {"srt", "vtt", "ass", "ttml"}
FFMPEG_READS = {"srt", "vtt", "ass", "lrc"}
failures = []
checked = {"pysubs2": 0, "ffmpeg": 0}


def blank(lines):
    text = re.sub(r"\{[^}]*\}|<[^>]*>", "", "".join(lines))
    return not text.replace("\u00a0", " ").strip()


def our_cues(path, target):
    doc = json.loads(subprocess.run([tool, path, "--json", "--format", target], check=True,
                                    capture_output=True).stdout)
    return [(c["start"], c["end"]) for c in doc["cues"] if not blank(c["lines"])]


SOURCES = ["sample.srt", "sample.vtt", "sample.ass", "sample.smi", "sample.lrc", "sample.bilibili.xml"]
with tempfile.TemporaryDirectory() as tmp:
    for name in SOURCES:
        source = os.path.join(root, "examples", name)
        for target in ("srt", "vtt", "ass", "ttml", "lrc"):
            out = os.path.join(tmp, f"{name}.{target}")
            if subprocess.run([tool, source, "--to", target, "-o", out], capture_output=True).returncode != 0:
                continue  # a file the tool does not read (covered elsewhere)
            what = f"{name} -> {target}"
            if pysubs2 is not None and target in PYSUBS2_READS:
                subs = pysubs2.load(out, format_=target)
                theirs = [(e.start, e.end) for e in subs if not e.is_comment and e.plaintext.strip()]
                ours = our_cues(out, target)
                if theirs != ours:
                    failures.append(f"pysubs2 {what}: {len(theirs)} cues {theirs[:3]}..., cuekit {len(ours)} {ours[:3]}...")
                checked["pysubs2"] += 1
            if ffmpeg is not None and target in FFMPEG_READS:
                run = subprocess.run([ffmpeg, "-nostdin", "-v", "error", "-i", out, "-f", "ass", "-y",
                                      os.path.join(tmp, "ffmpeg.ass")], capture_output=True, text=True)
                if run.returncode != 0 or run.stderr.strip():
                    failures.append(f"ffmpeg {what}: exit {run.returncode}: {run.stderr.strip()[:300]}")
                checked["ffmpeg"] += 1

print(f"pysubs2 read {checked['pysubs2']} outputs, ffmpeg converted {checked['ffmpeg']}")
for f in failures:
    print(f)
sys.exit(1 if failures else 0)
