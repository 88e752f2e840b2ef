#include "StmDownloader.h"

#include "shell/ReaderConfig.h"

TStreamDownloader::TStreamDownloader() : m_downloader(new TUniversalDownloader(this)) {
    m_stream.open(QIODevice::ReadWrite);
    TUniversalDownloader& d = *m_downloader;
    d.HttpAuthentication = authCustom;
    d.Options = {};
    connect(&d, &TUniversalDownloader::DownloadStarted, this, [this] { emit Started(this); });
    connect(&d, &TUniversalDownloader::DownloadProgress, this,
            [this](quint32 stage, quint32 value, quint32 max, const QString&) {
                if (stage == stageBeginDownloadData || stage == stageDownloadingData)
                    emit Progress(this, stage, value, max);
            });
    connect(&d, &TUniversalDownloader::DownloadedBytes, this,
            [this](const QByteArray& bytes) { m_stream.write(bytes); });
    connect(&d, &TUniversalDownloader::DownloadFailedCode, this,
            [this](quint32 code) { emit Failed(this, code); });
    connect(&d, &TUniversalDownloader::DownloadAborted, this, [this] { emit Aborted(this); });
    connect(&d, &TUniversalDownloader::DownloadSucceeded, this,
            [this] { emit Succeeded(this, &m_stream); });
    connect(&d, &TUniversalDownloader::DownloadFinished, this, [this] {
        emit Finished(this);
        deleteLater();
    });
    d.OnProceedWithInvalidCertificate = [] { return false; };
    d.OnGetCustomHttpCredentials = [](QString& user, QString& password) {
        const TConfiguration& config = TConfiguration::Instance();
        if (!config.LockedInToService)
            return false;
        user = config.AccountUserName;
        password = config.AccountPassword;
        return true;
    };
}

TStreamDownloader::~TStreamDownloader() = default;
