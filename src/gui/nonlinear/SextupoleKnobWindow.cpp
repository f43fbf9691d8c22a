#include "gui/nonlinear/SextupoleKnobWindow.h"

#include "core/Design.h"
#include "core/Format.h"
#include "core/InputRanges.h"
#include "core/NumberInput.h"
#include "core/nonlinear/AmplitudeDetuning.h"
#include "gui/HistoryStep.h"
#include "gui/QtMessages.h"
#include "gui/nonlinear/SextupoleKnobCharts.h"

#include <QApplication>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>
#include <cmath>

namespace kestrune {

namespace {

constexpr int kSliderHalf = 50; // positions each side of the centre, as the tuning bar's
constexpr int kScanPoints = 11;
constexpr InputRange kSpan{"the knob's span", 0, 1e12, "1/m^3"};
constexpr InputRange kDeltaRangePercent{"the momentum range", 0, 50, "%", true};

QString q(const std::string& text)
{
    return QString::fromStdString(text);
}

QString strengthText(double k2)
{
    return q(fmtOrNa("%.5g", k2));
}

/// The span a new knob gets: half its strength, 10 /m^3 for a knob at 0.
double defaultSpan(double k2)
{
    return k2 != 0 ? 0.5 * std::fabs(k2) : 10.0;
}

std::uint64_t mix(std::uint64_t a, std::uint64_t b)
{
    return a ^ (b + 0x9e3779b97f4a7c15ull + (a << 6) + (a >> 2));
}

} // namespace

SextupoleKnobWindow::SextupoleKnobWindow(State& state, Windows& windows, QWidget* parent)
    : QMainWindow(parent), m_state(state), m_windows(windows)
{
    setObjectName("TfSextupoleKnobs");
    setWindowTitle("sextupole knobs");
    auto* central = new QWidget(this);
    setCentralWidget(central);
    auto* layout = new QHBoxLayout(central);
    layout->addWidget(buildFamilyPanel());
    auto* right = new QVBoxLayout;
    right->addWidget(buildResultPanel());
    m_charts = new SextupoleKnobCharts(m_state.line, central);
    m_charts->setMinimumSize(640, 660);
    right->addWidget(m_charts, 1);
    layout->addLayout(right, 1);
    resize(1180, 820);
}

Messages& SextupoleKnobWindow::messages()
{
    return *m_windows.messages;
}

QWidget* SextupoleKnobWindow::buildFamilyPanel()
{
    auto* panel = new QWidget(this);
    panel->setMinimumWidth(470);
    panel->setMaximumWidth(520);
    auto* layout = new QVBoxLayout(panel);
    layout->setContentsMargins(0, 0, 0, 0);

    auto* knobs = new QGroupBox("knobs: k2 of each family, 1/m^3", panel);
    knobs->setObjectName("gbKnobs");
    auto* knobLayout = new QVBoxLayout(knobs);
    auto* scroll = new QScrollArea(knobs);
    scroll->setWidgetResizable(true);
    m_knobArea = new QWidget(scroll);
    m_knobGrid = new QGridLayout(m_knobArea);
    m_knobGrid->setAlignment(Qt::AlignTop);
    scroll->setWidget(m_knobArea);
    knobLayout->addWidget(scroll);
    layout->addWidget(knobs, 1);

    auto* add = new QGroupBox("add a family", panel);
    add->setObjectName("gbAddFamily");
    auto* grid = new QGridLayout(add);
    grid->addWidget(new QLabel("name pattern", add), 0, 0);
    m_edPattern = new QLineEdit(add);
    m_edPattern->setObjectName("edPattern");
    m_edPattern->setToolTip("as MAD-X's SELECT: ^ and $ anchor, . any character, [a-z] a set, * repeats");
    grid->addWidget(m_edPattern, 0, 1);
    auto* byPattern = new QPushButton("add by pattern", add);
    byPattern->setObjectName("bbAddPattern");
    grid->addWidget(byPattern, 0, 2);
    m_lwNames = new QListWidget(add);
    m_lwNames->setObjectName("lwNames");
    m_lwNames->setSelectionMode(QAbstractItemView::MultiSelection);
    m_lwNames->setMaximumHeight(110);
    grid->addWidget(m_lwNames, 1, 0, 1, 2);
    auto* byNames = new QPushButton("add the names chosen", add);
    byNames->setObjectName("bbAddNames");
    grid->addWidget(byNames, 1, 2, Qt::AlignTop);
    layout->addWidget(add);
    connect(byPattern, &QPushButton::clicked, this, [this] { bbAddPatternClick(); });
    connect(m_edPattern, &QLineEdit::returnPressed, this, [this] { bbAddPatternClick(); });
    connect(byNames, &QPushButton::clicked, this, [this] { bbAddNamesClick(); });
    return panel;
}

QWidget* SextupoleKnobWindow::buildResultPanel()
{
    auto* group = new QGroupBox("the ring with these sextupoles", this);
    group->setObjectName("gbKnobResults");
    auto* grid = new QGridLayout(group);
    m_lChromaticity = new QLabel("chromaticity: n/a", group);
    m_lChromaticity->setObjectName("lChromaticity");
    m_lDetuning = new QLabel("detuning: n/a", group);
    m_lDetuning->setObjectName("lDetuning");
    m_lTracked = new QLabel("tracked detuning: n/a", group);
    m_lTracked->setObjectName("lTrackedDetuning");
    for (QLabel* l : {m_lChromaticity, m_lDetuning, m_lTracked})
        l->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* tracked = new QPushButton("track the detuning", group);
    tracked->setObjectName("bbTrackedDetuning");
    grid->addWidget(m_lChromaticity, 0, 0, 1, 4);
    grid->addWidget(m_lDetuning, 1, 0, 1, 4);
    grid->addWidget(m_lTracked, 2, 0, 1, 3);
    grid->addWidget(tracked, 2, 3);
    grid->addWidget(new QLabel("build-up of", group), 3, 0);
    m_cbTerm = new QComboBox(group);
    m_cbTerm->setObjectName("cbTerm");
    for (int t = 0; t < kDrivingTermCount; ++t)
        m_cbTerm->addItem(drivingTermName(static_cast<DrivingTerm>(t)));
    grid->addWidget(m_cbTerm, 3, 1);
    grid->addWidget(new QLabel("momentum range +-, %", group), 3, 2, Qt::AlignRight);
    m_edDeltaRange = new QLineEdit("0.5", group);
    m_edDeltaRange->setObjectName("edDeltaRange");
    m_edDeltaRange->setMaximumWidth(80);
    grid->addWidget(m_edDeltaRange, 3, 3);
    connect(tracked, &QPushButton::clicked, this, [this] { bbTrackedDetuningClick(); });
    connect(m_cbTerm, qOverload<int>(&QComboBox::currentIndexChanged), this, [this] { showTerms(); });
    connect(m_edDeltaRange, &QLineEdit::returnPressed, this, [this] { edDeltaRangeEnter(); });
    return group;
}

std::uint64_t SextupoleKnobWindow::designKey() const
{
    return mix(mix(latticeStamp(m_state), sextupoleStamp(m_state)), trackingFingerprint(m_state));
}

void SextupoleKnobWindow::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    designChanged();
}

void SextupoleKnobWindow::designChanged()
{
    if (!isVisible() || designKey() == m_shownKey)
        return;
    const std::uint64_t lattice = latticeStamp(m_state);
    if (lattice != m_lattice || m_families.empty()) {
        m_lattice = lattice;
        m_families = familiesByName(m_state.line);
        m_lwNames->clear();
        for (const std::string& name : sextupoleNames(m_state.line))
            m_lwNames->addItem(q(name));
    }
    rebuildKnobs();
    redraw();
}

void SextupoleKnobWindow::rebuildKnobs()
{
    for (Knob& knob : m_knobs)
        for (QWidget* w :
             std::initializer_list<QWidget*>{knob.label, knob.slider, knob.value, knob.span, knob.remove})
            delete w;
    m_knobs.clear();
    for (std::size_t k = 0; k < m_families.size(); ++k) {
        const SextupoleFamily& family = m_families[k];
        const QString index = QString::number(k);
        Knob knob;
        knob.base = familyStrength(m_state.line, family);
        knob.spanValue = defaultSpan(knob.base);
        const QString name = family.name.empty() ? "(no name)" : q(family.name);
        knob.label = new QLabel(QString("%1 (%2)").arg(name).arg(family.members.size()), m_knobArea);
        knob.label->setObjectName("lKnob" + index);
        knob.label->setMaximumWidth(130);
        knob.slider = new QSlider(Qt::Horizontal, m_knobArea);
        knob.slider->setObjectName("sbKnob" + index);
        knob.slider->setRange(-kSliderHalf, kSliderHalf);
        knob.slider->setPageStep(10);
        knob.slider->setMinimumWidth(120);
        knob.value = new QLineEdit(strengthText(knob.base), m_knobArea);
        knob.value->setObjectName("edKnob" + index);
        knob.value->setMaximumWidth(80);
        knob.span = new QLineEdit(q(fmt("%.4g", knob.spanValue)), m_knobArea);
        knob.span->setObjectName("edSpan" + index);
        knob.span->setMaximumWidth(60);
        knob.span->setToolTip("the slider's ends are the strength at its centre +- this span");
        knob.remove = new QPushButton("remove", m_knobArea);
        knob.remove->setObjectName("bbRemove" + index);
        const int row = static_cast<int>(k);
        m_knobGrid->addWidget(knob.label, row, 0);
        m_knobGrid->addWidget(knob.slider, row, 1);
        m_knobGrid->addWidget(knob.value, row, 2);
        m_knobGrid->addWidget(knob.span, row, 3);
        m_knobGrid->addWidget(knob.remove, row, 4);
        connect(knob.slider, &QSlider::sliderPressed, this, [this, k] { sliderPressed(k); });
        connect(knob.slider, &QSlider::valueChanged, this, [this, k](int p) { sliderMoved(k, p); });
        connect(knob.slider, &QSlider::sliderReleased, this, [this, k] { sliderReleased(k); });
        connect(knob.value, &QLineEdit::returnPressed, this, [this, k] { valueEntered(k); });
        // a removal rebuilds the rows, this button among them: it runs once the click is handled
        connect(knob.remove, &QPushButton::clicked, this, [this, k] {
            QMetaObject::invokeMethod(
                this, [this, k] { removeFamily(k); }, Qt::QueuedConnection);
        });
        m_knobs.push_back(knob);
    }
}

void SextupoleKnobWindow::addFamily(SextupoleFamily family)
{
    m_families.push_back(std::move(family));
    rebuildKnobs();
}

void SextupoleKnobWindow::removeFamily(std::size_t k)
{
    if (k >= m_families.size())
        return;
    m_families.erase(m_families.begin() + static_cast<std::ptrdiff_t>(k));
    rebuildKnobs();
}

void SextupoleKnobWindow::bbAddPatternClick()
{
    std::string problem;
    std::optional<SextupoleFamily> family =
        familyByPattern(m_state.line, m_edPattern->text().toStdString(), problem);
    if (!family) {
        messages().error(problem);
        return;
    }
    addFamily(std::move(*family));
}

std::vector<std::string> SextupoleKnobWindow::chosenNames() const
{
    std::vector<std::string> names;
    for (int i = 0; i < m_lwNames->count(); ++i)
        if (m_lwNames->item(i)->isSelected())
            names.push_back(m_lwNames->item(i)->text().toStdString());
    return names;
}

void SextupoleKnobWindow::bbAddNamesClick()
{
    std::string problem;
    std::optional<SextupoleFamily> family = familyOfNames(m_state.line, chosenNames(), problem);
    if (!family) {
        messages().error(problem);
        return;
    }
    m_lwNames->clearSelection();
    addFamily(std::move(*family));
}

std::optional<double> SextupoleKnobWindow::readSpan(std::size_t k)
{
    std::optional<double> span;
    const std::string box = "the span of " + m_families[k].name;
    showingConversionErrors(messages(), [&] {
        const double value = parseDouble(box, m_knobs[k].span->text().toStdString());
        if (const std::optional<std::string> refusal = rangeRefusal(kSpan, value)) {
            messages().error(box + ": " + *refusal);
            return;
        }
        span = value;
    });
    return span;
}

void SextupoleKnobWindow::sliderPressed(std::size_t k)
{
    const std::optional<double> span = readSpan(k);
    m_dragRefused = !span;
    if (!span)
        return;
    m_knobs[k].spanValue = *span;
    m_dragging = true;
    m_state.history.beginRun(m_state, "sextupole knob " + m_families[k].name);
}

void SextupoleKnobWindow::sliderMoved(std::size_t k, int position)
{
    Knob& knob = m_knobs[k];
    if (!m_dragging) {
        const std::optional<double> span = m_dragRefused ? std::nullopt : readSpan(k);
        if (!span) {
            const QSignalBlocker block(knob.slider);
            knob.slider->setValue(0);
            return;
        }
        knob.spanValue = *span;
    }
    applyStrength(k, knob.base + knob.spanValue * position / kSliderHalf);
}

void SextupoleKnobWindow::sliderReleased(std::size_t k)
{
    m_dragRefused = false;
    if (!m_dragging)
        return;
    m_dragging = false;
    m_state.history.endRun(m_state);
    // the slider's centre moves to the strength reached, so that the next drag goes on from there
    Knob& knob = m_knobs[k];
    knob.base = familyStrength(m_state.line, m_families[k]);
    const QSignalBlocker block(knob.slider);
    knob.slider->setValue(0);
    emit historyChanged();
}

void SextupoleKnobWindow::valueEntered(std::size_t k)
{
    showingConversionErrors(messages(), [&] {
        const double k2 = parseDouble("k2 of " + m_families[k].name, m_knobs[k].value->text().toStdString());
        if (!applyStrength(k, k2))
            return;
        m_knobs[k].base = k2;
        const QSignalBlocker block(m_knobs[k].slider);
        m_knobs[k].slider->setValue(0);
    });
}

bool SextupoleKnobWindow::applyStrength(std::size_t k, double k2)
{
    bool applied = false;
    {
        // outside a drag every step is one undo step; the history's follower runs after the redraw, so
        // that the design it reports is the one drawn
        std::optional<HistoryStep> step;
        if (!m_dragging)
            step.emplace(m_state, "sextupole knob " + m_families[k].name, nullptr);
        applied = setFamilyStrength(m_state, m_families[k], k2, messages());
        if (applied) {
            m_knobs[k].value->setText(strengthText(k2));
            redraw();
        } else {
            m_knobs[k].value->setText(strengthText(familyStrength(m_state.line, m_families[k])));
        }
    }
    // during a drag the other windows follow once it ends, as with the tuning bar
    if (applied && !m_dragging)
        emit historyChanged();
    return applied;
}

void SextupoleKnobWindow::computeOptics()
{
    ChromaticScan scan;
    scan.range = m_deltaRange;
    scan.points = kScanPoints;
    m_optics = knobOptics(m_state, scan, m_cache);
    m_shownKey = designKey();
}

void SextupoleKnobWindow::redraw()
{
    computeOptics();
    const KnobOptics& o = m_optics;
    m_lChromaticity->setText(o.chromaticityKnown
                                 ? q("chromaticity of the ring: xi_x = " + fmt("%.4f", o.chromaticityX) +
                                     ", xi_y = " + fmt("%.4f", o.chromaticityY))
                                 : q("chromaticity: n/a, " + o.chromaticityRefusal));
    if (o.detuning) {
        const DetuningCoefficients& d = *o.detuning;
        m_lDetuning->setText(q("detuning (closed form): dQx/dJx = " + fmtOrNa("%.5g", d.xx) + ", dQx/dJy = " +
                               fmtOrNa("%.5g", d.xy) + ", dQy/dJy = " + fmtOrNa("%.5g", d.yy) + " 1/m"));
    } else {
        m_lDetuning->setText(q("detuning: n/a, " + o.detuningRefusal));
    }
    m_lTracked->setText("tracked detuning: n/a (track it)");
    showTerms();
    showTunes();
}

void SextupoleKnobWindow::showTerms()
{
    const auto term = static_cast<DrivingTerm>(std::max(0, m_cbTerm->currentIndex()));
    if (m_optics.terms)
        m_charts->showTerms(&*m_optics.terms, term);
    else
        m_charts->showTerms(nullptr, term, q("n/a, " + m_optics.termsRefusal));
}

void SextupoleKnobWindow::bbTrackedDetuningClick()
{
    std::string refusal;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const std::optional<DetuningCoefficients> d = trackedDetuning(m_state, {}, &refusal);
    QApplication::restoreOverrideCursor();
    if (!d) {
        m_lTracked->setText(q("tracked detuning: n/a, " + refusal));
        return;
    }
    m_lTracked->setText(q("tracked detuning: dQx/dJx = " + fmtOrNa("%.5g", d->xx) + ", dQx/dJy = " +
                          fmtOrNa("%.5g", d->xy) + ", dQy/dJy = " + fmtOrNa("%.5g", d->yy) + " 1/m"));
}

void SextupoleKnobWindow::edDeltaRangeEnter()
{
    showingConversionErrors(messages(), [&] {
        const double percent = parseDouble("momentum range", m_edDeltaRange->text().toStdString());
        if (const std::optional<std::string> refusal = rangeRefusal(kDeltaRangePercent, percent)) {
            messages().error(*refusal);
            return;
        }
        m_deltaRange = percent / 100;
        computeOptics();
        showTunes();
    });
}

void SextupoleKnobWindow::showTunes()
{
    if (m_optics.tunes)
        m_charts->showTunes(&*m_optics.tunes);
    else
        m_charts->showTunes(nullptr, q("n/a, " + m_optics.tunesRefusal));
    emit tunesShown();
}

} // namespace kestrune
