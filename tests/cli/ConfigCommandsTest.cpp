#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

TEST(ConfigCommands, GetShowsDefaultsAndStoredValuesThroughTheirRange) {
    TestEnvironment env;
    struct Case {
        QStringList set; // empty: nothing stored
        QString name;
        QByteArray shown;
    };
    const QList<Case> cases{
        {{}, QStringLiteral("AutoRefreshPeriod"), "30\n"},
        {{QStringLiteral("AutoRefreshPeriod"), QStringLiteral("1000")},
         QStringLiteral("AutoRefreshPeriod"),
         "100\n"},
        {{QStringLiteral("AutoRefreshPeriod"), QStringLiteral("0")},
         QStringLiteral("autorefreshperiod"),
         "1\n"},
        {{QStringLiteral("RefreshAtStartup"), QStringLiteral("false")},
         QStringLiteral("RefreshAtStartup"),
         "false\n"},
        {{QStringLiteral("PlaylistName"), QStringLiteral("Mes podcasts \u00e9t\u00e9")},
         QStringLiteral("PlaylistName"),
         "Mes podcasts \xc3\xa9t\xc3\xa9\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name.toStdString());
        if (!c.set.isEmpty()) {
            const auto set =
                RunCli(env, QStringList{QStringLiteral("config"), QStringLiteral("set")} + c.set);
            ASSERT_EQ(set.exitCode, 0) << set.err.toStdString();
        }
        const auto get = RunCli(env, {QStringLiteral("config"), QStringLiteral("get"), c.name});
        EXPECT_EQ(get.exitCode, 0) << get.err.toStdString();
        EXPECT_EQ(get.out, c.shown);
    }
}

TEST(ConfigCommands, ListShowsEverySetting) {
    TestEnvironment env;
    const auto list = RunCli(env, {QStringLiteral("config"), QStringLiteral("list")});
    ASSERT_EQ(list.exitCode, 0);
    EXPECT_TRUE(list.out.contains("Theme=Default\n"));
    EXPECT_TRUE(list.out.contains("LanguageId=1033\n"));
    EXPECT_TRUE(list.out.contains("PathToAttachments=" + env.DocumentsFolder().toUtf8() +
                                  "/My Quillmar/Downloaded Content/\n"));
}

TEST(ConfigCommands, MistakesFailWithOneLine) {
    TestEnvironment env;
    const QList<QStringList> mistakes{
        {QStringLiteral("config"), QStringLiteral("get"), QStringLiteral("NoSuchSetting")},
        {QStringLiteral("config"), QStringLiteral("set"), QStringLiteral("PopupTime"),
         QStringLiteral("soon")},
        {QStringLiteral("config"), QStringLiteral("set"), QStringLiteral("PopupTime")},
        {QStringLiteral("config"), QStringLiteral("get"), QStringLiteral("--bogus"),
         QStringLiteral("PopupTime")},
        {QStringLiteral("no-such-command")},
    };
    for (const auto& args : mistakes) {
        SCOPED_TRACE(args.join(u' ').toStdString());
        const auto r = RunCli(env, args);
        EXPECT_NE(r.exitCode, 0);
        EXPECT_FALSE(r.crashed);
        EXPECT_EQ(r.err.count('\n'), 1) << r.err.toStdString();
        EXPECT_TRUE(r.out.isEmpty());
    }
}

TEST(ConfigCommands, HelpAndVersionSucceed) {
    TestEnvironment env;
    for (const QStringList& args :
         {QStringList{QStringLiteral("--help")}, QStringList{QStringLiteral("--version")},
          QStringList{QStringLiteral("config"), QStringLiteral("get"), QStringLiteral("--help")}}) {
        const auto r = RunCli(env, args);
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_FALSE(r.out.isEmpty());
    }
}
