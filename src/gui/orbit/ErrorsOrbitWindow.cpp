#include "gui/orbit/ErrorsOrbitWindow.h"

#include "core/Design.h"
#include "core/Format.h"
#include "core/NumberInput.h"
#include "core/aperture/ScanLimits.h"
#include "core/io/SafeFile.h"
#include "core/orbit/OrbitOptics.h"
#include "gui/BusyCursor.h"
#include "gui/Controls.h"
#include "gui/HistoryStep.h"
#include "gui/QtMessages.h"
#include "gui/orbit/OrbitCharts.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>
#include <charconv>
#include <cmath>
#include <limits>
#include <sstream>

namespace kestrune {

namespace {

// The set the box holds when the window opens: quadrupoles displaced by 50 um rms in both planes.
constexpr const char* kExampleSet = R"({
  "seed": 1,
  "rules": [
    {"elements": {"family": "quadrupole"}, "error": "dx", "sigma": 5e-5, "cut": 3},
    {"elements": {"family": "quadrupole"}, "error": "dy", "sigma": 5e-5, "cut": 3}
  ]
})";

const QColor kChartRed(200, 0, 0);
const QColor kChartBlue(0, 0, 200);

// Largest kick limit the box takes, mrad.
constexpr double kMostKickLimit = 1000;

QString q(const std::string& text)
{
    return QString::fromStdString(text);
}

/// Errors go on to the window's messages with the name of what was read before them.
class NamedMessages : public Messages
{
public:
    NamedMessages(Messages& target, std::string name) : m_target(target), m_name(std::move(name)) {}
    void error(const std::string& text) override { m_target.error(m_name + ": " + text); }
    bool confirm(const std::string& question, std::optional<ScreenPoint> position) override
    {
        return m_target.confirm(question, position);
    }
    void askParticle() override { m_target.askParticle(); }

private:
    Messages& m_target;
    std::string m_name;
};

std::string spreadText(const OrbitSpread& s)
{
    return fmt("x rms %.4g mm, max %.4g mm; y rms %.4g mm, max %.4g mm", s.xRms * 1e3, s.xMax * 1e3,
               s.yRms * 1e3, s.yMax * 1e3);
}

} // namespace

ErrorsOrbitWindow::ErrorsOrbitWindow(State& state, Windows& windows, QWidget* parent)
    : QMainWindow(parent), m_state(state), m_windows(windows)
{
    setObjectName("TfErrorsOrbit");
    setWindowTitle("errors and orbit");
    auto* central = new QWidget(this);
    setCentralWidget(central);
    auto* layout = new QHBoxLayout(central);
    auto* controls = new QVBoxLayout;
    controls->addWidget(buildErrorSet());
    controls->addWidget(buildCorrection());
    controls->addWidget(buildSeeds());
    m_lResult = new QLabel(central);
    m_lResult->setObjectName("lResult");
    m_lResult->setWordWrap(true);
    m_lResult->setMaximumWidth(330);
    controls->addWidget(m_lResult);
    m_lOptics = new QLabel(central);
    m_lOptics->setObjectName("lOptics");
    m_lOptics->setWordWrap(true);
    m_lOptics->setMaximumWidth(330);
    controls->addWidget(m_lOptics);
    controls->addStretch(1);
    layout->addLayout(controls);
    layout->addWidget(buildResults(), 1);
    chooseErrorFile = [this] {
        return QFileDialog::getOpenFileName(this, "open an error set", QString(),
                                            "error sets (*.json);;all files (*)");
    };
    methodClick();
    resize(1250, 800);
}

Messages& ErrorsOrbitWindow::messages()
{
    return *m_windows.messages;
}

QWidget* ErrorsOrbitWindow::buildErrorSet()
{
    auto* group = new QGroupBox("error set", this);
    group->setObjectName("gbErrorSet");
    auto* grid = new QGridLayout(group);
    auto* open = new QPushButton("open ...", group);
    open->setObjectName("bbOpen");
    connect(open, &QPushButton::clicked, this, [this] { bbOpenClick(); });
    grid->addWidget(open, 0, 0, 1, 2);
    m_mErrorSet = new QPlainTextEdit(q(kExampleSet), group);
    m_mErrorSet->setObjectName("mErrorSet");
    m_mErrorSet->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_mErrorSet->setFixedHeight(140);
    grid->addWidget(m_mErrorSet, 1, 0, 1, 2);
    m_edSeed = addCaptionedBox(grid, "edSeed", "seed", "1");
    auto* buttons = new QHBoxLayout;
    const auto button = [&](const char* name, const QString& text, void (ErrorsOrbitWindow::*handler)()) {
        auto* b = new QPushButton(text, group);
        b->setObjectName(name);
        connect(b, &QPushButton::clicked, this, [this, handler] { (this->*handler)(); });
        buttons->addWidget(b);
    };
    button("bbApply", "apply", &ErrorsOrbitWindow::bbApplyClick);
    button("bbRemove", "remove", &ErrorsOrbitWindow::bbRemoveClick);
    button("bbOrbit", "closed orbit", &ErrorsOrbitWindow::bbOrbitClick);
    grid->addLayout(buttons, grid->rowCount(), 0, 1, 2);
    return group;
}

QWidget* ErrorsOrbitWindow::buildCorrection()
{
    auto* group = new QGroupBox("orbit correction", this);
    group->setObjectName("gbCorrection");
    auto* grid = new QGridLayout(group);
    m_rbSvd = new QRadioButton("SVD", group);
    m_rbSvd->setObjectName("rbSvd");
    m_rbSvd->setChecked(true);
    m_rbMicado = new QRadioButton("MICADO", group);
    m_rbMicado->setObjectName("rbMicado");
    grid->addWidget(m_rbSvd, 0, 0);
    grid->addWidget(m_rbMicado, 0, 1);
    connect(m_rbSvd, &QRadioButton::toggled, this, [this] { methodClick(); });
    m_edSingularValues = addCaptionedBox(grid, "edSingularValues", "singular values (0: all)", "0");
    m_edCut = addCaptionedBox(grid, "edCut", "cut, of the largest", "1e-12");
    m_edKickers = addCaptionedBox(grid, "edKickers", "kickers per plane", "4");
    m_edKickLimit = addCaptionedBox(grid, "edKickLimit", "kick limit, mrad (0: none)", "0");
    m_edMonitorsOff = addCaptionedBox(grid, "edMonitorsOff", "monitors off", "");
    m_edMonitorsOff->setMaximumWidth(160);
    m_edMonitorsOff->setToolTip("names of the monitors whose readings are left out, separated by blanks");
    auto* correct = new QPushButton("correct", group);
    correct->setObjectName("bbCorrect");
    connect(correct, &QPushButton::clicked, this, [this] { bbCorrectClick(); });
    grid->addWidget(correct, grid->rowCount(), 0, 1, 2);
    return group;
}

QWidget* ErrorsOrbitWindow::buildSeeds()
{
    auto* group = new QGroupBox("seeds, from the seed above", this);
    group->setObjectName("gbSeeds");
    auto* grid = new QGridLayout(group);
    m_edSeeds = addCaptionedBox(grid, "edSeeds", "seeds", "20");
    m_cbCorrectSeeds = new QCheckBox("correct each seed", group);
    m_cbCorrectSeeds->setObjectName("cbCorrectSeeds");
    m_cbCorrectSeeds->setChecked(true);
    grid->addWidget(m_cbCorrectSeeds, grid->rowCount(), 0, 1, 2);
    m_cbSeedsDa = new QCheckBox("dynamic aperture", group);
    m_cbSeedsDa->setObjectName("cbSeedsDa");
    m_cbSeedsMa = new QCheckBox("momentum acceptance", group);
    m_cbSeedsMa->setObjectName("cbSeedsMa");
    const int scans = grid->rowCount();
    grid->addWidget(m_cbSeedsDa, scans, 0);
    grid->addWidget(m_cbSeedsMa, scans, 1);
    m_edSeedTurns = addCaptionedBox(grid, "edSeedTurns", "turns of the scans", "512");
    m_bbSeeds = new QPushButton("run seeds", group);
    m_bbSeeds->setObjectName("bbSeeds");
    connect(m_bbSeeds, &QPushButton::clicked, this, [this] { bbSeedsClick(); });
    m_bbCancel = new QPushButton("cancel", group);
    m_bbCancel->setObjectName("bbCancel");
    m_bbCancel->setEnabled(false);
    connect(m_bbCancel, &QPushButton::clicked, this, [this] { bbCancelClick(); });
    const int row = grid->rowCount();
    grid->addWidget(m_bbSeeds, row, 0);
    grid->addWidget(m_bbCancel, row, 1);
    m_pbSeeds = new QProgressBar(group);
    m_pbSeeds->setObjectName("pbSeeds");
    m_pbSeeds->setValue(0);
    grid->addWidget(m_pbSeeds, row + 1, 0, 1, 2);
    return group;
}

QWidget* ErrorsOrbitWindow::buildResults()
{
    m_tabs = new QTabWidget(this);
    m_tabs->setObjectName("pcResults");
    m_orbitChart = new ClosedOrbitChart(m_state.line, m_tabs);
    m_orbitChart->setMinimumSize(700, 400);
    m_tabs->addTab(m_orbitChart, "closed orbit");

    auto* correction = new QWidget(m_tabs);
    auto* correctionLayout = new QVBoxLayout(correction);
    m_correctionCharts = new CorrectionCharts(correction);
    correctionLayout->addWidget(m_correctionCharts, 1);
    m_lCapped = new QLabel(correction);
    m_lCapped->setObjectName("lCapped");
    m_lCapped->setWordWrap(true);
    correctionLayout->addWidget(m_lCapped);
    m_tabs->addTab(correction, "correction");

    auto* seeds = new QWidget(m_tabs);
    auto* seedsLayout = new QGridLayout(seeds);
    m_tbStatistics = new QTableWidget(0, 3, seeds);
    m_tbStatistics->setObjectName("tbStatistics");
    m_tbStatistics->setHorizontalHeaderLabels({"mean", "rms", "largest |value|"});
    m_tbStatistics->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    m_tbStatistics->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_tbStatistics->verticalHeader()->setDefaultSectionSize(20);
    m_orbitXHistogram = new SeedHistogram("chOrbitXHistogram", kChartRed, seeds);
    m_orbitYHistogram = new SeedHistogram("chOrbitYHistogram", kChartBlue, seeds);
    m_beatXHistogram = new SeedHistogram("chBeatXHistogram", kChartRed, seeds);
    m_beatYHistogram = new SeedHistogram("chBeatYHistogram", kChartBlue, seeds);
    seedsLayout->addWidget(m_tbStatistics, 0, 0, 1, 2);
    seedsLayout->addWidget(m_orbitXHistogram, 1, 0);
    seedsLayout->addWidget(m_orbitYHistogram, 1, 1);
    seedsLayout->addWidget(m_beatXHistogram, 2, 0);
    seedsLayout->addWidget(m_beatYHistogram, 2, 1);
    m_daHistogram = new SeedHistogram("chDaHistogram", kChartRed, seeds);
    m_maHistogram = new SeedHistogram("chMaHistogram", kChartBlue, seeds);
    seedsLayout->addWidget(m_daHistogram, 3, 0);
    seedsLayout->addWidget(m_maHistogram, 3, 1);
    m_daHistogram->hide();
    m_maHistogram->hide();
    for (int row = 0; row < 4; ++row)
        seedsLayout->setRowStretch(row, 1);
    m_tabs->addTab(seeds, "seeds");
    return m_tabs;
}

void ErrorsOrbitWindow::methodClick()
{
    const bool svd = m_rbSvd->isChecked();
    m_edSingularValues->setEnabled(svd);
    m_edCut->setEnabled(svd);
    m_edKickers->setEnabled(!svd);
}

std::uint64_t ErrorsOrbitWindow::designNow() const
{
    // the closed orbit depends on the lattice with its errors and kicks, the sextupoles (their feed-down)
    // and the particle's momentum
    return designStamp(m_state) ^ (sextupoleStamp(m_state) * 0x9E3779B97F4A7C15ULL);
}

std::optional<ErrorSet> ErrorsOrbitWindow::readSet()
{
    NamedMessages named(messages(), "error set box");
    return parseErrorSet(m_mErrorSet->toPlainText().toStdString(), named);
}

std::optional<std::uint64_t> ErrorsOrbitWindow::readSeed()
{
    const std::string text = m_edSeed->text().trimmed().toStdString();
    std::uint64_t seed = 0;
    const auto [end, problem] = std::from_chars(text.data(), text.data() + text.size(), seed);
    if (text.empty() || problem != std::errc() || end != text.data() + text.size()) {
        messages().error("seed: '" + printableText(text) + "' is not a whole number from 0 to " +
                         std::to_string(std::numeric_limits<std::uint64_t>::max()));
        return std::nullopt;
    }
    return seed;
}

void ErrorsOrbitWindow::bbOpenClick()
{
    const QString file = chooseErrorFile();
    if (file.isEmpty())
        return;
    const std::string name = file.toStdString();
    const FileText read = readTextFile(name);
    if (!read.problem.empty()) {
        messages().error("cannot open the error set " + name + ": " + read.problem);
        return;
    }
    NamedMessages named(messages(), "error set file " + name);
    const std::optional<ErrorSet> set = parseErrorSet(read.text, named);
    if (!set)
        return;
    m_mErrorSet->setPlainText(q(read.text));
    m_edSeed->setText(QString::number(set->seed));
    m_lResult->setText(q(std::to_string(set->rules.size()) + " rules read from " + name));
}

void ErrorsOrbitWindow::bbApplyClick()
{
    const std::optional<ErrorSet> set = readSet();
    const std::optional<std::uint64_t> seed = set ? readSeed() : std::nullopt;
    if (!seed)
        return;
    std::optional<std::vector<ElementErrors>> before;
    {
        const HistoryStep step(m_state, "error set", [this] { emit historyChanged(); });
        before = applyErrorSet(m_state.line, *set, *seed, messages());
    }
    if (!before)
        return;
    m_errorsBeforeSet = std::move(*before);
    m_errorsOfSet = lineErrors(m_state.line);
    showDesignOrbit();
    m_lResult->setText(
        q("errors of seed " + std::to_string(*seed) + " applied; closed orbit: " +
          (m_before->found ? spreadText(orbitSpread(m_state.line, *m_before)) : m_before->refusal)));
}

void ErrorsOrbitWindow::bbRemoveClick()
{
    m_errorsBeforeSet.clear();
    m_errorsOfSet.clear();
    bool any = false;
    for (int i = 1; i <= m_state.line.count; ++i)
        any = any || m_state.line.at(i).errors.any();
    if (!any) {
        m_lResult->setText("the elements have no errors to remove");
        return;
    }
    {
        const HistoryStep step(m_state, "errors removed", [this] { emit historyChanged(); });
        restoreErrors(m_state.line,
                      std::vector<ElementErrors>(static_cast<std::size_t>(m_state.line.count) + 1));
    }
    showDesignOrbit();
    m_lResult->setText("errors removed");
}

void ErrorsOrbitWindow::bbOrbitClick()
{
    showDesignOrbit();
    m_lResult->setText(
        q("closed orbit: " +
          (m_before->found ? spreadText(orbitSpread(m_state.line, *m_before)) : m_before->refusal)));
}

void ErrorsOrbitWindow::showDesignOrbit()
{
    designChanged();
    const BusyCursor busy;
    m_before = closedOrbit(m_state);
    m_after.reset();
    m_correction.reset();
    m_design = designNow();
    showOrbits();
    m_correctionCharts->clear();
    m_lCapped->clear();
}

std::optional<OrbitCorrectionSettings> ErrorsOrbitWindow::readCorrection()
{
    OrbitCorrectionSettings s;
    s.method = m_rbSvd->isChecked() ? CorrectionMethod::Svd : CorrectionMethod::Micado;
    Messages& m = messages();
    if (s.method == CorrectionMethod::Svd) {
        s.singularValues = parseInt("singular values", m_edSingularValues->text().toStdString());
        s.cut = parseDouble("cut", m_edCut->text().toStdString());
        if (s.singularValues < 0) {
            m.error("singular values: give 0 (every one above the cut) or more");
            return std::nullopt;
        }
        if (!(s.cut >= 0 && s.cut < 1)) {
            m.error("cut: give a fraction of the largest singular value from 0 to below 1");
            return std::nullopt;
        }
    } else {
        s.kickers = parseInt("kickers per plane", m_edKickers->text().toStdString());
        if (s.kickers < 1) {
            m.error("kickers per plane: give 1 or more");
            return std::nullopt;
        }
    }
    const double limit = parseDouble("kick limit, mrad", m_edKickLimit->text().toStdString());
    if (!(limit >= 0 && limit <= kMostKickLimit)) {
        m.error("kick limit, mrad: give 0 (none) up to " + fmt("%.0f", kMostKickLimit));
        return std::nullopt;
    }
    s.kickLimit = limit / 1000;
    std::istringstream names(m_edMonitorsOff->text().replace(',', ' ').toStdString());
    for (std::string name; names >> name;)
        s.monitorsOff.push_back(name);
    return s;
}

std::optional<SeedApertureScans> ErrorsOrbitWindow::readSeedScans()
{
    SeedApertureScans scans;
    scans.dynamicAperture = m_cbSeedsDa->isChecked();
    scans.momentumAcceptance = m_cbSeedsMa->isChecked();
    if (!scans.dynamicAperture && !scans.momentumAcceptance)
        return scans;
    const std::optional<double> turns =
        limitedBoxValue(m_edSeedTurns, "turns of the scans", kTurnsLimit, true, messages());
    if (!turns)
        return std::nullopt;
    scans.radial.turns = scans.acceptance.turns = static_cast<int>(*turns);
    return scans;
}

void ErrorsOrbitWindow::bbCorrectClick()
{
    showingConversionErrors(messages(), [this] {
        const std::optional<OrbitCorrectionSettings> settings = readCorrection();
        if (!settings)
            return;
        const BusyCursor busy;
        ClosedOrbit before = closedOrbit(m_state);
        OrbitCorrection c;
        {
            const HistoryStep step(m_state, "orbit correction", [this] { emit historyChanged(); });
            c = correctOrbit(m_state, *settings);
        }
        if (!c.done) {
            messages().error("orbit correction: " + c.refusal);
            return;
        }
        designChanged();
        m_before = std::move(before);
        m_after = closedOrbit(m_state);
        m_correction = std::move(c);
        m_design = designNow();
        showOrbits();
        showCorrection();
    });
}

void ErrorsOrbitWindow::showOrbits()
{
    const ClosedOrbit* before = m_before ? &*m_before : nullptr;
    const ClosedOrbit* after = m_after ? &*m_after : nullptr;
    std::string title = "closed orbit";
    for (const ClosedOrbit* orbit : {before, after})
        if (orbit && !orbit->found)
            title = orbit->refusal;
    if (after && after->found && before && before->found)
        title = "closed orbit before and after the correction";
    m_orbitChart->showOrbits(before, after, q(title));
    // the optics of the machine as it stands, about its orbit: corrected once the kicks are in
    m_lOptics->setText(q(orbitOpticsText(orbitOptics(m_state))));
}

void ErrorsOrbitWindow::showCorrection()
{
    const OrbitCorrection& c = *m_correction;
    m_correctionCharts->showCorrection(c);
    std::string capped;
    for (const KickerKick& k : c.kicks)
        if (k.capped)
            capped += (capped.empty() ? "" : ", ") + k.name + (k.horizontal ? " (x)" : " (y)");
    m_lCapped->setText(q(capped.empty() ? "no kicker at the limit" : "at the kick limit: " + capped));
    const bool svd = c.method == CorrectionMethod::Svd;
    std::string text = svd ? fmt("SVD, %d of %zu singular values", c.used, c.singularValues.size())
                           : fmt("MICADO, %d kicker planes", c.used);
    text += fmt(", %d monitors, %d passes:\n", c.monitors, c.iterations);
    text += fmt("x rms %.4g -> %.4g mm, max %.4g -> %.4g mm\n", c.rmsBeforeX * 1e3, c.rmsAfterX * 1e3,
                c.maxBeforeX * 1e3, c.maxAfterX * 1e3);
    text += fmt("y rms %.4g -> %.4g mm, max %.4g -> %.4g mm\n", c.rmsBeforeY * 1e3, c.rmsAfterY * 1e3,
                c.maxBeforeY * 1e3, c.maxAfterY * 1e3);
    text += fmt("kicks rms %.4g mrad, max %.4g mrad", c.kickRms * 1e3, c.kickMax * 1e3);
    if (!capped.empty())
        text += "\nat the kick limit: " + capped;
    if (m_after && !m_after->found)
        text += "\n" + m_after->refusal;
    m_lResult->setText(q(text));
}

void ErrorsOrbitWindow::clearResults(const QString& why)
{
    m_before.reset();
    m_after.reset();
    m_correction.reset();
    m_orbitChart->showOrbits(nullptr, nullptr, "closed orbit: n/a");
    m_correctionCharts->clear();
    m_lCapped->clear();
    m_lOptics->clear();
    if (!running()) {
        m_seeds.clear();
        showSeeds();
    }
    m_lResult->setText(why);
}

void ErrorsOrbitWindow::designChanged()
{
    if (m_design == designNow())
        return;
    const bool shown = m_before || m_after || m_correction || !m_seeds.empty() || running();
    m_design = designNow();
    if (running())
        dropSeedRun();
    if (shown)
        clearResults("n/a: the results were of another design");
}

} // namespace kestrune
