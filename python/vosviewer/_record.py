"""vosviewer.Record: a DLF file or a recorded series as a (4, count) float64
array read on demand, and its arguments' checks."""

import collections as _collections
import dataclasses as _dataclasses
import datetime as _datetime
import operator as _operator
import os as _os
import typing as _typing

import numpy as _numpy

from vosviewer import _vosviewer as _core  # type: ignore[attr-defined]

CHANNELS = 4
_UTC = _datetime.timezone.utc
_EPOCH = _datetime.datetime(1970, 1, 1, tzinfo=_UTC)
# Samples per channel read at a time for a strided selection.
_STRIDE_BLOCK = 1 << 20


def integer(value, name: str) -> int:
    """`value` as an int, as numpy takes an index; TypeError naming `name` otherwise."""
    if isinstance(value, bool):
        raise TypeError(f"{name} must be an integer, not bool")
    try:
        return _operator.index(value)
    except TypeError:
        raise TypeError(f"{name} must be an integer, not {type(value).__name__}") from None


def file_name(value, name: str = "a file name") -> bytes:
    """A name as the system takes it: str, bytes or os.PathLike, any bytes."""
    try:
        return _os.fsencode(value)
    except TypeError:
        raise TypeError(f"{name} must be str, bytes or os.PathLike, not {type(value).__name__}") from None


def file_names(files) -> _typing.List[bytes]:
    if isinstance(files, (str, bytes, _os.PathLike)):
        return [file_name(files)]
    try:
        items = list(files)
    except TypeError:
        raise TypeError("files must be a name (str, bytes or os.PathLike) or a list of names, not "
                        f"{type(files).__name__}") from None
    return [file_name(f) for f in items]


def utc(micros: int) -> _datetime.datetime:
    return _EPOCH + _datetime.timedelta(microseconds=micros)


@_dataclasses.dataclass(frozen=True)
class Stamp:
    """Where and when a recorded file belongs."""

    start: _datetime.datetime
    """UTC of the file's first sample."""
    identity: str
    """The recording's identity, 32 hexadecimal digits, shared by all its files."""
    index: int
    """The file's number in its series: 1 for PREFIX-000001.dlf."""
    first_sample: int
    """Samples per channel the recording had taken before this file, lost ones
    included: after a gap more than the file's position in a record
    (Record.file_first_samples), which counts only the samples in files."""


class VosWorkingFileWarning(UserWarning):
    """A series opened by its prefix has a working file, whose samples the record leaves out."""


class Block(_typing.NamedTuple):
    """Samples of a record or a recording: `samples` is a (4, n) float64 array
    (volts), its first column sample `first`."""

    first: int
    samples: _numpy.ndarray


class Gap(_typing.NamedTuple):
    """Samples a recording lost between two of its files."""

    sample: int
    """Index in the record of the first sample after the gap."""
    start: _datetime.datetime
    """UTC at which the first lost sample would have been taken."""
    end: _datetime.datetime
    """UTC of the first sample after the gap."""
    lost: int
    """Samples per channel lost."""


def _axis(index, size: int, axis: int) -> _typing.Tuple[range, bool]:
    """The positions an index names along an axis of `size`, as numpy takes
    them, and whether the index was a single one (which drops the axis)."""
    if isinstance(index, slice):
        return range(*index.indices(size)), False
    if isinstance(index, bool) or not hasattr(index, "__index__"):
        raise IndexError("only integers, slices (`:`) and ellipsis (`...`) index a record, not "
                         f"{type(index).__name__}")
    position = _operator.index(index)
    at = position + size if position < 0 else position
    if not 0 <= at < size:
        raise IndexError(f"index {position} is out of bounds for axis {axis} with size {size}")
    return range(at, at + 1), True


def _expand(key) -> tuple:
    """A key for the two axes (channel, sample), an ellipsis and missing ones filled with `:`."""
    if not isinstance(key, tuple):
        key = (key,)
    ellipses = [i for i, k in enumerate(key) if k is Ellipsis]
    if len(ellipses) > 1:
        raise IndexError("an index can only have a single ellipsis ('...')")
    if ellipses:
        i = ellipses[0]
        key = key[:i] + (slice(None),) * max(0, 2 - (len(key) - 1)) + key[i + 1:]
    if len(key) > 2:
        raise IndexError(f"too many indices for a record: it has 2 dimensions (channel, sample) but {len(key)} "
                         "were indexed")
    return key + (slice(None),) * (2 - len(key))


class Record:
    """One record: a DLF file, or the files of a series read as one, as a
    (4, count) float64 array of volts read from the files when indexed.

    Made by vosviewer.open(). Nothing but the headers is read at open, so a
    series of any length opens at once. ``rec[ch, a:b]`` gives one channel's
    samples, ``rec[:, a:b]`` a (4, n) array, with numpy's rules for negative
    indices and steps; every read gives a new, writable array that nothing
    else shares, for a single file and a series alike, and a file cut short
    or changed meanwhile raises VosFileError. ``len(rec)`` is 4, the first
    axis, as for any (4, n) array: the samples per channel are
    ``rec.count``. ``with vosviewer.open(p) as rec:`` closes the files at the
    end; a closed record raises ValueError.
    """

    __slots__ = ("_record", "__weakref__")

    def __init__(self, files) -> None:
        self._record = _core._Record(file_names(files))
        working = [_os.fsdecode(f) for f in self._record.working_files]
        if working:
            import warnings
            warnings.warn(f"{', '.join(working)}: not part of the record: a recording is still writing it, or "
                          "it ended without completing it (vosctl recover PREFIX completes it)", VosWorkingFileWarning,
                          stacklevel=3)

    # -- the file and its settings

    @property
    def _core(self):
        record = self._record
        if record is None:
            raise ValueError("the record is closed")
        return record

    @property
    def closed(self) -> bool:
        """True once close() was called."""
        return self._record is None

    def close(self) -> None:
        """Closes the record's files; a closed record raises ValueError. Arrays read stay."""
        self._record = None

    def __enter__(self) -> "Record":
        self._core
        return self

    def __exit__(self, *exception) -> None:
        self.close()

    @property
    def files(self) -> _typing.List[str]:
        """The files of the record, in order (names as os.fsdecode gives them)."""
        return [_os.fsdecode(f) for f in self._core.files]

    @property
    def count(self) -> int:
        """Samples per channel, over all files."""
        return self._core.count

    @property
    def shape(self) -> _typing.Tuple[int, int]:
        """(4, count): channels, samples per channel."""
        return (CHANNELS, self._core.count)

    @property
    def dtype(self) -> _numpy.dtype:
        """float64, volts."""
        return _numpy.dtype(_numpy.float64)

    @property
    def ndim(self) -> int:
        """2: channel, sample."""
        return 2

    @property
    def size(self) -> int:
        """Samples over all channels: 4 * count."""
        return CHANNELS * self._core.count

    def __len__(self) -> int:
        return CHANNELS

    @property
    def clock_divider(self) -> int:
        """Sample period in units of 100 us (1 is 10 kHz, 10000 is 1 Hz)."""
        return self._core.clock_divider

    @property
    def sample_period(self) -> float:
        """Sample period in seconds."""
        return self._core.clock_divider * 1e-4

    @property
    def trigger_channel(self) -> int:
        """Trigger channel, 0 to 3."""
        return self._core.trigger_channel

    @property
    def trigger_type(self) -> int:
        """Trigger type: 0 to 4, or 255 for no trigger."""
        return self._core.trigger_type

    @property
    def threshold(self) -> float:
        """Trigger threshold in volts."""
        return self._core.threshold

    @property
    def display_mode(self) -> int:
        """0: four panes, 1: overlaid."""
        return self._core.display_mode

    @property
    def stamp(self) -> _typing.Optional[Stamp]:
        """The recording stamp of the first file, or None for a file without one, such as the window's saves."""
        return self._core.file_stamps[0]

    @property
    def file_stamps(self) -> _typing.List[_typing.Optional[Stamp]]:
        """The stamp of each file (None where a file has none)."""
        return self._core.file_stamps

    @property
    def file_first_samples(self) -> _typing.List[int]:
        """Index in the record of the first sample of each file."""
        return self._core.file_first_samples

    @property
    def gaps(self) -> _typing.List[Gap]:
        """The gaps a recording noted between its files (samples lost on the
        link), in order. The record's samples run on across a gap without
        it: index them by times() to see it."""
        return [Gap(sample, utc(start), utc(end), lost) for sample, start, end, lost in self._core.gaps()]

    @property
    def attrs(self) -> _typing.Dict[str, _typing.Any]:
        """The settings and identity as one dict: clock_divider,
        sample_period, trigger_channel, trigger_type, threshold,
        display_mode, start (UTC of the first sample, or None), identity
        (the recording's, or None), files and count."""
        stamp = self.stamp
        return {
            "clock_divider": self.clock_divider, "sample_period": self.sample_period,
            "trigger_channel": self.trigger_channel, "trigger_type": self.trigger_type,
            "threshold": self.threshold, "display_mode": self.display_mode,
            "start": stamp.start if stamp else None, "identity": stamp.identity if stamp else None,
            "files": self.files, "count": self.count,
        }

    def __repr__(self) -> str:
        if self._record is None:
            return "<vosviewer.Record closed>"
        return (f"<vosviewer.Record {len(self._core.files)} file(s), {self.count} samples per channel, "
                f"clock divider {self.clock_divider}>")

    # -- samples

    def _part(self, first, count) -> _typing.Tuple[int, int]:
        """first and count checked: negative positions are refused (index the record to count from its end)."""
        first = integer(first, "first")
        if first < 0:
            raise IndexError(f"first sample {first} is before the record's start; rec[channel, {first}:] counts "
                             "from its end")
        total = self._core.count
        if count is None:
            return first, max(total - first, 0)
        count = integer(count, "count")
        if count < 0:
            raise ValueError(f"count must be 0 or more, not {count}")
        return first, count

    def _channel(self, channel) -> int:
        channel = integer(channel, "channel")
        if not 0 <= channel < CHANNELS:
            raise IndexError(f"channel {channel} does not exist; the channels are 0 to 3")
        return channel

    def read(self, channel: int, first: int = 0, count: _typing.Optional[int] = None, *,
             out: _typing.Optional[_numpy.ndarray] = None) -> _numpy.ndarray:
        """Samples of one channel as a float64 array in volts: `count`
        samples (None: to the end) from sample `first` on.

        A new array, or `out` (a writable C-contiguous float64 array of
        `count` samples) filled and returned. Raises IndexError for a
        channel or a range outside the record, VosFileError naming a file
        that changed or went away since it was opened.
        """
        channel = self._channel(channel)
        first, count = self._part(first, count)
        if out is None:
            return self._core.read([channel], first, count, None)[0]
        if not isinstance(out, _numpy.ndarray) or out.dtype != _numpy.float64:
            raise TypeError("out must be a numpy float64 array")
        if out.shape != (count,):
            raise ValueError(f"out holds {out.shape} samples; {count} are read")
        self._core.read([channel], first, count, out.reshape(1, count))
        return out

    def _strided(self, channels: _typing.List[int], first: int, count: int, step: int) -> _numpy.ndarray:
        if step == 1 or count <= 1:
            return self._core.read(channels, first, count, None)
        out = _numpy.empty((len(channels), count))
        per = max(1, _STRIDE_BLOCK // step)
        for done in range(0, count, per):
            taken = min(per, count - done)
            block = self._core.read(channels, first + done * step, (taken - 1) * step + 1, None)
            out[:, done:done + taken] = block[:, ::step]
        return out

    def __getitem__(self, key) -> _typing.Any:
        """rec[channel, sample] as numpy indexes a (4, count) array: integers
        (negative from the end), slices with any step, an ellipsis."""
        core = self._core
        # The common rec[ch, a:b] straight to the reader.
        if type(key) is tuple and len(key) == 2 and type(key[0]) is int and type(key[1]) is slice \
                and key[1].step is None and 0 <= key[0] < CHANNELS:
            start, stop, _ = key[1].indices(core.count)
            if stop > start:
                return core.read([key[0]], start, stop - start, None)[0]
        rows_key, samples_key = _expand(key)
        rows, one_row = _axis(rows_key, CHANNELS, 0)
        samples, one_sample = _axis(samples_key, core.count, 1)
        channels = list(rows)
        if len(samples) == 0:
            data = _numpy.empty((len(channels), 0))
        elif samples.step > 0:
            data = self._strided(channels, samples.start, len(samples), samples.step)
        else:
            data = self._strided(channels, samples[-1], len(samples), -samples.step)[:, ::-1]
        if one_row:
            data = data[0]
            return data[0] if one_sample else data
        return data[:, 0] if one_sample else data

    def __array__(self, dtype=None, copy=None) -> _numpy.ndarray:
        data = self[:, :]
        return data if dtype is None else data.astype(dtype, copy=False)

    def __iter__(self) -> _typing.Iterator[_numpy.ndarray]:
        for channel in range(CHANNELS):
            yield self.read(channel)

    def iter_chunks(self, size: int, first: int = 0, count: _typing.Optional[int] = None) -> _typing.Iterator[Block]:
        """The samples from `first` on (`count` of them; None: to the end) in
        Blocks of `size` samples per channel (the last one shorter): a
        record of any length in bounded memory."""
        size = integer(size, "size")
        if size < 1:
            raise ValueError(f"size must be at least 1, not {size}")
        first, count = self._part(first, count)
        if first + count > self._core.count:
            raise IndexError(f"{count} samples from {first} run past the record's {self._core.count} samples")
        for at in range(first, first + count, size):
            yield Block(at, self._core.read(list(range(CHANNELS)), at, min(size, first + count - at), None))

    def times(self, first: int = 0, count: _typing.Optional[int] = None) -> _numpy.ndarray:
        """UTC times of samples as a datetime64[us] array, from each file's
        recording stamp: right across a gap, where the samples' index is
        not. Samples of a file without a stamp are NaT."""
        first, count = self._part(first, count)
        return self._core.times(first, count)

    def between(self, start=None, stop=None) -> slice:
        """The samples from `start` up to `stop` (not included) as a slice,
        for rec[:, rec.between("90s", "2m")], read() or to_pandas().

        Each end as vosctl's --from and --to take it: a sample index, a time
        from the record's start ("90s", "1h30m", "250ms", or a timedelta),
        or a UTC time ("2026-12-08T02:00:00Z", "+09:00" offsets, or an aware
        datetime); None for the record's start or end. A time is real time,
        gaps included: one inside a gap names the first sample after it.
        Raises VosUsageError for a range outside the record or empty.
        """
        first, last = self._core.between(_range_bound(start, "start"), _range_bound(stop, "stop"))
        return slice(first, last)

    def envelope(self, channel: int, columns: int = 1000, first: int = 0, count: _typing.Optional[int] = None, *,
                 drawn: bool = False,
                 progress: _typing.Optional[_typing.Callable[[int, int], _typing.Any]] = None
                 ) -> _typing.Tuple[_numpy.ndarray, _numpy.ndarray]:
        """The min/max envelope of a range at `columns` columns: a tuple (low, high) of float64 arrays.

        Column c covers samples first + count*c//columns up to the next
        column's first; never more columns than samples. A column holding a
        NaN (a missing sample) is NaN in both, which a plot leaves as a gap;
        drawn=True gives what the window draws instead (NaN and values below
        -1 V as -1 V). Read through the summaries the window uses, built
        once per record and kept in the user's summaries cache, so a whole
        night takes milliseconds once they exist; progress(done, total) is
        called while they are built, and Ctrl-C stops the build.
        """
        channel = self._channel(channel)
        columns = integer(columns, "columns")
        if columns < 1:
            raise ValueError(f"columns must be at least 1, not {columns}")
        first, count = self._part(first, count)
        return self._core.envelope(channel, columns, first, count, bool(drawn), progress)

    def statistics(self, channel: int, first: int = 0, count: _typing.Optional[int] = None, *,
                   progress: _typing.Optional[_typing.Callable[[int, int], _typing.Any]] = None
                   ) -> _typing.Dict[str, _typing.Any]:
        """The statistics of a range as ``vosctl info --from/--to`` gives them.

        A dict of count, nan_count, minimum and minimum_at, maximum and
        maximum_at (the first sample holding each, as an index into the
        record), mean, rms, standard_deviation (over the numbers) and
        peak_to_peak. NaN samples are counted and otherwise left out; with
        no number in the range the values are nan and the positions None.
        Infinite samples count as numpy counts them (the mean infinite, nan
        for both signs; rms inf; standard_deviation nan), and finite ones of
        any size give finite results. Taken from the summaries (see envelope() for progress) and raw
        samples only at the range's ends, so a night costs what a second
        does.
        """
        channel = self._channel(channel)
        first, count = self._part(first, count)
        return self._core.statistics(channel, first, count, progress)

    def minmax(self, channel: int, first: int = 0, count: _typing.Optional[int] = None, *,
               progress: _typing.Optional[_typing.Callable[[int, int], _typing.Any]] = None
               ) -> _typing.Tuple[float, float]:
        """The smallest and largest sample of a range as a tuple (min, max);
        NaN samples are skipped, (nan, nan) when the range holds no number.
        From the summaries, as statistics()."""
        s = self.statistics(channel, first, count, progress=progress)
        return (s["minimum"], s["maximum"])

    # -- pandas and xarray

    def _time_axis(self, first: int, count: int):
        """UTC times (datetime64[ns]) when the first file is stamped, else time from the start
        (timedelta64[ns]): nanoseconds, which pandas and xarray hold, made without a second copy."""
        if self.stamp is not None:
            ticks = self._core.times(first, count).view(_numpy.int64)
            missing = ticks == _numpy.iinfo(_numpy.int64).min
            ticks *= 1000
            ticks[missing] = _numpy.iinfo(_numpy.int64).min
            return ticks.view("datetime64[ns]"), True
        period = self._core.clock_divider * 100_000
        return (_numpy.arange(first, first + count, dtype=_numpy.int64) * period).view("timedelta64[ns]"), False

    def to_pandas(self, first: int = 0, count: _typing.Optional[int] = None):
        """A pandas.DataFrame of the four channels (columns ch0 .. ch3) for
        `count` samples from `first` (None: to the end), indexed by UTC
        (a DatetimeIndex in UTC, right across gaps) or, for a record without
        a stamp, by time from its start (a TimedeltaIndex). The samples are
        read once, into the frame's own storage; attrs holds the record's
        attrs."""
        pandas = _optional("pandas", "to_pandas", "python3-pandas")
        first, count = self._part(first, count)
        data = self._core.read(list(range(CHANNELS)), first, count, None)
        axis, stamped = self._time_axis(first, count)
        index = _utc_index(pandas, axis) if stamped else pandas.TimedeltaIndex(axis, name="time")
        frame = pandas.DataFrame(data.T, index=index, columns=[f"ch{c}" for c in range(CHANNELS)], copy=False)
        frame.attrs.update(self.attrs)
        return frame

    def to_xarray(self, first: int = 0, count: _typing.Optional[int] = None):
        """An xarray.DataArray of dimensions (channel, time) for `count`
        samples from `first`, its time coordinate as for to_pandas() (UTC
        as datetime64 without a zone, or time from the start); attrs holds
        the record's attrs. Needs the package xarray."""
        xarray = _optional("xarray", "to_xarray", "python3-xarray")
        first, count = self._part(first, count)
        data = self._core.read(list(range(CHANNELS)), first, count, None)
        axis, _ = self._time_axis(first, count)
        attrs = {k: (v.isoformat() if isinstance(v, _datetime.datetime) else v) for k, v in self.attrs.items()
                 if v is not None}
        return xarray.DataArray(data, dims=("channel", "time"),
                                coords={"channel": list(range(CHANNELS)), "time": axis}, name="volts", attrs=attrs)


def _range_bound(value, name: str) -> str:
    """One end of between() as vosctl's --from/--to text ("" for none)."""
    if value is None:
        return ""
    if isinstance(value, _datetime.datetime):
        if value.tzinfo is None:
            raise ValueError(f"{name} {value} has no time zone: give an aware datetime, e.g. with tzinfo=timezone.utc")
        return value.astimezone(_datetime.timezone.utc).strftime("%Y-%m-%dT%H:%M:%S.%fZ")
    if isinstance(value, _datetime.timedelta):
        micros = value // _datetime.timedelta(microseconds=1)
        if micros < 0:
            raise ValueError(f"{name} {value} is before the record's start")
        return f"{micros}us"
    if isinstance(value, str):
        return value
    first = integer(value, name)
    if first < 0:
        raise ValueError(f"{name} {first} is before the record's start")
    return str(first)


def _utc_index(pandas, times: _numpy.ndarray):
    """A UTC DatetimeIndex over `times` (datetime64[ns]) without a copy."""
    import warnings
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", FutureWarning)
        values = pandas.arrays.DatetimeArray(times, dtype=pandas.DatetimeTZDtype(tz="UTC"))
    return pandas.DatetimeIndex(values, name="time")


def _optional(module: str, method: str, debian: str):
    import importlib
    try:
        return importlib.import_module(module)
    except ImportError as missing:
        raise ImportError(f"Record.{method}() needs the package {module}, which is not installed: on Debian "
                          f"apt install {debian}, elsewhere pip install {module}") from missing
