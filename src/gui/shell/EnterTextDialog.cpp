#include "gui/shell/EnterTextDialog.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace kestrune {

EnterTextDialog::EnterTextDialog(State& state, Windows& windows, QWidget* parent)
    : QDialog(parent), m_state(state), m_windows(windows)
{
    setObjectName("TfEnterText");
    setFixedSize(653, 99);
    setAutoFillBackground(true);
    QPalette maroon = palette();
    maroon.setColor(QPalette::Window, QColor(128, 0, 0));
    setPalette(maroon);

    m_edText = new QLineEdit(this);
    m_edText->setObjectName("edText");
    m_edText->setGeometry(24, 16, 600, 28);
    m_edText->setFrame(false);
    m_edText->setPlaceholderText("input your selection here");
    QFont font("Times New Roman");
    font.setPixelSize(16);
    font.setBold(true);
    m_edText->setFont(font);
    m_edText->setStyleSheet("QLineEdit { background: yellow; color: navy; }");

    auto* accept = new QPushButton("OK", this);
    accept->setObjectName("bbAccept");
    accept->setGeometry(24, 56, 89, 28);
    accept->setDefault(true);
    connect(accept, &QPushButton::clicked, this, &EnterTextDialog::bbAcceptClick);

    m_prompt = new QLabel(this);
    m_prompt->setObjectName("lPrompt");
    m_prompt->setGeometry(128, 56, 496, 28);
    QFont promptFont("Times New Roman");
    promptFont.setPixelSize(14);
    promptFont.setBold(true);
    m_prompt->setFont(promptFont);
    m_prompt->setStyleSheet("QLabel { color: yellow; }");
}

bool EnterTextDialog::ask(const QString& prompt, const QString& text)
{
    setWindowTitle(prompt);
    m_prompt->setText(prompt);
    setText(text);
    return exec() == QDialog::Accepted;
}

void EnterTextDialog::setText(const QString& text)
{
    m_edText->setText(text);
}

void EnterTextDialog::bbAcceptClick()
{
    m_state.enteredText = m_edText->text().toStdString();
    m_edText->clear();
    done(QDialog::Accepted);
}

} // namespace kestrune
