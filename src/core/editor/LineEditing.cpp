#include "core/editor/LineEditing.h"

#include "core/Drawing.h"
#include "core/Kinematics.h"
#include "core/StartValues.h"
#include "core/io/LatticeFile.h"
#include "core/io/Listing.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>

namespace kestrune {

namespace {

// InsertElement's kind for a copy of element CopySource.
constexpr int kCopyKind = 99;
// An alpha magnet is designed for slow particles: above this reference momentum (eV) it falls back.
constexpr double kAlphaMaxMomentum = 1e7;
constexpr double kAlphaDefaultMomentum = 2.5e6;
constexpr double kAppendedLength = 0.25; // m, length of a freshly appended element
constexpr double kAppendedPumpHalfWidth = 0.025;
constexpr double kAppendedAlphaHalfWidth = 0.1;

const char* const kDefineLineFirst = "define a beam line first!";
const char* const kExceedLimit = "number of magnet elements would exceed limit!";
const char* const kSelectRightLimit = "now select right limit";

bool validKind(int kind)
{
    return kind >= 0 && kind < kKindCount;
}

bool inLine(const BeamLine& line, int i)
{
    return i >= 1 && i <= line.count;
}

// Kinds a new element of which has no length: thin multipole, kicker, monitor, marker.
bool zeroLengthKind(int kind)
{
    return kind == 9 || kind == 12 || kind == 13 || kind == 14;
}

// The fields of families 6..9, the skew, roll and aperture fields and the errors: a new element starts
// without them.
void clearExtendedFields(LatticeElement& e)
{
    e.knl.clear();
    e.ksl.clear();
    e.k3 = e.k1s = e.ks = e.tilt = e.hkick = e.vkick = 0;
    e.voltage = e.lag = e.harmonic = e.frequency = 0;
    e.aperture = ElementAperture{};
    e.errors = ElementErrors{};
}

// Frequency of a new rf cavity when neither the line nor the ring gives one, Hz.
constexpr double kDefaultCavityFrequency = 500e6;

// A new rf cavity joins the rf system as it stands: the harmonic number (or frequency) of a cavity
// already in the line, else the ring's whole harmonic number, else its rf frequency, else 500 MHz; the
// first cavity carries the rf voltage of the rf window shared by the ring's cells (the line is one of
// superPeriods cells), later ones start at 0 V, so that adding a cavity leaves the total voltage as it was.
void cavityDefaults(const State& state, int i, LatticeElement& e)
{
    for (int j = 1; j <= state.line.count; ++j) {
        const LatticeElement& other = state.line.at(j);
        if (j != i && other.code == code::kRfCavity) {
            e.harmonic = other.harmonic;
            e.frequency = other.frequency;
            return;
        }
    }
    const double cells = std::max(1, state.line.superPeriods);
    e.voltage = state.rf.voltage > 0 && std::isfinite(state.rf.voltage) ? state.rf.voltage / cells : 0.0;
    // the ring window's harmonic number of a perfect ring is whole to its tolerance, not to the last bit
    const double h = std::nearbyint(state.ringParams.harmonicNumber);
    if (h >= 1 && h <= 1e9 && std::fabs(state.ringParams.harmonicNumber - h) < 1e-6)
        e.harmonic = h;
    else if (state.rf.frequency > 0 && state.rf.frequency <= 1e12)
        e.frequency = state.rf.frequency;
    else
        e.frequency = kDefaultCavityFrequency;
}

// The fields a slot loses when its element is deleted; the others keep what they held.
void clearSlot(LatticeElement& e)
{
    e.name.clear();
    e.code = 0;
    e.s = 0;
    e.length = 0;
    e.curvature = 0;
    e.k = 0;
    e.m = 0;
}

// Shape `to` (>= 1) takes the drawing of shape `from` and its place from record `to`.
void copyDrawing(BeamLine& line, int from, int to)
{
    const ElementShape& source = line.shape(from);
    ElementShape& target = line.shape(to);
    target.style = source.style;
    target.colour = source.colour;
    target.y0 = source.y0;
    target.y1 = source.y1;
    placeShape(line, to);
    target.title = std::to_string(to);
}

// Appends a verbatim copy of record j (and its drawing) with s chained to the element before.
void appendCopy(BeamLine& line, int j)
{
    const int n = ++line.count;
    line.at(n) = line.at(j);
    line.at(n).s = line.at(n - 1).s + line.at(n - 1).length;
    copyDrawing(line, j, n);
}

void markElement(BeamLine& line, int e, Rgb& saved)
{
    saved = line.shape(e).colour;
    line.shape(e).colour = colour::kGrey;
}

void restoreColour(BeamLine& line, int e, const Rgb& saved)
{
    if (inLine(line, e))
        line.shape(e).colour = saved;
}

// The limits' colours back; the right one first, so that one element marked twice ends with its own.
void restoreLimitColours(BeamLine& line, const EditorState& editor)
{
    if (editor.secondLimitSet)
        restoreColour(line, editor.rightLimit, editor.savedRightColor);
    if (editor.firstLimitSet)
        restoreColour(line, editor.leftLimit, editor.savedLeftColor);
}

void alphaMagnetMomentum(BeamParameters& beam)
{
    if (beam.referenceMomentum > kAlphaMaxMomentum || beam.referenceMomentum <= 0)
        updateKinematics(beam, EnergyKind::Momentum, kAlphaDefaultMomentum);
    beam.referenceMomentum = beam.momentum;
}

void finishOperation(EditorState& editor, EditStep& step)
{
    blEditLogic(editor, false, false, false, false, false);
    step.hideParameters = true;
}

EditStep startOperation(State& state, EditorState& editor, EditOperation operation, const EditButtons& set,
                        const char* prompt, Messages& messages)
{
    blEditLogic(editor, operation == EditOperation::Copy, operation == EditOperation::CutPaste,
                operation == EditOperation::Delete, false, false);
    editor.leftLimit = 0;
    editor.rightLimit = 0;
    editor.buttons = set;
    messages.error(prompt);
    saveBackupLattice(state, messages);
    EditStep step;
    step.hideParameters = true;
    return step;
}

// The second click of a cut and paste or a range delete; limits clicked right to left are reordered.
void setRightLimit(BeamLine& line, EditorState& editor, int e)
{
    editor.rightLimit = e;
    markElement(line, e, editor.savedRightColor);
    editor.secondLimitSet = true;
    if (editor.rightLimit < editor.leftLimit) {
        std::swap(editor.leftLimit, editor.rightLimit);
        std::swap(editor.savedLeftColor, editor.savedRightColor);
    }
}

void deleteRange(State& state, EditorState& editor, EditStep& step, Messages& messages)
{
    for (int j = editor.rightLimit; j >= editor.leftLimit; --j) {
        editor.selectedElement = j;
        delElement(state, editor);
    }
    editor.buttons = buttons::kIdle;
    finishOperation(editor, step);
    step.lineChanged = true;
    step.updateIfCurves = true;
    saveBackupLattice(state, messages);
}

} // namespace

void initial(State& state, EditorState& editor)
{
    resetDesign(state);
    editor = EditorState{};
}

void selMag(State& state, int i, int kind)
{
    if (!validKind(kind))
        return;
    LatticeElement& e = state.line.at(i);
    ElementShape& shape = state.line.shape(i);
    e.curvature = 0;
    e.k = 0;
    e.m = 0;
    shape.title = std::to_string(i);
    clearExtendedFields(e);
    applyKindStyle(shape, kind);
    if (zeroLengthKind(kind))
        e.length = 0;
    switch (kind) {
    case 1:
        e.ain = 0;
        e.aout = 0;
        e.curvature = 0.1;
        e.gap = 0;
        break;
    case 2:
        e.k = 1.0; // focusing
        break;
    case 4:
        e.pumpSpeed = 100; // l/s
        break;
    case 5:
        e.k = 360.0;
        alphaMagnetMomentum(state.beam);
        break;
    case 8:
        e.electrodes = 1;
        break;
    case 15:
        cavityDefaults(state, i, e);
        break;
    default:
        break;
    }
    applyKindExtent(shape, kind, state.drawBaseline, state.drawScale);
    e.code = kindCode(kind);
}

void copyMagEl(BeamLine& line, int from, int to, Messages& messages)
{
    if (to < 1) {
        messages.error(kDefineLineFirst);
        return;
    }
    copyDrawing(line, from, to);
}

bool addElement(State& state, int kind, Messages& messages)
{
    BeamLine& line = state.line;
    if (static_cast<long long>(line.superPeriods) * line.count >= kMaxLineElements ||
        line.count >= kMaxLineElements) {
        messages.error("too many magnet elements!");
        return false;
    }
    if (!validKind(kind))
        return false;
    const int n = ++line.count;
    LatticeElement& e = line.at(n);
    ElementShape& shape = line.shape(n);
    const double start = line.length;
    e.s = start;
    e.length = 0;
    switch (kind) {
    case 4:
        shape.x0 = start - kAppendedPumpHalfWidth;
        shape.x1 = start + kAppendedPumpHalfWidth;
        break;
    case 5:
        shape.x0 = start - kAppendedAlphaHalfWidth;
        shape.x1 = start + kAppendedAlphaHalfWidth;
        break;
    default:
        if (zeroLengthKind(kind))
            break;
        e.length = kAppendedLength;
        line.length = start + kAppendedLength;
        shape.x0 = start;
        shape.x1 = line.length;
        break;
    }
    selMag(state, n, kind);
    if (zeroLengthKind(kind))
        placeShape(line, n);
    return true;
}

bool insertElement(State& state, EditorState& editor, int kind, Messages& messages,
                   const PanelRoundTrip& roundTrip)
{
    BeamLine& line = state.line;
    const int n = line.count;
    const int p = editor.selectedElement;
    if (n >= kMaxLineElements) {
        messages.error("cannot have more than " + std::to_string(kMaxLineElements) + " components!");
        return false;
    }
    const bool copy = kind == kCopyKind;
    if ((!copy && !validKind(kind)) || !inLine(line, p) || (copy && !inLine(line, editor.copySource)))
        return false;

    const double delta = copy                   ? line.at(editor.copySource).length
                         : zeroLengthKind(kind) ? 0.0
                                                : line.at(p).length;
    for (int j = n; j >= p; --j) {
        line.at(j + 1) = line.at(j);
        line.at(j + 1).s += delta;
    }
    if (copy && p <= editor.copySource)
        ++editor.copySource;
    for (int d = n; d >= p; --d)
        copyDrawing(line, d, d + 1);
    line.count = n + 1;

    if (copy) {
        const double s = line.at(p).s;
        line.at(p) = line.at(editor.copySource);
        line.at(p).s = s;
        copyDrawing(line, editor.copySource, p);
    } else {
        // record p still holds the element that was there: the new one takes its place and length
        selMag(state, p, kind);
        placeShape(line, p);
        // the count is already up, so a length changed through the panel re-chains the whole line
        if (roundTrip)
            roundTrip(p);
    }
    line.length = line.endPosition();
    return true;
}

void delElement(State& state, EditorState& editor)
{
    BeamLine& line = state.line;
    const int n = line.count;
    const int i = editor.selectedElement;
    if (n < 1 || i < 1)
        return;
    if (i <= n) {
        const double delta = line.at(i).length;
        for (int j = i; j < n; ++j) {
            line.at(j) = line.at(j + 1);
            line.at(j).s -= delta;
            ElementShape& to = line.shape(j);
            const ElementShape& from = line.shape(j + 1);
            to.x0 = from.x0 - delta;
            to.x1 = from.x1 - delta;
            to.y0 = from.y0;
            to.y1 = from.y1;
            to.style = from.style;
            to.colour = from.colour;
        }
    }
    clearSlot(line.at(n));
    line.shape(n) = ElementShape{};
    line.count = n - 1;
    line.length = line.endPosition();
}

EditStep newElement(State& state, EditorState& editor, int kind, Messages& messages,
                    const PanelRoundTrip& roundTrip)
{
    EditStep step;
    if (state.line.count == 0)
        state.line.makeFreshTable();
    editor.lastKindChoice = kind;
    if (!validKind(kind)) {
        messages.error("select magnet element!");
        return step;
    }
    if (editor.pickAction == PickAction::Append) {
        step.lineChanged = addElement(state, kind, messages);
    } else if (editor.pickAction == PickAction::Insert) {
        step.lineChanged = insertElement(state, editor, kind, messages, roundTrip);
        step.hideElementList = step.lineChanged;
        step.beamDynamics = step.lineChanged;
    }
    return step;
}

void startAppending(EditorState& editor)
{
    editor.pickAction = PickAction::Append;
}

EditStep deleteSelected(State& state, EditorState& editor)
{
    EditStep step;
    const int before = state.line.count;
    delElement(state, editor);
    step.lineChanged = state.line.count != before;
    step.updateIfCurves = step.lineChanged;
    // the slot that fell free is no element any more: show the new last one instead
    editor.selectedElement = std::min(editor.selectedElement, state.line.count);
    step.showParameters = inLine(state.line, editor.selectedElement);
    step.hideParameters = !step.showParameters;
    return step;
}

EditStep nextElement(const State& state, EditorState& editor)
{
    if (editor.selectedElement < state.line.count)
        ++editor.selectedElement;
    EditStep step;
    step.showParameters = inLine(state.line, editor.selectedElement);
    return step;
}

EditStep previousElement(const State& state, EditorState& editor)
{
    if (editor.selectedElement > 1)
        --editor.selectedElement;
    EditStep step;
    step.showParameters = inLine(state.line, editor.selectedElement);
    return step;
}

bool repeatLattice(State& state, EditorState& editor, int n, Messages& messages)
{
    editor.repeatCount = n > 1 ? n - 1 : 0;
    BeamLine& line = state.line;
    if (line.count == 0) {
        messages.error(kDefineLineFirst);
        return false;
    }
    if (editor.repeatCount == 0)
        return false;
    const double copies = static_cast<double>(editor.repeatCount) * line.count;
    // the second test keeps the n-fold line inside the table even when the first lets it pass
    if (copies * line.superPeriods >= kMaxLineElements || copies + line.count > kMaxLineElements) {
        messages.error(kExceedLimit);
        return false;
    }
    const int last = editor.repeatCount * line.count;
    for (int j = 1; j <= last; ++j)
        appendCopy(line, j);
    line.length = line.endPosition();
    return true;
}

bool symmetrize(State& state, Messages& messages)
{
    BeamLine& line = state.line;
    const int n = line.count;
    if (n <= 0) {
        messages.error(kDefineLineFirst);
        return false;
    }
    if (2 * n >= kMaxLineElements) {
        messages.error(kExceedLimit);
        return false;
    }
    for (int j = n; j >= 1; --j)
        appendCopy(line, j);
    line.length = line.endPosition();
    return true;
}

void clearLattice(State& state, EditorState& editor)
{
    state.line.makeFreshTable();
    initial(state, editor);
    clearList(state);
}

bool openLatticeFile(State& state, EditorState& editor, const std::string& fileName, Messages& messages)
{
    // reset and read into a copy, so that a file that cannot be read leaves the design as it was
    const HistoryAside aside(state);
    State opened = state;
    EditorState openedEditor;
    opened.line.makeFreshTable();
    initial(opened, openedEditor);
    clearList(opened);
    const bool read = readLatticeFile(opened, messages, fileName);
    if (read) {
        opened.lastOpenedFile = fileName;
        opened.documentFile = fileName;
        ++opened.designLoads;
        state = std::move(opened);
        editor = openedEditor;
        drawFromFileBoxes(state);
    }
    if (!(state.beam.momentum > 0))
        messages.askParticle();
    return read;
}

void setSelButtons(EditorState& editor, bool copy, bool cutPaste, bool cancel, bool insert, bool del)
{
    editor.buttons = EditButtons{copy, cutPaste, cancel, insert, del};
}

void blEditLogic(EditorState& editor, bool copy, bool cutPaste, bool del, bool firstLimitSet,
                 bool secondLimitSet)
{
    editor.editOperation = copy       ? EditOperation::Copy
                           : cutPaste ? EditOperation::CutPaste
                           : del      ? EditOperation::Delete
                                      : EditOperation::None;
    editor.firstLimitSet = firstLimitSet;
    editor.secondLimitSet = secondLimitSet;
}

EditStep startCopy(State& state, EditorState& editor, Messages& messages)
{
    return startOperation(state, editor, EditOperation::Copy, buttons::kCopyStarted,
                          "select element to be copied", messages);
}

EditStep startCutPaste(State& state, EditorState& editor, Messages& messages)
{
    return startOperation(state, editor, EditOperation::CutPaste, buttons::kCutPasteStarted,
                          "select left limit for cut&paste", messages);
}

EditStep startDelete(State& state, EditorState& editor, Messages& messages)
{
    return startOperation(state, editor, EditOperation::Delete, buttons::kDeleteStarted,
                          "select left limit to be deleted", messages);
}

namespace {

// CopyCutPaste: one click of the operation under way on element e.
EditStep copyCutPaste(State& state, EditorState& editor, int e, Messages& messages)
{
    BeamLine& line = state.line;
    EditStep step;
    switch (editor.editOperation) {
    case EditOperation::Copy:
        if (editor.firstLimitSet)
            break; // the click picked the insertion point
        editor.leftLimit = e;
        editor.copySource = e;
        markElement(line, e, editor.savedLeftColor);
        step.lineChanged = true;
        messages.error(kCopyInsertionPrompt);
        editor.buttons = buttons::kInsertionPoint;
        editor.firstLimitSet = true;
        break;
    case EditOperation::CutPaste:
    case EditOperation::Delete:
        step.lineChanged = true;
        if (!editor.firstLimitSet) {
            editor.leftLimit = e;
            editor.firstLimitSet = true;
            markElement(line, e, editor.savedLeftColor);
            messages.error(kSelectRightLimit);
        } else if (editor.editOperation == EditOperation::CutPaste) {
            setRightLimit(line, editor, e);
            messages.error("finally, select element AFTER insertion point and click \"insert\"");
            editor.buttons = buttons::kInsertionPoint;
        } else {
            setRightLimit(line, editor, e);
            deleteRange(state, editor, step, messages);
        }
        break;
    case EditOperation::None:
        break;
    }
    return step;
}

void pasteCopy(State& state, EditorState& editor, Messages& messages)
{
    BeamLine& line = state.line;
    const int p = editor.selectedElement;
    const bool inserted = insertElement(state, editor, kCopyKind, messages);
    restoreColour(line, editor.copySource, editor.savedLeftColor);
    if (inserted)
        line.shape(p).colour = editor.savedLeftColor;
}

void pasteRange(State& state, EditorState& editor, Messages& messages)
{
    BeamLine& line = state.line;
    restoreLimitColours(line, editor);
    const int p = editor.selectedElement;
    const int n = editor.rightLimit - editor.leftLimit + 1;
    for (int i = 0; i < n; ++i) {
        // copies go in right to left, each in front of p; an original at or behind p has moved down
        // one slot per copy made before it
        const int original = editor.rightLimit - i;
        editor.copySource = original < p ? original : original + i;
        if (!insertElement(state, editor, kCopyKind, messages))
            break;
    }
}

} // namespace

EditStep clickElement(State& state, EditorState& editor, int e, Messages& messages)
{
    if (!inLine(state.line, e))
        return {};
    editor.selectedElement = e;
    if (editor.secondLimitSet)
        return {};
    if (editor.editOperation == EditOperation::None) {
        EditStep step;
        step.showParameters = true;
        return step;
    }
    return copyCutPaste(state, editor, e, messages);
}

EditStep insertClick(State& state, EditorState& editor, Messages& messages, const PanelRoundTrip&)
{
    editor.pickAction = PickAction::Insert;
    EditStep step;
    if (!validKind(editor.lastKindChoice))
        return step;
    if (editor.editOperation == EditOperation::Copy) {
        if (!editor.firstLimitSet)
            return step;
        pasteCopy(state, editor, messages);
        finishOperation(editor, step);
        step.lineChanged = true;
    } else if (editor.editOperation == EditOperation::CutPaste) {
        if (!editor.secondLimitSet)
            return step;
        pasteRange(state, editor, messages);
        finishOperation(editor, step);
        step.lineChanged = true;
    } else {
        step.showElementList = true;
    }
    step.beamDynamics = true;
    editor.buttons = buttons::kIdle;
    return step;
}

EditStep cancelCutPaste(State& state, EditorState& editor)
{
    restoreLimitColours(state.line, editor);
    editor.leftLimit = 0;
    editor.rightLimit = 0;
    EditStep step;
    step.lineChanged = true;
    finishOperation(editor, step);
    editor.buttons = buttons::kAfterCancel;
    return step;
}

EditStep activate(EditorState& editor)
{
    editor.firstLimitSet = false;
    editor.buttons = buttons::kIdle;
    EditStep step;
    step.hideElementList = true;
    return step;
}

} // namespace kestrune
