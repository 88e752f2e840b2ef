#pragma once
// The distributor's branding: an optional "brand.cfg" next to the executable replaces
// the product name, the web addresses, the default theme, the banners and the feed
// search; template files in the "web" folder replace the built-in page templates.
// Loaded once at start-up, read-only afterwards.

#include <QString>

class TValueReader;

class TBranding {
public:
    static TBranding& Instance();

    TBranding();

    // Reads "brand.cfg" from the folder (default: the executable's) and checks which
    // template files exist in its "web" folder. A missing, short or damaged file is no
    // error: the values read before the damage stay and the program runs unbranded.
    void Load(const QString& programFolder = {});

    // Derived texts.
    QString WindowTitle() const;        // "Quillmar Reader" while the name holds "Quillmar"
    QString TrayTip() const;            // the product name, at most 63 characters
    QString DocumentFolderName() const; // "My " + product name, safe as a folder name
    // The feed search label: the form's own (translated) caption unless branded.
    QString FeedSearchLabelText(const QString& formCaption) const;

    bool StandardTemplatesPresent = false; // channel.htm and channel_topic.htm
    bool BrandedTemplatesPresent = false;  // the three branded_*.htm
    bool TopicTemplatePresent = false;     // topic.htm
    QString ChannelTemplatePath;
    QString ChannelTopicTemplatePath;
    QString TopicTemplatePath;
    QString BrandedChannelTemplatePath;
    QString BrandedChannelTopicTemplatePath;
    QString BrandedTopicTemplatePath;
    bool NotBranded = true;
    QString ProductName;
    QString HomePageUrl;
    QString AboutUrl;
    QString OnlineHelpUrl;
    QString OnlineForumUrl;
    QString CreateFeedUrl;
    QString PopupPicturePath;
    QString DefaultTheme;
    bool ThemeLocked = false;
    bool TopBannerShown = false;
    bool BottomBannerShown = false;
    qint32 TopBannerHeight = 81;
    qint32 BottomBannerHeight = 81;
    bool ExpandUnread = true;
    QString AutoOpmlUrl;
    QString FeedSearchUrl;
    QString FeedSearchLabel;

private:
    void setTemplatePaths(const QString& webFolder);
    void readBrandFile(TValueReader& reader);
};
