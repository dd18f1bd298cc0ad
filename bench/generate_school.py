#!/usr/bin/env python3
"""Writes a synthetic DASTENO file for the benchmark: `schools` made-up schools in one
file, each with subjects, teachers, rooms, groups, a week of time slots and
`assignments` teaching assignments. Codes are unique within each school and partly
repeated across schools, as when several schools' data are merged, so the code rules
are exercised as well as the writing."""

import argparse
import random


def school(out, number, assignments, rng):
    tag = f"{number:03d}"
    subjects = [(f"S{tag}M{i:02d}", f"Materia {i} del centro {tag}", f"{number * 1000 + i}") for i in range(60)]
    activities = [(f"ACT{tag}{i}", f"Actividad {i} del centro {tag}", f"{number * 1000 + 900 + i}") for i in range(3)]
    out.write("    <!-- centro %s -->\n" % tag)
    out.write("  <materias>\n")
    for code, name, ident in subjects:
        activity = activities[rng.randrange(len(activities))][0]
        out.write(f'    <dmateria codigo="{code}" nombre="{name}" codigo_actividad="{activity}" idmateria="{ident}"/>\n')
    for code, name, ident in activities:
        out.write(f'    <dmateria codigo="{code}" nombre="{name}" codigo_actividad="{code}" idmateria="{ident}"/>\n')
    out.write("  </materias>\n  <profesores>\n")
    teachers = []
    for i in range(80):
        code = f"P{i:02d}" if i % 4 else f"T{tag}{i:02d}"  # a quarter unique, the rest repeated across schools
        ident = f"{number * 1000 + i}"
        teachers.append(ident)
        out.write(f'    <profesor codigo="{code}" nombre="Nombre{i}" apellido1="Apellido{i}" apellido2="Pérez" '
                  f'documento="{number:04d}{i:04d}X" idprofesor="{ident}"/>\n')
    out.write("  </profesores>\n  <aulas>\n")
    for i in range(40):
        out.write(f'    <daula codigo="A{i:02d}" nombre="Aula {i}" capacidad_alumnos="{20 + i % 15}" '
                  f'idaula="{number * 1000 + i}"/>\n')
    out.write("  </aulas>\n  <grupos>\n")
    groups = []
    for i in range(30):
        ident = f"{number * 1000 + i}"
        groups.append(ident)
        out.write(f'    <dgrupo codigo="{1 + i // 6}ESO{chr(65 + i % 6)}" nombre="{1 + i // 6} ESO {chr(65 + i % 6)}" '
                  f'codigo_nivel="ESO" curso="{1 + i // 6}" cgrupo="{chr(65 + i % 6)}" idgrupo="{ident}" '
                  f'idcurso="{number * 10 + i // 6}"/>\n')
    out.write("  </grupos>\n  <franjashorarias>\n")
    for day in range(1, 6):
        for position in range(1, 7):
            start = 8 * 60 + 30 + (position - 1) * 55
            end = start + 55
            out.write(f'    <franjahoraria dia_semana="{day}" posicion="{position}" '
                      f'hora_inicio="{start // 60:02d}:{start % 60:02d}" hora_final="{end // 60:02d}:{end % 60:02d}"/>\n')
    out.write("  </franjashorarias>\n  <asignaturas>\n")
    for _ in range(assignments):
        subject = subjects[rng.randrange(len(subjects))][2]
        hours = rng.choice(["1", "2", "3", "4", "5", "2.5"])
        out.write(f'    <dasignatura cgrupo="{rng.choice(groups)}" casig="{subject}" cprofe="{rng.choice(teachers)}" '
                  f'conexion="" nhoras="{hours}"/>\n')
    out.write("  </asignaturas>\n")


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--schools", type=int, default=1)
    parser.add_argument("--assignments", type=int, default=1000, help="per school")
    parser.add_argument("--seed", type=int, default=7)
    parser.add_argument("output")
    args = parser.parse_args()
    rng = random.Random(args.seed)
    with open(args.output, "w", encoding="utf-8") as out:
        out.write('<?xml version="1.0" encoding="UTF-8"?>\n')
        out.write('<centro codigo_interno="99990000" nombre="Centros de prueba" curso="2026/2027" version="1.0">\n')
        for number in range(1, args.schools + 1):
            school(out, number, args.assignments, rng)
        out.write("</centro>\n")


if __name__ == "__main__":
    main()
