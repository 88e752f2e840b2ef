#include "CfbIo.h"

#include "CfbFormat.h"

#include <QFileInfo>
#include <QRandomGenerator>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace cfb {

namespace {

QString SystemText(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

Status StatusOfErrno(int error) {
    switch (error) {
    case ENOENT:
        return Status::FileNotFound;
    case ENOTDIR:
        return Status::PathNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
        return Status::AccessDenied;
    case ENOSPC:
    case EDQUOT:
        return Status::MediumFull;
    case ENOMEM:
        return Status::InsufficientMemory;
    default:
        return Status::Fail;
    }
}

void LockOrFail(int fd, LockKind lock, const QString& path) {
    if (lock == LockKind::None)
        return;
    const int op = (lock == LockKind::Exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB;
    while (flock(fd, op) != 0) {
        if (errno == EINTR)
            continue;
        const int error = errno;
        ::close(fd);
        if (error == EWOULDBLOCK)
            Fail(Status::ShareViolation,
                 QStringLiteral("the file %1 is open in another program or window").arg(path));
        Fail(Status::LockViolation,
             QStringLiteral("the file %1 cannot be locked: %2").arg(path, SystemText(error)));
    }
}

} // namespace

Io::~Io() = default;

int64_t MemoryIo::ReadAt(int64_t offset, char* buffer, int64_t count) {
    if (offset < 0 || count < 0)
        Fail(Status::SeekError, QStringLiteral("negative offset"));
    if (offset >= m_bytes.size())
        return 0;
    const int64_t n = std::min<int64_t>(count, m_bytes.size() - offset);
    std::memcpy(buffer, m_bytes.constData() + offset, size_t(n));
    return n;
}

void MemoryIo::WriteAt(int64_t offset, const char* data, int64_t count) {
    if (offset < 0 || count < 0)
        Fail(Status::SeekError, QStringLiteral("negative offset"));
    if (offset + count > m_bytes.size())
        m_bytes.resize(offset + count, '\0');
    std::memcpy(m_bytes.data() + offset, data, size_t(count));
}

std::unique_ptr<FileIo> FileIo::Open(const QString& path, bool writable, LockKind lock) {
    const QByteArray native = QFile::encodeName(path);
    int fd;
    do {
        fd = ::open(native.constData(), (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        const int error = errno;
        Fail(StatusOfErrno(error),
             QStringLiteral("cannot open %1: %2").arg(path, SystemText(error)));
    }
    struct stat st;
    if (fstat(fd, &st) == 0 && !S_ISREG(st.st_mode)) {
        ::close(fd);
        Fail(Status::AccessDenied, QStringLiteral("%1 is not a regular file").arg(path));
    }
    LockOrFail(fd, lock, path);
    std::unique_ptr<FileIo> io(new FileIo(fd, path));
    io->m_published = true;
    return io;
}

std::unique_ptr<FileIo> FileIo::CreateTemporary(const QString& path) {
    const QFileInfo info(path);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString name = info.absolutePath() + u'/' + u'.' + info.fileName() +
                             QStringLiteral(".new-%1").arg(QRandomGenerator::global()->generate(),
                                                           8, 16, QChar(u'0'));
        const int fd = ::open(QFile::encodeName(name).constData(),
                              O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0) {
            if (errno == EEXIST || errno == EINTR)
                continue;
            const int error = errno;
            Fail(StatusOfErrno(error),
                 QStringLiteral("cannot create a file beside %1: %2").arg(path, SystemText(error)));
        }
        LockOrFail(fd, LockKind::Exclusive, name);
        return std::unique_ptr<FileIo>(new FileIo(fd, name));
    }
    Fail(Status::Fail, QStringLiteral("cannot find a free temporary name beside %1").arg(path));
}

FileIo::~FileIo() {
    if (m_fd >= 0)
        ::close(m_fd);
}

int64_t FileIo::Size() {
    struct stat st;
    if (fstat(m_fd, &st) != 0)
        Fail(Status::ReadFault,
             QStringLiteral("cannot read the size of %1: %2").arg(m_path, SystemText(errno)));
    return st.st_size;
}

int64_t FileIo::ReadAt(int64_t offset, char* buffer, int64_t count) {
    int64_t done = 0;
    while (done < count) {
        const ssize_t n = ::pread(m_fd, buffer + done, size_t(count - done), offset + done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            Fail(Status::ReadFault,
                 QStringLiteral("cannot read %1: %2").arg(m_path, SystemText(errno)));
        }
        if (n == 0)
            break;
        done += n;
    }
    return done;
}

void FileIo::WriteAt(int64_t offset, const char* data, int64_t count) {
    int64_t done = 0;
    while (done < count) {
        const ssize_t n = ::pwrite(m_fd, data + done, size_t(count - done), offset + done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            const int error = errno;
            Fail(error == ENOSPC || error == EDQUOT ? Status::MediumFull : Status::WriteFault,
                 QStringLiteral("cannot write %1: %2").arg(m_path, SystemText(error)));
        }
        done += n;
    }
}

void FileIo::Sync() {
    while (::fdatasync(m_fd) != 0) {
        if (errno == EINTR)
            continue;
        Fail(Status::WriteFault,
             QStringLiteral("cannot flush %1 to disk: %2").arg(m_path, SystemText(errno)));
    }
}

void FileIo::Publish(const QString& path) {
    // A file of that name that someone holds open must not vanish under them.
    const QByteArray target = QFile::encodeName(path);
    const int existing = ::open(target.constData(), O_RDONLY | O_CLOEXEC);
    if (existing >= 0)
        LockOrFail(existing, LockKind::Exclusive, path); // closes it on failure
    Sync();
    const int renamed = ::rename(QFile::encodeName(m_path).constData(), target.constData());
    const int error = errno;
    if (existing >= 0)
        ::close(existing);
    if (renamed != 0)
        Fail(StatusOfErrno(error),
             QStringLiteral("cannot rename %1 to %2: %3").arg(m_path, path, SystemText(error)));
    m_path = path;
    m_published = true;
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
    const int dir = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}

void FileIo::Discard() {
    if (!m_published)
        ::unlink(QFile::encodeName(m_path).constData());
}

QByteArray FileIo::Fingerprint() {
    struct stat st;
    if (fstat(m_fd, &st) != 0)
        return {};
    QByteArray print;
    const auto add = [&print](int64_t v) { print.append(reinterpret_cast<const char*>(&v), 8); };
    add(int64_t(st.st_dev));
    add(int64_t(st.st_ino));
    add(int64_t(st.st_size));
    add(int64_t(st.st_mtim.tv_sec));
    add(int64_t(st.st_mtim.tv_nsec));
    add(int64_t(st.st_ctim.tv_sec));
    add(int64_t(st.st_ctim.tv_nsec));
    return print;
}

} // namespace cfb
