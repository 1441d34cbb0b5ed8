"""Failing parses must not leak native memory: a million of them leave the RSS where it was."""
import os

import pytest

import cuekit


def rss_kib():
    with open("/proc/self/status", encoding="ascii") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    raise AssertionError("no VmRSS")


@pytest.mark.skipif(bool(os.environ.get("CUEKIT_SANITIZED")), reason="the sanitizer's quarantine grows the RSS")
def test_a_million_failing_parses_keep_rss_flat(tmp_path):
    missing = str(tmp_path / "missing.srt")
    bad = [b"", b"no cues in here", b"1\n00:00:01,000 --> 00:00:02,000\nx\n"]

    def round_(n):
        for i in range(n):
            try:
                if i % 4 == 3:
                    cuekit.parse_file(missing)
                else:
                    cuekit.parse(bad[i % 3], encoding="no-such" if i % 3 == 2 else None)
            except (cuekit.ParseError, OSError):
                pass

    round_(50_000)  # allocator pools and caches settle first
    before = rss_kib()
    round_(1_000_000)
    assert rss_kib() - before < 1024
