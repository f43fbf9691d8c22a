#include "core/FieldErrors.h"
#include "core/Format.h"
#include "core/io/madx/MadxInput.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <unordered_map>

// The error commands of MAD-X: SELECT, FLAG=ERROR gathers the elements, EALIGN gives them misalignments,
// EFCOMP field errors, EOPTION, ADD says whether new errors add to those an element has; they act on the
// beam line `use` chose, and a later `use` drops them, as in MAD-X.

namespace kestrune {

namespace {

const char* const kAlignNames[] = {"dx", "dy", "ds", "dtheta", "dphi", "dpsi"};

std::string lowerCase(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

const MadxAttr* findAttr(const MadxAttrs& attrs, const char* name)
{
    const auto found = attrs.find(name);
    return found == attrs.end() ? nullptr : &found->second;
}

bool flagOn(const MadxAttrs& attrs, const char* name)
{
    const MadxAttr* a = findAttr(attrs, name);
    if (a == nullptr)
        return false;
    if (a->kind == MadxAttr::Kind::Flag)
        return a->on;
    return a->kind == MadxAttr::Kind::Text ? a->text == "true" || a->text == "1" : a->value != 0;
}

} // namespace

bool MadxInput::errorCommand(const std::string& name, const std::vector<MadxToken>& t, int line)
{
    if (name != "select" && name != "ealign" && name != "efcomp" && name != "eoption" && name != "seterr")
        return false;
    if (name == "seterr")
        fail("seterr (errors read from a table) is not supported: give them with ealign and efcomp", line);
    if (name == "select") {
        // the selections of other flags (twiss columns) are no business of the beam line: not even read
        bool errors = false;
        for (std::size_t i = 1; i + 2 < t.size(); ++i)
            errors = errors || (t[i].kind == MadxToken::Kind::Name && t[i].value == "flag" &&
                                t[i + 1].value == "=" && lowerCase(t[i + 2].value) == "error");
        if (errors)
            selectErrors(attributes(t, 1, line), line);
        return true;
    }
    const MadxAttrs attrs = attributes(t, 1, line);
    if (name == "eoption") {
        // ADD omitted means true, unless ADD was given before (MAD-X's user guide, EOPTION)
        if (findAttr(attrs, "add") != nullptr) {
            m_errorAdd = flagOn(attrs, "add");
            m_errorAddSet = true;
        } else if (!m_errorAddSet) {
            m_errorAdd = true;
        }
        return true;
    }
    if (!m_used)
        fail(name + " before 'use': errors are given to the elements of the beam line use chose", line);
    if (name == "ealign")
        ealign(attrs, line);
    else
        efcomp(attrs, line);
    return true;
}

void MadxInput::selectErrors(const MadxAttrs& attrs, int line)
{
    if (flagOn(attrs, "clear")) {
        m_errorSelection.clear();
        return;
    }
    if (findAttr(attrs, "sequence") != nullptr)
        fail("select, flag=error, sequence=... is not supported: errors act on the beam line use chose",
             line);
    MadxErrorSelect s;
    s.line = line;
    s.full = flagOn(attrs, "full");
    if (const MadxAttr* pattern = findAttr(attrs, "pattern")) {
        std::string problem;
        s.pattern = compileNamePattern(pattern->text, problem);
        if (!s.pattern)
            fail("select: the pattern \"" + excerpt(pattern->text) + "\" is not one: " + problem, line);
    }
    if (const MadxAttr* cls = findAttr(attrs, "class"))
        s.cls = cls->text;
    if (const MadxAttr* range = findAttr(attrs, "range"))
        s.range = range->text == "#s/#e" ? std::string() : range->text;
    if (!s.full && !s.pattern && s.cls.empty() && findAttr(attrs, "range") == nullptr)
        return; // selects nothing
    m_errorSelection.push_back(std::move(s));
}

void MadxInput::ealign(const MadxAttrs& attrs, int line)
{
    MadxErrorCommand c;
    c.align = true;
    c.add = m_errorAdd;
    c.selection = m_errorSelection;
    c.origin = {m_file, line};
    for (std::size_t k = 0; k < 6; ++k)
        if (const MadxAttr* a = findAttr(attrs, kAlignNames[k]))
            c.misalignment[k] = value(*a);
    // what a monitor reads and the aperture's own offsets are no part of the program's errors
    for (const char* other : {"mrex", "mrey", "mredx", "mredy", "mscalx", "mscaly", "arex", "arey"})
        if (const MadxAttr* a = findAttr(attrs, other); a != nullptr && value(*a) != 0)
            fail(std::string("ealign: ") + other + " (monitor read or aperture errors) is not supported",
                 line);
    m_errorCommands.push_back(std::move(c));
}

void MadxInput::efcomp(const MadxAttrs& attrs, int line)
{
    MadxErrorCommand c;
    c.align = false;
    c.add = m_errorAdd;
    c.selection = m_errorSelection;
    c.origin = {m_file, line};
    const auto list = [&](const char* name) {
        const MadxAttr* a = findAttr(attrs, name);
        if (a == nullptr)
            return std::vector<double>{};
        if (a->kind == MadxAttr::Kind::Array && !a->items.empty()) {
            std::vector<double> values;
            for (const MadxExprPtr& item : a->items)
                values.push_back(evaluate(*item, a->line));
            return values;
        }
        return a->kind == MadxAttr::Kind::Array ? a->values : std::vector<double>{value(*a)};
    };
    c.dkn = list("dkn");
    c.dks = list("dks");
    c.dknr = list("dknr");
    c.dksr = list("dksr");
    if (const MadxAttr* order = findAttr(attrs, "order")) {
        const double n = value(*order);
        if (n < 0 || n > 20 || n != std::floor(n))
            fail("efcomp: order must be a whole number from 0 to 20, not " + shortestFloat(n), line);
        c.order = static_cast<int>(n);
    }
    if (const MadxAttr* radius = findAttr(attrs, "radius"))
        c.radius = value(*radius);
    const auto nonzero = [](const std::vector<double>& v) {
        return std::any_of(v.begin(), v.end(), [](double x) { return x != 0; });
    };
    if ((nonzero(c.dknr) || nonzero(c.dksr)) && !(c.radius > 0))
        fail("efcomp: relative errors need a positive radius (a negative one, a skew reference, is not "
             "supported), not " +
                 shortestFloat(c.radius),
             line);
    if (const MadxAttr* hyster = findAttr(attrs, "hyster"); hyster != nullptr && value(*hyster) != 0)
        fail("efcomp: hyster (time memory effects) is not supported", line);
    m_errorCommands.push_back(std::move(c));
}

namespace {

// A place of a range: the first node (#s), the last (#e), or the n-th node of a name (name[n], n = 1
// without brackets), as a position in the nodes of all cells.
std::size_t rangePlace(const std::string& place, const std::vector<const MadxElement*>& nodes, int cells,
                       int line)
{
    const std::size_t total = nodes.size() * static_cast<std::size_t>(cells);
    if (place == "#s")
        return 0;
    if (place == "#e")
        return total - 1;
    std::string name = place;
    long n = 1;
    const std::size_t bracket = place.find('[');
    if (bracket != std::string::npos) {
        name = place.substr(0, bracket);
        char* end = nullptr;
        n = std::strtol(place.c_str() + bracket + 1, &end, 10);
        if (end == nullptr || *end != ']' || end[1] != '\0' || n < 1)
            throw MadxError(
                "select: the range place '" + excerpt(place) + "' must be name, name[n], #s or #e", line);
    }
    long seen = 0;
    for (std::size_t v = 0; v < total; ++v) {
        const MadxElement* e = nodes[v % nodes.size()];
        if (e != nullptr && lowerCase(e->name) == name && ++seen == n)
            return v;
    }
    throw MadxError("select: range=" + excerpt(place) + " names no node of the beam line", line);
}

bool criteriaHold(const MadxErrorSelect& s, const MadxElement* e)
{
    if (e == nullptr)
        return false;
    const std::string name = lowerCase(e->name);
    if (!s.cls.empty() && name != s.cls &&
        std::find(e->classes.begin(), e->classes.end(), s.cls) == e->classes.end())
        return false;
    return !s.pattern || matchesName(*s.pattern, name);
}

} // namespace

MadxErrorAssignment::MadxErrorAssignment(MadxInput& in, const std::vector<const MadxElement*>& nodes,
                                         int superPeriods)
    : m_in(in), m_nodes(nodes), m_commands(nodes.size())
{
    const std::size_t m = nodes.size();
    const auto cells = static_cast<std::size_t>(std::max(1, superPeriods));
    const std::vector<MadxErrorCommand>& commands = in.errorCommands();
    std::vector<std::size_t> copies(m, 0); // cells in which a range selects a node
    for (std::size_t c = 0; c < commands.size() && m > 0; ++c) {
        std::vector<char> chosen(m, 0);
        std::vector<std::size_t> inRange; // positions in all cells that ranges select
        for (const MadxErrorSelect& s : commands[c].selection) {
            if (s.range.empty()) {
                for (std::size_t k = 0; k < m; ++k)
                    if (criteriaHold(s, nodes[k]))
                        chosen[k] = 1;
                continue;
            }
            const std::size_t slash = s.range.find('/');
            const std::size_t from =
                rangePlace(s.range.substr(0, slash), nodes, static_cast<int>(cells), s.line);
            const std::size_t to = slash == std::string::npos ? from
                                                              : rangePlace(s.range.substr(slash + 1), nodes,
                                                                           static_cast<int>(cells), s.line);
            for (std::size_t v = from; v <= to; ++v)
                if (criteriaHold(s, nodes[v % m]))
                    inRange.push_back(v);
        }
        std::sort(inRange.begin(), inRange.end());
        inRange.erase(std::unique(inRange.begin(), inRange.end()), inRange.end());
        for (std::size_t v : inRange)
            ++copies[v % m];
        for (std::size_t v : inRange) {
            const std::size_t k = v % m;
            if (copies[k] != cells && !chosen[k])
                throw MadxError("the errors would differ between the " + std::to_string(cells) +
                                    " cells of the beam line " + in.useName() + " (" + nodes[k]->name +
                                    "), which the program takes as one cell repeated",
                                commands[c].origin.line, commands[c].origin.file);
            chosen[k] = 1;
        }
        for (std::size_t v : inRange)
            copies[v % m] = 0;
        for (std::size_t k = 0; k < m; ++k)
            if (chosen[k])
                m_commands[k].push_back(c);
    }
}

ElementErrors MadxErrorAssignment::errors(std::size_t k, const MadxAttrs* offsets,
                                          const LatticeElement& e) const
{
    ElementErrors out;
    if (e.code == code::kDrift || m_nodes[k] == nullptr)
        return out;
    const MadxElement& def = *m_nodes[k];
    double* const fields[] = {&out.dx, &out.dy, &out.ds, &out.dtheta, &out.dphi, &out.dpsi};
    double assigned[6] = {0, 0, 0, 0, 0, 0};
    const std::vector<MadxErrorCommand>& commands = m_in.errorCommands();
    // the field errors of magnets: MAD-X's thick optics read only some orders of some magnets, its thin
    // multipoles all; the program keeps every order EFCOMP gives
    const int family = familyOf(e.code);
    const bool magnet = family == static_cast<int>(Family::Bend) ||
                        family == static_cast<int>(Family::Quadrupole) ||
                        family == static_cast<int>(Family::Sextupole) || e.code == code::kThinMultipole ||
                        e.code == code::kOctupole;
    for (std::size_t c : m_commands[k]) {
        const MadxErrorCommand& command = commands[c];
        if (command.align) {
            for (std::size_t j = 0; j < 6; ++j)
                assigned[j] = (command.add ? assigned[j] : 0) + command.misalignment[j];
            continue;
        }
        if (!magnet)
            continue;
        // relative errors refer to the normal field of order ORDER (MAD-X's user guide, EFCOMP)
        const double kRef = integratedNormalStrength(e, command.order);
        std::vector<double> dkn = command.add ? out.dkn : std::vector<double>{};
        std::vector<double> dks = command.add ? out.dks : std::vector<double>{};
        const std::size_t orders =
            std::max({command.dkn.size(), command.dks.size(), command.dknr.size(), command.dksr.size()});
        for (std::size_t n = 0; n < orders; ++n) {
            const auto at = [n](const std::vector<double>& v) { return n < v.size() ? v[n] : 0.0; };
            const int order = static_cast<int>(n);
            const double normal = at(command.dkn) + absoluteFieldError(at(command.dknr), kRef, command.order,
                                                                       order, command.radius);
            const double skew = at(command.dks) + absoluteFieldError(at(command.dksr), kRef, command.order,
                                                                     order, command.radius);
            if ((normal != 0 || skew != 0) && order > kMaxMultipoleOrder)
                throw MadxError("efcomp: field errors of order " + std::to_string(order) +
                                    " are not supported (orders 0 to " + std::to_string(kMaxMultipoleOrder) +
                                    ") (" + def.name + ")",
                                command.origin.line, command.origin.file);
            if (normal != 0)
                addFieldError(dkn, order, normal);
            if (skew != 0)
                addFieldError(dks, order, skew);
        }
        out.dkn = std::move(dkn);
        out.dks = std::move(dks);
    }
    // the permanent misalignments and those of EALIGN add, as MAD-X adds them
    for (std::size_t j = 0; j < 6; ++j) {
        const MadxAttr* placed = offsets == nullptr ? nullptr : findAttr(*offsets, kAlignNames[j]);
        const double permanent = placed != nullptr ? m_in.value(*placed) : m_in.number(def, kAlignNames[j]);
        *fields[j] = permanent + assigned[j];
    }
    return out;
}

} // namespace kestrune
