#include "gui/Windows.h"

#include <QWidget>

namespace kestrune {

void Windows::bringToFront(WindowId id) const
{
    QWidget* window = widgets[static_cast<std::size_t>(id)];
    if (window == nullptr)
        return;
    window->show();
    window->raise();
    window->activateWindow();
}

} // namespace kestrune
