// The errors and orbit window on a ring of kickers and monitors: an error set applied and taken back as one
// step each, a correction that shrinks the orbit, refused input that changes nothing, and seeds run in parts
// on the worker thread as one call of the study runs them, their apertures scanned, and a cancel that keeps
// no seed cut short.
#include "gui/orbit/ErrorsOrbitWindow.h"

#include "core/aperture/ApertureRing.h"
#include "core/orbit/CorrectorRing.h"
#include "core/orbit/SeedApertures.h"
#include "gui/QtMessages.h"
#include "gui/orbit/OrbitCharts.h"
#include "support/FakeMessages.h"

#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace kestrune {
namespace {

class ErrorsOrbitWindowTest : public ::testing::Test
{
protected:
    explicit ErrorsOrbitWindowTest(bool dipoleErrors = false) : state(test::correctorRing(dipoleErrors))
    {
        messages.redirectTo(&fake);
        windows.messages = &messages;
        state.history.reset(state);
        window = std::make_unique<ErrorsOrbitWindow>(state, windows);
        window->show();
    }

    void click(const char* name) { QTest::mouseClick(window->findChild<QPushButton*>(name), Qt::LeftButton); }
    void type(const char* name, const QString& text) { window->findChild<QLineEdit*>(name)->setText(text); }
    std::vector<ElementErrors> errors() const { return lineErrors(state.line); }
    static bool same(const std::vector<ElementErrors>& a, const std::vector<ElementErrors>& b)
    {
        return sameErrors(a, b);
    }

    State state;
    Windows windows;
    test::FakeMessages fake;
    QtMessages messages{windows};
    std::unique_ptr<ErrorsOrbitWindow> window;
};

class ErrorsOrbitCorrectionTest : public ErrorsOrbitWindowTest
{
protected:
    ErrorsOrbitCorrectionTest() : ErrorsOrbitWindowTest(true) {}
};

// Apply and remove are one step each and undo gives the errors back bit for bit; the orbit shown goes
// with the design that changed.
TEST_F(ErrorsOrbitWindowTest, ApplyAndRemoveAreOneStepEachAndUndoRestoresTheErrors)
{
    const std::vector<ElementErrors> none = errors();
    click("bbApply");
    ASSERT_TRUE(fake.errors.empty()) << fake.errors.front();
    const std::vector<ElementErrors> applied = errors();
    EXPECT_FALSE(same(applied, none));
    ASSERT_TRUE(window->orbitBefore() && window->orbitBefore()->found);
    EXPECT_GT(window->orbitChart()->pointsBefore(), 0);
    EXPECT_EQ(state.history.undoCount(), 1u);

    click("bbRemove");
    EXPECT_TRUE(same(errors(), none));
    EXPECT_EQ(state.history.undoCount(), 2u);
    ASSERT_TRUE(state.history.undo(state));
    EXPECT_TRUE(same(errors(), applied));
    window->designChanged(); // the orbit shown was of the line without errors
    EXPECT_FALSE(window->orbitBefore());
    EXPECT_EQ(window->orbitChart()->pointsBefore(), 0);
    ASSERT_TRUE(state.history.undo(state));
    EXPECT_TRUE(same(errors(), none));
}

// Either method shrinks the rms orbit at the monitors by far, the corrected orbit shown is that of the
// kicks written into the kickers, and the correction is one step that undo takes back.
TEST_F(ErrorsOrbitCorrectionTest, CorrectionShrinksTheOrbitAsOneStep)
{
    for (const bool micado : {false, true}) {
        window->findChild<QRadioButton*>(micado ? "rbMicado" : "rbSvd")->setChecked(true);
        type("edKickers", "6");
        click("bbCorrect");
        ASSERT_TRUE(fake.errors.empty()) << fake.errors.front();
        ASSERT_TRUE(window->correction() && window->orbitAfter() && window->orbitAfter()->found);
        const OrbitSpread before = orbitSpread(state.line, *window->orbitBefore());
        const OrbitSpread after = orbitSpread(state.line, *window->orbitAfter());
        EXPECT_LT(after.xRms, 0.2 * before.xRms) << micado;
        EXPECT_LT(after.yRms, 0.2 * before.yRms) << micado;
        EXPECT_NEAR(after.xRms, window->correction()->rmsAfterX, 1e-9);
        EXPECT_GT(window->correctionCharts()->kickBars(), 0);
        EXPECT_EQ(window->correctionCharts()->singularValues() > 0, !micado);
        EXPECT_EQ(state.history.undoCount(), 1u);
        ASSERT_TRUE(state.history.undo(state));
        for (int i = 1; i <= state.line.count; ++i)
            ASSERT_EQ(state.line.at(i).hkick, 0) << i;
        window->designChanged();
    }
}

// A set that is no JSON (the box and the file), a seed that is no number, a file that is not there: the
// message names the box or the file and the line; the design and its history stay as they were.
TEST_F(ErrorsOrbitWindowTest, BadInputIsRefusedNamingItsBoxOrFile)
{
    QTemporaryDir dir;
    const QString broken = dir.filePath("broken.json");
    QFile file(broken);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("{\"rules\": [\n  {\"error\": \"dx\", \"value\": }\n]}");
    file.close();
    const QString text = window->findChild<QPlainTextEdit*>("mErrorSet")->toPlainText();
    struct Case
    {
        const char* setText;
        const char* seed;
        QString file; // opened instead of applying
        const char* expected;
    };
    const Case cases[] = {
        {"{\"rules\": [\n{\"error\": dx}]}", "1", {}, "error set box: the error set is not valid JSON"},
        {nullptr, "1x", {}, "seed: '1x' is not a whole number"},
        {nullptr, "1", broken, "error set file "},
        {nullptr, "1", dir.filePath("none.json"), "cannot open the error set "},
    };
    for (const Case& c : cases) {
        fake.errors.clear();
        window->findChild<QPlainTextEdit*>("mErrorSet")->setPlainText(c.setText ? c.setText : text);
        type("edSeed", c.seed);
        if (c.file.isEmpty()) {
            click("bbApply");
        } else {
            window->chooseErrorFile = [&c] { return c.file; };
            click("bbOpen");
        }
        ASSERT_EQ(fake.errors.size(), 1u) << c.expected;
        EXPECT_EQ(fake.errors[0].rfind(c.expected, 0), 0u) << fake.errors[0];
        if (c.setText || c.file == broken) {
            EXPECT_NE(fake.errors[0].find("line 2"), std::string::npos) << fake.errors[0];
        }
        EXPECT_FALSE(state.history.canUndo());
        for (int i = 1; i <= state.line.count; ++i)
            ASSERT_FALSE(state.line.at(i).errors.any());
    }
    EXPECT_EQ(window->findChild<QPlainTextEdit*>("mErrorSet")->toPlainText(), text);
}

// Seeds run in parts on the worker thread, each with its dynamic aperture, give what one call of the study
// gives, and the statistics and histograms count them.
TEST_F(ErrorsOrbitWindowTest, SeedsOnTheWorkerThreadAreThoseOfOneStudy)
{
    // the set applied from the window is not laid under its own seeds
    const State design = state;
    click("bbApply");
    type("edSeed", "7");
    type("edSeeds", "3");
    window->findChild<QCheckBox*>("cbSeedsDa")->setChecked(true);
    type("edSeedTurns", "20");
    QSignalSpy done(window.get(), &ErrorsOrbitWindow::seedsFinished);
    click("bbSeeds");
    ASSERT_TRUE(done.wait(60000));
    ASSERT_TRUE(fake.errors.empty()) << fake.errors.front();
    test::FakeMessages quiet;
    const ErrorSet set =
        *parseErrorSet(window->findChild<QPlainTextEdit*>("mErrorSet")->toPlainText().toStdString(), quiet);
    SeedApertureScans scans;
    scans.dynamicAperture = true;
    scans.radial.turns = 20;
    SeedStudy study;
    study.measure = seedApertureMeasure(apertureRing(design, quiet), "", scans, ScanControl{});
    const std::vector<SeedOutcome> direct =
        runErrorSeeds(design, set, 7, 3, OrbitCorrectionSettings{}, study);
    ASSERT_EQ(window->seeds().size(), direct.size());
    for (std::size_t k = 0; k < direct.size(); ++k) {
        const SeedOutcome& shown = window->seeds()[k];
        ASSERT_TRUE(shown.computed && shown.corrected) << shown.refusal;
        EXPECT_EQ(shown.seed, direct[k].seed);
        EXPECT_DOUBLE_EQ(shown.xRmsAfter, direct[k].xRmsAfter);
        EXPECT_DOUBLE_EQ(shown.betaBeatYRms, direct[k].betaBeatYRms);
        ASSERT_EQ(shown.measured.size(), 2u);
        for (std::size_t q = 0; q < 2; ++q) {
            ASSERT_TRUE(shown.measured[q].value.has_value()) << shown.measured[q].name;
            EXPECT_DOUBLE_EQ(*shown.measured[q].value, direct[k].measured[q].value.value_or(-1));
        }
    }
    EXPECT_EQ(window->findChild<SeedHistogram*>("chOrbitXHistogram")->counted(), 3);
    EXPECT_EQ(window->findChild<SeedHistogram*>("chDaHistogram")->counted(), 3);
    EXPECT_EQ(state.history.undoCount(), 1u);
}

// A study cancelled while the first seed's dynamic aperture is being scanned keeps no seed: the scan stopped
// short is not a seed's aperture.
TEST_F(ErrorsOrbitWindowTest, CancelledScanLeavesNoSeedClaimedComplete)
{
    type("edSeeds", "2");
    window->findChild<QCheckBox*>("cbSeedsDa")->setChecked(true);
    type("edSeedTurns", "100000");
    QSignalSpy done(window.get(), &ErrorsOrbitWindow::seedsFinished);
    click("bbSeeds");
    auto* progress = window->findChild<QProgressBar*>("pbSeeds");
    ASSERT_TRUE(QTest::qWaitFor([progress] { return progress->value() > 0; }, 30000));
    click("bbCancel");
    ASSERT_TRUE(done.wait(30000));
    EXPECT_TRUE(window->seeds().empty());
    EXPECT_TRUE(window->findChild<QLabel*>("lResult")->text().startsWith("cancelled: 0 of 2"));
}

// A change of the design while the seeds run cancels the study: the seeds of the design that was are not
// kept nor shown, at once, while the worker finishes its seed, or when the study ends.
TEST_F(ErrorsOrbitWindowTest, DesignChangedWhileSeedsRunKeepsNoneOfThem)
{
    type("edSeeds", "400");
    QSignalSpy done(window.get(), &ErrorsOrbitWindow::seedsFinished);
    click("bbSeeds");
    ASSERT_TRUE(QTest::qWaitFor([this] { return !window->seeds().empty(); }, 60000));
    ASSERT_EQ(state.line.at(2).code, code::kQuadrupole);
    state.line.at(2).k *= 1.01;
    window->designChanged();
    auto* statistics = window->findChild<QTableWidget*>("tbStatistics");
    auto* histogram = window->findChild<SeedHistogram*>("chOrbitXHistogram");
    for (int k = 0; k < 1200 && done.isEmpty(); ++k) {
        ASSERT_TRUE(window->seeds().empty()) << "after " << k << " looks";
        ASSERT_EQ(statistics->rowCount(), 0);
        done.wait(50);
    }
    ASSERT_EQ(done.count(), 1);
    EXPECT_TRUE(window->seeds().empty());
    EXPECT_EQ(statistics->rowCount(), 0);
    EXPECT_EQ(histogram->counted(), 0);
    EXPECT_TRUE(window->findChild<QLabel*>("lResult")->text().startsWith("n/a"))
        << window->findChild<QLabel*>("lResult")->text().toStdString();
    EXPECT_TRUE(window->findChild<QPushButton*>("bbSeeds")->isEnabled());
}

} // namespace
} // namespace kestrune
