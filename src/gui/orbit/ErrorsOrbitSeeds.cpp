// The errors and orbit window's study of seeds: the seeds run on a worker thread in parts, so that the
// table and the histograms fill in while it runs; each seed's outcome depends on its number only.
#include "core/Format.h"
#include "core/NumberInput.h"
#include "core/orbit/OrbitOptics.h"
#include "core/orbit/OrbitResponse.h"
#include "core/orbit/SeedApertures.h"
#include "gui/orbit/ErrorsOrbitWindow.h"
#include "gui/orbit/OrbitCharts.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <limits>
#include <mutex>

namespace kestrune {

namespace {

constexpr int kPollInterval = 100; // ms between two looks at the seeds done
// Parts a study is run in: each part finds the design's optics again, a seed's worth of work.
constexpr int kParts = 20;

QString q(const std::string& text)
{
    return QString::fromStdString(text);
}

/// How a statistic is shown: its caption, the factor to its unit.
struct Shown
{
    const char* name;
    const char* caption;
    double scale;
};

constexpr Shown kShown[] = {
    {"x_rms_m", "x rms orbit, mm", 1e3},
    {"y_rms_m", "y rms orbit, mm", 1e3},
    {"x_max_m", "x largest orbit, mm", 1e3},
    {"y_max_m", "y largest orbit, mm", 1e3},
    {"corrected_x_rms_m", "corrected x rms, mm", 1e3},
    {"corrected_y_rms_m", "corrected y rms, mm", 1e3},
    {"corrected_x_max_m", "corrected x largest, mm", 1e3},
    {"corrected_y_max_m", "corrected y largest, mm", 1e3},
    {"kick_rms_rad", "kick rms, mrad", 1e3},
    {"kick_max_rad", "kick largest, mrad", 1e3},
    {"tune_shift_1", "tune shift, mode 1", 1},
    {"tune_shift_2", "tune shift, mode 2", 1},
    {"beta_beat_x_rms", "beta-beat x rms, %", 100},
    {"beta_beat_y_rms", "beta-beat y rms, %", 100},
    {"dispersion_y_rms_m", "vertical dispersion rms, mm", 1e3},
    {"emittance_1_m", "mode 1 emittance, nm rad", 1e9},
    {"emittance_2_m", "mode 2 emittance, pm rad", 1e12},
    {"emittance_3_m", "mode 3 emittance, um", 1e6},
    {"da_area_mm2", "dynamic aperture area, mm^2", 1},
    {"da_radius_min_mm", "dynamic aperture smallest radius, mm", 1},
    {"ma_smallest", "smallest momentum acceptance, %", 100},
};

// The progress bar counts hundredths of a seed, so that it moves through a seed's scans.
constexpr int kSeedSteps = 100;

// The number of a quantity of a computed seed, NaN where it has none (the histograms leave it out).
double quantityOf(const SeedOutcome& seed, const std::string& name, double scale)
{
    for (const SeedQuantity& q : seed.measured)
        if (q.name == name)
            return q.value ? *q.value * scale : std::numeric_limits<double>::quiet_NaN();
    return std::numeric_limits<double>::quiet_NaN();
}

} // namespace

struct ErrorsOrbitWindow::SeedRun
{
    std::mutex mutex;
    std::vector<SeedOutcome> outcomes; // done and not yet taken by the window
    std::atomic<int> done{0};
    std::atomic<bool> cancel{false};
    std::uint64_t design = 0; // stamp of the design the seeds are of
    bool dropped = false;     // the design changed while they ran (read and written by the window only)
};

ErrorsOrbitWindow::~ErrorsOrbitWindow()
{
    if (m_worker) {
        m_run->cancel = true;
        m_worker->disconnect(this);
        m_worker->wait();
        delete m_worker;
    }
}

void ErrorsOrbitWindow::bbSeedsClick()
{
    if (running())
        return;
    showingConversionErrors(messages(), [this] {
        const std::optional<ErrorSet> set = readSet();
        const std::optional<std::uint64_t> first = set ? readSeed() : std::nullopt;
        if (!first)
            return;
        const int count = parseInt("seeds", m_edSeeds->text().toStdString());
        if (count < 1 || count > kMaxErrorSeeds) {
            messages().error("seeds: give 1 to " + std::to_string(kMaxErrorSeeds));
            return;
        }
        if (*first > std::numeric_limits<std::uint64_t>::max() - static_cast<std::uint64_t>(count - 1)) {
            messages().error("seed: the last of the seeds would pass " +
                             std::to_string(std::numeric_limits<std::uint64_t>::max()));
            return;
        }
        std::optional<OrbitCorrectionSettings> correction;
        if (m_cbCorrectSeeds->isChecked() && !(correction = readCorrection()))
            return;
        const std::optional<SeedApertureScans> scans = readSeedScans();
        if (!scans)
            return;
        // the seeds draw their own errors: those the last "apply" gave, while the design still has them,
        // are taken off the copy, so that a set is not laid over itself
        State machine = m_state;
        if (!m_errorsOfSet.empty() && sameErrors(lineErrors(machine.line), m_errorsOfSet))
            restoreErrors(machine.line, m_errorsBeforeSet);
        // the ring every seed's scans start from, refused here as the aperture window refuses it
        std::optional<ApertureRing> scanRing;
        if (scans->dynamicAperture || scans->momentumAcceptance) {
            scanRing = seedScanRing(machine, messages());
            if (!scanRing || (scans->momentumAcceptance && !checkAcceptanceRing(*scanRing, messages())))
                return;
        }
        designChanged();
        m_seeds.clear();
        m_seedsCorrected = correction.has_value();
        m_seedScans = *scans;
        m_seedsAsked = count;
        m_run = std::make_shared<SeedRun>();
        m_run->design = designNow();
        m_worker = QThread::create([machine = std::move(machine), set = *set, first = *first, count,
                                    correction, scans = *scans, scanRing = std::move(scanRing), run = m_run] {
            // the design's tracked response, found once for every part as runErrorSeeds finds it
            std::optional<OrbitCorrectionSettings> settings = correction;
            if (settings) {
                State design = machine;
                design.line = designLine(machine.line);
                std::string refusal;
                if (std::optional<OrbitResponse> r = trackedOrbitResponse(design, refusal, settings->orbit))
                    settings->response = std::make_shared<const OrbitResponse>(std::move(*r));
            }
            // a seed cut short by the cancel (its scans stopped within a turn) is left out by the study
            int seedsDone = 0;
            SeedStudy study;
            study.cancel = &run->cancel;
            if (scanRing) {
                ScanControl control;
                control.cancel = &run->cancel;
                control.progress = [&run, &seedsDone](double fraction) {
                    run->done = static_cast<int>(seedsDone * kSeedSteps + std::lround(fraction * kSeedSteps));
                };
                study.measure = seedApertureMeasure(scanRing, "", scans, control);
            }
            const int part = std::max(1, count / kParts);
            for (int begun = 0; begun < count && !run->cancel; begun += part) {
                const int n = std::min(part, count - begun);
                study.progress = [&run, &seedsDone, begun, n](double fraction) {
                    seedsDone = begun + static_cast<int>(std::lround(fraction * n));
                    run->done = seedsDone * kSeedSteps;
                };
                std::vector<SeedOutcome> outcomes = runErrorSeeds(
                    machine, set, first + static_cast<std::uint64_t>(begun), n, settings, study);
                const std::lock_guard<std::mutex> lock(run->mutex);
                run->outcomes.insert(run->outcomes.end(), outcomes.begin(), outcomes.end());
            }
        });
        connect(m_worker, &QThread::finished, this, [this] { seedsDone(); });
        m_bbSeeds->setEnabled(false);
        m_bbCancel->setEnabled(true);
        m_pbSeeds->setRange(0, count * kSeedSteps);
        m_pbSeeds->setValue(0);
        m_lResult->setText("running the seeds ...");
        showSeeds();
        if (!m_poll) {
            m_poll = new QTimer(this);
            m_poll->setInterval(kPollInterval);
            connect(m_poll, &QTimer::timeout, this, [this] { takeSeeds(); });
        }
        m_worker->start();
        m_poll->start();
    });
}

void ErrorsOrbitWindow::bbCancelClick()
{
    if (!running())
        return;
    m_run->cancel = true;
    m_lResult->setText("cancelling ...");
}

void ErrorsOrbitWindow::dropSeedRun()
{
    // the seeds of the design that was: the study stops, and what it found is shown no more, also when
    // the design comes back before the worker ends
    m_run->dropped = true;
    bbCancelClick();
    m_seeds.clear();
    showSeeds();
}

void ErrorsOrbitWindow::takeSeeds()
{
    if (!m_run)
        return;
    m_pbSeeds->setValue(m_run->done);
    std::vector<SeedOutcome> taken;
    {
        const std::lock_guard<std::mutex> lock(m_run->mutex);
        taken.swap(m_run->outcomes);
    }
    // seeds of a design that has changed since they began are dropped as they come
    if (taken.empty() || m_run->dropped)
        return;
    m_seeds.insert(m_seeds.end(), taken.begin(), taken.end());
    showSeeds();
}

void ErrorsOrbitWindow::seedsDone()
{
    m_poll->stop();
    m_worker->wait();
    m_worker->deleteLater();
    m_worker = nullptr;
    m_bbSeeds->setEnabled(true);
    m_bbCancel->setEnabled(false);
    const bool cancelled = m_run->cancel;
    const bool ours = !m_run->dropped && m_run->design == designNow();
    takeSeeds();
    m_run.reset();
    if (!ours) {
        m_seeds.clear();
        showSeeds();
        m_lResult->setText("n/a: the seeds were of another design");
    } else {
        const SeedStatistics stats = seedStatistics(m_seeds);
        std::string text = cancelled ? "cancelled: " : "";
        text += std::to_string(m_seeds.size()) + " of " + std::to_string(m_seedsAsked) + " seeds run, " +
                std::to_string(stats.computed) + " computed";
        for (const SeedOutcome& s : m_seeds)
            if (!s.computed) {
                text += fmt("; seed %llu: ", static_cast<unsigned long long>(s.seed)) + s.refusal;
                break;
            }
        for (const SeedOutcome& s : m_seeds)
            if (s.computed && !s.measureRefusal.empty()) {
                text +=
                    fmt("; seed %llu, scans: ", static_cast<unsigned long long>(s.seed)) + s.measureRefusal;
                break;
            }
        m_lResult->setText(q(text));
    }
    emit seedsFinished();
}

void ErrorsOrbitWindow::showSeeds()
{
    const SeedStatistics stats = seedStatistics(m_seeds);
    m_tbStatistics->setRowCount(0);
    QStringList captions;
    for (const Shown& shown : kShown) {
        const std::string name = shown.name;
        if (!m_seedsCorrected && (name.rfind("corrected_", 0) == 0 || name.rfind("kick_", 0) == 0))
            continue;
        const auto found = std::find_if(stats.quantities.begin(), stats.quantities.end(),
                                        [&name](const auto& entry) { return entry.first == name; });
        if (found == stats.quantities.end())
            continue;
        const int row = m_tbStatistics->rowCount();
        m_tbStatistics->insertRow(row);
        captions << shown.caption;
        const SeedStatistic& s = found->second;
        const double values[] = {s.mean, s.rms, s.max};
        for (int column = 0; column < 3; ++column) {
            const std::string text = s.count > 0 ? fmtOrNa("%.4g", values[column] * shown.scale) : "n/a";
            auto* item = new QTableWidgetItem(q(text));
            item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            m_tbStatistics->setItem(row, column, item);
        }
    }
    m_tbStatistics->setVerticalHeaderLabels(captions);

    std::vector<double> x, y, beatX, beatY, da, ma;
    for (const SeedOutcome& s : m_seeds) {
        if (!s.computed)
            continue;
        x.push_back((m_seedsCorrected ? s.xRmsAfter : s.xRms) * 1e3);
        y.push_back((m_seedsCorrected ? s.yRmsAfter : s.yRms) * 1e3);
        beatX.push_back(s.betaBeatXRms * 100);
        beatY.push_back(s.betaBeatYRms * 100);
        da.push_back(quantityOf(s, "da_radius_min_mm", 1));
        ma.push_back(quantityOf(s, "ma_smallest", 100));
    }
    const QString n = ", " + QString::number(x.size()) + " seeds";
    const QString orbit = m_seedsCorrected ? "corrected rms orbit " : "rms orbit ";
    m_orbitXHistogram->showValues(x, orbit + "x" + n, "rms orbit x (mm)");
    m_orbitYHistogram->showValues(y, orbit + "y" + n, "rms orbit y (mm)");
    m_beatXHistogram->showValues(beatX, "rms beta-beat x" + n, "rms beta-beat x (%)");
    m_beatYHistogram->showValues(beatY, "rms beta-beat y" + n, "rms beta-beat y (%)");
    m_daHistogram->setVisible(m_seedScans.dynamicAperture || m_seedScans.momentumAcceptance);
    m_maHistogram->setVisible(m_seedScans.dynamicAperture || m_seedScans.momentumAcceptance);
    m_daHistogram->showValues(m_seedScans.dynamicAperture ? da : std::vector<double>{},
                              "smallest dynamic aperture radius" + n, "radius (mm)");
    m_maHistogram->showValues(m_seedScans.momentumAcceptance ? ma : std::vector<double>{},
                              "smallest momentum acceptance" + n, "momentum acceptance (%)");
}

} // namespace kestrune
