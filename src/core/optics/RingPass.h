#pragma once

#include "core/State.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

namespace kestrune {

/// What the ring passes read of one element: its kind, the slices of the periodic solution and the fields
/// of its linear optics (a thin multipole's quadrupole and sextupole components q = knl[1], k2l = knl[2]),
/// and the sextupole strength m as the last sweep over the line found it.
struct ElementOptics
{
    int code = 0;
    int slices = 1;
    double length = 0, curvature = 0, ain = 0, aout = 0, gap = 0, k = 0; // m, 1/m, rad, rad, m, 1/m^2
    double q = 0, k2l = 0;                                               // 1/m, 1/m^2
    double m = 0;                                                        // 1/m^3, not compared

    /// The same linear optics, bit for bit (a changed sign of a zero or a NaN is a change); m aside.
    bool sameOptics(const ElementOptics& o) const
    {
        const auto same = [](double a, double b) {
            std::uint64_t x = 0;
            std::uint64_t y = 0;
            std::memcpy(&x, &a, sizeof a);
            std::memcpy(&y, &b, sizeof b);
            return x == y;
        };
        return code == o.code && slices == o.slices && same(length, o.length) &&
               same(curvature, o.curvature) && same(ain, o.ain) && same(aout, o.aout) && same(gap, o.gap) &&
               same(k, o.k) && same(q, o.q) && same(k2l, o.k2l);
    }
};

/// The entries of one slice matrix that the lattice functions go through.
struct SliceMatrix
{
    double xx = 0, xxp = 0, xpx = 0, xpxp = 0; // R11, R12, R21, R22
    double yy = 0, yyp = 0, ypy = 0, ypyp = 0; // R33, R34, R43, R44
    double xd = 0, xpd = 0;                    // R16, R26
};

/// The lattice functions at an element's entrance.
struct EntryFunctions
{
    double betaX = 0, alphaX = 0, gammaX = 0; // m, 1, 1/m
    double betaY = 0, alphaY = 0, gammaY = 0;
    double eta = 0, etaP = 0; // m, rad
};

/// The lattice functions of lf at an element's entrance as f holds them; its phases and s stay.
inline void takeEntry(const EntryFunctions& f, LatticeFunctions& lf)
{
    lf.betaX = f.betaX;
    lf.alphaX = f.alphaX;
    lf.gammaX = f.gammaX;
    lf.betaY = f.betaY;
    lf.alphaY = f.alphaY;
    lf.gammaY = f.gammaY;
    lf.eta = f.eta;
    lf.etaP = f.etaP;
}

/// The ring pass over one period as the periodic solution and the passes after it make it, kept in the
/// state so that betaFunctions, radiationIntegrals and the chromaticity share one solution and one set of
/// element matrices. What it was made from is kept beside it and compared, value for value, before any of
/// it is used: a pass of another design or other settings is never taken.
struct RingPass
{
    // the line as the last sweep of the total matrix read it, element i at index i - 1
    std::vector<ElementOptics> elements;
    std::vector<SliceMatrix> matrices; // one per element whose optics is not a drift, in line order
    std::vector<int> sextupoles;       // the sextupoles and thin multipoles (1..count), for the chromaticity
    bool totalKnown = false;           // the sweep ended on this line: afterTotal holds its result
    TransferMatrix afterTotal;         // R and M after the sweep
    bool solved = false;               // the periodic solution of afterTotal exists
    // the latticeStamp of a design whose elements are these, and the step settings they were sliced with
    bool stampKnown = false;
    std::uint64_t stamp = 0;
    bool stepAtElementEnds = true;
    double maxStep = 0;
    // the pass over the period from the start values start (beta, alpha, gamma of x and y, eta, eta')
    bool traced = false;
    std::array<double, 8> start{};
    std::vector<EntryFunctions> entry; // at each element's entrance
    LatticeFunctions end;              // at the end of the period
    TransferMatrix afterTrace;         // R and M after the pass
};

} // namespace kestrune
