"""Shared helpers of the Python module's tests: the built vosctl, a DLF file
written byte by byte from its layout, and a summaries cache of the tests' own."""
import os
import struct
import subprocess
import sys
import tempfile

import pytest

# No test writes the user's summaries cache.
os.environ["XDG_CACHE_HOME"] = tempfile.mkdtemp(prefix="vos-python-cache-")

VOSCTL = os.environ.get("VOSCTL_PATH", "vosctl")
STAMP_TAG = b"VOSREC01"


def vosctl(*args, check=True, **kwargs):
    """Runs the built vosctl on the simulated driver; a run that hangs fails within a minute."""
    result = subprocess.run([VOSCTL, "--simulator", *args], capture_output=True, text=True, timeout=60, **kwargs)
    if check and result.returncode != 0:
        raise AssertionError(f"vosctl {' '.join(args)} ended with {result.returncode}: {result.stderr}")
    return result


def dlf_bytes(channels, clock_divider=1, trigger_channel=0, trigger_type=255, threshold=0.0, display_mode=0,
              stamp=None):
    """A DLF file's bytes from the layout: a 256-byte little-endian header,
    then each channel's samples as little-endian float64.
    stamp: (start_micros, identity 16 bytes, index, first_sample) or None."""
    count = len(channels[0])
    header = struct.pack("<iiIiidi", 1, clock_divider, count, trigger_channel, trigger_type, threshold, display_mode)
    assert len(header) == 32
    if stamp is not None:
        start, identity, index, first = stamp
        header += STAMP_TAG + struct.pack("<q", start) + identity + struct.pack("<QQ", index, first)
    header += bytes(256 - len(header))
    body = b"".join(struct.pack(f"<{count}d", *channel) for channel in channels)
    return header + body


def write_dlf(path, channels, **settings):
    with open(path, "wb") as f:
        f.write(dlf_bytes(channels, **settings))
    return str(path)


@pytest.fixture
def run_python(tmp_path):
    """Runs a Python snippet in a new interpreter with the built module."""
    def run(code, **kwargs):
        return subprocess.Popen([sys.executable, "-c", code], cwd=tmp_path, env=dict(os.environ), **kwargs)
    return run
