#!/usr/bin/env python3
"""A tune scan: the strength of one quadrupole family of the double-bend achromat cell of
examples/dba-cell.lat varied over +-5 %, the ring tunes and natural chromaticities at each step, and a
plot of the working points when matplotlib is installed.

    PYTHONPATH=build/python python3 examples/python/tune_scan.py [FAMILY]
"""

import os
import sys

import numpy as np

import kestrune

here = os.path.dirname(os.path.abspath(__file__))
design = kestrune.open(os.path.join(here, "..", "dba-cell.lat"))
family_name = sys.argv[1] if len(sys.argv) > 1 else "QM"
family = design.elements.named(family_name)
if not family:
    sys.exit("no quadrupole called %s in the cell" % family_name)
k0 = family[0].k

strengths = k0 * np.linspace(0.95, 1.05, 11)
tunes = []
print("%10s %10s %10s %10s %10s" % ("k (1/m^2)", "Qx", "Qy", "xi_x", "xi_y"))
for k in strengths:
    for quadrupole in family:
        quadrupole.k = k
    try:
        table = design.twiss()
    except kestrune.Error as refusal:
        print("%10.5f  no periodic solution: %s" % (k, refusal))
        continue
    tunes.append((table.q1, table.q2))
    print("%10.5f %10.5f %10.5f %10.4f %10.4f" % (k, table.q1, table.q2, table.dq1, table.dq2))
for quadrupole in family:
    quadrupole.k = k0

try:
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
except ImportError:
    print("matplotlib is not installed: no plot")
else:
    qx, qy = np.array(tunes).T
    fig, ax = plt.subplots(figsize=(5, 4))
    ax.plot(qx, qy, "o-")
    ax.set_xlabel("Qx")
    ax.set_ylabel("Qy")
    ax.set_title("%s from %.3f to %.3f 1/m^2" % (family_name, strengths[0], strengths[-1]))
    fig.tight_layout()
    fig.savefig("tune_scan.png", dpi=100)
    print("plot written to tune_scan.png")
