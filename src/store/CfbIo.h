#pragma once
// Where the engine's bytes go: a locked file on disk, or memory (for the fuzz target and
// tests). The engine reads and writes at offsets and asks for durability with Sync();
// it never relies on anything else a file system offers.

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <memory>

namespace cfb {

class Io {
public:
    virtual ~Io();
    virtual int64_t Size() = 0;
    // Reads up to count bytes; fewer only at the end of the data. Failure throws.
    virtual int64_t ReadAt(int64_t offset, char* buffer, int64_t count) = 0;
    virtual void WriteAt(int64_t offset, const char* data, int64_t count) = 0;
    // Everything written so far is durable when this returns.
    virtual void Sync() = 0;
};

// A byte array standing in for a file.
class MemoryIo : public Io {
public:
    explicit MemoryIo(QByteArray bytes = {}) : m_bytes(std::move(bytes)) {}
    int64_t Size() override { return m_bytes.size(); }
    int64_t ReadAt(int64_t offset, char* buffer, int64_t count) override;
    void WriteAt(int64_t offset, const char* data, int64_t count) override;
    void Sync() override {}
    const QByteArray& Bytes() const { return m_bytes; }

private:
    QByteArray m_bytes;
};

enum class LockKind { None, Shared, Exclusive };

// An open file on disk with an advisory lock held for as long as it is open, so that a
// second process (or a second open in this one) cannot write the same document.
class FileIo : public Io {
public:
    // Opens an existing file; fails with STG_E_FILENOTFOUND, STG_E_ACCESSDENIED or
    // STG_E_SHAREVIOLATION and a reason.
    static std::unique_ptr<FileIo> Open(const QString& path, bool writable, LockKind lock);
    // Makes a new, empty, locked file beside path under a temporary name; Publish() renames
    // it into place, so that a half-written new file never carries the real name.
    static std::unique_ptr<FileIo> CreateTemporary(const QString& path);
    ~FileIo() override;

    int64_t Size() override;
    int64_t ReadAt(int64_t offset, char* buffer, int64_t count) override;
    void WriteAt(int64_t offset, const char* data, int64_t count) override;
    void Sync() override;
    // Renames the temporary file over path (which may exist unless it is locked by
    // someone else) and makes the rename durable.
    void Publish(const QString& path);
    // The identity of the file's current content as far as the file system tells: a
    // change of any of these means someone else may have written it.
    QByteArray Fingerprint();
    // Removes a temporary file that was never published.
    void Discard();

private:
    FileIo(int fd, QString path) : m_fd(fd), m_path(std::move(path)) {}
    int m_fd;
    QString m_path;
    bool m_published = false;
};

} // namespace cfb
