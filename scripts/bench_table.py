#!/usr/bin/env python3
"""Prints the benchmarks' results as one table: what is measured, the figure
with its unit, and, where a baseline is measured beside it in the same run (a
memcpy of the same bytes, SciPy, the plain loop, one fmi2DoStep), the ratio
to it.  A row with a goal says whether this run met it.

    scripts/bench_table.py RESULT.json...

Each RESULT.json is the Google Benchmark output of one program, named
<program>.json (as scripts/bench.sh writes them); rows follow the files'
order.  Each row of ROWS below picks benchmarks of one
program by name and says how to show them; a benchmark that no row picks is
shown by its name and time, so that a new benchmark is never lost.  To show a
new benchmark well, add a row."""
import json
import os
import re
import sys


def num(x):
    """Three significant digits, without exponent for everyday sizes."""
    if x == 0:
        return "0"
    if 1e-3 <= abs(x) < 1e6:
        digits = max(0, 2 - int(f"{abs(x):e}".split("e")[1]))
        return f"{x:.{digits}f}"
    return f"{x:.2e}"


def seconds(b, value_ns):
    """A time in ns shown in the unit that reads best."""
    for unit, scale in (("s", 1e9), ("ms", 1e6), ("us", 1e3)):
        if value_ns >= scale:
            return f"{num(value_ns / scale)} {unit}"
    return f"{num(value_ns)} ns"


def real_ns(b):
    scale = {"ns": 1, "us": 1e3, "ms": 1e6, "s": 1e9}[b["time_unit"]]
    return b["real_time"] * scale


def goal(text, met):
    """The verdict a row with a goal adds to its figure."""
    return f"goal {text}: {'met' if met else 'not met'}"


# One row: program, a regular expression over the benchmark's name, what it
# measures (with \1... from the expression), the figure (a function of the
# benchmark's record returning the text), the baselines (label, function
# returning the ratio figure / baseline, or None) and, for a row with a goal,
# a function of the record and the match returning the verdict (or None for
# a benchmark the goal is not about).
ROWS = [
    ("integrator_bench", r"BM_(Robertson|RobertsonTo1e11|VanDerPol|Decay|OscillatorAdams)$",
     r"integrator: \1, one solve",
     lambda b: f"{b['steps']:.0f} steps, {num(b['ns/step'])} ns/step", []),
    ("cosim_bench", r"BM_CoSimVessel$", "Co-Simulation: vessel 0-10 s, 1000 fmi2DoStep of 0.01 s",
     lambda b: f"{seconds(b, b['doStep'] * 1e9)} per fmi2DoStep", []),
    ("cosim_bench", r"BM_CoSimDoStep/(\d+)$",
     r"Co-Simulation: fmi2DoStep of \1 ms over 10 s, pinned",
     lambda b: f"{seconds(b, b['doStep'] * 1e9)} per fmi2DoStep", [],
     lambda b, m: goal("<= 100 ns", b["doStep"] * 1e9 <= 100) if m.group(1) == "10" else None),
    ("cosim_bench", r"BM_CoSimVesselAccuracy", "Co-Simulation: largest relative error of the level",
     lambda b: num(b["largestRelativeError"]), []),
    ("matfile_bench", r"BM_WriteTrajectory", "matrix file: write a 1000 x 10000 trajectory",
     lambda b: f"{num(b['MB'])} MB/s", []),
    ("matfile_bench", r"BM_ReadTrajectory/2\b", "matrix file: read it back as one matrix",
     lambda b: f"{num(b['MB'])} MB/s",
     [("SciPy loadmat, time", lambda b: (b["file_MB"] / b["MB"]) / b["scipy_load_s"]
       if b.get("scipy_load_s", -1) > 0 else None)]),
    ("matfile_bench", r"BM_ReadTrajectory/5\b", "matrix file: read it back row by row",
     lambda b: f"{num(b['MB'])} MB/s",
     [("SciPy loadmat, time", lambda b: (b["file_MB"] / b["MB"]) / b["scipy_load_s"]
       if b.get("scipy_load_s", -1) > 0 else None)]),
    ("arrays_bench", r"(\w+?)_?/(\d+)/manual_time", r"arrays: \1, \2 elements",
     lambda b: f"{num(b['lib_ns/elem'])} ns/element", [("plain loop", lambda b: b["ratio"])]),
    ("arrays_matrix_bench", r"BM_(\w+?)(\d+)$", r"arrays: \1, n = \2",
     lambda b: f"{num(b['library_ns_per_element'])} ns/element",
     [("plain loop", lambda b: b["ratio"])]),
    ("instance_bench", r"BM_ResidentPerLiveInstance/mapLargeBlocks:0",
     "instance: resident memory per live instance", lambda b: f"{num(b['KiB_per_instance'])} KiB",
     [("model data record", lambda b: b["KiB_per_instance"] / b["record_KiB"])]),
    ("instance_bench", r"BM_ResidentPerLiveInstance/mapLargeBlocks:1",
     "  the same, the host mapping large blocks",
     lambda b: f"{num(b['KiB_per_instance'])} KiB",
     [("model data record", lambda b: b["KiB_per_instance"] / b["record_KiB"])]),
    ("instance_bench", r"BM_InstantiateToFirstStep", "instance: instantiate to first fmi2DoStep",
     lambda b: seconds(b, b["op_ns"]), [("memcpy of the record", lambda b: b["x_memcpy"])]),
    ("instance_bench", r"BM_FreeInstance", "instance: fmi2FreeInstance",
     lambda b: seconds(b, b["op_ns"]), [("memcpy of the record", lambda b: b["x_memcpy"])]),
    ("instance_bench", r"BM_DoStep", "instance: one fmi2DoStep of 0.01 s",
     lambda b: seconds(b, b["op_ns"]), []),
    ("instance_bench", r"BM_(GetFMUstate|SetFMUstate|SerializeFMUstate|DeSerializeFMUstate)$",
     r"FMU state: fmi2\1", lambda b: seconds(b, b["op_ns"]),
     [("memcpy of the image", lambda b: b["x_memcpy"]),
      ("one fmi2DoStep", lambda b: b.get("x_doStep"))]),
    ("fmuhost_bench", r"BM_FmuhostManyOutputs/(\d+)$",
     r"fmuhost: set up a run and print one row, \1 outputs",
     lambda b: f"{seconds(b, real_ns(b))}, {seconds(b, b['s_per_output'] * 1e9)} per output", []),
]

HOW_TO_READ = ("How to read: each ratio is this unit's figure divided by the baseline's, "
               "both measured in this run on this machine (for times, below 1 is faster "
               "than the baseline); a row without a baseline gives its figure alone.  "
               "Figures, ratios and the goals' verdicts vary with the machine and its "
               "load: compare runs on one idle machine.")


def rows_of(program, benchmarks):
    out = []
    for b in benchmarks:
        if b.get("run_type") == "aggregate" or b.get("error_occurred"):
            if b.get("error_occurred"):
                out.append((f"{program}: {b['name']}", "failed: " + b.get("error_message", ""), []))
            continue
        for prog, pattern, what, figure, baselines, *verdict in ROWS:
            m = re.match(pattern, b["name"]) if prog == program else None
            if not m:
                continue
            ratios = []
            for label, ratio in baselines:
                try:
                    r = ratio(b)
                except (KeyError, ZeroDivisionError):
                    r = None
                if r is not None:
                    ratios.append((label, f"{num(r)} x"))
            shown = figure(b)
            judged = verdict[0](b, m) if verdict else None
            if judged:
                shown += f" ({judged})"
            out.append((m.expand(what), shown, ratios))
            break
        else:
            out.append((f"{program}: {b['name']}", seconds(b, real_ns(b)) + " per iteration", []))
    return out


def main():
    if len(sys.argv) < 2:
        sys.exit("usage: bench_table.py RESULT.json...")
    table, context = [], None
    for path in sys.argv[1:]:
        program = os.path.splitext(os.path.basename(path))[0]
        with open(path) as f:
            data = json.load(f)
        context = context or data.get("context")
        table += rows_of(program, data.get("benchmarks", []))
    if not table:
        sys.exit("bench_table.py: no results")
    head = ("what is measured", "figure", "baseline", "ratio")
    lines = []
    for what, figure, ratios in table:
        first = ratios[0] if ratios else ("-", "-")
        lines.append((what, figure) + first)
        lines += [("", "") + r for r in ratios[1:]]
    widths = [max(len(row[i]) for row in lines + [head]) for i in range(4)]
    fmt = "  ".join(f"{{:{w}}}" for w in widths[:3]) + "  {}"
    if context:
        print(f"Benchmarks on {context.get('host_name', '?')}: {context.get('num_cpus', '?')} CPUs "
              f"at {context.get('mhz_per_cpu', '?')} MHz, load average "
              f"{', '.join(num(x) for x in context.get('load_avg', []))}")
    print(fmt.format(*head))
    print(fmt.format(*("-" * w for w in widths)))
    for row in lines:
        print(fmt.format(*row).rstrip())
    print(HOW_TO_READ)


if __name__ == "__main__":
    main()
