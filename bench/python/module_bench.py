#!/usr/bin/env python3
"""Times Design.twiss() and Design.track() of the Python module against the same core calls made in C++.

    PYTHONPATH=build/python python3 bench/python/module_bench.py build/bench/kestrune_python_bench

The C++ benchmark writes the generated ring of the benchmarks (868 elements) to a lattice file and times
the core calls there; this script reads the same file through the module and times the same calls from
Python: the twiss table at every element end from the periodic solution with tunes and chromaticities,
and 1000 particles over 100 turns in the symplectic model on one thread.
"""

import json
import os
import subprocess
import sys
import tempfile
import time

import numpy as np

import kestrune


def best(call, repeat, number):
    """The shortest mean processor time of number calls, over repeat rounds (s): on a shared machine the
    processor time of one thread is what the code costs."""
    times = []
    for _ in range(repeat):
        start = time.process_time()
        for _ in range(number):
            call()
        times.append((time.process_time() - start) / number)
    return min(times)


def reference(bench, ring):
    """The C++ processor times of the same calls (s), the shortest of five repetitions, by benchmark name."""
    env = dict(os.environ, KESTRUNE_BENCH_RING=ring)
    out = subprocess.run([bench, "--benchmark_format=json", "--benchmark_repetitions=5"],
                         env=env, check=True, capture_output=True, text=True).stdout
    scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}
    times = {}
    for b in json.loads(out)["benchmarks"]:
        if b.get("run_type") == "iteration":
            t = b["cpu_time"] * scale[b["time_unit"]]
            times[b["run_name"]] = min(t, times.get(b["run_name"], t))
    return times


def spread():
    """The start coordinates of the C++ benchmark."""
    i = np.arange(1000)
    p = np.zeros((1000, 6))
    p[:, 0] = 1e-5 * (i % 100)
    p[:, 2] = 5e-6 * (i // 100)
    p[:, 4] = 2e-5 * (i % 101 - 50)
    return p


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    with tempfile.TemporaryDirectory() as folder:
        ring = os.path.join(folder, "generated-ring.lat")
        cpp = reference(sys.argv[1], ring)
        design = kestrune.open(ring)
        twiss = best(lambda: design.twiss(), 7, 200)
        track = best(lambda: design.track(spread(), 100), 3, 1)
    table = design.twiss()
    print("generated ring: %d elements, tunes %.6f %.6f" % (len(design.elements), table.q1, table.q2))
    c_twiss = cpp["BM_ModuleTwissCore"]
    c_track = cpp["BM_ModuleTrackCore"]
    print("twiss: Python %.1f us, C++ %.1f us, ratio %.3f; limit 1.3 x C++ + 50 us = %.1f us: %s"
          % (twiss * 1e6, c_twiss * 1e6, twiss / c_twiss, (1.3 * c_twiss + 50e-6) * 1e6,
             "met" if twiss <= 1.3 * c_twiss + 50e-6 else "NOT met"))
    print("track 1000 x 100: Python %.1f ms, C++ %.1f ms, ratio %.3f; limit 1.1 x C++: %s"
          % (track * 1e3, c_track * 1e3, track / c_track, "met" if track <= 1.1 * c_track else "NOT met"))


if __name__ == "__main__":
    main()
