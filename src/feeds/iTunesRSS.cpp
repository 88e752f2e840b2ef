#include "feeds/iTunesRSS.h"

#include "feeds/HTMLUtils.h"
#include "feeds/NodeNames.h"

#include <array>
#include <initializer_list>
#include <memory>

namespace {

struct ElementName {
    QByteArrayView name;
    int code;
};

constexpr std::array<ElementName, 11> kElements{{
    {"itunes:author", TiTunesRSS::Author},
    {"itunes:block", TiTunesRSS::Block},
    {"itunes:category", TiTunesRSS::Category},
    {"itunes:explicit", TiTunesRSS::Explicit},
    {"itunes:keywords", TiTunesRSS::Keywords},
    {"itunes:subtitle", TiTunesRSS::Subtitle},
    {"itunes:summary", TiTunesRSS::Summary},
    {"itunes:image", TiTunesRSS::Image},
    {"itunes:new-feed-url", TiTunesRSS::NewFeedUrl},
    {"itunes:owner", TiTunesRSS::Owner},
    {"itunes:duration", TiTunesRSS::Duration},
}};

struct CategoryBranch {
    const char* name;
    std::initializer_list<const char*> children;
};

// The podcast directory's categories and their sub-categories.
const CategoryBranch kCategories[] = {
    {"Arts",
     {"Design", "Fashion & Beauty", "Food", "Literature", "Performing Arts", "Visual Arts"}},
    {"Business", {"Business News", "Careers", "Investing", "Management & Marketing", "Shopping"}},
    {"Comedy", {}},
    {"Education",
     {"Education Technology", "Higher Education", "K-12", "Language Courses", "Training"}},
    {"Games & Hobbies", {"Automotive", "Aviation", "Hobbies", "Other Games", "Video Games"}},
    {"Government & Organizations", {"Local", "National", "Non-Profit", "Regional"}},
    {"Health", {"Alternative Health", "Fitness & Nutrition", "Self-Help", "Sexuality"}},
    {"Kids & Family", {}},
    {"Music", {}},
    {"News & Politics", {}},
    {"Religion & Spirituality",
     {"Buddhism", "Christianity", "Hinduism", "Islam", "Judaism", "Other", "Spirituality"}},
    {"Science & Medicine", {"Medicine", "Natural Sciences", "Social Sciences"}},
    {"Society & Culture", {"History", "Personal Journals", "Philosophy", "Places & Travel"}},
    {"Sports & Recreation", {"Amateur", "College & High School", "Outdoor", "Professional"}},
    {"Technology", {"Gadgets", "Tech News", "Podcasting", "Software How-To"}},
    {"TV & Film", {}},
};

const TiTunesCategory& CategoryRoot() {
    static const std::unique_ptr<TiTunesCategory> root = [] {
        auto top = std::make_unique<TiTunesCategory>(QString(), nullptr);
        for (const CategoryBranch& branch : kCategories) {
            // Each category belongs to its parent's table from its construction on.
            auto* category = new TiTunesCategory(QString::fromUtf8(branch.name), top.get());
            for (const char* child : branch.children)
                new TiTunesCategory(QString::fromUtf8(child), category);
        }
        return top;
    }();
    return *root;
}

QString ITunesNamespaceName() {
    return QString::fromLatin1(ITunesNamespace);
}

void AppendITunesText(xmlDoc* document, xmlNode* parent, QByteArrayView name, const QString& text) {
    TXmlHost::AppendChild(parent,
                          TXmlHost::CreateTextElement(document, name, text, ITunesNamespaceName()));
}

// The category a node names, when it is an "itunes:category" whose text is a key of the
// table. Publishers escape the "&" of "Sports & Recreation" once too often, so character
// references left in the text are decoded first.
const TiTunesCategory* MatchCategory(const xmlNode* node,
                                     const TObjectHash<TiTunesCategory>& table) {
    if (!NodeNames::Is(node, "itunes:category"))
        return nullptr;
    const QByteArray key =
        DecodeHtmlEntities(TXmlHost::AttributeText(node, "text", QString())).toUtf8();
    if (key.isEmpty() || !table.Exists(key))
        return nullptr;
    return table.Items(key);
}

} // namespace

// --- Categories ---

TiTunesCategory::TiTunesCategory(const QString& name, TiTunesCategory* parent)
    : Name(name), Parent(parent) {
    if (parent)
        parent->Children.SetItem(name.toUtf8(), this);
}

const TObjectHash<TiTunesCategory>& TiTunesRSS::CategoryTree() {
    return CategoryRoot().Children;
}

// --- Classification ---

int TiTunesRSS::ElementCode(QByteArrayView name) {
    for (const ElementName& element : kElements) {
        if (element.name == name)
            return element.code;
    }
    return 0;
}

int TiTunesRSS::ElementCode(const xmlNode* node) {
    if (!NodeNames::HasPrefix(node, "itunes"))
        return 0;
    for (const ElementName& element : kElements) {
        if (NodeNames::Is(node, element.name))
            return element.code;
    }
    return 0;
}

bool TiTunesRSS::IsCommonElement(const xmlNode* node) {
    const int code = ElementCode(node);
    return code >= Author && code <= Summary;
}

bool TiTunesRSS::IsChannelElement(const xmlNode* node) {
    const int code = ElementCode(node);
    return code >= Image && code <= Owner;
}

bool TiTunesRSS::IsItemElement(const xmlNode* node) {
    return NodeNames::Is(node, "itunes:duration");
}

// --- Common information ---

TiTunesCommonInformation* TiTunesCommonInformation::Read(const xmlNode* node) {
    const int code = TiTunesRSS::ElementCode(node);
    if (code == 0)
        return nullptr;
    switch (code) {
    case TiTunesRSS::Author:
        Author = TXmlHost::NodeText(node);
        break;
    case TiTunesRSS::Block:
        Block = TXmlHost::NodeText(node).toLower() == QLatin1String("yes");
        break;
    case TiTunesRSS::Category:
        ReadCategory(node);
        break;
    case TiTunesRSS::Explicit: {
        // "true" is what the directory asks publishers for today; "yes" is what it asked
        // for before, and "explicit" what some publishers write.
        const QString text = TXmlHost::NodeText(node).toLower();
        if (text == QLatin1String("yes") || text == QLatin1String("true") ||
            text == QLatin1String("explicit"))
            Explicit = ExplicitYes;
        else if (text == QLatin1String("clean"))
            Explicit = ExplicitClean;
        else
            Explicit = ExplicitNo;
        break;
    }
    case TiTunesRSS::Keywords:
        Keywords = TXmlHost::NodeText(node);
        break;
    case TiTunesRSS::Subtitle:
        Subtitle = TXmlHost::NodeText(node);
        break;
    case TiTunesRSS::Summary:
        Summary = TXmlHost::NodeText(node);
        break;
    default:
        break;
    }
    return this;
}

// Each nested chain of categories contributes its deepest level that the tree knows;
// a top-level category none of whose sub-categories is known contributes itself. The
// walk goes no deeper than the tree, whatever the nesting in the document.
void TiTunesCommonInformation::ReadCategory(const xmlNode* node) {
    const TiTunesCategory* top = MatchCategory(node, TiTunesRSS::CategoryTree());
    if (!top)
        return;
    bool appendedBelow = false;
    for (const xmlNode* child = node->children; child; child = child->next) {
        const TiTunesCategory* sub = MatchCategory(child, top->Children);
        if (!sub)
            continue;
        bool appendedDeeper = false;
        if (sub->Children.ItemCount() > 0) {
            for (const xmlNode* grandchild = child->children; grandchild;
                 grandchild = grandchild->next) {
                if (const TiTunesCategory* deeper = MatchCategory(grandchild, sub->Children)) {
                    Categories.append(deeper);
                    appendedDeeper = true;
                }
            }
        }
        if (!appendedDeeper)
            Categories.append(sub);
        appendedBelow = true;
    }
    if (!appendedBelow)
        Categories.append(top);
}

void TiTunesCommonInformation::Write(xmlDoc* document, xmlNode* parent, QByteArrayView) const {
    if (!Author.isEmpty())
        AppendITunesText(document, parent, "itunes:author", Author);
    if (Block)
        AppendITunesText(document, parent, "itunes:block", QStringLiteral("yes"));
    if (!Keywords.isEmpty())
        AppendITunesText(document, parent, "itunes:keywords", Keywords);
    if (!Subtitle.isEmpty())
        AppendITunesText(document, parent, "itunes:subtitle", Subtitle);
    if (!Summary.isEmpty())
        AppendITunesText(document, parent, "itunes:summary", Summary);
    AppendITunesText(document, parent, "itunes:explicit",
                     Explicit == ExplicitYes     ? QStringLiteral("yes")
                     : Explicit == ExplicitClean ? QStringLiteral("clean")
                                                 : QStringLiteral("no"));
    for (const TiTunesCategory* category : Categories) {
        // The chain from the top level down, nested.
        QList<const TiTunesCategory*> chain;
        for (const TiTunesCategory* level = category; level && level->Parent; level = level->Parent)
            chain.prepend(level);
        xmlNode* at = parent;
        for (const TiTunesCategory* level : chain) {
            xmlNode* element = TXmlHost::AppendChild(
                at, TXmlHost::CreateElement(document, "itunes:category", ITunesNamespaceName()));
            TXmlHost::SetAttribute(element, "text", level->Name);
            at = element;
        }
    }
}

void TiTunesCommonInformation::Clear() {
    Author.clear();
    Block = false;
    Categories.clear();
    Explicit = ExplicitNo;
    Keywords.clear();
    Subtitle.clear();
    Summary.clear();
    ResetUnresolved();
}

bool TiTunesCommonInformation::IsEmpty() const {
    return Author.isEmpty() && !Block && Categories.isEmpty() && Explicit == ExplicitNo &&
           Keywords.isEmpty() && Subtitle.isEmpty() && Summary.isEmpty();
}

// --- Channel information ---

namespace {

// An owner is mostly written as "itunes:name" and "itunes:email" elements; some
// publishers give a plain text instead.
QString OwnerText(const xmlNode* node) {
    const xmlNode* name = TXmlHost::FindChild(node, "itunes:name");
    const xmlNode* email = TXmlHost::FindChild(node, "itunes:email");
    if (!name && !email)
        return TXmlHost::NodeText(node);
    const QString nameText = TXmlHost::NodeText(name);
    const QString emailText = TXmlHost::NodeText(email);
    if (emailText.isEmpty())
        return nameText;
    if (nameText.isEmpty())
        return emailText;
    return QStringLiteral("%1 (%2)").arg(nameText, emailText);
}

} // namespace

TiTunesFeedInformation* TiTunesFeedInformation::Read(const xmlNode* node) {
    switch (TiTunesRSS::ElementCode(node)) {
    case TiTunesRSS::Image:
        KeepUnresolved(node);
        return this;
    case TiTunesRSS::NewFeedUrl:
        NewFeedUrl = TXmlHost::NodeText(node);
        return this;
    case TiTunesRSS::Owner:
        Owner = OwnerText(node);
        return this;
    default:
        return nullptr;
    }
}

void TiTunesFeedInformation::Write(xmlDoc* document, xmlNode* parent,
                                   QByteArrayView formatName) const {
    if (!NewFeedUrl.isEmpty())
        AppendITunesText(document, parent, "itunes:new-feed-url", NewFeedUrl);
    if (!Owner.isEmpty())
        AppendITunesText(document, parent, "itunes:owner", Owner);
    WriteUnresolved(parent, formatName);
}

void TiTunesFeedInformation::Clear() {
    NewFeedUrl.clear();
    Owner.clear();
    ResetUnresolved();
}

// --- Item information ---

TiTunesTopicInformation* TiTunesTopicInformation::Read(const xmlNode* node) {
    if (!TiTunesRSS::IsItemElement(node))
        return nullptr;
    Duration = TXmlHost::NodeText(node);
    return this;
}

void TiTunesTopicInformation::Write(xmlDoc* document, xmlNode* parent, QByteArrayView) const {
    if (!Duration.isEmpty())
        AppendITunesText(document, parent, "itunes:duration", Duration);
}
