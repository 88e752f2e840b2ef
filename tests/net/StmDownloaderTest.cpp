#include "net/StmDownloader.h"

#include "shell/ReaderConfig.h"
#include "support/QtPrinters.h"
#include "support/TestHttpServer.h"

#include <QPointer>
#include <QTest>
#include <gtest/gtest.h>

namespace {

struct Recorder {
    explicit Recorder(TStreamDownloader* d) : downloader(d) {
        QObject::connect(d, &TStreamDownloader::Started, [this] { events << "Started"; });
        QObject::connect(d, &TStreamDownloader::Aborted, [this] { events << "Aborted"; });
        QObject::connect(d, &TStreamDownloader::Failed, [this](TStreamDownloader*, quint32 code) {
            events << "Failed";
            failedCode = code;
        });
        QObject::connect(d, &TStreamDownloader::Succeeded,
                         [this](TStreamDownloader* sender, QBuffer* stream) {
                             events << "Succeeded";
                             EXPECT_EQ(sender, downloader.data());
                             EXPECT_EQ(stream->pos(), stream->size());
                             body = stream->data();
                         });
        QObject::connect(d, &TStreamDownloader::Finished, [this] { events << "Finished"; });
        QObject::connect(
            d, &TStreamDownloader::Progress,
            [this](TStreamDownloader*, quint32 stage, quint32, quint32) { stages << stage; });
    }
    // Waits until the module has finished and freed itself.
    bool WaitForTheEnd() {
        return QTest::qWaitFor([this] { return downloader.isNull(); }, 20000);
    }

    QPointer<TStreamDownloader> downloader;
    QStringList events;
    QByteArray body;
    quint32 failedCode = 0;
    QList<quint32> stages;
};

TEST(StreamDownloader, CollectsTheBodyAndFreesItselfAfterFinished) {
    TestHttpServer server;
    const QByteArray opml(30000, 'o');
    server.Route("/list.opml", [opml](const TestHttpRequest&) { return TextAnswer(200, opml); });
    auto* d = new TStreamDownloader;
    Recorder r(d);
    d->SetUri(server.Url("/list.opml"));
    d->Start();
    ASSERT_TRUE(r.WaitForTheEnd());
    EXPECT_EQ(r.events, (QStringList{"Started", "Succeeded", "Finished"}));
    EXPECT_EQ(r.body, opml);
    for (quint32 stage : r.stages)
        EXPECT_TRUE(stage == stageBeginDownloadData || stage == stageDownloadingData);
    EXPECT_FALSE(r.stages.isEmpty());
    EXPECT_EQ(server.Requests().last().Header("Cache-Control"), QByteArray()) << "no cache options";
}

TEST(StreamDownloader, FailureReportsItsCode) {
    TestHttpServer server;
    server.Route("/list.opml", [](const TestHttpRequest&) { return TextAnswer(500, "oops"); });
    auto* d = new TStreamDownloader;
    Recorder r(d);
    d->SetUri(server.Url("/list.opml"));
    d->Start();
    ASSERT_TRUE(r.WaitForTheEnd());
    EXPECT_EQ(r.events, (QStringList{"Started", "Failed", "Finished"}));
    EXPECT_EQ(r.failedCode, 500u);
}

TEST(StreamDownloader, UntrustedCertificateFailsWithoutAsking) {
    TestHttpServer server(TestHttpServer::Security::TlsWithSelfSignedCertificate);
    server.Route("/list.opml", [](const TestHttpRequest&) { return TextAnswer(200, "<opml/>"); });
    auto* d = new TStreamDownloader;
    Recorder r(d);
    d->SetUri(server.Url("/list.opml"));
    d->Start();
    ASSERT_TRUE(r.WaitForTheEnd());
    EXPECT_EQ(r.events, (QStringList{"Started", "Failed", "Finished"}));
    EXPECT_TRUE(server.Requests().isEmpty());
}

TEST(StreamDownloader, AccountCredentialsOnlyWhenLockedInToTheService) {
    TestHttpServer server;
    server.Route("/list.opml", [](const TestHttpRequest& request) {
        return RequireBasicAuth(request, "member", "pw", TextAnswer(200, "<opml/>"));
    });
    TConfiguration& config = TConfiguration::Instance();
    const bool savedLocked = config.LockedInToService;
    const QString savedUser = config.AccountUserName, savedPassword = config.AccountPassword;
    config.AccountUserName = QStringLiteral("member");
    config.AccountPassword = QStringLiteral("pw");
    for (const bool locked : {false, true}) {
        config.LockedInToService = locked;
        auto* d = new TStreamDownloader;
        Recorder r(d);
        d->SetUri(server.Url("/list.opml"));
        d->Start();
        ASSERT_TRUE(r.WaitForTheEnd());
        if (locked) {
            EXPECT_EQ(r.events, (QStringList{"Started", "Succeeded", "Finished"}));
        } else {
            EXPECT_EQ(r.events, (QStringList{"Started", "Failed", "Finished"}));
            EXPECT_EQ(r.failedCode, 401u);
        }
    }
    config.LockedInToService = savedLocked;
    config.AccountUserName = savedUser;
    config.AccountPassword = savedPassword;
}

TEST(StreamDownloader, AbortEndsAsAbortedThenFinished) {
    TestHttpServer server;
    server.Route("/list.opml", [](const TestHttpRequest&) {
        TestHttpResponse r;
        r.fault = TestHttpResponse::Fault::Silent;
        return r;
    });
    auto* d = new TStreamDownloader;
    Recorder r(d);
    QObject::connect(d, &TStreamDownloader::Started, [](TStreamDownloader* s) { s->Abort(); });
    d->SetUri(server.Url("/list.opml"));
    d->Start();
    ASSERT_TRUE(r.WaitForTheEnd());
    EXPECT_EQ(r.events, (QStringList{"Started", "Aborted", "Finished"}));
}

} // namespace
