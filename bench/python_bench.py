#!/usr/bin/env python3
"""The Python module next to the Python readers people use, measured side by side in one run.

    python_bench.py CORPUS_DIR [LARGE_FILE...]

Corpus: a cuekit_gen corpus (file names SHAPE-ENCODING.EXT). Every figure is the median of
--runs runs, in this process, after one untimed pass that warms the page cache and finds the
files each peer reads (at least one event, no exception). Large files: MB/s per file.
"""
import argparse
import io
import os
import pathlib
import statistics
import sys
import time
from concurrent.futures import ThreadPoolExecutor

import cuekit

try:
    import pysubs2
except ImportError:
    pysubs2 = None
try:
    import srt
except ImportError:
    srt = None
try:
    import webvtt
except ImportError:
    webvtt = None

from peer_pysubs2 import encoding


def codec(path):
    """The encoding a peer must be told: cuekit detects it, the Python readers do not."""
    with open(path, "rb") as f:
        return encoding(path, f.read(4))


def text(path):
    with open(path, encoding=codec(path)) as f:
        return f.read()


# ---- the readers: each takes a path and returns its number of cues -------------------------


def cuekit_file(path):
    return len(cuekit.parse_file(path).cues)


def cuekit_every_cue(path):
    """What a caller that reads every cue pays: the objects pysubs2 builds anyway."""
    n = 0
    for cue in cuekit.parse_file(path).cues:
        cue.start, cue.end, cue.lines
        n += 1
    return n


def pysubs2_load(path):
    return len(pysubs2.load(path, encoding=codec(path), fps=25).events)


def srt_parse(path):
    return len(list(srt.parse(text(path))))


def webvtt_read(path):
    return len(webvtt.read_buffer(io.StringIO(text(path))).captions)


def readable(reader, paths):
    """The paths `reader` reads: at least one cue, no exception."""
    ok = []
    for p in paths:
        try:
            if reader(p) > 0:
                ok.append(p)
        except Exception:  # noqa: BLE001 - a peer that cannot read a file gets no figure on it
            pass
    return ok


def median_seconds(work, runs):
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        work()
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def loop(reader, paths):
    return lambda: [reader(p) for p in paths]


def many(paths, jobs):
    def work():  # each outcome dropped as the loop drops its result: no 10,000 results held
        for _ in cuekit.parse_many(paths, jobs=jobs):
            pass

    return work


def threads(paths, n):
    def work():
        with ThreadPoolExecutor(n) as pool:
            list(pool.map(cuekit_file, paths, chunksize=16))

    return work


def row(name, paths, seconds, base=None):
    mb = sum(os.path.getsize(p) for p in paths) / 1e6
    rate = len(paths) / seconds
    ratio = f"{base / seconds:8.2f}" if base else f"{'':8}"
    print(f"{name:<40} {len(paths):>6} {mb:>8.1f} {rate:>10.0f} {mb / seconds:>8.1f} {ratio}")
    return seconds


def corpus_table(paths, runs, jobs):
    print(f"{'corpus':<40} {'files':>6} {'MB':>8} {'files/s':>10} {'MB/s':>8} {'ratio':>8}")
    loop_s = row("cuekit.parse_file loop", paths, median_seconds(loop(cuekit_file, paths), runs))
    row("  and every cue's start, end, lines", paths, median_seconds(loop(cuekit_every_cue, paths), runs), loop_s)
    row(f"cuekit.parse_many(jobs={jobs})", paths, median_seconds(many(paths, jobs), runs), loop_s)
    row(f"parse_file on {jobs} Python threads", paths, median_seconds(threads(paths, jobs), runs), loop_s)
    peers = [("pysubs2.load loop", pysubs2, pysubs2_load), ("srt.parse loop", srt, srt_parse),
             ("webvtt.read_buffer loop", webvtt, webvtt_read)]
    for name, module, reader in peers:
        if module is None:
            print(f"{name:<40} not installed")
            continue
        subset = readable(reader, paths)
        if not subset:
            continue
        peer_s = row(name, subset, median_seconds(loop(reader, subset), runs))
        row("  cuekit.parse_file loop, same files", subset, median_seconds(loop(cuekit_file, subset), runs), peer_s)
        row("  and every cue's start, end, lines", subset, median_seconds(loop(cuekit_every_cue, subset), runs), peer_s)


def large_table(files, runs):
    print(f"\n{'large file':<28} {'MB':>7} {'cuekit':>8} {'+cues':>8} {'pysubs2':>8} {'srt':>8} {'webvtt':>8} {'/pysubs2':>9}")
    for path in files:
        mb = os.path.getsize(path) / 1e6
        figures = []
        for module, reader in ((cuekit, cuekit_file), (cuekit, cuekit_every_cue), (pysubs2, pysubs2_load),
                               (srt, srt_parse), (webvtt, webvtt_read)):
            if module is None or not readable(reader, [path]):
                figures.append(None)
                continue
            figures.append(mb / median_seconds(lambda: reader(path), runs))
        cells = [f"{f:8.1f}" if f else f"{'-':>8}" for f in figures]
        ratio = f"{figures[0] / figures[2]:9.1f}" if figures[0] and figures[2] else f"{'-':>9}"
        print(f"{pathlib.Path(path).name:<28} {mb:>7.1f} {' '.join(cells)} {ratio}")


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("corpus")
    ap.add_argument("large", nargs="*")
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--jobs", type=int, default=2)
    args = ap.parse_args()
    paths = sorted(str(p) for p in pathlib.Path(args.corpus).rglob("*") if p.is_file())
    if not paths:
        sys.exit(f"no files under {args.corpus}")
    readable(cuekit_file, paths)  # the page cache, as every figure will find it
    corpus_table(paths, args.runs, args.jobs)
    if args.large:
        large_table(args.large, args.runs)
    print(f"\nMedians of {args.runs} runs in one process, files read from the page cache. ratio: the row's rate over")
    print("the first row of its group (cuekit rows under a peer: over that peer). Peers are told each file's")
    print("encoding; cuekit detects it. '+cues' and 'every cue': also reading every cue's start, end and lines.")


if __name__ == "__main__":
    main()
