#include "gui/rf/RfChartPanel.h"

#include "core/Format.h"
#include "core/NumberInput.h"
#include "gui/ChartText.h"
#include "gui/MaskTicker.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <qcustomplot.h>

namespace kestrune {

namespace {

QLineEdit* limitBox(const QString& objectName, QWidget* parent)
{
    auto* box = new QLineEdit(parent);
    box->setObjectName(objectName);
    box->setMaximumWidth(80);
    return box;
}

} // namespace

RfChartPanel::RfChartPanel(Messages& messages, QWidget* parent) : QFrame(parent), m_messages(messages)
{
    setObjectName("ChartPnl");
    setFrameShape(QFrame::StyledPanel);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);

    m_plot = new QCustomPlot(this);
    m_plot->setObjectName("chRF");
    m_plot->setBackground(Qt::white);
    m_plot->setMinimumSize(400, 300);
    m_title = addChartTitle(m_plot, "");
    m_foot = addChartFoot(m_plot, "");
    styleChartAxes(m_plot);
    applyTicker(m_plot->xAxis, m_bottom);
    applyTicker(m_plot->yAxis, m_left);
    layout->addWidget(m_plot, 1);

    auto* controls = new QHBoxLayout;
    controls->addWidget(buildScaleGroup("rgXaxis", "x-axis scale", m_xLog));
    controls->addWidget(buildScaleGroup("rgYaxis", "y-axis scale", m_yLog));
    controls->addWidget(buildLimitsGroup(), 1);
    layout->addLayout(controls);
    connect(m_xLog, &QRadioButton::toggled, this, [this] { rgXaxisClick(); });
    connect(m_yLog, &QRadioButton::toggled, this, [this] { rgYaxisClick(); });
}

QGroupBox* RfChartPanel::buildScaleGroup(const QString& objectName, const QString& title,
                                         QRadioButton*& logButton)
{
    auto* group = new QGroupBox(title, this);
    group->setObjectName(objectName);
    auto* layout = new QVBoxLayout(group);
    auto* linear = new QRadioButton("linear", group);
    linear->setObjectName(objectName + "Linear");
    linear->setChecked(true);
    logButton = new QRadioButton("logarithmic", group);
    logButton->setObjectName(objectName + "Logarithmic");
    layout->addWidget(linear);
    layout->addWidget(logButton);
    return group;
}

QGroupBox* RfChartPanel::buildLimitsGroup()
{
    auto* group = new QGroupBox("axis limits", this);
    group->setObjectName("gbAxLimits");
    auto* grid = new QGridLayout(group);
    m_edxmin = limitBox("edxmin", group);
    m_edxmax = limitBox("edxmax", group);
    m_edDx = limitBox("edDx", group);
    m_edymin = limitBox("edymin", group);
    m_edymax = limitBox("edymax", group);
    m_edDy = limitBox("edDy", group);
    const std::pair<const char*, QLineEdit*> boxes[] = {{"x_min", m_edxmin}, {"x_max", m_edxmax},
                                                        {"dx", m_edDx},      {"y_min", m_edymin},
                                                        {"y_max", m_edymax}, {"dy", m_edDy}};
    for (int i = 0; i < 6; ++i) {
        grid->addWidget(new QLabel(boxes[i].first, group), i / 3 * 2, i % 3);
        grid->addWidget(boxes[i].second, i / 3 * 2 + 1, i % 3);
    }
    m_bbUpdte = new QPushButton("&update", group);
    m_bbUpdte->setObjectName("bbUpdte");
    grid->addWidget(m_bbUpdte, 0, 3, 4, 1);
    connect(m_bbUpdte, &QPushButton::clicked, this, &RfChartPanel::bbUpdteClick);
    // "&update" is the window's default button: Return in a limit box presses it
    for (QLineEdit* box : {m_edxmin, m_edxmax, m_edDx, m_edymin, m_edymax, m_edDy})
        connect(box, &QLineEdit::returnPressed, this, &RfChartPanel::bbUpdteClick);
    return group;
}

void RfChartPanel::removeSeries()
{
    m_plot->clearPlottables();
}

int RfChartPanel::seriesCount() const
{
    return m_plot->plottableCount();
}

void RfChartPanel::addCurve(const GraphCurve& curve, const QPen& pen)
{
    auto* series = new QCPCurve(m_plot->xAxis, m_plot->yAxis);
    series->setPen(pen);
    series->setData(QVector<double>(curve.x.begin(), curve.x.end()),
                    QVector<double>(curve.y.begin(), curve.y.end()));
}

void RfChartPanel::setTitle(const QString& text)
{
    m_title->setText(text);
}

QString RfChartPanel::title() const
{
    return m_title->text();
}

void RfChartPanel::setFoot(const QString& text)
{
    m_foot->setText(text);
}

QString RfChartPanel::foot() const
{
    return m_foot->text();
}

void RfChartPanel::applyTicker(QCPAxis* axis, const AxisState& state)
{
    if (state.logarithmic)
        axis->setTicker(makeLogMaskTicker(state.mask));
    else if (state.step > 0)
        axis->setTicker(makeFixedMaskTicker(state.mask, state.step));
    else
        axis->setTicker(makeMaskTicker(state.mask));
}

void RfChartPanel::setAxis(QCPAxis* axis, AxisState& state, const AxisSetup& setup)
{
    axis->setLabel(setup.title);
    state.mask = setup.mask;
    state.step = setup.step;
    applyTicker(axis, state);
    if (setup.max > setup.min)
        axis->setRange(setup.min, setup.max);
}

void RfChartPanel::setBottomAxis(const AxisSetup& setup)
{
    setAxis(m_plot->xAxis, m_bottom, setup);
}

void RfChartPanel::setLeftAxis(const AxisSetup& setup)
{
    setAxis(m_plot->yAxis, m_left, setup);
}

void RfChartPanel::setLeftTitle(const QString& title, const QString& mask)
{
    m_plot->yAxis->setLabel(title);
    m_left.mask = mask;
    applyTicker(m_plot->yAxis, m_left);
}

void RfChartPanel::rescale(QCPAxis* axis)
{
    if (m_plot->plottableCount() == 0)
        return;
    bool found = false;
    QCPRange range;
    for (int i = 0; i < m_plot->plottableCount(); ++i) {
        QCPAbstractPlottable* p = m_plot->plottable(i);
        bool has = false;
        const QCP::SignDomain domain =
            axis->scaleType() == QCPAxis::stLogarithmic ? QCP::sdPositive : QCP::sdBoth;
        const QCPRange r =
            axis == m_plot->xAxis ? p->getKeyRange(has, domain) : p->getValueRange(has, domain);
        if (!has)
            continue;
        if (found) {
            range.expand(r);
        } else {
            range = r;
            found = true;
        }
    }
    if (!found)
        return;
    if (range.size() == 0) {
        // a flat series: a small band around it
        const double half = range.lower == 0 ? 1 : std::fabs(range.lower) * 0.05;
        range = QCPRange(range.lower - half, range.upper + half);
        if (axis->scaleType() == QCPAxis::stLogarithmic)
            range = QCPRange(range.lower > 0 ? range.lower : range.upper / 10, range.upper);
    }
    axis->setRange(range);
}

double RfChartPanel::shownStep(QCPAxis* axis) const
{
    const QVector<double> ticks = axis->tickVector();
    if (ticks.size() < 2)
        return 0;
    // a logarithmic axis steps by a factor
    return axis->scaleType() == QCPAxis::stLogarithmic ? ticks[1] / ticks[0] : ticks[1] - ticks[0];
}

void RfChartPanel::getChartLimits(const ProposedLimits& proposed)
{
    rescale(m_plot->xAxis);
    rescale(m_plot->yAxis);
    m_plot->replot(); // lays out the ticks whose increments the boxes show
    m_edxmin->setText(QString::fromStdString(fmt("%8.4g", proposed.xMin)));
    m_edxmax->setText(QString::fromStdString(fmt("%8.4g", proposed.xMax)));
    m_edDx->setText(QString::fromStdString(fmt("%8.3f", shownStep(m_plot->xAxis))));
    m_edymin->setText(QString::fromStdString(fmt("%8.4g", proposed.yMin)));
    m_edymax->setText(QString::fromStdString(fmt("%8.4g", proposed.yMax)));
    m_edDy->setText(QString::fromStdString(fmt("%8.3f", shownStep(m_plot->yAxis))));
}

void RfChartPanel::bbUpdteClick()
{
    showingConversionErrors(m_messages, [this] {
        // every box first: a bad one leaves both axes as they were
        const ManualAxis x = manualAxis(parseDouble(m_edxmin->text().toStdString()),
                                        parseDouble(m_edxmax->text().toStdString()),
                                        parseDouble(m_edDx->text().toStdString()), m_bottom.logarithmic);
        const ManualAxis y = manualAxis(parseDouble(m_edymin->text().toStdString()),
                                        parseDouble(m_edymax->text().toStdString()),
                                        parseDouble(m_edDy->text().toStdString()), m_left.logarithmic);
        for (const ManualAxis* axis : {&x, &y}) {
            if (axis->change == AxisChange::Refused) {
                m_messages.error(axis->refusal);
                return;
            }
        }
        const std::pair<const ManualAxis*, std::pair<QCPAxis*, AxisState*>> axes[] = {
            {&x, {m_plot->xAxis, &m_bottom}}, {&y, {m_plot->yAxis, &m_left}}};
        for (const auto& [manual, target] : axes) {
            if (manual->change != AxisChange::Apply)
                continue;
            target.second->step = manual->step;
            applyTicker(target.first, *target.second);
            target.first->setRange(manual->min, manual->max);
        }
        refresh();
    });
}

void RfChartPanel::rgXaxisClick()
{
    m_bottom.logarithmic = m_xLog->isChecked();
    m_plot->xAxis->setScaleType(m_bottom.logarithmic ? QCPAxis::stLogarithmic : QCPAxis::stLinear);
    applyTicker(m_plot->xAxis, m_bottom);
    if (m_bottom.logarithmic)
        rescale(m_plot->xAxis);
    refresh();
    m_edDx->setText(QString::fromStdString(fmt("%8.3f", shownStep(m_plot->xAxis))));
}

void RfChartPanel::rgYaxisClick()
{
    m_left.logarithmic = m_yLog->isChecked();
    m_plot->yAxis->setScaleType(m_left.logarithmic ? QCPAxis::stLogarithmic : QCPAxis::stLinear);
    applyTicker(m_plot->yAxis, m_left);
    if (m_left.logarithmic)
        rescale(m_plot->yAxis);
    refresh();
    m_edDy->setText(QString::fromStdString(fmt("%8.3f", shownStep(m_plot->yAxis))));
}

void RfChartPanel::refresh()
{
    m_plot->replot();
}

} // namespace kestrune
