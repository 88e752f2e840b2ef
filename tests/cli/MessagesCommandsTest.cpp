#include "shell/UIUtils.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

TEST(MessagesCommand, TemplatePrintsEveryConstantInEnglish) {
    TestEnvironment env;
    const ProcessResult r = RunCli(env, {QStringLiteral("messages"), QStringLiteral("--template")});
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    const auto content = ParseLanguageFile(r.out);
    ASSERT_TRUE(content);
    EXPECT_EQ(content->LanguageId, 1033);
    EXPECT_EQ(content->Constants.size(), 91);
    EXPECT_EQ(content->Constants.value(QStringLiteral("SCountdown")),
              QStringLiteral("This window will close in %d second(s). "));
}

TEST(MessagesCommand, ListShowsATranslation) {
    TestEnvironment env;
    QFile file(env.FilePath(QStringLiteral("German.lng")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("LANGID=1031\nName=Deutsch\n[Constants]\nSStatusSearching=Suche...\n");
    file.close();
    const ProcessResult r =
        RunCli(env, {QStringLiteral("messages"), QStringLiteral("list"), QStringLiteral("--folder"),
                     env.Home(), QStringLiteral("--language"), QStringLiteral("1031")});
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    EXPECT_TRUE(r.out.contains("\nSStatusSearching=Suche...\n"));
    EXPECT_TRUE(r.out.contains("\nSStatusRefreshing=Refreshing channels...\n"));

    const ProcessResult languages =
        RunCli(env, {QStringLiteral("messages"), QStringLiteral("languages"), env.Home()});
    EXPECT_TRUE(languages.out.startsWith("1031\tDeutsch\t"));
}

TEST(MessagesCommand, WithoutTemplateOrSubCommandIsAUsageError) {
    TestEnvironment env;
    EXPECT_EQ(RunCli(env, {QStringLiteral("messages")}).exitCode, 2);
}

} // namespace
