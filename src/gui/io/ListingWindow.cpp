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

void ListingWindow::fillMemo()
{
    m_list->setPlainText(toStringList(listLines(m_state)).join('\n'));
    m_shownRevision = m_state.listing.revision;
    // the memo's vertical scroll bar counts lines: the newest list's first line goes to the top
    m_list->verticalScrollBar()->setValue(static_cast<int>(newestListLine(m_state)));
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
