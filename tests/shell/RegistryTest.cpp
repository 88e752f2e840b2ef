#include "shell/Registry.h"

#include "support/TestEnvironment.h"

#include <QFile>
#include <gtest/gtest.h>

TEST(Registry, ValuesKeepTheirTypeAcrossInstances) {
    TestEnvironment env;
    {
        TRegistry reg;
        ASSERT_TRUE(reg.OpenKey(TRegistry::RootKey, true));
        reg.WriteInteger(QStringLiteral("Period"), -5);
        reg.WriteBool(QStringLiteral("Flag"), true);
        reg.WriteString(QStringLiteral("Name"), QStringLiteral("a,b; \"c\" \u00e9"));
    }
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKeyReadOnly(TRegistry::RootKey));
    EXPECT_EQ(reg.ReadInteger(QStringLiteral("Period")), -5);
    EXPECT_EQ(reg.ReadBool(QStringLiteral("Flag")), true);
    EXPECT_EQ(reg.ReadString(QStringLiteral("Name")), QStringLiteral("a,b; \"c\" \u00e9"));
    // A text is no number: reading it as one finds nothing.
    EXPECT_EQ(reg.ReadInteger(QStringLiteral("Name")), std::nullopt);
    EXPECT_EQ(reg.GetDataType(QStringLiteral("Period")), TRegistry::TDataType::DWord);
    EXPECT_EQ(reg.GetDataType(QStringLiteral("Missing")), TRegistry::TDataType::None);
}

TEST(Registry, MissingKeyCannotBeOpenedWithoutCreating) {
    TestEnvironment env;
    TRegistry reg;
    EXPECT_FALSE(reg.OpenKeyReadOnly(TRegistry::RootKey));
    EXPECT_FALSE(reg.OpenKey(TRegistry::RootKey + QStringLiteral("\\frmMain"), false));
    ASSERT_TRUE(reg.OpenKey(TRegistry::RootKey + QStringLiteral("\\frmMain"), true));
    reg.WriteInteger(QStringLiteral("Left"), 10);
    reg.CloseKey();
    EXPECT_TRUE(reg.KeyExists(TRegistry::RootKey + QStringLiteral("\\frmMain")));
    // Sub-keys of the program's key do exist inside it; foreign keys do not.
    EXPECT_TRUE(reg.KeyExists(TRegistry::RootKey));
}

TEST(Registry, ForeignKeysDoNotMakeTheProgramKeyExist) {
    TestEnvironment env;
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey(
        QStringLiteral("Software\\Microsoft\\Internet Explorer\\MenuExt\\Add Feed To Quillmar"),
        true));
    reg.WriteInteger(QStringLiteral("Contexts"), 34);
    reg.CloseKey();
    EXPECT_FALSE(reg.KeyExists(TRegistry::RootKey));
    ASSERT_TRUE(reg.OpenKeyReadOnly(
        QStringLiteral("Software\\Microsoft\\Internet Explorer\\MenuExt\\Add Feed To Quillmar")));
    EXPECT_EQ(reg.ReadInteger(QStringLiteral("Contexts")), 34);
}

TEST(Registry, SettingsFileIsReadableByItsOwnerOnly) {
    TestEnvironment env;
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey(TRegistry::RootKey, true));
    reg.WriteString(QStringLiteral("AccountPassword"), QStringLiteral("secret"));
    reg.CloseKey();
    const auto permissions = QFile::permissions(env.SettingsFile());
    EXPECT_EQ(permissions &
                  (QFile::ReadGroup | QFile::ReadOther | QFile::WriteGroup | QFile::WriteOther),
              QFile::Permissions());
    EXPECT_TRUE(permissions & QFile::ReadOwner);
}

TEST(Registry, UnsignedDWordSpellingReadsAsTheSameBits) {
    TestEnvironment env;
    QFile file(env.SettingsFile());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[General]\nBig=4294967295\nTooBig=4294967296\nList=mp3, wav\n");
    file.close();
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKeyReadOnly(TRegistry::RootKey));
    EXPECT_EQ(reg.ReadInteger(QStringLiteral("Big")), -1);
    EXPECT_EQ(reg.ReadInteger(QStringLiteral("TooBig")), std::nullopt);
    EXPECT_EQ(reg.ReadString(QStringLiteral("List")), QStringLiteral("mp3,wav"));
}
