#pragma once
// Atom 0.3: reads documents whose root is "feed" in the Atom 0.3 namespace, with the
// Media RSS and iTunes elements of their entries, and writes Atom 0.3.

#include "feeds/Formatters.h"

class TAtomFormatter : public TFeedFormatter {
public:
    static const TFeedFormatterClass Class;

    TAtomFormatter();

    const TFeedFormatterClass& FormatterClass() const override { return Class; }
    bool CanRead() override;
    QByteArray FormatName() const override { return "Atom"; }
    void ReadChannel(TChannelInfo& channel) override;
    void FirstTopic() override;
    bool NextTopic() override;
    void ReadTopic(FeedDoc::TTopic& topic) override;
    xmlNode* WriteRoot(TFeed& feed) override;
    xmlNode* WriteChannel(xmlNode* root, TChannelInfo& channel) override;
    xmlNode* WriteTopic(xmlNode* channelNode, FeedDoc::TTopic& topic) override;
};
