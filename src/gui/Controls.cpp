#include "gui/Controls.h"

#include <QLabel>
#include <QLineEdit>

namespace kestrune {

QLabel* makeLabel(const QString& objectName, const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(objectName);
    return label;
}

QLineEdit* makeEdit(const QString& objectName, const QString& text, QWidget* parent)
{
    auto* edit = new QLineEdit(text, parent);
    edit->setObjectName(objectName);
    edit->setMaximumWidth(110);
    return edit;
}

} // namespace kestrune
