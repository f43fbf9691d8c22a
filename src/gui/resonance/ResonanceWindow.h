#pragma once

#include "core/Messages.h"
#include "core/State.h"
#include "core/resonance/Resonance.h"
#include "gui/Windows.h"

#include <QMainWindow>
#include <array>
#include <functional>

class QCustomPlot;
class QCPColorScale;
class QCPGraph;
class QPrinter;

namespace kestrune {

class DiffusionPoints;

/// The resonance window: the working point among the resonance lines up to third order, and the tunes
/// of a frequency map coloured by their diffusion index.
class ResonanceWindow : public QMainWindow
{
    Q_OBJECT
public:
    ResonanceWindow(State& state, Windows& windows, QWidget* parent = nullptr);

    QCustomPlot* chart() const { return m_chart; }
    /// Series 1..4: first, second and third order, the working point.
    QCPGraph* series(int n) const { return m_series.at(static_cast<std::size_t>(n - 1)); }

    /// The tunes of a frequency map drawn on the diagram (ring tunes near the working point) while they
    /// belong to the design; an empty footprint takes them off.
    void showFootprint(const TuneFootprint& footprint);
    /// The frequency map's tunes drawn.
    int footprintPoints() const;
    /// Takes a footprint of another design off the diagram.
    void designChanged();

    /// Redraws the diagram around the ring tunes of the last ring pass.
    void formActivate();
    /// Prints the chart in portrait orientation on the default printer, without a dialog.
    void printGraphClick();
    void saveGraphWmfClick();
    /// Sets up the printer before printing (tests name an output file here).
    void setPrinterSetup(std::function<void(QPrinter&)> setup) { m_printerSetup = std::move(setup); }

protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    Messages& messages();
    void buildChart();
    void drawFootprint();

    State& m_state;
    Windows& m_windows;
    QCustomPlot* m_chart = nullptr;
    std::array<QCPGraph*, 4> m_series{};
    DiffusionPoints* m_footprintPoints = nullptr;
    QCPColorScale* m_scale = nullptr; // in the layout while there is a footprint
    TuneFootprint m_footprint;
    double m_tune1 = 0, m_tune2 = 0; // the working point drawn: ring tunes, or the eigentunes
    std::function<void(QPrinter&)> m_printerSetup;
};

} // namespace kestrune
