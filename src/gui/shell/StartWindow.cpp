#include "gui/shell/StartWindow.h"

#include "core/Kinematics.h"
#include "gui/QtMessages.h"
#include "gui/Resources.h"
#include "gui/Shortcuts.h"
#include "gui/particle/PartTypeWindow.h"
#include "gui/shell/JpegImage.h"

#include <QCloseEvent>
#include <QIcon>
#include <QLabel>
#include <QToolBar>
#include <QToolButton>

namespace kestrune {

namespace {

constexpr int kClientWidth = 559;
constexpr int kClientHeight = 435;
constexpr int kToolBarHeight = 77;

QFont timesBold(int pixels)
{
    QFont font("Times New Roman");
    font.setStyleHint(QFont::Serif);
    font.setPixelSize(pixels);
    font.setBold(true);
    return font;
}

QLabel* overlayLabel(const char* name, const QString& text, int pixels, const QColor& colour, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    label->setFont(timesBold(pixels));
    label->setAttribute(Qt::WA_TranslucentBackground);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
    return label;
}

} // namespace

StartWindow::StartWindow(State& state, Windows& windows, QWidget* parent, const QString& dataDirectory)
    : QMainWindow(parent), m_state(state), m_windows(windows)
{
    setObjectName("TfStart");
    setWindowTitle("optics design program for single pass and circular electron beams");
    ensureResources();
    setFixedSize(kClientWidth, kClientHeight);
    QPalette olive = palette();
    olive.setColor(QPalette::Window, QColor(128, 128, 0));
    setPalette(olive);
    setAutoFillBackground(true);
    buildPicture();
    buildToolBar();

    // the start-up scratch lattice file; the program starts without it as well
    makeScratchLatticeFile(dataDirectory);
}

void StartWindow::buildPicture()
{
    auto* area = new QWidget(this);
    area->setObjectName("pnPicture");
    setCentralWidget(area);
    auto* image = new QLabel(area);
    image->setObjectName("imPicture");
    image->setGeometry(0, 0, kClientWidth, kClientHeight - kToolBarHeight);
    image->setScaledContents(true);
    const QImage picture = loadJpeg(":/images/start.jpg");
    if (!picture.isNull())
        image->setPixmap(QPixmap::fromImage(picture));

    const QColor maroon(128, 0, 0);
    auto* label3 = overlayLabel("lTitle", "Kestrune 2007", 28, maroon, area);
    label3->setGeometry(18, 10, 260, 36);
    auto* label4 =
        overlayLabel("lSubtitle", "Kestrune Optics and Design Program" + QString(28, ' ') + "April 2007", 16,
                     maroon, area);
    label4->setWordWrap(true);
    label4->setGeometry(18, 50, 289, 44);
    label4->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    auto* label5 =
        overlayLabel("lCredit", "written by\nthe Kestrune developers", 21, QColor(128, 128, 0), area);
    label5->setGeometry(18, 262, 300, 56);
}

void StartWindow::buildToolBar()
{
    auto* bar = new QToolBar(this);
    bar->setObjectName("toolBar");
    bar->setMovable(false);
    bar->setFloatable(false);
    bar->setFixedHeight(kToolBarHeight);
    bar->setIconSize(QSize(130, 45));
    bar->setAutoFillBackground(true);
    QPalette silver = bar->palette();
    silver.setColor(QPalette::Window, QColor(192, 192, 192));
    silver.setColor(QPalette::Button, QColor(192, 192, 192));
    silver.setColor(QPalette::ButtonText, Qt::black);
    bar->setPalette(silver);
    bar->setContextMenuPolicy(Qt::PreventContextMenu);
    addToolBar(Qt::BottomToolBarArea, bar);

    struct Button
    {
        const char* name;
        const char* caption;
        const char* image;
        void (StartWindow::*handler)();
    };
    const Button buttons[] = {
        {"tbParticle", "particle type", ":/images/tool-particle.png", &StartWindow::partTypeClick},
        {"tbTransport", "transport line", ":/images/tool-transport.png", &StartWindow::tbTranspClick},
        {"tbPeriodic", "periodic lattice", ":/images/tool-periodic.png", &StartWindow::tbPeriodClick},
        {"tbCloseProgram", "close program", ":/images/tool-close.png", &StartWindow::closeProgramClick},
    };
    for (const Button& b : buttons) {
        auto* button = new QToolButton(bar);
        button->setObjectName(b.name);
        button->setText(b.caption);
        button->setIcon(QIcon(b.image));
        button->setIconSize(QSize(130, 45));
        button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        button->setFixedSize(137, 71);
        button->setFont(timesBold(16));
        button->setAutoRaise(true);
        connect(button, &QToolButton::clicked, this, b.handler);
        if (b.handler == &StartWindow::closeProgramClick)
            button->setShortcut(standardKeys(QKeySequence::Quit, Qt::CTRL | Qt::Key_Q).first());
        bar->addWidget(button);
    }
}

Messages& StartWindow::messages()
{
    return *m_windows.messages;
}

void StartWindow::partTypeClick()
{
    m_windows.partType->showModal();
}

void StartWindow::tbTranspClick()
{
    setChart("TR", "Beam Transport Line");
}

void StartWindow::tbPeriodClick()
{
    setChart("SR", "Periodic Magnet Lattice");
}

void StartWindow::setChart(const QString& mode, const QString& title)
{
    emit beamDynamicsAsked(mode != "TR", title);
}

void StartWindow::closeProgramClick()
{
    close();
}

void StartWindow::closeEvent(QCloseEvent* event)
{
    if (m_endCheck && !m_endCheck()) {
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
    emit programEnded();
}

} // namespace kestrune
