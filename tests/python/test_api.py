"""The Python module against the tool: same documents, same warnings, same failures."""
import errno
import gc
import json
import os
import pathlib
import pickle
from concurrent.futures import ThreadPoolExecutor

import pytest

import cuekit
from conftest import ROOT, run_tool

SAMPLES = sorted(p for d in ("examples", "tests/e2e/files") for p in (ROOT / d).iterdir() if p.is_file())


@pytest.mark.parametrize("path", SAMPLES, ids=lambda p: p.name)
def test_same_as_the_tool(tool, path):
    run = run_tool(tool, "--json", path)
    if run.returncode != 0:
        with pytest.raises(cuekit.ParseError) as e:
            cuekit.parse_file(path)
        assert run.stderr.decode() == f"parse error {e.value.code}: {e.value.message}\n"
        return
    r = cuekit.parse_file(path)
    doc = run.stdout.decode()
    assert r.to_json() + "\n" == doc
    cues = json.loads(doc)["cues"]
    assert r.to_dicts() == cues
    assert [(c.start, c.end, c.lines, c.text) for c in r.cues] == [
        (c["start"], c["end"], c["lines"], "\n".join(c["lines"])) for c in cues
    ]
    for cue, want in zip(r.cues, cues):
        d = cue.danmaku
        assert (d and (True, d.mode, d.color, d.fontsize)) == (
            want.get("danmu") and (True, want["mode"], want["color"], want["fontsize"])
        )
    assert [f"warning: {w}\n" for w in r.warnings] == run.stderr.decode().splitlines(keepends=True)
    # The same bytes in memory, with the format the file name helped to find.
    assert cuekit.parse(path.read_bytes(), format=r.format).to_json() == r.to_json()


def test_ill_formed_utf8_reads_as_the_json_writes_it():
    r = cuekit.parse(b"1\n00:00:01,000 --> 00:00:02,000\nab\xff\xc3cd\xe0\x80x\xed\xa0\x80\xf4\x90\x80\x80z\xf0\x9f\x98\n")
    assert r.cues[0].lines == json.loads(r.to_json())["cues"][0]["lines"]
    assert r.cues[0].text == "ab\ufffd\ufffdcd\ufffd\ufffdx" + "\ufffd" * 7 + "z\ufffd"


@pytest.mark.parametrize(
    "name, expected",
    [(None, "srt"), ("auto", "srt"), ("srt", "srt"), ("ass", "ass"), ("ssa", "ass"), ("sami", "sami"), ("smi", "sami")],
)
def test_format_names(name, expected):
    source = {"srt": "sample.srt", "ass": "sample.ass", "sami": "sample.smi"}[expected]
    assert cuekit.parse_file(ROOT / "examples" / source, format=name).format == expected


@pytest.mark.parametrize(
    "call, error",
    [
        (lambda: cuekit.parse("text"), TypeError),
        (lambda: cuekit.parse(bytearray(b"x")), TypeError),
        (lambda: cuekit.parse(None), TypeError),
        (lambda: cuekit.parse(b"x", format=1), TypeError),
        (lambda: cuekit.parse(b"x", format="SRT"), ValueError),
        (lambda: cuekit.parse(b"x", format="nope"), ValueError),
        (lambda: cuekit.parse(b"x", encoding="utf\0-8"), ValueError),
        (lambda: cuekit.parse_file("no/such/file.srt"), FileNotFoundError),
        (lambda: cuekit.parse_file(ROOT / "examples"), IsADirectoryError),
        (lambda: cuekit.parse_file("a\0b"), ValueError),
        (lambda: cuekit.parse_file(3.5), TypeError),
    ],
)
def test_bad_arguments(call, error):
    with pytest.raises(error):
        call()


@pytest.mark.parametrize(
    "data, kwargs, code",
    [
        (b"", {}, 3),
        (b"nothing to see here", {}, 5),
        (b"1\n00:00:01,000 --> 00:00:02,000\nx\n", {"encoding": "no-such-encoding"}, 2),
        (b"WEBVTT\n", {"format": "srt"}, 5),
    ],
)
def test_parse_errors(data, kwargs, code):
    with pytest.raises(cuekit.ParseError) as e:
        cuekit.parse(data, **kwargs)
    assert e.value.code == code and e.value.message
    assert str(e.value) == f"parse error {code}: {e.value.message}"
    copy = pickle.loads(pickle.dumps(e.value))  # crosses process boundaries (Dask)
    assert (type(copy), copy.code, copy.message) == (cuekit.ParseError, code, e.value.message)


def test_file_errors_name_the_path(tmp_path, monkeypatch):
    with pytest.raises(FileNotFoundError) as e:
        cuekit.parse_file(tmp_path / "missing.srt")
    assert e.value.filename == str(tmp_path / "missing.srt")
    huge = tmp_path / "huge.srt"
    with open(huge, "wb") as f:
        f.truncate(2**31)  # sparse: refused by its size, as the tool refuses it
    with pytest.raises(OSError) as e:
        cuekit.parse_file(huge)
    assert e.value.errno == errno.EFBIG and e.value.strerror == "file too large (2 GiB or more)"
    monkeypatch.chdir(tmp_path)  # "-" names a file here, not standard input
    with pytest.raises(FileNotFoundError):
        cuekit.parse_file("-")
    empty = tmp_path / "empty.srt"
    empty.write_bytes(b"")
    with pytest.raises(cuekit.ParseError) as e:
        cuekit.parse_file(empty)
    assert e.value.code == 3


def test_the_extension_decides_only_when_the_content_says_nothing(tmp_path):
    # Timing lines MicroDVD would not claim; SubRip's extension points the way.
    data = (ROOT / "examples" / "sample.srt").read_bytes()
    for name in ("a.srt", "b.sub", "c.txt", b"d.srt"):
        path = tmp_path / os.fsdecode(name)
        path.write_bytes(data)
        assert cuekit.parse_file(path).to_json() == cuekit.parse(data).to_json()


@pytest.mark.parametrize(
    "data, filename, expected",
    [(b"", "a.srt", "srt"), (b"", "b.SMI", "sami"), (b"", "c.txt", None), (b"WEBVTT\n", "d.srt", "vtt"), (b"", None, None)],
)
def test_detect_format(data, filename, expected):
    assert cuekit.detect_format(data, filename) == expected


def test_cue_sequence():
    r = cuekit.parse_file(ROOT / "examples" / "sample.lrc")
    cues = r.cues
    n = len(cues)
    assert n == len(list(cues)) == len(r.to_dicts())
    assert cues[-1] == cues[n - 1] and cues[0] != cues[1]
    assert [c.start for c in cues[1:6:2]] == [cues[i].start for i in (1, 3, 5)]
    assert cues[::-1][0] == cues[n - 1]
    for i in (n, -n - 1, 10**30, -(10**30)):
        with pytest.raises(IndexError):
            cues[i]
    from collections.abc import Sequence

    assert isinstance(cues, Sequence)
    assert repr(cues[0]).startswith("Cue(start=")


def test_cues_outlive_their_result():
    cues = cuekit.parse_file(ROOT / "examples" / "sample.srt").cues
    it = iter(cuekit.parse_file(ROOT / "examples" / "sample.vtt").cues)
    first = cues[0]
    gc.collect()
    assert first.lines == ["Where were you last night?"]
    assert len(cues) == 4 and next(it).start >= 0


def test_python_threads_get_the_same_results():
    paths = [p for p in SAMPLES if p.parent.name == "examples"] * 20

    def doc(p):
        return cuekit.parse_file(p).to_json()

    with ThreadPoolExecutor(4) as pool:
        assert list(pool.map(doc, paths)) == [doc(p) for p in paths]


# ---- parse_many -------------------------------------------------------------------------------


def outcome(path, **kwargs):
    try:
        return cuekit.parse_file(path, **kwargs).to_json()
    except Exception as e:  # noqa: BLE001 - the exception is the outcome
        return (type(e), getattr(e, "code", None))


def as_outcome(value):
    return value.to_json() if isinstance(value, cuekit.Result) else (type(value), getattr(value, "code", None))


@pytest.mark.parametrize("jobs", [1, 3])
def test_parse_many_keeps_order_and_reports_each_failure(tmp_path, jobs):
    (tmp_path / "empty.srt").write_bytes(b"")
    paths = [*SAMPLES, tmp_path / "missing.srt", tmp_path, tmp_path / "empty.srt"] * 5
    got = list(cuekit.parse_many(paths, jobs=jobs))
    assert [p for p, _ in got] == paths
    assert [as_outcome(v) for _, v in got] == [outcome(p) for p in paths]


def test_parse_many_options_apply_to_every_file():
    paths = [ROOT / "examples" / "sample.srt"] * 3
    assert [v.code for _, v in cuekit.parse_many(paths, format="acfun")] == [5] * 3
    assert [v.code for _, v in cuekit.parse_many(paths, encoding="no-such")] == [2] * 3


def test_parse_many_reads_paths_only_a_little_ahead():
    pulled = 0

    def paths():
        nonlocal pulled
        while True:  # endless: the generator must not try to drain it
            pulled += 1
            yield ROOT / "examples" / "tiny.srt"

    gen = cuekit.parse_many(paths(), jobs=2)
    for _ in range(50):
        next(gen)
    assert pulled <= 50 + 4 * 2
    gen.close()
    with pytest.raises(StopIteration):
        next(gen)


def test_parse_many_raises_a_bad_path_in_its_turn():
    gen = cuekit.parse_many([ROOT / "examples" / "tiny.srt", 42, ROOT / "examples" / "tiny.srt"], jobs=2)
    assert isinstance(next(gen)[1], cuekit.Result)
    with pytest.raises(TypeError):
        next(gen)
    assert list(gen) == []


@pytest.mark.parametrize(
    "call, error",
    [
        (lambda: cuekit.parse_many("a.srt"), TypeError),
        (lambda: cuekit.parse_many(pathlib.Path("a.srt")), TypeError),
        (lambda: cuekit.parse_many([], jobs=0), ValueError),
        (lambda: cuekit.parse_many([], format="nope"), ValueError),
    ],
)
def test_parse_many_bad_arguments(call, error):
    with pytest.raises(error):
        call()


def test_parse_many_abandoned_midway_stops_its_threads():
    for _ in range(20):
        gen = cuekit.parse_many([ROOT / "examples" / "sample.ass"] * 100, jobs=4)
        next(gen)
        del gen  # joins its threads; a hang or crash here fails the run
    assert list(cuekit.parse_many([])) == []


@pytest.mark.parametrize("target", ["srt", "vtt", "ass", "ttml", "lrc", "txt", "json"])
@pytest.mark.parametrize("name", ["sample.srt", "sample.ass", "sample.bilibili.xml"])
def test_write_is_what_the_tool_writes(tool, name, target):
    path = ROOT / "examples" / name
    ass = ["--canvas", "1280x720", "--lanes", "0.5"] if target == "ass" else []  # the tool refuses them elsewhere
    run = run_tool(tool, path, "--to", target, "--strip", *ass)
    assert cuekit.parse_file(path).write(target, strip=True, canvas=(1280, 720), lanes=0.5) == run.stdout.decode()


@pytest.mark.parametrize(
    "target, options, message",
    [
        ("docx", {}, "unknown target docx (srt, vtt, ass, ttml, lrc, txt or json)"),
        ("ass", {"opacity": 2}, "opacity: expected a number from 0 to 1"),
        ("ass", {"canvas": (0, 0)}, "canvas: expected a width and a height from 16 to 16384 each"),
        ("ass", {"font": "a\0b"}, "font: expected a name without a comma, line break or NUL byte"),
        ("ass", {"lanes": float("nan")}, "lanes: expected a number from 0.01 to 1"),
    ],
)
def test_write_refuses_bad_requests(target, options, message):
    r = cuekit.parse(b"1\n00:00:01,000 --> 00:00:02,000\nx\n")
    with pytest.raises(ValueError) as e:
        r.write(target, **options)
    assert str(e.value) == message


def test_write_targets():
    r = cuekit.parse(b"1\n00:00:01,000 --> 00:00:02,000\nx\n")
    assert cuekit.TARGETS == ("srt", "vtt", "ass", "ttml", "lrc", "txt", "json")
    assert r.write("SRT") == r.write("srt") and r.write("ssa") == r.write("ass")
