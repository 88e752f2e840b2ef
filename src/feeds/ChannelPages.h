#pragma once
// The pages the program writes itself: the channel page (a folder's or channel's topics
// one under the other), the topic page, the same two as exported HTML files, and the
// banner strips. Built here, in the core, so that the browser pane and the command-line
// tool show the same bytes; the main window only picks the folder or topic and hands
// the page to its browser.
//
// Every value that comes from a feed is made safe for where it lands: texts are
// escaped, addresses that are not http, https or mailto become "#", descriptions pass
// RemoveActiveContent and then the allow-list of HTMLSanitizer.

#include "shell/Errors.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <functional>
#include <optional>

class TBranding;
class TFolder;
class TTemplateParser;
class TTopicIndex;
namespace QuillmarDocCore {
class TTopic;
}

// A page that cannot be built (its template cannot be read, a topic is missing), or an
// exported page that cannot be written.
QUILLMAR_DECLARE_EXCEPTION(EPageError, Exception)

// The line that stands where a description had an embedded object or plug-in.
extern const QString ActiveContentRemoved; // "[Active content removed]"
// What a channel page shows instead of topics.
extern const QByteArray ChannelHasNoTopics;   // "<div class='topic'>Channel has no topics</div>"
extern const QByteArray ClickOnChannelToView; // "...Click on a channel to view feeds</div>"
// Where the export banner's product link leads.
extern const QString VendorAboutAddress;

// A template: a resource name ("channel") or a file path.
struct TPageTemplate {
    QString Name;
    bool FromFile = false;
};

struct TChannelPageTemplates {
    TPageTemplate Frame;
    TPageTemplate Topic;
};

// The templates of the browser pane: the distributor's files in the "web" folder when
// the branding found them (the branded set for a protected item), else the built-in
// "channel" and "channel_topic".
TChannelPageTemplates ChannelPageTemplates(const TFolder& folder, const TBranding& branding);
// "topic.htm" when the branding found it ("branded_topic.htm" for a topic of a
// protected item), else the built-in "topic". topicFolder is the item holding the topic.
TPageTemplate TopicPageTemplate(const TFolder* topicFolder, const TBranding& branding);
// Export always uses the built-in export templates.
TChannelPageTemplates ExportChannelTemplates();
TPageTemplate ExportTopicTemplate();

// Sets logo_visible, logo_src, logo_link, logo_title, channel_url, copyright_visible,
// channel_copyright, channel_author, channel_author_visible and channel_title for the
// folder or channel (nothing but the visibility flags, "#" and an empty title for none).
void FillChannelValues(TTemplateParser& parser, const TFolder* folder);
// Sets topic, topic_descr, topic_author, topic_author_visible and topic_link.
void FillTopicValues(TTemplateParser& parser, const QuillmarDocCore::TTopic& topic);

// Turns scripts, embedded objects and plug-ins of a description into comments, with a
// visible "[Active content removed]" line for the last two: "<script" becomes
// "<!--script", "/script>" becomes "/script-->", and likewise for embed and object,
// without regard to case. A comment opened this way that nothing closes (an <embed> has
// no end tag) is closed after its own tag, so the rest of the description stays.
QString RemoveActiveContent(const QString& description);

// Gives the topic of an index entry with its body read (the document's LoadTopic).
using TTopicLoader = std::function<QuillmarDocCore::TTopic*(TTopicIndex&)>;

// The channel page of folder listing topics in the given order. Nothing when the page
// frame cannot be rendered; an error loading a topic, or a topic template that cannot
// be read, raises.
std::optional<QByteArray> BuildChannelPage(TFolder& folder, const QList<TTopicIndex*>& topics,
                                           const TChannelPageTemplates& templates,
                                           const TTopicLoader& loadTopic);
// The topic page, headed by the channel the topic came from. Raises EPageError when the
// template cannot be read.
QByteArray BuildTopicPage(const QuillmarDocCore::TTopic& topic, const TPageTemplate& page);

// Builds the exported page and writes it to fileName, replacing the file only once the
// whole page is written: a page that cannot be built leaves no file behind.
void ExportChannelPage(TFolder& folder, const QList<TTopicIndex*>& topics,
                       const TTopicLoader& loadTopic, const QString& fileName);
void ExportTopicPage(const QuillmarDocCore::TTopic& topic, const QString& fileName);

// The topic list's order: 0 title, 1 published, 2 author (the "TopicsSortOrder"
// setting), newest or last first when inverted. Entries that compare equal keep the
// index's walking order.
QList<TTopicIndex*> TopicsInListOrder(TFolder& folder, int sortOrder, bool inverted);

enum class TBannerPosition { Top, Bottom };

// "top_banner.html", "bottom_banner.html", or their "_offline" forms.
QString BannerFileName(TBannerPosition position, bool online);
// The banner page from the "web" folder (webFolder ends with a separator) with web and
// channel_feed set for the selected item. Nothing when the file does not exist; an
// empty page when it cannot be read (the strip is then hidden).
std::optional<QByteArray> BuildBannerPage(const QString& webFolder, TBannerPosition position,
                                          bool online, const TFolder* selected);
