#!/usr/bin/env python3
"""Imports a DASTENO file of about 200 MB and checks that peak memory stays under half the
file's size: the import reads the file as a stream and must hold no document (a tree of it
takes several times the file, a reader holding the file whole at least the file). What it
does keep grows with the schools in the file (their code lists, names and the rows the
assignments look up), so no fixed ceiling holds for every size. Too slow for every test
run; docs/robustness.md records its figures.

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
# The import keeps the tables' small write buffers, the code lists, names and lookups of
# the tables it built; the file itself only a block at a time.
CEILING_SHARE_OF_FILE = 0.5


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
    ceiling = megabytes * 1e6 * CEILING_SHARE_OF_FILE / (1 << 20)
    if memory > ceiling:
        sys.exit(f"large_file_check: the import's peak memory is {memory:.0f} MiB (at most {ceiling:.0f} allowed)")


if __name__ == "__main__":
    main()
