#include "feeds/MediaRSS.h"

#include "feeds/NodeNames.h"

namespace {

constexpr QByteArrayView kInformationNames[] = {
    "media:adult", "media:title",  "media:thumbnail", "media:category",
    "media:hash",  "media:player", "media:credit",    "media:text",
};

QString MediaNamespace() {
    return QString::fromLatin1(MediaRssNamespace);
}

// A new element of the Media RSS namespace appended to the parent.
xmlNode* AppendMediaElement(xmlDoc* document, xmlNode* parent, QByteArrayView name) {
    return TXmlHost::AppendChild(parent, TXmlHost::CreateElement(document, name, MediaNamespace()));
}

xmlNode* AppendMediaTextElement(xmlDoc* document, xmlNode* parent, QByteArrayView name,
                                const QString& text) {
    return TXmlHost::AppendChild(
        parent, TXmlHost::CreateTextElement(document, name, text, MediaNamespace()));
}

void SetNumberUnlessMissing(xmlNode* element, QByteArrayView name, qint32 value) {
    if (value != -1)
        TXmlHost::SetAttribute(element, name, QString::number(value));
}

void SetTextUnlessEmpty(xmlNode* element, QByteArrayView name, const QString& value) {
    if (!value.isEmpty())
        TXmlHost::SetAttribute(element, name, value);
}

} // namespace

// --- Classification ---

bool MediaRSS::IsMediaItem(const xmlNode* node) {
    return NodeNames::Is(node, "media:content") || NodeNames::Is(node, "media:group");
}

bool MediaRSS::IsMediaInformation(const xmlNode* node) {
    if (!NodeNames::HasPrefix(node, "media"))
        return false;
    for (const QByteArrayView name : kInformationNames) {
        if (NodeNames::Is(node, name))
            return true;
    }
    return false;
}

bool MediaRSS::IsMediaElement(const xmlNode* node) {
    return NodeNames::HasPrefix(node, "media") && (IsMediaItem(node) || IsMediaInformation(node));
}

// --- Thumbnail and player ---

TMediaRSSElement* TMediaThumbnail::Read(const xmlNode* node) {
    if (!NodeNames::Is(node, "media:thumbnail"))
        return nullptr;
    Url = AttributeText(node, "url");
    Height = AttributeInteger(node, "height");
    Width = AttributeInteger(node, "width");
    return this;
}

xmlNode* TMediaThumbnail::Write(xmlDoc* document, xmlNode* parent, QByteArrayView) const {
    if (Url.isEmpty())
        return nullptr;
    xmlNode* element = AppendMediaElement(document, parent, "media:thumbnail");
    TXmlHost::SetAttribute(element, "url", Url);
    SetNumberUnlessMissing(element, "height", Height);
    SetNumberUnlessMissing(element, "width", Width);
    return element;
}

TMediaRSSElement* TMediaPlayer::Read(const xmlNode* node) {
    if (!NodeNames::Is(node, "media:player"))
        return nullptr;
    Url = AttributeText(node, "url");
    if (!Url.isEmpty()) {
        Height = AttributeInteger(node, "height");
        Width = AttributeInteger(node, "width");
    }
    return this;
}

xmlNode* TMediaPlayer::Write(xmlDoc* document, xmlNode* parent, QByteArrayView) const {
    if (Url.isEmpty())
        return nullptr;
    xmlNode* element = AppendMediaElement(document, parent, "media:player");
    TXmlHost::SetAttribute(element, "url", Url);
    SetNumberUnlessMissing(element, "height", Height);
    SetNumberUnlessMissing(element, "width", Width);
    return element;
}

// --- Category, credit, text ---

TMediaRSSElement* TMediaCategory::Read(const xmlNode* node) {
    if (!NodeNames::Is(node, "media:category"))
        return nullptr;
    Scheme = AttributeText(node, "scheme");
    Label = AttributeText(node, "label");
    Text = TXmlHost::NodeText(node);
    return this;
}

xmlNode* TMediaCategory::Write(xmlDoc* document, xmlNode* parent, QByteArrayView) const {
    xmlNode* element = AppendMediaTextElement(document, parent, "media:category", Text);
    SetTextUnlessEmpty(element, "scheme", Scheme);
    SetTextUnlessEmpty(element, "label", Label);
    return element;
}

TMediaRSSElement* TMediaCredit::Read(const xmlNode* node) {
    if (!NodeNames::Is(node, "media:credit"))
        return nullptr;
    Role = AttributeText(node, "role");
    Text = TXmlHost::NodeText(node);
    return this;
}

xmlNode* TMediaCredit::Write(xmlDoc* document, xmlNode* parent, QByteArrayView) const {
    xmlNode* element = AppendMediaTextElement(document, parent, "media:credit", Text);
    SetTextUnlessEmpty(element, "role", Role);
    return element;
}

TMediaRSSElement* TMediaText::Read(const xmlNode* node) {
    if (!NodeNames::Is(node, "media:text"))
        return nullptr;
    if (TXmlHost::HasAttribute(node, "type"))
        IsHtml = AttributeText(node, "type").trimmed() == QLatin1String("html");
    Text = TXmlHost::NodeText(node);
    return this;
}

xmlNode* TMediaText::Write(xmlDoc* document, xmlNode* parent, QByteArrayView) const {
    xmlNode* element = AppendMediaTextElement(document, parent, "media:text", Text);
    if (IsHtml)
        TXmlHost::SetAttribute(element, "type", QStringLiteral("html"));
    return element;
}

// --- Information ---

TMediaRSSElement* TMediaInformation::Read(const xmlNode* node) {
    if (!MediaRSS::IsMediaInformation(node))
        return nullptr;
    if (NodeNames::Is(node, "media:adult")) {
        Adult = TXmlHost::NodeText(node).toLower() == QLatin1String("true");
    } else if (NodeNames::Is(node, "media:title")) {
        Title = TXmlHost::NodeText(node);
    } else if (NodeNames::Is(node, "media:thumbnail")) {
        Thumbnail.Read(node);
    } else if (NodeNames::Is(node, "media:category")) {
        Categories.emplace_back(std::make_unique<TMediaCategory>())->Read(node);
    } else if (NodeNames::Is(node, "media:hash")) {
        Hash = TXmlHost::NodeText(node);
    } else if (NodeNames::Is(node, "media:player")) {
        Player.Read(node);
    } else if (NodeNames::Is(node, "media:credit")) {
        Credits.emplace_back(std::make_unique<TMediaCredit>())->Read(node);
    } else if (NodeNames::Is(node, "media:text")) {
        Texts.emplace_back(std::make_unique<TMediaText>())->Read(node);
    }
    return this;
}

xmlNode* TMediaInformation::Write(xmlDoc* document, xmlNode* parent,
                                  QByteArrayView formatName) const {
    if (Adult)
        AppendMediaTextElement(document, parent, "media:adult", QStringLiteral("true"));
    if (!Title.isEmpty())
        AppendMediaTextElement(document, parent, "media:title", Title);
    Thumbnail.Write(document, parent, formatName);
    for (const auto& category : Categories)
        category->Write(document, parent, formatName);
    if (!Hash.isEmpty())
        AppendMediaTextElement(document, parent, "media:hash", Hash);
    Player.Write(document, parent, formatName);
    for (const auto& credit : Credits)
        credit->Write(document, parent, formatName);
    for (const auto& text : Texts)
        text->Write(document, parent, formatName);
    return parent;
}

bool TMediaInformation::IsEmpty() const {
    return !Adult && Title.isEmpty() && Thumbnail.IsEmpty() && Player.IsEmpty() && Hash.isEmpty() &&
           Categories.empty() && Credits.empty() && Texts.empty();
}

// --- Enclosure and group ---

qint32 TEnclosure::ReadLength(const xmlNode* node, QByteArrayView attributeName) {
    const qint32 length = TXmlHost::AttributeInteger(node, attributeName, -1);
    return length < 0 ? -1 : length;
}

TMediaRSSElement* TEnclosure::Read(const xmlNode* node) {
    if (NodeNames::Is(node, "media:content")) {
        Url = AttributeText(node, "url").trimmed();
        ContentType = AttributeText(node, "type");
        Length = ReadLength(node, "fileSize");
        IsDefault = AttributeText(node, "isDefault") == QLatin1String("true");
        const QString expression = AttributeText(node, "expression");
        Expression = expression == QLatin1String("full")      ? ExpressionFull
                     : expression == QLatin1String("sample")  ? ExpressionSample
                     : expression == QLatin1String("nonstop") ? ExpressionNonstop
                                                              : ExpressionNone;
        Bitrate = AttributeInteger(node, "bitrate");
        Framerate = AttributeInteger(node, "framerate");
        Duration = AttributeInteger(node, "duration");
        Height = AttributeInteger(node, "height");
        Width = AttributeInteger(node, "width");
        for (const xmlNode* child = node->children; child; child = child->next) {
            if (!Information.Read(child))
                KeepUnresolved(child);
        }
        return this;
    }
    if (NodeNames::Is(node, "enclosure")) {
        // Addresses pasted into feeds often carry stray spaces or line breaks around them.
        Url = AttributeText(node, "url").trimmed();
        if (!Url.isEmpty()) {
            Length = ReadLength(node, "length");
            ContentType = AttributeText(node, "type");
        }
        return this;
    }
    return nullptr;
}

xmlNode* TEnclosure::Write(xmlDoc* document, xmlNode* parent, QByteArrayView formatName) const {
    xmlNode* element = AppendMediaElement(document, parent, "media:content");
    SetTextUnlessEmpty(element, "url", Url);
    SetTextUnlessEmpty(element, "type", ContentType);
    SetNumberUnlessMissing(element, "fileSize", Length);
    if (IsDefault)
        TXmlHost::SetAttribute(element, "isDefault", QStringLiteral("true"));
    static const QString expressions[] = {
        {}, QStringLiteral("full"), QStringLiteral("sample"), QStringLiteral("nonstop")};
    if (Expression >= ExpressionFull && Expression <= ExpressionNonstop)
        TXmlHost::SetAttribute(element, "expression", expressions[Expression]);
    SetNumberUnlessMissing(element, "bitrate", Bitrate);
    SetNumberUnlessMissing(element, "framerate", Framerate);
    SetNumberUnlessMissing(element, "duration", Duration);
    SetNumberUnlessMissing(element, "height", Height);
    SetNumberUnlessMissing(element, "width", Width);
    Information.Write(document, element, formatName);
    WriteUnresolved(element, formatName);
    return element;
}

TMediaRSSElement* TMediaGroup::Read(const xmlNode* node) {
    if (!NodeNames::Is(node, "media:group"))
        return nullptr;
    for (const xmlNode* child = node->children; child; child = child->next) {
        if (NodeNames::Is(child, "media:content")) {
            auto content = std::make_unique<TEnclosure>();
            content->SourceFormat = SourceFormat;
            content->Group = this;
            content->Read(child);
            Items.push_back(std::move(content));
        } else if (!Information.Read(child)) {
            KeepUnresolved(child);
        }
    }
    return this;
}

xmlNode* TMediaGroup::Write(xmlDoc* document, xmlNode* parent, QByteArrayView formatName) const {
    xmlNode* element = AppendMediaElement(document, parent, "media:group");
    for (const auto& item : Items)
        item->Write(document, element, formatName);
    Information.Write(document, element, formatName);
    WriteUnresolved(element, formatName);
    return element;
}
