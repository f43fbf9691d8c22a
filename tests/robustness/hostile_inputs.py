#!/usr/bin/env python3
"""Feeds the batch tool what a hostile or careless user would: hand-made pathological MAD-X and lattice
files, mutated variants of the examples and of tests/fuzz/corpus, every --set name with 19 values, the
six writers in eight on-disk situations, JSON inputs (match and part files) nested without end or of
millions of members, hand-made and mutated part files for --merge, threads under a memory limit, standard
output on a full disk, and scans whose work has no bound. Each run gets a time and a memory limit and is classed as a
crash (a signal, a sanitizer report), a hang (over the time limit), memory (bad_alloc or the limit), silent
nonsense (exit 0 with nan/inf in the output, or a writer that did on disk what it must not), a refusal
(exit 1 or 2 with a message) or accepted. Prints one table.

    tests/robustness/hostile_inputs.py build/kestrune-cli [--mutations 2400 1600] [--seed 1] [--only json]
    tests/robustness/hostile_inputs.py build-asan/kestrune-cli --only parts --memory-mb 0

The large and the mutated inputs are made in a temporary folder; nothing is written into the tree."""

import argparse
import json
import os
import random
import re
import resource
import shutil
import stat
import subprocess
import sys
import tempfile
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
EXAMPLES = ROOT / "examples"
CORPUS = ROOT / "tests" / "fuzz" / "corpus"
NONSENSE = re.compile(rb"(?<![A-Za-z])-?(nan|inf)(?![A-Za-z])", re.IGNORECASE)
CATEGORIES = ["crashes", "hangs", "memory", "silent nonsense", "refusals", "accepted"]


def limits(memory_mb):
    def apply():
        resource.setrlimit(resource.RLIMIT_AS, (memory_mb << 20, memory_mb << 20))
    return apply


def run(cli, args, timeout, memory_mb, cwd):
    try:
        p = subprocess.run([str(cli)] + args, capture_output=True, timeout=timeout, cwd=cwd,
                           preexec_fn=limits(memory_mb) if memory_mb else None)
    except subprocess.TimeoutExpired:
        return "hangs", None
    err = p.stderr
    if b"bad_alloc" in err or b"out of memory" in err or b"allocation-size-too-big" in err:
        return "memory", p
    if p.returncode < 0 or p.returncode > 2 or b"AddressSanitizer" in err or b"runtime error:" in err:
        return "crashes", p
    if p.returncode == 0:
        return ("silent nonsense" if NONSENSE.search(p.stdout) else "accepted"), p
    return ("refusals" if err.strip() else "silent nonsense"), p


# ----- hand-made inputs

def chain(first, op, term, n):
    return first + (op + term) * (n - 1)


def handmade_madx():
    line = "\nd: drift, l=1;\nbl: line=(d, x);\n"
    deferred = "a0 := 1;\n" + "".join(f"a{i} := a{i-1} + a{i-1};\n" for i in range(1, 31))
    refpos = "q: quadrupole, l=0.2, k1=1;\ns0: sequence, l=1; q, at=0.5; endsequence;\n" + "".join(
        f"s{i}: sequence, l=1, refpos=q; s{i-1}, at=0.5; endsequence;\n" for i in range(1, 31))
    frm = "m: marker;\ns: sequence, l=40001, refer=entry;\nn0: m, at=0;\n" + "".join(
        f"n{i}: m, at=1, from=n{i-1};\n" for i in range(1, 40000)) + "endsequence;\n"
    cases = {
        "flat sum of 50000 terms": "x = " + chain("1", "+", "1", 50000) + ";\nq: quadrupole, l=1, k1=x;\nbl: line=(q);",
        "deferred chain of 1e5 terms": "x := " + chain("1", "-", "1", 100000) + ";\nq: quadrupole, l=1, k1:=x;\nbl: line=(q);",
        "beam, -;": "beam, -;",
        "energy 1e300": "beam, energy=1e300;" + line + "x: drift, l=1;",
        "pc 1e300": "beam, pc=1e300;" + line + "x: drift, l=1;",
        "gamma 1e300": "beam, gamma=1e300;" + line + "x: drift, l=1;",
        "30-level doubling chain": deferred + "q: quadrupole, l=1, k1:=a30/2^30;\nbl: line=(q);",
        "1e18 empty repetitions": "d: drift, l=1;\nbl: line=(d, 1000000*(1000000*(1000000*())));",
        "30 nested refpos sequences": refpos,
        "from= chain of 40000 nodes": frm,
        "element of 1e6 m": "x: drift, l=1e6;" + line,
        "element of 1e300 m": "x: drift, l=1e300;" + line,
        "drift of -1e300 m": "x: drift, l=-1e300;" + line,
        "sequence of 1e300 m": "d: drift, l=1; s: sequence, l=1e300; d, at=0.5; endsequence;",
        "call /dev/zero": 'call, file="/dev/zero";',
        "call /dev/stdin": 'call, file="/dev/stdin";',
        "call a directory": 'call, file="/";',
        "bend k0 differs": "x: sbend, l=1, angle=1e-20, k0=0.05;" + line,
        "misaligned dx": "x: quadrupole, l=1, k1=1, dx=0.001;" + line,
        "misaligned dpsi": "x: quadrupole, l=1, k1=1, dpsi=0.001;" + line,
        "ion charge 0": "beam, particle=ion, mass=12, charge=0;" + line + "x: drift, l=1;",
        "ion charge -3e9": "beam, particle=ion, mass=12, charge=-3e9;" + line + "x: drift, l=1;",
        "ion charge 1e300": "beam, particle=ion, mass=12, charge=1e300;" + line + "x: drift, l=1;",
        "mass 1e300": "beam, particle=ion, mass=1e300, charge=1;" + line + "x: drift, l=1;",
        "empty line": "bl: line=();",
        "0*cell": "d: drift, l=1; c: line=(d); bl: line=(0*c);",
        "10000000*d": "d: drift, l=1; bl: line=(10000000*d);",
        "1e6-digit number": "a = " + "9" * 1000000 + ";",
        "NUL byte": "a = 1\0;",
        "non-UTF-8 byte": "a = 1 \xff;",
        "499 deferred chain": "b0 := 1;\n" + "".join(f"b{i} := b{i-1} + 1;\n" for i in range(1, 500)) + "q: quadrupole, l=1, k1:=b499;\nbl: line=(q);",
        "5000 deferred chain": "b0 := 1;\n" + "".join(f"b{i} := b{i-1} + 1;\n" for i in range(1, 5000)) + "q: quadrupole, l=1, k1:=b4999;\nbl: line=(q);",
        "circular deferred": "a := b; b := a;\nq: quadrupole, l=1, k1:=a;\nbl: line=(q);",
        "nested parentheses": "a = " + "(" * 5000 + "1;\nq: quadrupole, l=1, k1=a;\nbl: line=(q);",
        "nested lines": "x: line=(" + "(" * 5000 + "a" + ")" * 5000 + ");",
        "lenient statements": "init: beta0, betx=1; qx = table(summ, q1); select, flag=twiss, pattern=^q\\.*;\n"
                              "q: quadrupole, l=1, k1=1; d: drift, l=1; c: line:=(q, d); bl: line=(c, -3*q);",
        "unclosed string": "a = 'open;",
        "unclosed comment": "/* never closed\nq: quadrupole, l=1;",
        "binary": "\x01\x02\xff\xfe;",
        "only semicolons": ";;;",
        "seqedit": "seqedit, sequence=s;",
        "macro": "m: macro = { twiss; };",
        "if block": "if (a > 1) { b = 2; }",
        "5001 elements": "d: drift, l=1e-3; bl: line=(5001*d);",
        "sequence in itself": "s: sequence, l=1; s, at=0.5; endsequence;",
        "overlapping nodes": "q: quadrupole, l=1; s: sequence, l=3; q, at=1; q, at=1.2; endsequence;",
    }
    return cases


def handmade_lattice():
    head = "1003\r\n1 0\r\n201 1  4.0E-0001  1.0E+0000\r\n"
    drift = "50          D 1 0 0.4 0 0 0 0 0 0 0 0 0 0\r\n11 0 0.4 -61 -59\r\n"
    particle = "30 0       electron    1    0.001 511003.400 1000000000.000\r\n"
    return {
        "no element-count record": "1003\r\n1 0\r\n" + drift + particle,
        "header length -1": "1003\r\n1 0\r\n201 1 -1 1\r\n" + drift + particle,
        "charge 0": head + drift + "30 0       electron    0    0.001 511003.400 1000000000.000\r\n",
        "rest energy 0": head + drift + "30 1            ion    1    0.000 0.000 1000000000.000\r\n",
        "1e308 in a field": head + "50          D 1 0 0.4 1e308 0 0 0 0 0 0 0 0 0\r\n11 0 0.4 -61 -59\r\n" + particle,
        "negative length": head + "50          D 1 0 -0.4 0 0 0 0 0 0 0 0 0 0\r\n11 0 0.4 -61 -59\r\n" + particle,
        "5001 elements": "1003\r\n1 0\r\n201 5001 1 1\r\n",
        "two billion steps": head + drift + "5 0 2147483647 0.000\r\n" + particle,
        "momentum 1e308": head + drift + "30 0       electron    1    0.001 511003.400 1e308\r\n",
        "rf 1e14 Hz": "1003\r\n1 1\r\n101 2e9 0.1\r\n102 1 1 0.4 1\r\n103 1e14 0 0 1 0\r\n" + drift + particle,
        "empty file": "",
        "binary": "\x89PNG\r\n\x1a\n\0\0\0\rIHDR",
    }


def set_cases():
    values = ["0", "-0", "1", "-1", "0.5", "1e-320", "1e308", "-1e308", "1.8e302", "2147483647", "2147483648",
              "-2147483649", "nan", "inf", "1e999", "", "abc", "1,5", " 7 "]
    names = []
    help_text = subprocess.run([str(ARGS.cli), "--help"], capture_output=True, text=True).stdout
    for m in re.finditer(r"^\s{2,}((?:beam|ring|rf|vacuum|lifetime)\.[a-z_.]+)\s", help_text, re.M):
        names.append(m.group(1))
    return [(n, v) for n in sorted(set(names)) for v in values]


# ----- mutations

def mutate(text, rng, alphabet):
    for _ in range(rng.randint(1, 4)):
        if not text:
            break
        at = rng.randrange(len(text))
        kind = rng.randrange(5)
        if kind == 0:
            text = text[:at] + rng.choice(alphabet) + text[at + 1:]
        elif kind == 1:
            text = text[:at] + text[at + rng.randint(1, 30):]
        elif kind == 2:
            text = text[:at] + rng.choice(alphabet) + text[at:]
        elif kind == 3:
            src = rng.randrange(len(text))
            text = text[:at] + text[src:src + rng.randint(1, 200)] + text[at:]
        else:
            # a number made large, small or negative
            m = list(re.finditer(r"\d+(\.\d*)?", text))
            if m:
                g = rng.choice(m)
                text = text[:g.start()] + rng.choice(["1e308", "-1e308", "0", "1e-320", "2147483648", "-1"]) + text[g.end():]
    return text


def seeds(kind):
    if kind == "madx":
        files = sorted(EXAMPLES.glob("*.madx")) + sorted((CORPUS / "madx").glob("*.madx"))
    else:
        files = sorted(EXAMPLES.glob("*.lat")) + sorted((CORPUS / "lattice").glob("*.lat"))
    return [f.read_bytes().decode("latin-1") for f in files]


# ----- writers on disk

WRITERS = {"--save": "lat", "--report": "json", "--twiss": "csv", "--tfs": "tfs", "--export-madx": "madx",
           "--profile": "csv"}


def writer_cases(work):
    """(name, args, check) per writer and situation; check returns True when the disk is as it must be."""
    cases = []
    lattice = work / "in.lat"
    shutil.copy(EXAMPLES / "dba-cell.lat", lattice)
    for option, ext in WRITERS.items():
        base = work / option.strip("-")
        base.mkdir()
        target = base / f"out.{ext}"

        def new(t=target):
            return t.exists()
        cases.append((f"{option} new file", [str(lattice), option, str(target)], new, None))

        old = base / f"old.{ext}"
        def replaced(t=old):
            return t.read_bytes() != b"old"
        cases.append((f"{option} replaces a file", [str(lattice), option, str(old)], replaced,
                      lambda t=old: t.write_bytes(b"old")))

        ro = base / f"ro.{ext}"
        def kept_ro(t=ro):
            return t.read_bytes() == b"keep"
        cases.append((f"{option} read-only target", [str(lattice), option, str(ro)], kept_ro,
                      lambda t=ro: (t.write_bytes(b"keep"), t.chmod(0o444))))

        private = base / f"private.{ext}"
        def mode_kept(t=private):
            return stat.S_IMODE(t.stat().st_mode) == 0o600
        cases.append((f"{option} mode 0600", [str(lattice), option, str(private)], mode_kept,
                      lambda t=private: (t.write_bytes(b"x"), t.chmod(0o600))))

        real = base / "real"
        link = base / f"link.{ext}"
        def through(l=link, r=real):
            return l.is_symlink() and (r / f"t.{ext}").exists()
        cases.append((f"{option} symbolic link", [str(lattice), option, str(link)], through,
                      lambda l=link, r=real: (r.mkdir(), (r / f"t.{ext}").write_bytes(b"x"),
                                              l.symlink_to(r / f"t.{ext}"))))

        victim = base / "victim"
        planted = base / f"planted.{ext}"
        def untouched(v=victim):
            return v.read_bytes() == b"victim"
        cases.append((f"{option} planted link", [str(lattice), option, str(planted)], untouched,
                      lambda v=victim, p=planted: (v.write_bytes(b"victim"),
                                                   Path(str(p) + ".kestrune-tmp").symlink_to(v))))

        def input_kept(l=lattice):
            return l.read_bytes() == (EXAMPLES / "dba-cell.lat").read_bytes()
        cases.append((f"{option} output is the input", [str(lattice), option, str(lattice)], input_kept, None))

        missing = base / "no" / f"such.{ext}"
        cases.append((f"{option} missing folder", [str(lattice), option, str(missing)],
                      lambda m=missing: not m.exists(), None))
    return cases


# ----- JSON inputs, part files, threads, outputs and bounds

MATCH = ('{"start": "periodic", "variables": [{"element": "QF", "field": "k"}], '
         '"constraints": [{"quantity": "tune_x", "value": 0.3}]}')


def json_cases(work):
    """(family, name, args, memory limit in MB or None, extra check) per case."""
    deep = '{"x": ' + "[" * 100000 + "]" * 100000 + ', "y": 0}'
    keys = "{" + ",".join(f'"k{i}": {i}' for i in range(200000)) + "}"
    files = {"100000 levels": deep, "200000 keys": keys, "number 1e999": '{"tolerance": 1e999}',
             "empty": "", "binary": "\x00\xff{", "string of 10 MB": '"' + "x" * 10000000 + '"',
             "match": MATCH}
    rng = random.Random(ARGS.seed)
    for i in range(60):
        files[f"mutated match #{i}"] = mutate(MATCH, rng, '{}[]":,0123456789.eE-truefalsn')
    cases = []
    for name, text in files.items():
        path = work / f"{len(cases)}.json"
        path.write_bytes(text.encode("latin-1", "replace"))
        cases.append(("JSON inputs", f"--match {name}", [str(EXAMPLES / "dba-cell.lat"), "--match", str(path)]))
        cases.append(("JSON inputs", f"--merge {name}", ["--merge", str(path)]))
    big = work / "big.json"
    with open(big, "wb") as f:
        f.truncate(65 << 20)
    fifo = work / "fifo.json"
    os.mkfifo(fifo)
    for path in (big, fifo, Path("/dev/zero"), work):
        cases.append(("JSON inputs", f"--merge {path.name}", ["--merge", str(path)]))
        cases.append(("JSON inputs", f"--match {path.name}", [str(EXAMPLES / "dba-cell.lat"), "--match", str(path)]))
    return [(f, n, a, None) for f, n, a in cases]


def part_cases(cli, work):
    scans = [str(EXAMPLES / "dba-cell.lat"), "--dynamic-aperture", "--da-angles", "4", "--da-turns", "20",
             "--da-grid", "3", "2", "10", "5", "--momentum-acceptance", "--ma-turns", "8", "--ma-every", "10"]
    parts = []
    for k in (1, 2):
        path = work / f"part{k}.json"
        subprocess.run([str(cli)] + scans + ["--part", f"{k}/2", "--report", str(path)], capture_output=True)
        parts.append(json.loads(path.read_text()))
    foreign = work / "foreign.json"
    subprocess.run([str(cli)] + scans + ["--physical-aperture", "29", "15", "--part", "2/2", "--report",
                                         str(foreign)], capture_output=True)
    rng = random.Random(ARGS.seed + 1)
    values = [None, 0, -1, 2 ** 31, 2 ** 32 + 1, 2 ** 64, 1e308, "x", [], {}, True, [None] * 3]

    def mutated(doc):
        doc = json.loads(json.dumps(doc))
        for _ in range(rng.randint(1, 3)):
            target = doc
            path = []
            while isinstance(target, (dict, list)) and target and rng.random() < 0.7:
                key = rng.choice(list(target)) if isinstance(target, dict) else rng.randrange(len(target))
                path.append((target, key))
                target = target[key]
            if not path:
                continue
            parent, key = path[-1]
            action = rng.randrange(3)
            if action == 0 and isinstance(parent, dict):
                del parent[key]
            elif action == 1 and isinstance(parent[key], list):
                parent[key] = parent[key][:rng.randrange(len(parent[key]) + 1)] + [rng.choice(values)] * rng.randrange(3)
            else:
                parent[key] = rng.choice(values)
        return doc

    cases = []
    hand = {"count 0": dict(parts[1], parts=0), "count 2^31": dict(parts[1], parts=2 ** 31),
            "count 2^32+1": dict(parts[1], parts=2 ** 32 + 1), "index 2^32+2": dict(parts[1], part=2 ** 32 + 2),
            "no angles": {**parts[1], "dynamic_aperture": {k: v for k, v in parts[1]["dynamic_aperture"].items()
                                                          if k != "angles_rad"}},
            "no fingerprint": {k: v for k, v in parts[1].items() if k != "fingerprint"},
            "a list": [parts[1]], "null section": dict(parts[1], dynamic_aperture=None)}
    for name, doc in hand.items():
        cases.append((name, doc))
    for i in range(ARGS.part_mutations):
        cases.append((f"mutated #{i}", mutated(parts[1])))
    out = []
    first = work / "part1.json"
    for name, doc in cases:
        path = work / f"p{len(out)}.json"
        path.write_text(json.dumps(doc))
        out.append(("part files", name, ["--merge", str(first), str(path)], None))
    out.append(("part files", "foreign part", ["--merge", str(first), str(foreign)], None))
    out.append(("part files", "report onto a part", ["--merge", str(first), str(work / "part2.json"),
                                                     "--report", str(work / "part2.json")], None))
    return out


def thread_cases():
    rays = [str(EXAMPLES / "dba-cell.lat"), "--dynamic-aperture", "--da-angles", "300", "--da-turns", "10",
            "--report", "-"]
    cases = []
    for threads in ("0", "1", "256", "257", "-1", "1e9", "x"):
        for memory in (600, 2000):
            cases.append(("threads", f"--threads {threads} in {memory} MB", rays + ["--threads", threads], memory))
    return cases


def output_cases(work):
    lattice = str(EXAMPLES / "dba-cell.lat")
    return [("outputs", " ".join(a)[:60], a, None) for a in (
        [lattice, "--list", "magnets"], [lattice, "--report", "-"], [lattice, "--track", "5000", "1", "0", "0", "0"],
        [lattice, "--scan", "energy_acceptance", "1", "3"], ["--merge", str(work / "part1.json"),
                                                            str(work / "part2.json")],
        ["--validation", str(ROOT / "validation")], ["--help"])]


def bound_cases():
    lattice = str(EXAMPLES / "dba-cell.lat")
    return [("bounds", " ".join(a)[:60], [lattice] + a, None) for a in (
        ["--da-grid", "1000", "1000", "20", "8"], ["--dynamic-aperture", "--da-turns", "10000000"],
        ["--dynamic-aperture", "--da-angles", "1000", "--da-turns", "10000000"],
        ["--da-grid", "1000", "1000", "20", "8", "--da-turns", "10000000"],
        ["--momentum-acceptance", "--ma-turns", "10000000"], ["--track", "1000000", "1", "0", "0", "0"],
        ["--track", "1000000", "1", "0", "0", "0", "--tracking-model", "linear"])]


def full_disk_run(cli, args, timeout, memory_mb, cwd):
    """run() with standard output on /dev/full: status 1 with the message is a refusal, anything else is
    silent nonsense."""
    try:
        with open("/dev/full", "wb") as full:
            p = subprocess.run([str(cli)] + args, stdout=full, stderr=subprocess.PIPE, timeout=timeout, cwd=cwd,
                               preexec_fn=limits(memory_mb) if memory_mb else None)
    except subprocess.TimeoutExpired:
        return "hangs", None
    if p.returncode < 0 or p.returncode > 2 or b"AddressSanitizer" in p.stderr or b"runtime error:" in p.stderr:
        return "crashes", p
    ok = p.returncode == 1 and b"cannot write to standard output" in p.stderr
    return ("refusals" if ok else "silent nonsense"), p


def bounded_run(cli, args, timeout, memory_mb, cwd):
    """run() for scans that may be long: a run past the time limit counts as bounded when it showed its
    progress, as a hang otherwise."""
    try:
        p = subprocess.run([str(cli)] + args + ["--report", str(cwd / "bound.json")],
                           capture_output=True, timeout=timeout, cwd=cwd,
                           preexec_fn=limits(memory_mb) if memory_mb else None)
    except subprocess.TimeoutExpired as e:
        return ("accepted" if e.stderr and b"% done" in e.stderr else "hangs"), None
    err = p.stderr
    if p.returncode < 0 or p.returncode > 2 or b"AddressSanitizer" in err or b"runtime error:" in err:
        return "crashes", p
    return ("accepted" if p.returncode == 0 else "refusals" if err.strip() else "silent nonsense"), p


# ----- the table

def tally(rows, family, outcome):
    rows.setdefault(family, {c: 0 for c in ["cases"] + CATEGORIES})
    rows[family]["cases"] += 1
    rows[family][outcome] += 1


def main():
    global ARGS
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("cli", type=Path)
    parser.add_argument("--mutations", type=int, nargs=2, default=[2400, 1600], metavar=("MADX", "LATTICE"))
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--timeout", type=float, default=10.0)
    parser.add_argument("--memory-mb", type=int, default=4096, help="0: no limit (needed under ASan)")
    parser.add_argument("--verbose", action="store_true")
    parser.add_argument("--keep", type=Path, help="folder to copy the inputs that were not refused or read cleanly to")
    parser.add_argument("--part-mutations", type=int, default=300)
    parser.add_argument("--only", choices=["json", "parts"],
                        help="json: only the JSON, part-file, thread, output and bound cases; parts: only the "
                             "part files (for a sanitizer build, with --memory-mb 0)")
    ARGS = parser.parse_args()
    cli = ARGS.cli.resolve()
    rng = random.Random(ARGS.seed)
    rows = {}
    details = []
    with tempfile.TemporaryDirectory(prefix="kestrune-hostile-") as tmp:
        work = Path(tmp)

        def input_case(family, name, text, suffix, extra):
            path = work / f"case{suffix}"
            path.write_bytes(text.encode("latin-1", "replace") if isinstance(text, str) else text)
            outcome, p = run(cli, [str(path)] + extra, ARGS.timeout, ARGS.memory_mb, work)
            tally(rows, family, outcome)
            if outcome == "refusals" and re.search(rb"cannot (read lattice|import MAD-X|open)", p.stderr):
                NAMING["refusals"] += 1
                NAMING["name the file"] += str(path).encode() in p.stderr
                if str(path).encode() not in p.stderr:
                    details.append((family, name, "refusal without the file's name", p.stderr[-300:]))
                NAMING["name a line"] += re.search(rb"line \d+", p.stderr) is not None
            if outcome not in ("refusals", "accepted"):
                details.append((family, name, outcome, p.stderr[-300:] if p else b""))
                if ARGS.keep:
                    ARGS.keep.mkdir(parents=True, exist_ok=True)
                    shutil.copy(path, ARGS.keep / f"{family.replace(' ', '-')}-{name.strip('#')[:40]}{suffix}")

        (work / "json").mkdir()
        parts_only = ARGS.only == "parts"
        for family, name, args, memory in ((json_cases(work / "json") if not parts_only else []) +
                                           part_cases(cli, work / "json") + (thread_cases() if not parts_only else [])):
            outcome, p = run(cli, args, ARGS.timeout, memory or ARGS.memory_mb, work)
            tally(rows, family, outcome)
            if outcome not in ("refusals", "accepted"):
                details.append((family, name, outcome, p.stderr[-300:] if p else b""))
        for family, name, args, memory in (output_cases(work / "json") if not parts_only else []):
            outcome, p = full_disk_run(cli, args, ARGS.timeout, ARGS.memory_mb, work)
            tally(rows, family, outcome)
            if outcome not in ("refusals", "accepted"):
                details.append((family, name, outcome, p.stderr[-300:] if p else b""))
        for family, name, args, memory in (bound_cases() if not parts_only else []):
            outcome, p = bounded_run(cli, args, ARGS.timeout, ARGS.memory_mb, work)
            tally(rows, family, outcome)
            if outcome not in ("refusals", "accepted"):
                details.append((family, name, outcome, p.stderr[-300:] if p else b""))

        report = ["--report", "-", "--list", "magnets", "--list", "lattice"]
        for name, text in (handmade_madx().items() if not ARGS.only else []):
            input_case("hand-made MAD-X", name, text, ".madx", report)
        for name, text in (handmade_lattice().items() if not ARGS.only else []):
            input_case("hand-made lattice", name, text, ".lat", report)
        madx_seeds, lattice_seeds = seeds("madx"), seeds("lattice")
        if ARGS.only:
            ARGS.mutations = [0, 0]
        for i in range(ARGS.mutations[0]):
            text = mutate(rng.choice(madx_seeds), rng, "0123456789 ;,:=()-*/+^.eE{}'\"\nqdlineaxt")
            input_case("mutated MAD-X", f"#{i}", text.replace("call", "c_ll"), ".madx", report)
        for i in range(ARGS.mutations[1]):
            text = mutate(rng.choice(lattice_seeds), rng, "0123456789 -+.eE\r\n\t50x")
            input_case("mutated lattice", f"#{i}", text, ".lat", report + ["--list", "ring"])

        for name, value in (set_cases() if not ARGS.only else []):
            outcome, p = run(cli, [str(EXAMPLES / "dba-cell.lat"), "--set", f"{name}={value}", "--report", "-",
                                   "--list", "ring", "--list", "rf"], ARGS.timeout, ARGS.memory_mb, work)
            if outcome == "accepted" and p is not None and value.strip() in (
                    "1e308", "-1e308", "1.8e302", "2147483647", "2147483648", "1e-320"):
                # an extreme value taken must leave the report's results as results: no more nulls than
                # the ordinary value 1 of the same box gives (or the file as it is, where 1 is refused)
                if name not in BASELINE_NULLS:
                    BASELINE_NULLS[name] = baseline_nulls(cli, work, name)
                if p.stdout.count(b"null") > BASELINE_NULLS[name]:
                    outcome = "silent nonsense"
            tally(rows, "--set NAME=VALUE", outcome)
            if outcome not in ("refusals", "accepted"):
                details.append(("--set", f"{name}={value}", outcome, p.stderr[-300:] if p else b""))

        (work / "writers").mkdir()
        for name, args, check, prepare in (writer_cases(work / "writers") if not ARGS.only else []):
            if prepare:
                prepare()
            outcome, p = run(cli, args, ARGS.timeout, ARGS.memory_mb, work)
            if outcome in ("accepted", "refusals") and not check():
                outcome = "silent nonsense"
            tally(rows, "writers on disk", outcome)
            if outcome not in ("refusals", "accepted"):
                details.append(("writer", name, outcome, p.stderr[-300:] if p else b""))

    total = {c: sum(r[c] for r in rows.values()) for c in ["cases"] + CATEGORIES}
    header = f"{'':22}" + "".join(f"{c:>17}" for c in ["cases"] + CATEGORIES)
    print(header)
    for family, r in list(rows.items()) + [("total", total)]:
        print(f"{family:22}" + "".join(f"{r[c]:>17}" for c in ["cases"] + CATEGORIES))
    print(f"input files refused by the readers: {NAMING['refusals']}, naming the file: {NAMING['name the file']}, "
          f"naming a line: {NAMING['name a line']}")
    for family, name, outcome, err in details if ARGS.verbose else details[:20]:
        print(f"  {outcome}: {family} {name[:60]!r}: {err.decode('utf-8', 'replace').strip()[-200:]}")
    bad = total["crashes"] + total["hangs"] + total["memory"] + total["silent nonsense"]
    return 1 if bad else 0


BASELINE_NULLS = {}
NAMING = {"refusals": 0, "name the file": 0, "name a line": 0}
ARGS = None


def baseline_nulls(cli, work, name):
    for args in (["--set", f"{name}=1"], []):
        p = subprocess.run([str(cli), str(EXAMPLES / "dba-cell.lat")] + args + ["--report", "-"],
                           capture_output=True, cwd=work)
        if p.returncode == 0:
            return p.stdout.count(b"null")
    return 0


if __name__ == "__main__":
    sys.exit(main())
