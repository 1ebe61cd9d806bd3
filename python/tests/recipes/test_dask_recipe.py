import json
import subprocess
import sys

from PIL import Image

import orbel
from conftest import SOURCE, orbread_json


def test_two_worker_cluster_gives_orbreads_lines(tmp_path):
    paths = []
    for i in range(200):
        image = orbel.write_code(f"dask {i:03d}", modules=16 if i % 3 else 32, pitch=5)
        path = tmp_path / f"code-{i:03d}.png"
        Image.fromarray(image[:, :, ::-1]).save(path)
        paths.append(str(path))
    (tmp_path / "blank.png").write_bytes(b"")  # an empty file: an error line
    paths.insert(7, str(tmp_path / "blank.png"))
    listing = tmp_path / "paths.txt"
    listing.write_text("\n".join(paths) + "\n")
    out = tmp_path / "codes.jsonl"
    run = subprocess.run(
        [sys.executable, str(SOURCE / "examples/dask_read.py"), "--local-workers", "2", "--threads-per-worker", "1",
         "--batch-size", "20", "--files-from", str(listing), "-o", str(out)],
        capture_output=True, text=True, timeout=500)
    assert run.returncode == 0, run.stderr
    assert "read 201 images" in run.stderr and "on 2 workers" in run.stderr
    lines = [json.loads(line) for line in out.read_text().splitlines()]
    for line in lines:
        assert line.pop("time_ms") >= 0
    assert lines == orbread_json(paths)
    assert [line.get("text") for line in lines[:3]] == ["dask 000", "dask 001", "dask 002"]
