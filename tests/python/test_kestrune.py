"""The Python module against the batch tool, and the calls it must refuse."""

import glob
import json
import math
import os
import subprocess
import tempfile
import unittest

import numpy as np

import kestrune

CLI = os.environ.get("KESTRUNE_CLI", "kestrune-cli")
EXAMPLES = os.environ.get("KESTRUNE_EXAMPLES", os.path.join(os.path.dirname(__file__), "..", "..", "examples"))
LATTICES = sorted(glob.glob(os.path.join(EXAMPLES, "*.lat")))
TRACK = ["50", "1", "0", "0.5", "0"]  # --track TURNS X XP Y YP (mm, mrad)


def cli_report(lattice, *options):
    """The report kestrune-cli writes for lattice with options, parsed as the module parses its own."""
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "report.json")
        subprocess.run([CLI, lattice, *options, "--report", path], check=False, capture_output=True)
        with open(path) as f:
            return json.load(f)


class AgreesWithTheBatchTool(unittest.TestCase):
    def test_every_example_gives_the_reports_numbers_to_the_last_digit(self):
        self.assertTrue(LATTICES, "no examples in " + EXAMPLES)
        for lattice in LATTICES:
            with self.subTest(lattice=os.path.basename(lattice)):
                design = kestrune.open(lattice)
                expected = cli_report(lattice)
                self.assertEqual(design.report(), expected)
                ring = design.ring()
                for key in ("ring", "radiation_integrals", "equilibrium"):
                    self.assertEqual(ring.get(key), expected.get(key))

                line = design.twiss(periodic=False)
                end = expected["line"]["end"]
                for column, key in (("betx", "beta_x_m"), ("alfx", "alpha_x"), ("mux", "phase_advance_x"),
                                    ("bety", "beta_y_m"), ("dx", "eta_x_m"), ("dpx", "eta_px")):
                    self.assertEqual(float(line[column][-1]), end[key], column)
                self.assertEqual(len(line), expected["line"]["element_count"] + 1)

                periodic = expected["periodic"]
                if periodic and periodic["stable"]:
                    table = design.twiss()
                    self.assertEqual(float(table.betx[0]), periodic["beta_x_m"])
                    self.assertEqual(float(table.bety[0]), periodic["beta_y_m"])
                    self.assertEqual(table.q1, periodic["tune_x"])
                    self.assertEqual(table.q2, periodic["tune_y"])
                    if expected["chromaticity"]:
                        self.assertEqual(table.dq1, expected["chromaticity"]["natural_x"])

                tracked = cli_report(lattice, "--track", *TRACK)["tracking"]
                self.assertEqual(design.tracking(TRACK), tracked)
                particles = np.array([[1e-3, 0, 0.5e-3, 0, 0, 0]])
                turns, elements = design.track(particles, int(TRACK[0]))
                self.assertEqual(bool(elements[0]), tracked["lost"])
                if tracked["lost"]:
                    self.assertEqual((turns[0], elements[0]), (tracked["lost_turn"], tracked["lost_element"]))

    def test_scans_and_settings_give_the_reports_sections(self):
        lattice = os.path.join(EXAMPLES, "dba-cell.lat")
        expected = cli_report(lattice, "--set", "beam.coupling_percent=2", "--dynamic-aperture", "--da-angles", "5",
                              "--da-turns", "30", "--momentum-acceptance", "--ma-turns", "30", "--ma-every", "10",
                              "--frequency-map", "4", "3", "10", "2", "--fm-plane", "x-delta", "--fm-turns", "32")
        design = kestrune.open(lattice)
        design.set("beam.coupling_percent", 2)
        self.assertEqual(design.ring()["equilibrium"], expected["equilibrium"])
        radial = design.dynamic_aperture(angles=5, turns=30)
        np.testing.assert_array_equal(radial["radius_mm"], expected["dynamic_aperture"]["radius_mm"])
        self.assertEqual(radial["area_mm2"], expected["dynamic_aperture"]["area_mm2"])
        acceptance = design.momentum_acceptance(turns=30, every=10)
        np.testing.assert_array_equal(acceptance["delta_plus"], expected["momentum_acceptance"]["delta_plus"])
        fm = design.frequency_map(4, 3, 10, 2, turns=32, plane="x-delta")
        diffusion = [np.nan if v is None else v for v in expected["frequency_map"]["diffusion"]]
        np.testing.assert_array_equal(fm["diffusion"], diffusion)


class ChangesTheDesign(unittest.TestCase):
    def test_an_element_changed_moves_the_tunes_and_a_refusal_keeps_the_design(self):
        design = kestrune.open(os.path.join(EXAMPLES, "fodo-cell.lat"))
        before = design.twiss()
        quad = design.elements[0]
        self.assertEqual((quad.name, quad.kind, quad.k), ("QF", "quadrupole", 3.0))
        quad.k = 3.1
        self.assertGreater(design.twiss().q1, before.q1)
        with self.assertRaises(kestrune.Error) as refusal:
            quad.length = -1
        self.assertEqual(str(refusal.exception), "the path length must not be negative!")
        self.assertEqual(quad.length, 0.1)
        self.assertIsInstance(refusal.exception, ValueError)

    def test_insert_replace_remove_and_save_round_trip(self):
        design = kestrune.open(os.path.join(EXAMPLES, "fodo-cell.lat"))
        count = len(design.elements)
        design.elements.insert(1, "sextupole", name="SX", length=0.1, m=5.0)
        self.assertEqual((design.elements[1].name, design.elements[1].m), ("SX", 5.0))
        with self.assertRaises(kestrune.Error):
            design.elements.insert(1, "quadrupole", k=float("inf"))
        self.assertEqual(len(design.elements), count + 1)
        design.elements.replace(1, "drift space")
        self.assertEqual((design.elements[1].kind, design.elements[1].length), ("drift space", 0.1))
        del design.elements[1]
        self.assertEqual(len(design.elements), count)
        # the new kinds: their fields as attributes, --set names reaching them by element name
        design.elements.insert(1, "rf cavity", name="CAV", voltage=2.5e5, harmonic=100)
        design.elements.insert(1, "thin multipole", name="MP", knl2=0.75)
        self.assertEqual((design.elements[1].kind, design.elements[1].knl2, design.elements[1].length),
                         ("thin multipole", 0.75, 0.0))
        design.set("CAV.voltage", 3e5)
        self.assertEqual((design.elements[2].voltage, design.elements[2].harmonic), (3e5, 100.0))
        del design.elements[1]
        del design.elements[1]
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "saved.lat")
            design.save(path)
            self.assertEqual(kestrune.open(path).twiss().q1, design.twiss().q1)

    def test_a_match_writes_its_values_into_the_design(self):
        design = kestrune.open(os.path.join(EXAMPLES, "fodo-cell.lat"))
        problem = {"variables": [{"element": "QF", "field": "k"}, {"element": "QD", "field": "k"}],
                   "constraints": [{"quantity": "tune_x", "value": 0.27},
                                   {"quantity": "tune_y", "value": 0.2}]}
        section = design.match(problem)
        self.assertTrue(section["converged"])
        self.assertEqual(design.elements[0].k, section["variables"][0]["final"])


class RefusesBadCalls(unittest.TestCase):
    def test_every_bad_call_raises_and_none_crashes(self):
        design = kestrune.open(os.path.join(EXAMPLES, "dba-cell.lat"))
        good = np.zeros((3, 6))
        nan = np.zeros((2, 6))
        nan[1, 0] = math.nan
        read_only = np.zeros((2, 6))
        read_only.flags.writeable = False
        calls = [
            (kestrune.Error, lambda: kestrune.open("/nonexistent/lattice.lat")),
            (kestrune.Error, lambda: kestrune.open(EXAMPLES)),
            (kestrune.Error, lambda: kestrune.import_madx(os.path.join(EXAMPLES, "dba-cell.madx"), line="NOLINE")),
            (TypeError, lambda: kestrune.open(None)),
            (kestrune.Error, lambda: design.track(np.zeros((3, 5)), 10)),
            (kestrune.Error, lambda: design.track(np.zeros(6), 10)),
            (kestrune.Error, lambda: design.track(np.zeros((3, 6), dtype=np.float32), 10)),
            (kestrune.Error, lambda: design.track(read_only, 10)),
            (kestrune.Error, lambda: design.track(nan, 10)),
            (kestrune.Error, lambda: design.track(good, -5)),
            (kestrune.Error, lambda: design.track(good, 0)),
            (kestrune.Error, lambda: design.track(good, 10, model="chaos")),
            (kestrune.Error, lambda: design.track(good, 10, aperture=-1.0)),
            (TypeError, lambda: design.track(None, 10)),
            (TypeError, lambda: design.track(good, None)),
            (kestrune.Error, lambda: design.tracking(["10", "x", "0", "0", "0"])),
            (kestrune.Error, lambda: design.dynamic_aperture(turns=-1)),
            (kestrune.Error, lambda: design.dynamic_aperture(angles=math.nan)),
            (kestrune.Error, lambda: design.momentum_acceptance(every=0)),
            (kestrune.Error, lambda: design.match({"variables": [], "constraints": []})),
            (kestrune.Error, lambda: design.match({"unknown": 1})),
            (kestrune.Error, lambda: design.set("ring.superperiods", -3)),
            (kestrune.Error, lambda: design.set("no.such.name", 1)),
            (kestrune.Error, lambda: setattr(design, "momentum", -1.0)),
            (kestrune.Error, lambda: setattr(design, "momentum", math.nan)),
            (kestrune.Error, lambda: design.set_particle("muon")),
            (kestrune.Error, lambda: design.elements.insert(0, "wiggler")),
            (kestrune.Error, lambda: setattr(design.elements[2], "k", math.nan)),
            (TypeError, lambda: setattr(design.elements[2], "k", None)),
            (AttributeError, lambda: setattr(design.elements[2], "voltage", 1.0)),
            (AttributeError, lambda: design.elements[0].k),
            (IndexError, lambda: design.elements[10000]),
            (IndexError, lambda: design.elements.remove(-10000)),
            (kestrune.Error, lambda: kestrune.Design().twiss()),
            (kestrune.Error, lambda: kestrune.Design().track(good, 10)),
            (kestrune.Error, lambda: design.save("/nonexistent/folder/x.lat")),
        ]
        text_before = design.report()
        for error, call in calls:
            with self.subTest(call=call.__code__.co_firstlineno):
                self.assertRaises(error, call)
        self.assertEqual(design.report(), text_before)

    def test_a_progress_callback_that_raises_stops_the_run_with_what_it_had(self):
        design = kestrune.open(os.path.join(EXAMPLES, "dba-cell.lat"))
        start = [1e-4, 0, 1e-4, 0, 0, 0]
        particles = np.tile(start, (100, 1))
        calls = []

        def stop(fraction):
            calls.append(fraction)
            raise KeyboardInterrupt

        # far more turns than run before the first report, 50 ms into the run
        with self.assertRaises(KeyboardInterrupt):
            design.track(particles, 1000000, progress=stop)
        self.assertEqual(len(calls), 1)
        self.assertLess(calls[0], 1)
        self.assertFalse(np.array_equal(particles[0], start))


@unittest.skipUnless(__import__("importlib").util.find_spec("pandas"), "pandas is not installed")
class ToPandas(unittest.TestCase):
    def test_the_table_becomes_a_data_frame(self):
        table = kestrune.open(os.path.join(EXAMPLES, "fodo-cell.lat")).twiss()
        frame = table.to_pandas()
        self.assertEqual(list(frame["betx"]), list(table.betx))
        self.assertEqual(frame.attrs["q1"], table.q1)


if __name__ == "__main__":
    unittest.main()
