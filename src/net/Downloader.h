#pragma once
// TDownloader: an operation thread that fetches one http(s) address into a file (or
// any device) the creator opened, resuming at a byte offset when the server allows it.
// It asks with HEAD first (size, whether ranges are accepted), then fetches with GET.
//
// Progress (OperationProgress, identifier = the creator's number):
//   kindSizeAnnounced     the file's total size, or kUnknownSize
//   kindBytesOfKnownSize  bytes of this chunk, the size being known
//   kindBytesOfUnknownSize bytes of this chunk, no size announced
//   kindRestarted         the server sends the whole file again: the device was emptied
//                         and the bytes counted so far no longer hold
//   kindFinished          the worker ended, whatever the outcome
//
// Nothing the server sends besides the file itself reaches the device: an error page,
// a 416 or a part that does not continue the file fails the download and leaves the
// device as it was. A transfer that ends before the announced length is a failure;
// the bytes already written stay for the next resume.

#include "net/OperationThread.h"

#include <QByteArray>
#include <QMutex>
#include <atomic>

class QIODevice;

QUILLMAR_DECLARE_EXCEPTION(EDownloader, Exception)

class TDownloader : public TOperationThread {
    Q_OBJECT

public:
    enum : quint16 {
        kindSizeAnnounced = 1,
        kindBytesOfKnownSize = 2,
        kindBytesOfUnknownSize = 3,
        kindRestarted = 8,
    };
    static constexpr quint32 kUnknownSize = 0xFFFFFFFF;
    static constexpr int kDefaultTimeoutMs = 10000;
    static constexpr int kChunkSize = 8193;

    // target is not owned; it must stay open until the worker has finished.
    TDownloader(QIODevice* target, const QByteArray& address, quint16 identifier,
                QObject* parent = nullptr);
    ~TDownloader() override;

    // Set before start().
    qint64 ResumeOffset = 0;           // bytes of the file the device already holds
    int TimeoutMs = kDefaultTimeoutMs; // connect time-out and longest silence

    quint16 Identifier() const { return m_identifier; }
    const QByteArray& Address() const { return m_address; }
    // Read once the worker has finished.
    bool Failed() const { return m_failed; }
    bool Completed() const { return m_completed; }
    QString ErrorMessage() const;

protected:
    void Notify(quint16 kind, quint32 value) override;
    void DoOperation() override;

private:
    void transfer();
    void fail(const QString& message);

    QIODevice* m_target;
    const QByteArray m_address;
    const quint16 m_identifier;
    std::atomic<bool> m_failed{false};
    std::atomic<bool> m_completed{false};
    mutable QMutex m_errorMutex;
    QString m_errorMessage;
};
