// The beam-dynamics window's recent files, zoom commands and the program's end from its File menu.
#include "core/Design.h"
#include "core/Format.h"
#include "core/io/LatticeFile.h"
#include "core/io/madx/MadxReader.h"
#include "gui/Shortcuts.h"
#include "gui/editor/LatticeChart.h"
#include "gui/editor/MagStructWindow.h"
#include "gui/io/RecentFilesSettings.h"

#include <QFileInfo>
#include <QMenu>
#include <QStatusBar>
#include <cmath>

namespace kestrune {

void MagStructWindow::buildRecentFilesMenu(QMenu* file)
{
    m_mnRecent = file->addMenu("&Recent files");
    m_mnRecent->setObjectName("mnRecent");
    m_mnRecent->menuAction()->setObjectName("mnRecentAction");
    m_recent = loadRecentFiles(programSettings());
    // another window or an earlier run may have changed the list since it was shown
    connect(m_mnRecent, &QMenu::aboutToShow, this, [this] {
        m_recent = loadRecentFiles(programSettings());
        showRecentFiles();
    });
    showRecentFiles();
}

void MagStructWindow::showRecentFiles()
{
    m_mnRecent->clear();
    int n = 0;
    for (const std::string& path : m_recent.paths) {
        const QString fileName = QString::fromStdString(path);
        QString text = QString(fileName).replace('&', "&&");
        text = (++n < 10 ? QString("&%1 ").arg(n) : QString("1&0 ")) + text;
        QAction* action = m_mnRecent->addAction(text);
        action->setObjectName(QString("mnRecent%1").arg(n));
        action->setData(fileName);
        connect(action, &QAction::triggered, this, [this, fileName] { openRecentClick(fileName); });
    }
    m_mnRecent->addSeparator();
    QAction* clear = m_mnRecent->addAction("clear list");
    clear->setObjectName("mnRecentClear");
    clear->setEnabled(!m_recent.paths.empty());
    connect(clear, &QAction::triggered, this, [this] {
        m_recent = RecentFiles{};
        storeRecentFiles(programSettings(), m_recent);
        showRecentFiles();
    });
}

void MagStructWindow::openRecentClick(const QString& fileName)
{
    if (!saveChangesFirst())
        return;
    if (!QFileInfo(fileName).isFile()) {
        m_recent = loadRecentFiles(programSettings());
        removeRecentFile(m_recent, fileName.toStdString());
        storeRecentFiles(programSettings(), m_recent);
        showRecentFiles();
        messages().error(missingRecentFileMessage(fileName.toStdString()));
        return;
    }
    if (isMadxFileName(fileName.toStdString()))
        importMadx(fileName);
    else
        openLattice(fileName);
}

void MagStructWindow::openLattice(const QString& fileName)
{
    beginEdit();
    const BeamParameters before = m_state.beam;
    if (!openLatticeFile(m_state, m_editor, fileName.toStdString(), messages()))
        return;
    rememberFile(fileName);
    lineOpened();
    endEdit("open");
    m_state.history.markSaved();
    markDesignSaved(m_state, fileName.toStdString());
    showHistory();
    showParticleChange(before);
}

void MagStructWindow::showParticleChange(const BeamParameters& before)
{
    const BeamParameters& now = m_state.beam;
    // names are padded with blanks as the particle window keeps them
    const QString name = QString::fromStdString(now.name).trimmed();
    const QString was = QString::fromStdString(before.name).trimmed();
    // the same particle may come back with its mass rounded in the last digits
    const bool sameParticle = name == was && now.isIon == before.isIon && now.charge == before.charge &&
                              std::fabs(now.restEnergy - before.restEnergy) <= 1e-9 * before.restEnergy;
    if (sameParticle) {
        if (!sameValue(now.momentum, before.momentum))
            statusBar()->showMessage(QString("the lattice file changed the momentum to %1 MeV (was %2 MeV)")
                                         .arg(QString::fromStdString(fmt("%.3f", now.momentum / 1e6)),
                                              QString::fromStdString(fmt("%.3f", before.momentum / 1e6))));
        return;
    }
    if (name != was || now.isIon != before.isIon) {
        statusBar()->showMessage(
            QString("the lattice file changed the particle to %1 (was %2)").arg(name, was));
    } else if (now.charge != before.charge) {
        statusBar()->showMessage(QString("the lattice file changed the charge of the %1 to %2 (was %3)")
                                     .arg(name)
                                     .arg(now.charge)
                                     .arg(before.charge));
    } else {
        // the same name with another mass: say which
        statusBar()->showMessage(
            QString("the lattice file changed the rest energy of the %1 to %2 MeV (was %3 MeV)")
                .arg(name, QString::fromStdString(fmt("%.9g", now.restEnergy / 1e6)),
                     QString::fromStdString(fmt("%.9g", before.restEnergy / 1e6))));
    }
}

bool MagStructWindow::saveChangesFirst()
{
    if (!designModified(m_state))
        return true;
    switch (m_dialogs.saveChanges(QString::fromStdString(saveChangesQuestion(m_state)))) {
    case SaveChoice::Save:
        return saveClick();
    case SaveChoice::Discard:
        return true;
    case SaveChoice::Cancel:
        break;
    }
    return false;
}

void MagStructWindow::rememberFile(const QString& fileName)
{
    rememberRecentFile(fileName.toStdString());
    m_recent = loadRecentFiles(programSettings());
    showRecentFiles();
}

void MagStructWindow::buildOpticsKeys(QMenu* optics)
{
    // F5 updates, as it refreshes elsewhere; the commands that choose what is computed follow it
    setMenuKeys(optics, {{"calculate single particle trajectory", Qt::Key_F6},
                         {"start with specific beta_o and alpha_o", Qt::Key_F7},
                         {"look for periodic solution", Qt::Key_F8},
                         {"show beam sizes", Qt::Key_F9},
                         {"print transformation matrix", Qt::CTRL | Qt::Key_M}});
    QAction* update = optics->addAction("update graph");
    update->setObjectName("mnUpdateGraph");
    setStandardShortcut(update, QKeySequence::Refresh, Qt::Key_F5);
    connect(update, &QAction::triggered, this, &MagStructWindow::beamDynamics);
}

void MagStructWindow::buildZoomItems(QMenu* graph)
{
    graph->addSeparator();
    QAction* in = graph->addAction("zoom in");
    in->setObjectName("mnZoomIn");
    setStandardShortcut(in, QKeySequence::ZoomIn, Qt::CTRL | Qt::Key_Plus);
    connect(in, &QAction::triggered, this, [this] {
        const KeyRange shown = m_chart->shownRange();
        m_chart->zoomAt((shown.lower + shown.upper) / 2, 0.5);
    });
    QAction* out = graph->addAction("zoom out");
    out->setObjectName("mnZoomOut");
    setStandardShortcut(out, QKeySequence::ZoomOut, Qt::CTRL | Qt::Key_Minus);
    connect(out, &QAction::triggered, this, [this] {
        const KeyRange shown = m_chart->shownRange();
        m_chart->zoomAt((shown.lower + shown.upper) / 2, 2.0);
    });
    QAction* full = graph->addAction("show full line");
    full->setObjectName("mnFullLine");
    full->setShortcut(Qt::CTRL | Qt::Key_0);
    connect(full, &QAction::triggered, m_chart, &LatticeChart::showFullLine);
}

void MagStructWindow::quitClick()
{
    emit quitAsked();
}

} // namespace kestrune
