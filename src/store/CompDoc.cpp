#include "CompDoc.h"

#include "CfbFile.h"
#include "shell/SystemCodePage.h"

#include <QAtomicInteger>
#include <QCoreApplication>
#include <QDir>
#include <QFile>

using cfb::Error;
using cfb::File;
using cfb::NoEntry;
using cfb::Status;

namespace {

constexpr qint32 Hresult(Status s) {
    return qint32(uint32_t(s));
}

QString StatusText(Status s, const QString& reason) {
    return cfb::StatusName(s) + QStringLiteral(": ") + reason;
}

QString TemporaryElementName() {
    static QAtomicInteger<quint32> counter(0);
    return QStringLiteral("~tmp%1.%2")
        .arg(QCoreApplication::applicationPid())
        .arg(counter.fetchAndAddRelaxed(1) + 1);
}

} // namespace

QString StorageNameToUnicode(const QByteArray& name) {
    return FromSystemCodePage(name);
}

QByteArray StorageNameFromUnicode(const QString& name) {
    return ToSystemCodePage(name);
}

bool CompactStorageFile(const QString& fileName, double minimumFreeShare) {
    try {
        return File::CompactPath(fileName, minimumFreeShare);
    } catch (const Error& e) {
        throw ECDStorageError(QStringLiteral("storage compaction failed: ") + e.Message(),
                              Hresult(e.Code()));
    }
}

// ---- TStorage ----

TStorage::TStorage(const QByteArray& name) : m_name(name) {}

TStorage::TStorage(const QByteArray& name, TStorage* parent, int access, bool transacted,
                   bool create)
    : m_name(name), m_parent(parent) {
    Q_UNUSED(transacted);
    if (!parent)
        Raise(QStringLiteral("no parent storage speciified"), Hresult(Status::Fail),
              QStringLiteral("a storage can only be opened inside another storage"));
    if (!parent->m_file ||
        !parent->m_file->IsLive(parent->m_entry, parent->m_generation, cfb::EntryType::Storage))
        Raise(create ? QStringLiteral("storage create failed")
                     : QStringLiteral("storage open failed"),
              Hresult(Status::Reverted),
              StatusText(Status::Reverted, QStringLiteral("the parent storage was destroyed")));
    m_file = parent->m_file;
    m_writable = parent->m_writable && access != StgAccessRead;
    QString unicode = StorageNameToUnicode(name);
    if (create) {
        if (unicode.isEmpty()) {
            unicode = TemporaryElementName();
            m_temporaryName = unicode;
        }
        try {
            if (!parent->m_writable)
                cfb::Fail(Status::AccessDenied,
                          QStringLiteral("the parent storage is open for reading only"));
            m_entry = m_file->CreateStorage(parent->m_entry, unicode, true);
        } catch (const Error& e) {
            Raise(QStringLiteral("storage create failed"), Hresult(e.Code()), e.Message());
        }
    } else {
        if (unicode.isEmpty())
            Raise(QStringLiteral("no storage name given"), Hresult(Status::Fail),
                  StatusText(Status::Fail, QStringLiteral("an element name is needed")));
        try {
            const uint32_t e = m_file->Find(parent->m_entry, unicode);
            if (e == NoEntry || m_file->EntryAt(e).type != cfb::EntryType::Storage)
                cfb::Fail(Status::FileNotFound,
                          QStringLiteral("there is no storage named \"%1\"").arg(unicode));
            m_entry = e;
        } catch (const Error& e) {
            Raise(QStringLiteral("storage open failed"), Hresult(e.Code()), e.Message());
        }
    }
    m_generation = m_file->Generation(m_entry);
}

TStorage::~TStorage() {
    if (m_temporaryName.isEmpty() || !m_parent || !m_file)
        return;
    try {
        if (m_file->IsLive(m_parent->m_entry, m_parent->m_generation, cfb::EntryType::Storage))
            m_file->Destroy(m_parent->m_entry, m_temporaryName);
    } catch (const Error&) {
        // A temporary storage that cannot be removed is left to the next check.
    }
}

void TStorage::Raise(const QString& operation, qint32 result, const QString& text) {
    m_lastResult = result;
    throw ECDStorageError(operation + QStringLiteral(": ") + text, result);
}

void TStorage::Commit() {
    try {
        if (!m_file->IsLive(m_entry, m_generation, cfb::EntryType::Storage))
            cfb::Fail(Status::Reverted, QStringLiteral("the storage was destroyed"));
        if (m_entry == File::RootStorage)
            m_file->Commit();
        m_lastResult = 0;
    } catch (const Error& e) {
        Raise(QStringLiteral("storage failed to commit"), Hresult(e.Code()), e.Message());
    }
}

void TStorage::MoveElement(const QByteArray& name, TStorage& destination,
                           const QByteArray& newName) {
    try {
        if (destination.m_file != m_file)
            cfb::Fail(Status::InvalidParameter,
                      QStringLiteral("elements move only between storages of the same file"));
        if (!m_writable || !destination.m_writable)
            cfb::Fail(Status::AccessDenied, QStringLiteral("the storage is open for reading only"));
        if (!m_file->IsLive(m_entry, m_generation, cfb::EntryType::Storage) ||
            !m_file->IsLive(destination.m_entry, destination.m_generation, cfb::EntryType::Storage))
            cfb::Fail(Status::Reverted, QStringLiteral("the storage was destroyed"));
        m_file->Move(m_entry, StorageNameToUnicode(name), destination.m_entry,
                     StorageNameToUnicode(newName));
        m_lastResult = 0;
    } catch (const Error& e) {
        Raise(QStringLiteral("storage failed to copy/move"), Hresult(e.Code()), e.Message());
    }
}

void TStorage::DestroyElement(const QByteArray& name) {
    try {
        if (!m_writable)
            cfb::Fail(Status::AccessDenied, QStringLiteral("the storage is open for reading only"));
        if (!m_file->IsLive(m_entry, m_generation, cfb::EntryType::Storage))
            cfb::Fail(Status::Reverted, QStringLiteral("the storage was destroyed"));
        m_file->Destroy(m_entry, StorageNameToUnicode(name));
        m_lastResult = 0;
    } catch (const Error& e) {
        Raise(QStringLiteral("failed to delete element"), Hresult(e.Code()), e.Message());
    }
}

void TStorage::ListElements(QList<QByteArray>& names, bool storages) {
    const cfb::EntryType wanted = storages ? cfb::EntryType::Storage : cfb::EntryType::Stream;
    try {
        if (!m_file->IsLive(m_entry, m_generation, cfb::EntryType::Storage))
            cfb::Fail(Status::Reverted, QStringLiteral("the storage was destroyed"));
        for (uint32_t child : m_file->Children(m_entry)) {
            const cfb::Entry& e = m_file->EntryAt(child);
            if (e.type == wanted)
                names.append(StorageNameFromUnicode(e.name));
        }
        m_lastResult = 0;
    } catch (const Error& e) {
        m_lastResult = Hresult(e.Code());
        throw ECompDocError(QStringLiteral("failed enumeration"), m_lastResult);
    }
}

void TStorage::ListStorages(QList<QByteArray>& names) {
    ListElements(names, true);
}

void TStorage::ListStreams(QList<QByteArray>& names) {
    ListElements(names, false);
}

bool TStorage::StreamExists(const QByteArray& name) {
    try {
        if (!m_file->IsLive(m_entry, m_generation, cfb::EntryType::Storage))
            return false;
        const uint32_t e = m_file->Find(m_entry, StorageNameToUnicode(name));
        return e != NoEntry && m_file->EntryAt(e).type == cfb::EntryType::Stream;
    } catch (const Error& e) {
        m_lastResult = Hresult(e.Code());
        return false;
    }
}

bool TStorage::StorageExists(const QByteArray& name) {
    try {
        if (!m_file->IsLive(m_entry, m_generation, cfb::EntryType::Storage))
            return false;
        const uint32_t e = m_file->Find(m_entry, StorageNameToUnicode(name));
        return e != NoEntry && m_file->EntryAt(e).type == cfb::EntryType::Storage;
    } catch (const Error& e) {
        m_lastResult = Hresult(e.Code());
        return false;
    }
}

// ---- TRootStorage ----

TRootStorage::TRootStorage(const QString& fileName, int access, int share, bool transacted,
                           bool create)
    : TStorage(QFile::encodeName(fileName)), m_fileName(fileName) {
    Q_UNUSED(transacted);
    const bool writable = access != StgAccessRead;
    m_writable = writable;
    if (create) {
        if (m_fileName.isEmpty()) {
            m_fileName = QDir::temp().filePath(TemporaryElementName());
            m_temporaryName = m_fileName;
        }
        try {
            m_file = File::CreatePath(m_fileName);
        } catch (const Error& e) {
            Raise(QStringLiteral("root storage create failed"), Hresult(e.Code()), e.Message());
        }
        m_entry = File::RootStorage;
        m_generation = m_file->Generation(m_entry);
        return;
    }
    if (m_fileName.isEmpty())
        Raise(QStringLiteral("no storage name given"), Hresult(Status::Fail),
              StatusText(Status::Fail, QStringLiteral("a file name is needed")));
    QString reason;
    const Status probe = File::Probe(m_fileName, &reason);
    if (probe != Status::Ok)
        Raise(QStringLiteral("not a storage file"), Hresult(probe), StatusText(probe, reason));
    // Writers always lock exclusively: two writers of one file would overwrite each
    // other's sectors. Readers that let others read share the lock.
    const cfb::LockKind lock = writable || share == StgShareExclusive || share == StgShareDenyRead
                                   ? cfb::LockKind::Exclusive
                                   : cfb::LockKind::Shared;
    try {
        m_file = File::OpenPath(m_fileName, writable, lock);
    } catch (const Error& e) {
        Raise(QStringLiteral("root storage open failed"), Hresult(e.Code()), e.Message());
    }
    m_entry = File::RootStorage;
    // The state kept for the path may have lived through reverts; the root is the same.
    m_generation = m_file->Generation(m_entry);
}

TRootStorage::~TRootStorage() {
    if (!m_temporaryName.isEmpty()) {
        m_file.reset();
        QFile::remove(m_temporaryName);
        m_temporaryName.clear();
    }
}

// ---- TStorageStream ----

TStorageStream::TStorageStream(const QByteArray& name, TStorage& storage, int access, bool create)
    : m_name(name), m_storage(&storage), m_file(storage.m_file) {
    const auto raise = [this](const QString& operation, qint32 result, const QString& text) {
        m_lastResult = result;
        throw ECDStreamError(operation + QStringLiteral(": ") + text, result);
    };
    QString unicode = StorageNameToUnicode(name);
    const bool writable = access != StgAccessRead;
    try {
        if (!m_file ||
            !m_file->IsLive(storage.m_entry, storage.m_generation, cfb::EntryType::Storage))
            cfb::Fail(Status::Reverted, QStringLiteral("the storage was destroyed"));
        if (writable && !storage.m_writable)
            cfb::Fail(Status::AccessDenied, QStringLiteral("the storage is open for reading only"));
        if (create) {
            if (unicode.isEmpty()) {
                unicode = TemporaryElementName();
                m_temporaryName = unicode;
            }
            m_entry = m_file->CreateStream(storage.m_entry, unicode, true);
        } else {
            if (unicode.isEmpty())
                raise(QStringLiteral("no stream name given"), Hresult(Status::Fail),
                      StatusText(Status::Fail, QStringLiteral("an element name is needed")));
            const uint32_t e = m_file->Find(storage.m_entry, unicode);
            if (e == NoEntry || m_file->EntryAt(e).type != cfb::EntryType::Stream)
                cfb::Fail(Status::FileNotFound,
                          QStringLiteral("there is no stream named \"%1\"").arg(unicode));
            m_entry = e;
            // A stream whose sectors cannot hold its size is refused now, not on a read.
            m_file->StreamChain(e);
        }
        m_generation = m_file->Generation(m_entry);
    } catch (const Error& e) {
        raise(create ? QStringLiteral("stream create failed")
                     : QStringLiteral("stream open failed"),
              Hresult(e.Code()), e.Message());
    }
    OpenMode mode = QIODevice::Unbuffered;
    if (access == StgAccessRead)
        mode |= QIODevice::ReadOnly;
    else if (access == StgAccessWrite)
        mode |= QIODevice::WriteOnly;
    else
        mode |= QIODevice::ReadWrite;
    QIODevice::open(mode);
}

TStorageStream::~TStorageStream() {
    if (!m_temporaryName.isEmpty() && m_file) {
        try {
            if (m_file->IsLive(m_storage->m_entry, m_storage->m_generation,
                               cfb::EntryType::Storage))
                m_file->Destroy(m_storage->m_entry, m_temporaryName);
        } catch (const Error&) {
        }
    }
}

bool TStorageStream::Alive() {
    if (m_file && m_file->IsLive(m_entry, m_generation, cfb::EntryType::Stream))
        return true;
    m_lastResult = Hresult(Status::Reverted);
    setErrorString(StatusText(Status::Reverted, QStringLiteral("the stream was destroyed")));
    return false;
}

qint64 TStorageStream::size() const {
    if (!m_file || !m_file->IsLive(m_entry, m_generation, cfb::EntryType::Stream))
        return 0;
    return qint64(m_file->StreamSize(m_entry));
}

bool TStorageStream::seek(qint64 pos) {
    if (pos < 0) {
        m_lastResult = Hresult(Status::InvalidFunction);
        return false;
    }
    m_lastResult = 0;
    return QIODevice::seek(pos);
}

qint64 TStorageStream::Seek(qint64 offset, int origin) {
    qint64 base = 0;
    if (origin == 1)
        base = pos();
    else if (origin == 2)
        base = size();
    else if (origin != 0) {
        m_lastResult = Hresult(Status::InvalidFunction);
        return -1;
    }
    return seek(base + offset) ? pos() : -1;
}

bool TStorageStream::SetSize(qint64 size) {
    if (size < 0 || !Alive())
        return false;
    try {
        m_file->SetStreamSize(m_entry, uint64_t(size));
        m_lastResult = 0;
        return true;
    } catch (const Error& e) {
        m_lastResult = Hresult(e.Code());
        setErrorString(e.Message());
        return false;
    }
}

qint64 TStorageStream::readData(char* data, qint64 maxSize) {
    if (!Alive())
        return -1;
    try {
        const qint64 n = m_file->ReadStream(m_entry, uint64_t(pos()), data, maxSize);
        m_lastResult = 0;
        return n;
    } catch (const Error& e) {
        m_lastResult = Hresult(e.Code());
        setErrorString(e.Message());
        return -1;
    }
}

qint64 TStorageStream::writeData(const char* data, qint64 maxSize) {
    if (!Alive())
        return -1;
    try {
        m_file->WriteStream(m_entry, uint64_t(pos()), data, maxSize);
        m_lastResult = 0;
        return maxSize;
    } catch (const Error& e) {
        m_lastResult = Hresult(e.Code());
        setErrorString(e.Message());
        return -1;
    }
}

// ---- TRootStorageWatchdog ----

TRootStorageWatchdog::TRootStorageWatchdog(const QString& fileName) : m_fileName(fileName) {}

TRootStorageWatchdog::~TRootStorageWatchdog() = default;

void TRootStorageWatchdog::Open(bool create) {
    if (m_openCount == 0)
        m_root = std::make_unique<TRootStorage>(m_fileName, StgAccessReadWrite, StgShareExclusive,
                                                false, create);
    ++m_openCount;
}

void TRootStorageWatchdog::Close() {
    if (m_openCount <= 0)
        return;
    if (--m_openCount > 0)
        return;
    std::unique_ptr<TRootStorage> root = std::move(m_root);
    root->Commit(); // on failure the root is released (uncommitted) by the unwinding
}
