#include "gui/shell/HelpWindow.h"

#include "core/io/SafeFile.h"
#include "gui/ListPrinter.h"
#include "gui/QtMessages.h"
#include "gui/Resources.h"
#include "gui/Shortcuts.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QStandardPaths>
#include <QTextStream>

namespace kestrune {

namespace {

const char* const kHelpFile = "Help.doc";
const char* const kOriginalHelpFile = "HelpOrig.doc";
const char* const kBuiltInOriginal = ":/help/HelpOrig.doc";

std::string openError(const QString& path, const QString& reason)
{
    return QString("Cannot open file \"%1\". %2").arg(QDir::toNativeSeparators(path), reason).toStdString();
}

} // namespace

QString originalHelpPath(const QString& dataDirectory)
{
    ensureResources();
    // beside the user's copy, then where the program is installed, then the built-in text
    QStringList candidates{QDir(dataDirectory).filePath(kOriginalHelpFile)};
    candidates << QCoreApplication::applicationDirPath() + "/../share/kestrune/" + kOriginalHelpFile;
    const QString installed = QStandardPaths::locate(QStandardPaths::AppDataLocation, kOriginalHelpFile);
    if (!installed.isEmpty())
        candidates << installed;
    for (const QString& path : candidates)
        if (QFileInfo(path).isFile())
            return QFileInfo(path).absoluteFilePath();
    return kBuiltInOriginal;
}

HelpWindow::HelpWindow(State& state, Windows& windows, QWidget* parent, const QString& dataDirectory)
    : QMainWindow(parent), m_state(state), m_windows(windows), m_dataDirectory(dataDirectory)
{
    setObjectName("TfHelp");
    setWindowTitle("Help");
    m_mHelp = new QPlainTextEdit(this);
    m_mHelp->setObjectName("mHelp");
    m_mHelp->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QFont font("Courier New");
    font.setPixelSize(15);
    font.setStyleHint(QFont::Monospace);
    m_mHelp->setFont(font);
    setCentralWidget(m_mHelp);
    buildMenu();
    m_choosePrinter = [this](QPrinter& printer) { return askPrinter(printer, this); };

    move(50, 20);
    resize(680, 500);
    // the user's copy is made from the unedited text the first time
    const QString helpFile = helpFilePath();
    if (!QFileInfo::exists(helpFile)) {
        QDir().mkpath(m_dataDirectory);
        QFile original(originalHelpPath(m_dataDirectory));
        // made quietly: the reading after it says what failed
        QuietMessages quiet;
        if (original.open(QIODevice::ReadOnly | QIODevice::Text))
            writeTextFileSafely(helpFile.toStdString(), original.readAll().toStdString(), quiet);
    }
    if (!loadInto(helpFile))
        loadInto(originalHelpPath(m_dataDirectory));
}

void HelpWindow::buildMenu()
{
    QMenu* file = menuBar()->addMenu("&File");
    file->setObjectName("mnFile");
    QAction* action = file->addAction("&Get orig. Help File", this, &HelpWindow::getOrigHelpFileClick);
    action->setObjectName("GetOrigHelpFile");
    action = file->addAction("&Save", this, &HelpWindow::saveHelpFileClick);
    action->setObjectName("SaveHelpFile");
    setStandardShortcut(action, QKeySequence::Save, Qt::CTRL | Qt::Key_S);
    action = file->addAction("&Print...", this, &HelpWindow::printClick);
    action->setObjectName("mnPrint");
    setStandardShortcut(action, QKeySequence::Print, Qt::CTRL | Qt::Key_P);
    file->addAction("P&rint Setup...")->setObjectName("mnPrintSetup");
    file->addSeparator();
    action = file->addAction("E&xit", this, &HelpWindow::exitClick);
    action->setObjectName("mnExit");
    setStandardShortcut(action, QKeySequence::Close, Qt::CTRL | Qt::Key_W);
}

Messages& HelpWindow::messages()
{
    return *m_windows.messages;
}

QString HelpWindow::helpFilePath() const
{
    return QDir(m_dataDirectory).filePath(kHelpFile);
}

bool HelpWindow::loadInto(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        messages().error(openError(path, file.errorString()));
        return false;
    }
    QString text = QString::fromUtf8(file.readAll());
    if (text.endsWith('\n'))
        text.chop(1);
    m_mHelp->setPlainText(text);
    return true;
}

void HelpWindow::getOrigHelpFileClick()
{
    loadInto(originalHelpPath(m_dataDirectory));
}

void HelpWindow::saveHelpFileClick()
{
    QDir().mkpath(m_dataDirectory);
    // every memo line ends with a line break, also an empty last line
    const QString text = m_mHelp->toPlainText();
    writeTextFileSafely(helpFilePath().toStdString(),
                        text.isEmpty() ? std::string() : (text + '\n').toStdString(), messages());
}

void HelpWindow::printClick()
{
    QPrinter printer(QPrinter::ScreenResolution);
    if (!m_choosePrinter(printer))
        return;
    printList(printer, m_mHelp->toPlainText().split('\n'), m_mHelp->font());
}

void HelpWindow::exitClick()
{
    close();
}

} // namespace kestrune
