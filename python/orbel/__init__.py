"""Reads and writes Orbel codes (ring-shaped 2D codes).

    import orbel
    for code in orbel.read_file("photo.jpg"):
        print(code.text, code.centre)

Images are NumPy arrays of uint8, height x width (grey) or height x width x
3 (blue, green, red: OpenCV's order, as cv2.imread gives) or x 4 (BGRA), or
PIL images of any mode (16-bit and 32-bit grey modes I;16, I and F are
taken as 0..65535 and scaled to 8 bits; modes with transparency read as
BGRA, the others as grey or BGR). Reads and writes release the interpreter lock, so
threads read images at the same time.

Options of the reads mirror the C++ ReaderOptions, with its defaults:
    code_types="both"      "bw", "color" or "both" (black-and-white first)
    layout=None            a module layout name, or None for all of them
    try_mirrored=True      also try the mirror image
    enhance=True           stretch the contrast before binarising
    max_working_width=1280 wider images are scaled down first
    find_codes=True        search the image when it does not read as a whole
    read_whole_image=True  read the image as a whole before searching it
    max_candidates=12      most places the search reads
"""
from . import _orbel
from ._orbel import Code, CodeSearch, FailedPlace, MAX_IMAGE_PIXELS

__version__ = _orbel.__version__
__all__ = [
    "Code", "CodeSearch", "FailedPlace", "MAX_IMAGE_PIXELS",
    "read_code", "read_codes", "read_file", "search_codes", "search_file", "write_code", "write_svg",
]

# How each PIL mode reaches the reader: kept as it is (grey, RGB, RGBA), or
# converted first. Modes with transparency keep it; the rest become RGB.
_PIL_GREY = {"1", "L"}
_PIL_ALPHA = {"RGBA", "RGBa", "LA", "La", "PA"}


def _pil_array(image):
    """The uint8 array of a PIL image, in the channel order the reader takes."""
    import numpy as np

    mode = image.mode
    if mode in ("I", "F") or mode.startswith("I;16"):
        # Wider grey values, as 16-bit PNGs and TIFFs open: taken as 0..65535
        # and scaled to 8 bits (PIL's own conversion to L clips them at 255).
        values = np.clip(np.asarray(image, dtype=np.float64), 0, 65535)
        return np.rint(values / 257.0).astype(np.uint8)
    if mode == "L":
        return np.asarray(image)
    if mode in _PIL_GREY:
        return np.asarray(image.convert("L"))
    if mode == "La":  # PIL unpremultiplies it only to LA
        image, mode = image.convert("LA"), "LA"
    if mode in _PIL_ALPHA or (mode == "P" and "transparency" in image.info):
        rgba = np.asarray(image.convert("RGBA") if mode != "RGBA" else image)
        return rgba[:, :, [2, 1, 0, 3]]
    rgb = np.asarray(image.convert("RGB") if mode != "RGB" else image)
    return rgb[:, :, ::-1]


def _image_array(image):
    """`image` as a C-contiguous array the reader takes, or a TypeError."""
    import numpy as np

    if isinstance(image, np.ndarray):
        array = image
    elif hasattr(image, "mode") and hasattr(image, "convert") and hasattr(image, "getbands"):
        array = _pil_array(image)
    else:
        raise TypeError(
            "image must be a NumPy array or a PIL image, not " + type(image).__module__ + "." + type(image).__qualname__
        )
    if array.dtype != np.uint8:
        raise TypeError(f"image must be an array of uint8, not {array.dtype} (convert it, e.g. with astype)")
    return np.ascontiguousarray(array)


def read_codes(image, **options):
    """Every code of `image`, each once, wherever it stands: the image read
    as a whole, then each place the search finds. An empty list when none
    reads. ValueError for an image the reader cannot take (empty, 2 or more
    than 4 channels), TypeError for one of another kind or element type."""
    return _orbel.read_codes(_image_array(image), **options)


def read_code(image, **options):
    """The code that fills and centres `image`; when that fails (and
    find_codes is on), the first code the search finds in it. None when no
    code reads."""
    return _orbel.read_code(_image_array(image), **options)


def search_codes(image, max_codes=None, **options):
    """What read_codes reads (at most `max_codes` codes), with the places the
    search found that did not read and, when nothing was read, why."""
    return _orbel.search_codes(_image_array(image), max_codes, **options)


def read_file(path, **options):
    """Every code of an image file, loaded as orbread loads it (pictures above
    MAX_IMAGE_PIXELS are refused from their header with ValueError "image
    too large: ..."; a file that cannot be loaded raises OSError "cannot
    read: ...", FileNotFoundError when there is none)."""
    import os

    return _orbel.read_file(os.fspath(path), **options)


def search_file(path, max_codes=None, **options):
    """search_codes on an image file, loaded as read_file loads it: what
    orbread reports for the file."""
    import os

    return _orbel.search_file(os.fspath(path), max_codes, **options)


def write_code(text, **options):
    """`text` (str, written as UTF-8, or bytes) as a code image: a height x
    width x 3 uint8 array, blue-green-red, as orbwrite draws it. Options, as
    orbwrite's: modules=32 (16, 32, 48, 64), rings=None (the fewest that hold
    the text; 2 to 1000), ecc="Medium", data_type="Automatic",
    layout="HorizontalSnakeSmall", mask=0 (0 to 4), color=False, pitch=12.0
    (pixels, 5 to 400). ValueError for an option out of range or a text the
    code cannot hold, naming why."""
    return _orbel.write_code(text, **options)


def write_svg(text, **options):
    """`text` as a standalone SVG document, for print; options as write_code."""
    return _orbel.write_svg(text, **options)
