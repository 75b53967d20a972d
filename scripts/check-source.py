#!/usr/bin/env python3
"""Checks that CI runs on the sources (tests, tools, benchmarks and fuzz
targets are exempt):

1. Includes follow the layout: a CMakeLists.txt with a line
       # May include: a/, b/c.h, ...
   allows the files of its folder (and of sub-folders without such a line of
   their own) to include project headers only from those folders and files.
2. No number is printed or scanned, and no text written to a stream, outside
   the "C"-locale wrappers: the printf, scanf, strtod and puts/putc families
   are used only in source/clocale/clocale_io.cpp.
3. The runtime's library face (source/runtime_services.h), which the arrays,
   the external functions and the model-level matrix functions include,
   reaches no header of model/, directly or through the headers it includes,
   so that those libraries do not compile against the model's record.

Exits 1 with one line per finding."""
import argparse
import os
import re
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
EXEMPT = {"tests", "tools", "bench", "fuzz", "build", "scripts", "cmake"}
WRAPPERS = "source/clocale/clocale_io.cpp"
RAW = re.compile(
    r"(?<![\w.>:])(?:std::)?(v?s?n?printf|v?f?printf|v?s?scanf|v?fscanf|strto(?:d|f|ld)|atof"
    r"|f?puts|f?putc|putchar)\s*\(")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)
ALLOW = re.compile(r"^#\s*May include:(.*)$", re.M)
LIBRARY_FACE = "source/runtime_services.h"


def rules():
    """{folder: [allowed prefixes]} for every folder that declares them."""
    found = {}
    for dirpath, dirnames, filenames in os.walk(ROOT):
        rel = os.path.relpath(dirpath, ROOT)
        top = rel.split(os.sep)[0]
        if rel != "." and (top in EXEMPT or top.startswith(".")):
            dirnames[:] = []
            continue
        if "CMakeLists.txt" in filenames and rel != ".":
            text = open(os.path.join(dirpath, "CMakeLists.txt")).read()
            m = ALLOW.search(text)
            if m:
                tokens = re.findall(r"[\w./-]+", m.group(1))
                found[rel.replace(os.sep, "/")] = [
                    t for t in tokens if t.endswith("/") or t.endswith(".h")]
    return found


def owner(path, folders):
    best = None
    for f in folders:
        if path.startswith(f + "/") and (best is None or len(f) > len(best)):
            best = f
    return best


def strip_comments(text):
    text = re.sub(r"/\*.*?\*/", " ", text, flags=re.S)
    text = re.sub(r"//[^\n]*", " ", text)
    return re.sub(r'"(?:\\.|[^"\\\n])*"', '""', text)


def model_headers_reached(header):
    """[(model header, chain of includes)] reached from header."""
    found = []
    seen = {header}
    todo = [(header, [header])]
    while todo:
        path, chain = todo.pop()
        text = open(os.path.join(ROOT, path), encoding="utf-8", errors="replace").read()
        for inc in INCLUDE.findall(text):
            if inc in seen or not os.path.isfile(os.path.join(ROOT, inc)):
                continue
            seen.add(inc)
            if inc.startswith("model/"):
                found.append((inc, chain + [inc]))
            else:
                todo.append((inc, chain + [inc]))
    return found


def main():
    allowed = rules()
    problems = []
    for inc, chain in model_headers_reached(LIBRARY_FACE):
        problems.append(f"{LIBRARY_FACE}: reaches {inc} ({' -> '.join(chain)}); the libraries "
                        f"that include it must not compile against the model")
    for dirpath, dirnames, filenames in os.walk(ROOT):
        rel = os.path.relpath(dirpath, ROOT)
        top = rel.split(os.sep)[0]
        if rel == ".":
            continue
        if top in EXEMPT or top.startswith("."):
            dirnames[:] = []
            continue
        for name in filenames:
            if not name.endswith((".cpp", ".h", ".c")):
                continue
            path = os.path.relpath(os.path.join(dirpath, name), ROOT).replace(os.sep, "/")
            text = open(os.path.join(ROOT, path), encoding="utf-8", errors="replace").read()
            folder = owner(path, allowed)
            if folder is not None:
                for inc in INCLUDE.findall(text):
                    ok = any(inc == a or (a.endswith("/") and inc.startswith(a))
                             for a in allowed[folder])
                    if not ok:
                        problems.append(f"{path}: includes {inc}, which {folder}/ may not include")
            if path != WRAPPERS:
                code = strip_comments(text)
                for m in RAW.finditer(code):
                    line = code.count("\n", 0, m.start()) + 1
                    problems.append(f"{path}:{line}: raw {m.group(1)}; use the \"C\"-locale wrappers")
    for p in problems:
        print(p)
    return 1 if problems else 0


if __name__ == "__main__":
    # No options but --help; anything else is refused with its name (status 2).
    argparse.ArgumentParser(
        prog="scripts/check-source.py",
        description=__doc__,
        formatter_class=argparse.RawDescriptionHelpFormatter,
        epilog="Exit status: 0 when nothing is found, 1 with one line per finding, "
        "2 for an unknown option or argument.").parse_args()
    sys.exit(main())
