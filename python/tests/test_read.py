import numpy as np
import pytest
from PIL import Image

import orbel
from conftest import SOURCE, orbread_json


def test_version_is_the_library_version():
    cmake = (SOURCE / "CMakeLists.txt").read_text()
    assert f"VERSION {orbel.__version__} " in cmake


def test_every_field_matches_orbread(examples):
    expected = orbread_json(examples)
    assert len(expected) == len(examples)
    for path, line in zip(examples, expected):
        codes = orbel.read_file(path)
        assert len(codes) == 1, path
        code = codes[0]
        assert code.text == line["text"]
        assert code.bytes == line["text"].encode()
        for field in ("data_type", "ecc_type", "layout", "code_type", "modules_per_ring", "rings", "mirrored"):
            assert getattr(code, field) == line[field], (path, field)
        assert code.centre == pytest.approx(line["centre"], abs=0.006)
        assert code.outline.shape == (32, 2) and code.outline.dtype == np.float32
        np.testing.assert_allclose(code.outline, line["outline"], atol=0.006)
        (cx, cy), (w, h), angle = code.ellipse
        assert (cx, cy) == pytest.approx(code.centre, abs=3) and w > 0 and h > 0
        assert repr(code).startswith(f"Code(text={line['text']!r}, data_type='{line['data_type']}'")


def test_arrays_read_as_the_file(examples):
    for path in examples:
        image = Image.open(path)
        from_file = orbel.read_file(path)
        from_pil = orbel.read_codes(image)
        assert [c.bytes for c in from_pil] == [c.bytes for c in from_file]
        assert from_pil[0].centre == from_file[0].centre


def test_read_code_and_search(examples):
    blank = np.full((200, 200), 255, np.uint8)
    assert orbel.read_code(blank) is None
    assert orbel.read_codes(blank) == []
    nothing = orbel.search_codes(blank)
    assert nothing.codes == [] and nothing.error == "Inner circle not found"
    assert orbel.search_file(examples[0]).error is None

    two = np.full((400, 800, 3), 255, np.uint8)
    small = orbel.write_code("left", pitch=5)
    two[:small.shape[0], :small.shape[1]] = small
    two[-small.shape[0]:, -small.shape[1]:] = orbel.write_code("right", pitch=5)
    assert sorted(c.text for c in orbel.read_codes(two)) == ["left", "right"]
    assert len(orbel.search_codes(two, max_codes=1).codes) == 1
    assert orbel.read_code(two).text in ("left", "right")
    assert orbel.read_code(two, find_codes=False) is None


def test_options_reach_the_reader(examples):
    colour = next(p for p in examples if "colour" in p.name)
    assert orbel.read_file(colour, code_types="bw") == []
    assert orbel.read_file(colour, code_types="Color")[0].code_type == "color"
    scrambled = next(p for p in examples if "scrambled" in p.name)
    assert orbel.read_file(scrambled, layout="Horizontal") == []
    assert orbel.read_file(scrambled, layout="Scrambled")[0].layout == "Scrambled"


def test_file_errors_are_those_of_orbread(tmp_path):
    with pytest.raises(FileNotFoundError, match="cannot read: no such file"):
        orbel.read_file(tmp_path / "missing.png")
    (tmp_path / "junk.png").write_bytes(b"not an image")
    with pytest.raises(OSError, match="cannot read: "):
        orbel.read_file(tmp_path / "junk.png")
    # A PNG whose header claims 20000 x 20000 pixels: refused before decoding.
    import io, struct, zlib
    buffer = io.BytesIO()
    Image.new("L", (1, 1)).save(buffer, "PNG")
    data = bytearray(buffer.getvalue())
    data[16:24] = struct.pack(">II", 20000, 20000)
    data[29:33] = struct.pack(">I", zlib.crc32(bytes(data[12:29])))
    (tmp_path / "bomb.png").write_bytes(bytes(data))
    with pytest.raises(ValueError, match="image too large: 20000 x 20000"):
        orbel.read_file(tmp_path / "bomb.png")
