#include "core/Kinematics.h"
#include "core/io/madx/MadxReader.h"
#include "core/optics/BetaFunctions.h"
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
    // MAD-X 5.09.03 TWISS on the same files: summ q1, q2
    double q1, q2;
};

std::string withFolder(std::string job, const std::string& folder)
{
    for (std::size_t at = job.find("{}"); at != std::string::npos; at = job.find("{}"))
        job.replace(at, 2, folder);
    return job;
}

TEST(MadxPublicLattices, TunesAgreeWithMadx)
{
    const char* folder = std::getenv("KESTRUNE_PUBLIC_LATTICES");
    if (folder == nullptr || !std::filesystem::exists(std::filesystem::path(folder) / "fccee_z.seq"))
        GTEST_SKIP() << "KESTRUNE_PUBLIC_LATTICES does not name a folder with fccee_z.seq, lhc.seq and "
                        "injection_optics.madx (Xsuite's test_data)";
    const PublicLattice lattices[] = {
        {"FCC-ee Z",
         "call, file=\"{}/fccee_z.seq\";\nbeam, particle=positron, pc=45.6;\nuse, sequence=fccee_p_ring;\n",
         218.1584388, 222.2000388},
        {"LHC 2024 injection",
         "call, file=\"{}/lhc.seq\";\nbeam, sequence=lhcb1, particle=proton, energy=450;\n"
         "call, file=\"{}/injection_optics.madx\";\nuse, sequence=lhcb1;\n",
         62.30999989, 60.32000004},
    };
    const test::ScopedTestFolder scratch("kestrune-public-lattices");
    for (const PublicLattice& lattice : lattices) {
        const std::string job = (scratch.path() / "job.madx").string();
        std::ofstream(job) << withFolder(lattice.job, folder);
        State state;
        startParticle(state);
        FakeMessages messages;
        ASSERT_TRUE(readMadxFile(state, messages, job)) << lattice.name << ": " << messages.errors.front();
        ASSERT_TRUE(betaFunctions(state, messages, nullptr)) << lattice.name;
        // MAD-X prints ten digits: the tunes to 1e-7
        EXPECT_NEAR(state.lf.tuneX, lattice.q1, 1e-6) << lattice.name;
        EXPECT_NEAR(state.lf.tuneY, lattice.q2, 1e-6) << lattice.name;
    }
}

} // namespace
} // namespace kestrune
