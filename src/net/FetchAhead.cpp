#include "FetchAhead.h"

TFetchAhead::TFetchAhead(int window, QObject* parent)
    : QObject(parent), m_window(qMax(1, window)) {}

TFetchAhead::~TFetchAhead() {
    // The downloaders go with this object; none may report into a half-destroyed one.
    for (TUniversalDownloader* d : std::as_const(m_pool))
        d->disconnect(this);
}

void TFetchAhead::Enqueue(const TFetchJob& job) {
    Entry entry;
    entry.result.Job = job;
    m_entries.push_back(std::move(entry));
    pump();
}

bool TFetchAhead::NextReady() const {
    return !m_entries.empty() && m_entries.front().done;
}

TFetchResult TFetchAhead::TakeNext() {
    if (!NextReady())
        throw EInvalidOperation(QStringLiteral("No fetched result is ready"));
    TFetchResult result = std::move(m_entries.front().result);
    m_entries.pop_front();
    // Started from the event loop: the owner is still busy with what it took.
    if (!m_pumpPosted) {
        m_pumpPosted = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_pumpPosted = false;
                pump();
            },
            Qt::QueuedConnection);
    }
    announceIfReady();
    return result;
}

int TFetchAhead::Running() const {
    int n = 0;
    for (const Entry& e : m_entries)
        n += e.running ? 1 : 0;
    return n;
}

void TFetchAhead::Stop() {
    std::deque<Entry> entries;
    entries.swap(m_entries);
    for (Entry& e : entries) {
        TUniversalDownloader* d = e.downloader;
        if (!d)
            continue;
        // Nothing of a stopped job is reported any more, and its downloader, which may
        // not even have started, goes away with the transfer.
        d->disconnect(this);
        d->OnProceedWithInvalidCertificate = nullptr;
        d->OnGetSecurityWarningParent = nullptr;
        d->OnGetCustomHttpCredentials = nullptr;
        d->OnGetCustomHeaders = nullptr;
        d->OnAskUserForCredentials = nullptr;
        d->UserData = nullptr;
        if (d->State() == dsStarted)
            d->Abort();
        m_pool.removeOne(d);
        d->deleteLater();
    }
}

void TFetchAhead::pump() {
    const size_t window = std::min<size_t>(m_window, m_entries.size());
    for (size_t i = 0; i < window; ++i) {
        Entry& e = m_entries[i];
        if (!e.running && !e.done)
            start(e);
    }
}

void TFetchAhead::start(Entry& entry) {
    TUniversalDownloader* d = nullptr;
    if (!m_idle.isEmpty()) {
        d = m_idle.takeLast();
    } else {
        d = new TUniversalDownloader(this);
        m_pool.append(d);
        if (OnConfigureDownloader)
            OnConfigureDownloader(*d);
        connect(d, &TUniversalDownloader::DownloadedBytes, this,
                [this, d](const QByteArray& bytes) {
                    if (Entry* e = entryOf(d))
                        e->result.Body += bytes;
                });
        connect(d, &TUniversalDownloader::DownloadProgress, this,
                [this, d](quint32 stage, quint32 value, quint32 max) {
                    if ((stage == stageBeginDownloadData || stage == stageDownloadingData) &&
                        entryOf(d))
                        emit Progress(d->UserData, value, max);
                });
        connect(d, &TUniversalDownloader::DownloadFinished, this, [this, d] { finish(d); });
    }
    entry.running = true;
    entry.downloader = d;
    const TFetchJob& job = entry.result.Job;
    d->UserData = job.UserData;
    d->ObjectUri = job.Url;
    d->IfNoneMatch = job.ETag;
    d->IfModifiedSince = job.LastModified;
    try {
        d->Download(); // an unusable address has already finished when this returns
    } catch (const Exception& e) {
        // A blank address: failed like one that cannot be fetched.
        entry.running = false;
        entry.done = true;
        entry.downloader = nullptr;
        entry.result.State = dsFailed;
        entry.result.StatusCode = TUniversalDownloader::kInvalidUriCode;
        entry.result.ErrorMessage = e.Message();
        m_idle.append(d);
        announceIfReady();
    }
}

TFetchAhead::Entry* TFetchAhead::entryOf(TUniversalDownloader* downloader) {
    for (Entry& e : m_entries)
        if (e.downloader == downloader)
            return &e;
    return nullptr;
}

void TFetchAhead::finish(TUniversalDownloader* d) {
    if (Entry* e = entryOf(d)) {
        TFetchResult& r = e->result;
        r.State = d->State();
        r.StatusCode = d->StatusCode();
        r.NotModified = d->NotModified();
        r.ErrorMessage = d->ErrorMessage();
        r.ETag = d->ResponseETag();
        r.LastModified = d->ResponseLastModified();
        r.CredentialsOffered = d->CredentialsOffered();
        if (!r.Succeeded())
            r.Body.clear();
        e->running = false;
        e->done = true;
        e->downloader = nullptr;
        announceIfReady();
    }
    d->UserData = nullptr;
    m_idle.append(d);
    if (!m_pumpPosted) {
        m_pumpPosted = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_pumpPosted = false;
                pump();
            },
            Qt::QueuedConnection);
    }
}

void TFetchAhead::announceIfReady() {
    if (!NextReady() || m_announcePosted)
        return;
    m_announcePosted = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_announcePosted = false;
            if (NextReady())
                emit NextResultReady();
        },
        Qt::QueuedConnection);
}
