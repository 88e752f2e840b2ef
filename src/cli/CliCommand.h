#pragma once
// The command table of quillmar-cli. Each command group lives in its own file and
// registers its commands with a static CliRegistration, so adding a command never
// touches the tool's entry:
//
//   static CliRegistration reg{{"branding", "[DIR]", "Print the effective branding as JSON",
//                               "Longer help...", &RunBranding}};
//
// A command reads its arguments through CliArgs, writes results to Out() and throws
// on failure (CliError, or any exception of the core); the entry turns an exception
// into one line on stderr and a non-zero exit code.

#include "shell/Errors.h"

#include <QJsonDocument>
#include <QString>
#include <QStringList>
#include <QTextStream>
#include <functional>
#include <optional>
#include <stdexcept>

// A failure the user caused (bad arguments, missing item); exitCode goes to the shell.
class CliError : public Exception {
public:
    explicit CliError(const QString& message, int exitCode = 1)
        : Exception(message), m_exitCode(exitCode) {}
    int ExitCode() const { return m_exitCode; }

private:
    int m_exitCode;
};

// The arguments of one command, after the global options and the command's name(s).
class CliArgs {
public:
    explicit CliArgs(QStringList args) : m_args(std::move(args)) {}

    // "--name" present (and removed).
    bool Flag(const QString& name);
    // "--name VALUE" or "--name=VALUE" (and removed); an option without its value fails.
    std::optional<QString> Option(const QString& name);
    // "--name SECONDS" (0.1 to 3600) as milliseconds; defaultMs without the option.
    int MillisecondsOption(const QString& name, int defaultMs);
    // What is left after the flags and options were taken; fails when an argument still
    // starts with "--" (an unknown option) or the count is outside [min, max].
    QStringList Positional(int min, int max);

private:
    QStringList m_args;
};

struct CliCommand {
    QString name;    // "config", or "storage ls" for a command with a sub-command
    QString usage;   // the arguments, as shown after the name
    QString summary; // one line for the command list
    QString help;    // longer text for "quillmar-cli NAME --help"; may be empty
    std::function<int(CliArgs&)> run;
};

struct CliRegistration {
    explicit CliRegistration(CliCommand command);
};

const QList<CliCommand>& CliCommands();

// Standard output and error of the tool, UTF-8.
QTextStream& Out();
QTextStream& Err();
void PrintJson(const QJsonDocument& document);

// Global options given before the command.
struct CliGlobals {
    QString dataDir; // --data DIR: the folder of the document file
};
const CliGlobals& Globals();
