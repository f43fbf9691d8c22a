"""The mode emittances of the coupled-double-bend ring from the Accelerator Toolbox (pyat), as a second
reference beside MAD-X's EMIT: ohmi_envelope on the ring with its solenoids, 3 MV of rf at harmonic 173
in eight thin cavities, one at each cell start, radiation in the bends only.

Run with pyat on the path:  python3 coupled-double-bend-envelope.py  (from validation/).
pyat's MAD-X reader turns solenoids into drifts, so the solenoids are put back by hand (SolenoidLinearPass,
K = KS).
"""
import numpy as np
import at

ring = at.load_madx("coupled-double-bend.madx", use="ring", energy=2.5e9)
elements = []
for e in ring:
    if e.FamName == "DL" and (not elements or elements[-1].FamName != "SOL"):
        elements.append(at.RFCavity("RF", 0.0, 3.0e6 / 8, 500.618669407e6, 173, 2.5e9))
    if e.FamName == "SOL":
        elements.append(at.Element("SOL", Length=0.5, K=0.15, PassMethod="SolenoidLinearPass"))
    else:
        elements.append(e)
lattice = at.Lattice(elements, energy=2.5e9, periodicity=1, particle="electron")
for e in lattice:
    if isinstance(e, (at.Dipole, at.Quadrupole, at.Sextupole)):
        e.NumIntSteps = 200
    if isinstance(e, at.Dipole):
        e.PassMethod = "BndMPoleSymplectic4RadPass"
lattice.enable_6d(cavity_pass="RFCavityPass", dipole_pass="auto", quadrupole_pass=None, sextupole_pass=None)
_, beam, _ = at.ohmi_envelope(lattice)
np.set_printoptions(precision=17)
print("mode emittances", repr(beam.mode_emittances))
