#include <QApplication>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <cstdlib>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    // gtest_discover_tests lists the tests without the test's environment
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    // nor the user's data folder
    QStandardPaths::setTestModeEnabled(true);
    // the tests never read or write the user's settings: every QSettings of the run lives in a temporary
    // folder, removed at the end
    const QTemporaryDir settingsFolder;
    for (QSettings::Scope scope : {QSettings::UserScope, QSettings::SystemScope}) {
        QSettings::setPath(QSettings::NativeFormat, scope, settingsFolder.path());
        QSettings::setPath(QSettings::IniFormat, scope, settingsFolder.path());
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
