#include "gui/QtMessages.h"

#include "gui/io/ListingWindow.h"
#include "gui/particle/PartTypeWindow.h"

#include <QApplication>
#include <QMessageBox>

namespace kestrune {

namespace {

const char* const kBoxTitle = "Kestrune";

} // namespace

QtMessages::QtMessages(Windows& windows) : m_windows(windows) {}

void QtMessages::error(const std::string& text)
{
    if (m_target) {
        m_target->error(text);
        return;
    }
    QMessageBox box(QMessageBox::Warning, kBoxTitle, QString::fromStdString(text), QMessageBox::Ok,
                    QApplication::activeWindow());
    box.exec();
}

bool QtMessages::confirm(const std::string& question, std::optional<ScreenPoint> position)
{
    if (m_target)
        return m_target->confirm(question, position);
    QMessageBox box(QMessageBox::Question, kBoxTitle, QString::fromStdString(question),
                    QMessageBox::Yes | QMessageBox::No, QApplication::activeWindow());
    box.setDefaultButton(QMessageBox::Yes);
    if (position)
        box.move(position->x, position->y); // a moved dialog keeps its place when shown
    return box.exec() == QMessageBox::Yes;
}

bool QtMessages::confirmDefaultNo(const std::string& question)
{
    if (m_target)
        return m_target->confirmDefaultNo(question);
    QMessageBox box(QMessageBox::Question, kBoxTitle, QString::fromStdString(question),
                    QMessageBox::Yes | QMessageBox::No, QApplication::activeWindow());
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

SaveChoice QtMessages::askSaveChanges(const std::string& question)
{
    if (m_target)
        return SaveChoice::Discard;
    QMessageBox box(QMessageBox::Warning, kBoxTitle, QString::fromStdString(question),
                    QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel,
                    QApplication::activeWindow());
    box.setDefaultButton(QMessageBox::Save);
    box.setEscapeButton(QMessageBox::Cancel);
    switch (box.exec()) {
    case QMessageBox::Save:
        return SaveChoice::Save;
    case QMessageBox::Discard:
        return SaveChoice::Discard;
    default:
        return SaveChoice::Cancel;
    }
}

void QtMessages::askParticle()
{
    if (m_target) {
        m_target->askParticle();
        return;
    }
    if (m_windows.partType)
        m_windows.partType->showModal();
}

void QtMessages::showList()
{
    if (m_target) {
        m_target->showList();
        return;
    }
    if (m_windows.listing)
        m_windows.listing->showList();
}

} // namespace kestrune
