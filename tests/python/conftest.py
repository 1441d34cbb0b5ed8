"""Shared fixtures: the tool and the corpus generator come from the build (ctest passes them)."""
import os
import pathlib
import subprocess

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
# The tool brings its own sanitizer runtime when it has one; only the interpreter needs it
# preloaded.
TOOL_ENV = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}


def run_tool(tool, *args):
    return subprocess.run([tool, *map(str, args)], capture_output=True, check=False, env=TOOL_ENV)


def _program(var):
    path = os.environ.get(var)
    if not path or not os.access(path, os.X_OK):
        pytest.skip(f"{var} is not set to a built program")
    return path


@pytest.fixture(scope="session")
def tool():
    return _program("CUEKIT_TOOL")


@pytest.fixture(scope="session")
def corpus(tmp_path_factory):
    """The first 300 files of the batch corpus: every format, a few encodings."""
    gen = _program("CUEKIT_GEN")
    out = tmp_path_factory.mktemp("corpus")
    subprocess.run([gen, "corpus", str(out), "300"], check=True, env=TOOL_ENV)
    return out


def pytest_configure(config):
    """With CUEKIT_INSTALLED set to an environment, the module under test must be the one installed there."""
    installed = os.environ.get("CUEKIT_INSTALLED")
    if installed:
        import cuekit

        where = pathlib.Path(cuekit.__file__).resolve()
        if not where.is_relative_to(pathlib.Path(installed).resolve()):
            raise pytest.UsageError(f"cuekit imports from {where}, not from {installed}")
