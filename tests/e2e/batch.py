#!/usr/bin/env python3
"""The tool on many files at once, where the case folders cannot go: folders built on the fly,
the same bytes for every job count, --jsonl against its schema, a full disk, a closed pipe and
a terminal for the progress line.

    batch.py TOOL ROOT [--threads-only]

--threads-only runs just the job-count comparison (the ThreadSanitizer build runs that)."""
import json
import os
import pathlib
import pty
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time

tool, root = os.path.abspath(sys.argv[1]), pathlib.Path(sys.argv[2]).resolve()
threads_only = "--threads-only" in sys.argv[3:]
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)


def run(*args, **kw):
    kw.setdefault("capture_output", "stdout" not in kw)
    return subprocess.run([tool, *map(str, args)], check=False, **kw)


def sample_files():
    return sorted(p for d in ("examples", "tests/e2e/files") for p in (root / d).iterdir() if p.is_file())


def same_for_every_job_count(tmp):
    """A tree of a few hundred files, good and bad: more than the files in flight at once."""
    tree = tmp / "tree"
    for k in range(24):
        sub = tree / f"{k // 6}" / f"{k:02d}"
        sub.mkdir(parents=True)
        for f in sample_files():
            shutil.copy(f, sub / f.name)
    # One file large enough that the writer formats it itself, straight to the output.
    big = (root / "examples/sample.srt").read_bytes()
    (tree / "1" / "big.srt").write_bytes(big * (5 * 2**20 // len(big)))
    for mode in ([], ["--json"], ["--jsonl"]):
        one, four = run("-j1", *mode, tree), run("-j", "4", *mode, tree)
        check((one.stdout, one.stderr, one.returncode) == (four.stdout, four.stderr, four.returncode),
              f"-j1 and -j4 differ with {mode}")
        check(one.returncode == 1 and one.stdout, f"the tree with {mode}: exit {one.returncode}")
    return tree


def jsonl_schema(tree):
    import jsonschema  # pylint: disable=import-outside-toplevel

    docs = root / "docs"
    schema = json.loads((docs / "jsonl.schema.json").read_text(encoding="utf-8"))
    resolver = jsonschema.RefResolver(base_uri=docs.as_uri() + "/", referrer=schema)
    validator = jsonschema.Draft202012Validator(schema, resolver=resolver)
    lines = run("--jsonl", tree, "-").stdout.decode().splitlines()
    kinds = set()
    for line in lines:
        obj = json.loads(line)
        check(not list(validator.iter_errors(obj)), f"schema rejects {line[:120]}")
        kinds.add("error" if "error" in obj else "cues")
    check(kinds == {"error", "cues"} and json.loads(lines[-1])["path"] == "-", "--jsonl: both kinds, stdin last")
    for bad in ({"path": "x", "error": {"code": 7, "message": ""}},
                {"path": "x", "format": "srt", "cues": [], "warnings": [], "error": {"code": 1, "message": ""}},
                {"path": "x", "format": "srt", "cues": [{"start": 1, "end": 2, "lines": [], "mode": 1}], "warnings": []}):
        check(not validator.is_valid(bad), f"schema accepts {bad}")


def folders(tmp):
    """Sorted by name, extensions of the format table in any case, links to folders not
    followed, links to files followed, FIFOs and devices not read; an empty folder is an
    error."""
    walk = tmp / "walk"
    (walk / "a").mkdir(parents=True)
    (walk / "empty").mkdir()
    srt = (root / "examples/tiny.srt").read_bytes()
    for name in ("a/b.srt", "a.srt", "b.TXT", "f.SRT", b"bad\xff.srt"):
        (walk / os.fsdecode(name) if isinstance(name, bytes) else walk / name).write_bytes(srt)
    (walk / "c").symlink_to(walk / "a")
    (walk / "e.vtt").symlink_to(walk / "a")
    (walk / "d.srt").symlink_to(walk / "a.srt")
    os.mkfifo(walk / "fifo.srt")
    (walk / "zero.srt").symlink_to("/dev/zero")
    got = [json.loads(l)["path"] for l in run("--jsonl", walk, timeout=20).stdout.decode().splitlines()]
    want = [f"{walk}/{n}" for n in ("a/b.srt", "a.srt", "bad\ufffd.srt", "d.srt", "f.SRT")]
    check(got == want, f"walk order {got}")
    empty = run(walk / "empty")
    check((empty.stdout, empty.stderr, empty.returncode) == (b"", f"{walk}/empty: no subtitle file in this folder\n".encode(), 1),
          f"an empty folder: {empty}")


def truncated_while_read(tmp):
    """A mapped file cut short by another process while its listing is written: a message
    and exit 1 instead of SIGBUS, and the next file still listed."""
    big = tmp / "big.srt"
    srt = (root / "examples/sample.srt").read_bytes()
    big.write_bytes(srt * (8 * 2**20 // len(srt)))
    p = subprocess.Popen([tool, big, root / "examples/tiny.srt"], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    p.stdout.read(1 << 16)  # the tool now waits on the full pipe, its lines pointing into the file
    os.truncate(big, 0)
    out = p.stdout.read()
    err = p.stderr.read()
    check((p.wait(), err) == (1, f"{big}: the file changed while it was read\n".encode()) and
          out.endswith(b"# format=srt cues=2\n1) 1000 --> 2500\n   Hello,\n   <i>world!</i>\n2) 3000 --> 4200\n   \xc3\x87a va ?\n"),
          f"truncated: {p.returncode} {err!r}")


def write_errors(tree):
    """A full disk is an error; a reader that goes away ends the run as SIGPIPE does."""
    for args in (["examples/sample.srt"], ["--jsonl", tree]):
        with open("/dev/full", "wb") as full:
            r = run(*args, stdout=full, stderr=subprocess.PIPE, cwd=root)
        check((r.returncode, r.stderr) == (1, b"cannot write to standard output: No space left on device\n"),
              f"/dev/full with {args}: {r.returncode} {r.stderr!r}")
    p = subprocess.Popen([tool, "--jsonl", "-j2", tree], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    p.stdout.read(100)
    p.stdout.close()
    err = p.stderr.read()
    check((p.wait(), err) == (-signal.SIGPIPE, b""), f"closed pipe: {p.returncode} {err!r}")


def progress_line():
    """On a terminal only, erased at the end, and off with --no-progress. Standard input
    arrives late, so the line is drawn while the tool waits for it."""
    srt = (root / "examples/tiny.srt").read_bytes()
    for extra, want_line in (([], True), (["--no-progress"], False)):
        master, slave = pty.openpty()
        p = subprocess.Popen([tool, "--jsonl", "-j2", *extra, root / "examples/tiny.srt", "-", root / "examples/sample.srt"],
                             stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, stderr=slave)
        os.close(slave)
        time.sleep(0.5)
        p.stdin.write(srt)
        p.stdin.close()
        p.wait()
        seen = b""
        while select.select([master], [], [], 1)[0]:
            try:
                chunk = os.read(master, 4096)
            except OSError:
                break
            if not chunk:
                break
            seen += chunk
        os.close(master)
        drawn = b"/3 files" in seen and seen.endswith(b"\r\x1b[K")
        check(drawn == want_line and (want_line or seen == b""), f"progress with {extra}: {seen!r}")


work = pathlib.Path(tempfile.mkdtemp())
try:
    corpus = same_for_every_job_count(work)
    if not threads_only:
        jsonl_schema(corpus)
        folders(work)
        truncated_while_read(work)
        write_errors(corpus)
        progress_line()
finally:
    shutil.rmtree(work)

for f in failures:
    print(f)
print(f"batch: {len(failures)} failures")
sys.exit(1 if failures else 0)
