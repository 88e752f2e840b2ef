#include "QuillmarInstance.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QPointer>
#include <QStandardPaths>
#include <QThread>
#include <QtEndian>
#include <cstring>

#ifdef Q_OS_UNIX
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#endif

const char* const TQuillmar::MutexName = "Quillmar.{B7CEC90E-B1F8-43CD-AFFF-CCA64818FB61}";
const char* const TQuillmar::MappingName = "Quillmar.{55DAF62D-3811-4308-B13A-A6E902A9E0F8}";
const char* const TQuillmar::UrlPendingName = "Quillmar.{9A5F22BC-C87D-4E39-96EE-AEB8A67B49DD}";
const char* const TQuillmar::ShowInstanceName = "Quillmar.{80618A53-C7E6-444B-9D08-D8ADAC135DD6}";
const char* const TQuillmar::AfterShowName = "Quillmar.{35AD1ABA-3878-4E15-8F93-E7C041C97A5B}";

namespace {

TQuillmar* g_instance = nullptr;

// A message line never gets near this; anything longer is not one of ours.
constexpr qint64 MaxMessageLine = 256;

QString UserRuntimeFolder() {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath() + QStringLiteral("/quillmar-") + qEnvironmentVariable("USER");
    return folder;
}

} // namespace

TQuillmar& TQuillmar::CreateInstance(const QStringList& arguments) {
    if (!g_instance)
        g_instance = new TQuillmar(arguments);
    return *g_instance;
}

TQuillmar& TQuillmar::Instance() {
    if (!g_instance) {
        const QStringList args =
            QCoreApplication::instance() ? QCoreApplication::arguments().mid(1) : QStringList{};
        g_instance = new TQuillmar(args);
    }
    return *g_instance;
}

void TQuillmar::DestroyInstance() {
    delete g_instance;
    g_instance = nullptr;
}

TQuillmar::TQuillmar(const QStringList& arguments, const QString& runtimeFolder)
    : m_runtimeFolder(runtimeFolder.isEmpty() ? UserRuntimeFolder() : runtimeFolder) {
    QDir().mkpath(m_runtimeFolder);
    m_lock = std::make_unique<QLockFile>(m_runtimeFolder + u'/' + QLatin1String(MutexName) +
                                         QStringLiteral(".lock"));
    // Staleness is decided by the owner's process id alone, never by the lock's age.
    m_lock->setStaleLockTime(0);
    bool owner = m_lock->tryLock(0);
    // A lock that cannot be taken for another reason (no runtime folder) counts as
    // "the mutex could not be created": this process runs as a first instance.
    m_alreadyRunning = !owner && m_lock->error() == QLockFile::LockFailedError;
    openSharedBlock(owner);
    parseCommandLine(arguments);
}

TQuillmar::~TQuillmar() {
    if (m_server)
        m_server->close();
#ifdef Q_OS_UNIX
    if (m_clientSocket >= 0)
        ::close(m_clientSocket);
#endif
    m_lock.reset();
    if (m_view)
        m_blockFile->unmap(m_view);
    m_blockFile.reset();
}

void TQuillmar::openSharedBlock(bool owner) {
    auto file = std::make_unique<QFile>(m_runtimeFolder + u'/' + QLatin1String(MappingName));
    if (!file->open(QIODevice::ReadWrite))
        return;
    file->setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    if (file->size() != BlockSize) {
        if (!file->resize(BlockSize))
            return;
        file->close(); // reopen so the file's new size is what the mapping sees
        if (!file->open(QIODevice::ReadWrite))
            return;
    }
    m_view = file->map(0, BlockSize);
    if (!m_view)
        return;
    m_blockFile = std::move(file);
    // The lock's owner is the block's creator: whatever a crashed instance left in the
    // block is gone, as a system mapping would be once its last process ended.
    if (owner)
        qToLittleEndian<quint32>(0, m_view);
}

void TQuillmar::parseCommandLine(const QStringList& arguments) {
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& a = arguments[i];
        if (a.compare(QStringLiteral("/ui"), Qt::CaseInsensitive) == 0 ||
            a == QStringLiteral("--ui")) {
            m_showUserInterface = true;
        } else if (a.compare(QStringLiteral("/add"), Qt::CaseInsensitive) == 0 ||
                   a == QStringLiteral("--add")) {
            if (i + 1 >= arguments.size())
                break;
            const QString next = arguments[++i];
            if (next.left(7).toLower() != QStringLiteral("reader:"))
                continue;
            QString url = next.mid(7);
            if (url.startsWith(u'/'))
                url.prepend(QStringLiteral("http:"));
            SetPendingUrl(url.toUtf8());
        }
    }
}

QByteArray TQuillmar::GetPendingUrl() {
    if (!m_cachedUrl.isEmpty() || !m_view)
        return m_cachedUrl;
    // Never read past the block, whatever length another process left there.
    const quint32 n = std::min<quint32>(qFromLittleEndian<quint32>(m_view), MaxUrlLength);
    m_cachedUrl = QByteArray(reinterpret_cast<const char*>(m_view) + 4, int(n));
    return m_cachedUrl;
}

void TQuillmar::SetPendingUrl(const QByteArray& url) {
    m_cachedUrl.clear();
    if (!m_view) {
        // Without a block nothing can be announced, but this process keeps its own URL.
        m_cachedUrl = url;
        return;
    }
    const quint32 n = std::min<quint32>(url.size(), MaxUrlLength);
    qToLittleEndian<quint32>(n, m_view);
    if (n == 0)
        return;
    std::memcpy(m_view + 4, url.constData(), n);
    m_cachedUrl = url;
    if (m_alreadyRunning)
        broadcast(UrlPendingName);
}

void TQuillmar::ActivateRunningInstance() {
    broadcast(ShowInstanceName);
}

QString TQuillmar::GetProgramFolder() {
    return QCoreApplication::instance()
               ? QCoreApplication::applicationDirPath()
               : QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath();
}

QString TQuillmar::GetWebFolder() {
    return GetProgramFolder() + QStringLiteral("/web/");
}

void TQuillmar::broadcast(const char* message) {
#ifdef Q_OS_UNIX
    // Plain POSIX: a second instance sends before (and without) an application object.
    const QByteArray path = QFile::encodeName(m_runtimeFolder + u'/' + QLatin1String(MutexName));
    if (m_clientSocket < 0) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (size_t(path.size()) >= sizeof(address.sun_path))
            return;
        std::memcpy(address.sun_path, path.constData(), path.size());
        // The running instance may still be starting: it holds the lock before it listens.
        for (int attempt = 0; attempt < 100 && m_clientSocket < 0; ++attempt) {
            const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            if (fd < 0)
                return;
            if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0) {
                m_clientSocket = fd;
                break;
            }
            ::close(fd);
            QThread::msleep(50);
        }
        if (m_clientSocket < 0)
            return;
    }
    const QByteArray line = QByteArray(message) + '\n';
    if (::send(m_clientSocket, line.constData(), line.size(), MSG_NOSIGNAL) != line.size())
        return;
    // Wait for the answer: the handler in the running instance has returned.
    char c = 0;
    while (::recv(m_clientSocket, &c, 1, 0) == 1 && c != '\n') {
    }
#else
    Q_UNUSED(message);
#endif
}

bool TQuillmar::StartListening() {
    if (m_alreadyRunning || m_server || !m_lock->isLocked())
        return false;
    const QString path = m_runtimeFolder + u'/' + QLatin1String(MutexName);
    // We hold the lock, so a socket file found here was left by a crashed instance.
    QLocalServer::removeServer(path);
    m_server = std::make_unique<QLocalServer>();
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(path)) {
        m_server.reset();
        return false;
    }
    connect(m_server.get(), &QLocalServer::newConnection, this, &TQuillmar::acceptConnection);
    return true;
}

void TQuillmar::acceptConnection() {
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            QPointer<QLocalSocket> guard(socket);
            while (guard && guard->canReadLine()) {
                const QByteArray line = guard->readLine(MaxMessageLine).trimmed();
                if (line == UrlPendingName)
                    Q_EMIT UrlPendingMessage();
                else if (line == ShowInstanceName)
                    Q_EMIT ShowInstanceMessage();
                if (guard) {
                    guard->write("done\n");
                    guard->flush();
                }
            }
            if (guard && guard->bytesAvailable() > MaxMessageLine)
                guard->abort();
        });
    }
}
