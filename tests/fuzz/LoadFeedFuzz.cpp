// Loads arbitrary bytes as a feed the way a channel refresh does and, when they are one,
// writes the model back with every formatter and checks that each result loads again.
#include "feeds/ChannelLoader.h"
#include "feeds/FeedDoc.h"
#include "feeds/Formatters.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TFeed feed;
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    if (!TChannelLoader::LoadFeed(bytes, feed))
        return 0;
    for (const TFeedFormatterClass* formatterClass : FeedFormatterClasses()) {
        const QByteArray written = formatterClass->Create()->SaveToBytes(feed, 0);
        TFeed again;
        if (!TChannelLoader::LoadFeed(written, again))
            std::abort(); // a formatter wrote something no formatter reads
        if (again.Topics.size() != feed.Topics.size())
            std::abort(); // topics were lost or made up on the way
    }
    return 0;
}
