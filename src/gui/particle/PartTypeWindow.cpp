#include "gui/particle/PartTypeWindow.h"

#include "core/Format.h"
#include "core/InputRanges.h"
#include "core/Kinematics.h"
#include "core/NumberInput.h"
#include "gui/QtMessages.h"

#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace kestrune {

namespace {

QString q(const std::string& text)
{
    return QString::fromStdString(text);
}

std::string text(const QLineEdit* edit)
{
    return edit->text().toStdString();
}

QLineEdit* displayBox(const char* name, QWidget* parent)
{
    auto* box = new QLineEdit(parent);
    box->setObjectName(name);
    box->setReadOnly(true);
    return box;
}

QLabel* resultLabel(const char* name, QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setStyleSheet("color: navy; font-weight: bold;");
    return label;
}

// momentum box text: a momentum that is not positive shows the default 1000 MeV/c
QString momentumText(double momentumEv)
{
    return momentumEv > 0 ? q(fmt("%8.3f", momentumEv / 1e6)) : QString("1000.00");
}

} // namespace

PartTypeWindow::PartTypeWindow(State& state, Windows& windows, QWidget* parent)
    : QDialog(parent), m_state(state), m_windows(windows)
{
    setObjectName("TfPartType");
    setWindowTitle("choose particle type");
    setAutoFillBackground(true);
    QPalette navy = palette();
    navy.setColor(QPalette::Window, QColor(0, 0, 128));
    setPalette(navy);
    buildControls();
    resize(430, 350);
}

void PartTypeWindow::buildControls()
{
    auto* layout = new QVBoxLayout(this);
    auto* menu = new QMenuBar(this);
    menu->setObjectName("mnMain");
    menu->setStyleSheet("QMenuBar { background: #e8e8e8; color: black; }");
    const std::pair<const char*, const char*> entries[] = {
        {"mnElectron", "electron (default)"}, {"mnProton", "proton"}, {"mnIon", "ion"}, {"mnClose", "close"}};
    for (const auto& [name, caption] : entries)
        menu->addAction(caption)->setObjectName(name);
    const QList<QAction*> actions = menu->actions();
    connect(actions[0], &QAction::triggered, this, &PartTypeWindow::electronClick);
    connect(actions[1], &QAction::triggered, this, &PartTypeWindow::protonClick);
    connect(actions[2], &QAction::triggered, this, &PartTypeWindow::ionClick);
    connect(actions[3], &QAction::triggered, this, &PartTypeWindow::closeClick);
    layout->setMenuBar(menu);

    m_ionList = new QComboBox(this);
    m_ionList->setObjectName("cbIon");
    m_ionList->setPlaceholderText("choose ion");
    m_ionList->setMaxVisibleItems(21);
    for (const IonEntry& ion : ionTable())
        m_ionList->addItem(ion.listText);
    m_ionList->addItem(QString()); // two empty rows: picking them only refreshes the display
    m_ionList->addItem(QString());
    m_ionList->setCurrentIndex(-1);
    m_ionList->hide();
    connect(m_ionList, &QComboBox::activated, this, &PartTypeWindow::ionListClick);
    layout->addWidget(m_ionList, 0, Qt::AlignTop);

    m_pnPartType = new QFrame(this);
    m_pnPartType->setObjectName("pnPartType");
    m_pnPartType->setFrameShape(QFrame::Panel);
    m_pnPartType->setFrameShadow(QFrame::Raised);
    m_pnPartType->setAutoFillBackground(true);
    QPalette yellow = m_pnPartType->palette();
    yellow.setColor(QPalette::Window, QColor(255, 255, 0));
    yellow.setColor(QPalette::WindowText, Qt::black);
    m_pnPartType->setPalette(yellow);
    layout->addWidget(m_pnPartType, 1);

    auto* grid = new QGridLayout(m_pnPartType);
    m_edSelPart = displayBox("edSelPart", m_pnPartType);
    grid->addWidget(m_edSelPart, 0, 0, 1, 2);
    m_chargeLabel = new QLabel("charge multiplicity: Z = ", m_pnPartType);
    m_chargeLabel->setObjectName("lCharge");
    m_edZ = new QLineEdit("1", m_pnPartType);
    m_edZ->setObjectName("edZ");
    grid->addWidget(m_chargeLabel, 1, 0);
    grid->addWidget(m_edZ, 1, 1);
    m_edAMU = displayBox("edAMU", m_pnPartType);
    grid->addWidget(m_edAMU, 2, 0, 1, 2);
    m_edRestMass = displayBox("edRestMass", m_pnPartType);
    grid->addWidget(m_edRestMass, 3, 0, 1, 2);

    m_rbMom = new QRadioButton("particle momentum, cp (MeV)", m_pnPartType);
    m_rbMom->setObjectName("rbMom");
    m_rbMom->setChecked(true);
    m_edMom = new QLineEdit("1000.00", m_pnPartType);
    m_edMom->setObjectName("edMom");
    m_rbEkin = new QRadioButton("particle kinetic energy, E_kin (MeV)", m_pnPartType);
    m_rbEkin->setObjectName("rbEkin");
    m_edEkin = new QLineEdit(m_pnPartType);
    m_edEkin->setObjectName("edEkin");
    m_edEkin->hide();
    grid->addWidget(m_rbMom, 4, 0);
    grid->addWidget(m_edMom, 4, 1);
    grid->addWidget(m_rbEkin, 5, 0);
    grid->addWidget(m_edEkin, 5, 1);
    // only a change of the checked button converts the boxes
    connect(m_rbMom, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            rbMomClick();
    });
    connect(m_rbEkin, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            rbEkinClick();
    });

    auto* accept = new QPushButton("accept", m_pnPartType);
    accept->setObjectName("bbPartTypeAccept");
    accept->setAutoDefault(false);
    connect(accept, &QPushButton::clicked, this, &PartTypeWindow::bbPartTypeAcceptClick);
    grid->addWidget(accept, 6, 0, 1, 2, Qt::AlignLeft);

    m_lIonMomentum = resultLabel("lIonMomentum", m_pnPartType);
    m_lIonVelocity = resultLabel("lIonVelocity", m_pnPartType);
    m_lIonBeta = resultLabel("lIonBeta", m_pnPartType);
    grid->addWidget(m_lIonMomentum, 7, 0, 1, 2);
    grid->addWidget(m_lIonVelocity, 8, 0, 1, 2);
    grid->addWidget(m_lIonBeta, 9, 0, 1, 2);
    grid->setRowStretch(10, 1);
    grid->setColumnStretch(1, 1);
}

Messages& PartTypeWindow::messages()
{
    return *m_windows.messages;
}

void PartTypeWindow::showModal()
{
    exec();
    hideIonList();
}

void PartTypeWindow::hideIonList()
{
    m_ionList->hide();
}

void PartTypeWindow::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    formActivate();
}

void PartTypeWindow::formActivate()
{
    const BeamParameters& beam = m_state.beam;
    m_pnPartType->show();
    m_edSelPart->setText(q(cut("selected particle type is:  " + beam.name, 43)));
    m_edZ->setText("1");
    m_edAMU->setText(q("atomic mass unit: A = " + shortestFloat(beam.massNumber)));
    m_edRestMass->setText(q("rest mass: mc^2 = " + shortestFloat(beam.restEnergy / 1e6) + " MeV"));
    m_edMom->setText(momentumText(beam.momentum));
}

void PartTypeWindow::particleParameter()
{
    const BeamParameters& beam = m_state.beam;
    m_pnPartType->show();
    m_ionList->hide();
    m_chargeLabel->show();
    m_edZ->setText("1");
    m_edZ->show();
    m_edAMU->show();
    m_edRestMass->show();
    m_edSelPart->setText(q(cut("selected particle is a " + beam.name, 38)));
    m_edRestMass->setText(q("rest mass: mc^2 = " + fmt("%8.5f", beam.restEnergy / 1e6) + " MeV"));
    m_edAMU->setText(q("atomic mass units: A = " + fmt("%8.5f", beam.massNumber)));
}

void PartTypeWindow::electronClick()
{
    selectElectron(m_state.beam, m_state.electron);
    particleParameter();
}

void PartTypeWindow::protonClick()
{
    selectProton(m_state.beam, m_state.electron);
    particleParameter();
}

void PartTypeWindow::ionClick()
{
    selectIonKind(m_state.beam, m_state.electron);
    particleParameter();
    m_pnPartType->hide();
    m_ionList->show();
}

void PartTypeWindow::ionListClick(int row)
{
    selectIonRow(m_state.beam, m_state.electron, row);
    particleParameter();
}

void PartTypeWindow::rbEkinClick()
{
    m_edMom->hide();
    m_edEkin->show();
    BeamParameters& beam = m_state.beam;
    const double momentum = parseDouble(text(m_edMom)) * 1e6;
    if (energyAccepted(EnergyKind::Momentum, momentum, messages()))
        updateKinematics(beam, EnergyKind::Momentum, momentum);
    m_edEkin->setText(q(fmt("%8.3f", beam.kineticEnergy / 1e6)));
}

void PartTypeWindow::rbMomClick()
{
    m_edEkin->hide();
    m_edMom->show();
    BeamParameters& beam = m_state.beam;
    const double kineticEnergy = parseDouble(text(m_edEkin)) * 1e6;
    if (energyAccepted(EnergyKind::Kinetic, kineticEnergy, messages()))
        updateKinematics(beam, EnergyKind::Kinetic, kineticEnergy);
    m_edMom->setText(momentumText(beam.momentum));
}

void PartTypeWindow::bbPartTypeAcceptClick()
{
    BeamParameters& beam = m_state.beam;
    if (m_rbEkin->isChecked()) {
        if (m_edEkin->text().isEmpty()) {
            messages().error("select initial particle kinetic energy!");
        } else {
            const double kineticEnergy = parseDouble(text(m_edEkin)) * 1e6;
            if (!energyAccepted(EnergyKind::Kinetic, kineticEnergy, messages()))
                return;
            updateKinematics(beam, EnergyKind::Kinetic, kineticEnergy);
            m_edMom->setText(q(fmt("%8.3f", beam.momentum / 1e6)));
        }
    } else if (m_edMom->text().isEmpty()) {
        messages().error("select initial particle momentum!");
    } else {
        const double momentum = parseDouble(text(m_edMom)) * 1e6;
        if (!energyAccepted(EnergyKind::Momentum, momentum, messages()))
            return;
        updateKinematics(beam, EnergyKind::Momentum, momentum);
        m_edEkin->setText(q(fmt("%8.3f", beam.kineticEnergy / 1e6)));
    }
    beam.referenceMomentum = beam.momentum;
    if (m_edZ->text().isEmpty())
        m_edZ->setText("1");
    // the charge box stops the handler as a text that is no number does: what was stored before stays
    const int charge = parseInt(text(m_edZ));
    if (const std::optional<std::string> refusal = rangeRefusal(ranges::kChargeState, charge)) {
        messages().error(*refusal);
        return;
    }
    beam.charge = charge;
    m_lIonMomentum->setText(q("momentum = " + fmt("%8.3f", beam.referenceMomentum / 1e6) + " MeV/c"));
    m_lIonVelocity->setText(q("velocity = " + fmt("%8.4g", beam.beta * kSpeedOfLight) + " m/sec"));
    m_lIonBeta->setText(q("beta = v/c = " + fmt("%12.9f", beam.beta)));
}

void PartTypeWindow::closeClick()
{
    m_pnPartType->hide();
    m_ionList->hide();
    done(QDialog::Accepted);
}

} // namespace kestrune
