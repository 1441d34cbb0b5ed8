"""The Dask example on a generated corpus with two local workers equals the tool file by file."""
import json
import os
import subprocess
import sys

from conftest import ROOT, run_tool

EXAMPLE = ROOT / "examples" / "python" / "corpus_dask.py"


def tool_objects(tool, paths):
    """What `cuekit --jsonl` writes for `paths`, as text lines; without --jsonl, the same objects
    assembled from one `cuekit --json` per file."""
    run = run_tool(tool, "--jsonl", *paths)
    if b"unknown arg" not in run.stderr:
        return run.stdout.decode().splitlines()
    lines = []
    for p in paths:
        one = run_tool(tool, "--json", p)
        err = one.stderr.decode()
        if one.returncode:
            code, _, message = err.removeprefix("parse error ").rstrip("\n").partition(": ")
            obj = {"path": p, "error": {"code": int(code), "message": message}}
        else:
            warnings = [w.removeprefix("warning: ") for w in err.splitlines()]
            obj = {"path": p, **json.loads(one.stdout), "warnings": warnings}
        lines.append(json.dumps(obj, ensure_ascii=False, separators=(",", ":")))
    return lines


def test_corpus_on_two_workers(tool, corpus, tmp_path):
    out = tmp_path / "out"
    run = subprocess.run(
        [sys.executable, str(EXAMPLE), "--workers", "2", "--out", str(out), str(corpus)],
        capture_output=True, text=True, check=False, timeout=240,
    )
    assert run.returncode == 0, run.stderr
    parts = sorted(out.iterdir())
    assert len(parts) > 1
    got = sorted(line for part in parts for line in part.read_text(encoding="utf-8").splitlines())
    paths = sorted(str(p) for p in corpus.rglob("*") if p.is_file())
    assert len(got) == len(paths) == 300
    assert got == sorted(tool_objects(tool, paths))
    assert run.stdout.startswith("files 300  cues ")
    formats = {json.loads(line).get("format") for line in got}
    assert len(formats) == 11, formats
