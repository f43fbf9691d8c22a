#pragma once

#include "core/Messages.h"
#include "core/State.h"
#include "core/lifetime/LifetimeUpdate.h"
#include "gui/Windows.h"

#include <QMainWindow>
#include <QPoint>
#include <functional>
#include <memory>
#include <vector>

class QAction;
class QCheckBox;
class QGroupBox;
class QGridLayout;
class QLabel;
class QLineEdit;
class QPushButton;

namespace kestrune {

class ToolWindowMessages;

/// The lifetime window: gas scattering, bremsstrahlung, quantum and Touschek lifetimes combined.
class LifeTimeWindow : public QMainWindow
{
    Q_OBJECT
public:
    LifeTimeWindow(State& state, Windows& windows, QWidget* parent = nullptr);
    ~LifeTimeWindow() override;

    /// FormActivate: the boxes from the shared results (or the defaults with their messages); a lifetime
    /// whose inputs are as they were is kept, the others are cleared with their result lines.
    void formActivate();
    /// The design may have changed: result lines whose inputs changed are cleared.
    void designChanged();
    // menu entries
    void elasticClick();
    void bremsstrahlungClick();
    void quantumLifetimeClick();
    void touschekClick();
    // update buttons
    void bbUpdElastClick();
    void bbBremsLifeClick();
    void bbUpQuantumClick();
    void bbTouschekClick();
    /// Shows the total group with the combined lifetime.
    void combinealleffects();

    /// The update button that answers the Enter key (nullptr: none).
    QPushButton* defaultButton() const { return m_defaultButton; }

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Box
    {
        QLineEdit* edit;
        std::string LifetimeBoxes::*text;
    };
    /// A group's result line and what it was computed from.
    struct Result
    {
        QGroupBox* group;
        QLabel* line;
        double Lifetimes::*lifetime;
        QString inputs; // inputsOf(group) when the line was filled
    };

    Messages& messages();
    QGroupBox* makeGroup(const QString& objectName, const QString& caption);
    QLineEdit* addBox(QGroupBox* group, int row, const QString& objectName, const QString& label,
                      std::string LifetimeBoxes::*text, const QString& hint = QString());
    QLabel* addLabel(QGroupBox* group, int row, const QString& objectName, const QString& caption,
                     bool visible = true);
    QPushButton* addUpdateButton(QGroupBox* group, int row, const QString& objectName);
    void buildElastic();
    void buildBrems();
    void buildQuantum();
    void buildTouschek();
    void buildTotal();
    void buildMenus();
    /// Typing into one of a group's boxes hides its result and makes its button the default.
    void watchTyping(const std::vector<QLineEdit*>& edits, QLabel* result, QPushButton* button);
    void setDefaultButton(QPushButton* button);
    LifetimeBoxes readBoxes() const;
    void writeBoxes(const LifetimeBoxes& boxes);
    /// Runs an update on the boxes: the boxes it filled are shown, a conversion error is reported.
    template <typename Update> void update(Update&& run);
    void showGroup(QGroupBox* group);
    /// The stamps of the results a group's lifetime depends on and the texts of its boxes.
    QString inputsOf(const QGroupBox* group) const;
    /// The result line of group was filled: what it was computed from is kept with the lifetime.
    void resultShown(const QGroupBox* group);
    /// Lines whose inputs changed are hidden and their lifetimes cleared; the others keep theirs.
    void dropChangedResults();

    State& m_state;
    Windows& m_windows;
    std::unique_ptr<ToolWindowMessages> m_messages;
    std::vector<Box> m_boxes;
    QWidget* m_area = nullptr;
    QGroupBox* m_gbElastic = nullptr;
    QGroupBox* m_gbBrems = nullptr;
    QGroupBox* m_gbQuantum = nullptr;
    QGroupBox* m_gbTouschek = nullptr;
    QGroupBox* m_gbtotLife = nullptr;
    QLabel* m_lCbLife = nullptr;
    QLabel* m_lBrems = nullptr;
    QLabel* m_lSige = nullptr;
    QLabel* m_lEpsx = nullptr;
    QLabel* m_lepsy = nullptr;
    QLabel* m_lne = nullptr;
    QLabel* m_lnx = nullptr;
    QLabel* m_lny = nullptr;
    QLabel* m_lqte = nullptr;
    QLabel* m_lqtx = nullptr;
    QLabel* m_lqty = nullptr;
    QLabel* m_lqtot = nullptr;
    QLabel* m_lTouschek = nullptr;
    QCheckBox* m_cbLocalAcceptance = nullptr; // the Touschek acceptance from the aperture window's scan
    QLabel* m_lTot = nullptr;
    QPushButton* m_bbUpdElast = nullptr;
    QPushButton* m_bbBremsLife = nullptr;
    QPushButton* m_bbUpQuantum = nullptr;
    QPushButton* m_bbTouschek = nullptr;
    QPushButton* m_defaultButton = nullptr;
    std::vector<Result> m_results;
    Lifetimes m_shown; // the lifetimes of the result lines shown
    QPoint m_dragOffset;
    bool m_dragging = false;
    bool m_totalMoved = false; // the user dragged the total group: it stays where it was put
};

} // namespace kestrune
