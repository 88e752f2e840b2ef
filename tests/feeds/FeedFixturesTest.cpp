// Every feed under tests/data/feeds is read by "quillmar-cli parse --json" and compared
// with the JSON beside it (<name>.xml with <name>.json); then it is written back in its
// own format with "convert" and read again, which must give the same model. Adding a
// case means adding two files; see tests/data/feeds/README.md.
//
// The clock, the time zone and the locale are fixed, so dates that a feed lacks ("now")
// and the channel language a feed does not give are stable.
//
// QUILLMAR_UPDATE_FIXTURES=1 writes what the program prints into the .json files instead
// of comparing: for writing a new case, never for making a failing one pass unread.
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <gtest/gtest.h>

namespace {

const QString kFixtureFolder = QStringLiteral(QUILLMAR_TEST_DATA "/feeds");
// A channel Id the program made up (RSS has none of its own) differs on every run; the
// .json holds this placeholder instead, and the Id must have the generated form.
const QString kGeneratedId = QStringLiteral("<generated>");
const QRegularExpression kGeneratedIdPattern(QStringLiteral(
    R"(^tag:vantrell\.example,2024:[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\.45352\.5$)"));

QStringList FixtureNames() {
    QStringList names;
    const QDir folder(kFixtureFolder);
    for (const QString& file :
         folder.entryList({QStringLiteral("*.xml")}, QDir::Files, QDir::Name)) {
        const QString name = file.chopped(4);
        if (folder.exists(name + QStringLiteral(".json")))
            names.append(name);
    }
    return names;
}

std::vector<std::string> FixtureParameters() {
    std::vector<std::string> parameters;
    for (const QString& name : FixtureNames())
        parameters.push_back(name.toStdString());
    return parameters;
}

// The environment every case runs in.
class FixedWorld {
public:
    FixedWorld() {
        Set("QUILLMAR_NOW", "2024-03-01T12:00:00Z");
        Set("TZ", "UTC");
        Set("LC_ALL", "C.UTF-8");
        Set("LANG", "C.UTF-8");
    }
    ~FixedWorld() {
        for (const auto& [name, value] : m_saved) {
            if (value.isNull())
                qunsetenv(name);
            else
                qputenv(name, value);
        }
    }

private:
    void Set(const char* name, const char* value) {
        m_saved.emplace_back(name, qEnvironmentVariableIsSet(name) ? qgetenv(name) : QByteArray());
        qputenv(name, value);
    }
    std::vector<std::pair<const char*, QByteArray>> m_saved;
};

QByteArray ReadFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Replaces a generated channel Id by the placeholder; false when the Id looks generated
// but has the wrong form.
bool MaskGeneratedId(QJsonObject& feed, QString* problem) {
    QJsonObject channel = feed.value(QStringLiteral("channel")).toObject();
    const QString id = channel.value(QStringLiteral("Id")).toString();
    if (!id.startsWith(QStringLiteral("tag:vantrell.example,")))
        return true;
    if (!kGeneratedIdPattern.match(id).hasMatch()) {
        *problem = QStringLiteral("generated channel Id of the wrong form: ") + id;
        return false;
    }
    channel.insert(QStringLiteral("Id"), kGeneratedId);
    feed.insert(QStringLiteral("channel"), channel);
    return true;
}

QString Pretty(const QJsonObject& object) {
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Indented));
}

const char* FormatOption(const QString& formatterClass) {
    if (formatterClass == QLatin1String("TAtom10Formatter"))
        return "atom";
    if (formatterClass == QLatin1String("TAtomFormatter"))
        return "atom03";
    return "rss";
}

class FeedFixture : public testing::TestWithParam<std::string> {};

TEST_P(FeedFixture, ParsesAsRecordedAndSurvivesARoundTrip) {
    const QString name = QString::fromStdString(GetParam());
    const QString xmlPath = kFixtureFolder + u'/' + name + QStringLiteral(".xml");
    const QString jsonPath = kFixtureFolder + u'/' + name + QStringLiteral(".json");
    FixedWorld world;
    TestEnvironment env;

    QJsonParseError error;
    const QJsonDocument expectedDocument = QJsonDocument::fromJson(ReadFile(jsonPath), &error);
    ASSERT_EQ(error.error, QJsonParseError::NoError)
        << jsonPath.toStdString() << ": " << error.errorString().toStdString();
    const QJsonObject expected = expectedDocument.object();

    const ProcessResult parsed =
        RunCli(env, {QStringLiteral("parse"), QStringLiteral("--json"), xmlPath});
    ASSERT_FALSE(parsed.crashed) << parsed.err.constData();

    // A case that must be refused: {"exit": 2}.
    if (expected.contains(QStringLiteral("exit"))) {
        EXPECT_EQ(parsed.exitCode, expected.value(QStringLiteral("exit")).toInt())
            << parsed.out.constData();
        EXPECT_TRUE(parsed.out.isEmpty()) << parsed.out.constData();
        EXPECT_EQ(parsed.err.count('\n'), 1) << parsed.err.constData();
        return;
    }
    ASSERT_EQ(parsed.exitCode, 0) << parsed.err.constData();
    QJsonObject actual = QJsonDocument::fromJson(parsed.out, &error).object();
    ASSERT_EQ(error.error, QJsonParseError::NoError) << parsed.out.constData();
    QString problem;
    ASSERT_TRUE(MaskGeneratedId(actual, &problem)) << problem.toStdString();

    if (qEnvironmentVariableIntValue("QUILLMAR_UPDATE_FIXTURES") == 1) {
        QFile out(jsonPath);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        out.write(QJsonDocument(actual).toJson(QJsonDocument::Indented));
    } else {
        EXPECT_EQ(actual, expected) << "parse --json " << xmlPath.toStdString() << " printed:\n"
                                    << Pretty(actual).toStdString();
    }

    // Written back in its own format and read again: the same model.
    const QString formatter = actual.value(QStringLiteral("formatter")).toString();
    const ProcessResult converted =
        RunCli(env, {QStringLiteral("convert"), QStringLiteral("--to"),
                     QString::fromLatin1(FormatOption(formatter)), xmlPath});
    ASSERT_EQ(converted.exitCode, 0) << converted.err.constData();
    const ProcessResult reread =
        RunCli(env, {QStringLiteral("parse"), QStringLiteral("--json"), QStringLiteral("-")},
               converted.out);
    ASSERT_EQ(reread.exitCode, 0) << reread.err.constData() << "\n" << converted.out.constData();
    QJsonObject again = QJsonDocument::fromJson(reread.out).object();
    ASSERT_TRUE(MaskGeneratedId(again, &problem)) << problem.toStdString();
    EXPECT_EQ(again, actual) << "written back as:\n"
                             << converted.out.constData() << "\nand read again as:\n"
                             << Pretty(again).toStdString();
}

std::string CaseName(const testing::TestParamInfo<std::string>& info) {
    std::string name = info.param;
    for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c)))
            c = '_';
    }
    return name;
}

INSTANTIATE_TEST_SUITE_P(Feeds, FeedFixture, testing::ValuesIn(FixtureParameters()), CaseName);

TEST(FeedFixtures, FolderHoldsCases) {
    // A moved folder would otherwise pass by running nothing.
    EXPECT_GE(FixtureNames().size(), 10);
}

} // namespace
