// config list | get NAME | set NAME VALUE: the settings as the program sees them.
#include "CliCommand.h"
#include "shell/ReaderConfig.h"
#include "shell/Registry.h"

namespace {

const TConfiguration::TSettingInfo& FindSetting(const QString& name) {
    for (const auto& s : TConfiguration::Settings())
        if (s.Name.compare(name, Qt::CaseInsensitive) == 0)
            return s;
    throw CliError(QStringLiteral("unknown setting %1 (see config list)").arg(name));
}

TConfiguration Loaded() {
    TConfiguration configuration;
    configuration.Load();
    return configuration;
}

int List(CliArgs& args) {
    args.Positional(0, 0);
    TConfiguration configuration = Loaded();
    for (const auto& s : TConfiguration::Settings())
        Out() << s.Name << '=' << s.Value(configuration) << '\n';
    return 0;
}

int Get(CliArgs& args) {
    const QStringList p = args.Positional(1, 1);
    const auto& setting = FindSetting(p[0]);
    TConfiguration configuration = Loaded();
    Out() << setting.Value(configuration) << '\n';
    return 0;
}

std::optional<qint32> ParseInteger(const QString& text) {
    bool ok = false;
    const qlonglong v = text.toLongLong(&ok);
    if (!ok || v < std::numeric_limits<qint32>::min() || v > std::numeric_limits<quint32>::max())
        return std::nullopt;
    return qint32(quint32(v));
}

int Set(CliArgs& args) {
    const QStringList p = args.Positional(2, 2);
    const auto& setting = FindSetting(p[0]);
    const QString& text = p[1];
    TRegistry reg;
    if (!reg.OpenKey(TRegistry::RootKey, true))
        throw CliError(
            QStringLiteral("cannot open the settings store %1").arg(TRegistry::FileName()));
    switch (setting.Kind) {
    case TConfiguration::TSettingKind::Boolean: {
        const QString t = text.toLower();
        std::optional<qint32> value = ParseInteger(t);
        if (t == QStringLiteral("true") || t == QStringLiteral("yes"))
            value = 1;
        else if (t == QStringLiteral("false") || t == QStringLiteral("no"))
            value = 0;
        if (!value)
            throw CliError(QStringLiteral("%1 takes true, false or a number, not \"%2\"")
                               .arg(setting.Name, text));
        reg.WriteInteger(setting.Name, *value);
        break;
    }
    case TConfiguration::TSettingKind::Integer: {
        const auto value = ParseInteger(text);
        if (!value)
            throw CliError(QStringLiteral("%1 takes a number, not \"%2\"").arg(setting.Name, text));
        reg.WriteInteger(setting.Name, *value);
        break;
    }
    case TConfiguration::TSettingKind::String:
        reg.WriteString(setting.Name, text);
        break;
    }
    return 0;
}

const CliRegistration listCommand{{QStringLiteral("config list"), QString(),
                                   QStringLiteral("Print every setting with its effective value"),
                                   QString(), &List}};
const CliRegistration getCommand{
    {QStringLiteral("config get"), QStringLiteral("NAME"),
     QStringLiteral("Print the effective value of one setting"),
     QStringLiteral("The default when nothing is stored; a stored value out of range is\n"
                    "shown as the program reads it (raised to the minimum, lowered to the\n"
                    "maximum)."),
     &Get}};
const CliRegistration setCommand{
    {QStringLiteral("config set"), QStringLiteral("NAME VALUE"),
     QStringLiteral("Store a setting as given"),
     QStringLiteral("Numbers and booleans (true, false, 1, 0) are stored as 32-bit values,\n"
                    "texts as texts. The value is stored as given; the range applies when\n"
                    "the program reads it."),
     &Set}};

} // namespace
