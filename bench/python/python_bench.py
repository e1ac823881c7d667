#!/usr/bin/env python3
"""vosviewer's reading and envelope of a long series, as ratios against
baselines measured in the same run:

- reading one channel of the whole series into numpy (Record.read) against
  `cat` of the series' files, numpy.fromfile of the raw channel blocks, and
  pandas.read_csv of the same samples as CSV (measured on the first file's
  rows and scaled per sample, when pandas is installed);
- all four channels as one (4, n) array (record[:, :]) against `cat`, and
  against numpy.ones of the same shape (a new array's pages written once);
- to_pandas() of the whole series against pandas.DataFrame over the same
  numpy arrays already read, in time and in the memory each adds (tracemalloc);
- record[ch, a:b] of 100 samples on a single file and on the series;
- how long Ctrl-C (SIGINT) takes to stop a read of all channels and a first
  summary build;
- the envelope of one channel at 1,000 columns (Record.envelope, its summaries
  cached) against the window's full-view redraw envelopes (bench_python_envelope:
  four channels at 1,000 columns through the same summaries, without painting).

The machine's load (1-minute average) is printed with the figures.

Writes the series (32 bytes a sample) under $TMPDIR and removes it again.

    PYTHONPATH=build/python python3 bench/python/python_bench.py --samples 100000000 \\
        --envelope build/bench/python/bench_python_envelope
"""
import argparse
import os
import signal
import threading
import tracemalloc
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

import numpy

import vosviewer

PER_FILE = vosviewer.DLF_MAX_SAMPLE_COUNT


def median_seconds(call, runs=5):
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        call()
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def interrupt_after(call, seconds):
    """Seconds from SIGINT, sent `seconds` into call(), to its KeyboardInterrupt; None when it ended first."""
    sent = []
    timer = threading.Timer(seconds, lambda: (sent.append(time.perf_counter()), os.kill(os.getpid(), signal.SIGINT)))
    timer.start()
    try:
        call()
    except KeyboardInterrupt:
        return time.perf_counter() - sent[0]
    finally:
        timer.cancel()
    return None


def added_memory(call):
    """Peak bytes call() allocates, its result kept."""
    tracemalloc.start()
    try:
        kept = call()
        return tracemalloc.get_traced_memory()[1], kept
    finally:
        tracemalloc.stop()


def write_series(folder, samples):
    paths = []
    rng = numpy.random.default_rng(1)
    block = rng.uniform(0.0, 10.0, size=(4, PER_FILE))
    for index in range(1, (samples + PER_FILE - 1) // PER_FILE + 1):
        count = min(PER_FILE, samples - (index - 1) * PER_FILE)
        path = os.path.join(folder, f"night-{index:06d}.dlf")
        vosviewer.save(path, block[:, :count], clock_divider=1)
        paths.append(path)
    return paths


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--samples", type=int, default=100_000_000, help="samples per channel of the series")
    parser.add_argument("--envelope", help="the built bench_python_envelope, for the window's baseline")
    options = parser.parse_args()

    folder = tempfile.mkdtemp(prefix="vos-python-bench-")
    os.environ["XDG_CACHE_HOME"] = os.path.join(folder, "cache")
    try:
        paths = write_series(folder, options.samples)
        size = sum(os.path.getsize(p) for p in paths)
        print(f"series: {options.samples:,} samples per channel in {len(paths)} files, {size / 1e9:.2f} GB; "
              f"load {os.getloadavg()[0]:.2f} on {os.cpu_count()} cores")
        with open(os.devnull, "wb") as null:
            cat = median_seconds(lambda: subprocess.run(["cat", *paths], stdout=null, check=True))
        record = vosviewer.open(os.path.join(folder, "night"))
        read = median_seconds(lambda: record.read(0))
        counts = [vosviewer.open(p).count for p in paths]
        fromfile = median_seconds(lambda: numpy.concatenate(
            [numpy.fromfile(p, dtype="<f8", count=n, offset=256) for p, n in zip(paths, counts)]))
        print(f"cat of the files                 {cat:9.3f} s")
        print(f"numpy.fromfile of the channel    {fromfile:9.3f} s")
        print(f"vosviewer read of the channel    {read:9.3f} s  = {read / cat:.2f} x cat, "
              f"{read / fromfile:.2f} x numpy.fromfile")
        whole = median_seconds(lambda: record[:, :], runs=3)
        fill = median_seconds(lambda: numpy.ones((4, record.count)), runs=3)
        print(f"record[:, :], four channels      {whole:9.3f} s  = {whole / cat:.2f} x cat, "
              f"{whole / fill:.2f} x numpy.ones of its shape")
        single = vosviewer.open(paths[0])
        for name, opened in (("a file", single), ("the series", record)):
            middle = opened.count // 2
            one = median_seconds(lambda: [opened[1, middle:middle + 100] for _ in range(1000)], runs=5) / 1000
            print(f"record[ch, a:a+100] of {name:10s} {one * 1e6:9.2f} us")
        stopped = interrupt_after(lambda: record[:, :], min(0.5, whole / 3))
        print(f"Ctrl-C in record[:, :]           " + (f"{stopped * 1000:9.1f} ms" if stopped is not None else
                                                    "not measured: the read ended first"))
        stopped = interrupt_after(lambda: vosviewer.open(os.path.join(folder, "night")).envelope(0), 0.3)
        print(f"Ctrl-C in a first summary build  " + (f"{stopped * 1000:9.1f} ms" if stopped is not None else
                                                    "not measured: the build ended first"))
        try:
            import pandas
            csv = os.path.join(folder, "first.csv")
            numpy.savetxt(csv, vosviewer.open(paths[0]).read(0), fmt="%.5f")
            per_sample = median_seconds(lambda: pandas.read_csv(csv, header=None), runs=3) / counts[0]
            print(f"pandas.read_csv, scaled          {per_sample * options.samples:9.3f} s  "
                  f"(vosviewer read = {read / (per_sample * options.samples):.3f} x of it)")
            arrays = [record.read(c) for c in range(4)]
            by_hand = median_seconds(lambda: pandas.DataFrame(
                {f"ch{c}": a for c, a in enumerate(arrays)}, index=pandas.DatetimeIndex(record.times())), runs=3)
            ours = median_seconds(lambda: record.to_pandas(), runs=3)
            base_memory, _ = added_memory(lambda: pandas.DataFrame(
                {f"ch{c}": a for c, a in enumerate(arrays)}, index=pandas.DatetimeIndex(record.times())))
            del arrays
            memory, _ = added_memory(lambda: record.to_pandas())
            print(f"pandas.DataFrame over arrays     {by_hand:9.3f} s  {base_memory / 1e9:6.2f} GB")
            print(f"to_pandas()                      {ours:9.3f} s  {memory / 1e9:6.2f} GB  = {ours / by_hand:.2f} x "
                  f"the time, {memory / base_memory:.2f} x the memory (reading included)")
        except ImportError:
            print("pandas                           not measured: pandas is not installed (python3-pandas)")

        start = time.perf_counter()
        record.envelope(0, columns=1000)
        first = time.perf_counter() - start
        reopened = median_seconds(lambda: vosviewer.open(os.path.join(folder, "night")).envelope(0, columns=1000))
        again = median_seconds(lambda: record.envelope(0, columns=1000), runs=9)
        print(f"envelope, first (summarised)     {first:9.3f} s")
        print(f"envelope, opened again (cached)  {reopened * 1000:9.3f} ms")
        print(f"envelope, same record            {again * 1000:9.3f} ms")
        if options.envelope:
            window = float(subprocess.run([options.envelope, *paths], capture_output=True, text=True,
                                          check=True).stdout)
            print(f"window's full-view envelopes     {window * 1000:9.3f} ms  (four channels)")
            print(f"vosviewer envelope               {again / window:.2f} x the window's full-view redraw envelopes")
    finally:
        shutil.rmtree(folder)


if __name__ == "__main__":
    sys.exit(main())
