#pragma once

#include "core/Messages.h"
#include "core/State.h"
#include "core/vacuum/PressureProfile.h"
#include "gui/Windows.h"

#include <QMainWindow>
#include <functional>
#include <optional>

class QAction;
class QGridLayout;
class QLineEdit;
class QPlainTextEdit;
class QPrinter;

namespace kestrune {

class VacuumChart;

/// The vacuum window: pressure profile along one period from the pumps and the gas load.
class VacuumWindow : public QMainWindow
{
    Q_OBJECT
public:
    VacuumWindow(State& state, Windows& windows, QWidget* parent = nullptr);

    /// The print dialog; tests replace it (true: print).
    std::function<bool(QPrinter&)> choosePrinter;

    VacuumChart* chart() const { return m_chart; }
    /// The result of the last calculation, if any.
    const std::optional<VacuumResult>& result() const { return m_result; }

    /// "ca&lculate": reads the boxes, computes the profile with the busy cursor, plots it and shows the
    /// average pressure.
    void presCalcClick();
    /// "pump pressures": the pump list into the memo and the list text, calculating first when there
    /// is no result yet.
    void pumpPressuresClick();
    /// "print": the chart on the printer after the print dialog.
    void printClick();
    /// "print as *.wmf": the chart as a Windows metafile (or SVG, PDF, PNG by the name's extension).
    void printwmfClick();
    /// "&close": removes the plot and closes the window.
    void closeClick();
    /// A profile of another design (a lattice opened since, a step undone) is removed, the average
    /// pressure shows "n/a".
    void designChanged();

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    Messages& messages();
    void buildInputs(QGridLayout* grid);
    void buildMenus();
    QLineEdit* addBox(QGridLayout* grid, int row, const QString& objectName, const QString& label,
                      const QString& text, const QString& unit, const QString& hint = QString());
    VacuumBoxes readBoxes() const;
    void writeBoxes(const VacuumBoxes& boxes);

    State& m_state;
    Windows& m_windows;
    VacuumChart* m_chart = nullptr;
    QPlainTextEdit* m_mVacuum = nullptr;
    QLineEdit* m_edM = nullptr;
    QLineEdit* m_edMrep = nullptr;
    QLineEdit* m_edW = nullptr;
    QLineEdit* m_edThD = nullptr;
    QLineEdit* m_edEta = nullptr;
    QLineEdit* m_edAvgPr = nullptr;
    std::optional<VacuumResult> m_result;
};

} // namespace kestrune
