// What does merging a feed into a channel cost, and does it depend on how much else the
// document holds? A 1,000-item RSS feed is imported into a new, empty channel; then the
// same feed with 10 new items; then that feed once more (nothing new). Each import is
// timed and its bytes written are counted (the process's write(2) total), in documents
// that already hold about 1,000 and about 100,000 topics in other channels.
//
//   bench_ChannelImport [TOPICS...]   background sizes (default 1000 100000); each size
//                                     runs in its own process on a fresh document
//   bench_ChannelImport run TOPICS    one size

#include "feeds/ChannelLoader.h"
#include "feeds/FeedDoc.h"
#include "store/QuillmarDoc.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>

namespace {

constexpr int TopicsPerBackgroundChannel = 1000;

double Ms(const QElapsedTimer& timer) {
    return double(timer.nsecsElapsed()) / 1e6;
}

qint64 BytesWritten() {
    QFile io(QStringLiteral("/proc/self/io"));
    if (!io.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : io.readAll().split('\n')) {
        if (line.startsWith("wchar:"))
            return line.mid(6).trimmed().toLongLong();
    }
    return -1;
}

QByteArray Feed(int items, const QByteArray& prefix) {
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?><rss version=\"2.0\"><channel>"
                     "<title>Bench</title><link>http://example.com/</link>"
                     "<description>d</description>";
    for (int i = 1; i <= items; ++i) {
        const QByteArray n = QByteArray::number(i);
        xml += "<item><title>Item " + n + "</title><link>http://example.com/" + prefix + n +
               "</link><guid>" + prefix + n + "</guid><description>&lt;p&gt;Item " + n +
               " tells a story of about four hundred characters, the length of a short feed "
               "item, with &lt;a href=\"http://example.com/\"&gt;a link&lt;/a&gt; and a few "
               "words more so that the body is not trivially small. It goes on with a second "
               "sentence that says nothing in particular and a third that ends the "
               "paragraph.&lt;/p&gt;</description>"
               "<pubDate>Mon, 01 Apr 2024 10:00:00 GMT</pubDate></item>";
    }
    return xml + "</channel></rss>";
}

void Generate(TQuillmarDoc& doc, int topics) {
    const QByteArray feed = Feed(TopicsPerBackgroundChannel, "bg-");
    for (int made = 0; made < topics; made += TopicsPerBackgroundChannel) {
        TChannel* channel = doc.CreateChannel(nullptr);
        channel->SetUrl(QStringLiteral("http://example.com/background/%1").arg(made));
        int stored = 0;
        TChannelLoader::ImportChannel(feed, doc, *channel, stored);
        channel->ClearTopics(false); // released, as the refresh cycle does
    }
}

struct Figures {
    int stored = 0;
    double ms = 0;
    qint64 bytes = 0;
};

Figures Import(TQuillmarDoc& doc, TChannel& channel, const QByteArray& feed) {
    Figures f;
    const qint64 before = BytesWritten();
    QElapsedTimer timer;
    timer.start();
    TChannelLoader::ImportChannel(feed, doc, channel, f.stored);
    f.ms = Ms(timer);
    f.bytes = BytesWritten() - before;
    return f;
}

int Run(int backgroundTopics) {
    QTemporaryDir dir;
    QElapsedTimer timer;
    timer.start();
    {
        TQuillmarDoc doc(dir.path());
        doc.OpenDocument();
        Generate(doc, backgroundTopics);
    }
    const double generateMs = Ms(timer);

    // A fresh document object, as after a restart: only the tree is read.
    TQuillmarDoc doc(dir.path());
    doc.OpenDocument();
    TChannel* channel = doc.CreateChannel(nullptr);
    channel->SetUrl(QStringLiteral("http://example.com/measured"));
    doc.SaveChannel(*channel);

    const QByteArray first = Feed(1000, "item-");
    QByteArray tenMore = Feed(1010, "item-");
    QElapsedTimer parse;
    parse.start();
    {
        TFeed feed;
        TChannelLoader::LoadFeed(tenMore, feed);
    }
    const double parseMs = Ms(parse);

    const Figures a = Import(doc, *channel, first);
    const Figures b = Import(doc, *channel, tenMore);
    const Figures c = Import(doc, *channel, tenMore);
    std::printf("document of %d other topics (generated in %.1f s, file %.1f MB):\n",
                backgroundTopics, generateMs / 1000,
                double(QFileInfo(doc.FileName()).size()) / 1e6);
    std::printf("  1,000 items into an empty channel: %4d new, %7.1f ms, %9lld bytes written\n",
                a.stored, a.ms, static_cast<long long>(a.bytes));
    std::printf("  the same with 10 new items:        %4d new, %7.1f ms, %9lld bytes written\n",
                b.stored, b.ms, static_cast<long long>(b.bytes));
    std::printf("  that feed again, nothing new:      %4d new, %7.1f ms, %9lld bytes written\n",
                c.stored, c.ms, static_cast<long long>(c.bytes));
    std::printf("  (parsing the 1,010-item feed alone: %.1f ms)\n", parseMs);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    try {
        if (args.size() == 2 && args[0] == QStringLiteral("run"))
            return Run(args[1].toInt());
        QStringList sizes = args;
        if (sizes.isEmpty())
            sizes = {QStringLiteral("1000"), QStringLiteral("100000")};
        int failed = 0;
        for (const QString& size : sizes) {
            QProcess child;
            child.setProcessChannelMode(QProcess::ForwardedChannels);
            child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("run"), size});
            child.waitForFinished(-1);
            failed |= child.exitCode();
        }
        return failed;
    } catch (const Exception& e) {
        std::fprintf(stderr, "bench_ChannelImport: %s\n", e.what());
        return 1;
    }
}
