// "storage ls", "storage cat", "storage check": a look inside a compound file (the
// document file or any other), read-only; "storage compact" rewrites one without its
// free space.
#include "CliCommand.h"
#include "store/CfbCheck.h"
#include "store/CfbFile.h"
#include "store/CompDoc.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <cstdio>

namespace {

std::unique_ptr<cfb::File> OpenForReading(const QString& fileName) {
    QString reason;
    const cfb::Status probe = cfb::File::Probe(fileName, &reason);
    if (probe == cfb::Status::False)
        throw CliError(QStringLiteral("%1 is not a compound file: %2").arg(fileName, reason));
    if (probe != cfb::Status::Ok)
        throw CliError(reason); // the reason names the file already
    try {
        return cfb::File::OpenPath(fileName, false, cfb::LockKind::Shared);
    } catch (const cfb::Error& e) {
        throw CliError(QStringLiteral("cannot open %1: %2").arg(fileName, e.Message()));
    }
}

// "a/b/c" or "a\b\c" from the root; an empty path is the root itself. Names keep their
// spaces, so only the separators split them.
uint32_t Resolve(cfb::File& file, const QString& path, QString* shown = nullptr) {
    uint32_t at = cfb::File::RootStorage;
    QString walked;
    const QStringList parts = QString(path).replace(u'\\', u'/').split(u'/', Qt::SkipEmptyParts);
    for (qsizetype i = 0; i < parts.size(); ++i) {
        if (!file.EntryAt(at).IsStorage())
            throw CliError(QStringLiteral("\"%1\" is a stream, not a storage").arg(walked));
        const uint32_t next = file.Find(at, parts[i]);
        if (next == cfb::NoEntry)
            throw CliError(
                walked.isEmpty()
                    ? QStringLiteral("there is no element \"%1\"").arg(parts[i])
                    : QStringLiteral("there is no element \"%1\" in \"%2\"").arg(parts[i], walked));
        walked += (walked.isEmpty() ? QString() : QStringLiteral("/")) + parts[i];
        at = next;
    }
    if (shown)
        *shown = walked;
    return at;
}

int RunList(CliArgs& args) {
    const bool json = args.Flag(QStringLiteral("--json"));
    const QStringList positional = args.Positional(1, 2);
    auto file = OpenForReading(positional[0]);
    try {
        const uint32_t storage = Resolve(*file, positional.value(1));
        if (!file->EntryAt(storage).IsStorage())
            throw CliError(QStringLiteral("\"%1\" is a stream, not a storage").arg(positional[1]));
        QJsonArray list;
        for (uint32_t child : file->Children(storage)) {
            const cfb::Entry& e = file->EntryAt(child);
            const bool isStorage = e.type == cfb::EntryType::Storage;
            const qint64 size = isStorage ? 0 : qint64(file->StreamSize(child));
            if (json) {
                list.append(
                    QJsonObject{{QStringLiteral("name"), e.name},
                                {QStringLiteral("type"),
                                 isStorage ? QStringLiteral("storage") : QStringLiteral("stream")},
                                {QStringLiteral("size"), size}});
            } else {
                // The name comes last and whole: names may hold spaces.
                Out() << (isStorage ? 'd' : '-') << ' ' << QString::number(size).rightJustified(10)
                      << "  " << e.name << '\n';
            }
        }
        if (json)
            PrintJson(QJsonDocument(list));
    } catch (const cfb::Error& e) {
        throw CliError(QStringLiteral("cannot list %1: %2").arg(positional[0], e.Message()));
    }
    return 0;
}

int RunCat(CliArgs& args) {
    const QStringList positional = args.Positional(2, 2);
    auto file = OpenForReading(positional[0]);
    Out().flush();
    QFile out;
    if (!out.open(stdout, QIODevice::WriteOnly))
        throw CliError(QStringLiteral("cannot write to standard output"));
    try {
        const uint32_t stream = Resolve(*file, positional[1]);
        if (file->EntryAt(stream).type != cfb::EntryType::Stream)
            throw CliError(QStringLiteral("\"%1\" is not a stream").arg(positional[1]));
        file->StreamChain(stream); // a size the file cannot hold fails before reading
        const uint64_t size = file->StreamSize(stream);
        QByteArray buffer(64 * 1024, '\0');
        for (uint64_t at = 0; at < size;) {
            const int64_t n = file->ReadStream(stream, at, buffer.data(), buffer.size());
            if (n <= 0)
                break;
            if (out.write(buffer.constData(), n) != n)
                throw CliError(QStringLiteral("cannot write to standard output"));
            at += uint64_t(n);
        }
    } catch (const cfb::Error& e) {
        throw CliError(QStringLiteral("cannot read %1: %2").arg(positional[1], e.Message()));
    }
    out.flush();
    return 0;
}

int RunCheck(CliArgs& args) {
    const QStringList positional = args.Positional(1, 1);
    const QString& fileName = positional[0];
    std::unique_ptr<cfb::FileIo> io;
    try {
        io = cfb::FileIo::Open(fileName, false, cfb::LockKind::Shared);
    } catch (const cfb::Error& e) {
        // Not 1: that says the file was read and is damaged. The reason names the file.
        throw CliError(e.Reason(), 2);
    }
    const cfb::CheckReport report = cfb::CheckCompoundFile(*io);
    for (const QString& line : report.damage)
        Out() << "damage: " << line << '\n';
    for (const QString& line : report.notes)
        Out() << "note: " << line << '\n';
    if (report.Damaged()) {
        Out() << fileName << ": damaged (" << report.damage.size() << " fault"
              << (report.damage.size() == 1 ? "" : "s") << ")\n";
        return 1;
    }
    Out() << fileName << ": no damage found; " << report.storages << " storages, " << report.streams
          << " streams, " << report.sectors << " sectors of " << report.sectorSize << " bytes, "
          << report.freeSectors << " free\n";
    return 0;
}

int RunCompact(CliArgs& args) {
    double minimumFreeShare = 0.25;
    if (const std::optional<QString> share = args.Option(QStringLiteral("--min-free"))) {
        bool ok = false;
        minimumFreeShare = share->toDouble(&ok);
        if (!ok || minimumFreeShare < 0 || minimumFreeShare >= 1)
            throw CliError(QStringLiteral("--min-free takes a share from 0 to 0.99"), 2);
    }
    const QString fileName = args.Positional(1, 1)[0];
    const qint64 before = QFileInfo(fileName).size();
    if (!CompactStorageFile(fileName, minimumFreeShare)) {
        Out() << fileName << ": left as it is (" << before << " bytes)\n";
        return 0;
    }
    Out() << fileName << ": rewritten, " << before << " bytes before, "
          << QFileInfo(fileName).size() << " after\n";
    return 0;
}

CliRegistration g_list{{QStringLiteral("storage ls"), QStringLiteral("FILE [PATH] [--json]"),
                        QStringLiteral("List the storages and streams of a compound file"),
                        QStringLiteral("PATH names a storage from the root, its parts separated "
                                       "by / or \\.\nEach line shows d (storage) or - (stream), "
                                       "the size in bytes and the name,\nwhich runs to the end "
                                       "of the line (names may hold spaces)."),
                        &RunList}};
CliRegistration g_cat{{QStringLiteral("storage cat"), QStringLiteral("FILE PATH"),
                       QStringLiteral("Write one stream of a compound file to standard output"),
                       QStringLiteral("PATH names the stream from the root, its parts separated "
                                      "by / or \\."),
                       &RunCat}};
CliRegistration g_check{
    {QStringLiteral("storage check"), QStringLiteral("FILE"),
     QStringLiteral("Walk every chain and tree of a compound file and report damage"),
     QStringLiteral("Exit code 0 when no damage was found, 1 when the file is damaged, 2 when\n"
                    "it cannot be read at all (missing, not a file, locked by a writer).\nLines "
                    "starting with \"damage:\" are faults; \"note:\" lines are harmless."),
     &RunCheck}};
CliRegistration g_compact{
    {QStringLiteral("storage compact"), QStringLiteral("FILE [--min-free SHARE]"),
     QStringLiteral("Rewrite a closed compound file without its free space"),
     QStringLiteral("The file is rewritten under a temporary name and put in place of the old\n"
                    "one only when more than SHARE of it is free (default 0.25, the share the\n"
                    "program uses at exit; 0 rewrites any file with free space). A file that\n"
                    "is open elsewhere is left alone and the command fails."),
     &RunCompact}};

} // namespace
