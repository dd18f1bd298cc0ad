#!/usr/bin/env python3
"""Measures the import and the export against their floor (see floor.cpp) on synthetic
files of growing size, and prints the figures as a Markdown table.

Usage: bench/run_benchmark.py [--build build/linux] [--work DIR] [--quick]
"""

import argparse
import csv
import io
import os
import pathlib
import shutil
import struct
import subprocess
import sys
import time

HERE = pathlib.Path(__file__).resolve().parent


def measure_once(command):
    start = time.perf_counter()
    process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    out = process.stdout.read()
    err = process.stderr.read()
    _, status, usage = os.wait4(process.pid, 0)
    seconds = time.perf_counter() - start
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"failed: {' '.join(map(str, command))}\n{err.decode(errors='replace')}")
    return seconds, usage.ru_maxrss / 1024.0, out.decode(errors="replace")


def floor_parts(text):
    return {key: float(value) for key, value in (line.split() for line in text.splitlines() if line.strip())}


def measure_against_floor(ours, floor, runs=5):
    """Runs our command and the floor program in turn, `runs` times each, so that both
    meet the same conditions on a machine whose speed drifts (disk syncs, neighbours).
    The floor is timed as a whole program, as ours is, with its preparation (reading what
    it will write) taken out. Returns the median runs: ours as (seconds, peak MiB) and
    the floor's as (seconds, peak MiB, parts), parts holding "other" for start-up and exit."""
    our_runs, floor_runs = [], []
    for _ in range(runs):
        seconds, memory, _ = measure_once(ours)
        our_runs.append((seconds, memory))
        seconds, memory, out = measure_once(floor)
        parts = floor_parts(out)
        total = seconds - parts.pop("setup")
        parts["other"] = total - sum(parts.values())
        floor_runs.append((total, memory, parts))
    our_runs.sort(key=lambda r: r[0])
    floor_runs.sort(key=lambda r: r[0])
    return our_runs[runs // 2], floor_runs[runs // 2]


def codes(cli, table, field):
    text = subprocess.run([cli, "dump", str(table)], check=True, capture_output=True).stdout.decode()
    return [row[field] for row in csv.DictReader(io.StringIO(text)) if row[field]]


def write_solution(path, rows, groups, subjects, teachers, rooms):
    """A dBase III SOLUC, as the timetabling program leaves it: numeric DIA and HORA."""
    fields = [("DIA", "N", 2), ("HORA", "N", 2), ("SESIONES", "C", 5), ("CODGRUPO", "C", 10),
              ("ASIG", "C", 10), ("TAREA", "C", 10), ("PROF", "C", 10), ("AULA", "C", 10)]
    record_length = 1 + sum(f[2] for f in fields)
    header = bytearray(struct.pack("<BBBBIHH20x", 3, 126, 12, 10, rows, 32 + 32 * len(fields) + 1, record_length))
    header[29] = 0x57
    with open(path, "wb") as out:
        out.write(header)
        for name, kind, length in fields:
            out.write(struct.pack("<11sc4xBB14x", name.encode(), kind.encode(), length, 0))
        out.write(b"\r")
        chunk = []
        for i in range(rows):
            values = [str(1 + i % 5).rjust(2), str(1 + i % 6).rjust(2), "1".ljust(5),
                      groups[i % len(groups)].ljust(10), subjects[i % len(subjects)].ljust(10),
                      "LECT".ljust(10), teachers[i % len(teachers)].ljust(10), rooms[i % len(rooms)].ljust(10)]
            chunk.append(b" " + "".join(values).encode("cp1252"))
            if len(chunk) == 10000:
                out.write(b"".join(chunk))
                chunk = []
        out.write(b"".join(chunk))
        out.write(b"\x1a")


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--build", default="build/linux")
    parser.add_argument("--work", default="build/bench")
    parser.add_argument("--quick", action="store_true", help="small sizes only, to check the script")
    args = parser.parse_args()
    build = pathlib.Path(args.build).resolve()
    cli, floor = str(build / "pasarela-cli"), str(build / "pasarela-floor")
    work = pathlib.Path(args.work).resolve()
    shutil.rmtree(work, ignore_errors=True)
    work.mkdir(parents=True)

    sizes = [("1 centro", 1, 1000), ("100 centros", 100, 1000), ("500 000 asignaciones", 500, 1000)]
    solution_rows = 1_000_000
    if args.quick:
        sizes = [("1 centro", 1, 1000), ("10 centros", 10, 1000)]
        solution_rows = 20_000

    print("| file | MB | import s | floor s (parse + write + start/exit) | time ratio | import MiB | floor MiB | memory ratio |")
    print("|---|---|---|---|---|---|---|---|")
    last_vtemp = None
    for label, schools, per_school in sizes:
        xml = work / f"centros-{schools}.xml"
        subprocess.run([sys.executable, str(HERE / "generate_school.py"), "--schools", str(schools),
                        "--assignments", str(per_school), str(xml)], check=True)
        vtemp = work / f"vtemp-{schools}"
        scratch = work / f"scratch-{schools}"
        vtemp.mkdir()
        scratch.mkdir()
        (seconds, memory), (floor_total, floor_memory, parts) = measure_against_floor(
            [cli, "import", str(xml), "--vtemp", str(vtemp)], [floor, "import", str(xml), str(vtemp), str(scratch)])
        size = xml.stat().st_size / 1e6
        print(f"| {label} | {size:.1f} | {seconds:.3f} | {floor_total:.3f} ({parts['parse']:.3f} + {parts['write']:.3f} "
              f"+ {parts['other']:.3f}) | {seconds / floor_total:.2f} | {memory:.0f} | {floor_memory:.0f} "
              f"| {memory / floor_memory:.2f} |")
        last_vtemp = vtemp

    vtemp = last_vtemp
    write_solution(vtemp / "SOLUC.DBF", solution_rows, codes(cli, vtemp / "GRUPOST.DBF", "ABREV"),
                   codes(cli, vtemp / "ASIGNOMT.DBF", "COD"), codes(cli, vtemp / "PROFT.DBF", "ABREV"),
                   codes(cli, vtemp / "AULAT.DBF", "ABREV"))
    xml = work / f"centros-{sizes[-1][1]}.xml"
    output = xml.parent / ("ResultadoOrlavis" + xml.name)
    measure_once([cli, "export", str(xml), "--vtemp", str(vtemp)])  # the floor saves what this writes
    (seconds, memory), (floor_total, floor_memory, parts) = measure_against_floor(
        [cli, "export", str(xml), "--vtemp", str(vtemp)], [floor, "export", str(vtemp / "SOLUC.DBF"), str(output), str(work)])
    print()
    print("| SOLUC rows | SOLUC MB | export s | floor s (read + save + start/exit) | time ratio | export MiB | floor MiB | memory ratio |")
    print("|---|---|---|---|---|---|---|---|")
    print(f"| {solution_rows} | {(vtemp / 'SOLUC.DBF').stat().st_size / 1e6:.1f} | {seconds:.3f} "
          f"| {floor_total:.3f} ({parts['read']:.3f} + {parts['write']:.3f} + {parts['other']:.3f}) "
          f"| {seconds / floor_total:.2f} "
          f"| {memory:.0f} | {floor_memory:.0f} | {memory / floor_memory:.2f} |")


if __name__ == "__main__":
    main()
