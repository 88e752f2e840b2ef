#include "TestEnvironment.h"

#include "shell/Registry.h"

#include <QDir>
#include <QFile>
#include <QProcess>

TestEnvironment::TestEnvironment() {
    QDir().mkpath(ConfigFolder() + QStringLiteral("/Vantrell"));
    QDir().mkpath(RuntimeFolder());
    QFile::setPermissions(RuntimeFolder(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QDir().mkpath(DocumentsFolder());
    TRegistry::SetFileName(SettingsFile());
}

TestEnvironment::~TestEnvironment() {
    TRegistry::SetFileName({});
}

QString TestEnvironment::ConfigFolder() const {
    return m_dir.filePath(QStringLiteral("config"));
}
QString TestEnvironment::RuntimeFolder() const {
    return m_dir.filePath(QStringLiteral("run"));
}
QString TestEnvironment::DocumentsFolder() const {
    return m_dir.filePath(QStringLiteral("Documents"));
}
QString TestEnvironment::SettingsFile() const {
    return ConfigFolder() + QStringLiteral("/Vantrell/Quillmar.ini");
}

QProcessEnvironment TestEnvironment::Environment() const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), Home());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), ConfigFolder());
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), RuntimeFolder());
    env.insert(QStringLiteral("XDG_DATA_HOME"), m_dir.filePath(QStringLiteral("data")));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), m_dir.filePath(QStringLiteral("cache")));
    env.insert(QStringLiteral("XDG_DOCUMENTS_DIR"), DocumentsFolder());
    return env;
}

ProcessResult RunCli(const TestEnvironment& env, const QStringList& arguments,
                     const QByteArray& input, int timeoutMs) {
    QProcess process;
    process.setProcessEnvironment(env.Environment());
    process.start(QStringLiteral(QUILLMAR_CLI_PATH), arguments);
    ProcessResult result;
    if (!process.waitForStarted())
        return result;
    if (!input.isEmpty())
        process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(timeoutMs))
        process.kill();
    process.waitForFinished();
    result.crashed = process.exitStatus() != QProcess::NormalExit;
    result.exitCode = process.exitCode();
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}
