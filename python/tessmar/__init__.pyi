# Type hints of the package tessmar.
import datetime
import os
from typing import Any, Callable, Iterable, Mapping, Optional, Sequence, Union

import numpy as np
import numpy.typing as npt

_Path = Union[str, os.PathLike[str]]
_Progress = Optional[Callable[[int, str], Optional[bool]]]
_Span = Union[None, float, datetime.datetime, str]

__version__: str
FRAME_DTYPE: np.dtype[Any]

class TessmarError(Exception): ...
class ReadError(TessmarError, OSError): ...
class NotARecordingError(ReadError): ...
class BadOptionError(TessmarError, ValueError): ...
class TessmarWarning(UserWarning): ...

class Recording:
    path: str
    logger_family: str
    device_family: int
    start_time: datetime.datetime
    clock_frequency: float
    signals_logged: list[str]
    units: dict[str, str]
    expressions: list[str]
    has_gps: bool
    entry_count: int
    duration: float
    def __init__(self, path: _Path) -> None: ...
    def frames(
        self, start: _Span = ..., stop: _Span = ..., progress: _Progress = ...
    ) -> npt.NDArray[np.void]: ...
    def signals(
        self,
        interval: Optional[float] = ...,
        channels: Union[None, str, Sequence[str]] = ...,
        start: _Span = ...,
        stop: _Span = ...,
        hold: bool = ...,
        gps: bool = ...,
        raw: bool = ...,
        progress: _Progress = ...,
    ) -> Any: ...

def open_recording(path: _Path) -> Recording: ...

class ConversionSummary:
    outputs: list[str]
    converted: int
    errors: int
    refused: bool
    aborted: bool
    skipped: int
    rows: int
    messages: list[tuple[int, str]]
    @property
    def ok(self) -> bool: ...

def convert(
    sources: Union[_Path, Iterable[_Path]],
    output: Union[None, _Path, Sequence[_Path]] = ...,
    outdir: Optional[_Path] = ...,
    format: Optional[str] = ...,
    output_type: Optional[str] = ...,
    progress: _Progress = ...,
    **options: Any,
) -> ConversionSummary: ...

def output_extension(format: str = ..., output_type: str = ..., **options: Any) -> str: ...

class Config:
    path: Optional[str]
    @property
    def device_family(self) -> int: ...
    @property
    def protected(self) -> bool: ...
    @property
    def signals(self) -> list[Mapping[str, Any]]: ...
    @property
    def expressions(self) -> list[tuple[str, str]]: ...
    @property
    def text(self) -> str: ...

def read_config(path: _Path, password: Optional[str] = ...) -> Config: ...
def write_config(path: _Path, config: Config) -> None: ...
def load_dbc(path: _Path, bus: int = ...) -> Any: ...
