#!/usr/bin/env python3
"""Converts every recording (.cld) under a folder tree with Dask: one task per recording.

    PYTHONPATH=build/python python3 examples/fleet_convert.py RECORDINGS OUT --format mdf4
    PYTHONPATH=build/python python3 examples/fleet_convert.py RECORDINGS OUT \\
        --scheduler tcp://scheduler:8786 --format csv --option interval=0.01

Without --scheduler a LocalCluster of --workers processes runs on this machine; with it the
tasks go to that Dask cluster (its workers need the tessmar package and must see both folders
under the same paths).  The outputs mirror the input tree: RECORDINGS/a/b/LOG1.cld becomes
OUT/a/b/LOG1.<ext>.  A task writes into a hidden folder beside its output and moves the files
into place only after a conversion without error, so an output that exists is complete: it is
skipped unless --force.  Failed tasks are retried by Dask (--retries).  At the end a summary
table (file, rows, errors, seconds, status) is printed and written as CSV (--summary).
"""

from __future__ import annotations

import argparse
import csv
import logging
import os
import pathlib
import shutil
import sys
import threading
import time


class ConversionFailed(RuntimeError):
    """A recording converted with errors (Dask retries the task)."""


def output_extension(fmt: str, output_type: str) -> str:
    import tessmar

    return tessmar.output_extension(fmt, output_type)


def convert_one(source: str, out_dir: str, fmt: str, output_type: str, options: dict,
                force: bool) -> dict:
    """One task: converts `source` into `out_dir`; the row of the summary table."""
    import tessmar

    started = time.perf_counter()
    src = pathlib.Path(source)
    out = pathlib.Path(out_dir)
    target = out / (src.stem + output_extension(fmt, output_type))
    row = {"file": source, "output": str(target), "rows": 0, "errors": 0, "seconds": 0.0,
           "status": "skipped"}
    if target.exists() and not force:
        return row
    out.mkdir(parents=True, exist_ok=True)
    # Unique per process and thread: a retry elsewhere never meets a half-written folder.
    partial = out / f".partial-{src.stem}-{os.getpid()}-{threading.get_ident()}"
    shutil.rmtree(partial, ignore_errors=True)
    partial.mkdir()
    try:
        import warnings

        with warnings.catch_warnings():
            warnings.simplefilter("ignore", tessmar.TessmarWarning)
            summary = tessmar.convert(src, outdir=partial, format=fmt, output_type=output_type,
                                      jobs=1, **options)
        if not summary.ok or summary.converted != 1:
            errors = [text for severity, text in summary.messages if severity >= 127]
            raise ConversionFailed(f"{source}: " + (errors[0] if errors else "not converted"))
        for f in sorted(partial.iterdir()):
            os.replace(f, out / f.name)
        row.update(rows=summary.rows, errors=summary.errors, status="converted")
    finally:
        shutil.rmtree(partial, ignore_errors=True)
    row["seconds"] = round(time.perf_counter() - started, 3)
    return row


def find_recordings(root: pathlib.Path) -> list[pathlib.Path]:
    return sorted(p for p in root.rglob("*") if p.is_file() and p.suffix.lower() == ".cld")


def parse_options(pairs: list[str]) -> dict:
    """"key=value" pairs as tessmar.convert() keyword arguments ("raw" alone is a switch)."""
    options = {}
    for pair in pairs:
        key, sep, value = pair.partition("=")
        key = key.strip().lstrip("-").replace("-", "_")
        options[key] = value if sep else True
    return options


def show_progress(done: int, total: int, failed: int) -> None:
    width = 30
    filled = width * done // max(total, 1)
    bar = "#" * filled + "-" * (width - filled)
    tail = f", {failed} failed" if failed else ""
    sys.stderr.write(f"\r[{bar}] {done}/{total}{tail}")
    if done == total:
        sys.stderr.write("\n")
    sys.stderr.flush()


def print_table(rows: list[dict]) -> None:
    name_width = max([len("file")] + [len(r["file"]) for r in rows])
    print(f"{'file':<{name_width}}  {'rows':>10}  {'errors':>6}  {'seconds':>8}  status")
    for r in rows:
        print(f"{r['file']:<{name_width}}  {r['rows']:>10}  {r['errors']:>6}  "
              f"{r['seconds']:>8.3f}  {r['status']}")


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("input", type=pathlib.Path, help="folder tree of recordings (.cld)")
    parser.add_argument("output", type=pathlib.Path, help="folder of the output tree")
    parser.add_argument("--format", default="csv", help="tessmar-cli --format name (csv)")
    parser.add_argument("--output-type", default="signals", help="signals, messages or dump")
    parser.add_argument("--option", "-o", action="append", default=[], metavar="KEY=VALUE",
                        help="a tessmar-cli option, e.g. interval=0.01 or raw; repeatable")
    parser.add_argument("--scheduler", help="address of a Dask scheduler (default: a "
                                            "LocalCluster on this machine)")
    parser.add_argument("--workers", type=int, default=os.cpu_count() or 1,
                        help="worker processes of the LocalCluster")
    parser.add_argument("--retries", type=int, default=2, help="retries of a failed task")
    parser.add_argument("--force", action="store_true", help="convert also where the output "
                                                             "exists")
    parser.add_argument("--summary", type=pathlib.Path,
                        help="CSV file of the summary (default: OUTPUT/fleet_summary.csv)")
    args = parser.parse_args(argv)

    from dask.distributed import Client, LocalCluster, as_completed

    import tessmar

    options = parse_options(args.option)
    try:  # wrong format names and options are found here, before any task starts
        output_extension(args.format, args.output_type)
    except tessmar.TessmarError as e:
        parser.error(str(e))
    input_root = args.input.resolve()
    output_root = args.output.resolve()
    sources = find_recordings(input_root)
    if not sources:
        print(f"no recordings (.cld) under {input_root}", file=sys.stderr)
        return 1

    cluster = None
    if args.scheduler:
        client = Client(args.scheduler)
    else:
        cluster = LocalCluster(n_workers=args.workers, threads_per_worker=1, processes=True,
                               host="127.0.0.1", dashboard_address=None,
                               silence_logs=logging.ERROR)
        client = Client(cluster)
    started = time.perf_counter()
    try:
        futures = {}
        for src in sources:
            out_dir = output_root / src.parent.relative_to(input_root)
            future = client.submit(convert_one, str(src), str(out_dir), args.format,
                                   args.output_type, options, args.force, retries=args.retries,
                                   key=f"convert-{src.relative_to(input_root)}", pure=False)
            futures[future] = src
        rows, failed = [], 0
        show_progress(0, len(futures), 0)
        for future in as_completed(futures):
            src = futures[future]
            if future.status == "finished":
                rows.append(future.result())
            else:
                failed += 1
                rows.append({"file": str(src), "output": "", "rows": 0, "errors": 1,
                             "seconds": 0.0, "status": f"failed: {future.exception()}"})
            show_progress(len(rows), len(futures), failed)
    finally:
        client.close()
        if cluster is not None:
            cluster.close()
    rows.sort(key=lambda r: r["file"])
    print_table(rows)
    summary_path = args.summary or output_root / "fleet_summary.csv"
    summary_path.parent.mkdir(parents=True, exist_ok=True)
    with open(summary_path, "w", newline="") as f:
        writer = csv.DictWriter(f, fieldnames=["file", "output", "rows", "errors", "seconds",
                                               "status"])
        writer.writeheader()
        writer.writerows(rows)
    converted = sum(r["status"] == "converted" for r in rows)
    skipped = sum(r["status"] == "skipped" for r in rows)
    print(f"{converted} converted, {skipped} skipped, {failed} failed in "
          f"{time.perf_counter() - started:.1f} s; summary: {summary_path}")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
