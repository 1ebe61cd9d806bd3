from os import PathLike
from typing import Any, Literal, Optional, Union

import numpy as np
import numpy.typing as npt

__version__: str
MAX_IMAGE_PIXELS: int

CodeTypes = Literal["both", "bw", "color"]
LayoutName = Literal[
    "Horizontal", "Vertical", "VerticalSnake", "HorizontalSnakeLarge", "HorizontalSnakeSmall", "Scrambled"
]
EccName = Literal["Low", "Medium", "Quartile", "High"]
DataTypeName = Literal["Automatic", "Digits", "Letters", "Numbers", "Ascii", "Binary", "BigLetters", "Latin1"]
# A NumPy uint8 array (grey, BGR or BGRA) or a PIL image of any mode.
Image = Union[npt.NDArray[np.uint8], Any]
Point = tuple[float, float]
Ellipse = tuple[Point, Point, float]

class Code:
    """One code read from an image."""
    @property
    def text(self) -> Optional[str]: ...
    @property
    def bytes(self) -> bytes: ...
    @property
    def data_type(self) -> str: ...
    @property
    def ecc_type(self) -> str: ...
    @property
    def layout(self) -> str: ...
    @property
    def code_type(self) -> Literal["bw", "color"]: ...
    @property
    def modules_per_ring(self) -> int: ...
    @property
    def rings(self) -> int: ...
    @property
    def mirrored(self) -> bool: ...
    @property
    def errors_corrected(self) -> int: ...
    @property
    def erasures(self) -> int: ...
    @property
    def centre(self) -> Point: ...
    @property
    def outline(self) -> npt.NDArray[np.float32]: ...
    @property
    def ellipse(self) -> Ellipse: ...

class FailedPlace:
    """A place the search found that did not read."""
    @property
    def error(self) -> str: ...
    @property
    def centre(self) -> Point: ...
    @property
    def outline(self) -> npt.NDArray[np.float32]: ...
    @property
    def ellipse(self) -> Ellipse: ...

class CodeSearch:
    """What search_codes found."""
    @property
    def codes(self) -> list[Code]: ...
    @property
    def failed(self) -> list[FailedPlace]: ...
    @property
    def error(self) -> Optional[str]: ...

def read_codes(
    image: Image,
    *,
    code_types: CodeTypes = "both",
    layout: Optional[LayoutName] = None,
    try_mirrored: bool = True,
    enhance: bool = True,
    max_working_width: int = 1280,
    find_codes: bool = True,
    read_whole_image: bool = True,
    max_candidates: int = 12,
) -> list[Code]: ...
def read_code(
    image: Image,
    *,
    code_types: CodeTypes = "both",
    layout: Optional[LayoutName] = None,
    try_mirrored: bool = True,
    enhance: bool = True,
    max_working_width: int = 1280,
    find_codes: bool = True,
    read_whole_image: bool = True,
    max_candidates: int = 12,
) -> Optional[Code]: ...
def search_codes(
    image: Image,
    max_codes: Optional[int] = None,
    *,
    code_types: CodeTypes = "both",
    layout: Optional[LayoutName] = None,
    try_mirrored: bool = True,
    enhance: bool = True,
    max_working_width: int = 1280,
    find_codes: bool = True,
    read_whole_image: bool = True,
    max_candidates: int = 12,
) -> CodeSearch: ...
def read_file(
    path: Union[str, PathLike[str]],
    *,
    code_types: CodeTypes = "both",
    layout: Optional[LayoutName] = None,
    try_mirrored: bool = True,
    enhance: bool = True,
    max_working_width: int = 1280,
    find_codes: bool = True,
    read_whole_image: bool = True,
    max_candidates: int = 12,
) -> list[Code]: ...
def write_code(
    text: Union[str, bytes],
    *,
    modules: Literal[16, 32, 48, 64] = 32,
    rings: Optional[int] = None,
    ecc: EccName = "Medium",
    data_type: DataTypeName = "Automatic",
    layout: LayoutName = "HorizontalSnakeSmall",
    mask: int = 0,
    color: bool = False,
    pitch: float = 12.0,
) -> npt.NDArray[np.uint8]: ...
def write_svg(
    text: Union[str, bytes],
    *,
    modules: Literal[16, 32, 48, 64] = 32,
    rings: Optional[int] = None,
    ecc: EccName = "Medium",
    data_type: DataTypeName = "Automatic",
    layout: LayoutName = "HorizontalSnakeSmall",
    mask: int = 0,
    color: bool = False,
    pitch: float = 12.0,
) -> str: ...
def search_file(
    path: Union[str, PathLike[str]],
    max_codes: Optional[int] = None,
    *,
    code_types: CodeTypes = "both",
    layout: Optional[LayoutName] = None,
    try_mirrored: bool = True,
    enhance: bool = True,
    max_working_width: int = 1280,
    find_codes: bool = True,
    read_whole_image: bool = True,
    max_candidates: int = 12,
) -> CodeSearch: ...
