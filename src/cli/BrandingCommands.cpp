// branding [DIR]: the branding the program would run with, read from DIR (default: the
// program's own folder), as JSON.
#include "CliCommand.h"
#include "shell/ReaderBranding.h"

#include <QFileInfo>
#include <QJsonObject>

namespace {

QJsonObject BrandingJson(const TBranding& b) {
    return QJsonObject{
        {QStringLiteral("NotBranded"), b.NotBranded},
        {QStringLiteral("ProductName"), b.ProductName},
        {QStringLiteral("WindowTitle"), b.WindowTitle()},
        {QStringLiteral("TrayTip"), b.TrayTip()},
        {QStringLiteral("DocumentFolderName"), b.DocumentFolderName()},
        {QStringLiteral("HomePageUrl"), b.HomePageUrl},
        {QStringLiteral("AboutUrl"), b.AboutUrl},
        {QStringLiteral("OnlineHelpUrl"), b.OnlineHelpUrl},
        {QStringLiteral("OnlineForumUrl"), b.OnlineForumUrl},
        {QStringLiteral("CreateFeedUrl"), b.CreateFeedUrl},
        {QStringLiteral("PopupPicturePath"), b.PopupPicturePath},
        {QStringLiteral("DefaultTheme"), b.DefaultTheme},
        {QStringLiteral("ThemeLocked"), b.ThemeLocked},
        {QStringLiteral("TopBannerShown"), b.TopBannerShown},
        {QStringLiteral("BottomBannerShown"), b.BottomBannerShown},
        {QStringLiteral("TopBannerHeight"), b.TopBannerHeight},
        {QStringLiteral("BottomBannerHeight"), b.BottomBannerHeight},
        {QStringLiteral("ExpandUnread"), b.ExpandUnread},
        {QStringLiteral("AutoOpmlUrl"), b.AutoOpmlUrl},
        {QStringLiteral("FeedSearchUrl"), b.FeedSearchUrl},
        {QStringLiteral("FeedSearchLabel"), b.FeedSearchLabel},
        {QStringLiteral("StandardTemplatesPresent"), b.StandardTemplatesPresent},
        {QStringLiteral("BrandedTemplatesPresent"), b.BrandedTemplatesPresent},
        {QStringLiteral("TopicTemplatePresent"), b.TopicTemplatePresent},
        {QStringLiteral("ChannelTemplatePath"), b.ChannelTemplatePath},
        {QStringLiteral("ChannelTopicTemplatePath"), b.ChannelTopicTemplatePath},
        {QStringLiteral("TopicTemplatePath"), b.TopicTemplatePath},
        {QStringLiteral("BrandedChannelTemplatePath"), b.BrandedChannelTemplatePath},
        {QStringLiteral("BrandedChannelTopicTemplatePath"), b.BrandedChannelTopicTemplatePath},
        {QStringLiteral("BrandedTopicTemplatePath"), b.BrandedTopicTemplatePath},
    };
}

int Branding(CliArgs& args) {
    const QStringList p = args.Positional(0, 1);
    // A mistyped folder would otherwise print the defaults as if they were its branding.
    if (!p.isEmpty() && !QFileInfo(p[0]).isDir())
        throw CliError(QStringLiteral("there is no folder %1").arg(p[0]));
    TBranding branding;
    branding.Load(p.isEmpty() ? QString() : p[0]);
    PrintJson(QJsonDocument(BrandingJson(branding)));
    return 0;
}

const CliRegistration reg{
    {QStringLiteral("branding"), QStringLiteral("[DIR]"),
     QStringLiteral("Print the effective branding as JSON"),
     QStringLiteral("Reads \"brand.cfg\" and looks for the page templates in the \"web\" folder\n"
                    "of DIR (default: the program's folder), as the program does at start-up.\n"
                    "A missing or damaged file is no error: the output then shows\n"
                    "\"NotBranded\": true and the values that could be read. A DIR that is\n"
                    "not a folder is an error."),
     &Branding}};

} // namespace
