#!/usr/bin/env python3
"""Measures the import and the export against their floors (see floor.cpp) on synthetic
files of growing size, and prints the figures as Markdown tables: wall time, CPU time
(user + system, which drifts much less than wall time on a shared machine) and peak
memory, each the median of interleaved runs.

Usage: bench/run_benchmark.py [--build build/linux] [--work DIR] [--runs N] [--quick]
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
    """Wall seconds, CPU seconds (user + system), peak MiB and standard output of a run."""
    start = time.perf_counter()
    process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    out = process.stdout.read()
    err = process.stderr.read()
    _, status, usage = os.wait4(process.pid, 0)
    seconds = time.perf_counter() - start
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"failed: {' '.join(map(str, command))}\n{err.decode(errors='replace')}")
    return seconds, usage.ru_utime + usage.ru_stime, usage.ru_maxrss / 1024.0, out.decode(errors="replace")


def median(values):
    values = sorted(values)
    return values[len(values) // 2]


def measure_interleaved(commands, runs):
    """Runs the commands in turn, `runs` rounds, so all meet the same conditions; returns
    per command the medians of (wall s, CPU s, peak MiB). A floor's preparation (reading
    what it will write, printed as "setup" and "setup_cpu") is taken out of its wall and
    CPU times."""
    results = [[] for _ in commands]
    for _ in range(runs):
        for index, command in enumerate(commands):
            seconds, cpu, memory, out = measure_once(command)
            parts = floor_parts(out) if "setup" in out else {}
            seconds -= parts.get("setup", 0.0)
            cpu -= parts.get("setup_cpu", 0.0)
            results[index].append((seconds, cpu, memory))
    return [tuple(median([r[k] for r in runs_of]) for k in range(3)) for runs_of in results]


def floor_parts(text):
    return {key: float(value) for key, value in (line.split() for line in text.splitlines() if line.strip())}


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
    parser.add_argument("--runs", type=int, default=5, help="interleaved rounds; the median is shown")
    parser.add_argument("--quick", action="store_true", help="small sizes only, to check the script")
    args = parser.parse_args()
    build = pathlib.Path(args.build).resolve()
    cli, floor = str(build / "pasarela-cli"), str(build / "pasarela-floor")
    work = pathlib.Path(args.work).resolve()
    shutil.rmtree(work, ignore_errors=True)
    work.mkdir(parents=True)

    # A file four times as large either way: the same schools with four times the
    # assignments, which the import streams, or four times the schools, whose codes, names
    # and linked rows it must keep to the end.
    sizes = [("1 centro", 1, 1000), ("500 000 asignaciones", 500, 1000),
             ("4 veces más asignaciones (500 centros)", 500, 4900), ("4 veces más centros (2 000)", 2000, 1000)]
    solution_rows = 1_000_000
    if args.quick:
        sizes = [("1 centro", 1, 1000), ("10 centros", 10, 1000)]
        solution_rows = 20_000

    floors_dom = b"(the DOM floor" in subprocess.run([floor], capture_output=True).stderr

    def row(label, size, ours, stream, dom):
        text = (f"| {label} | {size:.1f} | {ours[0]:.3f} / {ours[1]:.3f} | {stream[0]:.3f} / {stream[1]:.3f} "
                f"| {ours[0] / stream[0]:.2f} / {ours[1] / stream[1]:.2f} | {ours[2]:.0f} | {stream[2]:.0f}")
        if dom:
            text += f" | {dom[0]:.3f} / {dom[1]:.3f} | {dom[2]:.0f}"
        return text + " |"

    header = "| file | MB | ours wall / CPU s | streaming floor wall / CPU s | ratio wall / CPU | ours MiB | floor MiB"
    rule = "|---|---|---|---|---|---|---"
    if floors_dom:
        header += " | DOM floor wall / CPU s | DOM floor MiB"
        rule += "|---|---"
    print(header + " |")
    print(rule + "|")
    last_vtemp = None
    for label, schools, per_school in sizes:
        xml = work / f"centros-{schools}-{per_school}.xml"
        subprocess.run([sys.executable, str(HERE / "generate_school.py"), "--schools", str(schools),
                        "--assignments", str(per_school), str(xml)], check=True)
        vtemp = work / f"vtemp-{schools}-{per_school}"
        scratch = work / f"scratch-{schools}-{per_school}"
        vtemp.mkdir()
        scratch.mkdir()
        measure_once([cli, "import", str(xml), "--vtemp", str(vtemp)])  # the floors write what this wrote
        commands = [[cli, "import", str(xml), "--vtemp", str(vtemp)],
                    [floor, "stream-import", str(xml), str(vtemp), str(scratch)]]
        if floors_dom:
            commands.append([floor, "import", str(xml), str(vtemp), str(scratch)])
        results = measure_interleaved(commands, args.runs)
        print(row(label, xml.stat().st_size / 1e6, results[0], results[1], results[2] if floors_dom else None))
        if (schools, per_school) == (500, 1000):
            last_vtemp = vtemp
    sys.stdout.flush()

    vtemp = last_vtemp or vtemp
    schools, per_school = vtemp.name.split("-")[1:3]
    write_solution(vtemp / "SOLUC.DBF", solution_rows, codes(cli, vtemp / "GRUPOST.DBF", "ABREV"),
                   codes(cli, vtemp / "ASIGNOMT.DBF", "COD"), codes(cli, vtemp / "PROFT.DBF", "ABREV"),
                   codes(cli, vtemp / "AULAT.DBF", "ABREV"))
    xml = work / f"centros-{schools}-{per_school}.xml"
    output = xml.parent / ("ResultadoOrlavis" + xml.name)
    measure_once([cli, "export", str(xml), "--vtemp", str(vtemp)])  # the floors write what this writes
    commands = [[cli, "export", str(xml), "--vtemp", str(vtemp)],
                [floor, "stream-export", str(xml), str(vtemp / "SOLUC.DBF"), str(output), str(work)]]
    if floors_dom:
        commands.append([floor, "export", str(vtemp / "SOLUC.DBF"), str(output), str(work)])
    results = measure_interleaved(commands, args.runs)
    print()
    print(header.replace("| file | MB |", "| SOLUC rows | SOLUC MB |") + " |")
    print(rule + "|")
    print(row(str(solution_rows), (vtemp / "SOLUC.DBF").stat().st_size / 1e6, results[0], results[1],
              results[2] if floors_dom else None))


if __name__ == "__main__":
    main()
