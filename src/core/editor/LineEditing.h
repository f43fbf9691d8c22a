#pragma once

#include "core/BeamLine.h"
#include "core/Messages.h"
#include "core/State.h"

#include <functional>
#include <string>

namespace kestrune {

/// What a pick in the element list does.
enum class PickAction { None, Append, Insert };
/// The multi-click operation under way.
enum class EditOperation { None, Copy, CutPaste, Delete };

/// Which of the five edit buttons are visible (SetSelButtons).
struct EditButtons
{
    bool copy = true;     // "copy &element"
    bool cutPaste = true; // "cut and &paste"
    bool cancel = false;  // "&cancel cut/paste"
    bool insert = false;  // "&insert"
    bool del = true;      // "del element(s)"
    bool operator==(const EditButtons& o) const
    {
        return copy == o.copy && cutPaste == o.cutPaste && cancel == o.cancel && insert == o.insert &&
               del == o.del;
    }
};

/// The button sets of the editing states.
namespace buttons {
constexpr EditButtons kIdle{true, true, false, false, true};
constexpr EditButtons kCopyStarted{true, false, false, false, false};
constexpr EditButtons kCutPasteStarted{false, true, true, false, false};
constexpr EditButtons kDeleteStarted{false, false, true, false, false};
constexpr EditButtons kInsertionPoint{false, false, false, true, false};
constexpr EditButtons kAfterCancel{true, true, true, false, true};
} // namespace buttons

/// The beam-dynamics window's editing state; the window owns one and reads `buttons` after every step.
struct EditorState
{
    int selectedElement = 0; // SelectedElement, 0 = none yet
    PickAction pickAction = PickAction::None;
    int lastKindChoice = 0; // LastKindChoice: 0..15, -1 for a pick without an item
    EditOperation editOperation = EditOperation::None;
    bool firstLimitSet = false;
    bool secondLimitSet = false;
    int leftLimit = 0;
    int rightLimit = 0;
    int copySource = 0;
    Rgb savedLeftColor;
    Rgb savedRightColor;
    int repeatCount = 0; // additional copies for "repeat lattice"
    EditButtons buttons = buttons::kIdle;
};

/// What the window has to do after an editing step, besides showing editor.buttons.
struct EditStep
{
    bool lineChanged = false;     // records or shapes changed: redraw shapes, bottom axis maximum
    bool beamDynamics = false;    // run the beam-dynamics update
    bool updateIfCurves = false;  // run the beam-dynamics update when the curves exist
    bool showParameters = false;  // fill the parameter panel for selectedElement and show it
    bool hideParameters = false;  // close the parameter panel
    bool showElementList = false; // show the element list for a pick
    bool hideElementList = false;
};

/// Fills the parameter panel for element p and reads it straight back into record p (the window's
/// panel, or a test's stand-in); may be empty.
using PanelRoundTrip = std::function<void(int p)>;

/// Prompt of the copy operation after the source was picked (with its final blank).
constexpr const char* kCopyInsertionPrompt = "select element after insertion point and click \"insert\" ";

/// Initial, core part: the particle back to the electron (energies kept), DrawScale 1, DrawBaseline -60,
/// empty line with one superperiod, ring not closed, step at element ends, no periodic solution, and an
/// editor with no operation under way.
void initial(State& state, EditorState& editor);

/// SelMag: gives element i (1..kMaxLineElements) the kind 0..15: h, k, m and the fields of families 6..9,
/// k1s, tilt and the aperture cleared, the kind's defaults, code and drawing. An alpha magnet brings a
/// reference momentum above 10 MeV/c (or none) down to 2.5 MeV/c. A thin multipole, kicker, monitor or
/// marker gets length 0 (all strengths and kicks 0); an rf cavity joins the rf system: the harmonic
/// number or frequency of a cavity already in the line (else the ring's whole harmonic number, its rf
/// frequency or 500 MHz), and the rf window's voltage when it is the line's first cavity (else 0 V).
void selMag(State& state, int i, int kind);

/// CopyMagEl: shape `to` takes the drawing of shape `from` and its horizontal extent from record `to`;
/// "define a beam line first!" when to < 1.
void copyMagEl(BeamLine& line, int from, int to, Messages& messages);

/// AddElement: appends a new element of kind 0..15 at LineLength (0.25 m long, or of no length). Refuses with
/// "too many magnet elements!" when SuperPeriods*N >= 5000. True when an element was appended.
bool addElement(State& state, int kind, Messages& messages);

/// InsertElement: inserts in front of editor.selectedElement (1..N) a new element of kind 0..15, which
/// takes that element's length (a kind of no length takes none), or with kind 99 a copy of editor.copySource.
/// A new element's panel is filled and read back through roundTrip. Refuses with "cannot have more than 5000
/// components!". True when an element was inserted.
bool insertElement(State& state, EditorState& editor, int kind, Messages& messages,
                   const PanelRoundTrip& roundTrip = {});

/// DelElement: deletes editor.selectedElement, or the last element when the selection lies beyond the
/// line; the elements behind close up. Nothing happens on an empty line or without a selection.
void delElement(State& state, EditorState& editor);

/// A pick of item `kind` in the element list (NewElement); -1 for a pick without an item.
EditStep newElement(State& state, EditorState& editor, int kind, Messages& messages,
                    const PanelRoundTrip& roundTrip = {});

/// "add single magnets" (after the particle check, which the window does): picks append.
void startAppending(EditorState& editor);

/// "delete element" on the parameter panel: deletes the selected element and shows the one that moved
/// into its place (the new last element when the last one was deleted).
EditStep deleteSelected(State& state, EditorState& editor);

/// "next element": one further, stopping at the last element.
EditStep nextElement(const State& state, EditorState& editor);
/// "previous element": one back, stopping at the first.
EditStep previousElement(const State& state, EditorState& editor);

/// "repeat lattice" after the text-entry dialog gave the integer n: the line n times in a row.
/// RepeatCount = max(n - 1, 0). "define a beam line first!" on an empty line; "number of magnet elements
/// would exceed limit!" when the result would not fit. True when the line changed.
bool repeatLattice(State& state, EditorState& editor, int n, Messages& messages);

/// "symmetrize lattice": appends the line in reverse order (A B C -> A B C C B A), records verbatim.
/// "define a beam line first!" on an empty line; "number of magnet elements would exceed limit!" when
/// 2*N >= 5000. True when the line changed.
bool symmetrize(State& state, Messages& messages);

/// "clear lattice": every element gone, a fresh table, the reset, the list text emptied. The window
/// empties its curve series.
void clearLattice(State& state, EditorState& editor);

/// File open after the dialog chose fileName: fresh table, reset, list text emptied, the file read and
/// the drawing rebuilt from its boxes. When the file cannot be read the design stays exactly as it was.
/// Asks for the particle afterwards when its momentum is not positive. True when the file was read.
bool openLatticeFile(State& state, EditorState& editor, const std::string& fileName, Messages& messages);

/// SetSelButtons: the visible edit buttons, in the order copy, cut and paste, cancel, insert, delete.
void setSelButtons(EditorState& editor, bool copy, bool cutPaste, bool cancel, bool insert, bool del);

/// BLEditLogic: the operation (at most one flag true) and the limit flags in one step. The parameter
/// panel always closes with it (EditStep::hideParameters).
void blEditLogic(EditorState& editor, bool copy, bool cutPaste, bool del, bool firstLimitSet,
                 bool secondLimitSet);

/// "copy &element": prompt "select element to be copied", backup file (state.backupFile).
EditStep startCopy(State& state, EditorState& editor, Messages& messages);
/// "cut and &paste": prompt "select left limit for cut&paste", backup file.
EditStep startCutPaste(State& state, EditorState& editor, Messages& messages);
/// "del element(s)": prompt "select left limit to be deleted", backup file; "&cancel" ends it.
EditStep startDelete(State& state, EditorState& editor, Messages& messages);

/// A click on element shape e (1..N): selects it, then one step of the operation under way
/// (CopyCutPaste), or with none opens the parameter panel. Other indices change nothing.
EditStep clickElement(State& state, EditorState& editor, int e, Messages& messages);

/// "&insert": inserts the picked copy, or the cut range, in front of the selected element, or with no
/// operation under way shows the element list, whose pick (newElement) inserts a new element.
/// Nothing happens while LastKindChoice is not 0..15.
/// roundTrip is not used here (the pick that follows goes through newElement with its own).
EditStep insertClick(State& state, EditorState& editor, Messages& messages,
                     const PanelRoundTrip& roundTrip = {});

/// "&cancel cut/paste": limits cleared, the marked elements get their colours back.
EditStep cancelCutPaste(State& state, EditorState& editor);

/// Activation of the window: the element list hides, the first limit is to be picked again, idle buttons.
EditStep activate(EditorState& editor);

} // namespace kestrune
