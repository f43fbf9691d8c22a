#include "io/ListingWindow.h"

#include <QPlainTextEdit>

namespace kestrune {

ListingWindow::ListingWindow(State& state, Windows& windows, QWidget* parent)
    : QMainWindow(parent), m_state(state), m_windows(windows)
{
    setWindowTitle("List of Parameters");
    m_list = new QPlainTextEdit(this);
    m_list->setObjectName("mList");
    setCentralWidget(m_list);
    resize(937, 500);
}

void ListingWindow::showList()
{
    QStringList lines;
    for (const std::string& line : m_state.listing.lines)
        lines << QString::fromStdString(line);
    m_list->setPlainText(lines.join('\n'));
    show();
    raise();
}

} // namespace kestrune
