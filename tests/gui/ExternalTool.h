#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <gtest/gtest.h>

namespace kestrune::test {

/// The standard output of a command-line tool (pdftotext, pdfinfo, wmf2svg) run on a file a test
/// wrote; the test fails when the tool does not finish within 30 s or ends with an error.
inline QString runTool(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    EXPECT_TRUE(process.waitForFinished(30000)) << program.toStdString();
    EXPECT_EQ(process.exitCode(), 0) << QString(process.readAllStandardError()).toStdString();
    return QString::fromUtf8(process.readAllStandardOutput());
}

} // namespace kestrune::test
