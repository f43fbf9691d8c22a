// libFuzzer harness of the lattice file reader: any input is either read or refused with one message,
// and a refused input leaves the design untouched.
#include "FuzzSupport.h"
#include "core/io/LatticeFile.h"

#include <cstdint>
#include <cstdlib>
#include <string>

using kestrune::fuzz::CountingMessages;
using kestrune::fuzz::startState;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    kestrune::State state = startState();
    CountingMessages messages;
    const std::string text(reinterpret_cast<const char*>(data), size);
    if (kestrune::readLatticeText(state, messages, text, "fuzz.lat")) {
        if (messages.errors != 0 || state.line.count > kestrune::kMaxLineElements)
            std::abort();
    } else {
        kestrune::State before = startState();
        if (messages.errors != 1 || kestrune::latticeFileText(state) != kestrune::latticeFileText(before))
            std::abort();
    }
    return 0;
}
