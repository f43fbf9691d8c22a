#include "gui/io/ListingWindow.h"

#include "core/io/Listing.h"
#include "gui/ListPrinter.h"
#include "gui/io/ListActions.h"

#include <QEvent>
#include <QLabel>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QStatusBar>
#include <QTextCursor>
#include <QTimer>
#include <algorithm>

namespace kestrune {

ListingWindow::ListingWindow(State& state, Windows& windows, QWidget* parent)
    : QMainWindow(parent), m_state(state), m_windows(windows)
{
    setObjectName("TfListing");
    setWindowTitle("List of Parameters");

    m_list = new QPlainTextEdit(this);
    m_list->setObjectName("mList");
    m_list->setReadOnly(true);
    m_list->setLineWrapMode(QPlainTextEdit::NoWrap); // lists never wrap
    m_list->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_list->setFont(listTextFont());
    QPalette palette = m_list->palette();
    palette.setColor(QPalette::Base, QColor(192, 192, 192)); // silver
    palette.setColor(QPalette::Text, Qt::black);
    m_list->setPalette(palette);
    m_list->viewport()->installEventFilter(this);
    setCentralWidget(m_list);
    m_feed = new QTimer(this);
    m_feed->setInterval(0);
    connect(m_feed, &QTimer::timeout, this, &ListingWindow::appendBlock);

    QAction* close = menuBar()->addAction("Close");
    close->setObjectName("mnClose");
    connect(close, &QAction::triggered, this, &ListingWindow::closeClick);

    m_mode = new QLabel(this);
    m_mode->setObjectName("lMode");
    statusBar()->addWidget(m_mode);
    showMode();

    resize(937, 500);
}

void ListingWindow::showList()
{
    show();
    fillMemo();
    showMode();
    raise();
    activateWindow();
}

void ListingWindow::showMode()
{
    m_mode->setText(m_state.listing.replaceList ? "replace: each new list replaces the text"
                                                : "add: new lists are appended to the text");
}

namespace {

// Lines the memo takes in one go: a block of them takes a few milliseconds.
constexpr std::size_t kBlockLines = 4000;

QString joinedLines(const std::vector<std::string>& lines, std::size_t from, std::size_t to)
{
    QString text;
    for (std::size_t i = from; i < to; ++i) {
        if (i > from)
            text += '\n';
        text += QString::fromStdString(lines[i]);
    }
    return text;
}

} // namespace

void ListingWindow::fillMemo()
{
    m_feed->stop();
    m_lines = listLines(m_state);
    const std::size_t newest = newestListLine(m_state);
    m_filled = std::min(m_lines.size(), std::max(kBlockLines, newest + kBlockLines / 4));
    m_list->setPlainText(joinedLines(m_lines, 0, m_filled));
    m_shownRevision = m_state.listing.revision;
    // the memo's vertical scroll bar counts lines: the newest list's first line goes to the top
    m_list->verticalScrollBar()->setValue(static_cast<int>(newest));
    if (m_filled < m_lines.size())
        m_feed->start();
    else
        m_lines.clear();
}

void ListingWindow::appendBlock()
{
    const std::size_t to = std::min(m_lines.size(), m_filled + kBlockLines);
    QTextCursor end(m_list->document());
    end.movePosition(QTextCursor::End);
    end.insertText('\n' + joinedLines(m_lines, m_filled, to));
    m_filled = to;
    if (m_filled >= m_lines.size()) {
        m_feed->stop();
        m_lines = std::vector<std::string>();
    }
}

bool ListingWindow::event(QEvent* event)
{
    // lists written while the window stood in the background (plot updates) show when it comes back
    if (event->type() == QEvent::WindowActivate) {
        if (m_state.listing.revision != m_shownRevision)
            fillMemo();
        showMode();
    }
    return QMainWindow::event(event);
}

QFont ListingWindow::listFont() const
{
    return m_list->font();
}

bool ListingWindow::printListing(QWidget* owner)
{
    return printListDialog(owner, toStringList(listLines(m_state)), listFont());
}

bool ListingWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_list->viewport() && event->type() == QEvent::MouseButtonDblClick) {
        mListDblClick();
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void ListingWindow::mListDblClick()
{
    hide();
}

void ListingWindow::closeClick()
{
    close();
}

} // namespace kestrune
