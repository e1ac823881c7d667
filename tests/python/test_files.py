"""vosviewer's files and series against files written byte by byte from the
layout and by vosctl, read back both ways."""
import datetime
import math
import os
import re
import struct
import subprocess
import sys
import textwrap

import numpy
import pytest

import vosviewer
from conftest import dlf_bytes, vosctl, write_dlf

IDENTITY = bytes(range(16))
# 2026-12-08T04:30:00.250000Z
START = 1796704200250000


def channels_of(count, base=0.0):
    return [[base + c + k / 1000.0 for k in range(count)] for c in range(4)]


def test_a_file_from_the_layout_reads_back_bit_for_bit(tmp_path):
    samples = channels_of(5)
    # Values whose bits a conversion would change: a NaN payload, -0.0, a subnormal, infinities.
    samples[1] = [struct.unpack("<d", bytes.fromhex("0100000000f8ff7f"))[0], -0.0, 5e-324, math.inf, -math.inf]
    path = write_dlf(tmp_path / "a.dlf", samples, clock_divider=10, trigger_channel=2, trigger_type=1,
                     threshold=2.5, display_mode=1, stamp=(START, IDENTITY, 3, 2000))
    record = vosviewer.open(path)
    assert (record.files, record.count, record.clock_divider, record.sample_period) == ([path], 5, 10, 0.001)
    # A (channels, samples) array of volts, as numpy has one.
    assert (record.shape, len(record), record.ndim, record.size, record.dtype) == ((4, 5), 4, 2, 20, numpy.float64)
    assert (record.trigger_channel, record.trigger_type, record.threshold, record.display_mode) == (2, 1, 2.5, 1)
    assert record.stamp == vosviewer.Stamp(datetime.datetime(2026, 12, 8, 4, 30, 0, 250000, datetime.timezone.utc),
                                           "000102030405060708090a0b0c0d0e0f", 3, 2000)
    raw = open(path, "rb").read()
    for channel in range(4):
        assert record.read(channel).tobytes() == raw[256 + channel * 40:256 + (channel + 1) * 40]
    assert record.read(1, 1, 2).tobytes() == bytes.fromhex("0000000000000080" "0100000000000000")
    assert record.read(0).dtype == numpy.float64
    # One sample every 1 ms from the stamp's start.
    assert record.times(3).tolist() == [datetime.datetime(2026, 12, 8, 4, 30, 0, 253000),
                                        datetime.datetime(2026, 12, 8, 4, 30, 0, 254000)]
    assert record.times().dtype == numpy.dtype("datetime64[us]")


CUT_SHORT_WHILE_OPEN = """
    import os, numpy, vosviewer
    vosviewer.save("cut.dlf", numpy.ones((4, 100000)))
    record = vosviewer.open("cut.dlf")
    kept = record.read(3, 99990)
    os.truncate("cut.dlf", 256 + 8 * 1000)
    for read in (lambda: record.read(3), lambda: record[:, :], lambda: record[2, 5000]):
        try:
            read()
        except vosviewer.VosFileError as error:
            print(type(error).__name__, error.errno, os.path.basename(error.filename), "changed or shrank" in str(error))
    print(kept.tolist() == [1.0] * 10, record[0, :3].tolist())
    """


def test_reads_are_arrays_of_their_own_and_a_file_cut_short_is_a_file_error(tmp_path, series):
    path = write_dlf(tmp_path / "a.dlf", channels_of(4))
    # For a single file and a series alike: a new writable array, which nothing else changes.
    for record in (vosviewer.open(path), vosviewer.open(series)):
        view = record.read(2, 0, 4)
        assert view.flags.writeable
        view[0] = 99.0
        assert record.read(2, 0, 1)[0] != 99.0
    record = vosviewer.open(path)
    kept = record.read(2)
    vosviewer.save(path, numpy.zeros((4, 4)))
    assert kept.tolist() == [2.0, 2.001, 2.002, 2.003]
    assert vosviewer.open(path).read(2).tolist() == [0.0] * 4
    # Cut short in place while open, in a process of its own, since the fault it guards against ends the
    # interpreter (SIGBUS): each read of the lost part is a VosFileError naming the file.
    result = subprocess.run([sys.executable, "-c", textwrap.dedent(CUT_SHORT_WHILE_OPEN)], cwd=tmp_path,
                            capture_output=True, text=True, timeout=60)
    assert (result.returncode, result.stdout) == (0, "VosFileError None cut.dlf True\n" * 3 + "True [1.0, 1.0, 1.0]\n"), \
        result.stderr


def test_save_writes_the_layout_and_vosctl_reads_it(tmp_path):
    path = str(tmp_path / "saved.dlf")
    samples = numpy.array(channels_of(3, base=1.0))
    vosviewer.save(path, samples, clock_divider=100, trigger_channel=3, trigger_type=2, threshold=-1.25)
    assert open(path, "rb").read() == dlf_bytes(samples.tolist(), clock_divider=100, trigger_channel=3,
                                                trigger_type=2, threshold=-1.25)
    csv = vosctl("csv", path, "-o", "-").stdout.splitlines()
    assert len(csv) >= 3
    assert [float(v) for v in csv[-1].split(",")[-4:]] == [1.002, 2.002, 3.002, 4.002]
    # And back: what vosctl acquire wrote reads as its CSV says.
    vosctl("acquire", "--count", "20", "--clock", "1kHz", "-o", str(tmp_path / "acq.dlf"))
    rows = vosctl("csv", str(tmp_path / "acq.dlf"), "-o", "-").stdout.splitlines()[-20:]
    record = vosviewer.open(tmp_path / "acq.dlf")
    assert (record.count, record.clock_divider, record.stamp) == (20, 10, None)
    for channel in range(4):
        assert numpy.allclose(record.read(channel), [float(row.split(",")[-4 + channel]) for row in rows], atol=1e-5)


def test_save_refuses_what_no_file_may_hold_and_keeps_the_old_file(tmp_path):
    path = write_dlf(tmp_path / "keep.dlf", channels_of(2))
    before = open(path, "rb").read()
    cases = [
        ({"channels": numpy.zeros((4, 0))}, vosviewer.VosUsageError, "1 to 1000000 samples"),
        ({"channels": numpy.zeros((4, 1000001))}, vosviewer.VosUsageError, "not 1000001"),
        ({"channels": numpy.zeros((4, 2)), "clock_divider": 0}, vosviewer.VosUsageError, "clock divider 1 to 10000"),
        ({"channels": numpy.zeros((4, 2)), "trigger_type": 5}, vosviewer.VosUsageError, "trigger type"),
        ({"channels": numpy.zeros((3, 2))}, ValueError, r"a \(4, n\) array, one row per channel, not \(3, 2\)$"),
        ({"channels": [numpy.zeros(2)] * 3}, ValueError, "4 channels; 3 arrays"),
        ({"channels": [numpy.zeros(2)] * 3 + [numpy.zeros(3)]}, ValueError, "different lengths"),
        ({"channels": numpy.zeros((5, 4))}, ValueError, r"not \(5, 4\); its transpose \(.T\) has four rows"),
        ({"channels": numpy.zeros(8)}, ValueError, "not 1-dimensional"),
        ({"channels": 4.0}, TypeError, "not float"),
        ({"channels": numpy.zeros((4, 2)), "trigger_channel": 7}, vosviewer.VosUsageError, "trigger channel 7 does not"),
        ({"channels": numpy.zeros((4, 2)), "trigger_channel": -1}, vosviewer.VosUsageError, "trigger channel -1"),
        ({"channels": numpy.zeros((4, 2)), "clock_divider": "10"}, TypeError, "clock_divider must be an integer"),
    ]
    pandas = pytest.importorskip("pandas")
    cases.append(({"channels": pandas.DataFrame(numpy.zeros((2, 4)))}, TypeError, r"frame.to_numpy\(\).T"))
    for arguments, error, text in cases:
        with pytest.raises(error, match=text):
            vosviewer.save(path, **arguments)
        assert open(path, "rb").read() == before
    with pytest.raises(FileNotFoundError, match="no-such-folder") as missing:
        vosviewer.save(tmp_path / "no-such-folder" / "x.dlf", numpy.zeros((4, 2)))
    assert (missing.value.errno, missing.value.filename) == (2, str(tmp_path / "no-such-folder" / "x.dlf"))


@pytest.fixture(scope="module")
def series(tmp_path_factory):
    """A recording of 2,500 samples in three files, recorded by vosctl."""
    folder = tmp_path_factory.mktemp("series")
    vosctl("record", "--samples", "2500", "--split", "1000", "--clock", "1kHz", "-o", str(folder / "night"))
    return folder / "night"


def test_a_series_reads_as_one_record_across_its_boundaries(series):
    names = [f"{series}-00000{i}.dlf" for i in (1, 2, 3)]
    record = vosviewer.open(series)
    assert (record.files, record.count, record.file_first_samples, record.clock_divider) == (
        names, 2500, [0, 1000, 2000], 10)
    assert [s.index for s in record.file_stamps] == [1, 2, 3]
    assert [s.first_sample for s in record.file_stamps] == [0, 1000, 2000]
    assert len({s.identity for s in record.file_stamps}) == 1
    assert record.stamp == record.file_stamps[0]
    assert vosviewer.open(names).files == names
    for channel in range(4):
        raw = b"".join(open(name, "rb").read()[256 + channel * size * 8:256 + (channel + 1) * size * 8]
                       for name, size in zip(names, (1000, 1000, 500)))
        assert record.read(channel).tobytes() == raw
        assert record.read(channel, 990, 20).tobytes() == raw[990 * 8:1010 * 8]
    # Each file's times count from its own stamp, 1 ms apart.
    times = record.times(998, 4)
    second = numpy.datetime64(record.file_stamps[1].start.replace(tzinfo=None), "us")
    assert times[2] == second and times[3] == second + numpy.timedelta64(1000, "us")
    assert times[1] - times[0] == numpy.timedelta64(1000, "us")


def test_times_run_on_through_the_gaps_a_recording_noted(tmp_path):
    # At 1 kHz from 2025-12-06 05:46:40 UTC; 2.194 s lost before file 2 (sample 5000, 7.194 s
    # on) and 1.707 s before file 3 (sample 10000, 13.901 s on).
    names = [write_dlf(tmp_path / f"gaps-00000{i + 1}.dlf", channels_of(5000), clock_divider=10,
                       stamp=(1765000000000000 + first * 1000, IDENTITY, i + 1, first))
             for i, first in enumerate((0, 7194, 13901))]
    times = vosviewer.open(names).times()
    at = lambda second, micros: numpy.datetime64(datetime.datetime(2025, 12, 6, 5, 46, second, micros), "us")
    assert [times[s] for s in (4999, 5000, 11099, 14999)] == [at(44, 999000), at(47, 194000), at(55, 0),
                                                             at(58, 900000)]
    # A part by time as vosctl's --from/--to: real time, and a time inside a gap names the sample after it.
    record = vosviewer.open(names)
    utc = datetime.timezone.utc
    cases = [(("15s",), slice(11099, 15000)), (("5s", "8s"), slice(5000, 5806)), ((100, 200), slice(100, 200)),
             ((datetime.timedelta(seconds=15),), slice(11099, 15000)),
             ((datetime.datetime(2025, 12, 6, 5, 46, 55, tzinfo=utc), "2025-12-06T14:46:56+09:00"), slice(11099, 12099)),
             ((None, "250ms"), slice(0, 250))]
    for args, expected in cases:
        assert record.between(*args) == expected, args
    assert record[1, record.between("15s", "15.002s")].tolist() == record.read(1, 11099, 2).tolist()
    refused = [(("20s",), vosviewer.VosUsageError, "start 20s lies outside the record"),
               (("16s", "15s"), vosviewer.VosUsageError, "start 16s stop 15s selects no samples"),
               (("5ms1s",), vosviewer.VosUsageError, "start 5ms1s: "),
               ((datetime.datetime(2025, 12, 6, 5, 46, 55),), ValueError, "has no time zone"),
               ((-1,), ValueError, "start -1 is before the record's start")]
    for args, kind, text in refused:
        with pytest.raises(kind, match=re.escape(text)):
            record.between(*args)

def test_the_envelope_and_minmax_of_a_range(tmp_path, series):
    samples = [[0.5, 3.0, -2.0, 1.0, math.nan, 4.0, 2.0, 2.5], [1.0] * 8, [math.nan] * 8, [0.0] * 8]
    record = vosviewer.open(write_dlf(tmp_path / "e.dlf", samples))
    low, high = record.envelope(0, columns=4, drawn=True)
    # Two samples a column; drawn: NaN and values below -1 V count as -1 V, as the window draws them.
    assert (low.tolist(), high.tolist()) == ([0.5, -1.0, -1.0, 2.0], [3.0, 1.0, 4.0, 2.5])
    # Otherwise the values as they are, and a column holding a NaN is a gap in both.
    low, high = record.envelope(0, columns=4)
    assert (str(low.tolist()), str(high.tolist())) == ("[0.5, -2.0, nan, 2.0]", "[3.0, 1.0, nan, 2.5]")
    # Never more columns than samples: one sample a column.
    assert [a.tolist() for a in record.envelope(0, columns=100, drawn=True)] == [
        [0.5, 3.0, -1.0, 1.0, -1.0, 4.0, 2.0, 2.5]] * 2
    assert [a.tolist() for a in record.envelope(0, 2, first=1, count=4, drawn=True)] == [[-1.0, -1.0], [3.0, 1.0]]
    assert record.minmax(0) == (-2.0, 4.0)
    assert record.minmax(0, 3, 2) == (1.0, 1.0)
    assert numpy.isnan(record.minmax(2)).all()
    # A series' envelope per column is the extremes of its samples there.
    night = vosviewer.open(series)
    low, high = night.envelope(1, columns=7)
    values = numpy.maximum(night.read(1), -1.0)
    edges = [2500 * c // 7 for c in range(8)]
    assert low.tolist() == [values[a:b].min() for a, b in zip(edges, edges[1:])]
    assert high.tolist() == [values[a:b].max() for a, b in zip(edges, edges[1:])]
    assert night.minmax(3, 990, 20) == (night.read(3, 990, 20).min(), night.read(3, 990, 20).max())


def test_the_statistics_of_a_range(tmp_path, series):
    samples = [[0.5, 3.0, -2.0, 1.0, math.nan, 4.0, 2.0, 2.5], [1.0] * 8, [math.nan] * 8, [0.0] * 8]
    record = vosviewer.open(write_dlf(tmp_path / "s.dlf", samples))
    s = record.statistics(0)
    # Seven numbers summing to 11 with squares summing to 40.5; the NaN counted apart.
    assert (s["count"], s["nan_count"], s["minimum"], s["minimum_at"], s["maximum"], s["maximum_at"],
            s["peak_to_peak"]) == (8, 1, -2.0, 2, 4.0, 5, 6.0)
    assert s["mean"] == pytest.approx(11 / 7, rel=1e-15)
    assert s["rms"] == pytest.approx(math.sqrt(40.5 / 7), rel=1e-15)
    assert s["standard_deviation"] == pytest.approx(math.sqrt(40.5 / 7 - (11 / 7) ** 2), rel=1e-14)
    part = record.statistics(0, 3, 2)
    assert (part["count"], part["minimum"], part["maximum"], part["minimum_at"]) == (2, 1.0, 1.0, 3)
    # No number in the range: no extremes, and no position of one (as vosctl info --json: null).
    for (channel, first, count), total, nans in [((2, 0, None), 8, 8), ((0, 4, 1), 1, 1), ((0, 3, 0), 0, 0)]:
        empty = record.statistics(channel, first, count)
        assert (empty["count"], empty["nan_count"], empty["minimum_at"], empty["maximum_at"]) == (
            total, nans, None, None), (channel, first, count)
        assert all(math.isnan(empty[k]) for k in ("minimum", "maximum", "mean", "rms", "peak_to_peak"))
    # Across a series' file boundary, against numpy over the same samples.
    night = vosviewer.open(series)
    values = night.read(1, 700, 1200)
    s = night.statistics(1, 700, 1200)
    assert (s["minimum"], s["maximum"]) == (values.min(), values.max())
    assert s["mean"] == pytest.approx(values.mean(), rel=1e-12)
    assert s["standard_deviation"] == pytest.approx(values.std(), rel=1e-12)
    with pytest.raises(IndexError):
        night.statistics(1, 2000, 600)


def test_a_summary_build_is_told_to_progress_and_stopped_by_its_callback(tmp_path):
    path = write_dlf(tmp_path / "p.dlf", channels_of(3000))

    def refuse(done, total):
        raise RuntimeError(f"stopped at {done} of {total}")

    with pytest.raises(RuntimeError, match="stopped at .* of 3000"):
        vosviewer.open(path).statistics(0, progress=refuse)
    # A build is told of up to its end, whether made or taken from the cache.
    calls = []
    record = vosviewer.open(path)
    assert record.minmax(1, progress=lambda done, total: calls.append((done, total))) == (1.0, 3.999)
    assert calls[-1] == (3000, 3000) and calls == sorted(calls)
    calls.clear()
    record.envelope(1, progress=lambda done, total: calls.append((done, total)))
    assert calls == []


def test_infinities_and_huge_numbers_give_numpys_statistics(tmp_path):
    # The record of tests/record/extreme_record.h, whose statistics the window and vosctl show alike:
    # numpy's (nanmean, nanstd, the root of nanmean(x**2)), the finite ones in extended precision.
    inf, nan = math.inf, math.nan
    samples = [[inf if i == 4321 else (i % 100) * 0.01 for i in range(10000)],
               [1e300 if i % 2 == 0 else -1e300 for i in range(10000)],
               [1e305] * 10000,
               [nan if i < 5000 else -inf if i == 5000 else inf if i == 7000 else 1.0 for i in range(10000)]]
    record = vosviewer.open(write_dlf(tmp_path / "extreme.dlf", samples))
    keys = ("mean", "rms", "standard_deviation", "minimum", "minimum_at", "maximum", "maximum_at", "peak_to_peak",
            "nan_count")
    expected = [(inf, inf, nan, 0.0, 0, inf, 4321, inf, 0),
                (0.0, 1e300, 1e300, -1e300, 1, 1e300, 0, 2e300, 0),
                (1e305, 1e305, 0.0, 1e305, 0, 1e305, 0, 0.0, 0),
                (nan, inf, nan, -inf, 5000, inf, 7000, inf, 5000)]
    for channel, values in enumerate(expected):
        s = record.statistics(channel)
        for key, value in zip(keys, values):
            assert s[key] == pytest.approx(value, rel=1e-14, nan_ok=True), (channel, key)
    only_nan = record.statistics(3, 0, 5000)
    assert (only_nan["count"], only_nan["nan_count"]) == (5000, 5000) and math.isnan(only_nan["mean"])


def test_ranges_channels_and_types_outside_the_record_are_refused(tmp_path):
    record = vosviewer.open(write_dlf(tmp_path / "r.dlf", channels_of(10)))
    frozen = numpy.zeros(10)
    frozen.flags.writeable = False
    cases = [
        (lambda: record.read(4), IndexError, "channel 4 does not exist"),
        (lambda: record.read(-1), IndexError, "channel -1 does not exist"),
        (lambda: record.read(0, -1), IndexError, "first sample -1 is before the record's start"),
        (lambda: record.read(0, 11), IndexError, "first sample 11 is past"),
        (lambda: record.read(0, 5, 6), IndexError, "6 samples from 5 run past"),
        (lambda: record.read(0, 0, -1), ValueError, "count must be 0 or more"),
        (lambda: record.minmax(0, 0, 11), IndexError, "run past"),
        (lambda: record.times(4, 7), IndexError, "run past"),
        (lambda: record.envelope(0, 10, 3, 8), IndexError, "run past"),
        (lambda: record.envelope(0, columns=0), ValueError, "columns must be at least 1"),
        (lambda: record.iter_chunks(0), ValueError, "size must be at least 1"),
        (lambda: record.read("0"), TypeError, "channel must be an integer, not str"),
        (lambda: record.read(0, 1.5), TypeError, "first must be an integer, not float"),
        (lambda: record.statistics(True), TypeError, "channel must be an integer, not bool"),
        (lambda: record.read(0, out=[0.0] * 10), TypeError, "out must be a numpy float64 array"),
        (lambda: record.read(0, out=numpy.zeros(9)), ValueError, r"out holds \(9,\) samples; 10 are read"),
        (lambda: record.read(0, out=numpy.zeros(20)[::2]), ValueError, "out must be a writable C-contiguous"),
        (lambda: record.read(0, out=frozen), ValueError, "out must be a writable C-contiguous"),
        (lambda: record[4, 0], IndexError, "index 4 is out of bounds for axis 0 with size 4"),
        (lambda: record[0, -11], IndexError, "index -11 is out of bounds for axis 1 with size 10"),
        (lambda: record[0, 0, 0], IndexError, "too many indices"),
        (lambda: record[..., ...], IndexError, "single ellipsis"),
        (lambda: record["a"], IndexError, "only integers, slices"),
        (lambda: vosviewer.open(3), TypeError, "files must be a name"),
        (lambda: vosviewer.open([b"a", 3]), TypeError, "a file name must be str, bytes or os.PathLike, not int"),
    ]
    for call, error, text in cases:
        with pytest.raises(error, match=text) as caught:
            next(call()) if text.startswith("size") else call()
        assert "overload" not in str(caught.value) and "_vosviewer" not in str(caught.value)
    assert record.read(0, 10).size == 0
    out = numpy.full(3, 7.0)
    assert record.read(1, 2, 3, out=out) is out and out.tolist() == [1.002, 1.003, 1.004]
    with record:
        pass
    assert record.closed and repr(record) == "<vosviewer.Record closed>"
    with pytest.raises(ValueError, match="the record is closed"):
        record.read(0)


# Index forms and what numpy gives for them on the same (4, 10) array.
INDEX_FORMS = [
    (1, slice(2, 5)), (slice(None), slice(2, 5)), (slice(None), slice(None)), (-1, -1), (0, 3), (2,),
    (slice(None), -3), (slice(1, 3), slice(-4, None)), (3, slice(None, None, -1)), (slice(None), slice(8, 1, -3)),
    (slice(None, None, 2), slice(1, None, 4)), (slice(None, None, -1), slice(-2, -9, -2)), (0, slice(5, 2)),
    (Ellipsis,), (Ellipsis, 4), (1, Ellipsis), (slice(None), slice(100, 200)), (slice(-10, 10), slice(-100, 3)),
    (numpy.int64(2), numpy.int32(-2)), (2, slice(-4, None)), (1, slice(-100, 3)), (3, slice(4, 400)),
]


@pytest.mark.parametrize("key", INDEX_FORMS, ids=[repr(k) for k in INDEX_FORMS])
def test_indexing_is_numpys(tmp_path, key):
    samples = numpy.arange(40, dtype=numpy.float64).reshape(4, 10) * 0.5
    record = vosviewer.open(write_dlf(tmp_path / "i.dlf", samples.tolist()))
    expected = samples[key if len(key) > 1 else key[0]]
    got = record[key if len(key) > 1 else key[0]]
    assert numpy.shape(got) == numpy.shape(expected)
    assert numpy.asarray(got).tolist() == numpy.asarray(expected).tolist()


def test_the_array_face_of_a_series(series):
    record = vosviewer.open(series)
    whole = numpy.asarray(record)
    assert (whole.shape, whole.dtype) == ((4, 2500), numpy.float64)
    for channel in range(4):
        assert whole[channel].tobytes() == record.read(channel).tobytes()
    # Across both file boundaries with a step, and backwards.
    assert record[:, 995:2010:7].tobytes() == whole[:, 995:2010:7].tobytes()
    assert record[1, 2005:990:-3].tobytes() == whole[1, 2005:990:-3].tobytes()
    assert numpy.array(record, dtype=numpy.float32).dtype == numpy.float32
    assert [c.tolist() for c in record] == whole.tolist()
    chunks = list(record.iter_chunks(1000, first=500, count=1700))
    assert [(b.first, b.samples.shape) for b in chunks] == [(500, (4, 1000)), (1500, (4, 700))]
    assert numpy.concatenate([b.samples for b in chunks], axis=1).tobytes() == whole[:, 500:2200].tobytes()


def test_files_that_are_not_one_record_are_refused_by_name(tmp_path, series):
    names = [f"{series}-00000{i}.dlf" for i in (1, 2, 3)]
    other = tmp_path / "other"
    vosctl("record", "--samples", "1000", "--split", "1000", "--clock", "1kHz", "-o", str(other))
    fast = write_dlf(tmp_path / "fast.dlf", channels_of(3), clock_divider=1)
    bad = tmp_path / "bad.dlf"
    bad.write_bytes(b"\x01" * 300)
    short = tmp_path / "short.dlf"
    short.write_bytes(dlf_bytes(channels_of(3))[:-1])
    (tmp_path / "both-000001.dlf").write_bytes(open(names[0], "rb").read())
    both = write_dlf(tmp_path / "both", channels_of(2))
    cases = [
        ([names[1], names[0]], vosviewer.VosFileError, f"{names[1]} comes before {names[0]}"),
        ([names[0], names[0]], vosviewer.VosFileError, "is named twice"),
        ([names[0], names[2]], vosviewer.VosFileError, "^ファイルフォーマットエラーです .*000003.dlf .file 3 of recording .* does not follow .*000001.dlf"),
        ([names[0], f"{other}-000001.dlf"], vosviewer.VosFileError, "different recordings|two recordings"),
        ([fast, names[0]], vosviewer.VosFileError, "different clocks"),
        ([str(tmp_path / "missing.dlf")], vosviewer.VosFileError, "missing.dlf: cannot open the file: no such file"),
        ([str(bad)], vosviewer.VosFileError, "bad.dlf"),
        ([str(short)], vosviewer.VosFileError, "short.dlf"),
        ([both], vosviewer.VosUsageError, "is a file and also the prefix of the series"),
        ([], vosviewer.VosUsageError, "no file"),
    ]
    for files, error, text in cases:
        with pytest.raises(error, match=text) as caught:
            vosviewer.open(files)
        assert caught.value.message and caught.value.gloss, files
        assert str(caught.value) == f"{caught.value.message} ({caught.value.gloss})"


THREADS_SHARE_ONE_RECORD = """
    import threading, numpy, vosviewer
    # Long enough that its summaries take a while to build, while the other threads ask for them.
    samples = numpy.random.default_rng(5).uniform(0.0, 10.0, size=(4, 1000000))
    vosviewer.save("long.dlf", samples)
    record = vosviewer.open("long.dlf")
    start = threading.Barrier(8)
    results = {}

    def work(k):
        start.wait()
        results[k] = (record.envelope(k % 4, 10), record.minmax(k % 4, 990, 20))

    threads = [threading.Thread(target=work, args=(k,)) for k in range(8)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    for k in range(8):
        (low, high), extremes = results[k]
        edges = [100000 * c for c in range(11)]
        assert low.tolist() == [samples[k % 4][a:b].min() for a, b in zip(edges, edges[1:])]
        assert high.tolist() == [samples[k % 4][a:b].max() for a, b in zip(edges, edges[1:])]
        assert extremes == (samples[k % 4][990:1010].min(), samples[k % 4][990:1010].max())
    print("ok")
    """


def test_threads_share_one_record(tmp_path):
    # In a process of its own: threads that wait for each other for good end with it.
    result = subprocess.run([sys.executable, "-c", textwrap.dedent(THREADS_SHARE_ONE_RECORD)], cwd=tmp_path,
                            capture_output=True, text=True, timeout=60)
    assert (result.returncode, result.stdout) == (0, "ok\n"), result.stderr


def gapped_series(folder):
    """Two files of one recording at 1 kHz with 3 samples lost between them: 4 samples from START, then
    3 samples from START + 7 ms."""
    first = write_dlf(folder / "gap-000001.dlf", channels_of(4), clock_divider=10, stamp=(START, IDENTITY, 1, 0))
    second = write_dlf(folder / "gap-000002.dlf", channels_of(3, base=10.0), clock_divider=10,
                       stamp=(START + 7000, IDENTITY, 2, 7))
    return [first, second]


def test_a_gapped_series_keeps_its_times_in_gaps_pandas_and_xarray(tmp_path):
    files = gapped_series(tmp_path)
    record = vosviewer.open(tmp_path / "gap")
    utc = datetime.timezone.utc
    at = [datetime.datetime(2026, 12, 8, 4, 30, 0, 250000 + ms * 1000, utc) for ms in (0, 1, 2, 3, 7, 8, 9)]
    assert record.gaps == [vosviewer.Gap(4, at[3] + datetime.timedelta(milliseconds=1), at[4], 3)]
    assert record.attrs == {"clock_divider": 10, "sample_period": 0.001, "trigger_channel": 0, "trigger_type": 255,
                            "threshold": 0.0, "display_mode": 0, "start": at[0],
                            "identity": "000102030405060708090a0b0c0d0e0f", "files": files, "count": 7}
    pandas = pytest.importorskip("pandas")
    frame = record.to_pandas()
    assert list(frame.index) == [pandas.Timestamp(t) for t in at]
    assert str(frame.index.tz) == "UTC" and list(frame.columns) == ["ch0", "ch1", "ch2", "ch3"]
    assert frame["ch1"].tolist() == [1.0, 1.001, 1.002, 1.003, 11.0, 11.001, 11.002]
    assert frame.attrs["identity"] == "000102030405060708090a0b0c0d0e0f"
    part = record.to_pandas(3, 2)
    assert list(part.index) == [pandas.Timestamp(at[3]), pandas.Timestamp(at[4])]
    assert part["ch0"].tolist() == [0.003, 10.0]
    # A file without a stamp: time from its start.
    plain = vosviewer.open(write_dlf(tmp_path / "plain.dlf", channels_of(3), clock_divider=100))
    assert [str(t) for t in plain.to_pandas().index] == ["0 days 00:00:00", "0 days 00:00:00.010000",
                                                         "0 days 00:00:00.020000"]
    xarray = pytest.importorskip("xarray")
    array = record.to_xarray(2, 3)
    assert array.dims == ("channel", "time") and array.shape == (4, 3)
    assert [str(t) for t in array["time"].values] == ["2026-12-08T04:30:00.252000000", "2026-12-08T04:30:00.253000000",
                                                      "2026-12-08T04:30:00.257000000"]
    assert array.sel(channel=2).values.tolist() == [2.002, 2.003, 12.0]
    assert array.attrs["start"] == "2026-12-08T04:30:00.250000+00:00"
    assert isinstance(array, xarray.DataArray)


WITHOUT_XARRAY = """
    import sys
    sys.modules["xarray"] = None
    import numpy, vosviewer
    vosviewer.save("x.dlf", numpy.zeros((4, 2)))
    try:
        vosviewer.open("x.dlf").to_xarray()
    except ImportError as error:
        print(error)
    """


def test_errors_are_pythons(tmp_path, series):
    # A missing file is a FileNotFoundError, with errno and filename; a bad one an OSError without errno.
    missing = str(tmp_path / "missing.dlf")
    bad = tmp_path / "bad.dlf"
    bad.write_bytes(b"\x01" * 300)
    for name, error, number in [(missing, FileNotFoundError, 2), (str(bad), OSError, None),
                                (str(tmp_path), IsADirectoryError, 21)]:
        with pytest.raises(error) as caught:
            vosviewer.open(name)
        assert isinstance(caught.value, vosviewer.VosFileError)
        assert (caught.value.errno, caught.value.filename) == (number, name)
    # A file of a series cut short while open is named.
    copies = []
    for i in (1, 2, 3):
        copies.append(tmp_path / f"cut-00000{i}.dlf")
        copies[-1].write_bytes(open(f"{series}-00000{i}.dlf", "rb").read())
    record = vosviewer.open(tmp_path / "cut")
    os.truncate(copies[1], 1000)
    with pytest.raises(OSError, match="cut-000002.dlf: the file changed or shrank") as caught:
        record[:, :]
    assert caught.value.filename == str(copies[1])
    # Names as bytes that are not UTF-8, and as os.PathLike.
    name = os.fsencode(str(tmp_path)) + b"/caf\xe9.dlf"
    vosviewer.save(name, numpy.ones((4, 3)))
    assert vosviewer.open(name).files == [os.fsdecode(name)]
    assert vosviewer.open([os.fsdecode(name)])[1, 2] == 1.0
    result = subprocess.run([sys.executable, "-c", textwrap.dedent(WITHOUT_XARRAY)], cwd=tmp_path,
                            capture_output=True, text=True, timeout=60)
    assert result.stdout == ("Record.to_xarray() needs the package xarray, which is not installed: on Debian apt "
                             "install python3-xarray, elsewhere pip install xarray\n"), result.stderr


def test_the_module_is_a_good_python_citizen():
    names = {}
    exec("from vosviewer import *", names)
    assert "open" not in names and names["record"] is vosviewer.record
    assert vosviewer.__version__ == "3.3"
    assert [n for n in dir(vosviewer) if not n.startswith("_")] == sorted(vosviewer.__all__ + ["errors", "open"])
    assert [n for n in dir(vosviewer) if n.startswith("_") and not n.startswith("__")] == []
    import inspect
    assert str(inspect.signature(vosviewer.Record.read)) == (
        "(self, channel: int, first: int = 0, count: Optional[int] = None, *, "
        "out: Optional[numpy.ndarray] = None) -> numpy.ndarray")
