#include "gui/editor/TuningPanel.h"

#include <QCoreApplication>
#include <QEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace kestrune {

TuningPanel::TuningPanel(State& state, QWidget* parent) : QFrame(parent), m_state(state)
{
    setObjectName("pnScroll");
    setFrameShape(QFrame::Panel);
    setFrameShadow(QFrame::Raised);
    setAutoFillBackground(true);
    buildWidgets();
    hide();
}

void TuningPanel::buildWidgets()
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->setSpacing(4);

    m_label = new QLabel("scroll parameter", this);
    m_label->setObjectName("lScrollVal");
    m_label->setMinimumWidth(330);
    layout->addWidget(m_label);

    auto* valueRow = new QHBoxLayout;
    m_value = new QLineEdit(this);
    m_value->setObjectName("ScrollParam");
    m_value->setReadOnly(true);
    m_value->setMaximumWidth(110);
    auto* abort = new QPushButton("abort", this);
    abort->setObjectName("bbAbort");
    valueRow->addWidget(m_value);
    valueRow->addStretch();
    valueRow->addWidget(abort);
    layout->addLayout(valueRow);

    m_bar = new TuningScrollBar(Qt::Horizontal, this);
    m_bar->setObjectName("sbTuning");
    m_bar->setRange(kScrollMin, kScrollMax);
    m_bar->setSingleStep(1);
    m_bar->setPageStep(10);
    m_bar->setValue(0);
    // a scroll bar inverts its keys by default; here the right arrow key must raise the value
    m_bar->setInvertedControls(false);
    // the bar takes the focus so that leaving it can make the tuned value the new base
    m_bar->setFocusPolicy(Qt::StrongFocus);
    m_bar->installEventFilter(this);
    layout->addWidget(m_bar);

    auto* selectors = new QGroupBox(this);
    selectors->setObjectName("pnlScrollSel");
    auto* selectorLayout = new QVBoxLayout(selectors);
    selectorLayout->setContentsMargins(4, 2, 4, 2);
    m_qk = new QRadioButton("Q-strength, k", selectors);
    m_qk->setObjectName("rbQk");
    selectorLayout->addWidget(m_qk);
    const char* otherNames[3] = {"rbCurv", "rbDrift", "rbZShift"};
    const char* otherCaptions[3] = {"curvature, 1/rho", "drift length", "z-shift"};
    for (int i = 0; i < 3; ++i) {
        auto* other = new QRadioButton(otherCaptions[i], selectors);
        other->setObjectName(otherNames[i]);
        other->setEnabled(false);
        other->hide();
        selectorLayout->addWidget(other);
    }

    auto* fineCoarse = new QGroupBox(this);
    fineCoarse->setObjectName("pnFineCoarse");
    auto* fineLayout = new QHBoxLayout(fineCoarse);
    fineLayout->setContentsMargins(4, 2, 4, 2);
    m_fine = new QRadioButton("fine", fineCoarse);
    m_fine->setObjectName("rbFine");
    auto* coarse = new QRadioButton("coarse", fineCoarse);
    coarse->setObjectName("rbCoarse");
    coarse->setChecked(true);
    fineLayout->addWidget(m_fine);
    fineLayout->addWidget(coarse);

    auto* selectorRow = new QHBoxLayout;
    selectorRow->addWidget(selectors);
    selectorRow->addWidget(fineCoarse);
    layout->addLayout(selectorRow);

    auto* buttonRow = new QHBoxLayout;
    auto* reset = new QPushButton("reset scroll bar", this);
    reset->setObjectName("btResetScroll");
    auto* restore = new QPushButton("restore original value?", this);
    restore->setObjectName("btRestVal");
    buttonRow->addWidget(reset);
    buttonRow->addWidget(restore);
    layout->addLayout(buttonRow);

    connect(m_qk, &QRadioButton::clicked, this, &TuningPanel::rbQkClick);
    connect(m_bar, &QScrollBar::valueChanged, this, &TuningPanel::scrollBarScroll);
    connect(reset, &QPushButton::clicked, this, &TuningPanel::btResetScrollClick);
    connect(restore, &QPushButton::clicked, this, &TuningPanel::btRestValClick);
    connect(abort, &QPushButton::clicked, this, &TuningPanel::bbAbortClick);
    adjustSize();
}

void TuningPanel::showView(const TuningView& view)
{
    m_label->setText(QString::fromStdString(view.label));
    m_value->setText(QString::fromStdString(view.valueText));
    // setting the bar from the tuning state is no bar movement
    const QSignalBlocker block(m_bar);
    m_bar->setValue(view.position);
}

void TuningPanel::startTuning(int element)
{
    showView(kestrune::startTuning(m_state, m_tuning, element));
    m_qk->setChecked(true);
    show();
    raise();
}

void TuningPanel::elementClicked(int element)
{
    TuningView view;
    if (kestrune::elementClicked(m_state, m_tuning, element, view)) {
        showView(view);
        return;
    }
    const QSignalBlocker block(m_bar);
    m_bar->setValue(m_tuning.position);
}

void TuningPanel::rbQkClick()
{
    if (m_tuning.element > 0)
        showView(kestrune::startTuning(m_state, m_tuning, m_tuning.element));
}

void TuningPanel::releaseBar()
{
    m_bar->stopRepeat();
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(), QPointF(), Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QCoreApplication::sendEvent(m_bar, &release);
    // a pressed arrow starts its repeat around its first step; stop it again once the press is handled
    QMetaObject::invokeMethod(
        m_bar,
        [bar = QPointer<TuningScrollBar>(m_bar)] {
            if (bar)
                bar->stopRepeat();
        },
        Qt::QueuedConnection);
}

void TuningPanel::scrollBarScroll(int position)
{
    if (m_tuning.element < 1)
        return;
    if (m_stepping) {
        // a step is still running behind its message box: the bar stays where that step put it
        const QSignalBlocker block(m_bar);
        m_bar->setValue(m_tuning.position);
        return;
    }
    m_stepping = true;
    showView(scrollTo(m_state, m_tuning, position, m_fine->isChecked()));
    emit kChanged();
    m_stepping = false;
}

void TuningPanel::scrollBarExit()
{
    leaveBar(m_tuning);
}

void TuningPanel::btResetScrollClick()
{
    TuningView view;
    if (resetScrollBar(m_tuning, view))
        showView(view);
}

void TuningPanel::btRestValClick()
{
    if (m_tuning.element < 1)
        return;
    showView(restoreOriginal(m_state, m_tuning));
    emit kChanged();
}

void TuningPanel::bbAbortClick()
{
    abortTuning(m_tuning);
    hide();
    emit aborted();
}

bool TuningPanel::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_bar && event->type() == QEvent::FocusOut)
        scrollBarExit();
    return QFrame::eventFilter(watched, event);
}

} // namespace kestrune
