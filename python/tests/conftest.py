import json
import os
import subprocess
from pathlib import Path

import pytest

SOURCE = Path(os.environ.get("ORB_SOURCE_DIR", Path(__file__).resolve().parents[2]))
EXAMPLES = sorted((SOURCE / "examples").glob("*.png"))


def orbread_json(paths):
    """orbread --json's objects for `paths`, without the reading times."""
    orbread = os.environ.get("ORBREAD", str(SOURCE / "build/tools/orbread"))
    run = subprocess.run([orbread, "--json", "-q", *map(str, paths)], capture_output=True, text=True)
    lines = [json.loads(line) for line in run.stdout.splitlines()]
    for line in lines:
        line.pop("time_ms", None)
    return lines


@pytest.fixture(scope="session")
def examples():
    return EXAMPLES
