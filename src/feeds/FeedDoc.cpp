#include "feeds/FeedDoc.h"

#include "feeds/Formatters.h"
#include "feeds/ISOLanguages.h"
#include "feeds/RSSFormatter.h"
#include "shell/Clock.h"

#include <QUuid>
#include <cmath>
#include <cstdio>

namespace {

// The host in the channel identifiers this program makes up; any host the vendor owns
// keeps them from colliding with the identifiers of other programs.
constexpr char kVendorHost[] = "vantrell.example";

} // namespace

QByteArray NewChannelId() {
    return NewChannelId(NowLocal());
}

QByteArray NewChannelId(double now) {
    QDate date;
    DecodeDays(now, &date, nullptr);
    const QByteArray guid = QUuid::createUuid().toByteArray(QUuid::WithoutBraces).toUpper();
    char day[32];
    std::snprintf(day, sizeof day, "%.15g", std::fabs(now));
    return "tag:" + QByteArray(kVendorHost) + ',' + QByteArray::number(date.year()) + ':' + guid +
           '.' + day;
}

// --- Channel ---

TChannelInfo::TChannelInfo() {
    Reset();
}

void TChannelInfo::Reset() {
    const double now = NowLocal();
    Id = NewChannelId(now);
    Title.clear();
    Description.clear();
    Link = QStringLiteral("http://");
    SelfLink.clear();
    Language = TISOLanguages::DefaultCode();
    Author.clear();
    Rights.clear();
    Date = now;
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

// The members start out as Clear leaves them; the channel has reset itself.
TFeed::TFeed() : FormatterClass(&TRSSFormatter::Class) {}

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
