// The element kinds of families 6..9 in the linear optics: refused fields stop every pass, thin
// multipoles are thin quadrupoles and sextupoles whose slicing converges to the thick elements, and
// elements of no length change nothing.
#include "core/aperture/ApertureRing.h"
#include "core/chromaticity/Chromaticity.h"
#include "core/chromaticity/TestRings.h"
#include "core/coupling/CoupledOptics.h"
#include "core/optics/BetaFunctions.h"
#include "core/ring/Parameter.h"
#include "core/tracking/LinearMapTracking.h"

#include <functional>

namespace kestrune {
namespace {

// The cell rebuilt from the elements of cell, each replaced by what replace appends (nothing: kept).
State rebuilt(const State& cell, const std::function<bool(State&, const LatticeElement&)>& replace)
{
    State out = cell;
    out.line.makeFreshTable();
    for (int i = 1; i <= cell.line.count; ++i) {
        const LatticeElement& e = cell.line.at(i);
        if (!replace(out, e))
            test::append(out, e.code, e.length) = e;
    }
    out.line.chainPositions();
    return out;
}

// MAD-X's MAKETHIN TEAPOT slicing of an element of length L into n kicks of strength/n: end drifts
// L / (2 (n + 1)), inner drifts L n / (n^2 - 1); one kick at the centre for n = 1.
void teapot(State& out, double length, int n, int order, double integrated)
{
    const double end = n == 1 ? length / 2 : length / (2 * (n + 1));
    const double inner = n == 1 ? 0 : length * n / (n * n - 1.0);
    for (int k = 0; k < n; ++k) {
        test::append(out, code::kDrift, k == 0 ? end : inner);
        LatticeElement& kick = test::append(out, code::kThinMultipole, 0);
        kick.knl.assign(static_cast<std::size_t>(order) + 1, 0);
        kick.knl[static_cast<std::size_t>(order)] = integrated / n;
    }
    test::append(out, code::kDrift, end);
}

struct RingNumbers
{
    double tuneX, tuneY, xiX, xiY, i1, i2, i3, i4, i5, emittance;
};

RingNumbers ringNumbers(State state)
{
    test::FakeMessages messages;
    radiationIntegrals(state, messages);
    equilibriumParameters(state);
    const std::optional<ChromaticityCorrection> c = latticeChromaticity(state, messages);
    EXPECT_TRUE(c.has_value());
    EXPECT_TRUE(messages.errors.empty());
    const RingParameters& r = state.ringParams;
    return {r.tuneX, r.tuneY, c ? c->correctedX : 0, c ? c->correctedY : 0, r.i1, r.i2, r.i3,
            r.i4,    r.i5,    r.emittanceX};
}

TEST(ThinElements, EveryPassRefusesAFieldTheOpticsCannotTakeAndChangesNothing)
{
    const struct
    {
        const char* field;
        std::function<void(LatticeElement&)> set;
    } rows[] = {
        {"hkick", [](LatticeElement& e) { e.hkick = 1e-4; }},
        {"vkick", [](LatticeElement& e) { e.vkick = -1e-4; }},
        {"knl[0]", [](LatticeElement& e) { e.knl = {1e-4}; }},
        {"k1s", [](LatticeElement& e) { e.k1s = 0.01; }},
        {"ks", [](LatticeElement& e) { e.ks = 0.1; }},
        {"tilt", [](LatticeElement& e) { e.tilt = 0.01; }},
        {"ksl[0]", [](LatticeElement& e) { e.ksl = {1e-4}; }},
        {"ksl[1]",
         [](LatticeElement& e) {
             e.ksl = {0, 1e-3};
         }},
    };
    for (const auto& row : rows) {
        State state = test::dbaRing();
        state.ringClosed = true;
        row.set(state.line.at(3));
        const std::string text = *uncoupledOpticsRefusal(state.line.at(3), 3);
        const State before = state;
        const auto refusedOnce = [&](bool passed, const char* pass, test::FakeMessages& m) {
            EXPECT_FALSE(passed) << row.field << " " << pass;
            EXPECT_EQ(m.errors, std::vector<std::string>{text}) << row.field << " " << pass;
        };
        test::FakeMessages m1, m2, m3, m4, m5, m6, m7, m8;
        refusedOnce(periodicSolution(state, m1), "periodic solution", m1);
        refusedOnce(betaFunctions(state, m2, nullptr), "ring pass", m2);
        refusedOnce(sextupoleSums(state, m3).has_value(), "chromaticity", m3);
        // the ring parameters of a ring whose planes couple are those of its modes; kicks they refuse
        const bool couples = lineCouples(state.line);
        if (couples) {
            State modes = state;
            EXPECT_TRUE(updateBeamParameters(modes, m4, {"2000", "100", "1"}) && m4.errors.empty())
                << row.field;
        } else {
            refusedOnce(updateBeamParameters(state, m4, {"2000", "100", "1"}), "ring parameters", m4);
        }
        TrackingRequest request;
        refusedOnce(checkTracking(state, request, m5), "linear maps", m5);
        request.model = TrackingModel::Symplectic;
        // the symplectic model tracks kicks, skew fields and rolls
        EXPECT_TRUE(checkTracking(state, request, m6)) << row.field;
        EXPECT_TRUE(m6.errors.empty()) << row.field;
        // the aperture scans take the coupled optics where the planes couple; kicks they refuse
        if (lineCouples(state.line))
            EXPECT_TRUE(apertureRing(state, m7).has_value() && m7.errors.empty()) << row.field;
        else
            refusedOnce(apertureRing(state, m7).has_value(), "aperture scans", m7);
        RowCollector collected;
        linePass(state, m8, nullptr, &collected);
        refusedOnce(!collected.rows.empty(), "line pass", m8);
        radiationIntegrals(state, m8);
        EXPECT_EQ(m8.errors.size(), couples ? 1u : 2u);
        EXPECT_EQ(state.run.betaX0, before.run.betaX0) << row.field;
        EXPECT_EQ(state.beam.momentum, before.beam.momentum) << row.field;
        if (!couples) {
            EXPECT_EQ(state.ringParams.stamp, before.ringParams.stamp) << row.field;
        }
        EXPECT_EQ(state.lf.s, before.lf.s) << row.field;
    }
}

// Markers, monitors, kickers without kick, thin multipoles without strength, octupoles, solenoids without
// field and rf cavities, all of no length, between every two elements of the cell, the kickers and
// octupoles rolled: nothing changes.
TEST(ThinElements, ElementsOfNoLengthChangeNothing)
{
    const State cell = test::dbaRing();
    const int codes[] = {code::kMarker,   code::kMonitor,  code::kHorizontalKicker, code::kThinMultipole,
                         code::kOctupole, code::kSolenoid, code::kRfCavity,         code::kVerticalMonitor};
    int next = 0;
    const State dressed = rebuilt(cell, [&](State& out, const LatticeElement& e) {
        test::append(out, e.code, e.length) = e;
        LatticeElement& extra = test::append(out, codes[next++ % 8], 0);
        extra.harmonic = 1;
        extra.knl = {0, 0, 0, 0};
        // a roll turns only what a corrector or an octupole does off the design orbit
        if (extra.code == code::kHorizontalKicker || extra.code == code::kOctupole)
            extra.tilt = 0.3;
        return true;
    });
    const RingNumbers a = ringNumbers(cell), b = ringNumbers(dressed);
    EXPECT_NEAR(b.tuneX, a.tuneX, 1e-12);
    EXPECT_NEAR(b.tuneY, a.tuneY, 1e-12);
    EXPECT_NEAR(b.xiX, a.xiX, 1e-10);
    EXPECT_NEAR(b.xiY, a.xiY, 1e-10);
    EXPECT_NEAR(b.i5, a.i5, 1e-12 * a.i5);
    // the line pass and its rows: one per element, every value a number
    State pass = dressed;
    test::FakeMessages messages;
    ASSERT_TRUE(periodicSolution(pass, messages));
    RowCollector rows;
    linePass(pass, messages, nullptr, &rows);
    ASSERT_EQ(static_cast<int>(rows.rows.size()), dressed.line.count + 1);
    for (const OpticsRow& r : rows.rows)
        EXPECT_TRUE(std::isfinite(r.lf.betaX + r.lf.betaY + r.lf.eta + r.lf.phiX + r.lf.phiY)) << r.index;
}

// One thin sextupole where the line pass (a pass of its own) gives beta and eta: the chromaticity moves
// by k2l eta beta_x / (4 pi) and -k2l eta beta_y / (4 pi) per cell of the ring.
TEST(ThinElements, OneThinSextupoleMovesTheChromaticityByItsClosedForm)
{
    const State cell = test::dbaRing();
    State pass = cell;
    test::FakeMessages messages;
    ASSERT_TRUE(periodicSolution(pass, messages));
    RowCollector rows;
    linePass(pass, messages, nullptr, &rows);
    const int after = cell.line.count / 3;
    const LatticeFunctions& lf = rows.rows[static_cast<std::size_t>(after)].lf;
    ASSERT_GT(std::fabs(lf.eta), 0.05);
    const double k2l = 3.0;
    int index = 0;
    const State thin = rebuilt(cell, [&](State& out, const LatticeElement& e) {
        test::append(out, e.code, e.length) = e;
        if (++index == after)
            test::append(out, code::kThinMultipole, 0).knl = {0, 0, k2l};
        return true;
    });
    const RingNumbers a = ringNumbers(cell), b = ringNumbers(thin);
    const double nsp = cell.line.superPeriods;
    EXPECT_NEAR(b.xiX - a.xiX, nsp * k2l * lf.eta * lf.betaX / (4 * kPi), 1e-9);
    EXPECT_NEAR(b.xiY - a.xiY, -nsp * k2l * lf.eta * lf.betaY / (4 * kPi), 1e-9);
    EXPECT_NEAR(b.tuneX, a.tuneX, 1e-12);
}

// Every sextupole, then every quadrupole, sliced into n thin kicks (TEAPOT): the ring's tunes,
// chromaticities, integrals and emittance approach those of the thick elements as n grows.
TEST(ThinElements, ThinSlicesConvergeToTheThickRing)
{
    const State cell = test::dbaRing();
    const RingNumbers thick = ringNumbers(cell);
    const auto sliced = [&](int family, int n) {
        return ringNumbers(rebuilt(cell, [&](State& out, const LatticeElement& e) {
            if (familyOf(e.code) != family)
                return false;
            if (family == static_cast<int>(Family::Sextupole))
                teapot(out, e.length, n, 2, e.m * e.length);
            else
                teapot(out, e.length, n, 1, e.k * e.length);
            return true;
        }));
    };
    // sextupoles: no linear effect, so the tunes are the thick ring's to rounding; the chromaticity's
    // error falls with the square of the slice length
    double lastXi = 0;
    for (int n : {4, 16, 64}) {
        const RingNumbers s = sliced(static_cast<int>(Family::Sextupole), n);
        EXPECT_NEAR(s.tuneX, thick.tuneX, 1e-8) << n;
        EXPECT_NEAR(s.tuneY, thick.tuneY, 1e-8) << n;
        const double error = std::fabs(s.xiX - thick.xiX) + std::fabs(s.xiY - thick.xiY);
        if (lastXi > 0) {
            EXPECT_LT(error, lastXi / 10) << n;
        }
        lastXi = error;
    }
    EXPECT_LT(lastXi, 1e-4);
    // quadrupoles: the error falls with the square of the slice length
    double last = 0;
    for (int n : {4, 16, 64}) {
        const RingNumbers s = sliced(static_cast<int>(Family::Quadrupole), n);
        const double error = std::fabs(s.tuneX - thick.tuneX) + std::fabs(s.tuneY - thick.tuneY) +
                             std::fabs(s.xiX - thick.xiX) + std::fabs(s.xiY - thick.xiY) +
                             std::fabs(s.i5 / thick.i5 - 1) + std::fabs(s.emittance / thick.emittance - 1);
        if (last > 0) {
            EXPECT_LT(error, last / 10) << n;
        }
        last = error;
        EXPECT_NEAR(s.i2, thick.i2, 1e-12 * thick.i2) << n;
    }
    EXPECT_LT(last, 1e-4);
}

} // namespace
} // namespace kestrune
