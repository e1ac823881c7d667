"""vosviewer's logger functions on the simulated driver, against vosctl on
the same simulated logger."""
import getpass
import glob
import os
import re
import signal
import subprocess
import sys
import textwrap
import time
import warnings

import numpy
import pytest

import vosviewer
from conftest import vosctl

# Loggers whose samples depend on nothing but their number; the second one, which Search
# selects, is the one a run takes when none is named.
STEADY = "pace instant\ndevice serial=30001\nchannel 0 dc offset=1\n" \
         "device serial=30002\nchannel 0 sawtooth freq=7 amp=4 offset=5\n" \
         "channel 1 sine freq=3 amp=2 offset=3\nchannel 2 square freq=5 amp=1 offset=1\nchannel 3 dc offset=2.5\n"


@pytest.fixture
def simulated(tmp_path, monkeypatch):
    """Sets the simulated bus for this test's processes."""
    def configure(text):
        path = tmp_path / "sim.conf"
        path.write_text(text)
        monkeypatch.setenv("VOS_SIM_CONFIG", str(path))
    return configure


def python(code, cwd, timeout=60):
    result = subprocess.run([sys.executable, "-c", textwrap.dedent(code)], cwd=cwd, capture_output=True, text=True,
                            timeout=timeout)
    assert result.returncode == 0, result.stderr
    return result


def test_loggers_lists_what_vosctl_lists():
    assert vosviewer.loggers(simulator=True) == [16001, 12001]
    assert vosviewer.loggers(driver=vosviewer.simulator_path()) == [16001, 12001]
    assert vosctl("list").stdout == "16001\n12001\n"


def test_an_acquisition_equals_vosctl_acquire_sample_for_sample(tmp_path, simulated):
    simulated(STEADY)
    vosctl("acquire", "--count", "1000", "--clock", "1kHz", "--trigger", "CH0:Level-H:6", "-o", "vosctl.dlf",
           cwd=tmp_path)
    python("""
        import vosviewer
        run = vosviewer.acquire(count=1000, clock="1kHz", trigger="CH0:Level-H:6", simulator=True)
        assert run.channels.shape == (4, 1000) and run.count == 1000, run.channels.shape
        assert (run.clock_divider, run.trigger_channel, run.trigger_type, run.threshold) == (10, 0, 0, 6.0)
        run.save("python.dlf")
        """, tmp_path)
    assert (tmp_path / "python.dlf").read_bytes() == (tmp_path / "vosctl.dlf").read_bytes()
    record = vosviewer.open(tmp_path / "python.dlf")
    assert numpy.allclose(record.read(3), 2.5, atol=1e-3)


def test_refused_settings_and_a_missing_driver_raise(tmp_path):
    cases = [
        (dict(clock="3kHz", simulator=True), vosviewer.VosUsageError, "clock"),
        (dict(count=0, simulator=True), vosviewer.VosUsageError, "count"),
        (dict(count=1000001, simulator=True), vosviewer.VosUsageError, "count"),
        (dict(trigger="CH9:Level-H:1", simulator=True), vosviewer.VosUsageError, "trigger"),
        (dict(serial=0, simulator=True), vosviewer.VosUsageError, "serial"),
        (dict(driver=tmp_path / "none.so"), vosviewer.VosDeviceError, "none.so"),
        (dict(driver="x.so", simulator=True), vosviewer.VosUsageError, "either driver"),
        (dict(serial=99999, count=10, simulator=True), vosviewer.VosDeviceError, "."),
        # Numbers and texts as vosctl takes them, refused with vosctl's reason.
        (dict(clock=3000, simulator=True), vosviewer.VosUsageError, '"3kHz" is not one of 10kHz, 5kHz'),
        (dict(count="many", simulator=True), vosviewer.VosUsageError, "count: "),
        (dict(serial="abc", simulator=True), vosviewer.VosUsageError, '"abc" is not a serial number'),
        (dict(clock=1.5, simulator=True), TypeError, "clock must be an integer, not float"),
        (dict(trigger=5, simulator=True), TypeError, "trigger must be a str"),
        (dict(driver=5), TypeError, "driver must be str, bytes or os.PathLike, not int"),
    ]
    for arguments, error, text in cases:
        with pytest.raises(error, match=text):
            vosviewer.acquire(**arguments)
    with pytest.raises(vosviewer.VosDeviceError, match="none.so"):
        vosviewer.loggers(driver=tmp_path / "none.so")
    # A recording's arguments are checked at the call, before any block is asked for; nothing is written.
    cases = [
        (dict(samples=1000, duration="5s"), vosviewer.VosUsageError, "duration excludes samples"),
        (dict(clock="3kHz"), vosviewer.VosUsageError, "clock"),
        (dict(split=10), vosviewer.VosUsageError, "split: "),
        (dict(samples=0), vosviewer.VosUsageError, "samples: "),
        (dict(duration="2.5s"), vosviewer.VosUsageError, '"2.5s" is not a duration'),
        (dict(duration=[1]), TypeError, "duration must be an integer"),
    ]
    for start in (vosviewer.record_blocks, vosviewer.record):
        for arguments, error, text in cases:
            with pytest.raises(error, match=text):
                start(tmp_path / "refused", simulator=True, **arguments)
    assert os.listdir(tmp_path) == []


def test_settings_as_numbers_as_vosctl_takes_them(tmp_path, simulated):
    simulated(STEADY)
    run = vosviewer.acquire(count="100", clock=1000, serial="30002", simulator=True)
    assert (run.count, run.clock_divider) == (100, 10)
    result = vosviewer.record(tmp_path / "two", clock=1000, duration=2, split=1000, simulator=True)
    assert (result["samples"], result["files"]) == (2000, 2)


def test_a_recording_gives_its_files_and_the_same_samples_as_blocks(tmp_path, simulated):
    simulated(STEADY)
    prefix = tmp_path / "run"
    blocks = []
    result = vosviewer.record(prefix, clock="1kHz", samples=2500, split=1000, simulator=True, callback=blocks.append)
    assert (result["samples"], result["files"], result["samples_in_files"], result["gaps"]) == (2500, 3, 2500, 0)
    assert sorted(os.path.basename(p) for p in glob.glob(f"{prefix}*")) == [
        "run-000001.dlf", "run-000002.dlf", "run-000003.dlf"]
    record = vosviewer.open(prefix)
    assert (record.count, record.clock_divider, record.file_first_samples) == (2500, 10, [0, 1000, 2000])
    assert result["blocks_missed"] == 0
    assert [b.first for b in blocks] == sorted(b.first for b in blocks) and blocks[0].first == 0
    joined = numpy.concatenate([b.samples for b in blocks], axis=1)
    assert joined.shape == (4, 2500)
    for channel in range(4):
        assert joined[channel].tobytes() == record.read(channel).tobytes()
    # A prefix that holds data is refused unless overwrite is asked for; the files stay.
    before = (tmp_path / "run-000001.dlf").read_bytes()
    with pytest.raises(vosviewer.VosError, match="run"):
        vosviewer.record(prefix, samples=1000, simulator=True)
    assert (tmp_path / "run-000001.dlf").read_bytes() == before
    again = vosviewer.record(prefix, samples=1000, split=1000, overwrite=True, simulator=True)
    assert again["files"] == 1 and not os.path.exists(tmp_path / "run-000002.dlf")
    # A loop left early stops the recording, completes its files and frees the logger and the prefix, also
    # when the iterable is kept, as in a notebook.
    for kept in (False, True):
        taken = 0
        run = vosviewer.record_blocks(tmp_path / "it", clock="1kHz", overwrite=True, simulator=True)
        for block in run:
            if taken == 0 and not kept:
                # A second recording of the prefix in this process is refused while the first runs.
                held = f"is being recorded by a running process (pid {os.getpid()}, user {getpass.getuser()})"
                with pytest.raises(vosviewer.VosError, match=re.escape(held)):
                    next(iter(vosviewer.record_blocks(tmp_path / "it", clock="1kHz", overwrite=True,
                                                      simulator=True)))
            taken += block.samples.shape[1]
            if taken >= 3000:
                break
        if not kept:
            del run
        else:
            assert run.result["samples"] >= 3000 and run.result["files"] == 1
        assert vosviewer.open(tmp_path / "it").count >= 3000
    # The prefix and the logger are free while `run` still exists.
    assert vosviewer.record(tmp_path / "it", samples=1000, overwrite=True, simulator=True)["samples"] == 1000
    assert run.result["samples"] >= 3000
    # As a context manager, and taken with next() alone.
    with vosviewer.record_blocks(tmp_path / "ctx", clock="1kHz", simulator=True) as run:
        assert next(run).first == 0
    assert run.result is not None and vosviewer.open(tmp_path / "ctx").count >= 1


def wait_for(condition, seconds=30):
    deadline = time.monotonic() + seconds
    while not condition():
        assert time.monotonic() < deadline, "the recording did not get so far within the bound"
        time.sleep(0.05)


RECORD_UNTIL_STOPPED = """
    import sys, vosviewer
    print("started", flush=True)
    for block in vosviewer.record_blocks("run", clock="10kHz", split=1000, simulator=True):
        print(block.first + block.samples.shape[1], flush=True)
    """


ACQUIRE_FOR_A_MINUTE = """
    import vosviewer
    print("started", flush=True)
    try:
        vosviewer.acquire(count=600, clock="10Hz", simulator=True)
    except KeyboardInterrupt as stopped:
        run = stopped.acquisition
        print(run.count, run.channels.shape, run.clock_divider, flush=True)
        raise
    """


def test_ctrl_c_ends_a_run_as_sigint_ends_vosctl(tmp_path):
    def files_written():
        return len(glob.glob(str(tmp_path / "run-*.dlf"))) >= 2
    def kept_samples(output):
        # The samples stored before the signal, four rows of them, at 10 Hz.
        kept = re.fullmatch(r"(\d+) \(4, \1\) 1000\n", output)
        return kept is not None and int(kept.group(1)) >= 1
    # (snippet, what the run must reach before the signal, the call the traceback ends in, what it printed)
    cases = [
        (RECORD_UNTIL_STOPPED, files_written, "run.next_block()", lambda output: True),
        (ACQUIRE_FOR_A_MINUTE, lambda: True, "_core._acquire(", kept_samples),
    ]
    for code, reached, call, printed in cases:
        process = subprocess.Popen([sys.executable, "-c", textwrap.dedent(code)], cwd=tmp_path,
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        try:
            assert process.stdout.readline() == "started\n"
            wait_for(reached)
            # The run is under way, and has stored samples, once its logger has sent a while.
            time.sleep(2)
            process.send_signal(signal.SIGINT)
            stdout, stderr = process.communicate(timeout=30)
        finally:
            process.kill()
        assert printed(stdout.splitlines()[-1] + "\n" if stdout else ""), stdout
        # As vosctl ends on SIGINT: the interpreter ends as if by the signal, after its traceback.
        assert process.returncode == -signal.SIGINT and stderr.rstrip().endswith("KeyboardInterrupt"), stderr
        assert call in stderr, stderr
    # The recording's files are complete, none left half converted.
    assert not glob.glob(str(tmp_path / "run-*.vrec"))
    record = vosviewer.open(tmp_path / "run")
    assert record.count > 2000 and record.file_first_samples[:2] == [0, 1000]


def test_a_recording_of_a_killed_interpreter_is_recovered(tmp_path):
    process = subprocess.Popen([sys.executable, "-c", textwrap.dedent(RECORD_UNTIL_STOPPED)], cwd=tmp_path,
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    try:
        wait_for(lambda: len(glob.glob(str(tmp_path / "run-*.dlf"))) >= 2)
        process.kill()
        process.wait(timeout=30)
    finally:
        process.kill()
    assert process.returncode == -signal.SIGKILL
    working = sorted(glob.glob(str(tmp_path / "run-*.vrec")))
    assert working
    # Opened before its recovery: the completed files, and a warning naming what they leave out.
    with pytest.warns(vosviewer.VosWorkingFileWarning, match=f"^{re.escape(', '.join(working))}: not part of the record"):
        assert vosviewer.open(tmp_path / "run").count >= 2000
    vosctl("recover", str(tmp_path / "run"))
    assert not glob.glob(str(tmp_path / "run-*.vrec"))
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        record = vosviewer.open(tmp_path / "run")
    assert record.count > 2000 and record.file_first_samples[:2] == [0, 1000]
