#include "cli/ApertureOptions.h"
#include "cli/BatchLists.h"
#include "cli/BatchRf.h"
#include "cli/BatchSettings.h"
#include "cli/ChromaticityOptions.h"
#include "cli/ExampleLattices.h"
#include "cli/MatchBatch.h"
#include "cli/OrbitBatch.h"
#include "cli/Report.h"
#include "cli/SeedsBatch.h"
#include "cli/StderrMessages.h"
#include "cli/VacuumLifetimeBatch.h"
#include "cli/Validation.h"
#include "core/Format.h"
#include "core/Kinematics.h"
#include "core/NumberInput.h"
#include "core/StartValues.h"
#include "core/io/JsonInput.h"
#include "core/io/LatticeFile.h"
#include "core/io/Listing.h"
#include "core/io/SafeFile.h"
#include "core/io/madx/MadxExport.h"
#include "core/io/madx/MadxReader.h"
#include "core/orbit/ErrorSeeds.h"
#include "core/orbit/ErrorSet.h"

#include <CLI/CLI.hpp>
#include <iostream>
#include <string>
#include <vector>

namespace {

using kestrune::BatchUsageError;
using kestrune::Json;

/// Everything the command line asks for, in the order the tool does it.
struct Request
{
    std::string lattice;
    std::vector<std::string> settings; // NAME=VALUE, applied in order
    bool periodic = false;
    std::vector<std::string> lists;
    std::string twissFile;
    std::string madxFile;
    std::string tfsFile;
    std::string profileFile;
    std::string reportFile; // "-" for standard output
    std::string examplesFolder;
    std::string validationFolder;
    kestrune::ChromaticityRequest chromaticity;
    kestrune::ApertureRequest aperture;
    std::vector<std::string> scan; // QUANTITY CPMIN CPMAX
    std::string matchFile;
    kestrune::OrbitCorrectionRequest correctOrbit; // method empty without --correct-orbit
    std::string errorsFile;
    std::optional<std::uint64_t> seed; // of --seed; without it the error set's own
    int seeds = 0;                     // of --seeds: the error study's seeds, 0 for none
    std::string seedsAperture;         // of --seeds-aperture: the scans of every seed
};

const char* const kDescription =
    "Opens the lattice file LATTICE (any of the lattice file formats, or MAD-X input when its name ends in\n"
    ".madx, .seq or .mad), applies the --set values, and\n"
    "prints the requested lists to standard output in the order given, with the text of the list window.\n"
    "Messages go to standard error; questions are answered No.\n"
    "\n"
    "Exit status: 0 success, 1 a file could not be read or written or a computation failed, 2 wrong use.";

const char* const kListHelp = "a list, in the order given (repeatable):\n"
                              "magnets   the magnet list: element, code, length, bending radius,\n"
                              "          strengths, momentum, fields, exit position\n"
                              "lattice   the lattice list: lengths, curvatures, pole-face angles in\n"
                              "          degrees, k, s\n"
                              "beta      the lattice functions along the line from the start values\n"
                              "periodic  looks for the periodic solution of the cell as \"look for\n"
                              "          periodic solution\" does, then lists the lattice functions\n"
                              "          from it; fails (status 1) when there is no periodic solution\n"
                              "matrix    the 6x6 total matrix of one pass over the line (sliced as the\n"
                              "          periodic solution slices it)\n"
                              "beam      the beam parameter list\n"
                              "ring      the ring window's parameter list: its geometry with the\n"
                              "          file's superperiods and rf frequency, the ring pass and the\n"
                              "          equilibrium beam (status 1 when the cell has no periodic\n"
                              "          solution)\n"
                              "rf        the rf-parameter list of a closed ring: rf parameters and\n"
                              "          cavity power budget from the file's rf settings\n"
                              "vacuum    the pressures at the pumps from the vacuum calculation\n"
                              "          (with the vacuum.* values of --set)";

void addOptions(CLI::App& app, Request& request)
{
    app.add_option("LATTICE", request.lattice, "the lattice file to open");
    app.add_option("--set", request.settings,
                   "sets what a user types in a window's box before anything is\n"
                   "computed (repeatable, in order); the names:\n" +
                       kestrune::settingsHelp())
        ->allow_extra_args(false)
        ->type_name("NAME=VALUE");
    app.add_flag("--periodic", request.periodic,
                 "starts every later output (lists, --twiss, --report) from the\n"
                 "periodic solution of the cell instead of the file's start values;\n"
                 "fails (status 1) when the cell has none");
    app.add_option("--list", request.lists, kListHelp)->allow_extra_args(false)->type_name("KIND");
    app.add_option("--match", request.matchFile,
                   "runs the match of FILE (variables, constraints; the README\n"
                   "describes the format) after --set and writes the best strengths\n"
                   "into the line, before everything else; status 1 when it is\n"
                   "refused or does not converge")
        ->type_name("FILE.json");
    app.add_option("--errors", request.errorsFile,
                   "gives the elements the errors of the error set FILE (misalignments\n"
                   "and field errors drawn by its rules; the README describes the\n"
                   "format), after --set and before everything else")
        ->type_name("FILE.json");
    app.add_option("--seed", request.seed, "the seed of the --errors draws, in place of the error set's own")
        ->type_name("N");
    app.add_option("--seeds", request.seeds,
                   "the error study: N seeds of the --errors set from --seed on, each on the\n"
                   "design, corrected as --correct-orbit asks; the report's section seeds")
        ->type_name("N")
        ->check(CLI::Range(1, kestrune::kMaxErrorSeeds));
    app.add_option("--seeds-aperture", request.seedsAperture,
                   "--seeds: scans every seed's machine with the aperture scans' settings:\n"
                   "da the dynamic aperture (radial), ma the momentum acceptance, or\n"
                   "da,ma; the numbers per seed and in the statistics")
        ->type_name("da|ma|da,ma");
    app.add_option("--twiss", request.twissFile,
                   "writes the lattice functions at every sample of the beam-line pass\n"
                   "to FILE as CSV with a header line: s, element index, name, code,\n"
                   "betax, alphax, phix, betay, alphay, phiy, eta, etap; 12 significant\n"
                   "digits")
        ->type_name("FILE.csv");
    app.add_option("--export-madx", request.madxFile,
                   "writes the beam line as a MAD-X sequence file to FILE; fails\n"
                   "(status 1) for elements without a MAD-X counterpart")
        ->type_name("FILE.madx");
    app.add_option("--correct-orbit", request.correctOrbit.method,
                   "corrects the closed orbit of the ring with the kickers of the line\n"
                   "from the orbit response of its monitors: svd (the pseudo-inverse,\n"
                   "--singular-values K of them, all by default), micado (the --kickers N\n"
                   "best ones of each plane, chosen one by one), or a number N (svd with\n"
                   "N singular values, 0 for all); three passes; the kicks go into the\n"
                   "design (--save keeps them), the report gets an orbit_correction section")
        ->type_name("svd|micado|N")
        ->check([](const std::string& text) -> std::string {
            if (text == "svd" || text == "micado")
                return "";
            if (!text.empty() && text.size() <= 6 &&
                text.find_first_not_of("0123456789") == std::string::npos)
                return "";
            return "--correct-orbit takes svd, micado or a number of singular values";
        });
    app.add_option("--singular-values", request.correctOrbit.singularValues,
                   "the singular values of --correct-orbit svd (0 for all)")
        ->type_name("K")
        ->check(CLI::Range(0, 100000));
    app.add_option("--kickers", request.correctOrbit.kickers,
                   "the kickers of each plane --correct-orbit micado chooses")
        ->type_name("N")
        ->check(CLI::Range(1, 100000));
    app.add_option("--corrector-limit", request.correctOrbit.limit,
                   "the largest kick (rad) of --correct-orbit: a kick past it is held\n"
                   "there and the kicker is named in the report")
        ->type_name("RAD")
        ->check(CLI::Range(1e-12, 1.0));
    app.add_option("--monitors-off", request.correctOrbit.monitorsOff,
                   "the monitors --correct-orbit does not read: names and MAD-X name\n"
                   "patterns (with ^ $ . [ * \\), comma-separated")
        ->type_name("NAMES");
    app.add_option("--monitor-noise", request.correctOrbit.noise,
                   "the rms noise (m) on every reading of --correct-orbit, Gaussian, drawn\n"
                   "with the --seed (each seed's own in --seeds)")
        ->type_name("M")
        ->check(CLI::Range(0.0, 0.1));
    app.add_option("--tfs", request.tfsFile,
                   "writes the lattice functions at every element end to FILE as a\n"
                   "TFS table (NAME, KEYWORD, S, L, BETX, ALFX, MUX, DX, DPX, BETY,\n"
                   "ALFY, MUY)")
        ->type_name("FILE.tfs");
    app.add_option("--profile", request.profileFile,
                   "writes the vacuum pressure along one period to FILE as CSV with a\n"
                   "header line: s_m (along the chamber wall), pressure_torr; 12\n"
                   "significant digits")
        ->type_name("FILE.csv");
    app.add_option("--report", request.reportFile,
                   "writes everything the windows compute as one JSON document to FILE\n"
                   "(- for standard output); the README describes its keys")
        ->type_name("FILE.json");
    app.add_option("--scan", request.scan,
                   "writes the energy scan of QUANTITY over 101 momenta from CPMIN to\n"
                   "CPMAX (GeV) to standard output as CSV, after the lists; the\n"
                   "quantities: " +
                       kestrune::scanHelp())
        ->expected(3)
        ->allow_extra_args(false)
        ->type_name("QUANTITY CPMIN CPMAX");
    app.add_option("--write-examples", request.examplesFolder,
                   "writes the example lattices fodo-cell.lat, dba-cell.lat and\n"
                   "ion-line.lat into FOLDER")
        ->type_name("FOLDER");
    app.add_option("--validation", request.validationFolder,
                   "runs the rings of the cross-code validation set in FOLDER (the\n"
                   "project's validation/) and prints the comparison with MAD-X as the\n"
                   "Markdown page docs/validation.md; status 1 when a number of the\n"
                   "same model is outside its tolerance")
        ->type_name("FOLDER");
    kestrune::addChromaticityOptions(app, request.chromaticity);
    kestrune::addApertureOptions(app, request.aperture);
}

/// The files the request writes, with their options.
std::vector<std::pair<const char*, std::string>> outputFiles(const Request& request)
{
    std::vector<std::pair<const char*, std::string>> files;
    const std::pair<const char*, const std::string*> options[] = {
        {"--twiss", &request.twissFile},      {"--export-madx", &request.madxFile},
        {"--tfs", &request.tfsFile},          {"--profile", &request.profileFile},
        {"--report", &request.reportFile},    {"--save", &request.chromaticity.saveFile},
        {"--fm-csv", &request.aperture.fmCsv}};
    for (const auto& [option, file] : options) {
        if (!file->empty() && *file != "-")
            files.emplace_back(option, *file);
    }
    return files;
}

/// An output that would overwrite a file read (the lattice, the match file, a part file), or another output.
void checkOutputFiles(const Request& request)
{
    const auto files = outputFiles(request);
    std::vector<std::pair<std::string, std::string>> inputs = {{"the lattice file", request.lattice},
                                                               {"the match file", request.matchFile}};
    for (const std::string& part : request.aperture.merge)
        inputs.emplace_back("the part file", part);
    for (std::size_t i = 0; i < files.size(); ++i) {
        for (const auto& [what, input] : inputs) {
            if (!input.empty() && kestrune::sameFile(files[i].second, input))
                throw BatchUsageError(std::string(files[i].first) + " would overwrite " + what + " " + input +
                                      " that is read");
        }
        for (std::size_t j = 0; j < i; ++j) {
            if (kestrune::sameFile(files[i].second, files[j].second))
                throw BatchUsageError(std::string(files[j].first) + " and " + files[i].first +
                                      " write the same file " + files[i].second);
        }
    }
}

/// Runs one step of the request; a value refused deep inside (text that is no number, a broken
/// invariant) ends that step with its message instead of the program.
template <typename Step> bool guarded(kestrune::Messages& messages, Step&& step)
{
    try {
        return step();
    } catch (const kestrune::ConversionError& e) {
        messages.error(e.what());
    } catch (const std::exception& e) {
        messages.error(std::string("the computation stopped: ") + e.what());
    }
    return false;
}

/// Checks what needs no file: the list names and the --set names and values.
void checkUsage(const Request& request)
{
    const bool folderOnly = !request.examplesFolder.empty() || !request.validationFolder.empty();
    const bool merge = !request.aperture.merge.empty();
    if (request.seed && request.errorsFile.empty())
        throw BatchUsageError("--seed is the seed of --errors: give an error set");
    if (request.seeds > 0 && (request.errorsFile.empty() || request.reportFile.empty()))
        throw BatchUsageError("--seeds runs the error study of --errors into --report: give both");
    if (!request.seedsAperture.empty() && request.seeds == 0)
        throw BatchUsageError("--seeds-aperture scans the seeds of --seeds: give them");
    if (!request.seedsAperture.empty())
        kestrune::apertureScans(kestrune::seedScans(request.seedsAperture, request.aperture));
    if ((!request.correctOrbit.monitorsOff.empty() || request.correctOrbit.noise != 0) &&
        request.correctOrbit.method.empty())
        throw BatchUsageError("--monitors-off and --monitor-noise go with --correct-orbit");
    if (merge && (!request.lattice.empty() || request.aperture.anyScan()))
        throw BatchUsageError("--merge takes part files alone: no lattice file and no scan");
    if (request.lattice.empty() && !folderOnly && !merge)
        throw BatchUsageError("no lattice file given");
    if (!request.aperture.part.empty() && request.reportFile.empty())
        throw BatchUsageError("--part writes its piece of the scans to the --report file: give one");
    if (!request.lattice.empty() && !request.examplesFolder.empty())
        throw BatchUsageError("--write-examples takes no lattice file");
    if (!request.lattice.empty() && !request.validationFolder.empty())
        throw BatchUsageError("--validation takes no lattice file");
    for (const std::string& name : request.lists) {
        if (!kestrune::batchListNamed(name))
            throw BatchUsageError("unknown list '" + kestrune::excerpt(name) + "'");
    }
    kestrune::State scratch;
    kestrune::BatchInputs inputs;
    inputs.usageCheck = true;
    for (const std::string& assignment : request.settings)
        kestrune::applySetting(scratch, inputs, assignment);
    kestrune::checkChromaticityUsage(request.chromaticity);
    kestrune::apertureScans(request.aperture);
    if (!request.scan.empty())
        kestrune::parseScanRequest(request.scan);
    checkOutputFiles(request);
}

bool writeReport(const std::string& fileName, const Json& report, kestrune::Messages& messages)
{
    const std::string text = report.dump(2) + '\n';
    if (fileName == "-") {
        std::cout << text;
        return kestrune::outputWritten(std::cout, messages);
    }
    return kestrune::writeTextFileSafely(fileName, text, messages);
}

int validationTable(const std::string& folder, kestrune::Messages& messages)
{
    std::vector<kestrune::ValidationRow> rows;
    try {
        rows = kestrune::validationRows(folder);
    } catch (const std::runtime_error& e) {
        std::cerr << "kestrune-cli: " << e.what() << '\n';
        return 1;
    }
    std::cout << kestrune::validationMarkdown(rows);
    if (!kestrune::outputWritten(std::cout, messages))
        return 1;
    for (const kestrune::ValidationRow& row : rows)
        if (row.note.empty() && !row.agrees())
            return 1;
    return 0;
}

/// --merge: the part files joined into the scans' sections, written to the report file or standard output.
int mergeParts(const Request& request, kestrune::Messages& messages)
{
    std::vector<Json> parts;
    try {
        for (const std::string& name : request.aperture.merge) {
            std::string problem;
            std::optional<Json> part = kestrune::readJsonFile(name, problem);
            if (!part)
                throw std::runtime_error("cannot read part file " + name + ": " + problem);
            parts.push_back(std::move(*part));
        }
        const Json merged = kestrune::mergeParts(parts, request.aperture.merge);
        if (!request.aperture.fmCsv.empty() && !merged.contains("frequency_map"))
            throw std::runtime_error("--fm-csv: the parts hold no frequency map");
        if (!request.aperture.fmCsv.empty() &&
            !kestrune::writeTextFileSafely(
                request.aperture.fmCsv,
                kestrune::frequencyMapSectionCsv(merged.value("frequency_map", Json())), messages))
            return 1;
        return writeReport(request.reportFile.empty() ? "-" : request.reportFile, merged, messages) ? 0 : 1;
    } catch (const std::runtime_error& e) {
        std::cerr << "kestrune-cli: " << e.what() << '\n';
        return 1;
    }
}

int run(const Request& request)
{
    kestrune::StderrMessages messages;
    if (!request.aperture.merge.empty())
        return mergeParts(request, messages);
    if (!request.examplesFolder.empty())
        return kestrune::writeExampleLattices(request.examplesFolder, messages) ? 0 : 1;
    if (!request.validationFolder.empty())
        return validationTable(request.validationFolder, messages);

    kestrune::State state;
    kestrune::setStartValues(state);
    const bool read = guarded(messages, [&] {
        if (!kestrune::isMadxFileName(request.lattice))
            return kestrune::readLatticeFile(state, messages, request.lattice);
        kestrune::MadxImportSummary summary;
        if (!kestrune::readMadxFile(state, messages, request.lattice, &summary))
            return false;
        for (const std::string& line : kestrune::madxImportReport(summary))
            std::cerr << "MAD-X import: " << line << '\n';
        return true;
    });
    if (!read)
        return 1;
    kestrune::BatchInputs inputs;
    for (const std::string& assignment : request.settings)
        kestrune::applySetting(state, inputs, assignment);
    // the error study starts from the design with its own errors, before the set's
    std::optional<kestrune::State> design;
    if (request.seeds > 0)
        design = state;
    std::optional<kestrune::ErrorSet> errorSet;
    if (!request.errorsFile.empty()) {
        const bool applied = guarded(messages, [&] {
            errorSet = kestrune::readErrorSet(request.errorsFile, messages);
            return errorSet && kestrune::applyErrorSet(state.line, *errorSet,
                                                       request.seed.value_or(errorSet->seed), messages);
        });
        if (!applied)
            return 1;
    }
    int status = 0;
    const auto step = [&](auto&& action) {
        if (!guarded(messages, action))
            status = 1;
    };
    std::optional<kestrune::BatchMatch> match;
    if (!request.matchFile.empty()) {
        step([&] {
            match = kestrune::runMatchFile(state, messages, request.matchFile);
            return match && match->result.converged;
        });
    }
    std::optional<kestrune::OrbitCorrection> orbitCorrection;
    // the report's closed orbit is that of the machine before the correction, with the corrected one in it
    std::optional<kestrune::State> uncorrected;
    if (!request.correctOrbit.method.empty()) {
        uncorrected = state;
        step([&] {
            orbitCorrection = kestrune::runOrbitCorrection(
                state, messages, request.correctOrbit,
                request.seed.value_or(errorSet ? errorSet->seed : std::uint64_t{1}));
            return orbitCorrection.has_value();
        });
    }
    const kestrune::State asSet = state;

    std::optional<kestrune::ChromaticityCorrection> correction;
    if (!request.chromaticity.wanted.empty()) {
        step([&] {
            correction = kestrune::runChromaticityCorrection(state, messages, request.chromaticity);
            return correction.has_value();
        });
    }
    if (!request.chromaticity.saveFile.empty())
        step([&] { return kestrune::writeLatticeFile(state, messages, request.chromaticity.saveFile); });

    if (request.periodic &&
        !guarded(messages, [&] { return kestrune::startFromPeriodicSolution(state, messages); }))
        return 1;
    const kestrune::State outputs = state;

    for (const std::string& name : request.lists) {
        step([&] {
            return kestrune::appendBatchList(state, messages, *kestrune::batchListNamed(name), inputs);
        });
    }
    for (const std::string& line : kestrune::listLines(state))
        std::cout << line << '\n';
    if (!kestrune::outputWritten(std::cout, messages))
        return 1;

    if (!request.scan.empty()) {
        step([&] {
            std::string csv;
            if (!kestrune::scanCsv(asSet, messages, inputs, kestrune::parseScanRequest(request.scan), csv))
                return false;
            std::cout << csv;
            return kestrune::outputWritten(std::cout, messages);
        });
    }
    if (!request.twissFile.empty()) {
        step([&] {
            return kestrune::writeTextFileSafely(request.twissFile, kestrune::twissCsv(outputs, messages),
                                                 messages);
        });
    }
    std::optional<kestrune::TrackingSummary> tracking;
    if (!request.chromaticity.track.empty()) {
        step([&] {
            kestrune::State tracked = outputs;
            kestrune::TrackingSummary summary;
            if (!kestrune::runTrackingCsv(tracked, messages, request.chromaticity, inputs, std::cout,
                                          summary))
                return false;
            tracking = summary;
            return true;
        });
    }
    if (!request.madxFile.empty())
        step([&] { return kestrune::writeMadxFile(outputs, messages, request.madxFile); });
    if (!request.tfsFile.empty())
        step([&] { return kestrune::writeTfsFile(outputs, messages, request.tfsFile); });
    if (!request.profileFile.empty()) {
        step([&] {
            const std::optional<std::string> csv = kestrune::pressureProfileCsv(asSet, inputs, messages);
            return csv && kestrune::writeTextFileSafely(request.profileFile, *csv, messages);
        });
    }
    // the error study of --seeds, the seeds of one part of it with --part
    const auto seedsSection = [&](const kestrune::ScanPart& part, std::string& fingerprint) {
        kestrune::SeedsRequest seeds{request.seed.value_or(errorSet->seed), request.seeds, part,
                                     request.seedsAperture};
        return kestrune::seedsSection(*design, inputs, *errorSet, seeds, request.correctOrbit,
                                      request.aperture, messages, fingerprint);
    };
    // the aperture scans on the lattice the tracking takes (with the sextupoles of --chromaticity)
    kestrune::State scanned = outputs;
    Json scanSections = Json::object();
    std::optional<kestrune::ApertureScans> scans;
    std::string fingerprint;
    if (request.aperture.anyScan()) {
        step([&] {
            scans = kestrune::apertureScans(request.aperture);
            return kestrune::runApertureScans(scanned, messages, inputs, *scans, request.aperture,
                                              scanSections, fingerprint);
        });
        if (!request.aperture.fmCsv.empty() && request.aperture.part.empty() &&
            scanSections.contains("frequency_map") && scanSections["frequency_map"].is_object())
            step([&] {
                return kestrune::writeTextFileSafely(
                    request.aperture.fmCsv, kestrune::frequencyMapSectionCsv(scanSections["frequency_map"]),
                    messages);
            });
    }
    if (!request.aperture.part.empty()) {
        const bool written = guarded(messages, [&] {
            if (!scans)
                scans = kestrune::apertureScans(request.aperture);
            if (design && errorSet) {
                std::string study;
                const std::optional<Json> seeds = seedsSection(scans->part, study);
                if (!seeds)
                    return false;
                scanSections["seeds"] = *seeds;
                fingerprint += (fingerprint.empty() ? "" : ":") + study;
            }
            return writeReport(request.reportFile, kestrune::partDocument(*scans, scanSections, fingerprint),
                               messages);
        });
        return written ? status : 1;
    }

    if (!request.reportFile.empty()) {
        step([&] {
            kestrune::StderrMessages reportMessages;
            Json report = kestrune::buildReport(request.lattice, outputs, asSet, inputs, reportMessages);
            kestrune::addChromaticitySections(report, outputs, correction, request.chromaticity, tracking,
                                              reportMessages);
            if (!request.matchFile.empty())
                kestrune::addMatchSection(report, match);
            kestrune::addLocalTouschek(report, scanned, inputs, reportMessages);
            if (!request.correctOrbit.method.empty())
                report["orbit_correction"] = kestrune::orbitCorrectionSection(orbitCorrection);
            if (design && errorSet) {
                std::string unused;
                const std::optional<Json> seeds = seedsSection(kestrune::ScanPart{}, unused);
                if (!seeds)
                    return false;
                report["seeds"] = *seeds;
            }
            if (uncorrected && orbitCorrection) {
                Json closed = kestrune::closedOrbitSection(*uncorrected);
                if (closed.is_object())
                    closed["corrected"] = kestrune::correctedOrbit(*orbitCorrection);
                report["closed_orbit"] = closed;
            }
            report.erase("messages");
            report.update(scanSections);
            report["messages"] = reportMessages.shown();
            return writeReport(request.reportFile, report, messages);
        });
    }
    return status;
}

} // namespace

int main(int argc, char** argv)
try {
    CLI::App app(kDescription, "kestrune-cli");
    app.get_formatter()->column_width(28);
    Request request;
    addOptions(app, request);
    try {
        app.parse(argc, argv);
        request.aperture.errorStudy = request.seeds > 0;
        checkUsage(request);
    } catch (const CLI::CallForHelp&) {
        std::cout << app.help();
        kestrune::StderrMessages messages;
        return kestrune::outputWritten(std::cout, messages) ? 0 : 1;
    } catch (const CLI::ParseError& e) {
        std::cerr << "kestrune-cli: " << e.what() << "\n(kestrune-cli --help explains the options)\n";
        return 2;
    } catch (const BatchUsageError& e) {
        std::cerr << "kestrune-cli: " << e.what() << "\n(kestrune-cli --help explains the options)\n";
        return 2;
    }
    return run(request);
} catch (const std::exception& e) {
    // every step catches what it refuses; this is the last word on anything else
    std::cerr << "kestrune-cli: " << e.what() << '\n';
    return 1;
}
