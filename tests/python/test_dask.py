"""The Dask example on a generated corpus with two local workers writes what `cuekit --jsonl`
writes, line for line."""
import json
import subprocess
import sys

from conftest import ROOT, run_tool

EXAMPLE = ROOT / "examples" / "python" / "corpus_dask.py"


def test_corpus_on_two_workers(tool, corpus, tmp_path):
    out = tmp_path / "out"
    (corpus / "empty.srt").write_bytes(b"")  # a failure among them
    run = subprocess.run(
        [sys.executable, str(EXAMPLE), "--workers", "2", "--out", str(out), str(corpus)],
        capture_output=True, text=True, check=False, timeout=240,
    )
    assert run.returncode == 0, run.stderr
    parts = sorted(out.iterdir())
    assert len(parts) > 1
    got = sorted(line for part in parts for line in part.read_text(encoding="utf-8").splitlines())
    paths = sorted(str(p) for p in corpus.rglob("*") if p.is_file())
    assert len(got) == len(paths) == 301
    # The example reads with detection by default, as a corpus of unknown origin needs.
    assert got == sorted(run_tool(tool, "--jsonl", "--encoding", "detect", *paths).stdout.decode().splitlines())
    assert run.stdout.startswith("files 301  cues ") and "failed with code 3: 1" in run.stdout
    formats = {json.loads(line).get("format") for line in got} - {None}
    assert len(formats) == 11, formats
