#pragma once
// RSS: reads RSS 0.9x and 2.0 (root "rss") and RSS 1.0 (root "rdf:RDF" in the RSS 1.0
// namespace), with the Dublin Core, content, Media RSS and iTunes elements of their
// channels and items; writes RSS 2.0.

#include "feeds/Formatters.h"

class TRSSFormatter : public TFeedFormatter {
public:
    static const TFeedFormatterClass Class;

    const TFeedFormatterClass& FormatterClass() const override { return Class; }
    bool CanRead() override;
    QByteArray FormatName() const override;
    void ReadChannel(TChannelInfo& channel) override;
    void FirstTopic() override;
    bool NextTopic() override;
    void ReadTopic(FeedDoc::TTopic& topic) override;
    xmlNode* WriteRoot(TFeed& feed) override;
    xmlNode* WriteChannel(xmlNode* root, TChannelInfo& channel) override;
    xmlNode* WriteTopic(xmlNode* channelNode, FeedDoc::TTopic& topic) override;
    void SaveToStream(QIODevice& stream, TFeed& feed, int maxTopics) override;

private:
    // The document is RSS 1.0: items and image are children of the root.
    bool IsRdf() const;
    void ReadImage(const xmlNode* image, TChannelInfo& channel);
};
