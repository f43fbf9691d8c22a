#include "core/io/LatticeFile.h"

#include "core/Format.h"
#include "core/InputRanges.h"
#include "core/Kinematics.h"
#include "core/io/SafeFile.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <stdexcept>

namespace kestrune {

namespace {

const char* const kLineEnd = "\r\n";

// ---------------------------------------------------------------------------------------------
// Writing

/// How the reals of a format are written: the previous format's long form or the current one's
/// shortest exact form.
using RealText = std::string (*)(double);

/// The name as the current format's element record holds it: in double quotes, a quote inside doubled.
std::string quotedName(const std::string& name)
{
    std::string text = "\"";
    for (char c : name)
        text += c == '"' ? std::string("\"\"") : std::string(1, c);
    return text + '"';
}

// The words of an element's aperture type in the element record, by ApertureType.
const char* const kApertureWords[] = {"none", "circle", "rectangle", "ellipse", "rectellipse"};
// How many sizes each aperture type has (MAD-X's APERTURE of that APERTYPE).
const int kApertureSizes[] = {0, 1, 2, 2, 4};

// The scalar fields of the later kinds in the element record: key and member, in the order written.
struct NamedScalar
{
    const char* key;
    double LatticeElement::*field;
};
const NamedScalar kNamedScalars[] = {{"k3", &LatticeElement::k3},
                                     {"k1s", &LatticeElement::k1s},
                                     {"ks", &LatticeElement::ks},
                                     {"tilt", &LatticeElement::tilt},
                                     {"hkick", &LatticeElement::hkick},
                                     {"vkick", &LatticeElement::vkick},
                                     {"voltage", &LatticeElement::voltage},
                                     {"lag", &LatticeElement::lag},
                                     {"harmonic", &LatticeElement::harmonic},
                                     {"frequency", &LatticeElement::frequency}};

std::string realList(const double* values, std::size_t n)
{
    std::string text;
    for (std::size_t k = 0; k < n; ++k)
        text += (k == 0 ? "" : ",") + exactReal(values[k]);
    return text;
}

// The fields of the kinds of families 6..9 and what any magnet may carry, after the drawing box as
// key=value words (lists comma-separated, no blank inside a word), each only where it is not its default,
// so that the record of an element of the first kinds is what it always was. A multipole list is written
// whenever it has members, zeros too: {0} and {} are different multipoles.
void appendNamedFields(std::string& line, const LatticeElement& e)
{
    if (!e.knl.empty())
        line += " knl=" + realList(e.knl.data(), e.knl.size());
    if (!e.ksl.empty())
        line += " ksl=" + realList(e.ksl.data(), e.ksl.size());
    for (const NamedScalar& f : kNamedScalars)
        if (e.*f.field != 0)
            line += std::string(" ") + f.key + "=" + exactReal(e.*f.field);
    // the sizes the type uses, and any after them that are set (an aperture may hold sizes its type does
    // not use: they are kept too)
    const ElementAperture& a = e.aperture;
    const int type = static_cast<int>(a.type);
    std::size_t sizes = type >= 0 && type <= 4 ? static_cast<std::size_t>(kApertureSizes[type]) : 0;
    for (std::size_t k = sizes; k < 4; ++k)
        if (a.a[k] != 0)
            sizes = k + 1;
    if (sizes > 0 && type >= 0 && type <= 4)
        line += std::string(" aperture=") + kApertureWords[type] + ":" + realList(a.a, sizes);
    if (a.dx != 0 || a.dy != 0)
        line += " aper_offset=" + exactReal(a.dx) + "," + exactReal(a.dy);
    // the errors: the misalignment as its six values in the order of ElementErrors, the field errors as
    // lists of orders 0.. like knl
    const ElementErrors& err = e.errors;
    if (err.misaligned()) {
        line += " align=";
        const double values[] = {err.dx, err.dy, err.ds, err.dtheta, err.dphi, err.dpsi};
        for (std::size_t k = 0; k < 6; ++k)
            line += (k == 0 ? "" : ":") + exactReal(values[k]);
    }
    if (!err.dkn.empty())
        line += " dkn=" + realList(err.dkn.data(), err.dkn.size());
    if (!err.dks.empty())
        line += " dks=" + realList(err.dks.data(), err.dks.size());
}

// The current format: one record per element, its drawing box on the same line.
std::string elementRecord(const LatticeElement& e, const ElementShape& shape)
{
    std::string line = "50 " + quotedName(e.name) + " " + std::to_string(e.code);
    for (double v : {e.s, e.length, e.curvature, e.ain, e.aout, e.gap, e.k, e.m, e.pumpSpeed, e.linacField,
                     e.electrodes, e.energyGain, shape.x0, shape.x1, shape.y0, shape.y1})
        line += " " + exactReal(v);
    appendNamedFields(line, e);
    return line;
}

std::string elementLine(const std::string& noDataField, const LatticeElement& e)
{
    std::string line = "50 " + noDataField + rightJustify(cut(e.name, 5), 5) + " " + std::to_string(e.code);
    // pumpSpeed comes before linacField in this record
    for (double v : {e.s, e.length, e.curvature, e.ain, e.aout, e.gap, e.k, e.m, e.pumpSpeed, e.linacField,
                     e.electrodes, e.energyGain})
        line += " " + longReal(v);
    return line;
}

std::string drawingLine(const ElementShape& shape)
{
    return "11 " + longReal(shape.x0) + " " + longReal(shape.x1) + " " + longReal(shape.y0) + " " +
           longReal(shape.y1);
}

void writeOptics(const RunSettings& run, RealText real, bool exact, std::ostringstream& out)
{
    if (run.showTrajectory) {
        out << "10 traj" << kLineEnd;
        out << "21 " << real(run.x0) << ' ' << real(run.xp0) << ' ' << real(run.y0) << ' ' << real(run.yp0)
            << kLineEnd;
        out << "22 " << real(run.d0) << ' ' << real(run.dp0) << ' ' << real(run.delta) << kLineEnd;
    } else if (run.showBeamSize) {
        out << "10 beam" << kLineEnd;
    } else if (run.showBetaFunctions) {
        out << "10 beta" << kLineEnd;
    }
    out << "23 " << real(run.betaX0) << ' ' << real(run.alphaX0) << ' ' << real(run.gammaX0) << ' '
        << real(run.betaY0) << ' ' << real(run.alphaY0) << ' ' << real(run.gammaY0) << kLineEnd;
    out << "24 " << real(run.epsXIn) << ' ' << real(run.epsYIn) << kLineEnd;
    out << "25 " << real(run.etaX0) << ' ' << real(run.etaPX0) << kLineEnd;
    // the start coupling, in the current format only and only where there is some, so that an uncoupled
    // start writes what it always did and the previous format what its readers know
    if (exact &&
        (run.r11 != 0 || run.r12 != 0 || run.r21 != 0 || run.r22 != 0 || run.etaY0 != 0 || run.etaPY0 != 0))
        out << "26 " << real(run.r11) << ' ' << real(run.r12) << ' ' << real(run.r21) << ' ' << real(run.r22)
            << ' ' << real(run.etaY0) << ' ' << real(run.etaPY0) << kLineEnd;
    out << "5 " << (run.stepAtElementEnds ? 1 : 0) << ' ' << run.maxStepsBox << ' '
        << (exact ? exactReal(run.maxStep) : fmt("%8.3f", run.maxStep)) << kLineEnd;
}

std::string particleLine(const BeamParameters& beam, bool exact)
{
    const std::string head = "30 " + std::string(beam.isIon ? "1" : "0") +
                             rightJustify(cut(beam.name, 15), 15) + fmt("%5d", beam.charge);
    if (exact)
        return head + " " + exactReal(beam.massNumber) + " " + exactReal(beam.restEnergy) + " " +
               exactReal(beam.referenceMomentum);
    return head + " " + fmt("%8.3f", beam.massNumber) + " " + fmt("%8.3f", beam.restEnergy) + " " +
           fmt("%8.3f", beam.referenceMomentum);
}

// ---------------------------------------------------------------------------------------------
// Reading

struct ReadError : std::runtime_error
{
    using std::runtime_error::runtime_error;
};

// Magnitude of the largest real a lattice file may hold (eV, Hz, V and m alike).
constexpr double kLargestValue = 1e15;

[[noreturn]] void refuseAt(int line, const std::string& text)
{
    throw ReadError("line " + std::to_string(line) + ": " + text);
}

// A value outside the range of the box that sets it: refused with the box's words.
void checkRange(int line, const InputRange& range, double value)
{
    if (const std::optional<std::string> refusal = rangeRefusal(range, value))
        refuseAt(line, *refusal);
}

// "element 3 (QF)": an element as the reader's refusals name it.
std::string elementWords(const LatticeElement& e, int i)
{
    return "element " + std::to_string(i) + (e.name.empty() ? std::string() : " (" + excerpt(e.name) + ")");
}

// An element as the element panel would take it, where the elements before it end.
void checkElement(const BeamLine& beamLine, int i, int line)
{
    const LatticeElement& e = beamLine.at(i);
    const std::string element = elementWords(e, i);
    if (const std::optional<std::string> refusal = elementRefusal(e))
        refuseAt(line, element + ": " + *refusal);
    const double start = i == 1 ? 0.0 : beamLine.at(i - 1).s + beamLine.at(i - 1).length;
    // the long form keeps 15 digits: positions summed from it agree to far better than a micrometre
    if (std::fabs(e.s - start) > 1e-6 + 1e-12 * std::fabs(start))
        refuseAt(line, element + " starts at " + shortestFloat(e.s) +
                           " m, where the elements before it end at " + shortestFloat(start) + " m");
}

// The particle as the particle window would take it.
void checkParticle(const BeamParameters& beam, int line, bool restEnergyAsRead)
{
    checkRange(line, ranges::kChargeState, beam.charge);
    checkRange(line, ranges::kMassNumber, beam.massNumber);
    if (restEnergyAsRead)
        checkRange(line, ranges::kRestEnergyMeV, beam.restEnergy / 1e6);
    // 0 is a particle without energy yet: the particle window is asked for then
    if (beam.referenceMomentum != 0)
        checkRange(line, ranges::kMomentumMeV, beam.referenceMomentum / 1e6);
}

void checkMomentum(double momentum, int line)
{
    if (momentum != 0)
        checkRange(line, ranges::kMomentumMeV, momentum / 1e6);
}

void checkBeamCurrent(double current, int line)
{
    checkRange(line, ranges::kBeamCurrentMa, current * 1000);
}

void checkRf(const RfParameters& rf, int line)
{
    // 0 is an rf system not set yet
    if (rf.frequency != 0)
        checkRange(line, ranges::kRfFrequencyMHz, rf.frequency / 1e6);
    checkRange(line, ranges::kRfVoltageKv, rf.voltage / 1000);
    checkRange(line, ranges::kRfPowerKw, rf.power / 1000);
    if (rf.cavities != 0)
        checkRange(line, ranges::kCavityCells, rf.cavities);
    checkRange(line, ranges::kMiscLossPercent, rf.miscLoss * 100);
}

/// Free-format tokens and fixed-width text fields over the file's text, counting lines.
class Scanner
{
public:
    explicit Scanner(const std::string& text) : m_text(text) {}

    int line() const { return m_line; }

    /// True when only blanks and line ends are left.
    bool atEnd()
    {
        skipSpace();
        return m_pos >= m_text.size();
    }

    /// A plain integer; with digitsOnly it ends at the first character that is not a digit, as the
    /// ion flag does, which the particle name follows without a blank.
    int readInt(const char* what, bool digitsOnly = false)
    {
        const std::string token = digitsOnly ? nextDigits(what) : nextToken(what);
        std::size_t i = token[0] == '-' || token[0] == '+' ? 1 : 0;
        bool digits = i < token.size();
        for (std::size_t j = i; j < token.size(); ++j)
            digits = digits && token[j] >= '0' && token[j] <= '9';
        errno = 0;
        const long value = digits ? std::strtol(token.c_str(), nullptr, 10) : 0;
        if (!digits || errno == ERANGE || value < std::numeric_limits<int>::min() ||
            value > std::numeric_limits<int>::max())
            fail(what, token);
        return static_cast<int>(value);
    }

    double readReal(const char* what)
    {
        const std::string token = nextToken(what);
        char* end = nullptr;
        const double value = std::strtod(token.c_str(), &end);
        if (end != token.c_str() + token.size() || !std::isfinite(value))
            fail(what, token);
        // no value of a design comes near this; beyond it products of values would overflow
        if (std::fabs(value) > kLargestValue)
            throw ReadError("line " + std::to_string(m_line) + ": " + what + " " + excerpt(token) +
                            " is beyond any value the program takes");
        return value;
    }

    /// Exactly n characters, fewer when the line ends first.
    std::string readText(std::size_t n)
    {
        std::string text;
        while (text.size() < n && m_pos < m_text.size() && !isLineEnd(m_text[m_pos]))
            text += m_text[m_pos++];
        return text;
    }

    /// A text in double quotes, a doubled quote standing for one; it must end on its line.
    std::string readQuoted(const char* what)
    {
        skipSpace();
        if (m_pos >= m_text.size() || m_text[m_pos] != '"') {
            const std::string found = restOfLine();
            fail(what, found.substr(0, found.find_first_of(" \t")));
        }
        std::string text;
        for (++m_pos; m_pos < m_text.size() && !isLineEnd(m_text[m_pos]); ++m_pos) {
            if (m_text[m_pos] != '"') {
                text += m_text[m_pos];
                continue;
            }
            if (m_pos + 1 < m_text.size() && m_text[m_pos + 1] == '"') {
                text += '"';
                ++m_pos;
                continue;
            }
            ++m_pos;
            return text;
        }
        throw ReadError("line " + std::to_string(m_line) + ": the closing quote of " + what + " expected");
    }

    /// The next word of the current line (up to a blank or the line end); empty at the line end.
    std::string wordOnLine()
    {
        while (m_pos < m_text.size() && (m_text[m_pos] == ' ' || m_text[m_pos] == '\t'))
            ++m_pos;
        std::string word;
        while (m_pos < m_text.size() && m_text[m_pos] != ' ' && m_text[m_pos] != '\t' &&
               !isLineEnd(m_text[m_pos]))
            word += m_text[m_pos++];
        return word;
    }

    /// The rest of the current line, without its end.
    std::string restOfLine() { return readText(std::string::npos); }

    /// Skips the one character that separates a record type from a text field.
    void skipOne()
    {
        if (m_pos < m_text.size() && !isLineEnd(m_text[m_pos]))
            ++m_pos;
    }

    /// Moves to the start of the next line (or the end of the text).
    void skipLine()
    {
        restOfLine();
        if (m_pos < m_text.size())
            consumeLineEnd();
    }

    /// Like skipLine, but the file must not end here: a further line is expected.
    void nextLine(const char* what)
    {
        restOfLine();
        if (m_pos >= m_text.size())
            fail(what, {});
        consumeLineEnd();
    }

    [[noreturn]] void fail(const char* what, const std::string& found) const
    {
        std::string text = "line " + std::to_string(m_line) + ": " + what + " expected";
        const std::string shown = printableText(cut(found, 40));
        // bytes that are no text (a picture chosen by mistake) are shown as \xNN and called what they are
        const std::string kind = shown == cut(found, 40) ? "" : "binary data ";
        text += found.empty() ? " but the file ends" : ", found " + kind + "'" + shown + "'";
        throw ReadError(text);
    }

private:
    static bool isLineEnd(char c) { return c == '\r' || c == '\n'; }

    void consumeLineEnd()
    {
        if (m_text[m_pos] == '\r' && m_pos + 1 < m_text.size() && m_text[m_pos + 1] == '\n')
            ++m_pos;
        ++m_pos;
        ++m_line;
    }

    void skipSpace()
    {
        while (m_pos < m_text.size()) {
            const char c = m_text[m_pos];
            if (isLineEnd(c))
                consumeLineEnd();
            else if (c == ' ' || c == '\t')
                ++m_pos;
            else
                break;
        }
    }

    std::string nextToken(const char* what)
    {
        skipSpace();
        std::string token;
        while (m_pos < m_text.size()) {
            const char c = m_text[m_pos];
            if (c == ' ' || c == '\t' || isLineEnd(c))
                break;
            token += c;
            ++m_pos;
        }
        if (token.empty())
            fail(what, {});
        return token;
    }

    std::string nextDigits(const char* what)
    {
        skipSpace();
        std::string token;
        while (m_pos < m_text.size() && m_text[m_pos] >= '0' && m_text[m_pos] <= '9')
            token += m_text[m_pos++];
        if (token.empty())
            fail(what, m_pos < m_text.size() ? std::string(1, m_text[m_pos]) : std::string());
        return token;
    }

    const std::string& m_text;
    std::size_t m_pos = 0;
    int m_line = 1;
};

std::string trimmed(const std::string& text)
{
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

void setElementCount(State& state, Scanner& in, int count)
{
    if (count < 0 || count > kMaxLineElements)
        throw ReadError("line " + std::to_string(in.line()) + ": the file holds " + std::to_string(count) +
                        " elements, the beam line has room for " + std::to_string(kMaxLineElements));
    state.line.count = count;
}

void setStartFunctions(RunSettings& run, const double values[6])
{
    run.betaX0 = values[0] > 0 ? values[0] : 10.0;
    run.alphaX0 = values[1];
    run.betaY0 = values[3] > 0 ? values[3] : 10.0;
    run.alphaY0 = values[4];
    run.gammaX0 = (1 + run.alphaX0 * run.alphaX0) / run.betaX0;
    run.gammaY0 = (1 + run.alphaY0 * run.alphaY0) / run.betaY0;
}

void readStartFunctions(RunSettings& run, Scanner& in)
{
    double values[6];
    for (double& v : values)
        v = in.readReal("a start lattice function");
    setStartFunctions(run, values);
}

void readEmittances(State& state, Scanner& in)
{
    state.run.epsXIn = state.lf.epsX = in.readReal("the horizontal emittance");
    state.run.epsYIn = state.lf.epsY = in.readReal("the vertical emittance");
}

void readBox(State& state, Scanner& in, int i)
{
    const std::size_t slot = static_cast<std::size_t>(i);
    if (state.fileBoxes.size() <= slot)
        state.fileBoxes.resize(slot + 1);
    DrawingBox& box = state.fileBoxes[slot];
    box.x0 = in.readReal("the drawing box X0");
    box.x1 = in.readReal("the drawing box X1");
    box.y0 = in.readReal("the drawing box Y0");
    box.y1 = in.readReal("the drawing box Y1");
}

/// The no-data field, the name and the code of an element line; the reals follow.
LatticeElement& readElementHead(State& state, Scanner& in, int i)
{
    state.lastNoDataField = in.readText(5);
    LatticeElement& e = state.line.at(i);
    e = LatticeElement{};
    e.name = trimmed(in.readText(5));
    e.code = in.readInt("an element code");
    return e;
}

void readElementReals(LatticeElement& e, Scanner& in, bool withEnergyGain)
{
    double* const fields[] = {&e.s, &e.length, &e.curvature, &e.ain,        &e.aout,       &e.gap,
                              &e.k, &e.m,      &e.pumpSpeed, &e.linacField, &e.electrodes, &e.energyGain};
    for (double* field : fields) {
        if (!withEnergyGain && (field == &e.electrodes || field == &e.energyGain))
            break;
        *field = in.readReal("an element value");
    }
}

// ----- versions 3 and 4: numbered records

void readElementRecords(State& state, Scanner& in)
{
    for (int i = 1; i <= state.line.count; ++i) {
        if (i > 1) {
            in.nextLine("the next element line");
            in.readInt("the element record type");
        }
        in.skipOne();
        LatticeElement& e = readElementHead(state, in, i);
        readElementReals(e, in, true);
        checkElement(state.line, i, in.line());
        in.nextLine("the drawing line");
        in.readInt("the drawing record type");
        readBox(state, in, i);
    }
}

// ----- version 4: one record per element

// The comma-separated reals of a named field, at most `most` of them (more are refused, so that a long
// line cannot make a long list).
std::vector<double> namedReals(const std::string& text, std::size_t most, const std::string& key,
                               const std::string& element, int line)
{
    std::vector<double> values;
    std::string bad; // the first member that is no number the program takes
    bool tooMany = false;
    for (std::size_t from = 0; from <= text.size() && bad.empty() && !tooMany;) {
        const std::size_t comma = std::min(text.find(',', from), text.size());
        const std::string token = text.substr(from, comma - from);
        char* end = nullptr;
        const double value = std::strtod(token.c_str(), &end);
        if (token.empty() || end != token.c_str() + token.size() || !std::isfinite(value) ||
            std::fabs(value) > kLargestValue)
            bad = token.empty() ? std::string(" ") : token;
        else if (values.size() == most)
            tooMany = true;
        else
            values.push_back(value);
        from = comma + 1;
    }
    if (!bad.empty())
        refuseAt(line, element + ": " + key + " holds '" + printableText(cut(trimmed(bad), 40)) +
                           "', not a number the program takes");
    if (tooMany && (key == "knl" || key == "ksl" || key == "dkn" || key == "dks"))
        refuseAt(line, element + ": " + key + " holds orders 0 to " + std::to_string(kMaxMultipoleOrder) +
                           ", not more");
    if (tooMany)
        refuseAt(line, element + ": " + key + " holds " + std::to_string(most) + " values, not more");
    return values;
}

// One key=value word after an element record's drawing box (see appendNamedFields); seen holds the keys
// read before it.
void readNamedField(LatticeElement& e, const std::string& word, std::vector<std::string>& seen,
                    const std::string& element, int line)
{
    const std::size_t equals = word.find('=');
    const std::string key = word.substr(0, equals);
    if (equals == std::string::npos || std::find(seen.begin(), seen.end(), key) != seen.end())
        refuseAt(line, element + ": " +
                           (equals == std::string::npos ? "a field key=value expected, found '"
                                                        : "the field given twice: '") +
                           printableText(cut(word, 40)) + "'");
    seen.push_back(key);
    const std::string value = word.substr(equals + 1);
    const auto scalar = std::find_if(std::begin(kNamedScalars), std::end(kNamedScalars),
                                     [&](const NamedScalar& f) { return key == f.key; });
    const std::size_t orders = kMaxMultipoleOrder + 1;
    if (scalar != std::end(kNamedScalars)) {
        e.*scalar->field = namedReals(value, 1, key, element, line)[0];
    } else if (key == "knl" || key == "ksl") {
        (key == "knl" ? e.knl : e.ksl) = namedReals(value, orders, key, element, line);
    } else if (key == "aperture") {
        const std::size_t colon = value.find(':');
        const std::string type = value.substr(0, colon);
        const auto known = std::find(std::begin(kApertureWords), std::end(kApertureWords), type);
        if (known == std::end(kApertureWords) || colon == std::string::npos)
            refuseAt(line,
                     element +
                         ": the aperture type must be circle, rectangle, ellipse or rectellipse, not '" +
                         printableText(cut(type, 40)) + "'");
        const auto t = static_cast<std::size_t>(known - std::begin(kApertureWords));
        const std::vector<double> sizes = namedReals(value.substr(colon + 1), 4, key, element, line);
        if (sizes.size() < static_cast<std::size_t>(kApertureSizes[t]))
            refuseAt(line, element + ": a " + type + " aperture has " + std::to_string(kApertureSizes[t]) +
                               " sizes, not " + std::to_string(sizes.size()));
        e.aperture.type = static_cast<ApertureType>(t);
        std::copy(sizes.begin(), sizes.end(), e.aperture.a);
    } else if (key == "dkn" || key == "dks") {
        (key == "dkn" ? e.errors.dkn : e.errors.dks) = namedReals(value, orders, key, element, line);
    } else if (key == "align") {
        // dx:dy:ds:dtheta:dphi:dpsi
        std::string members = value;
        const bool commas = members.find(',') != std::string::npos;
        std::replace(members.begin(), members.end(), ':', ',');
        const std::vector<double> values = namedReals(members, 6, key, element, line);
        if (commas || values.size() != 6)
            refuseAt(line, element + ": align holds six values, dx:dy:ds:dtheta:dphi:dpsi");
        ElementErrors& err = e.errors;
        double* const fields[] = {&err.dx, &err.dy, &err.ds, &err.dtheta, &err.dphi, &err.dpsi};
        for (std::size_t k = 0; k < 6; ++k)
            *fields[k] = values[k];
    } else if (key == "aper_offset") {
        const std::vector<double> offsets = namedReals(value, 2, key, element, line);
        if (offsets.size() != 2)
            refuseAt(line, element + ": aper_offset holds two offsets, dx,dy");
        e.aperture.dx = offsets[0];
        e.aperture.dy = offsets[1];
    } else {
        refuseAt(line, element + ": unknown field '" + printableText(cut(key, 40)) + "'");
    }
}

// The key=value words after an element record's drawing box.
void readNamedFields(LatticeElement& e, Scanner& in, int i)
{
    const std::string element = elementWords(e, i);
    std::vector<std::string> seen;
    for (std::string word = in.wordOnLine(); !word.empty(); word = in.wordOnLine())
        readNamedField(e, word, seen, element, in.line());
}

void readElementRecordsV4(State& state, Scanner& in)
{
    for (int i = 1; i <= state.line.count; ++i) {
        if (i > 1) {
            in.nextLine("the next element record");
            if (in.readInt("the element record type") != 50)
                refuseAt(in.line(), "an element record (50) expected for element " + std::to_string(i));
        }
        LatticeElement& e = state.line.at(i);
        e = LatticeElement{};
        e.name = in.readQuoted("the element name");
        e.code = in.readInt("an element code");
        readElementReals(e, in, true);
        readBox(state, in, i);
        readNamedFields(e, in, i);
        checkElement(state.line, i, in.line());
    }
}

void readParticleRecord(State& state, Scanner& in)
{
    BeamParameters& beam = state.beam;
    const int ionFlag = in.readInt("the ion flag", true);
    beam.name = in.readText(15);
    beam.charge = in.readInt("the charge");
    beam.massNumber = in.readReal("the mass number");
    beam.restEnergy = in.readReal("the rest energy");
    beam.referenceMomentum = in.readReal("the momentum");
    if (beam.name == paddedElectronName())
        beam.massNumber = kElectronRestEnergy / kAtomicMassUnit;
    beam.isIon = ionFlag == 1;
    // the rest energy follows from the mass number after every record
    checkParticle(beam, in.line(), false);
    updateKinematics(beam, EnergyKind::Momentum, beam.referenceMomentum);
}

void readStepRecord(RunSettings& run, Scanner& in)
{
    const int atEnds = in.readInt("the step flag");
    run.maxSteps = in.readInt("the number of steps");
    run.maxStep = in.readReal("the step length");
    run.stepAtElementEnds = atEnds == 1;
    if (run.maxSteps < 1)
        run.maxSteps = 20;
    run.maxStepsBox = run.maxSteps;
}

void readRecord(State& state, Scanner& in, int type, int format)
{
    RunSettings& run = state.run;
    switch (type) {
    case 1:
        state.ringClosed = in.readInt("the ring flag") == 1;
        break;
    case 2:
    case 101: {
        const double momentum = in.readReal("the momentum");
        state.beamCurrent = in.readReal("the beam current");
        checkMomentum(momentum, in.line());
        checkBeamCurrent(state.beamCurrent, in.line());
        updateKinematics(state.beam, EnergyKind::Momentum, momentum);
        break;
    }
    case 5:
        readStepRecord(run, in);
        break;
    case 10: {
        const std::string keyword = in.restOfLine();
        run.showTrajectory = keyword == " traj";
        run.showBeamSize = keyword == " beam";
        run.showBetaFunctions = keyword == " beta";
        break;
    }
    case 21:
        run.x0 = in.readReal("x0");
        run.xp0 = in.readReal("x0'");
        run.y0 = in.readReal("y0");
        run.yp0 = in.readReal("y0'");
        break;
    case 22:
        run.d0 = in.readReal("D0");
        run.dp0 = in.readReal("D0'");
        run.delta = in.readReal("the momentum deviation");
        break;
    case 23:
        readStartFunctions(run, in);
        break;
    case 24:
        readEmittances(state, in);
        break;
    case 25:
        run.etaX0 = in.readReal("eta0");
        run.etaPX0 = in.readReal("eta0'");
        break;
    case 26:
        run.r11 = in.readReal("the start coupling R11");
        run.r12 = in.readReal("the start coupling R12");
        run.r21 = in.readReal("the start coupling R21");
        run.r22 = in.readReal("the start coupling R22");
        run.etaY0 = in.readReal("eta0 of y");
        run.etaPY0 = in.readReal("eta0' of y");
        break;
    case 30:
        readParticleRecord(state, in);
        break;
    case 50:
        if (format >= kCurrentLatticeFormat)
            readElementRecordsV4(state, in);
        else
            readElementRecords(state, in);
        break;
    case 102:
        setElementCount(state, in, in.readInt("the element count"));
        state.line.superPeriods = in.readInt("the number of superperiods");
        checkRange(in.line(), ranges::kSuperperiods, state.line.superPeriods);
        state.line.length = in.readReal("the line length");
        state.drawScale = in.readReal("the drawing scale");
        break;
    case 103:
        state.rf.frequency = in.readReal("the RF frequency");
        state.rf.voltage = in.readReal("the RF voltage");
        state.rf.power = in.readReal("the RF power");
        state.rf.cavities = in.readInt("the number of cavities");
        state.rf.miscLoss = in.readReal("the miscellaneous losses");
        checkRf(state.rf, in.line());
        break;
    case 201:
        setElementCount(state, in, in.readInt("the element count"));
        state.line.length = in.readReal("the line length");
        state.drawScale = in.readReal("the drawing scale");
        break;
    default:
        break;
    }
}

void readCurrentFormat(State& state, Scanner& in, int format)
{
    bool counted = false;  // a 102 or 201 record said how many elements follow
    bool elements = false; // the 50 record was read
    while (!in.atEnd()) {
        const int type = in.readInt("a record type");
        if (type == 50 && !counted)
            refuseAt(in.line(), "an element record before the record with the element count (102 or 201)");
        if (type == 50 && elements)
            refuseAt(in.line(), "a second block of element records");
        counted = counted || type == 102 || type == 201;
        elements = elements || type == 50;
        readRecord(state, in, type, format);
        in.skipLine();
        state.beam.referenceMomentum = state.beam.momentum;
        particleParameter(state.beam, state.electron);
    }
    if (counted && state.line.count > 0 && !elements)
        refuseAt(in.line(), "the file ends before its " + std::to_string(state.line.count) + " elements");
}

// ----- older formats: fixed sequences of lines

void readOldHeader(State& state, Scanner& in, int ringFlag)
{
    state.ringClosed = ringFlag == 1;
    if (!state.ringClosed) {
        setElementCount(state, in, in.readInt("the element count"));
        state.line.length = in.readReal("the line length");
        state.drawScale = in.readReal("the drawing scale");
        in.skipLine();
        return;
    }
    const double momentum = in.readReal("the momentum");
    state.beamCurrent = in.readReal("the beam current");
    checkMomentum(momentum, in.line());
    checkBeamCurrent(state.beamCurrent, in.line());
    updateKinematics(state.beam, EnergyKind::Momentum, momentum);
    in.nextLine("the element count");
    setElementCount(state, in, in.readInt("the element count"));
    state.line.superPeriods = in.readInt("the number of superperiods");
    checkRange(in.line(), ranges::kSuperperiods, state.line.superPeriods);
    state.line.length = in.readReal("the line length");
    state.drawScale = in.readReal("the drawing scale");
    in.nextLine("the RF settings");
    state.rf.frequency = in.readReal("the RF frequency");
    state.rf.voltage = in.readReal("the RF voltage");
    state.rf.power = in.readReal("the RF power");
    state.rf.cavities = in.readInt("the number of cavities");
    state.rf.miscLoss = in.readReal("the miscellaneous losses");
    checkRf(state.rf, in.line());
    in.skipLine();
}

int renumberedOldCode(int code)
{
    switch (code) {
    case 20:
        return 21;
    case 21:
        return 22;
    case 30:
        return 31;
    case 31:
        return 32;
    case 32:
        return 33;
    default:
        return code;
    }
}

void readOldElements(State& state, Scanner& in, int version)
{
    for (int i = 1; i <= state.line.count; ++i) {
        LatticeElement& e = readElementHead(state, in, i);
        if (version == 0) {
            e.s = in.readReal("an element value");
            e.length = in.readReal("an element value");
            e.curvature = in.readReal("an element value");
            e.k = in.readReal("an element value");
            e.m = in.readReal("an element value");
            e.pumpSpeed = in.readReal("an element value");
            if (e.code == code::kRectangularBend)
                e.ain = e.aout = e.length * e.curvature / 2;
        } else {
            readElementReals(e, in, version == 2);
        }
        // the older formats numbered the quadrupole and sextupole kinds one lower
        e.code = renumberedOldCode(e.code);
        checkElement(state.line, i, in.line());
        in.nextLine("the drawing line");
        readBox(state, in, i);
        // the file may end after the last drawing line: an empty keyword line
        if (i < state.line.count)
            in.nextLine("the next element line");
        else
            in.skipLine();
    }
}

void readOldOptics(State& state, Scanner& in)
{
    RunSettings& run = state.run;
    const std::string keyword = trimmed(in.restOfLine());
    if (keyword.empty())
        return;
    if (keyword == "traj") {
        run.showTrajectory = true;
        in.nextLine("the trajectory start");
        run.x0 = in.readReal("x0");
        run.xp0 = in.readReal("x0'");
        run.y0 = in.readReal("y0");
        run.yp0 = in.readReal("y0'");
        in.nextLine("the dispersion start");
        run.d0 = in.readReal("D0");
        run.dp0 = in.readReal("D0'");
        run.delta = in.readReal("the momentum deviation");
        return;
    }
    run.showBeamSize = keyword != "beta";
    run.showBetaFunctions = keyword != "beam";
    in.nextLine("the start lattice functions");
    readStartFunctions(run, in);
    in.nextLine("the emittances");
    readEmittances(state, in);
    in.nextLine("the start dispersion");
    run.etaX0 = in.readReal("eta0");
    run.etaPX0 = in.readReal("eta0'");
}

void readOldSteps(RunSettings& run, Scanner& in, int version)
{
    const int atEnds = in.readInt("the step flag");
    in.nextLine("the step settings");
    if (version != 1)
        run.maxSteps = in.readInt("the number of steps");
    const double stepCm = in.readReal("the step length");
    run.stepAtElementEnds = atEnds == 1;
    if (!run.stepAtElementEnds) {
        run.maxStep = stepCm / 100;
        if (run.maxSteps < 1)
            run.maxSteps = 200;
    }
    run.maxStepsBox = run.maxSteps;
}

void readOldParticle(State& state, Scanner& in)
{
    BeamParameters& beam = state.beam;
    in.nextLine("the particle name");
    beam.name = in.readText(15);
    in.nextLine("the ion flag");
    beam.isIon = in.readInt("the ion flag") == 1;
    in.nextLine("charge, mass number and rest energy");
    beam.charge = in.readInt("the charge");
    beam.massNumber = in.readReal("the mass number");
    beam.restEnergy = in.readReal("the rest energy");
    if (beam.name == paddedElectronName())
        beam.massNumber = kElectronRestEnergy / kAtomicMassUnit;
    in.nextLine("the momentum");
    beam.referenceMomentum = in.readReal("the momentum");
    checkParticle(beam, in.line(), true);
    updateKinematics(beam, EnergyKind::Momentum, beam.referenceMomentum);
}

void readOldFormat(State& state, Scanner& in, int first)
{
    const int version = first == 1001 ? 1 : first == 1002 ? 2 : 0;
    int ringFlag = first;
    if (version != 0) {
        ringFlag = in.readInt("the ring flag");
        in.nextLine("the line header");
    }
    readOldHeader(state, in, ringFlag);
    readOldElements(state, in, version);
    readOldOptics(state, in);
    state.run.maxSteps = state.run.maxStepsBox = 200;
    in.skipLine();
    if (version == 0 && in.atEnd())
        return;
    readOldSteps(state.run, in, version);
    readOldParticle(state, in);
}

} // namespace

std::string longReal(double value)
{
    // "1.50000000000000E+0000": 15 significant digits and a four-digit exponent. std::to_chars rounds as
    // printf's "%.14E" does (both exactly, from the binary value) at a fraction of its time, which the
    // title's unsaved mark needs: it writes the whole design on every edit.
    const std::string sign = value < 0 ? "" : " ";
    char digits[40];
    const auto [end, error] =
        std::to_chars(digits, digits + sizeof digits, value, std::chars_format::scientific, 14);
    const char* e = std::find(digits, end, 'e');
    if (error != std::errc() || e == end || !std::isfinite(value))
        return sign + fmt("%.14E", value);
    int exponent = 0;
    std::from_chars(e + (e[1] == '+' ? 2 : 1), end, exponent);
    const int magnitude = std::abs(exponent);
    std::string text = sign;
    text.append(digits, static_cast<std::size_t>(e - digits));
    text += exponent < 0 ? "E-" : "E+";
    for (int unit = 1000; unit > 0; unit /= 10)
        text += static_cast<char>('0' + magnitude / unit % 10);
    return text;
}

std::string exactReal(double value)
{
    // the shortest decimal that reads back to the same double
    char digits[32];
    const auto [end, error] = std::to_chars(digits, digits + sizeof digits, value);
    if (error != std::errc() || !std::isfinite(value))
        return "0";
    return std::string(digits, end);
}

namespace {

// the rf settings of a ring: frequency (Hz), voltage (V), power (W), cells, miscellaneous loss
std::string rfRecord(const RfParameters& rf, RealText real)
{
    std::ostringstream out;
    out << "103 " << real(rf.frequency) << ' ' << real(rf.voltage) << ' ' << real(rf.power) << ' '
        << rf.cavities << ' ' << real(rf.miscLoss);
    return out.str();
}

} // namespace

std::string latticeFileText(State& state, int format)
{
    if (!(state.beam.referenceMomentum > 0))
        state.beam.referenceMomentum = 1e9;
    return designText(state, format);
}

std::string designText(const State& state, int format)
{
    const bool exact = format >= kCurrentLatticeFormat;
    const RealText real = exact ? exactReal : longReal;
    const BeamLine& line = state.line;
    std::ostringstream out;
    out << (exact ? kCurrentLatticeFormat : kPreviousLatticeFormat) << kLineEnd;
    out << "1 " << (state.ringClosed ? 1 : 0) << kLineEnd;
    if (state.ringClosed) {
        out << "101 " << real(state.beam.momentum) << ' ' << real(state.beamCurrent) << kLineEnd;
        out << "102 " << line.count << ' ' << line.superPeriods << ' ' << real(line.length) << ' '
            << real(state.drawScale) << kLineEnd;
        out << rfRecord(state.rf, real) << kLineEnd;
    } else {
        // an open ring keeps its beam current and rf system for the ring it will be again
        if (state.rf.frequency != 0) {
            out << "101 " << real(state.beam.momentum) << ' ' << real(state.beamCurrent) << kLineEnd;
            out << rfRecord(state.rf, real) << kLineEnd;
        }
        out << "201 " << line.count << ' ' << real(line.length) << ' ' << real(state.drawScale) << kLineEnd;
    }
    for (int i = 1; i <= line.count && i <= kMaxLineElements; ++i) {
        if (exact) {
            out << elementRecord(line.at(i), line.shape(i)) << kLineEnd;
            continue;
        }
        out << elementLine(state.lastNoDataField, line.at(i)) << kLineEnd;
        out << drawingLine(line.shape(i)) << kLineEnd;
    }
    writeOptics(state.run, real, exact, out);
    BeamParameters beam = state.beam;
    if (!(beam.referenceMomentum > 0))
        beam.referenceMomentum = 1e9;
    out << particleLine(beam, exact) << kLineEnd;
    return out.str();
}

namespace {

// True for an element with errors of its own (a misalignment, field error lists).
bool hasErrors(const LatticeElement& e)
{
    return e.errors.misaligned() || !e.errors.dkn.empty() || !e.errors.dks.empty();
}

// True for an element with a field of the later kinds set (a multipole list, a skew or solenoid field,
// a roll, a kick, an rf setting, an aperture of its own).
bool hasLaterFields(const LatticeElement& e)
{
    if (!e.knl.empty() || !e.ksl.empty() || e.aperture != ElementAperture{} || hasErrors(e))
        return true;
    for (const NamedScalar& f : kNamedScalars)
        if (e.*f.field != 0)
            return true;
    return false;
}

// "A (element 3), B (element 9) and 4 more": the first ten of the elements, named.
class ElementNames
{
public:
    void add(const std::string& name, int i)
    {
        if (++m_count <= 10)
            m_text += (m_count == 1 ? "" : ", ") + excerpt(name) + " (element " + std::to_string(i) + ")";
    }
    bool empty() const { return m_count == 0; }
    std::string text() const
    {
        return m_text + (m_count > 10 ? " and " + std::to_string(m_count - 10) + " more" : std::string());
    }

private:
    std::size_t m_count = 0;
    std::string m_text;
};

} // namespace

std::optional<std::string> previousFormatRefusal(const BeamLine& line)
{
    ElementNames longNames;
    ElementNames laterKinds;
    ElementNames withErrors;
    for (int i = 1; i <= line.count && i <= kMaxLineElements; ++i) {
        const LatticeElement& e = line.at(i);
        if (e.name.size() > kShortNameLength)
            longNames.add(e.name, i);
        if (e.code >= 60 || isExtendedCode(e.code) || hasLaterFields(e))
            laterKinds.add(e.name, i);
        if (hasErrors(e))
            withErrors.add(e.name, i);
    }
    if (longNames.empty() && laterKinds.empty())
        return std::nullopt;
    std::string text;
    if (!longNames.empty())
        text = "the previous lattice file version holds names of at most 5 characters, not those of " +
               longNames.text();
    if (!laterKinds.empty())
        text += std::string(text.empty() ? "the previous lattice file version" : "; it") +
                " holds neither thin multipoles, octupoles, solenoids, kickers, monitors, markers and rf "
                "cavities nor skew, roll, kick, rf and aperture fields, not those of " +
                laterKinds.text();
    if (!withErrors.empty())
        text += "; it holds no misalignments and field errors, not those of " + withErrors.text();
    return text + "; save it in the current version";
}

bool readLatticeText(State& state, Messages& messages, const std::string& text, const std::string& fileName)
{
    State copy = state;
    // the start coupling is the file's own: none unless its record 26 gives one
    copy.run.r11 = copy.run.r12 = copy.run.r21 = copy.run.r22 = 0;
    copy.run.etaY0 = copy.run.etaPY0 = 0;
    Scanner in(text);
    try {
        const int first = in.readInt("the format number");
        if (first >= kPreviousLatticeFormat) {
            in.skipLine();
            readCurrentFormat(copy, in, first);
        } else {
            in.nextLine("the next line");
            readOldFormat(copy, in, first);
        }
    } catch (const ReadError& e) {
        messages.error("cannot read lattice file " + fileName + ", " + e.what());
        return false;
    }
    // the header's length is a copy of what the elements say
    copy.line.length = copy.line.endPosition();
    state = std::move(copy);
    return true;
}

bool writeLatticeFile(State& state, Messages& messages, const std::string& fileName, int format)
{
    if (format < kCurrentLatticeFormat) {
        if (const std::optional<std::string> refusal = previousFormatRefusal(state.line)) {
            messages.error("cannot save " + fileName + ": " + *refusal);
            return false;
        }
    }
    return writeTextFileSafely(fileName, latticeFileText(state, format), messages);
}

bool readLatticeFile(State& state, Messages& messages, const std::string& fileName)
{
    const FileText file = readTextFile(fileName);
    if (!file.problem.empty()) {
        messages.error("cannot open lattice file " + fileName + ": " + file.problem);
        return false;
    }
    return readLatticeText(state, messages, file.text, fileName);
}

bool saveLatticeAs(State& state, Messages& messages, const std::string& fileName, int format)
{
    if (format < kCurrentLatticeFormat && previousFormatRefusal(state.line))
        return writeLatticeFile(state, messages, fileName, format);
    state.lastSavedFile = fileName;
    const bool written = writeLatticeFile(state, messages, fileName, format);
    if (written) {
        state.lastSaveFolder = std::filesystem::path(fileName).parent_path().string();
        state.documentFile = fileName;
        markDesignSaved(state, fileName);
    }
    return written;
}

bool saveBackupLattice(State& state, Messages& messages)
{
    if (state.backupFile.empty())
        return true;
    return writeLatticeFile(state, messages, state.backupFile);
}

void markDesignSaved(State& state, const std::string& fileName)
{
    state.savedDesign = SavedDesign{fileName, designText(state)};
}

void markDesignUnsaved(State& state, const std::string& fileName)
{
    state.savedDesign = SavedDesign{fileName, std::string()};
}

bool designModified(const State& state)
{
    if (!state.savedDesign.text)
        return state.history.modified();
    return designText(state) != *state.savedDesign.text;
}

std::string saveChangesQuestion(const State& state)
{
    const std::string name = state.documentFile.empty()
                                 ? "untitled"
                                 : std::filesystem::path(state.documentFile).filename().string();
    return "Save changes to " + name + "?";
}

bool openLattice(State& state, Messages& messages, const std::string& fileName)
{
    const bool read = readLatticeFile(state, messages, fileName);
    if (read)
        state.lastOpenedFile = fileName;
    if (!(state.beam.momentum > 0))
        messages.askParticle();
    return read;
}

} // namespace kestrune
