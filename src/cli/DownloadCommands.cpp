// download URL FILE: one file through the file downloader, resuming a partial FILE.
#include "CliCommand.h"
#include "net/Downloader.h"

#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <cstdio>
#include <unistd.h>

namespace {

// Progress on stderr: a line that rewrites itself on a terminal, otherwise a line
// per tenth of the file (or per megabyte when the size is unknown).
class TProgressPrinter {
public:
    explicit TProgressPrinter(qint64 alreadyThere)
        : m_done(alreadyThere), m_terminal(isatty(fileno(stderr)) != 0) {}

    void Report(quint16 kind, quint32 value) {
        switch (kind) {
        case TDownloader::kindSizeAnnounced:
            m_size = value == TDownloader::kUnknownSize ? -1 : qint64(value);
            Err() << (m_size < 0 ? QStringLiteral("Size: unknown")
                                 : QStringLiteral("Size: %1 bytes").arg(m_size))
                  << '\n';
            break;
        case TDownloader::kindRestarted:
            endLine();
            Err() << "The server sends the whole file: starting again from the first byte\n";
            m_done = 0;
            m_lastStep = -1;
            break;
        case TDownloader::kindBytesOfKnownSize:
        case TDownloader::kindBytesOfUnknownSize:
            m_done += value;
            show();
            break;
        default:
            break;
        }
        Err().flush();
    }

    void Finish() {
        endLine();
        Err().flush();
    }

private:
    void show() {
        if (m_size > 0) {
            const int percent = int(qMin<qint64>(100, m_done * 100 / m_size));
            if (m_terminal) {
                Err() << QStringLiteral("\r%1 of %2 bytes (%3%)")
                             .arg(m_done)
                             .arg(m_size)
                             .arg(percent);
                m_lineOpen = true;
            } else if (percent / 10 != m_lastStep) {
                m_lastStep = percent / 10;
                Err() << QStringLiteral("%1 of %2 bytes (%3%)\n")
                             .arg(m_done)
                             .arg(m_size)
                             .arg(percent);
            }
            return;
        }
        if (m_terminal) {
            Err() << QStringLiteral("\r%1 bytes").arg(m_done);
            m_lineOpen = true;
        } else if (m_done / (1024 * 1024) != m_lastStep) {
            m_lastStep = m_done / (1024 * 1024);
            Err() << QStringLiteral("%1 bytes\n").arg(m_done);
        }
    }

    void endLine() {
        if (m_lineOpen)
            Err() << '\n';
        m_lineOpen = false;
    }

    qint64 m_size = -1;
    qint64 m_done;
    qint64 m_lastStep = -1;
    const bool m_terminal;
    bool m_lineOpen = false;
};

int RunDownload(CliArgs& args) {
    const int timeoutMs =
        args.MillisecondsOption(QStringLiteral("--timeout"), TDownloader::kDefaultTimeoutMs);
    const QStringList p = args.Positional(2, 2);
    const QByteArray address = p[0].toUtf8();
    const QString path = p[1];

    const bool existed = QFileInfo::exists(path);
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite))
        throw CliError(QStringLiteral("cannot open %1: %2").arg(path, file.errorString()));
    const qint64 offset = file.size();
    if (offset > 0)
        Err() << "Resuming at byte " << offset << '\n';

    TDownloader downloader(&file, address, 0);
    downloader.ResumeOffset = offset;
    downloader.TimeoutMs = timeoutMs;
    TProgressPrinter printer(offset);
    QEventLoop loop;
    QObject::connect(&downloader, &TOperationThread::OperationProgress, &loop,
                     [&](quint16 kind, quint16, quint32 value) {
                         printer.Report(kind, value);
                         if (kind == TOperationThread::kindFinished)
                             loop.quit();
                     });
    downloader.start();
    loop.exec();
    downloader.wait();
    printer.Finish();

    const qint64 kept = file.size();
    file.close();
    if (downloader.Failed() || !downloader.Completed()) {
        // A file this command created and nothing was written to is no partial file.
        if (!existed && kept == 0)
            QFile::remove(path);
        const QString reason = downloader.ErrorMessage().isEmpty()
                                   ? QStringLiteral("the download was stopped")
                                   : downloader.ErrorMessage();
        throw CliError(kept > 0 ? QStringLiteral("%1; %2 bytes kept in %3 for the next try")
                                      .arg(reason)
                                      .arg(kept)
                                      .arg(path)
                                : reason);
    }
    Out() << path << ": " << kept << " bytes\n";
    return 0;
}

const CliRegistration reg{
    {QStringLiteral("download"), QStringLiteral("URL FILE [--timeout SECONDS]"),
     QStringLiteral("Download one file, resuming a partial FILE"),
     QStringLiteral(
         "Asks the server for the file's size (HEAD), then fetches it (GET). When FILE\n"
         "already holds the start of the file, only the rest is asked for; a server that\n"
         "sends the whole file anyway makes FILE start again from its first byte.\n"
         "Progress goes to stderr, the file's name and size to stdout. On failure the\n"
         "exit code is 1 and what arrived stays in FILE for the next try.\n\n"
         "Options:\n"
         "  --timeout SECONDS   longest silence allowed from the server (default 10)"),
     &RunDownload}};

} // namespace
