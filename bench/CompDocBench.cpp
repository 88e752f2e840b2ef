// How many bytes and how much time does saving one 2 KB stream (and committing) cost in a
// document of 1,000 and of 100,000 streams? How long does opening such a file and listing
// one storage take? The engine should answer "the same" for both sizes.
//
// Outside reference: libgsf (when its development files were found at build time). It
// cannot change a file in place, so saving one stream there means writing the whole file
// anew; opening it and listing one storage is measured the same way as ours.
//
// Usage: bench_CompDoc [FOLDER] [--counts 1000,10000,100000] [--gsf-limit 10000]
#include "store/CfbFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>
#include <algorithm>
#include <vector>

#ifdef QUILLMAR_HAVE_GSF
#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input-stdio.h>
#include <gsf/gsf-outfile-msole.h>
#include <gsf/gsf-outfile.h>
#include <gsf/gsf-output-stdio.h>
#include <gsf/gsf-utils.h>
#endif

namespace {

QTextStream& out() {
    static QTextStream stream(stdout);
    return stream;
}

const QString ChannelName = QStringLiteral("f%1").arg(1, 28, 16, QChar(u' '));
QString TopicName(int n) {
    return QStringLiteral("t%1").arg(n, 28, 16, QChar(u' ')).toUpper();
}
const QByteArray Body(2048, 'b');

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double Ms(const QElapsedTimer& timer) {
    return double(timer.nsecsElapsed()) / 1e6;
}

// A document-like file: a few folders, and one channel with count topics.
double Build(const QString& path, int count) {
    QElapsedTimer timer;
    timer.start();
    auto file = cfb::File::CreatePath(path);
    const auto put = [&](uint32_t storage, const QString& name, const QByteArray& data) {
        const uint32_t s = file->CreateStream(storage, name, true);
        file->WriteStream(s, 0, data.constData(), data.size());
    };
    put(cfb::File::RootStorage, QStringLiteral(".quillmar"), QByteArray(16, 'h'));
    for (int f = 2; f <= 5; ++f) {
        const uint32_t folder = file->CreateStorage(
            cfb::File::RootStorage, QStringLiteral("f%1").arg(f, 28, 16, QChar(u' ')), false);
        put(folder, QStringLiteral(".folder"), QByteArray(60, 'f'));
    }
    const uint32_t channel = file->CreateStorage(cfb::File::RootStorage, ChannelName, false);
    put(channel, QStringLiteral(".folder"), QByteArray(60, 'f'));
    put(channel, QStringLiteral(".index"), QByteArray(3000, 'i'));
    for (int n = 1; n <= count; ++n)
        put(channel, TopicName(n), Body);
    file->Commit();
    return Ms(timer);
}

struct OpenFigures {
    double ms;
    size_t listed;
};

OpenFigures OpenAndList(const QString& path) {
    QElapsedTimer timer;
    timer.start();
    auto file = cfb::File::OpenPath(path, false, cfb::LockKind::Shared);
    const uint32_t channel = file->Find(cfb::File::RootStorage, ChannelName);
    const size_t listed = file->Children(channel).size();
    return {Ms(timer), listed};
}

struct SaveFigures {
    double ms;
    double bytes;
};

SaveFigures SaveOneStream(const QString& path, int firstNumber, int rounds) {
    std::vector<double> times, bytes;
    for (int r = 0; r < rounds; ++r) {
        QElapsedTimer timer;
        timer.start();
        auto file = cfb::File::OpenPath(path, true, cfb::LockKind::Exclusive);
        const uint32_t channel = file->Find(cfb::File::RootStorage, ChannelName);
        const uint32_t s = file->CreateStream(channel, TopicName(firstNumber + r), true);
        file->WriteStream(s, 0, Body.constData(), Body.size());
        file->Commit();
        times.push_back(Ms(timer));
        bytes.push_back(double(file->BytesWritten()));
    }
    return {Median(times), Median(bytes)};
}

#ifdef QUILLMAR_HAVE_GSF
OpenFigures GsfOpenAndList(const QString& path) {
    QElapsedTimer timer;
    timer.start();
    GsfInput* input = gsf_input_stdio_new(QFile::encodeName(path).constData(), nullptr);
    GsfInfile* root = gsf_infile_msole_new(input, nullptr);
    GsfInput* channel = gsf_infile_child_by_name(root, ChannelName.toUtf8().constData());
    size_t listed = 0;
    const int n = gsf_infile_num_children(GSF_INFILE(channel));
    for (int i = 0; i < n; ++i)
        listed += gsf_infile_name_by_index(GSF_INFILE(channel), i) != nullptr;
    const double ms = Ms(timer);
    g_object_unref(channel);
    g_object_unref(root);
    g_object_unref(input);
    return {ms, listed};
}

// Copies a storage with its children; the depth is that of a file this program wrote.
void GsfCopy(GsfInfile* from, GsfOutfile* to) {
    const int n = gsf_infile_num_children(from);
    for (int i = 0; i < n; ++i) {
        GsfInput* child = gsf_infile_child_by_index(from, i);
        const char* name = gsf_infile_name_by_index(from, i);
        const bool isStorage =
            GSF_IS_INFILE(child) && gsf_infile_num_children(GSF_INFILE(child)) >= 0;
        GsfOutput* target = gsf_outfile_new_child(to, name, isStorage);
        if (isStorage) {
            GsfCopy(GSF_INFILE(child), GSF_OUTFILE(target));
        } else {
            gsf_input_copy(child, target);
        }
        gsf_output_close(target);
        g_object_unref(target);
        g_object_unref(child);
    }
}

SaveFigures GsfSaveOneStream(const QString& path, const QString& outPath) {
    QElapsedTimer timer;
    timer.start();
    GsfInput* input = gsf_input_stdio_new(QFile::encodeName(path).constData(), nullptr);
    GsfInfile* root = gsf_infile_msole_new(input, nullptr);
    GsfOutput* output = gsf_output_stdio_new(QFile::encodeName(outPath).constData(), nullptr);
    GsfOutfile* outRoot = gsf_outfile_msole_new(output);
    // Everything is copied except the channel, which is copied with one more stream.
    const int n = gsf_infile_num_children(root);
    for (int i = 0; i < n; ++i) {
        GsfInput* child = gsf_infile_child_by_index(root, i);
        const char* name = gsf_infile_name_by_index(root, i);
        const bool isStorage = gsf_infile_num_children(GSF_INFILE(child)) >= 0;
        GsfOutput* target = gsf_outfile_new_child(GSF_OUTFILE(outRoot), name, isStorage);
        if (isStorage) {
            GsfCopy(GSF_INFILE(child), GSF_OUTFILE(target));
            if (ChannelName == QString::fromUtf8(name)) {
                GsfOutput* added = gsf_outfile_new_child(GSF_OUTFILE(target), "added", FALSE);
                gsf_output_write(added, size_t(Body.size()),
                                 reinterpret_cast<const guint8*>(Body.constData()));
                gsf_output_close(added);
                g_object_unref(added);
            }
        } else {
            gsf_input_copy(child, target);
        }
        gsf_output_close(target);
        g_object_unref(target);
        g_object_unref(child);
    }
    gsf_output_close(GSF_OUTPUT(outRoot));
    g_object_unref(outRoot);
    g_object_unref(output);
    g_object_unref(root);
    g_object_unref(input);
    const double ms = Ms(timer);
    return {ms, double(QFile(outPath).size())};
}
#endif

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    std::vector<int> counts{1000, 10000, 100000};
    int gsfLimit = 10000;
    const int limitAt = int(args.indexOf(QStringLiteral("--gsf-limit")));
    if (limitAt >= 0 && limitAt + 1 < args.size()) {
        gsfLimit = args[limitAt + 1].toInt();
        args.remove(limitAt, 2);
    }
    const int countsAt = int(args.indexOf(QStringLiteral("--counts")));
    if (countsAt >= 0 && countsAt + 1 < args.size()) {
        counts.clear();
        for (const QString& c : args[countsAt + 1].split(u','))
            counts.push_back(c.toInt());
        args.remove(countsAt, 2);
    }
    QTemporaryDir temporary(args.isEmpty() ? QDir::tempPath() + QStringLiteral("/bench-XXXXXX")
                                           : args.first() + QStringLiteral("/bench-XXXXXX"));
#ifdef QUILLMAR_HAVE_GSF
    gsf_init();
#endif
    out() << "streams | file MB | build s | open+list cold ms | open+list warm ms | "
             "save 2 KB: bytes | save 2 KB: ms";
#ifdef QUILLMAR_HAVE_GSF
    out() << " | gsf open+list ms | gsf save: bytes | gsf save: ms";
#endif
    out() << '\n';
    out().flush();
    for (int count : counts) {
        const QString path = temporary.filePath(QStringLiteral("doc-%1.bin").arg(count));
        const double built = Build(path, count);
        // A copy under another name has never been parsed by this process: a cold open.
        const QString copy = temporary.filePath(QStringLiteral("copy-%1.bin").arg(count));
        QFile::copy(path, copy);
        const OpenFigures cold = OpenAndList(copy);
        OpenAndList(path);
        const OpenFigures warm = OpenAndList(path);
        const SaveFigures save = SaveOneStream(path, count + 1, 21);
        out() << count << " | " << QString::number(double(QFile(path).size()) / 1e6, 'f', 1)
              << " | " << QString::number(built / 1000, 'f', 1) << " | "
              << QString::number(cold.ms, 'f', 1) << " | " << QString::number(warm.ms, 'f', 2)
              << " | " << qint64(save.bytes) << " | " << QString::number(save.ms, 'f', 2);
#ifdef QUILLMAR_HAVE_GSF
        // libgsf's time grows much faster than the file (minutes at 100,000 streams).
        if (count > gsfLimit) {
            out() << " | - | - | -\n";
            out().flush();
            continue;
        }
        const OpenFigures gsfOpen = GsfOpenAndList(copy);
        const SaveFigures gsfSave =
            GsfSaveOneStream(copy, temporary.filePath(QStringLiteral("gsf-%1.bin").arg(count)));
        out() << " | " << QString::number(gsfOpen.ms, 'f', 1) << " | " << qint64(gsfSave.bytes)
              << " | " << QString::number(gsfSave.ms, 'f', 1);
        if (gsfOpen.listed != cold.listed)
            out() << " (gsf listed " << gsfOpen.listed << ", we listed " << cold.listed << ")";
#endif
        out() << '\n';
        out().flush();
    }
    return 0;
}
