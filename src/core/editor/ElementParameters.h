#pragma once

#include "core/Messages.h"
#include "core/State.h"

#include <array>
#include <string>

namespace kestrune {

/// The editable grid MagPar of the element panel: 4 columns x 20 rows of text, addressed (column, row).
/// Column 0 holds the label, column 1 the value, column 2 the unit (or a second value: the exit
/// pole-face angle, a thin multipole's ksl beside its knl, the second size of the aperture). Rows 0..3
/// are common, the kind's own rows follow from row 4 (a thin multipole's orders 0..9 in rows 4..13),
/// rows 15..18 hold the element's aperture: its type by name (none, circle, rectangle, ellipse,
/// rectellipse), sizes a, b and c, d, offsets dx, dy (m). Numbers of the kinds of families 6..9, of
/// k1s, tilt and the aperture are in SI units: V, Hz, rad, 1/m^n.
class ParameterGrid
{
public:
    static constexpr int kColumns = 4;
    static constexpr int kRows = 20;

    /// Cell (column, row); throws std::out_of_range outside 0..3 x 0..10.
    std::string& cell(int column, int row);
    const std::string& cell(int column, int row) const;
    /// Empties rows 0 to 18 of columns 0 to 2 (row 19 and column 3 are never used).
    void clearRows();

private:
    std::array<std::array<std::string, kRows>, kColumns> m_cells;
};

/// Panel state that outlives one element: the type buttons' check, TypeChoice and the angle unit.
struct PanelSettings
{
    // TypeChoice follows the check of rbMType1..3 (0 for none): the window starts with button 1 checked
    int typeChoice = 1;
    int checkedButton = 1;
    bool anglesInRadians = true;  // AnglesInRadians
    double angleFactor = 1.0;     // AngleFactor: 1 for radian, 180/pi for degrees
    bool unitsBoxDegrees = false; // cbUnits shows "degrees" (else "radian")
};

/// What the panel pnEdMag shows for one element, besides the grid.
struct PanelView
{
    ParameterGrid grid;
    std::string rowOneLabel;                      // cell (0,1), the element's kind in words
    std::array<bool, 3> typeButtonVisible{};      // rbMType1..3
    std::array<std::string, 3> typeButtonCaption; // captions of rbMType1..3 (empty when hidden)
    int checkedButton = 0;                        // 1..3, 0 for none
    bool scrollVisible = false;                   // btScroll, quadrupoles only
    bool unitsVisible = false;                    // cbUnits, bending magnets only
};

/// Fills the panel for element e. When the type button the element calls for is not the one checked,
/// the check changes and that acts as a click: the type handler runs (rbMTypeClick) before the panel
/// is filled again. The window sets its radio buttons from the view without firing their handlers.
PanelView showParameter(State& state, int e, PanelSettings& settings);

/// Reads the grid back into element e in the panel's order (name, length, code rows, family rows).
/// Every value cell goes through parseDouble: a ConversionError stops the reading at that cell, and
/// what was stored before it keeps its new value. A changed length re-chains s of e..N, their shapes
/// and LineLength.
void getData(State& state, int e, const ParameterGrid& grid, PanelSettings& settings);

/// "accept data": getData, then LineLength = s(N) + L(N); true. A path length typed negative is
/// refused before anything is stored: "the path length must not be negative!" and false; so is an
/// aperture type that is none of the five words, and a value elementRefusal refuses (its message). After true
/// the window hides the panel (unless "BL edit mode" is ticked), sets the bottom axis to
/// LineLength + 0.75 and updates the curves.
bool acceptData(State& state, int e, const ParameterGrid& grid, PanelSettings& settings, Messages& messages);

/// The type buttons' handler for button typeChoice (0..3, 0 for none checked): applies that type to
/// element e at once and returns the refilled panel.
PanelView rbMTypeClick(State& state, int e, int typeChoice, PanelSettings& settings);

/// The angle-unit box changed to degrees (true) or radian (false): sets AnglesInRadians and
/// AngleFactor and, for a bending magnet, rewrites the label of row 6 and cells (1,6), (2,6) from the
/// record (an angle typed but not accepted is replaced).
void cbUnitsChange(const State& state, int e, bool degrees, PanelSettings& settings, ParameterGrid& grid);

/// Fills the panel for element e and reads it back at once, so that the record holds exactly what the
/// panel shows (used when a new element is inserted). Returns the view of the fill.
PanelView roundTripPanel(State& state, int e, PanelSettings& settings);

} // namespace kestrune
