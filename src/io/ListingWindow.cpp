#include "io/ListingWindow.h"

#include "io/ListPrinterQt.h"
#include "io/Listing.h"

#include <QEvent>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QScrollBar>
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
    QFont font("Courier New", 10);
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    m_list->setFont(font);
    QPalette palette = m_list->palette();
    palette.setColor(QPalette::Base, QColor(192, 192, 192)); // silver
    palette.setColor(QPalette::Text, Qt::black);
    m_list->setPalette(palette);
    m_list->viewport()->installEventFilter(this);
    setCentralWidget(m_list);

    QAction* close = menuBar()->addAction("Close");
    close->setObjectName("mnClose");
    connect(close, &QAction::triggered, this, &ListingWindow::closeClick);

    resize(937, 500);
}

void ListingWindow::showList()
{
    const std::vector<std::string> lines = listLines(m_state);
    const bool appended =
        lines.size() >= m_shown.size() && std::equal(m_shown.begin(), m_shown.end(), lines.begin());
    const int firstNew = appended ? static_cast<int>(m_shown.size()) : 0;
    m_list->setPlainText(toStringList(lines).join('\n'));
    m_shown = lines;
    show();
    raise();
    activateWindow();
    m_list->verticalScrollBar()->setValue(firstNew);
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
