#include "core/Kinematics.h"
#include "core/chromaticity/Chromaticity.h"
#include "core/io/madx/MadxReader.h"
#include "core/optics/BetaFunctions.h"
#include "core/orbit/OrbitOptics.h"
#include "core/ring/Parameter.h"
#include "support/FakeMessages.h"
#include "support/TestFolder.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

// The large public lattices of the Xsuite test data (test_data/fcc_ee/fccee_z.seq and test_data/lhc_2024/),
// read from the folder KESTRUNE_PUBLIC_LATTICES names; the files are not part of the program.

namespace kestrune {
namespace {

using test::FakeMessages;

struct PublicLattice
{
    const char* name;
    const char* job; // {} stands for the folder of the files
    // MAD-X 5.09.03 TWISS on the same files: summ q1, q2, dq1, dq2 (its chromatic functions)
    double q1, q2, dq1, dq2;
};

std::string withFolder(std::string job, const std::string& folder)
{
    for (std::size_t at = job.find("{}"); at != std::string::npos; at = job.find("{}"))
        job.replace(at, 2, folder);
    return job;
}

// FCC-ee Z is taken on its design orbit, the LHC, whose crossing and separation bumps kick, about its
// closed orbit. MAD-X's TWISS takes the FCC-ee's cavities along (their longitudinal focusing moves its dq1
// and dq2 by 0.28 and -0.28): its numbers here are those of VOLTCA1 = 0, the machine without rf that the
// chromaticity is defined on. The differences seen: FCC-ee tunes 1e-8, chromaticities 4e-10 and 1.3e-6;
// LHC tunes 1e-9, chromaticities 7.7e-6 and 7.2e-6 (TWISS is linear about the orbit).
TEST(MadxPublicLattices, TunesAndChromaticitiesAgreeWithMadx)
{
    const char* folder = std::getenv("KESTRUNE_PUBLIC_LATTICES");
    if (folder == nullptr || !std::filesystem::exists(std::filesystem::path(folder) / "fccee_z.seq"))
        GTEST_SKIP() << "KESTRUNE_PUBLIC_LATTICES does not name a folder with fccee_z.seq, lhc.seq and "
                        "injection_optics.madx (Xsuite's test_data)";
    const PublicLattice lattices[] = {
        {"FCC-ee Z",
         "call, file=\"{}/fccee_z.seq\";\nbeam, particle=positron, pc=45.6;\nuse, sequence=fccee_p_ring;\n",
         218.1584388, 222.2000388, 0.02614981553, 4.991734881},
        {"LHC 2024 injection",
         "call, file=\"{}/lhc.seq\";\nbeam, sequence=lhcb1, particle=proton, energy=450;\n"
         "call, file=\"{}/injection_optics.madx\";\nuse, sequence=lhcb1;\n",
         62.30999989, 60.32000004, -0.04252259041, -0.007020086505},
    };
    const test::ScopedTestFolder scratch("kestrune-public-lattices");
    for (const PublicLattice& lattice : lattices) {
        const std::string job = (scratch.path() / "job.madx").string();
        std::ofstream(job) << withFolder(lattice.job, folder);
        State state;
        startParticle(state);
        FakeMessages messages;
        ASSERT_TRUE(readMadxFile(state, messages, job)) << lattice.name << ": " << messages.errors.front();
        double q1 = 0, q2 = 0, dq1 = 0, dq2 = 0;
        if (!lineOpticsRefusal(state.line)) {
            ASSERT_TRUE(betaFunctions(state, messages, nullptr)) << lattice.name;
            q1 = state.lf.tuneX;
            q2 = state.lf.tuneY;
            radiationIntegrals(state, messages);
            const std::optional<ChromaticityCorrection> c = latticeChromaticity(state, messages);
            ASSERT_TRUE(c) << lattice.name;
            dq1 = c->correctedX;
            dq2 = c->correctedY;
        } else {
            const OrbitOptics optics = orbitOptics(state);
            const OrbitChromaticity c = orbitChromaticity(state);
            ASSERT_TRUE(optics.computed && c.computed) << lattice.name << ": " << optics.refusal << c.refusal;
            q1 = optics.tune1;
            q2 = optics.tune2;
            dq1 = c.chromaticity1;
            dq2 = c.chromaticity2;
        }
        // MAD-X prints ten digits: the tunes to 1e-7
        EXPECT_NEAR(q1, lattice.q1, 1e-6) << lattice.name;
        EXPECT_NEAR(q2, lattice.q2, 1e-6) << lattice.name;
        EXPECT_NEAR(dq1, lattice.dq1, 1e-4) << lattice.name;
        EXPECT_NEAR(dq2, lattice.dq2, 1e-4) << lattice.name;
    }
}

} // namespace
} // namespace kestrune
