#pragma once
// TStreamDownloader fetches one address into memory and reports through six signals;
// the OPML import and the distributor's subscription list use it. It frees itself
// once Finished has been emitted: the owner drops its pointer in that handler (or
// keeps a QPointer) and never touches it afterwards.
//
// Credentials are the account's when the program is locked in to the service;
// an untrusted certificate ends the download (as a failure) without asking anyone.

#include "net/UniversalDownloader.h"

#include <QBuffer>
#include <QObject>

class TStreamDownloader : public QObject {
    Q_OBJECT

public:
    TStreamDownloader();

    // The transfer component, for owners that set its limits.
    TUniversalDownloader& Downloader() { return *m_downloader; }
    void SetUri(const QByteArray& uri) { m_downloader->ObjectUri = uri; }
    void Start() { m_downloader->Download(); }
    void Abort() { m_downloader->Abort(); }

    // Free for the owner (the subscription-list download keeps its mode here).
    int Tag = 0;

signals:
    // The stream holds the whole body, positioned after its last byte.
    void Succeeded(TStreamDownloader* sender, QBuffer* stream);
    void Started(TStreamDownloader* sender);
    void Aborted(TStreamDownloader* sender);
    void Finished(TStreamDownloader* sender);
    void Failed(TStreamDownloader* sender, quint32 errorCode);
    // Only while data arrives (stages 4 and 5).
    void Progress(TStreamDownloader* sender, quint32 stageCode, quint32 progressValue,
                  quint32 progressMax);

private:
    ~TStreamDownloader() override;

    TUniversalDownloader* m_downloader;
    QBuffer m_stream;
};
