#pragma once

#include "core/Messages.h"
#include "core/State.h"
#include "core/editor/ElementParameters.h"

#include <QFrame>

class QComboBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QTableWidget;

namespace kestrune {

/// The element parameter panel "edit beam line element:" (objectName "pnEdMag"): a grid of label, value
/// and unit per row for one element, the type buttons of its family and the angle unit of the pole faces.
/// The grid is a scratch copy; only accept (or an insert through getData) stores it.
class ElementPanel : public QFrame
{
    Q_OBJECT
public:
    ElementPanel(State& state, Messages& messages, QWidget* parent = nullptr);

    /// Fills the panel for element (1..count) and shows it, unless a copy is under way. The fill may
    /// apply the element's own type at once (a rectangular magnet's pole faces, a quadrupole's sign).
    void showParameter(int element, bool copyUnderWay = false);
    /// Reads the grid back into the record of the element shown. Throws ConversionError at the first
    /// cell that is not a number; the fields read before it stay stored.
    void getData();
    /// Fills the panel for element and reads it straight back (an inserted element), without showing
    /// the panel; usable as the PanelRoundTrip of the line editing.
    void roundTrip(int element);
    /// The element the panel shows (0 before the first fill).
    int element() const { return m_element; }
    /// The window's reset: pole-face angles in radians again (the unit box keeps its choice).
    void resetAngleUnit();
    /// Type choice and angle unit.
    const PanelSettings& settings() const { return m_settings; }
    /// The grid as it stands, typed text included.
    ParameterGrid grid() const;

signals:
    void aboutToStore();      // accept or a type button is about to change the record
    void accepted();          // after the grid was stored: line length, axis, update are the window's
    void cancelled();         // the panel hid itself without storing
    void insertRequested();   // "insert element"
    void deleteRequested();   // "delete element"
    void nextRequested();     // "next element"
    void previousRequested(); // "previous element"
    void tuneRequested();     // "vary/scroll quad strength"
    void typeApplied();       // a type button changed the record and the shape at once

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void buildWidgets();
    void showView(const PanelView& view);
    void showGrid(const ParameterGrid& grid);
    int checkedType() const;

    void rbMTypeClick();
    void cbUnitsChange();
    void bbAcceptClick();
    void bbCancelClick();

    State& m_state;
    Messages& m_messages;
    PanelSettings m_settings;
    int m_element = 0;
    bool m_dragging = false;
    QPoint m_dragOffset;

    QLabel* m_title = nullptr;
    QFrame* m_typePanel = nullptr;
    QRadioButton* m_type[3] = {};
    QTableWidget* m_grid = nullptr;
    QComboBox* m_units = nullptr;
    QPushButton* m_scroll = nullptr;
};

} // namespace kestrune
