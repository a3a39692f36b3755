#!/usr/bin/env python3
"""Benchmarks of the Python package on the Signals workload (docs/performance.md, "Python
package").  Each mode is one process, meant to be timed whole (/usr/bin/time -v) beside the
matching tessmar-cli run; it also prints its own time of the call.

    tessmar-cli simulate bench/convert/signals_workload.clc -o workload.cld --duration 4461
    PYTHONPATH=build/python python3 bench/python/python_bench.py frames workload.cld
    PYTHONPATH=build/python python3 bench/python/python_bench.py signals workload.cld 0.01
    PYTHONPATH=build/python python3 bench/python/python_bench.py fleet FOLDER OUT WORKERS
"""

import pathlib
import subprocess
import sys
import time


def main(argv):
    mode = argv[1] if len(argv) > 1 else ""
    if mode == "fleet":
        folder, out, workers = argv[2], argv[3], argv[4]
        example = pathlib.Path(__file__).resolve().parents[2] / "examples" / "fleet_convert.py"
        return subprocess.call([sys.executable, str(example), folder, out, "--workers", workers,
                                "--format", "mdf4", "--force", "--option", "interval=0.01"],
                               stdout=subprocess.DEVNULL)
    import tessmar

    if mode == "signals":
        # An analyst who asks for a DataFrame has pandas loaded: its import (about 0.2 s) is
        # timed apart from the call.
        started = time.perf_counter()
        import pandas  # noqa: F401

        print(f"import pandas: {time.perf_counter() - started:.3f} s")
    started = time.perf_counter()
    rec = tessmar.open_recording(argv[2])
    opened = time.perf_counter() - started
    if mode == "frames":
        called = time.perf_counter()
        frames = rec.frames()
        seconds = time.perf_counter() - called
        print(f"open_recording: {opened:.3f} s; frames(): {len(frames)} in {seconds:.3f} s, "
              f"{len(frames) / seconds / 1e6:.1f} M/s")
    elif mode == "signals":
        df = rec.signals(interval=float(argv[3]))
        seconds = time.perf_counter() - started
        print(f"open_recording + signals(): {df.shape[0]} rows x {df.shape[1]} columns in "
              f"{seconds:.3f} s (open_recording {opened:.3f} s), "
              f"{df.memory_usage(index=True).sum() / 1e6:.0f} MB")
    else:
        print(__doc__, file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
