import numpy as np
import pytest
from PIL import Image

import orbel

TEXT = "Inputs 42"


@pytest.fixture(scope="module")
def bgr():
    return orbel.write_code(TEXT, pitch=8)


def texts(image, **options):
    return [c.text for c in orbel.read_codes(image, **options)]


def test_numpy_layouts(bgr):
    grey = np.ascontiguousarray(bgr[:, :, 1])
    bgra = np.dstack([bgr, np.full(bgr.shape[:2], 255, np.uint8)])
    padded = np.zeros((bgr.shape[0], bgr.shape[1] * 2, 3), np.uint8)
    padded[:, ::2] = bgr
    for image in (bgr, grey, grey[:, :, None], bgra, padded[:, ::2], np.asfortranarray(bgr), bgr[:, :, ::-1]):
        assert texts(image) == [TEXT]


PIL_MODES = ["1", "L", "P", "RGB", "RGBA", "CMYK", "YCbCr", "LA", "HSV", "RGBX", "I", "F", "I;16", "PA", "La", "RGBa"]


@pytest.mark.parametrize("mode", PIL_MODES)
def test_pil_modes(bgr, mode):
    rgb = Image.fromarray(bgr[:, :, ::-1].copy())
    grey = np.asarray(rgb.convert("L"))
    if mode == "I;16":
        image = Image.fromarray(grey.astype(np.uint16) * 257)
    elif mode in ("I", "F"):
        image = Image.fromarray((grey.astype(np.int32) * 257).astype(np.int32 if mode == "I" else np.float32))
    elif mode in ("PA", "La", "RGBa"):
        image = rgb.convert({"PA": "P", "La": "LA", "RGBa": "RGBA"}[mode]).convert(mode)
    else:
        image = rgb.convert(mode)
    assert image.mode == mode
    assert texts(image) == [TEXT]


def test_bad_images_name_what_was_given(bgr):
    with pytest.raises(TypeError, match="not builtins.list"):
        orbel.read_codes([[0, 1], [1, 0]])
    with pytest.raises(TypeError, match="not builtins.str"):
        orbel.read_code("photo.png")
    with pytest.raises(TypeError, match="not float64"):
        orbel.read_codes(bgr.astype(np.float64))
    with pytest.raises(TypeError, match="not int16"):
        orbel.search_codes(bgr.astype(np.int16))
    with pytest.raises(ValueError, match=r"not shape \(\d+, \d+, 2\)"):
        orbel.read_codes(bgr[:, :, :2])
    with pytest.raises(ValueError, match=r"not shape \(2, 3, 4, 5\)"):
        orbel.read_codes(np.zeros((2, 3, 4, 5), np.uint8))
    with pytest.raises(ValueError, match=r"empty: shape \(0, 5\)"):
        orbel.read_codes(np.zeros((0, 5), np.uint8))


def test_bad_options_name_what_was_given(bgr):
    with pytest.raises(ValueError, match="code_types must be one of both, bw, color, not 'grey'"):
        orbel.read_codes(bgr, code_types="grey")
    with pytest.raises(ValueError, match="layout must be one of Horizontal, .*, not 'Spiral'"):
        orbel.read_codes(bgr, layout="Spiral")
    with pytest.raises(TypeError):
        orbel.read_codes(bgr, max_width=100)
    with pytest.raises(TypeError):
        orbel.read_codes(bgr, max_candidates="many")
