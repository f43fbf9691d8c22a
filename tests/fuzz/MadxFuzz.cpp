// libFuzzer harness of the MAD-X reader: any input is either read or refused with one message, a read
// line fits the table, and a refused input leaves the design untouched.
#include "FuzzSupport.h"
#include "core/io/LatticeFile.h"
#include "core/io/madx/MadxReader.h"

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
    // `call` would read files of the machine: the harness reads only what it is given
    if (text.find("call") != std::string::npos || text.find("CALL") != std::string::npos)
        return 0;
    if (kestrune::readMadxText(state, messages, text, "fuzz.madx")) {
        if (messages.errors != 0 || state.line.count > kestrune::kMaxLineElements)
            std::abort();
    } else {
        kestrune::State before = startState();
        if (messages.errors != 1 || kestrune::latticeFileText(state) != kestrune::latticeFileText(before))
            std::abort();
    }
    return 0;
}
