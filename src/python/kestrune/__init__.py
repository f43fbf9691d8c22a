"""Kestrune from Python: designs, optics, tracking and scans of the program's core.

    import kestrune
    design = kestrune.open("examples/dba-cell.lat")
    table = design.twiss()
    print(table.q1, table.q2, table.betx.max())

Every refusal of the program raises kestrune.Error (a ValueError) with the program's message. Lengths are
in m, momenta in eV; the scans and the report keep the units of the batch tool's options and keys.
"""

import builtins as _builtins
import json as _json
import os as _os

import numpy as _np

from ._kestrune import Design, Element, Elements, Error, import_madx, open  # noqa: A004

for _type in (Design, Element, Elements, Error):
    _type.__module__ = __name__

__all__ = ["Design", "Element", "Elements", "Error", "Twiss", "import_madx", "open"]


class Twiss:
    """The lattice functions of the line pass: numpy columns s (m), betx (m), alfx, mux (units of 2 pi),
    bety, alfy, muy, dx (m), dpx, and element (the element after which the row is; 0 for the start),
    with the ring's summary q1, q2 (tunes) and dq1, dq2 (natural chromaticities), None where the design
    has none."""

    columns = ("s", "betx", "alfx", "mux", "bety", "alfy", "muy", "dx", "dpx")

    def __init__(self, data):
        for name in self.columns + ("element", "q1", "q2", "dq1", "dq2"):
            setattr(self, name, data[name])

    def __len__(self):
        """The number of rows."""
        return len(self.s)

    def __getitem__(self, name):
        """The column called name."""
        if name not in self.columns and name != "element":
            raise KeyError(name)
        return getattr(self, name)

    def __repr__(self):
        return "<Twiss %d rows, q1=%r, q2=%r>" % (len(self), self.q1, self.q2)

    def to_pandas(self):
        """The columns as a pandas DataFrame, the summary in its attrs; needs pandas."""
        import pandas

        frame = pandas.DataFrame({name: self[name] for name in ("element",) + self.columns})
        frame.attrs.update(q1=self.q1, q2=self.q2, dq1=self.dq1, dq2=self.dq2)
        return frame


def _arrays(section):
    """A report section with its lists of numbers as numpy arrays (None becomes nan)."""
    if not isinstance(section, dict):
        return section
    out = {}
    for key, value in section.items():
        if isinstance(value, list) and value and all(isinstance(v, int) and not isinstance(v, bool) for v in value):
            out[key] = _np.array(value, dtype=int)
        elif isinstance(value, list) and all(
            v is None or (isinstance(v, (int, float)) and not isinstance(v, bool)) for v in value
        ):
            out[key] = _np.array([_np.nan if v is None else v for v in value], dtype=float)
        else:
            out[key] = value
    return out


def _text(value):
    """A number as the batch tool's option takes it (shortest text that reads back the same)."""
    return repr(value) if isinstance(value, float) else str(value)


def _twiss(self, periodic=True, slices=False):
    """The lattice functions along the line pass as a Twiss table: at every element end, or with
    slices=True at every slice the pass takes. periodic=True starts from the periodic solution of the
    cell (raises Error when it has none), else from the design's start values."""
    return Twiss(self._twiss(bool(periodic), bool(slices)))


def _report(self, progress=None):
    """The batch tool's report (what kestrune-cli LATTICE --report writes, with the values of
    Design.set) as a dict with the same keys."""
    return self._report(progress)


def _ring(self):
    """The report's ring, radiation_integrals and equilibrium sections as a dict (empty when the cell has
    no periodic solution)."""
    return self._ring()


def _aperture(physical_aperture_mm):
    x, y = physical_aperture_mm
    return ("physical_aperture", _text(x) + " " + _text(y))


def _dynamic_aperture(
    self, angles=21, turns=1000, delta_percent=0, resolution_mm=0.1, physical_aperture_mm=(30, 15), threads=0,
    progress=None,
):
    """The dynamic aperture at the ring's start by radial search, as --dynamic-aperture with --da-angles,
    --da-turns, --da-delta, --da-resolution, --physical-aperture and --threads: the report's
    dynamic_aperture section, its lists as numpy arrays. progress(fraction) is called as it goes;
    Ctrl+C stops it."""
    options = [("da_angles", _text(angles)), ("da_turns", _text(turns)), ("da_delta", _text(delta_percent)),
               ("da_resolution", _text(resolution_mm)), _aperture(physical_aperture_mm),
               ("threads", _text(threads))]
    return _arrays(self._scans(True, False, False, options, progress)["dynamic_aperture"])


def _dynamic_aperture_grid(
    self, nx, ny, x_max_mm, y_max_mm, turns=1000, delta_percent=0, physical_aperture_mm=(30, 15), threads=0,
    progress=None,
):
    """A grid of nx by ny start amplitudes tracked over turns, as --da-grid: the report's
    dynamic_aperture_grid section, its lists as numpy arrays."""
    grid = " ".join(_text(v) for v in (nx, ny, x_max_mm, y_max_mm))
    options = [("da_grid", grid), ("da_turns", _text(turns)), ("da_delta", _text(delta_percent)),
               _aperture(physical_aperture_mm), ("threads", _text(threads))]
    return _arrays(self._scans(False, True, False, options, progress)["dynamic_aperture_grid"])


def _momentum_acceptance(
    self, turns=512, resolution_percent=0.01, every=1, physical_aperture_mm=(30, 15), threads=0, progress=None
):
    """The local momentum acceptance at the element starts of one period, rf on, as
    --momentum-acceptance with --ma-turns, --ma-resolution, --ma-every: the report's
    momentum_acceptance section, its lists as numpy arrays."""
    options = [("ma_turns", _text(turns)), ("ma_resolution", _text(resolution_percent)), ("ma_every", _text(every)),
               _aperture(physical_aperture_mm), ("threads", _text(threads))]
    return _arrays(self._scans(False, False, True, options, progress)["momentum_acceptance"])


def _frequency_map(
    self, nx, ny, x_max_mm, y_max, turns=512, plane="xy", delta_percent=0, per_turn=False,
    physical_aperture_mm=(30, 15), threads=0, progress=None,
):
    """The frequency map of nx by ny start amplitudes, as --frequency-map: x from x_max_mm / nx to
    x_max_mm, and y from y_max / ny to y_max (mm, plane "xy", at delta_percent) or the momentum deviation
    from -y_max to y_max (%, plane "x-delta"); each point tracked 2 x turns (rf off), the tunes of both
    halves and the diffusion index log10(sqrt(dQx^2 + dQy^2)), per turn with per_turn. Returns the
    report's frequency_map section, its lists as numpy arrays (NaN where a point has no tunes)."""
    grid = " ".join(_text(v) for v in (nx, ny, x_max_mm, y_max))
    options = [("frequency_map", grid), ("fm_turns", _text(turns)), ("fm_plane", str(plane)),
               ("fm_per_turn", "1" if per_turn else "0"), ("da_delta", _text(delta_percent)),
               _aperture(physical_aperture_mm), ("threads", _text(threads))]
    return _arrays(self._scans(False, False, False, options, progress)["frequency_map"])


def _match(self, problem, progress=None):
    """Runs a match as --match does and writes the best values into the design. problem: a dict in the
    match file's format, its JSON text, or the name of a match file. Returns the report's match section.
    progress(fraction of the iteration limit) is called after every iteration; Ctrl+C stops the match
    with the best values so far in the design."""
    if isinstance(problem, dict):
        text = _json.dumps(problem)
    elif isinstance(problem, (str, _os.PathLike)) and _os.path.isfile(problem):
        with _builtins.open(problem) as f:
            text = f.read()
    elif isinstance(problem, str):
        text = problem
    else:
        raise TypeError("match takes a dict, a JSON text or a match file name")
    return self._match(text, progress)


Design.twiss = _twiss
Design.report = _report
Design.ring = _ring
Design.dynamic_aperture = _dynamic_aperture
Design.dynamic_aperture_grid = _dynamic_aperture_grid
Design.momentum_acceptance = _momentum_acceptance
Design.frequency_map = _frequency_map
Design.match = _match
