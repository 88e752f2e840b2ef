// quillmar-cli: the headless tool over the core library.
#include "CliCommand.h"
#include "shell/Clock.h"
#include "store/DocumentLocation.h"

#include <QCoreApplication>
#include <QFile>
#include <cstdio>

namespace {

QList<CliCommand>& Registry() {
    static QList<CliCommand> commands;
    return commands;
}

CliGlobals g_globals;

void PrintUsage(QTextStream& out) {
    out << "Usage: quillmar-cli [--data DIR] COMMAND [ARGS...]\n\n"
           "The command-line tool of Quillmar Reader: it works on the same settings and\n"
           "document file as the desktop program.\n\n"
           "Global options:\n"
           "  --data DIR   folder of the document file (default: the program's own)\n"
           "  --help       this text; COMMAND --help tells about one command\n"
           "  --version    the program's version\n\n"
           "Commands:\n";
    QList<CliCommand> commands = Registry();
    std::sort(commands.begin(), commands.end(),
              [](const CliCommand& a, const CliCommand& b) { return a.name < b.name; });
    int width = 0;
    for (const auto& c : commands)
        width = std::max<int>(width, (c.name + u' ' + c.usage).size());
    for (const auto& c : commands)
        out << "  " << (c.name + u' ' + c.usage).leftJustified(width + 2) << c.summary << '\n';
}

void PrintCommandHelp(const CliCommand& c) {
    Out() << "Usage: quillmar-cli " << c.name << ' ' << c.usage << "\n\n" << c.summary << '\n';
    if (!c.help.isEmpty())
        Out() << '\n' << c.help << (c.help.endsWith(u'\n') ? "" : "\n");
}

// The longest registered name that the arguments start with ("storage ls" before "storage").
const CliCommand* FindCommand(const QStringList& args, int& used) {
    const CliCommand* best = nullptr;
    for (const auto& c : Registry()) {
        const QStringList words = c.name.split(u' ');
        if (words.size() > args.size())
            continue;
        bool match = true;
        for (int i = 0; i < words.size() && match; ++i)
            match = args[i] == words[i];
        if (match && (!best || words.size() > used)) {
            best = &c;
            used = words.size();
        }
    }
    return best;
}

int Fail(const QString& message, int code) {
    Out().flush();
    Err() << "quillmar-cli: " << QString(message).replace(u'\n', u' ') << '\n';
    Err().flush();
    return code;
}

} // namespace

CliRegistration::CliRegistration(CliCommand command) {
    Registry().append(std::move(command));
}

const QList<CliCommand>& CliCommands() {
    return Registry();
}

const CliGlobals& Globals() {
    return g_globals;
}

QTextStream& Out() {
    static QTextStream stream(stdout);
    return stream;
}

QTextStream& Err() {
    static QTextStream stream(stderr);
    return stream;
}

void PrintJson(const QJsonDocument& document) {
    Out() << QString::fromUtf8(document.toJson(QJsonDocument::Indented));
}

bool CliArgs::Flag(const QString& name) {
    return m_args.removeAll(name) > 0;
}

std::optional<QString> CliArgs::Option(const QString& name) {
    for (int i = 0; i < m_args.size(); ++i) {
        if (m_args[i] == name) {
            if (i + 1 >= m_args.size())
                throw CliError(QStringLiteral("option %1 needs a value").arg(name), 2);
            const QString value = m_args[i + 1];
            m_args.remove(i, 2);
            return value;
        }
        if (m_args[i].startsWith(name + u'=')) {
            const QString value = m_args[i].mid(name.size() + 1);
            m_args.remove(i);
            return value;
        }
    }
    return std::nullopt;
}

int CliArgs::MillisecondsOption(const QString& name, int defaultMs) {
    const std::optional<QString> text = Option(name);
    if (!text)
        return defaultMs;
    bool ok = false;
    const double seconds = text->toDouble(&ok);
    if (!ok || !(seconds > 0) || seconds > 3600)
        throw CliError(QStringLiteral("%1 takes seconds, from 0.1 to 3600").arg(name), 2);
    return qMax(100, int(seconds * 1000));
}

QStringList CliArgs::Positional(int min, int max) {
    QStringList rest;
    bool literal = false;
    for (const QString& a : m_args) {
        if (!literal && a == QStringLiteral("--")) {
            literal = true;
            continue;
        }
        if (!literal && a.startsWith(QStringLiteral("--")))
            throw CliError(QStringLiteral("unknown option %1").arg(a), 2);
        rest << a;
    }
    if (rest.size() < min)
        throw CliError(QStringLiteral("missing arguments (see --help)"), 2);
    if (max >= 0 && rest.size() > max)
        throw CliError(QStringLiteral("too many arguments: %1").arg(rest.join(u' ')), 2);
    return rest;
}

int main(int argc, char** argv) {
    PinLocalTimeZone();
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Vantrell"));
    QCoreApplication::setApplicationName(QStringLiteral("Quillmar"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUILLMAR_VERSION));

    QStringList args = app.arguments().mid(1);
    while (!args.isEmpty() && args.first().startsWith(QStringLiteral("--"))) {
        const QString a = args.takeFirst();
        if (a == QStringLiteral("--help")) {
            PrintUsage(Out());
            return 0;
        }
        if (a == QStringLiteral("--version")) {
            Out() << "quillmar-cli " << QUILLMAR_VERSION << '\n';
            return 0;
        }
        if (a == QStringLiteral("--data") || a.startsWith(QStringLiteral("--data="))) {
            if (a.contains(u'='))
                g_globals.dataDir = a.section(u'=', 1);
            else if (!args.isEmpty())
                g_globals.dataDir = args.takeFirst();
            else
                return Fail(QStringLiteral("option --data needs a value"), 2);
            continue;
        }
        return Fail(QStringLiteral("unknown option %1 (see --help)").arg(a), 2);
    }
    if (!g_globals.dataDir.isEmpty())
        SetDocumentFolderOverride(g_globals.dataDir);
    if (args.isEmpty()) {
        PrintUsage(Err());
        return 2;
    }

    int used = 0;
    const CliCommand* command = FindCommand(args, used);
    if (!command) {
        // "storage" alone: show the sub-commands of the group.
        QStringList group;
        for (const auto& c : Registry())
            if (c.name.startsWith(args.first() + u' '))
                group << QStringLiteral("  quillmar-cli %1 %2").arg(c.name, c.usage);
        if (!group.isEmpty()) {
            group.sort();
            Err() << "Usage:\n" << group.join(u'\n') << '\n';
            Err().flush();
            return args.contains(QStringLiteral("--help")) ? 0 : 2;
        }
        return Fail(QStringLiteral("unknown command %1 (see --help)").arg(args.first()), 2);
    }
    CliArgs commandArgs(args.mid(used));
    try {
        if (commandArgs.Flag(QStringLiteral("--help"))) {
            PrintCommandHelp(*command);
            return 0;
        }
        const int code = command->run(commandArgs);
        Out().flush();
        return code;
    } catch (const CliError& e) {
        return Fail(e.Message(), e.ExitCode());
    } catch (const Exception& e) {
        return Fail(e.Message(), 1);
    } catch (const std::exception& e) {
        return Fail(QString::fromLocal8Bit(e.what()), 1);
    }
}
