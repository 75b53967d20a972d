#!/usr/bin/env python3
"""SciPy's side of the matrix-file tests (MAT version 4 files).

  scipy_check.py dump FILE            prints every matrix of FILE as SciPy loads it
  scipy_check.py write FILE           writes the reference matrices with SciPy
  scipy_check.py write-complex FILE   writes a complex matrix z, then a real one
  scipy_check.py write-vectors FILE   writes vectors as SciPy stores them

dump prints one line per matrix, in file order:
  NAME KIND ROWS COLS VALUE...
KIND is the NumPy dtype ('float64', 'float32', 'int32', 'uint8') or 'text'.
Numbers are given row after row (float.hex for floating-point values, so
that they compare exactly); text rows as the hex of their UTF-8 bytes ('-'
for an empty row), one per row, COLS being the row length SciPy reports.
"""
import sys

import numpy as np
import scipy.io


def dump(path):
    data = scipy.io.loadmat(path, appendmat=False)
    for name, value in data.items():
        if name.startswith("__"):
            continue
        if value.dtype.kind == "U":
            rows = [str(s) for s in value.reshape(-1)]
            width = value.dtype.itemsize // 4
            cells = [r.encode("utf-8").hex() or "-" for r in rows]
            print(name, "text", len(rows), width, *cells)
            continue
        rows, cols = value.shape
        flat = value.reshape(-1)  # row-major
        if value.dtype.kind == "f":
            cells = [float(v).hex() for v in flat]
        else:
            cells = [str(int(v)) for v in flat]
        print(name, value.dtype.name, rows, cols, *cells)


def write(path):
    matrices = {
        "A": np.array([[1.0, 2.0, 3.0], [4.0, 5.0, 0.1]]),
        "f": np.array([[1.5, -2.25]], dtype=np.float32),
        "i": np.array([[1, -2], [3, 2147483647]], dtype=np.int32),
        "s": np.array(["ab", "abcd"]),
        "e": np.zeros((0, 3)),
    }
    scipy.io.savemat(path, matrices, format="4")


def write_complex(path):
    matrices = {
        "z": np.array([[1.0 + 2.0j, 3.0 - 1.0j]]),
        "after": np.array([[5.0, 6.0]]),
    }
    scipy.io.savemat(path, matrices, format="4")


def write_vectors(path):
    # One-dimensional arrays are stored as 1 x n matrices (oned_as='row').
    matrices = {
        "row": np.array([1.5, -2.0, 0.25, 8.0]),
        "irow": np.array([3, -1, 2147483647], dtype=np.int32),
        "column": np.array([[4.0], [5.0], [6.0]]),
        "icolumn": np.array([[7], [-8]], dtype=np.int32),
        "one": np.array([9.0]),
        "empty": np.zeros(0),
        "grid": np.array([[1.0, 2.0], [3.0, 4.0]]),
        "igrid": np.array([[1, 2, 3], [4, 5, 6]], dtype=np.int32),
    }
    scipy.io.savemat(path, matrices, format="4")


MODES = {
    "dump": dump,
    "write": write,
    "write-complex": write_complex,
    "write-vectors": write_vectors,
}

if __name__ == "__main__":
    if len(sys.argv) != 3 or sys.argv[1] not in MODES:
        sys.exit(__doc__)
    MODES[sys.argv[1]](sys.argv[2])
