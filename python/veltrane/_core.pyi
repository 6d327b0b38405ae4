# Types of the compiled core, for editors and mypy. Every keyword of render()
# is an option of veltrane-render with "_" for "-".
from os import PathLike
from typing import Any, Callable, Optional, Sequence, Union

import numpy as np
import numpy.typing as npt

Number = Union[int, float, str, np.number]
Pair = Sequence[Number]
FileName = Union[str, bytes, PathLike]
Progress = Union[bool, Callable[[float], Any], None]

__version__: str
modes: tuple[str, ...]

class UsageError(ValueError): ...

class OrbitError(ArithmeticError):
    column: Optional[int]
    row: Optional[int]
    values: Optional[tuple[float, float]]

class Result:
    @property
    def image(self) -> npt.NDArray[np.uint8]: ...
    @property
    def classes(self) -> npt.NDArray[Any]: ...
    @property
    def job(self) -> dict[str, Any]: ...
    @property
    def analyses(self) -> dict[str, Any]: ...
    def _repr_png_(self) -> bytes: ...

def render(
    mode: str,
    *,
    w: Optional[Sequence[Number]] = ...,
    w11: Optional[Number] = ...,
    w12: Optional[Number] = ...,
    w21: Optional[Number] = ...,
    w22: Optional[Number] = ...,
    b1: Optional[Number] = ...,
    b2: Optional[Number] = ...,
    size: Optional[Number] = ...,
    iterations: Optional[Number] = ...,
    accuracy: Optional[Number] = ...,
    idx: Optional[Pair] = ...,
    range: Optional[Sequence[Number]] = ...,
    x0: Optional[Pair] = ...,
    start_values: Optional[Number] = ...,
    reshuffle: Optional[bool] = ...,
    fp: Optional[bool] = ...,
    pen: Optional[Sequence[Number]] = ...,
    pixels: Optional[Number] = ...,
    region: Optional[Sequence[Number]] = ...,
    max_period: Optional[Number] = ...,
    seeds: Optional[Number] = ...,
    stats: Optional[bool] = ...,
    stats_box: Optional[Number] = ...,
    curves: Optional[bool] = ...,
    curves_only: Optional[bool] = ...,
    plane: Optional[str] = ...,
    lyapunov_steps: Optional[Number] = ...,
    scale: Optional[Pair] = ...,
    spectrum: Optional[bool] = ...,
    sweep: Optional[Sequence[Number]] = ...,
    show: Optional[str] = ...,
    bounds: Optional[Pair] = ...,
    points: Optional[Number] = ...,
    continue_: Optional[bool] = ...,
    flip_points: Optional[bool] = ...,
    curves_period: Optional[Number] = ...,
    cycles: Optional[Number] = ...,
    steps: Optional[Number] = ...,
    grid: Optional[Number] = ...,
    reverse: Optional[bool] = ...,
    match_distance: Optional[Number] = ...,
    threads: Optional[Number] = ...,
    progress: Progress = ...,
    **options: Any,
) -> Result: ...
def options(mode: Optional[str] = ...) -> list[dict[str, Any]]: ...
def continuation(**options: Any) -> tuple[dict[str, Any], npt.NDArray[np.int32]]: ...
def cycles(**options: Any) -> list[dict[str, Any]]: ...
def orbit(**options: Any) -> Result: ...
def stability(**options: Any) -> Result: ...
def save(result: Result, picture: FileName, classes: Optional[FileName] = ...) -> None: ...
def trajectory(w: Sequence[Number], x0: Pair, steps: Number) -> npt.NDArray[np.float64]: ...
def period(
    w: Sequence[Number],
    x: Number,
    y: Number,
    iterations: Number = ...,
    accuracy: Number = ...,
    max_period: Number = ...,
) -> int: ...
def record(result: Result) -> dict[str, Any]: ...
def period_colour(period: int) -> tuple[int, int, int]: ...
def stability_colour(attracting: int, fixed_points: int) -> tuple[int, int, int]: ...
def orbit_density_colour(count: int, most: int) -> tuple[int, int, int]: ...
def _set_run_seconds(seconds: float) -> None: ...
