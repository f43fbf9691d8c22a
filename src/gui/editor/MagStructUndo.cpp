// The beam-dynamics window's Edit menu: undo and redo of the design, and the title that names the file.
#include "core/editor/ChartSettings.h"
#include "core/io/LatticeFile.h"
#include "gui/editor/ElementPanel.h"
#include "gui/editor/InitialConditionsPanel.h"
#include "gui/editor/LatticeChart.h"
#include "gui/editor/MagStructWindow.h"
#include "gui/editor/TuningPanel.h"

#include <QAction>
#include <QFileInfo>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>

namespace kestrune {

namespace {

constexpr const char* kCaption = "Magnet Lattice and Beam Dynamics Functions";

/// The platform's keys for a standard action, the given key first (the one the menu shows).
QList<QKeySequence> keysWith(QKeySequence::StandardKey standard, const QKeySequence& key)
{
    QList<QKeySequence> keys = QKeySequence::keyBindings(standard);
    keys.removeAll(key);
    keys.prepend(key);
    return keys;
}

} // namespace

void MagStructWindow::buildEditMenu()
{
    QMenu* edit = menuBar()->addMenu("Edit");
    edit->setObjectName("mnEdit");
    edit->menuAction()->setObjectName("mnEditAction");
    m_mnUndo = edit->addAction("Undo");
    m_mnUndo->setObjectName("mnUndo");
    m_mnUndo->setShortcuts(keysWith(QKeySequence::Undo, QKeySequence(Qt::CTRL | Qt::Key_Z)));
    m_mnRedo = edit->addAction("Redo");
    m_mnRedo->setObjectName("mnRedo");
    m_mnRedo->setShortcuts(keysWith(QKeySequence::Redo, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z)));
    for (QAction* action : {m_mnUndo, m_mnRedo})
        action->setShortcutContext(Qt::WindowShortcut);
    connect(m_mnUndo, &QAction::triggered, this, &MagStructWindow::undoClick);
    connect(m_mnRedo, &QAction::triggered, this, &MagStructWindow::redoClick);
    // the ring and chromaticity windows record steps too
    connect(edit, &QMenu::aboutToShow, this, &MagStructWindow::showHistory);
    showHistory();
}

void MagStructWindow::showHistory()
{
    const UndoHistory& history = m_state.history;
    m_mnUndo->setEnabled(history.canUndo());
    m_mnUndo->setText(history.canUndo() ? QString("Undo %1").arg(QString::fromStdString(history.undoLabel()))
                                        : QString("Undo"));
    m_mnRedo->setEnabled(history.canRedo());
    m_mnRedo->setText(history.canRedo() ? QString("Redo %1").arg(QString::fromStdString(history.redoLabel()))
                                        : QString("Redo"));
    QString title = kCaption;
    if (!m_state.documentFile.empty())
        title += " - " + QFileInfo(QString::fromStdString(m_state.documentFile)).fileName();
    if (designModified(m_state))
        title += "*";
    setWindowTitle(title);
    emit designMayHaveChanged();
}

void MagStructWindow::beginEdit()
{
    if (m_editor.editOperation != EditOperation::None)
        return;
    m_state.history.absorb(m_state);
}

void MagStructWindow::endEdit(const std::string& label)
{
    if (m_editor.editOperation != EditOperation::None)
        return;
    m_state.history.commit(m_state, label);
    showHistory();
}

void MagStructWindow::recorded(const std::string& label, const std::function<void()>& action)
{
    beginEdit();
    action();
    endEdit(label);
}

void MagStructWindow::undoClick()
{
    stepHistory([this] { return m_state.history.undo(m_state); });
}

void MagStructWindow::redoClick()
{
    stepHistory([this] { return m_state.history.redo(m_state); });
}

void MagStructWindow::stepHistory(const std::function<bool()>& step)
{
    // an operation under way gives its marked limits their colours back first; a tuning run ends
    if (m_editor.editOperation != EditOperation::None) {
        cancelCutPaste(m_state, m_editor);
        m_editor.buttons = buttons::kIdle;
    }
    m_state.history.endRun(m_state);
    if (step())
        designRestored();
    showHistory();
}

void MagStructWindow::designRestored()
{
    // the panels showed records that may have changed or gone
    m_elementPanel->hide();
    m_tuningPanel->hide();
    m_pnMagList->hide();
    if (m_editor.selectedElement > m_state.line.count)
        m_editor.selectedElement = m_state.line.count;
    m_initialPanel->fillFromState();
    showZStepMenu();
    lineChanged();
    if (plotKind(m_state.run).empty())
        m_chart->removeSeries();
    else
        updateCurves(ListWriter::PlotUpdate);
    showButtons();
    m_chart->refresh();
}

} // namespace kestrune
