# Types of the extension's functions, for type checkers and editors.
import os
from fractions import Fraction
import typing
from typing import Any, Iterable, Iterator, Literal, Optional, Tuple, TypedDict, Union

import numpy as np
import numpy.typing as npt

__version__: str

Path = Union[str, os.PathLike[str]]
Picture = npt.NDArray[np.uint8]
# An (N, 4) array of end points, or a list of (x0, y0, x1, y1) rows.
Pairs = Union[npt.NDArray[Any], typing.Sequence[typing.Sequence[float]]]
Weights = Tuple[float, float, float]
Units = Literal["normalized", "pixels"]

class Document(TypedDict):
    image_a: str
    image_b: str
    image_a_path: Optional[str]
    image_b_path: Optional[str]
    pairs_a: npt.NDArray[np.float32]
    pairs_b: npt.NDArray[np.float32]
    warp: float
    dissolve: float
    weights: Weights

class Sequence(Iterator[Picture]):
    def __iter__(self) -> Sequence: ...
    def __next__(self) -> Picture: ...
    def __len__(self) -> int: ...
    def __getitem__(self, index: int) -> Picture: ...

def morph(
    image_a: Picture,
    image_b: Picture,
    pairs_a: Pairs,
    pairs_b: Pairs,
    t: float = 0.5,
    warp: Optional[float] = None,
    dissolve: Optional[float] = None,
    size: Optional[Tuple[int, int]] = None,
    threads: int = 4,
    weights: Weights = (0.01, 2.0, 0.2),
    units: Units = "normalized",
) -> Picture: ...
def sequence(
    image_a: Picture,
    image_b: Picture,
    pairs_a: Pairs,
    pairs_b: Pairs,
    n: int,
    warp: Optional[float] = None,
    dissolve: Optional[float] = None,
    size: Optional[Tuple[int, int]] = None,
    threads: int = 4,
    weights: Weights = (0.01, 2.0, 0.2),
    bounce: bool = False,
    frame_range: Optional[Tuple[int, int]] = None,
    units: Units = "normalized",
) -> Sequence: ...
def pairs_from_pixels(pairs: Pairs, width: float, height: float) -> npt.NDArray[np.float64]: ...
def read_image(path: Path, colour: Literal["srgb", "stored"] = "srgb") -> Picture: ...
def read_images(paths: Iterable[Path], colour: Literal["srgb", "stored"] = "srgb") -> list[Picture]: ...
def write_image(
    path: Path,
    array: Picture,
    *,
    quality: Optional[int] = None,
    level: Optional[int] = None,
    compression: Optional[str] = None,
    lossless: Optional[bool] = None,
    subsampling: Optional[str] = None,
) -> None: ...
def read_document(path: Path) -> Document: ...
def write_document(
    path: Path,
    image_a: Path,
    image_b: Path,
    pairs_a: Pairs,
    pairs_b: Pairs,
    warp: float = 0.5,
    dissolve: float = 0.5,
    weights: Weights = (0.01, 2.0, 0.2),
) -> None: ...
def write_animation(
    path: Path,
    frames: Iterable[Picture],
    fps: Union[float, Fraction] = 25,
    quality: Optional[int] = None,
    codec: Optional[str] = None,
) -> int: ...
