#!/usr/bin/env python3
"""Parses a corpus of subtitle files on a Dask cluster into partitioned JSON Lines.

    corpus_dask.py --out DIR SOURCE...        SOURCE: a folder (walked) or a glob
    corpus_dask.py --scheduler tcp://host:8786 --out DIR '/data/subs/**/*.srt'

Each file becomes one line, the object `cuekit --jsonl` writes:
    {"path":...,"format":...,"cues":[...],"warnings":[...]}   or
    {"path":...,"error":{"code":N,"message":...}}             (6: the file could not be read)
in DIR/part-00000.jsonl, DIR/part-00001.jsonl, ... A summary follows on standard output:
files per format, cues, failures by code, bytes, files/s.

Without --scheduler a LocalCluster starts with one single-threaded worker process per core
(--workers to choose). With --scheduler, every worker needs the cuekit module and must see
the files under the same paths (give absolute ones).
"""
import argparse
import collections
import glob
import json
import os
import sys
import time

import dask
import dask.bag as db
from dask.distributed import Client, LocalCluster

import cuekit

READ_ERROR = 6


def find_files(sources):
    """Every file under the folders (those whose extension names a format, as the tool walks
    folders) and matching the globs, each once, sorted."""
    found = set()
    for source in sources:
        if os.path.isdir(source):
            for folder, _, names in os.walk(source):
                found.update(os.path.join(folder, n) for n in names if cuekit.detect_format(b"", n))
        else:
            found.update(p for p in glob.glob(source, recursive=True) if os.path.isfile(p))
    return sorted(found)


def _json(value):
    return json.dumps(value, ensure_ascii=False, separators=(",", ":"))


def parse_one(path, format=None, encoding="detect"):
    """(the JSON Lines object as text, (format or None, cues, error code or None, bytes))."""
    try:
        size = os.path.getsize(path)
    except OSError:
        size = 0
    try:
        r = cuekit.parse_file(path, format=format, encoding=encoding)
    except (cuekit.ParseError, MemoryError, OSError) as e:
        code = getattr(e, "code", 4 if isinstance(e, MemoryError) else READ_ERROR)
        message = e.message if isinstance(e, cuekit.ParseError) else (e.strerror or str(e))
        line = f'{{"path":{_json(path)},"error":{_json({"code": code, "message": message})}}}'
        return line, (None, 0, code, size)
    # The result document is {"format":...,"cues":[...]}: the object opens it with the path
    # and closes it with the warnings.
    line = f'{{"path":{_json(path)},{r.to_json()[1:-1]},"warnings":{_json(r.warnings)}}}'
    return line, (r.format, len(r.cues), None, size)


def summarize(stats):
    s = {"files": 0, "cues": 0, "bytes": 0, "formats": collections.Counter(), "failures": collections.Counter()}
    for fmt, cues, code, size in stats:
        s["files"] += 1
        s["cues"] += cues
        s["bytes"] += size
        if code is None:
            s["formats"][fmt] += 1
        else:
            s["failures"][code] += 1
    return s


def merge(parts):
    total = summarize([])
    for p in parts:
        for key in ("files", "cues", "bytes", "formats", "failures"):
            total[key] += p[key]
    return total


def run(paths, out_dir, partitions, format=None, encoding="detect"):
    """Parses `paths` on the current Dask client; writes the parts and returns the summary."""
    os.makedirs(out_dir, exist_ok=True)
    bag = db.from_sequence(paths, npartitions=max(1, min(partitions, len(paths))))
    parsed = bag.map(parse_one, format=format, encoding=encoding)
    writes = parsed.pluck(0).to_textfiles(
        os.path.join(out_dir, "part-*.jsonl"), name_function=lambda i: f"{i:05d}", last_endline=True, compute=False
    )
    summary = parsed.pluck(1).reduction(summarize, merge)
    # One graph: each file is parsed once for both the parts and the summary.
    _, result = dask.compute(writes, summary)
    return result


def print_summary(s, seconds, out=sys.stdout):
    rate = s["files"] / seconds if seconds > 0 else float("inf")
    print(f"files {s['files']}  cues {s['cues']}  bytes {s['bytes']}  {seconds:.2f} s  {rate:.0f} files/s", file=out)
    for fmt, n in sorted(s["formats"].items()):
        print(f"  {fmt:<10} {n}", file=out)
    for code, n in sorted(s["failures"].items()):
        print(f"  failed with code {code}: {n}", file=out)


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("sources", nargs="+", metavar="SOURCE", help="a folder (walked recursively) or a glob")
    ap.add_argument("--out", required=True, help="folder for the part-NNNNN.jsonl files")
    ap.add_argument("--scheduler", metavar="ADDRESS", help="an existing cluster's scheduler (default: a LocalCluster)")
    ap.add_argument("--workers", type=int, default=os.cpu_count() or 1, help="LocalCluster workers (default: one per core)")
    ap.add_argument("--partitions", type=int, help="output files (default: 4 per worker)")
    ap.add_argument("--format", help="as cuekit.parse_file's (default: detect)")
    ap.add_argument("--encoding", default="detect", help="as cuekit.parse_file's (default: detect)")
    args = ap.parse_args(argv)
    try:  # a bad name is refused here rather than once per file on the workers
        cuekit.parse(b"", format=args.format, encoding=args.encoding)
    except ValueError as e:
        ap.error(str(e))
    except cuekit.ParseError:
        pass

    paths = find_files(args.sources)
    if not paths:
        print("no files found", file=sys.stderr)
        return 1
    if args.scheduler:
        client = Client(args.scheduler)
        cluster = None
    else:
        cluster = LocalCluster(n_workers=args.workers, threads_per_worker=1, processes=True, dashboard_address=None)
        client = Client(cluster)
    try:
        workers = len(client.scheduler_info()["workers"]) or 1
        start = time.perf_counter()
        summary = run(paths, args.out, args.partitions or 4 * workers, args.format, args.encoding)
        print_summary(summary, time.perf_counter() - start)
    finally:
        client.close()
        if cluster is not None:
            cluster.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
