#pragma once

#include "core/State.h"
#include "core/editor/Tuning.h"

#include <QFrame>
#include <QScrollBar>

class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace kestrune {

/// The tuning panel (objectName "pnScroll"): a scroll bar that varies the strength k of one quadrupole
/// around a base value, fine (0.02 % of the start value per step) or coarse (1 % per step).
/// The tuning bar, whose repeating arrow can be stopped when a message box takes the mouse release.
class TuningScrollBar : public QScrollBar
{
public:
    using QScrollBar::QScrollBar;
    void stopRepeat() { setRepeatAction(QAbstractSlider::SliderNoAction); }
    /// What a held arrow repeats: SliderNoAction when nothing.
    SliderAction repeating() const { return repeatAction(); }
};

class TuningPanel : public QFrame
{
    Q_OBJECT
public:
    TuningPanel(State& state, QWidget* parent = nullptr);

    /// Starts the tuning of element (a quadrupole) and shows the panel.
    void startTuning(int element);
    /// Every click on an element shape: the bar goes to 0 and the start value is taken from element;
    /// while the panel is open the tuning restarts for it.
    void elementClicked(int element);
    /// A message box is about to open: a pressed arrow of the bar stops repeating its step, since the
    /// box takes the release of the mouse button. One arrow click is one step.
    void releaseBar();
    /// The element the bar varies (0 before the first start).
    int element() const { return m_tuning.element; }
    const TuningState& tuning() const { return m_tuning; }

signals:
    void kChanged(); // k of the element was set by the bar or by restore: the window updates the curves
    void aborted();  // the panel hid itself: the window shows the element panel again without refilling

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildWidgets();
    void showView(const TuningView& view);
    void rbQkClick();
    void scrollBarScroll(int position);
    void scrollBarExit();
    void btResetScrollClick();
    void btRestValClick();
    void bbAbortClick();

    State& m_state;
    TuningState m_tuning;
    bool m_stepping = false; // a bar step is running (its update may hold a message box open)

    QLabel* m_label = nullptr;
    TuningScrollBar* m_bar = nullptr;
    QRadioButton* m_qk = nullptr;
    QRadioButton* m_fine = nullptr;
    QLineEdit* m_value = nullptr;
};

} // namespace kestrune
