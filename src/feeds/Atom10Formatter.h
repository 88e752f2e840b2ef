#pragma once
// Atom 1.0: reads documents whose root is "feed" in the Atom 1.0 namespace, with the
// Media RSS and iTunes elements of their entries, and writes Atom 1.0.

#include "feeds/Formatters.h"

class TAtom10Formatter : public TFeedFormatter {
public:
    static const TFeedFormatterClass Class;

    TAtom10Formatter();

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
