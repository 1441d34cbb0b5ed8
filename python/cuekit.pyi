"""Reads subtitle, lyrics and danmaku files into timed cues."""

import os
from collections.abc import Iterable, Iterator, Sequence
from typing import Any, overload

__version__: str
# The names Result.write takes as its target, in the library's order.
TARGETS: tuple[str, ...]

_Path = str | bytes | os.PathLike[str] | os.PathLike[bytes]

class ParseError(Exception):
    """A file could not be parsed: code 1 unknown format, 2 the encoding could not be
    converted, 3 empty input, 5 nothing usable found (out of memory raises MemoryError)."""

    code: int
    message: str
    def __init__(self, code: int, message: str) -> None: ...

class Danmaku:
    """The style of a danmaku cue."""

    @property
    def mode(self) -> int: ...
    @property
    def color(self) -> int:
        """0xRRGGBB"""
    @property
    def fontsize(self) -> float: ...

class Cue:
    """One timed cue of a Result."""

    @property
    def start(self) -> int:
        """Start time in milliseconds."""
    @property
    def end(self) -> int:
        """End time in milliseconds."""
    @property
    def lines(self) -> list[str]: ...
    @property
    def text(self) -> str:
        """The lines joined with "\\n"."""
    @property
    def danmaku(self) -> Danmaku | None: ...

class CueIterator(Iterator[Cue]):
    def __next__(self) -> Cue: ...

class CueList(Sequence[Cue]):
    def __len__(self) -> int: ...
    @overload
    def __getitem__(self, index: int) -> Cue: ...
    @overload
    def __getitem__(self, index: slice) -> list[Cue]: ...
    def __iter__(self) -> CueIterator: ...

class Result:
    """What one successful parse produced."""

    @property
    def format(self) -> str: ...
    @property
    def cues(self) -> CueList: ...
    @property
    def warnings(self) -> list[str]: ...
    def to_json(self) -> str:
        """The JSON result document, exactly as `cuekit --json` prints it."""
    def to_dicts(self) -> list[dict[str, Any]]:
        """The cues as the JSON document has them."""
    def write(self, target: str, *, strip: bool = False, canvas: tuple[int, int] = (1920, 1080), font: str = "",
              font_scale: float = 1.0, opacity: float = 1.0, scroll_time: float = 8.0, fixed_time: float = 4.0,
              lanes: float = 0.8, danmaku_overlap: bool = False) -> str:
        """The cues written as target (one of TARGETS, any case), as `cuekit --to` writes them. ValueError
        names an unknown target, or the option out of range and its range."""

class ParseMany(Iterator[tuple[Any, Result | Exception]]):
    def __next__(self) -> tuple[Any, Result | Exception]: ...
    def close(self) -> None: ...

def parse(data: bytes, format: str | None = None, encoding: str | None = None) -> Result: ...
def parse_file(path: _Path, format: str | None = None, encoding: str | None = None) -> Result: ...
def detect_format(data: bytes, filename: _Path | None = None) -> str | None: ...
def parse_many(
    paths: Iterable[_Path], jobs: int | None = None, format: str | None = None, encoding: str | None = None
) -> ParseMany: ...
