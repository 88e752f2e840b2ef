#pragma once
// A private home for one test: settings, documents and the runtime folder all live
// in a temporary folder, for this process (the settings store is pointed there) and
// for the programs the test starts (through their environment).

#include <QProcessEnvironment>
#include <QStringList>
#include <QTemporaryDir>

class TestEnvironment {
public:
    TestEnvironment();
    ~TestEnvironment();

    QString Home() const { return m_dir.path(); }
    QString ConfigFolder() const;  // XDG_CONFIG_HOME
    QString RuntimeFolder() const; // XDG_RUNTIME_DIR
    QString DocumentsFolder() const;
    QString SettingsFile() const; // the registry file of the programs started here
    QProcessEnvironment Environment() const;
    QString FilePath(const QString& name) const { return m_dir.filePath(name); }

private:
    QTemporaryDir m_dir;
};

struct ProcessResult {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
    bool crashed = false;
};

// Runs quillmar-cli with the arguments in the environment and waits for it.
ProcessResult RunCli(const TestEnvironment& env, const QStringList& arguments,
                     const QByteArray& input = {}, int timeoutMs = 120000);
