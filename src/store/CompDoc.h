#pragma once
// The object layer through which the document reads and writes its compound file:
// TRootStorage (the file), TStorage (a storage inside it), TStorageStream (a stream,
// usable wherever a QIODevice is expected) and TRootStorageWatchdog (keeps the file open
// only while operations run). Every failure becomes an exception whose message is the
// operation's own words, ": ", and the engine's status name with its reason, for example
// "storage open failed: STG_E_FILENOTFOUND: there is no storage named "f1"".
//
// Element names are 8-bit strings (UTF-8; an old name that is not valid UTF-8 is read as
// Windows-1252); the file holds them as UTF-16.

#include "shell/Errors.h"

#include <QByteArray>
#include <QIODevice>
#include <QList>
#include <QString>
#include <memory>

namespace cfb {
class File;
}

class ECompDocError : public Exception {
public:
    explicit ECompDocError(const QString& message = {}, qint32 result = 0)
        : Exception(message), m_result(result) {}
    // The status code (HRESULT) of the failed call; 0 when none applies.
    qint32 Result() const { return m_result; }

private:
    qint32 m_result;
};
QUILLMAR_DECLARE_EXCEPTION(ECDStorageError, ECompDocError)
QUILLMAR_DECLARE_EXCEPTION(ECDStreamError, ECompDocError)

// Open modes: access 0 = read, 1 = write, 2 = read and write. Share codes (root only):
// 0 = exclusive, 1 = deny write, 2 = deny read, 3 = deny none.
enum : int { StgAccessRead = 0, StgAccessWrite = 1, StgAccessReadWrite = 2 };
enum : int {
    StgShareExclusive = 0,
    StgShareDenyWrite = 1,
    StgShareDenyRead = 2,
    StgShareDenyNone = 3
};

// The system code page of element names, both ways.
QString StorageNameToUnicode(const QByteArray& name);
QByteArray StorageNameFromUnicode(const QString& name);

// Rewrites a closed document file without its free space when more than minimumFreeShare
// of it is free (the engine reuses free space but never shrinks the file); returns
// whether it did. Meant for rare moments such as the program's exit.
bool CompactStorageFile(const QString& fileName, double minimumFreeShare = 0.25);

class TStorage {
public:
    // Opens (or with create, creates, replacing an element of that name) the storage name
    // inside parent. Always exclusive. transacted is accepted for compatibility: every
    // change is kept until the root's Commit anyway.
    TStorage(const QByteArray& name, TStorage* parent, int access, bool transacted, bool create);
    virtual ~TStorage();
    TStorage(const TStorage&) = delete;
    TStorage& operator=(const TStorage&) = delete;

    const QByteArray& Name() const { return m_name; }
    TStorage* Parent() const { return m_parent; }
    qint32 LastResult() const { return m_lastResult; }

    // On the root: makes every change durable at once (either all of it or none of it
    // reaches the disk). On a sub-storage there is nothing of its own to commit.
    void Commit();
    void MoveElement(const QByteArray& name, TStorage& destination, const QByteArray& newName);
    void DestroyElement(const QByteArray& name);
    void ListStorages(QList<QByteArray>& names);
    void ListStreams(QList<QByteArray>& names);
    bool StreamExists(const QByteArray& name);
    bool StorageExists(const QByteArray& name);

protected:
    explicit TStorage(const QByteArray& name);
    void ListElements(QList<QByteArray>& names, bool storages);
    [[noreturn]] void Raise(const QString& operation, qint32 result, const QString& text);

    QByteArray m_name;
    TStorage* m_parent = nullptr;
    std::shared_ptr<cfb::File> m_file;
    uint32_t m_entry = 0;
    uint32_t m_generation = 0;
    bool m_writable = false;
    qint32 m_lastResult = 0;
    QString m_temporaryName; // an element (or file) created without a name: gone on release

    friend class TStorageStream;
};

class TRootStorage : public TStorage {
public:
    // The file itself. create replaces any file of that name (written under a temporary
    // name and renamed into place); an empty name with create makes a temporary file that
    // is deleted when released. The file stays locked while this object lives.
    TRootStorage(const QString& fileName, int access, int share, bool transacted, bool create);
    ~TRootStorage() override;
    const QString& FileName() const { return m_fileName; }

private:
    QString m_fileName;
};

class TStorageStream : public QIODevice {
public:
    // Opens (or with create, creates or empties) the stream name in storage; the device is
    // open for reading, writing or both according to access.
    TStorageStream(const QByteArray& name, TStorage& storage, int access, bool create);
    ~TStorageStream() override;

    const QByteArray& Name() const { return m_name; }
    TStorage* Storage() const { return m_storage; }
    qint32 LastResult() const { return m_lastResult; }

    bool isSequential() const override { return false; }
    qint64 size() const override;
    bool seek(qint64 pos) override;
    // origin 0 = from the start, 1 = from the current position, 2 = from the end; returns
    // the new position, or -1 when it would be negative.
    qint64 Seek(qint64 offset, int origin);
    bool SetSize(qint64 size);

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char* data, qint64 maxSize) override;

private:
    bool Alive();

    QByteArray m_name;
    TStorage* m_storage;
    std::shared_ptr<cfb::File> m_file;
    uint32_t m_entry = 0;
    uint32_t m_generation = 0;
    qint32 m_lastResult = 0;
    QString m_temporaryName;
};

class TRootStorageWatchdog {
public:
    explicit TRootStorageWatchdog(const QString& fileName);
    // Releases an open root without committing: its changes are dropped.
    ~TRootStorageWatchdog();

    // Opens the file (read and write, exclusive) when no operation holds it yet; with
    // create a new file replaces any old one. Failure leaves the count unchanged.
    void Open(bool create = false);
    // Ends one operation; the last one commits and closes the file. A failed commit
    // still closes it (and drops the uncommitted changes) before the error is raised.
    void Close();
    TRootStorage* Root() const { return m_root.get(); }
    int OpenCount() const { return m_openCount; }
    const QString& FileName() const { return m_fileName; }

private:
    QString m_fileName;
    std::unique_ptr<TRootStorage> m_root;
    int m_openCount = 0;
};
