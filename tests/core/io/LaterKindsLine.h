#pragma once

// A line of every element kind of families 6..9, and quadrupoles and bends with their skew and roll
// fields, for the round trips of the lattice file and the MAD-X export.

#include "core/BeamLine.h"
#include "core/State.h"

#include <gtest/gtest.h>

namespace kestrune::test {

/// Elements of every later kind with every field they carry in MAD-X set to a value of many digits
/// (markers and monitors with and without length, apertures of every type); with everyField, every
/// element also gets every field of the record (the lattice file stores them all).
inline void addLaterKinds(BeamLine& line, bool everyField)
{
    const int codes[] = {60, 61, 62, 70, 71, 72, 80, 80, 81, 82, 83, 90, 90, 20, 12};
    int n = 0;
    for (const int elementCode : codes) {
        LatticeElement& e = line.at(++line.count);
        e = LatticeElement{};
        const double f = 1.0 + ++n / 7.0;
        e.name = "K" + std::to_string(n) + ".x";
        e.code = elementCode;
        e.length = elementCode == 60 || (elementCode == 80 && n == 7) ? 0.0 : 0.1 * f;
        const bool magnet = elementCode < 80;
        if (everyField || elementCode == 60)
            for (int order = 0; order <= kMaxMultipoleOrder; ++order) {
                e.knl.push_back(order == 1 ? 0.0 : 1.23456789012345 * f * (order + 1));
                e.ksl.push_back(-0.98765432109876 * f / (order + 1));
            }
        if (everyField || elementCode == 61)
            e.k3 = 123.456789012345 * f;
        if (everyField || elementCode == 62)
            e.ks = 0.314159265358979 * f;
        if (everyField || elementCode == 20 || elementCode == 12)
            e.k1s = -0.0271828182845904 * f;
        if (everyField || magnet)
            e.tilt = 0.0123456789012345 * f;
        if (everyField || elementCode == 70 || elementCode == 72)
            e.hkick = 1.23456789e-4 * f;
        if (everyField || elementCode == 71 || elementCode == 72)
            e.vkick = -9.87654321e-5 * f;
        if (everyField || elementCode == 90) {
            e.voltage = 1.23456789e6 * f;
            e.lag = 0.123456789 * f;
            e.harmonic = n == 12 || everyField ? 306 : 0;
            e.frequency = n == 13 || everyField ? 499.654321987e6 * f : 0;
        }
        if (elementCode == 12)
            e.curvature = 0.0987654321 * f;
        if (elementCode == 20)
            e.k = 1.41421356237 * f;
        ElementAperture& a = e.aperture;
        a.type = static_cast<ApertureType>(n % 5);
        for (double& size : a.a)
            size = a.type == ApertureType::None ? 0.0 : 0.0123456789 * f;
        if (n % 2 == 1) {
            a.dx = 1.5e-3 * f;
            a.dy = -2.5e-4 * f;
        }
    }
    line.chainPositions();
}

/// Every field of two elements equal, number for number.
inline void expectSameElement(const LatticeElement& x, const LatticeElement& y, const std::string& at)
{
    EXPECT_EQ(x.name, y.name) << at;
    EXPECT_EQ(x.code, y.code) << at;
    const double LatticeElement::*fields[] = {
        &LatticeElement::s,         &LatticeElement::length,     &LatticeElement::curvature,
        &LatticeElement::ain,       &LatticeElement::aout,       &LatticeElement::gap,
        &LatticeElement::k,         &LatticeElement::m,          &LatticeElement::linacField,
        &LatticeElement::pumpSpeed, &LatticeElement::electrodes, &LatticeElement::energyGain,
        &LatticeElement::k3,        &LatticeElement::k1s,        &LatticeElement::ks,
        &LatticeElement::tilt,      &LatticeElement::hkick,      &LatticeElement::vkick,
        &LatticeElement::voltage,   &LatticeElement::lag,        &LatticeElement::harmonic,
        &LatticeElement::frequency};
    int index = 0;
    for (const auto field : fields)
        EXPECT_EQ(x.*field, y.*field) << at << ", field " << index++;
    EXPECT_EQ(x.knl, y.knl) << at;
    EXPECT_EQ(x.ksl, y.ksl) << at;
    EXPECT_TRUE(x.aperture == y.aperture) << at;
}

} // namespace kestrune::test
