#pragma once

#include "core/State.h"
#include "core/nonlinear/ChromaticTunes.h"
#include "core/nonlinear/SextupoleKnobs.h"
#include "gui/Windows.h"

#include <QMainWindow>
#include <cstdint>
#include <optional>
#include <vector>

class QComboBox;
class QGridLayout;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QSlider;

namespace kestrune {

class Messages;
class SextupoleKnobCharts;

/// The sextupole-knob window: one knob per family of sextupoles (by default one per name; more by a
/// name pattern or a chosen set of names), each a slider around its strength k2 with a value box and a
/// span box. Every step of a knob sets k2 of its sextupoles in the design (one undo step per drag) and
/// redraws the ring's chromaticities, the ten driving terms, the build-up of one of them along the cell,
/// the closed-form amplitude detuning and the tracked tunes over the momentum range, all within the step
/// (what the linear lattice gives is kept from step to step, and each scan starts from the orbits of the
/// one before).
class SextupoleKnobWindow : public QMainWindow
{
    Q_OBJECT
public:
    SextupoleKnobWindow(State& state, Windows& windows, QWidget* parent = nullptr);

    SextupoleKnobCharts* charts() const { return m_charts; }
    const std::vector<SextupoleFamily>& families() const { return m_families; }
    /// The optics drawn last.
    const KnobOptics& optics() const { return m_optics; }
    /// True while a momentum scan is under way: never between two events, as every step scans within it.
    bool scanning() const { return false; }
    /// The momentum scan shown, if any.
    const std::optional<ChromaticTunes>& tunes() const { return m_optics.tunes; }

    void bbAddPatternClick();
    void bbAddNamesClick();
    void bbTrackedDetuningClick();
    /// Redraws what depends on the momentum range typed.
    void edDeltaRangeEnter();

    /// The design changed elsewhere (a step undone, a lattice opened): the families and knobs follow it.
    void designChanged();

signals:
    /// A knob step was recorded (or a drag ended): the Edit menus and the other windows follow.
    void historyChanged();
    /// The momentum scan of a step is shown.
    void tunesShown();

protected:
    void showEvent(QShowEvent* event) override;

private:
    struct Knob
    {
        QLabel* label = nullptr;
        QSlider* slider = nullptr;
        QLineEdit* value = nullptr;
        QLineEdit* span = nullptr;
        QPushButton* remove = nullptr;
        double base = 0; // k2 at the slider's centre, 1/m^3
        double spanValue = 0;
    };

    Messages& messages();
    QWidget* buildFamilyPanel();
    QWidget* buildResultPanel();
    void rebuildKnobs();
    void addFamily(SextupoleFamily family);
    void removeFamily(std::size_t k);
    void sliderPressed(std::size_t k);
    void sliderMoved(std::size_t k, int position);
    void sliderReleased(std::size_t k);
    void valueEntered(std::size_t k);
    /// Sets the family's k2 as one step (or within the drag under way); false after a message.
    bool applyStrength(std::size_t k, double k2);
    /// The span box of knob k; nothing after a message naming it.
    std::optional<double> readSpan(std::size_t k);
    /// The optics of the design as it is, into m_optics.
    void computeOptics();
    void redraw();
    void showTerms();
    void showTunes();
    std::uint64_t designKey() const;
    std::vector<std::string> chosenNames() const;

    State& m_state;
    Windows& m_windows;
    SextupoleKnobCharts* m_charts = nullptr;
    std::vector<SextupoleFamily> m_families;
    std::vector<Knob> m_knobs;
    QWidget* m_knobArea = nullptr;
    QGridLayout* m_knobGrid = nullptr;
    QLineEdit* m_edPattern = nullptr;
    QListWidget* m_lwNames = nullptr;
    QComboBox* m_cbTerm = nullptr;
    QLineEdit* m_edDeltaRange = nullptr;
    QLabel* m_lChromaticity = nullptr;
    QLabel* m_lDetuning = nullptr;
    QLabel* m_lTracked = nullptr;

    KnobOptics m_optics;
    std::uint64_t m_shownKey = 0; // designKey of what is drawn; 0: nothing
    std::uint64_t m_lattice = 0;  // latticeStamp the families were made for
    bool m_dragging = false;      // a slider is held: its steps make one undo step
    bool m_dragRefused = false;   // the slider held has a bad span: it stays at its centre
    double m_deltaRange = 0.005;  // largest |delta| of the momentum scan
    KnobCache m_cache;
};

} // namespace kestrune
