#include "ReaderBranding.h"

#include "QuillmarInstance.h"
#include "store/ValueStream.h"

#include <QFile>
#include <QFileInfo>

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
    setTemplatePaths(TQuillmar::GetWebFolder());
}

void TBranding::setTemplatePaths(const QString& web) {
    ChannelTemplatePath = web + QStringLiteral("channel.htm");
    ChannelTopicTemplatePath = web + QStringLiteral("channel_topic.htm");
    TopicTemplatePath = web + QStringLiteral("topic.htm");
    BrandedChannelTemplatePath = web + QStringLiteral("branded_channel.htm");
    BrandedChannelTopicTemplatePath = web + QStringLiteral("branded_channel_topic.htm");
    BrandedTopicTemplatePath = web + QStringLiteral("branded_topic.htm");
}

void TBranding::Load(const QString& programFolder) {
    QString folder = programFolder.isEmpty() ? TQuillmar::GetProgramFolder() : programFolder;
    if (!folder.endsWith(u'/'))
        folder += u'/';

    NotBranded = true;
    QFile file(folder + QStringLiteral("brand.cfg"));
    if (file.open(QIODevice::ReadOnly)) {
        try {
            TValueReader reader(file);
            readBrandFile(reader);
            NotBranded = false;
        } catch (const EReadError&) {
            // A short or damaged file: the fields read so far stay, the program runs
            // unbranded, and nobody is told (a distributor's mistake is no user's error).
        }
    }

    PopupPicturePath = folder + QStringLiteral("popup.bmp");
    setTemplatePaths(folder + QStringLiteral("web/"));
    auto exists = [](const QString& path) { return QFileInfo(path).isFile(); };
    StandardTemplatesPresent = exists(ChannelTemplatePath) && exists(ChannelTopicTemplatePath);
    BrandedTemplatesPresent = exists(BrandedChannelTemplatePath) &&
                              exists(BrandedChannelTopicTemplatePath) &&
                              exists(BrandedTopicTemplatePath);
    TopicTemplatePresent = exists(TopicTemplatePath);
}

void TBranding::readBrandFile(TValueReader& reader) {
    // Each field takes its value as soon as it is read, so a file cut short keeps what
    // came before the cut.
    const qint32 version = reader.ReadInteger();
    ProductName = reader.ReadWideString();
    reader.ReadWideString(); // a value that older versions wrote and nothing uses
    AboutUrl = reader.ReadWideString();
    OnlineHelpUrl = reader.ReadWideString();
    OnlineForumUrl = reader.ReadWideString();
    HomePageUrl = reader.ReadWideString();
    CreateFeedUrl = reader.ReadWideString();
    DefaultTheme = reader.ReadWideString();
    ThemeLocked = reader.ReadBoolean();
    TopBannerHeight = reader.ReadInteger();
    BottomBannerHeight = reader.ReadInteger();
    TopBannerShown = reader.ReadBoolean();
    BottomBannerShown = reader.ReadBoolean();
    ExpandUnread = reader.ReadBoolean();
    if (version >= 2)
        AutoOpmlUrl = reader.ReadWideString();
    if (version >= 3)
        FeedSearchUrl = reader.ReadWideString();
    if (version >= 4)
        FeedSearchLabel = reader.ReadWideString();
}

QString TBranding::WindowTitle() const {
    return ProductName.contains(QStringLiteral("Quillmar")) ? QStringLiteral("Quillmar Reader")
                                                            : ProductName;
}

QString TBranding::TrayTip() const {
    QString tip = ProductName.left(63);
    // Never leave half of a surrogate pair at the cut.
    if (tip.size() == 63 && tip.back().isHighSurrogate())
        tip.chop(1);
    return tip;
}

QString TBranding::FeedSearchLabelText(const QString& formCaption) const {
    return NotBranded ? formCaption : FeedSearchLabel;
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
