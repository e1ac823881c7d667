"""vosviewer's files and series against files written byte by byte from the
layout and by vosctl, read back both ways."""
import datetime
import math
import os
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
    assert (record.files, record.count, len(record), record.clock_divider, record.sample_period) == (
        [path], 5, 5, 10, 0.001)
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


def test_a_single_file_is_a_read_only_view_that_outlives_its_replacement(tmp_path):
    path = write_dlf(tmp_path / "a.dlf", channels_of(4))
    record = vosviewer.open(path)
    view = record.read(2)
    assert not view.flags.writeable
    with pytest.raises(ValueError):
        view[0] = 1.0
    # Saving over the file puts a new file in its place; the view keeps what was opened.
    vosviewer.save(path, numpy.zeros((4, 4)))
    assert view.tolist() == [2.0, 2.001, 2.002, 2.003]
    assert vosviewer.open(path).read(2).tolist() == [0.0] * 4


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
        ({"channels": numpy.zeros((3, 2))}, ValueError, "4 channels; 3 arrays"),
        ({"channels": [numpy.zeros(2)] * 3 + [numpy.zeros(3)]}, ValueError, "different lengths"),
    ]
    for arguments, error, text in cases:
        with pytest.raises(error, match=text):
            vosviewer.save(path, **arguments)
        assert open(path, "rb").read() == before
    with pytest.raises(vosviewer.VosFileError, match="no-such-folder"):
        vosviewer.save(tmp_path / "no-such-folder" / "x.dlf", numpy.zeros((4, 2)))


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

def test_the_envelope_and_minmax_of_a_range(tmp_path, series):
    samples = [[0.5, 3.0, -2.0, 1.0, math.nan, 4.0, 2.0, 2.5], [1.0] * 8, [math.nan] * 8, [0.0] * 8]
    record = vosviewer.open(write_dlf(tmp_path / "e.dlf", samples))
    low, high = record.envelope(0, columns=4)
    # Two samples a column; NaN and values below -1 V count as -1 V, as drawn.
    assert (low.tolist(), high.tolist()) == ([0.5, -1.0, -1.0, 2.0], [3.0, 1.0, 4.0, 2.5])
    # Never more columns than samples: one sample a column.
    assert [a.tolist() for a in record.envelope(0, columns=100)] == [[0.5, 3.0, -1.0, 1.0, -1.0, 4.0, 2.0, 2.5]] * 2
    assert [a.tolist() for a in record.envelope(0, 2, first=1, count=4)] == [[-1.0, -1.0], [3.0, 1.0]]
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
    empty = record.statistics(2)
    assert (empty["count"], empty["nan_count"]) == (8, 8) and math.isnan(empty["mean"])
    # Across a series' file boundary, against numpy over the same samples.
    night = vosviewer.open(series)
    values = night.read(1, 700, 1200)
    s = night.statistics(1, 700, 1200)
    assert (s["minimum"], s["maximum"]) == (values.min(), values.max())
    assert s["mean"] == pytest.approx(values.mean(), rel=1e-12)
    assert s["standard_deviation"] == pytest.approx(values.std(), rel=1e-12)
    with pytest.raises(IndexError):
        night.statistics(1, 2000, 600)


def test_ranges_and_channels_outside_the_record_are_refused(tmp_path):
    record = vosviewer.open(write_dlf(tmp_path / "r.dlf", channels_of(10)))
    for call in (lambda: record.read(4), lambda: record.read(-1), lambda: record.read(0, 11),
                 lambda: record.read(0, 5, 6), lambda: record.minmax(0, 0, 11), lambda: record.times(4, 7),
                 lambda: record.envelope(0, 10, 3, 8)):
        with pytest.raises(IndexError):
            call()
    with pytest.raises(ValueError, match="columns"):
        record.envelope(0, columns=0)
    assert record.read(0, 10).size == 0


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
