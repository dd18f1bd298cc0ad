#!/usr/bin/env python3
"""Imports a DASTENO file of about 200 MB and checks that peak memory stays within what
pugixml alone needs for the same file (the benchmark's floor, bench/floor.cpp), as the
benchmark shows for smaller files: the import must not hold a second copy of the
document. Too slow for every test run; docs/robustness.md records its figures.

Usage: tests/robustness/large_file_check.py [--build build/linux] [--work DIR] [--megabytes 200]
"""

import argparse
import pathlib
import shutil
import subprocess
import sys

ROOT = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "bench"))
from run_benchmark import measure_once as run  # noqa: E402  (same measurement as the benchmark)
# Bytes of one school as bench/generate_school.py writes it with 1,000 assignments.
SCHOOL_BYTES = 110_000
# Our peak may exceed the floor's by this factor before the check fails: the import keeps
# the tables' small write buffers and the code lists beside the parsed document.
ALLOWED_RATIO = 1.25


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default="build/linux")
    parser.add_argument("--work", default="build/large-file")
    parser.add_argument("--megabytes", type=int, default=200)
    args = parser.parse_args()
    build = pathlib.Path(args.build).resolve()
    work = pathlib.Path(args.work).resolve()
    shutil.rmtree(work, ignore_errors=True)
    (work / "VTEMP").mkdir(parents=True)
    (work / "floor").mkdir()

    xml = work / "centros.xml"
    schools = max(1, args.megabytes * 1_000_000 // SCHOOL_BYTES)
    subprocess.run([sys.executable, str(ROOT / "bench" / "generate_school.py"), "--schools", str(schools),
                    "--assignments", "1000", str(xml)], check=True)
    megabytes = xml.stat().st_size / 1e6

    seconds, memory, _ = run([str(build / "pasarela-cli"), "import", str(xml), "--vtemp", str(work / "VTEMP")])
    floor_seconds, floor_memory, _ = run([str(build / "pasarela-floor"), "import", str(xml), str(work / "VTEMP"),
                                          str(work / "floor")])
    ratio = memory / floor_memory
    print("| file MB | import s | import peak MiB | floor s | floor peak MiB | memory ratio |")
    print("|---|---|---|---|---|---|")
    print(f"| {megabytes:.0f} | {seconds:.1f} | {memory:.0f} | {floor_seconds:.1f} | {floor_memory:.0f} | {ratio:.2f} |")
    shutil.rmtree(work, ignore_errors=True)
    if ratio > ALLOWED_RATIO:
        sys.exit(f"large_file_check: the import's peak memory is {ratio:.2f} times the floor's "
                 f"(at most {ALLOWED_RATIO} allowed)")


if __name__ == "__main__":
    main()
