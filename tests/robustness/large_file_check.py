#!/usr/bin/env python3
"""Imports a DASTENO file of about 200 MB and checks that peak memory stays within a fixed
ceiling, whatever the file's size: the import reads the file as a stream and must hold no
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
# The import keeps the tables' small write buffers, the code lists and the lookups of the
# tables it built; the file itself only a block at a time.
CEILING_MIB = 40


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

    xml = work / "centros.xml"
    schools = max(1, args.megabytes * 1_000_000 // SCHOOL_BYTES)
    subprocess.run([sys.executable, str(ROOT / "bench" / "generate_school.py"), "--schools", str(schools),
                    "--assignments", "1000", str(xml)], check=True)
    megabytes = xml.stat().st_size / 1e6

    seconds, cpu, memory, _ = run([str(build / "pasarela-cli"), "import", str(xml), "--vtemp", str(work / "VTEMP")])
    print("| file MB | import wall s | import CPU s | import peak MiB |")
    print("|---|---|---|---|")
    print(f"| {megabytes:.0f} | {seconds:.1f} | {cpu:.1f} | {memory:.0f} |")
    shutil.rmtree(work, ignore_errors=True)
    if memory > CEILING_MIB:
        sys.exit(f"large_file_check: the import's peak memory is {memory:.0f} MiB (at most {CEILING_MIB} allowed)")


if __name__ == "__main__":
    main()
