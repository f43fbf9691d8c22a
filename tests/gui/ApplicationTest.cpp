#include "gui/Application.h"

#include "core/NumberInput.h"
#include "support/FakeMessages.h"

#include <QMouseEvent>
#include <QPushButton>
#include <gtest/gtest.h>
#include <stdexcept>

namespace kestrune {
namespace {

// Delivers a click to button the way the event loop does, through QApplication::notify guarded
// as the program's Application guards every event.
bool guardedClick(test::FakeMessages& fake, QPushButton& button)
{
    const QPointF inside(5, 5);
    QMouseEvent press(QEvent::MouseButtonPress, inside, button.mapToGlobal(inside), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, inside, button.mapToGlobal(inside), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    const auto deliver = [&](QEvent& event) {
        return Application::deliverGuarded(&fake,
                                           [&] { return qApp->QApplication::notify(&button, &event); });
    };
    return deliver(press) && deliver(release);
}

TEST(Application, ShowsAConversionErrorFromAHandlerAndStopsTheHandler)
{
    test::FakeMessages fake;
    QPushButton button("update");
    button.resize(80, 24);
    button.show();
    int stepsDone = 0;
    QObject::connect(&button, &QPushButton::clicked, [&] {
        ++stepsDone;
        parseDouble("1,5");
        ++stepsDone;
    });

    EXPECT_FALSE(guardedClick(fake, button));
    ASSERT_EQ(fake.errors.size(), 1u);
    EXPECT_EQ(fake.errors[0], "'1,5' is not a valid floating point value");
    EXPECT_EQ(stepsDone, 1);

    // the event loop goes on: the next click runs the handler again
    EXPECT_FALSE(guardedClick(fake, button));
    EXPECT_EQ(fake.errors.size(), 2u);
    EXPECT_EQ(stepsDone, 2);
}

TEST(Application, ShowsAnyOtherExceptionAsALastResort)
{
    test::FakeMessages fake;
    QPushButton button("open");
    button.resize(80, 24);
    button.show();
    QObject::connect(&button, &QPushButton::clicked, [] { throw std::runtime_error("cannot read lattice"); });
    EXPECT_FALSE(guardedClick(fake, button));
    ASSERT_EQ(fake.errors.size(), 1u);
    EXPECT_EQ(fake.errors[0], "cannot read lattice");
}

TEST(Application, PassesEventsWithoutExceptionsUntouched)
{
    test::FakeMessages fake;
    QPushButton button("ok");
    button.resize(80, 24);
    button.show();
    int clicks = 0;
    QObject::connect(&button, &QPushButton::clicked, [&] { ++clicks; });
    EXPECT_TRUE(guardedClick(fake, button));
    EXPECT_EQ(clicks, 1);
    EXPECT_TRUE(fake.errors.empty());
}

} // namespace
} // namespace kestrune
