#!/usr/bin/env python3
"""vosviewer's reading and envelope of a long series, as ratios against
baselines measured in the same run:

- reading one channel of the whole series into numpy (Record.read) against
  `cat` of the series' files, numpy.fromfile of the raw channel blocks, and
  pandas.read_csv of the same samples as CSV (measured on the first file's
  rows and scaled per sample, when pandas is installed);
- the envelope of one channel at 1,000 columns (Record.envelope, its summaries
  cached) against the window's full-view redraw envelopes (bench_python_envelope:
  four channels at 1,000 columns through the same summaries, without painting).

Writes the series (32 bytes a sample) under $TMPDIR and removes it again.

    PYTHONPATH=build/python python3 bench/python/python_bench.py --samples 100000000 \\
        --envelope build/bench/python/bench_python_envelope
"""
import argparse
import os
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
        print(f"series: {options.samples:,} samples per channel in {len(paths)} files, {size / 1e9:.2f} GB")
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
        try:
            import pandas
            csv = os.path.join(folder, "first.csv")
            numpy.savetxt(csv, vosviewer.open(paths[0]).read(0), fmt="%.5f")
            per_sample = median_seconds(lambda: pandas.read_csv(csv, header=None), runs=3) / counts[0]
            print(f"pandas.read_csv, scaled          {per_sample * options.samples:9.3f} s  "
                  f"(vosviewer read = {read / (per_sample * options.samples):.3f} x of it)")
        except ImportError:
            print("pandas.read_csv                  not measured: pandas is not installed (python3-pandas)")

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
