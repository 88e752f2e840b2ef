#include "feeds/FeedDoc.h"

#include "feeds/Formatters.h"
#include "feeds/ISOLanguages.h"
#include "feeds/RSSFormatter.h"
#include "shell/Clock.h"

#include <QUuid>
#include <cmath>

namespace {

// The host in the channel identifiers this program makes up; any host the vendor owns
// keeps them from colliding with the identifiers of other programs.
constexpr char kVendorHost[] = "vantrell.example";

} // namespace

QByteArray NewChannelId() {
    const double now = NowLocal();
    const QByteArray guid = QUuid::createUuid().toByteArray(QUuid::WithoutBraces).toUpper();
    return QByteArray("tag:") + kVendorHost +
           QString::asprintf(",%d:%s.%.15g", NowDateTime().date().year(), guid.constData(),
                             std::fabs(now))
               .toLatin1();
}

// --- Channel ---

TChannelInfo::TChannelInfo() {
    Reset();
}

void TChannelInfo::Reset() {
    Id = NewChannelId();
    Title.clear();
    Description.clear();
    Link = QStringLiteral("http://");
    SelfLink.clear();
    Language = TISOLanguages::DefaultCode();
    Author.clear();
    Rights.clear();
    Date = NowLocal();
    ImageUrl.clear();
    ImageTitle.clear();
    ImageLink.clear();
    ITunes.Clear();
    ITunesFeed.Clear();
    ResetUnresolved();
    SourceFormat.clear();
}

// --- Topic ---

void FeedDoc::TTopic::AddCategory(const QString& name, const QString& domain) {
    if (name.isEmpty())
        return;
    Categories.push_back(std::make_unique<TTopicCategory>(TTopicCategory{name, domain}));
}

// --- Feed ---

TFeed::TFeed() {
    Clear();
}

TFeed::~TFeed() = default;

void TFeed::Clear() {
    Namespaces.Clear();
    Channel.Reset();
    Topics.clear();
    HasMediaNamespace = false;
    HasITunesNamespace = false;
    FormatterClass = &TRSSFormatter::Class;
}

void TFeed::LoadFromStream(QIODevice& stream, const TFeedFormatterClass& formatterClass) {
    Clear();
    try {
        const std::unique_ptr<TFeedFormatter> formatter = formatterClass.Create();
        formatter->LoadFromStream(stream, this);
        FormatterClass = &formatterClass;
    } catch (...) {
        Clear();
        throw;
    }
}

void TFeed::LoadFromDocument(XmlDocument& document, const TFeedFormatterClass& formatterClass) {
    Clear();
    const std::unique_ptr<TFeedFormatter> formatter = formatterClass.Create();
    formatter->Document = std::move(document);
    try {
        formatter->ReadDocument(this);
    } catch (...) {
        document = std::move(formatter->Document);
        Clear();
        throw;
    }
    document = std::move(formatter->Document);
    FormatterClass = &formatterClass;
}

FeedDoc::TTopic* TFeed::AddTopic() {
    Topics.push_back(std::make_unique<FeedDoc::TTopic>());
    return Topics.back().get();
}
