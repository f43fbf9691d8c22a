#pragma once

#include "core/BeamLine.h"
#include "core/Constants.h"
#include "core/Kinematics.h"
#include "core/State.h"

#include <string>

namespace kestrune::test {

/// Builds beam lines element by element for the vacuum tests.
class LineBuilder
{
public:
    explicit LineBuilder(BeamLine& line) : m_line(line) { m_line.makeFreshTable(); }

    LineBuilder& drift(double length, const std::string& name = "D")
    {
        add(code::kDrift, length, name);
        return *this;
    }
    /// A sector bend of the given length (m) and radius (m).
    LineBuilder& bend(double length, double rho, const std::string& name = "B")
    {
        add(code::kSectorBend, length, name).curvature = 1 / rho;
        return *this;
    }
    LineBuilder& pump(double speed, const std::string& name = "P")
    {
        add(code::kPump, 0, name).pumpSpeed = speed;
        return *this;
    }
    LineBuilder& quad(double length, double k, const std::string& name = "Q")
    {
        add(code::kQuadrupole, length, name).k = k;
        return *this;
    }

private:
    LatticeElement& add(int elementCode, double length, const std::string& name)
    {
        LatticeElement& e = m_line.at(++m_line.count);
        e = LatticeElement{};
        e.name = name;
        e.code = elementCode;
        e.s = m_line.length;
        e.length = length;
        m_line.length += length;
        return e;
    }

    BeamLine& m_line;
};

/// A 3 GeV electron at 200 mA.
inline State electronState(double energyGeV = 3.0, double currentA = 0.2)
{
    State state;
    startParticle(state);
    updateKinematics(state.beam, EnergyKind::Total, energyGeV * 1e9);
    state.beamCurrent = currentA;
    return state;
}

/// A cell of a small ring: 2 m straight, pump, quadrupoles, two 1.5 m bends of radius 5 m with a pump
/// after each, and a straight at the end: three pumps of 100, 200 and 150 l/s.
inline void pumpedCell(BeamLine& line)
{
    LineBuilder(line)
        .drift(2.0, "LS")
        .pump(100, "P1")
        .quad(0.3, 2.0, "Q1")
        .drift(0.5)
        .bend(1.5, 5.0, "B1")
        .pump(200, "P2")
        .drift(1.0)
        .quad(0.3, -2.0, "Q2")
        .drift(1.0)
        .bend(1.5, 5.0, "B2")
        .drift(0.4)
        .pump(150, "P3")
        .drift(2.0, "LS");
}

} // namespace kestrune::test
