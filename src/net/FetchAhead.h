#pragma once
// TFetchAhead runs a queue of feed fetches a few at a time and hands the results over
// strictly in queue order, one at a time, when the owner asks for them. The refresh
// merges one channel after another exactly as before, but the network works on the
// next channels meanwhile, so a long queue is not one round trip after another.
//
// At most Window() jobs are ahead of the owner: running, or fetched and waiting to be
// taken. That bounds both the connections and the memory (each waiting body is at
// most the downloader's size limit).
//
// Each job runs on a TUniversalDownloader of a small pool; OnConfigureDownloader sets
// up every downloader of the pool once (authentication, options, the questions it
// asks), and its UserData names the job's UserData while that job runs.

#include "net/UniversalDownloader.h"

#include <QList>
#include <QObject>
#include <deque>
#include <functional>

struct TFetchJob {
    TFetchJob() = default;
    explicit TFetchJob(QByteArray url, void* userData = nullptr, QByteArray etag = {},
                       QByteArray lastModified = {})
        : Url(std::move(url)), ETag(std::move(etag)), LastModified(std::move(lastModified)),
          UserData(userData) {}

    QByteArray Url;
    // Validators of the copy the owner has, sent for a conditional request.
    QByteArray ETag;
    QByteArray LastModified;
    void* UserData = nullptr; // the owner's (the refresh keeps the channel here)
};

struct TFetchResult {
    TFetchJob Job;
    TDownloaderState State = dsIdle; // dsSucceeded, dsFailed or dsAborted
    quint32 StatusCode = 0;
    bool NotModified = false;
    QString ErrorMessage;
    QByteArray Body;
    // Validators of the answer, for the next fetch of the address.
    QByteArray ETag;
    QByteArray LastModified;
    bool CredentialsOffered = false;

    bool Succeeded() const { return State == dsSucceeded; }
};

class TFetchAhead : public QObject {
    Q_OBJECT

public:
    static constexpr int kDefaultWindow = 6;

    explicit TFetchAhead(int window = kDefaultWindow, QObject* parent = nullptr);
    ~TFetchAhead() override;

    int Window() const { return m_window; }
    // Called once for every downloader of the pool, before its first job.
    std::function<void(TUniversalDownloader&)> OnConfigureDownloader;

    // Adds a job at the end of the queue; it starts as soon as it is within the window.
    void Enqueue(const TFetchJob& job);
    // The result of the first job of the queue is there.
    bool NextReady() const;
    // Takes it (only when NextReady), which lets the next job into the window.
    TFetchResult TakeNext();
    // Jobs not yet taken, running or not.
    int Pending() const { return int(m_entries.size()); }
    int Running() const;
    // Aborts the running jobs and forgets every job not yet taken.
    void Stop();

signals:
    // The first job's result is there (posted; the owner calls TakeNext).
    void NextResultReady();
    // Bytes of a running job: received so far, announced total (0: unknown).
    void Progress(void* userData, quint32 received, quint32 total);

private:
    struct Entry {
        TFetchResult result;
        bool running = false;
        bool done = false;
        TUniversalDownloader* downloader = nullptr;
    };

    void pump();
    void start(Entry& entry);
    void finish(TUniversalDownloader* downloader);
    void announceIfReady();
    Entry* entryOf(TUniversalDownloader* downloader);

    const int m_window;
    std::deque<Entry> m_entries;
    QList<TUniversalDownloader*> m_idle;
    QList<TUniversalDownloader*> m_pool;
    bool m_pumpPosted = false;
    bool m_announcePosted = false;
};
