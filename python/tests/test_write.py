import numpy as np
import pytest

import orbel


@pytest.mark.parametrize("text, options", [
    ("Hello, ScanBench!", {}),
    ("20261208", {"modules": 16, "ecc": "High"}),
    ("Colour code", {"color": True, "modules": 48}),
    ("https://example.org/x", {"modules": 64, "ecc": "quartile", "layout": "Scrambled", "mask": 3}),
    (b"\x00\xff raw", {"data_type": "Latin1"}),
    ("Größe", {}),
])
def test_written_codes_read_back(text, options):
    image = orbel.write_code(text, **options)
    assert image.dtype == np.uint8 and image.ndim == 3 and image.shape[2] == 3
    code = orbel.read_code(image)
    assert code is not None
    assert code.bytes == (text if isinstance(text, bytes) else text.encode())
    assert code.modules_per_ring == options.get("modules", 32)
    assert code.code_type == ("color" if options.get("color") else "bw")
    assert code.ecc_type.lower() == options.get("ecc", "Medium").lower()
    if isinstance(text, bytes):
        assert code.text is None and "bytes=" in repr(code)


def test_options_shape_the_code():
    assert orbel.write_code("x", rings=9, pitch=5).shape[0] < orbel.write_code("x", rings=9, pitch=10).shape[0]
    assert orbel.read_code(orbel.write_code("x", rings=9)).rings == 9
    svg = orbel.write_svg("Hello", modules=16)
    assert svg.lstrip().startswith("<") and "<svg" in svg and svg.rstrip().endswith("</svg>")


@pytest.mark.parametrize("options, message", [
    ({"modules": 20}, "modules must be 16, 32, 48 or 64, not 20"),
    ({"rings": 1}, "rings must be 2 to 97 \\(larger codes do not read back\\), not 1"),
    ({"rings": 5000}, "rings must be 2 to 97 \\(larger codes do not read back\\), not 5000"),
    ({"pitch": 2}, "pitch must be 5 to 400 pixels, not 2.0"),
    ({"mask": 5}, "mask must be 0 to 4, not 5"),
    ({"ecc": "Huge"}, "ecc must be one of Low, Medium, Quartile, High, not 'Huge'"),
    ({"data_type": "Emoji"}, "data_type must be one of Automatic, .*, not 'Emoji'"),
])
def test_bad_write_options(options, message):
    with pytest.raises(ValueError, match=message):
        orbel.write_code("text", **options)
    with pytest.raises(ValueError, match=message):
        orbel.write_svg("text", **options)


def test_refused_texts_say_why():
    with pytest.raises(ValueError, match="text too long: it does not fit a code of 255 bytes"):
        orbel.write_code("x" * 400)
    with pytest.raises(ValueError, match="text too long for 2 rings: .* \\(leave out rings to get enough\\)"):
        orbel.write_code("a longer text than two rings hold", rings=2)
    # As orbwrite refuses it: a code with more rings than the reader reads back.
    with pytest.raises(ValueError, match="needs 1[0-9][0-9] rings of 16 modules, .* more than 97 rings do not read"):
        orbel.write_code("y" * 150, modules=16)
    with pytest.raises(ValueError, match="the type Digits cannot carry this text"):
        orbel.write_code("letters", data_type="Digits")
    with pytest.raises(TypeError, match="not int"):
        orbel.write_code(42)
