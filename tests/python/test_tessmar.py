"""The Python package against the command line: the same rows, values and times as its CSV
outputs, the program's error texts as exceptions, and the fleet example's outputs."""

import csv
import datetime
import math
import os
import pathlib
import subprocess
import sys
import threading
import time

import numpy as np
import pytest

from conftest import BUILD, CLI, DEMO_CONFIG, ROOT, run_cli, simulate

tessmar = pytest.importorskip("tessmar")


def read_csv(path):
    with open(path, newline="") as f:
        return list(csv.reader(f))


def test_signals_equal_the_csv_output_cell_by_cell(gps_recording, tmp_path):
    run_cli("--format", "csv", "--interval", "0.01", "--time1", "seconds", "--headlines", "1",
            "--gps-preset", "0", "--gps-columns", "after", "--outdir", tmp_path, gps_recording)
    lines = read_csv(tmp_path / "demo.csv")
    names, rows = lines[0], lines[1:]

    rec = tessmar.open_recording(gps_recording)
    assert rec.has_gps and rec.expressions
    df = rec.signals(interval=0.01)

    assert list(df.columns) == names[1:]
    assert len(df) == len(rows) > 1000
    assert {"PackPower", "SpeedMps"} <= set(df.columns)
    gps_columns = [c for c in df.columns if c not in rec.signals_logged + rec.expressions]
    assert gps_columns, "the GPS columns are missing"
    times = np.array([float(r[0]) for r in rows])
    np.testing.assert_array_equal(np.round(df.index.to_numpy(), 4), times)
    values = df.to_numpy()
    # GPS date and time columns hold seconds since 1970; the text shows the date or the time.
    shown = {"YYYY-MM-DD": "%Y-%m-%d", "hh:mm:ss": "%H:%M:%S"}
    units = [df.attrs["units"][name] for name in df.columns]
    epoch = datetime.datetime(1970, 1, 1)
    for i, row in enumerate(rows):
        for k, cell in enumerate(row[1:]):
            v = values[i, k]
            if cell == "-99999999":
                assert math.isnan(v), (i, names[k + 1])
            elif units[k] in shown:
                text = (epoch + datetime.timedelta(seconds=v)).strftime(shown[units[k]])
                assert text == cell, (i, names[k + 1])
            else:
                # The text carries the value to its printed digits.
                assert float(cell) == pytest.approx(v, rel=1e-6, abs=1e-9), (i, names[k + 1])


def test_frames_equal_the_messages_csv(gps_recording, tmp_path):
    run_cli("--output-type", "messages", "--format", "csv", "--time1", "seconds",
            "--headlines", "0", "--outdir", tmp_path, gps_recording)
    rows = [r for r in read_csv(tmp_path / "demo.csv") if r[1].startswith("0x")]
    frames = tessmar.open_recording(gps_recording).frames()
    assert len(frames) == len(rows) > 1000
    np.testing.assert_array_equal(np.round(frames["time"], 4), [float(r[0]) for r in rows])
    words = np.array([int(r[1], 16) for r in rows], dtype=np.uint32)
    np.testing.assert_array_equal(frames["id"], words & np.where(frames["extended"],
                                                                  0x1FFFFFFF, 0x7FF))
    for f, r in zip(frames[:500], rows[:500]):
        data = [int(b, 16) for b in r[2:10] if b]
        assert list(f["data"][: f["dlc"]]) == data


def test_convert_gives_the_command_lines_output(gps_recording, tmp_path):
    # The output name's extension chooses the format (Text), as on the command line.
    run_cli(gps_recording, tmp_path / "cli.txt", "--output-type", "messages", "--time1",
            "datetime-fraction", "--channel", "0x100", "--channel", "0x120")
    summary = tessmar.convert(gps_recording, output=tmp_path / "py.txt", output_type="messages",
                              time1="datetime-fraction", channel=["0x100", "0x120"])
    assert summary.ok and summary.outputs == [str(tmp_path / "py.txt")] and summary.rows > 100
    assert (tmp_path / "py.txt").read_bytes() == (tmp_path / "cli.txt").read_bytes()


def test_configurations_and_databases(tmp_path):
    protected = tmp_path / "protected.clc"
    run_cli("clc", "edit", ROOT / "examples" / "demo_logger.clc", "-o", protected,
            "--password", "secret")
    with pytest.raises(tessmar.BadOptionError, match=r'^Refused to load encrypted file ".*" \.$'):
        tessmar.read_config(protected, password="wrong")
    cfg = tessmar.read_config(protected, password="secret")
    assert cfg.protected and len(cfg.signals) == 23
    assert ("PackPower", "PackVoltage*PackCurrent/1000") in cfg.expressions
    tessmar.write_config(tmp_path / "copy.clc", cfg)
    assert (tmp_path / "copy.clc").read_bytes() == protected.read_bytes()

    table = tessmar.load_dbc(ROOT / "examples" / "demo_vehicle.dbc")
    assert len(table) > 20 and "TorqueRequest" in set(table["SigName"])
    with pytest.raises(tessmar.ReadError, match=r'^File not found: ".*nothing.dbc" \.$'):
        tessmar.load_dbc(tmp_path / "nothing.dbc")


def test_errors_raise_with_the_programs_text(tmp_path, gps_recording):
    with pytest.raises(tessmar.ReadError, match=r'^Error: Could not open ".*missing.cld"'):
        tessmar.open_recording(tmp_path / "missing.cld")
    text = tmp_path / "notes.cld"
    text.write_text("just text\n")
    with pytest.raises(tessmar.NotARecordingError,
                       match=r"^Error: Could not locate section BINARY_LOG_DATA \.$"):
        tessmar.open_recording(text)
    with pytest.raises(tessmar.BadOptionError,
                       match=r"^invalid value 'nope' for --format \(see --help\)$"):
        tessmar.convert(gps_recording, outdir=tmp_path, format="nope")
    with pytest.raises(tessmar.BadOptionError, match=r"^invalid value '9' for --headlines"):
        tessmar.convert(gps_recording, outdir=tmp_path, headlines=9)
    # A failed source of a run is in its summary and a warning, not an exception.
    with pytest.warns(tessmar.TessmarWarning, match="BINARY_LOG_DATA"):
        summary = tessmar.convert([text, gps_recording], outdir=tmp_path)
    assert (summary.converted, summary.outputs) == (1, [str(tmp_path / "demo.csv")])
    assert summary.errors >= 1 and not summary.ok


def test_progress_reports_and_aborts(gps_recording):
    seen = []

    def progress(percent, source):
        seen.append(percent)
        return percent < 40

    with pytest.raises(tessmar.TessmarError,
                       match=r"^User abort, output file may be incomplete$"):
        tessmar.open_recording(gps_recording).frames(progress=progress)
    assert seen == sorted(seen) and 40 <= seen[-1] < 100


def test_runs_on_several_threads_take_turns(gps_recording):
    rec = tessmar.open_recording(gps_recording)
    expected = rec.signals(interval=0.05)
    results = []

    def work():
        results.append(rec.signals(interval=0.05, progress=lambda percent, source: True))

    threads = [threading.Thread(target=work, daemon=True) for _ in range(3)]
    for t in threads:
        t.start()
    deadline = time.monotonic() + 60
    for t in threads:
        t.join(timeout=max(0.0, deadline - time.monotonic()))
    assert not any(t.is_alive() for t in threads), "the runs wait for each other forever"
    assert len(results) == 3 and all(r.equals(expected) for r in results)


def test_fleet_on_a_local_cluster_matches_the_command_line(tmp_path):
    pytest.importorskip("distributed")
    fleet = tmp_path / "fleet"
    for i in range(8):
        folder = fleet / f"car{i % 3}"
        folder.mkdir(parents=True, exist_ok=True)
        simulate(folder / f"LOG{i:04d}.cld", duration=8, seed=i + 1, gps=i % 2 == 0)
    out = tmp_path / "out"
    env = dict(os.environ, PYTHONPATH=str(BUILD / "python"))
    done = subprocess.run(
        [sys.executable, str(ROOT / "examples" / "fleet_convert.py"), str(fleet), str(out),
         "--workers", "2", "--format", "csv", "--option", "interval=0.05"],
        env=env, capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, done.stdout + done.stderr
    assert "8 converted, 0 skipped, 0 failed" in done.stdout
    summary = read_csv(out / "fleet_summary.csv")
    assert len(summary) == 9 and all(r[5] == "converted" for r in summary[1:])

    for src in sorted(fleet.rglob("*.cld")):
        rel = src.relative_to(fleet)
        expected = tmp_path / "cli" / rel.parent
        expected.mkdir(parents=True, exist_ok=True)
        run_cli("-j", "1", "--format", "csv", "--interval", "0.05", "--outdir", expected, src)
        produced = out / rel.with_suffix(".csv")
        assert produced.read_bytes() == (expected / produced.name).read_bytes(), rel

    # A second run skips the complete outputs.
    again = subprocess.run(
        [sys.executable, str(ROOT / "examples" / "fleet_convert.py"), str(fleet), str(out),
         "--workers", "1"], env=env, capture_output=True, text=True, timeout=300)
    assert "0 converted, 8 skipped, 0 failed" in again.stdout, again.stdout + again.stderr


def _runs(rec, pre_scan):
    """frames(), the Signals grid and the series of a recording through the compiled module,
    with the recording's kept pre-scan or without (a fresh one)."""
    core = tessmar._core
    frames = core.frames(rec.path, [], rec.entry_count, None, pre_scan)
    rows = int(rec.duration / 0.001) + 2  # a grid of megabytes: its pages are mapped ahead
    grid = core.signals_grid(rec.path, [("--interval", "0.001")], rows, None, pre_scan)
    series = core.signals_series(rec.path, [], None, pre_scan)
    return [frames[0].tobytes(), frames[1], grid[0].tobytes(), grid[1].tobytes(), grid[2:],
            [(t.tobytes(), v.tobytes()) for t, v in series[0]], series[1:]]


@pytest.mark.parametrize("faults", [
    [],
    ["bad-rtc", "counter-restart", "dummy-blocks"],
    ["wrap24", "truncated", "odd-entries"],
    ["fifo"],
])
def test_the_kept_pre_scan_gives_what_a_fresh_one_gives(tmp_path, faults):
    path = tmp_path / "rec.cld"
    args = ["simulate", DEMO_CONFIG, "-o", path, "--duration", 30, "--gps"]
    for fault in faults:
        args += ["--fifo-size", 200] if fault == "fifo" else ["--fault", fault]
    run_cli(*args, *([] if "fifo" in faults else ["--linear"]))
    rec = tessmar.open_recording(path)
    assert rec._pre_scan is not None
    kept, fresh = _runs(rec, rec._pre_scan), _runs(rec, None)
    for part, (a, b) in enumerate(zip(kept, fresh)):
        assert a == b, part


def test_a_changed_file_is_scanned_again(tmp_path):
    path, other = tmp_path / "rec.cld", tmp_path / "other.cld"
    simulate(path, duration=10, seed=1)
    simulate(other, duration=10, seed=2)
    rec = tessmar.open_recording(path)

    def scanned_again():
        # A pre-scan reports its own progress from 0 % before that of the conversion.
        seen = []
        rec.frames(progress=lambda percent, source: seen.append(percent))
        assert seen[-1] == 100
        return seen != sorted(seen)

    assert not scanned_again(), "the kept pre-scan was not taken"
    # Other contents (another size) under the same modification time.
    stat = path.stat()
    path.write_bytes(other.read_bytes())
    os.utime(path, ns=(stat.st_atime_ns, stat.st_mtime_ns))
    assert scanned_again()
    assert _runs(rec, rec._pre_scan) == _runs(tessmar.open_recording(path), None)
    # The same size, a new modification time.
    rec = tessmar.open_recording(path)
    os.utime(path, ns=(stat.st_atime_ns, stat.st_mtime_ns + 1_000_000))
    assert scanned_again()
