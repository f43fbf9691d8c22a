#include "gui/Controls.h"

#include "core/Messages.h"
#include "core/NumberInput.h"
#include "core/aperture/ScanLimits.h"

#include <QGridLayout>
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

QLineEdit* addCaptionedBox(QGridLayout* grid, const char* name, const QString& caption, const QString& text)
{
    QWidget* owner = grid->parentWidget();
    auto* box = new QLineEdit(text, owner);
    box->setObjectName(name);
    box->setMaximumWidth(80);
    const int row = grid->rowCount();
    grid->addWidget(new QLabel(caption, owner), row, 0);
    grid->addWidget(box, row, 1);
    return box;
}

std::optional<double> limitedBoxValue(QLineEdit* box, const std::string& name, const ScanLimit& limit,
                                      bool whole, Messages& messages)
{
    const std::string text = box->text().toStdString();
    const double value = whole ? parseInt(name, text) : parseDouble(name, text);
    if (const std::optional<std::string> refusal = limitRefusal(name, value, limit, whole)) {
        messages.error(*refusal);
        return std::nullopt;
    }
    return value;
}

} // namespace kestrune
