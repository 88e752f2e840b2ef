// What do the document's everyday operations cost with a large store: 1,000 channels
// and about 100,000 topics? Opening the document and building the tree, loading one
// index of 10,000 entries, and marking one topic read (time and bytes written).
//
//   bench_Store [DIR [CHANNELS]]   generates the document in DIR (default: a temporary
//                            folder; CHANNELS default 1000) unless it is there, then runs
//                            each measurement in a fresh process
//   bench_Store open DIR     one measurement on an existing document
//   bench_Store index DIR
//   bench_Store mark DIR
//
// Peak memory is the process's VmHWM; the "before" figure is the same process before it
// touched the document (the Qt libraries and the program's code).

#include "store/CompDoc.h"
#include "store/QuillmarDoc.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>

namespace {

int ChannelCount = 1000;
constexpr int FolderCount = 50;
constexpr int BigIndex = 10000; // entries in the first channel
constexpr int SmallIndex = 91;  // entries in each other channel

double Ms(const QElapsedTimer& timer) {
    return double(timer.nsecsElapsed()) / 1e6;
}

// A figure of /proc/self/status ("VmHWM") or /proc/self/io ("wchar"), in its own unit.
qint64 ProcValue(const char* file, const QByteArray& name) {
    QFile f(QString::fromLatin1(file));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n')) {
        if (line.startsWith(name + ':'))
            return line.mid(name.size() + 1).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

qint64 PeakKiB() {
    return ProcValue("/proc/self/status", "VmHWM");
}

qint64 BytesWritten() {
    return ProcValue("/proc/self/io", "wchar");
}

QString Description(int i) {
    return QStringLiteral("<p>Topic %1 tells a story of about four hundred characters, the "
                          "length of a short feed item, with <a href=\"http://example.com/%1\">a "
                          "link</a> and a few words more so that the body is not trivially "
                          "small. It goes on with a second sentence that says nothing in "
                          "particular and a third that ends the paragraph.</p>")
        .arg(i);
}

void Generate(const QString& dir) {
    QElapsedTimer timer;
    timer.start();
    TQuillmarDoc doc(dir);
    doc.OpenDocument();
    QList<TFolder*> folders;
    doc.Operation([&] {
        for (int f = 0; f < FolderCount; ++f) {
            TFolder* folder = doc.CreateFolder(nullptr);
            folder->SetTitle(QStringLiteral("Folder %1").arg(f));
            doc.SaveFolder(*folder);
            folders.append(folder);
        }
    });
    int topics = 0;
    for (int c = 0; c < ChannelCount; ++c) {
        // One commit per channel, as one import is.
        doc.Operation([&] {
            TChannel* channel = doc.CreateChannel(folders[c % FolderCount]);
            channel->SetTitle(QStringLiteral("Channel %1").arg(c));
            channel->SetUrl(QStringLiteral("http://example.com/feed/%1").arg(c));
            const int count = c == 0 ? BigIndex : SmallIndex;
            for (int t = 0; t < count; ++t) {
                auto topic = std::make_unique<QuillmarDocCore::TTopic>(channel);
                topic->SetTitle(QStringLiteral("Topic %1 of channel %2").arg(t).arg(c));
                topic->Link = QStringLiteral("http://example.com/%1/%2").arg(c).arg(t);
                topic->SetDescription(Description(t));
                const QByteArray key = topic->Key();
                TTopicIndex* entry = channel->AddTopicIndex(key, std::move(topic));
                entry->StreamName = doc.NewTopicName(*channel);
                doc.WriteTopic(*entry);
                channel->KnownKeys.SetItem(key, 1);
                ++topics;
            }
            channel->ResetUnreadCount(count);
            doc.SaveIndex(*channel);
            doc.SaveChannel(*channel);
            channel->ClearTopics(false); // released, as the refresh cycle does
        });
        if (c % 100 == 99)
            std::fprintf(stderr, "  %d channels, %d topics, %.0f s\n", c + 1, topics,
                         Ms(timer) / 1000);
    }
    std::printf("generated %d channels in %d folders, %d topics: %.1f s, file %.1f MB\n",
                ChannelCount, FolderCount, topics, Ms(timer) / 1000,
                double(QFileInfo(doc.FileName()).size()) / 1e6);
}

// The first channel (10,000 entries) and a channel of 91.
TChannel* FindChannel(TQuillmarDoc& doc, int number) {
    const QString title = QStringLiteral("Channel %1").arg(number);
    for (int f = 0; f < doc.Root()->FolderCount(); ++f) {
        TFolder* folder = doc.Root()->Folders(f);
        for (int c = 0; c < folder->ChannelCount(); ++c) {
            if (folder->Channels(c)->Title() == title)
                return folder->Channels(c);
        }
    }
    return nullptr;
}

int Open(const QString& dir) {
    const qint64 before = PeakKiB();
    QElapsedTimer timer;
    timer.start();
    TQuillmarDoc doc(dir);
    {
        // The compound file's own parse, kept by the engine for the document's open below.
        TRootStorage root(doc.FileName(), StgAccessRead, StgShareDenyWrite, false, false);
    }
    const double parseMs = Ms(timer);
    const qint64 parsedKiB = PeakKiB();
    doc.OpenDocument();
    int channels = 0;
    for (int f = 0; f < doc.Root()->FolderCount(); ++f)
        channels += doc.Root()->Folders(f)->ChannelCount();
    const double ms = Ms(timer);
    std::printf("open and build the tree: %.1f ms, %d channels (parsing the compound file "
                "%.1f ms, reading the tree %.1f ms);\n  peak memory %.1f MiB (%.1f MiB "
                "before opening, %.1f MiB after parsing)\n",
                ms, channels, parseMs, ms - parseMs, PeakKiB() / 1024.0, before / 1024.0,
                parsedKiB / 1024.0);
    return 0;
}

int Index(const QString& dir) {
    TQuillmarDoc doc(dir);
    doc.OpenDocument();
    TChannel* big = FindChannel(doc, 0);
    const qint64 before = PeakKiB();
    QElapsedTimer timer;
    timer.start();
    doc.EnsureIndexLoaded(*big);
    const double ms = Ms(timer);
    const qint64 after = PeakKiB();
    big->ClearTopics(false);
    timer.restart();
    doc.EnsureIndexLoaded(*big);
    const double againMs = Ms(timer);
    std::printf("load an index of %d entries: %.1f ms (%.1f ms the second time); peak memory "
                "%.1f MiB (%.1f MiB before)\n",
                big->TopicIndexCount(), ms, againMs, after / 1024.0, before / 1024.0);
    return 0;
}

int Mark(const QString& dir) {
    TQuillmarDoc doc(dir);
    doc.OpenDocument();
    for (int number : {1, 0}) {
        TChannel* channel = FindChannel(doc, number);
        QElapsedTimer timer;
        timer.start();
        doc.EnsureIndexLoaded(*channel);
        const double loadMs = Ms(timer);
        TTopicIndex* entry = nullptr;
        channel->RestartTopics();
        channel->NextTopic(entry);
        const bool read = !entry->Read;
        const qint64 written = BytesWritten();
        timer.restart();
        doc.MarkTopics(*channel, {entry}, read);
        const double markMs = Ms(timer);
        const qint64 bytes = BytesWritten() - written;
        std::printf("mark one topic read in a channel of %d topics: %.1f ms, %lld bytes "
                    "written (loading its index first: %.1f ms)\n",
                    channel->TopicIndexCount(), markMs, static_cast<long long>(bytes), loadMs);
    }
    return 0;
}

int RunPhase(const QString& phase, const QString& dir) {
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    child.start(QCoreApplication::applicationFilePath(), {phase, dir});
    child.waitForFinished(-1);
    return child.exitCode();
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    try {
        if (args.size() == 2 && args[0] == QStringLiteral("open"))
            return Open(args[1]);
        if (args.size() == 2 && args[0] == QStringLiteral("index"))
            return Index(args[1]);
        if (args.size() == 2 && args[0] == QStringLiteral("mark"))
            return Mark(args[1]);
        QTemporaryDir temporary;
        const QString dir = args.isEmpty() ? temporary.path() : args[0];
        if (args.size() > 1)
            ChannelCount = std::max(1, args[1].toInt());
        QDir().mkpath(dir);
        if (!QFileInfo::exists(QDir(dir).filePath(QStringLiteral("Reader.bin"))))
            Generate(dir);
        std::fflush(stdout);
        int failed = 0;
        for (const QString& phase :
             {QStringLiteral("open"), QStringLiteral("index"), QStringLiteral("mark")})
            failed |= RunPhase(phase, dir);
        return failed;
    } catch (const Exception& e) {
        std::fprintf(stderr, "bench_Store: %s\n", e.what());
        return 1;
    }
}
