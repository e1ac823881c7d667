"""VOS Viewer's recordings and loggers from Python and numpy.

Open DLF files and recorded series, read their samples as numpy arrays, take
the min/max envelope the window draws, save records, and acquire or record
from a logger (or the simulated one) as vosctl does. Everything runs on the
same C++ core as the window and vosctl.

    >>> import vosviewer
    >>> night = vosviewer.open("night")           # night-000001.dlf, ... as a (4, count) array
    >>> hour = night[:, :36000]                    # float64 volts, read from the files that hold them
    >>> t = night.times(0, 36000)                  # UTC of each sample, right across gaps
    >>> low, high = night.envelope(0, columns=1000)
    >>> run = vosviewer.acquire(count=1000, simulator=True)

Failures raise vosviewer.VosFileError (an OSError), VosDeviceError or
VosUsageError (a ValueError), each with the program's own message and an
English gloss; an argument of a wrong type raises TypeError.
"""

import dataclasses as _dataclasses
import os as _os
import typing as _typing

from vosviewer.errors import (VosDeviceError, VosError, VosFileError, VosFileNotFoundError, VosIsADirectoryError,
                              VosPermissionError, VosUsageError)
from vosviewer import _vosviewer as _core
from vosviewer._record import Block, Gap, Record, Stamp, VosWorkingFileWarning
from vosviewer._record import file_name as _file_name, integer as _integer

for _class in (Record, Stamp, Block, Gap, VosWorkingFileWarning):
    _class.__module__ = __name__
del _class

__version__: str = _core.VERSION

# open is left out: `from vosviewer import *` must not replace the builtin open.
__all__ = [
    "save", "loggers", "acquire", "record", "record_blocks", "simulator_path",
    "Record", "Stamp", "Block", "Gap", "Acquisition", "RecordBlocks",
    "VosError", "VosFileError", "VosFileNotFoundError", "VosPermissionError", "VosIsADirectoryError",
    "VosDeviceError", "VosUsageError", "VosWorkingFileWarning", "DLF_MAX_SAMPLE_COUNT",
]


def __dir__():
    # The public names only: what the module is for, not how it is made.
    return sorted(__all__ + ["__version__", "errors", "open"])

DLF_MAX_SAMPLE_COUNT: int = _core.DLF_MAX_SAMPLE_COUNT


def open(files) -> Record:  # noqa: A001 - the module's one way in, as vosviewer.open
    """Open one DLF file, a list of files, or a recorded series by its prefix.

    files: a name (str, bytes or os.PathLike), a prefix (``"night"`` for
    night-000001.dlf, night-000002.dlf, ...), or a list of either. The
    files must form one record, as for ``vosctl csv``: the same clock, and
    recorded files of one recording in order without a gap or repeat.
    Raises VosFileError (VosFileNotFoundError for a missing file) naming
    the two files that do not belong together, a missing file or a bad
    one, and VosUsageError for a name that is both a file and a prefix.
    A prefix whose series has a working file (PREFIX-NNNNNN.vrec: a
    recording under way, or one killed) gives the completed files with a
    VosWorkingFileWarning naming it.
    A series of more files than the process may hold open is read holding
    a quarter of what it may, its soft limit on open files raised to the
    hard one (``ulimit -Hn``) for that.
    """
    return Record(files)


def save(path, channels, clock_divider: int = 1, trigger_channel: int = 0, trigger_type: int = 255,
         threshold: float = 0.0, display_mode: int = 0) -> None:
    """Save four channels (volts) and their settings as a DLF data file.

    channels: a (4, n) array, one row per channel (``frame.to_numpy().T``
    for a DataFrame of four columns), or four one-dimensional arrays of one
    length; 1 to DLF_MAX_SAMPLE_COUNT samples. The file is written as the
    window saves it: an existing file is replaced only once the new one is
    complete on disk, and a file in use is refused.
    """
    import numpy
    if hasattr(channels, "columns") and hasattr(channels, "index"):
        raise TypeError("channels is a table (a pandas DataFrame?): give its four columns as rows, "
                        "frame.to_numpy().T")
    if isinstance(channels, numpy.ndarray):
        if channels.ndim != 2:
            raise ValueError(f"channels must be a (4, n) array, one row per channel, not {channels.ndim}-dimensional")
        if channels.shape[0] != 4:
            hint = "; its transpose (.T) has four rows" if channels.shape[1] == 4 else ""
            raise ValueError(f"channels must be a (4, n) array, one row per channel, not {channels.shape}{hint}")
    elif isinstance(channels, (str, bytes)) or not hasattr(channels, "__iter__"):
        raise TypeError(f"channels must be a (4, n) array or four arrays, not {type(channels).__name__}")
    _core._save(_file_name(path, "path"), list(channels), _integer(clock_divider, "clock_divider"),
                _integer(trigger_channel, "trigger_channel"), _integer(trigger_type, "trigger_type"),
                float(threshold), _integer(display_mode, "display_mode"))


def _in_build_tree() -> bool:
    here = _os.path.dirname(_os.path.abspath(__file__))
    return _os.path.isfile(_os.path.join(here, "..", "..", "CMakeCache.txt"))


def simulator_path() -> str:
    """The simulated logger's driver library: the one built beside this module
    in a build tree, else the installed one (package vosviewer-sim)."""
    if _in_build_tree():
        here = _os.path.dirname(_os.path.abspath(__file__))
        return _os.path.normpath(_os.path.join(here, "..", "..", "sim", "libftd2xx.so"))
    return _core.SIMULATOR_INSTALLED


def _driver(driver, simulator: bool) -> bytes:
    if simulator and driver is not None:
        raise VosUsageError("パラメータが不正です", "give either driver or simulator=True, not both")
    if simulator:
        return _file_name(simulator_path())
    return _file_name(driver, "driver") if driver is not None else _file_name(_core.DRIVER_LIBRARY)


def _text(value, name: str) -> str:
    """A setting as vosctl's option text: str as it is, a whole number as its digits."""
    if isinstance(value, str):
        return value
    return str(_integer(value, name))


def _optional_text(value, name: str) -> _typing.Optional[str]:
    return None if value is None else _text(value, name)


def _clock_text(clock) -> str:
    """A clock as vosctl's --clock names it; a number is taken in Hz (1000 is "1kHz")."""
    if isinstance(clock, str):
        return clock
    hz = _integer(clock, "clock")
    return f"{hz // 1000}kHz" if hz >= 1000 and hz % 1000 == 0 else f"{hz}Hz"


def _duration_text(duration) -> _typing.Optional[str]:
    """A duration as vosctl's --duration takes it; a number or a timedelta in whole seconds."""
    import datetime
    if duration is None or isinstance(duration, str):
        return duration
    if isinstance(duration, datetime.timedelta):
        duration = duration.total_seconds()
    if isinstance(duration, float):
        return str(int(duration)) if duration.is_integer() else f"{duration}s"
    return _text(duration, "duration")


def loggers(driver=None, simulator: bool = False) -> _typing.List[int]:
    """Serial numbers of the attached loggers, in the order Search lists them.

    driver: the D2XX library to load (default libftd2xx.so on the library
    path); simulator=True loads the simulated logger's.
    """
    return _core._loggers(_driver(driver, simulator))


@_dataclasses.dataclass
class Acquisition:
    """One acquisition's record: samples in volts and the settings it ran with."""

    channels: "numpy.ndarray"
    """4 x count float64 array, one row per channel."""
    clock_divider: int
    trigger_channel: int
    trigger_type: int
    threshold: float

    @property
    def count(self) -> int:
        """Samples per channel."""
        return self.channels.shape[1]

    def save(self, path) -> None:
        """Save the record as a DLF data file, as vosctl acquire -o FILE.dlf does."""
        save(path, self.channels, self.clock_divider, self.trigger_channel, self.trigger_type, self.threshold)


def acquire(count: _typing.Union[int, str] = 10000, clock: _typing.Union[str, int] = "10kHz",
            trigger: _typing.Optional[str] = None, serial: _typing.Union[int, str, None] = None, driver=None,
            simulator: bool = False) -> Acquisition:
    """Run one acquisition as Start (and ``vosctl acquire``) does.

    count: Sampling Count, 1 to 1000000. clock: a Sampling Clock entry,
    "10kHz" to "1Hz", or its frequency in Hz (1000). trigger: "CH:TYPE:VOLTS"
    as vosctl takes it, e.g. "CH0:Level-H:2.5", or None. serial: the logger,
    as a number or its text (None: the one Search selects, the last one
    listed, as vosctl takes it).
    Ctrl-C stops the run as Stop does and raises KeyboardInterrupt once the
    logger is closed; its ``acquisition`` holds the samples stored until then
    (None when there were none). Raises VosUsageError with vosctl's reason
    for a setting vosctl refuses and VosDeviceError for the driver or the
    logger. The GIL is released while the logger runs.
    """
    if trigger is not None and not isinstance(trigger, str):
        raise TypeError(f"trigger must be a str such as \"CH0:Level-H:2.5\", not {type(trigger).__name__}")
    arguments = (_clock_text(clock), _text(count, "count"), trigger, _optional_text(serial, "serial"))
    try:
        kept = _core._acquire(_driver(driver, simulator), *arguments)
    except KeyboardInterrupt as interrupt:
        stored = getattr(interrupt, "acquisition", None)
        interrupt.acquisition = Acquisition(*stored) if stored is not None else None
        raise
    return Acquisition(*kept)


class RecordBlocks:
    """A recording under way, as record_blocks() starts it: an iterable of
    the Blocks it stores.

    ``for block in run:`` takes the blocks; leaving that loop in any way
    (break, an exception, its end) stops the recording, completes its files
    and frees the logger, whether or not ``run`` is kept. close() (or the
    end of ``with run:``) does the same at any time. ``result`` is then the
    dict record() returns (None until the recording has ended). next(run)
    takes one block without stopping anything when the caller stops.
    """

    def __init__(self, prefix, clock: _typing.Union[str, int] = "10kHz",
                 samples: _typing.Union[int, str, None] = None, duration=None,
                 split: _typing.Union[int, str] = DLF_MAX_SAMPLE_COUNT, trigger: _typing.Optional[str] = None,
                 serial: _typing.Union[int, str, None] = None, overwrite: bool = False, driver=None,
                 simulator: bool = False, *, _blocks: bool = True) -> None:
        self.result: _typing.Optional[_typing.Dict[str, int]] = None
        self._run = None
        if trigger is not None and not isinstance(trigger, str):
            raise TypeError(f"trigger must be a str such as \"CH0:Level-H:2.5\", not {type(trigger).__name__}")
        self._run = _core._Recording(_driver(driver, simulator), _file_name(prefix, "prefix"), _clock_text(clock),
                                     _optional_text(samples, "samples"), _duration_text(duration),
                                     _text(split, "split"), trigger, _optional_text(serial, "serial"),
                                     bool(overwrite), _blocks)

    def _take(self) -> _typing.Optional[Block]:
        if self._run is None:
            return None
        block = self._run.next_block()
        if block is None:
            self.close()
            return None
        return Block(*block)

    def __next__(self) -> Block:
        block = self._take()
        if block is None:
            raise StopIteration(self.result)
        return block

    def __iter__(self) -> _typing.Generator[Block, None, _typing.Optional[_typing.Dict[str, int]]]:
        # A generator of its own, held only by the loop: a loop left early
        # drops it, and its end stops the recording.
        try:
            while True:
                block = self._take()
                if block is None:
                    return self.result
                yield block
        finally:
            self.close()

    def close(self) -> None:
        """Stops the recording, completes its files and frees the logger;
        raises what the recording ended with (VosFileError, VosDeviceError)."""
        run, self._run = self._run, None
        if run is not None:
            run.stop()
            self.result = run.finish()

    def wait(self) -> _typing.Dict[str, int]:
        """Waits for the recording's end (its samples or duration; Ctrl-C
        stops it) and returns its result."""
        run, self._run = self._run, None
        if run is not None:
            self.result = run.finish()
        return self.result

    def __enter__(self) -> "RecordBlocks":
        return self

    def __exit__(self, *exception) -> None:
        self.close()


def record_blocks(prefix, clock: _typing.Union[str, int] = "10kHz", samples: _typing.Union[int, str, None] = None,
                  duration=None, split: _typing.Union[int, str] = DLF_MAX_SAMPLE_COUNT,
                  trigger: _typing.Optional[str] = None, serial: _typing.Union[int, str, None] = None,
                  overwrite: bool = False, driver=None, simulator: bool = False) -> RecordBlocks:
    """Record to PREFIX-000001.dlf, PREFIX-000002.dlf, ... as ``vosctl record``
    does, yielding the samples as they are stored (Block).

    Arguments as for record(), checked at the call, which starts the
    recording. The files hold every sample whatever the loop does; a loop
    that falls far behind misses blocks (counted in the result's
    "blocks_missed"). Leaving the loop early (break) stops the recording,
    completes its files and frees the logger, also when the returned
    RecordBlocks is kept in a variable. Ctrl-C stops it too, completes the
    files and raises KeyboardInterrupt. Without samples or duration the
    recording runs until stopped. A working file of a killed run is
    recovered with ``vosctl recover PREFIX``. The result dict of record()
    is the RecordBlocks' ``result`` once it has ended.
    """
    return RecordBlocks(prefix, clock, samples, duration, split, trigger, serial, overwrite, driver, simulator)


def record(prefix, clock: _typing.Union[str, int] = "10kHz", samples: _typing.Union[int, str, None] = None,
           duration=None, split: _typing.Union[int, str] = DLF_MAX_SAMPLE_COUNT,
           trigger: _typing.Optional[str] = None, serial: _typing.Union[int, str, None] = None,
           overwrite: bool = False, driver=None, simulator: bool = False,
           callback: _typing.Optional[_typing.Callable[[Block], _typing.Any]] = None) -> _typing.Dict[str, int]:
    """Record to PREFIX-000001.dlf, PREFIX-000002.dlf, ... as ``vosctl record`` does.

    clock, trigger and serial as for acquire(); samples: samples per channel
    to record, or duration: "90s", "15m", "8h", "1h30m" or seconds as a
    number (2) or a timedelta, as --duration takes it (neither: until
    Ctrl-C; both are refused, as vosctl refuses them). split: samples per
    file, 1000 to 1000000. overwrite: replace an existing series of the
    prefix, as --overwrite does; otherwise a prefix that holds data is
    refused. callback(block) is called with each Block as it is stored.
    Ctrl-C stops the recording, completes its files and raises
    KeyboardInterrupt. Returns a dict: samples, files, samples_in_files,
    gaps, lost_samples, blocks_missed.
    """
    run = RecordBlocks(prefix, clock, samples, duration, split, trigger, serial, overwrite, driver, simulator,
                       _blocks=callback is not None)
    if callback is None:
        return run.wait()
    with run:
        for block in run:
            callback(block)
    return run.result
