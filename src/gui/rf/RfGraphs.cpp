// Menus of the rf window and the graphs of its chart panel.
#include "core/Format.h"
#include "core/NumberInput.h"
#include "core/rf/EnergyScan.h"
#include "core/rf/PhaseSpace.h"
#include "core/rf/RfParameter.h"
#include "gui/GraphExport.h"
#include "gui/ListPrinter.h"
#include "gui/MenuItems.h"
#include "gui/Shortcuts.h"
#include "gui/rf/RfChartPanel.h"
#include "gui/rf/RfWindow.h"

#include <QGroupBox>
#include <QLineEdit>
#include <QMarginsF>
#include <QMenuBar>
#include <QPrinter>
#include <qcustomplot.h>

namespace kestrune {

namespace {

const QColor kGreen(0, 128, 0);
const QColor kRed(255, 0, 0);
const QColor kNavy(0, 0, 128);
const QColor kMaroon(128, 0, 0);

QPen curvePen(PhaseCurveKind kind)
{
    switch (kind) {
    case PhaseCurveKind::Separatrix:
        return QPen(kGreen, 1.5, Qt::SolidLine);
    case PhaseCurveKind::Stable:
        return QPen(kNavy, 1, Qt::DashLine);
    case PhaseCurveKind::Unstable:
        break;
    }
    return QPen(kRed, 1, Qt::DotLine);
}

/// The phase axis of the phase-space and potential graphs: 0 to 720 degrees in steps of 30.
RfChartPanel::AxisSetup phaseAxis(const QString& title)
{
    return RfChartPanel::AxisSetup{title, "##0.", 30, 0, 720};
}

double typed(const QLineEdit* box)
{
    return parseDouble(box->accessibleName().toStdString(), box->text().toStdString());
}

} // namespace

void RfWindow::buildMenus()
{
    QMenuBar* bar = menuBar();
    QMenu* file = bar->addMenu("&File");
    file->setObjectName("mnFile");
    setStandardShortcut(addMenuItem(file, {}, "Save &As...", this, [this] { saveAsClick(); }),
                        QKeySequence::SaveAs, Qt::CTRL | Qt::SHIFT | Qt::Key_S);
    addMenuItem(file, {}, "Save Graph as MetaFile, *.wmf", this, [this] { saveGraphWmfClick(); });
    setStandardShortcut(addMenuItem(file, {}, "print graph", this, [this] { printGraphClick(); }),
                        QKeySequence::Print, Qt::CTRL | Qt::Key_P);
    file->addSeparator();
    setStandardShortcut(addMenuItem(file, {}, "E&xit", this, [this] { close(); }), QKeySequence::Close,
                        Qt::CTRL | Qt::Key_W);

    addMenuItem(bar, "mnRfSystem", "Rf-system", this, [this] { rfSystemClick(); });
    addMenuItem(bar, "mnEscan", "energy scan", this, [this] { mnEscanClick(); });
    m_mnGraphs = bar->addMenu("graphs");
    m_mnGraphs->setObjectName("mnGraphs");
    m_mnGraphs->menuAction()->setObjectName("mnGraphsAction");
    for (int tag = 0; tag < kScanQuantityCount; ++tag)
        addMenuItem(m_mnGraphs, {}, scanQuantityText(static_cast<ScanQuantity>(tag)).menuEntry, this,
                    [this, tag] { graphEscanClick(tag); });
    connect(m_mnGraphs, &QMenu::aboutToShow, this, &RfWindow::mnGraphsClick);
    m_mnGraphs->setEnabled(false);
    m_mnPhaseSpace = addMenuItem(bar, "mnPhaseSpace", "phase space", this, [this] { phaseSpaceClick(); });
    m_mnRfPotential = addMenuItem(bar, "mnRfPotential", "rf-potential", this, [this] { rfPotentialClick(); });
    m_mnPhaseSpace->setEnabled(false);
    m_mnRfPotential->setEnabled(false);
}

void RfWindow::enableGraphMenus()
{
    m_mnPhaseSpace->setEnabled(true);
    m_mnRfPotential->setEnabled(true);
}

void RfWindow::showChart()
{
    m_chartPanel->show();
    m_gbCavity->hide();
}

void RfWindow::mnEscanClick()
{
    showChart();
    m_pnEvar->show();
    const std::optional<EnergyRange> range = proposeEnergyRange(m_state, messages());
    if (!range)
        return;
    m_edEmin->setText(QString::fromStdString(fmt("%8.3f", range->cpMinGeV)));
    m_edEmax->setText(QString::fromStdString(fmt("%8.3f", range->cpMaxGeV)));
    m_mnGraphs->setEnabled(true);
}

void RfWindow::mnGraphsClick()
{
    m_chartPanel->removeSeries();
    m_chartPanel->setFoot(QString());
    m_chartPanel->setTitle("energy scan of selected parameter");
    m_chartPanel->setLeftAxis(RfChartPanel::AxisSetup{m_chartPanel->plot()->yAxis->label(), "##0.###"});
    m_chartPanel->setBottomAxis(RfChartPanel::AxisSetup{
        "beam energy (GeV)", "##0.0#", (m_scanMaxGeV - m_scanMinGeV) / 10, m_scanMinGeV, m_scanMaxGeV});
    m_graph = Graph::EnergyScan;
    m_chartPanel->refresh();
}

void RfWindow::graphEscanClick(int tag)
{
    if (tag < 0 || tag >= kScanQuantityCount)
        return;
    showingConversionErrors(messages(), [this, tag] {
        const double cpMin = typed(m_edEmin);
        const double cpMax = typed(m_edEmax);
        const auto quantity = static_cast<ScanQuantity>(tag);
        const std::optional<EnergyScan> scan = energyScan(m_state, messages(), quantity, cpMin, cpMax);
        if (!scan)
            return;
        if (scan->limitGeV)
            m_edEmax->setText(QString::fromStdString(fmt("%8.3f", *scan->limitGeV)));
        if (m_graph != Graph::EnergyScan)
            mnGraphsClick();
        m_chartPanel->removeSeries();
        m_chartPanel->addCurve(GraphCurve{scan->momentumGeV, scan->value}, QPen(kMaroon, 1.5));
        const ScanQuantityText& text = scanQuantityText(quantity);
        m_chartPanel->setTitle(text.title);
        m_chartPanel->setLeftTitle(text.axisTitle, text.mask);
        m_proposed = scan->proposed;
        m_scanMinGeV = scan->cpMinGeV;
        m_scanMaxGeV = scan->cpMaxGeV;
        m_chartPanel->getChartLimits(m_proposed);
        m_chartPanel->refresh();
    });
}

void RfWindow::phaseSpaceClick()
{
    showChart();
    showingConversionErrors(messages(), [this] {
        const double typedVoltage = typed(m_edRFVolt) * 1000;
        if (!checkAndCalcRf(m_state, messages(), typedVoltage))
            return;
        if (m_state.rf.voltage != typedVoltage)
            m_edRFVolt->setText(QString::fromStdString(fmt("%8.3f", m_state.rf.voltage / 1000)));
        m_chartPanel->removeSeries();
        m_chartPanel->setFoot("(green:separatrices; red:unstable; blue:stable trajectories)");
        m_chartPanel->setBottomAxis(phaseAxis("phase (degrees)"));
        m_chartPanel->setTitle("longitudinal phase space");
        m_chartPanel->setLeftAxis(RfChartPanel::AxisSetup{"dE/E (%)", "##0.00"});
        const std::vector<PhaseCurve> curves = phaseSpaceCurves(m_state.rf);
        std::vector<const GraphCurve*> points;
        for (const PhaseCurve& curve : curves) {
            m_chartPanel->addCurve(curve.points, curvePen(curve.kind));
            points.push_back(&curve.points);
        }
        m_graph = Graph::PhaseSpace;
        // the graph's own limits, not those of an energy scan shown before
        m_chartPanel->getChartLimits(curveLimits(points));
        m_chartPanel->refresh();
    });
}

void RfWindow::rfPotentialClick()
{
    showChart();
    m_chartPanel->removeSeries();
    m_chartPanel->setTitle("rf-potential");
    m_chartPanel->setLeftAxis(RfChartPanel::AxisSetup{"arb.units", "##0.###", 0.1});
    m_chartPanel->setFoot(QString());
    m_chartPanel->setBottomAxis(phaseAxis("phase (degree)"));
    const GraphCurve potential = rfPotentialCurve(m_state.rf);
    m_chartPanel->addCurve(potential, QPen(kMaroon, 1.5));
    m_graph = Graph::Potential;
    m_chartPanel->getChartLimits(curveLimits({&potential}));
    m_chartPanel->refresh();
}

void RfWindow::printGraphClick()
{
    QPrinter printer(QPrinter::ScreenResolution);
    if (!askPrinter(printer, this))
        return;
    if (!printChart(m_chartPanel->plot(), printer, QMarginsF(10, 5, 10, 5)))
        messages().error("the graph could not be printed");
}

void RfWindow::saveGraphWmfClick()
{
    exportChartDialog(this, m_chartPanel->plot(), messages());
}

} // namespace kestrune
