# Type hints of the package vosviewer.
import datetime
import os
from typing import Any, Callable, Dict, Generator, Iterable, List, NamedTuple, Optional, Sequence, Tuple, Union

import numpy
import numpy.typing

from vosviewer.errors import VosDeviceError as VosDeviceError
from vosviewer.errors import VosError as VosError
from vosviewer.errors import VosFileError as VosFileError
from vosviewer.errors import VosUsageError as VosUsageError

_Path = Union[str, bytes, os.PathLike]
_Float64 = numpy.typing.NDArray[numpy.float64]

DLF_MAX_SAMPLE_COUNT: int

class Stamp:
    start: datetime.datetime
    identity: str
    index: int
    first_sample: int
    def __init__(self, start: datetime.datetime, identity: str, index: int, first_sample: int) -> None: ...

class Record:
    @property
    def files(self) -> List[str]: ...
    @property
    def count(self) -> int: ...
    def __len__(self) -> int: ...
    @property
    def clock_divider(self) -> int: ...
    @property
    def sample_period(self) -> float: ...
    @property
    def trigger_channel(self) -> int: ...
    @property
    def trigger_type(self) -> int: ...
    @property
    def threshold(self) -> float: ...
    @property
    def display_mode(self) -> int: ...
    @property
    def stamp(self) -> Optional[Stamp]: ...
    @property
    def file_stamps(self) -> List[Optional[Stamp]]: ...
    @property
    def file_first_samples(self) -> List[int]: ...
    def read(self, channel: int, first: int = 0, count: Optional[int] = None) -> _Float64: ...
    def times(self, first: int = 0, count: Optional[int] = None) -> numpy.typing.NDArray[numpy.datetime64]: ...
    def envelope(self, channel: int, columns: int = 1000, first: int = 0,
                 count: Optional[int] = None) -> Tuple[_Float64, _Float64]: ...
    def minmax(self, channel: int, first: int = 0, count: Optional[int] = None) -> Tuple[float, float]: ...

def open(files: Union[_Path, Iterable[_Path]]) -> Record: ...
def save(path: _Path, channels: Union[Sequence[numpy.typing.ArrayLike], numpy.typing.NDArray[Any]],
         clock_divider: int = 1, trigger_channel: int = 0, trigger_type: int = 255, threshold: float = 0.0,
         display_mode: int = 0) -> None: ...
def simulator_path() -> str: ...
def loggers(driver: Optional[_Path] = None, simulator: bool = False) -> List[int]: ...

class Acquisition:
    channels: _Float64
    clock_divider: int
    trigger_channel: int
    trigger_type: int
    threshold: float
    @property
    def count(self) -> int: ...
    def save(self, path: _Path) -> None: ...

def acquire(count: int = 10000, clock: str = "10kHz", trigger: Optional[str] = None, serial: Optional[int] = None,
            driver: Optional[_Path] = None, simulator: bool = False) -> Acquisition: ...

class Block(NamedTuple):
    first: int
    samples: _Float64

def record_blocks(prefix: _Path, clock: str = "10kHz", samples: Optional[int] = None, duration: Optional[str] = None,
                  split: int = 1000000, trigger: Optional[str] = None, serial: Optional[int] = None,
                  overwrite: bool = False, driver: Optional[_Path] = None,
                  simulator: bool = False) -> Generator[Block, None, Dict[str, int]]: ...
def record(prefix: _Path, clock: str = "10kHz", samples: Optional[int] = None, duration: Optional[str] = None,
           split: int = 1000000, trigger: Optional[str] = None, serial: Optional[int] = None, overwrite: bool = False,
           driver: Optional[_Path] = None, simulator: bool = False,
           callback: Optional[Callable[[Block], Any]] = None) -> Dict[str, int]: ...
