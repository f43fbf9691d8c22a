#include "core/Format.h"
#include "core/io/madx/MadxInput.h"

#include <algorithm>
#include <cctype>

// The sequence editor: seqedit, sequence=name; then install, remove, move, flatten, cycle, reflect and
// endedit. Nodes are found by the name they were placed under; cycle and reflect need the positions of
// the whole sequence and run when the beam line is built.

namespace kestrune {

namespace {

std::string placedName(const MadxPlacement& p)
{
    std::string name = p.element ? p.element->name : p.sequence->name;
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return name;
}

const MadxAttr* findAttr(const MadxAttrs& attrs, const char* name)
{
    const auto found = attrs.find(name);
    return found == attrs.end() ? nullptr : &found->second;
}

} // namespace

bool MadxInput::editCommand(const std::vector<MadxToken>& t, int line)
{
    static const char* const kCommands[] = {"seqedit", "install", "remove",  "move",    "flatten",
                                            "cycle",   "reflect", "endedit", "replace", "extract"};
    const std::string& name = t[0].value;
    if (std::find_if(std::begin(kCommands), std::end(kCommands), [&](const char* c) { return name == c; }) ==
        std::end(kCommands))
        return false;
    if (name != "seqedit" && !m_edit)
        fail("'" + name + "' outside seqedit", line);
    const MadxAttrs attrs = attributes(t, 1, line);
    definitionsChanged();
    if (name == "seqedit") {
        if (m_edit)
            fail("seqedit inside the seqedit of sequence " + m_edit->name, line);
        const MadxAttr* sequence = findAttr(attrs, "sequence");
        const auto found = sequence ? m_names.find(sequence->text) : m_names.end();
        if (found == m_names.end() || !found->second.sequence)
            fail("seqedit needs sequence= naming a defined sequence", line);
        m_edit = found->second.sequence;
    } else if (name == "endedit") {
        m_edit.reset();
    } else if (name == "install") {
        install(attrs, line);
    } else if (name == "move") {
        move(attrs, line);
    } else if (name == "remove") {
        const MadxAttr* element = findAttr(attrs, "element");
        if (!element || element->text.empty() || element->text == "selected")
            fail("remove needs element= naming the element (element=selected is not supported)", line);
        auto& nodes = m_edit->nodes;
        nodes.erase(std::remove_if(nodes.begin(), nodes.end(),
                                   [&](const MadxPlacement& p) { return placedName(p) == element->text; }),
                    nodes.end());
    } else if (name == "cycle") {
        const MadxAttr* start = findAttr(attrs, "start");
        if (!start || start->text.empty())
            fail("cycle needs start= naming an element of sequence " + m_edit->name, line);
        m_edit->edits.push_back({MadxSequenceEdit::Kind::Cycle, start->text, {m_file, line}});
    } else if (name == "reflect") {
        m_edit->edits.push_back({MadxSequenceEdit::Kind::Reflect, {}, {m_file, line}});
    } else if (name != "flatten") {
        // the beam line is built flat from nested sequences in any case: flatten changes nothing
        fail("'" + name + "' in seqedit is not supported", line);
    }
    return true;
}

void MadxInput::install(const MadxAttrs& attrs, int line)
{
    const MadxAttr* element = findAttr(attrs, "element");
    const MadxAttr* at = findAttr(attrs, "at");
    if (!element || element->text.empty() || !at)
        fail("install needs element= and at=", line);
    const MadxAttr* cls = findAttr(attrs, "class");
    MadxDefinition what;
    if (cls) {
        const auto parent = m_names.find(cls->text);
        if (parent == m_names.end() || !parent->second.element)
            fail("install: class=" + excerpt(cls->text) + " is not a defined element", line);
        auto made = std::make_shared<MadxElement>(*parent->second.element);
        made->name = element->text;
        made->origin = {m_file, line};
        what.element = made;
        m_names[element->text] = what;
    } else {
        const auto found = m_names.find(element->text);
        if (found == m_names.end() || !found->second.element)
            fail("install: element=" + excerpt(element->text) + " is not a defined element", line);
        what = found->second;
    }
    MadxPlacement p;
    p.element = what.element;
    p.at = *at;
    if (const MadxAttr* from = findAttr(attrs, "from")) {
        if (from->text == "selected")
            fail("install: from=selected is not supported", line);
        p.from = from->text;
    }
    p.origin = {m_file, line};
    m_edit->nodes.push_back(std::move(p));
}

void MadxInput::move(const MadxAttrs& attrs, int line)
{
    const MadxAttr* element = findAttr(attrs, "element");
    if (!element || element->text.empty() || element->text == "selected")
        fail("move needs element= naming the element (element=selected is not supported)", line);
    const MadxAttr* by = findAttr(attrs, "by");
    const MadxAttr* to = findAttr(attrs, "to");
    if ((by == nullptr) == (to == nullptr))
        fail("move needs either by= or to=", line);
    const MadxAttr* from = findAttr(attrs, "from");
    bool found = false;
    for (MadxPlacement& p : m_edit->nodes) {
        if (placedName(p) != element->text)
            continue;
        found = true;
        MadxAttr moved;
        moved.line = line;
        if (by) {
            moved.value = value(p.at) + value(*by);
        } else {
            moved.value = value(*to);
            p.from = from ? from->text : std::string();
        }
        p.at = moved;
    }
    if (!found)
        fail("move: element=" + excerpt(element->text) + " is not in sequence " + m_edit->name, line);
}

} // namespace kestrune
