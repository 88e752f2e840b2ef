// messages --template | messages list | messages languages: the message table and the
// language files, for translators.
#include "CliCommand.h"
#include "shell/UIUtils.h"

#include <QCoreApplication>

namespace {

const QString LanguageMask = QStringLiteral("*.lng");

QString ProgramFolder() {
    return QCoreApplication::applicationDirPath();
}

int Template(CliArgs& args) {
    if (!args.Flag(QStringLiteral("--template")))
        throw CliError(QStringLiteral("give --template, or one of: messages list, messages "
                                      "languages (see messages --help)"),
                       2);
    args.Positional(0, 0);
    Out() << LanguageFileTemplate();
    return 0;
}

quint16 LanguageIdOption(CliArgs& args) {
    const auto text = args.Option(QStringLiteral("--language"));
    if (!text)
        return TLanguageManager::DefaultLanguageId;
    const auto id = ParseLanguageId(*text);
    if (!id)
        throw CliError(QStringLiteral("not a language identifier: %1").arg(*text), 2);
    return *id;
}

int List(CliArgs& args) {
    const quint16 id = LanguageIdOption(args);
    const QString folder = args.Option(QStringLiteral("--folder")).value_or(ProgramFolder());
    args.Positional(0, 0);
    TLanguageManager manager;
    manager.ScanForLanguageFiles(folder, LanguageMask, false);
    manager.SetLanguage(id);
    if (manager.LanguageId() != id)
        Err() << "quillmar-cli: no usable language file for " << id << " in " << folder
              << "; the built-in English texts follow\n";
    for (const auto& c : BuiltInConstants()) {
        const QString name = QString::fromUtf8(c.Name);
        Out() << name << '=' << EscapeLanguageText(manager.GetConstant(name)) << '\n';
    }
    return 0;
}

int Languages(CliArgs& args) {
    const QStringList p = args.Positional(0, 1);
    TLanguageManager manager;
    manager.ScanForLanguageFiles(p.isEmpty() ? ProgramFolder() : p[0], LanguageMask, false);
    for (const auto& f : manager.LanguageFiles())
        Out() << f.LanguageId << '\t' << f.Name << '\t' << f.Path << '\n';
    return 0;
}

const CliRegistration regTemplate{
    {QStringLiteral("messages"), QStringLiteral("--template"),
     QStringLiteral("Print a complete English language file to translate from"),
     QStringLiteral("The output holds every message constant with its built-in English text,\n"
                    "in the language file format of docs/language-files.md:\n"
                    "  quillmar-cli messages --template > German.lng"),
     &Template}};

const CliRegistration regList{
    {QStringLiteral("messages list"), QStringLiteral("[--language ID] [--folder DIR]"),
     QStringLiteral("Print every message constant in a language"),
     QStringLiteral("Looks for \"*.lng\" files in DIR (default: the program's folder), switches\n"
                    "to language ID (default 1033, English) as the program does at start-up,\n"
                    "and prints NAME=TEXT for every constant."),
     &List}};

const CliRegistration regLanguages{
    {QStringLiteral("messages languages"), QStringLiteral("[DIR]"),
     QStringLiteral("List the usable language files"),
     QStringLiteral("Prints LANGID, name and path of every language file in DIR (default: the\n"
                    "program's folder) that the program would offer; malformed files and\n"
                    "files without a LANGID are left out, as the program leaves them out."),
     &Languages}};

} // namespace
