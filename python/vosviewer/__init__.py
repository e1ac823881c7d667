"""VOS Viewer's recordings and loggers from Python and numpy.

Open DLF files and recorded series, read their samples as numpy arrays, take
the min/max envelope the window draws, save records, and acquire or record
from a logger (or the simulated one) as vosctl does. Everything runs on the
same C++ core as the window and vosctl.

    >>> import vosviewer
    >>> night = vosviewer.open("night")           # night-000001.dlf, ...
    >>> ch0 = night.read(0)                        # float64 volts
    >>> low, high = night.envelope(0, columns=1000)
    >>> run = vosviewer.acquire(count=1000, simulator=True)

Failures raise vosviewer.VosFileError, VosDeviceError or VosUsageError,
each with the program's own message and an English gloss.
"""

import collections
import dataclasses
import datetime
import os
import typing

from vosviewer.errors import VosDeviceError, VosError, VosFileError, VosUsageError
from vosviewer import _vosviewer as _core
from vosviewer._vosviewer import Record

Record.__module__ = __name__

__all__ = [
    "open", "save", "loggers", "acquire", "record", "record_blocks", "simulator_path",
    "Record", "Stamp", "Acquisition", "Block",
    "VosError", "VosFileError", "VosDeviceError", "VosUsageError",
    "DLF_MAX_SAMPLE_COUNT",
]

DLF_MAX_SAMPLE_COUNT = _core.DLF_MAX_SAMPLE_COUNT


@dataclasses.dataclass(frozen=True)
class Stamp:
    """Where and when a recorded file belongs."""

    start: datetime.datetime
    """UTC of the file's first sample."""
    identity: str
    """The recording's identity, 32 hexadecimal digits, shared by all its files."""
    index: int
    """The file's number in its series: 1 for PREFIX-000001.dlf."""
    first_sample: int
    """Samples per channel recorded before this file."""


def _paths(files) -> typing.List[str]:
    if isinstance(files, (str, bytes, os.PathLike)):
        files = [files]
    return [os.fsdecode(f) for f in files]


def open(files) -> Record:  # noqa: A001 - the module's one way in, as vosviewer.open
    """Open one DLF file, a list of files, or a recorded series by its prefix.

    files: a path, a prefix (``"night"`` for night-000001.dlf, night-000002.dlf,
    ...), or a list of either. The files must form one record, as for
    ``vosctl csv``: the same clock, and recorded files of one recording in
    order without a gap or repeat. Raises VosFileError naming the two files
    that do not belong together, a missing file or a bad one, and
    VosUsageError for a name that is both a file and a prefix.
    """
    return _core._open(_paths(files))


def save(path, channels, clock_divider: int = 1, trigger_channel: int = 0, trigger_type: int = 255,
         threshold: float = 0.0, display_mode: int = 0) -> None:
    """Save four channels (volts) and their settings as a DLF data file.

    channels: four one-dimensional arrays of one length, 1 to
    DLF_MAX_SAMPLE_COUNT samples (a 4 x N array serves). The file is written
    as the window saves it: an existing file is replaced only once the new one
    is complete on disk, and a file in use is refused.
    """
    _core._save(os.fsdecode(path), list(channels), clock_divider, trigger_channel, trigger_type, threshold,
                display_mode)


def _in_build_tree() -> bool:
    here = os.path.dirname(os.path.abspath(__file__))
    return os.path.isfile(os.path.join(here, "..", "..", "CMakeCache.txt"))


def simulator_path() -> str:
    """The simulated logger's driver library: the one built beside this module
    in a build tree, else the installed one (package vosviewer-sim)."""
    if _in_build_tree():
        here = os.path.dirname(os.path.abspath(__file__))
        return os.path.normpath(os.path.join(here, "..", "..", "sim", "libftd2xx.so"))
    return _core.SIMULATOR_INSTALLED


def _driver(driver, simulator: bool) -> str:
    if simulator and driver is not None:
        raise VosUsageError("パラメータが不正です", "give either driver or simulator=True, not both")
    if simulator:
        return simulator_path()
    return os.fsdecode(driver) if driver is not None else _core.DRIVER_LIBRARY


def loggers(driver=None, simulator: bool = False) -> typing.List[int]:
    """Serial numbers of the attached loggers, in the order Search lists them.

    driver: the D2XX library to load (default libftd2xx.so on the library
    path); simulator=True loads the simulated logger's.
    """
    return _core._loggers(_driver(driver, simulator))


@dataclasses.dataclass
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


def acquire(count: int = 10000, clock: str = "10kHz", trigger: typing.Optional[str] = None,
            serial: typing.Optional[int] = None, driver=None, simulator: bool = False) -> Acquisition:
    """Run one acquisition as Start (and ``vosctl acquire``) does.

    count: Sampling Count, 1 to 1000000. clock: a Sampling Clock entry,
    "10kHz" to "1Hz". trigger: "CH:TYPE:VOLTS" as vosctl takes it, e.g.
    "CH0:Level-H:2.5", or None. serial: the logger (None: the one Search
    selects, the last one listed, as vosctl takes it).
    Ctrl-C stops the run as Stop does and raises KeyboardInterrupt once the
    logger is closed; its ``acquisition`` holds the samples stored until then
    (None when there were none). Raises VosUsageError for a setting vosctl
    refuses and VosDeviceError for the driver or the logger. The GIL is
    released while the logger runs.
    """
    try:
        kept = _core._acquire(_driver(driver, simulator), clock, count, trigger, serial)
    except KeyboardInterrupt as interrupt:
        stored = getattr(interrupt, "acquisition", None)
        interrupt.acquisition = Acquisition(*stored) if stored is not None else None
        raise
    return Acquisition(*kept)


Block = collections.namedtuple("Block", ["first", "samples"])
Block.__doc__ = """Samples of a recording as they are stored: `samples` is a 4 x n float64
array (volts), its first column sample `first` of the recording."""


def _recording(prefix, clock, samples, duration, split, trigger, serial, overwrite, driver, simulator, blocks):
    return _core._Recording(_driver(driver, simulator), os.fsdecode(prefix), clock, samples, duration, split, trigger,
                            serial, overwrite, blocks)


def record_blocks(prefix, clock: str = "10kHz", samples: typing.Optional[int] = None,
                  duration: typing.Optional[str] = None, split: int = DLF_MAX_SAMPLE_COUNT,
                  trigger: typing.Optional[str] = None, serial: typing.Optional[int] = None, overwrite: bool = False,
                  driver=None, simulator: bool = False) -> typing.Iterator[Block]:
    """Record to PREFIX-000001.dlf, PREFIX-000002.dlf, ... as ``vosctl record``
    does, yielding the samples as they are stored (Block).

    The files hold every sample whatever the loop does; a loop that falls far
    behind misses blocks (counted in the result's "blocks_missed"). Ending the
    loop early (break) stops the recording and completes its files. Ctrl-C
    stops it too, completes the files and raises KeyboardInterrupt. Without
    samples or duration the recording runs until stopped. A working file of
    a killed run is recovered with ``vosctl recover PREFIX``.
    The generator's return value is the result dict of record().
    """
    run = _recording(prefix, clock, samples, duration, split, trigger, serial, overwrite, driver, simulator, True)
    try:
        while True:
            block = run.next_block()
            if block is None:
                break
            yield Block(*block)
    finally:
        run.stop()
        result = run.finish()
    return result


def record(prefix, clock: str = "10kHz", samples: typing.Optional[int] = None,
           duration: typing.Optional[str] = None, split: int = DLF_MAX_SAMPLE_COUNT,
           trigger: typing.Optional[str] = None, serial: typing.Optional[int] = None, overwrite: bool = False,
           driver=None, simulator: bool = False,
           callback: typing.Optional[typing.Callable[[Block], typing.Any]] = None) -> typing.Dict[str, int]:
    """Record to PREFIX-000001.dlf, PREFIX-000002.dlf, ... as ``vosctl record`` does.

    clock, trigger and serial as for acquire(); samples: samples per channel
    to record, or duration: "90s", "15m", "8h", "1h30m" (neither: until
    Ctrl-C). split: samples per file, 1000 to 1000000. overwrite: replace an
    existing series of the prefix, as --overwrite does; otherwise a prefix
    that holds data is refused. callback(block) is called with each Block as
    it is stored. Ctrl-C stops the recording, completes its files and raises
    KeyboardInterrupt. Returns a dict: samples, files, samples_in_files,
    gaps, lost_samples, blocks_missed.
    """
    if callback is None:
        run = _recording(prefix, clock, samples, duration, split, trigger, serial, overwrite, driver, simulator, False)
        return run.finish()
    blocks = record_blocks(prefix, clock, samples, duration, split, trigger, serial, overwrite, driver, simulator)
    while True:
        try:
            block = next(blocks)
        except StopIteration as end:
            return end.value
        try:
            callback(block)
        except BaseException:
            blocks.close()
            raise
