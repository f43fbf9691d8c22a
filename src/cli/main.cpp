#include "cli/BatchLists.h"
#include "cli/ExampleLattices.h"
#include "cli/StderrMessages.h"
#include "core/Kinematics.h"
#include "io/LatticeFile.h"
#include "io/Listing.h"

#include <iostream>
#include <string>
#include <vector>

namespace {

const char* const kUsage =
    "usage: kestrune-cli LATTICE [--list KIND]... [--twiss FILE.csv]\n"
    "       kestrune-cli --write-examples FOLDER\n"
    "\n"
    "Opens the lattice file LATTICE (any of the lattice file formats) and prints the requested lists\n"
    "to standard output, in the order given, with the text of the list window. Messages go to standard\n"
    "error; questions are answered No.\n"
    "\n"
    "options:\n"
    "  --list magnets   the magnet list: element, code, length, bending radius, strengths, momentum,\n"
    "                   fields and exit position\n"
    "  --list lattice   the lattice list: lengths, curvatures, pole-face angles in degrees, k, s\n"
    "  --list beta      the lattice functions along the line, started from the file's start values\n"
    "  --list periodic  looks for the periodic solution of the cell as \"look for periodic solution\"\n"
    "                   does, then lists the lattice functions from it; fails (status 1) when there is\n"
    "                   no periodic solution\n"
    "  --list matrix    the 6x6 total matrix of one pass over the line (sliced as the periodic\n"
    "                   solution slices it); the start values stay as read\n"
    "  --list beam      the beam parameter list\n"
    "  --twiss FILE     writes the lattice functions at every sample of the beta pass (from the file's\n"
    "                   start values) to FILE as CSV with a header line: s, element index, name, code,\n"
    "                   betax, alphax, phix, betay, alphay, phiy, eta, etap; 12 significant digits\n"
    "  --write-examples FOLDER\n"
    "                   writes the example lattices fodo-cell.lat, dba-cell.lat and ion-line.lat\n"
    "  --help           shows this text\n"
    "\n"
    "exit status: 0 success, 1 a file could not be read or written or a list failed, 2 wrong usage\n";

int usageError(const std::string& text)
{
    std::cerr << "kestrune-cli: " << text << "\n" << kUsage;
    return 2;
}

struct Options
{
    std::string lattice;
    std::vector<kestrune::BatchList> lists;
    std::string twissFile;
    std::string examplesFolder;
    bool help = false;
};

/// Value of an option given as "--name value" or "--name=value".
bool optionValue(const std::vector<std::string>& args, std::size_t& i, const std::string& name,
                 std::string& value)
{
    const std::string& arg = args[i];
    if (arg == name) {
        if (i + 1 >= args.size())
            throw std::runtime_error(name + " needs a value");
        value = args[++i];
        return true;
    }
    if (arg.rfind(name + "=", 0) == 0) {
        value = arg.substr(name.size() + 1);
        return true;
    }
    return false;
}

Options parse(const std::vector<std::string>& args)
{
    Options options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string value;
        if (args[i] == "--help" || args[i] == "-h") {
            options.help = true;
        } else if (optionValue(args, i, "--list", value)) {
            const auto list = kestrune::batchListNamed(value);
            if (!list)
                throw std::runtime_error("unknown list '" + value + "'");
            options.lists.push_back(*list);
        } else if (optionValue(args, i, "--twiss", value)) {
            options.twissFile = value;
        } else if (optionValue(args, i, "--write-examples", value)) {
            options.examplesFolder = value;
        } else if (args[i].size() > 1 && args[i][0] == '-') {
            throw std::runtime_error("unknown option '" + args[i] + "'");
        } else if (options.lattice.empty()) {
            options.lattice = args[i];
        } else {
            throw std::runtime_error("only one lattice file, got '" + args[i] + "' as well");
        }
    }
    return options;
}

int run(const Options& options)
{
    kestrune::StderrMessages messages;
    if (!options.examplesFolder.empty())
        return kestrune::writeExampleLattices(options.examplesFolder, messages) ? 0 : 1;

    kestrune::State state;
    kestrune::startParticle(state);
    if (!kestrune::readLatticeFile(state, messages, options.lattice))
        return 1;
    const kestrune::State asRead = state;

    int status = 0;
    for (const kestrune::BatchList list : options.lists) {
        if (!kestrune::appendBatchList(state, messages, list))
            status = 1;
    }
    for (const std::string& line : kestrune::listLines(state))
        std::cout << line << '\n';
    std::cout.flush();

    if (!options.twissFile.empty() &&
        !kestrune::writeTextFileSafely(options.twissFile, kestrune::twissCsv(asRead, messages), messages))
        status = 1;
    return status;
}

} // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    Options options;
    try {
        options = parse(args);
    } catch (const std::runtime_error& e) {
        return usageError(e.what());
    }
    if (options.help) {
        std::cout << kUsage;
        return 0;
    }
    if (options.lattice.empty() && options.examplesFolder.empty())
        return usageError("no lattice file given");
    if (!options.lattice.empty() && !options.examplesFolder.empty())
        return usageError("--write-examples takes no lattice file");
    return run(options);
}
