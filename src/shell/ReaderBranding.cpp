#include "ReaderBranding.h"

#include "QuillmarInstance.h"

namespace {
const QString VendorSite = QStringLiteral("https://vantrell.example");
}

TBranding& TBranding::Instance() {
    static TBranding branding;
    return branding;
}

TBranding::TBranding()
    : ProductName(QStringLiteral("Quillmar")), HomePageUrl(VendorSite + QStringLiteral("/home")),
      OnlineHelpUrl(VendorSite + QStringLiteral("/help")),
      OnlineForumUrl(VendorSite + QStringLiteral("/help/V149")),
      CreateFeedUrl(VendorSite + QStringLiteral("/writer")),
      DefaultTheme(QStringLiteral("Default")),
      FeedSearchUrl(QStringLiteral("https://feeds.vantrell.example/feedlist.php?ShowMatch=$search$"
                                   "&FormShowStatusCheck=on&FormShowStatus=Syndicated")),
      FeedSearchLabel(QStringLiteral("&Search Web for Feeds:")) {
    const QString web = TQuillmar::GetWebFolder();
    ChannelTemplatePath = web + QStringLiteral("channel.htm");
    ChannelTopicTemplatePath = web + QStringLiteral("channel_topic.htm");
    TopicTemplatePath = web + QStringLiteral("topic.htm");
    BrandedChannelTemplatePath = web + QStringLiteral("branded_channel.htm");
    BrandedChannelTopicTemplatePath = web + QStringLiteral("branded_channel_topic.htm");
    BrandedTopicTemplatePath = web + QStringLiteral("branded_topic.htm");
}

QString TBranding::WindowTitle() const {
    return ProductName.contains(QStringLiteral("Quillmar")) ? QStringLiteral("Quillmar Reader")
                                                            : ProductName;
}

QString TBranding::TrayTip() const {
    return ProductName.left(63);
}

QString TBranding::DocumentFolderName() const {
    // The product name comes from a distributor's file: it must not be able to name
    // another folder ("../x") or hold characters no file system takes.
    QString name = QStringLiteral("My ") + ProductName;
    for (QChar& c : name) {
        if (c.unicode() < 0x20 || QStringLiteral("/\\:*?\"<>|").contains(c))
            c = u'_';
    }
    while (name.endsWith(u'.') || name.endsWith(u' '))
        name.chop(1);
    return name;
}
