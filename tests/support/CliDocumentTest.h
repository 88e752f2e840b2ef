#pragma once
// Base of the tests that run quillmar-cli on a document folder of their own.

#include "support/TestEnvironment.h"

#include <QDir>
#include <QStringList>
#include <gtest/gtest.h>

class CliDocumentTest : public testing::Test {
protected:
    CliDocumentTest() { QDir().mkpath(DataDir()); }

    QString DataDir() const { return m_env.FilePath(QStringLiteral("data")); }

    // The tool with "--data" naming the test's folder.
    ProcessResult Run(QStringList args) {
        args.prepend(DataDir());
        args.prepend(QStringLiteral("--data"));
        return RunCli(m_env, args);
    }
    // Runs a command that must succeed and answers its output.
    QByteArray Ok(const QStringList& args) {
        const ProcessResult r = Run(args);
        EXPECT_EQ(r.exitCode, 0) << args.join(u' ').toStdString() << ": " << r.err.toStdString();
        return r.out;
    }

    TestEnvironment m_env;
};
