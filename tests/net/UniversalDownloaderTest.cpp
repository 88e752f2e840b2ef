#include "net/UniversalDownloader.h"

#include "support/QtPrinters.h"
#include "support/TestHttpServer.h"

#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

namespace {

// Everything a downloader reports, in order; consecutive data chunks count as one
// "Bytes" event in the list.
struct Recorder {
    explicit Recorder(TUniversalDownloader& d) {
        QObject::connect(&d, &TUniversalDownloader::DownloadStarted, [this] { add("Started"); });
        QObject::connect(&d, &TUniversalDownloader::DownloadSucceeded,
                         [this] { add("Succeeded"); });
        QObject::connect(&d, &TUniversalDownloader::DownloadAborted, [this] { add("Aborted"); });
        QObject::connect(&d, &TUniversalDownloader::DownloadFinished, [this] { add("Finished"); });
        QObject::connect(&d, &TUniversalDownloader::DownloadFailed, [this](const QString& m) {
            add("Failed");
            failedMessage = m;
        });
        QObject::connect(&d, &TUniversalDownloader::DownloadFailedCode,
                         [this](quint32 code) { failedCode = code; });
        QObject::connect(&d, &TUniversalDownloader::DownloadedBytes,
                         [this](const QByteArray& bytes, quint32 total) {
                             add("Bytes");
                             body += bytes;
                             largestChunk = std::max<qsizetype>(largestChunk, bytes.size());
                             lastTotal = total;
                         });
        QObject::connect(
            &d, &TUniversalDownloader::DownloadProgress,
            [this](quint32 stage, quint32, quint32, const QString&) { stages.append(stage); });
    }
    void add(const QString& e) {
        if (e != u"Bytes" || events.isEmpty() || events.last() != e)
            events.append(e);
    }

    QStringList events;
    QByteArray body;
    qsizetype largestChunk = 0;
    quint32 lastTotal = 0;
    quint32 failedCode = 0;
    QString failedMessage;
    QList<quint32> stages;
};

// Starts the download and waits for its last event.
void RunToEnd(TUniversalDownloader& d) {
    QSignalSpy finished(&d, &TUniversalDownloader::DownloadFinished);
    d.Download();
    if (finished.isEmpty()) {
        ASSERT_TRUE(finished.wait(20000)) << "no DownloadFinished";
    }
}

const QStringList kSucceeded{"Started", "Bytes", "Succeeded", "Finished"};
const QStringList kFailed{"Started", "Failed", "Finished"};

QByteArray Pattern(int size) {
    QByteArray data(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        data[i] = char('a' + (i * 7 + i / 13) % 26);
    return data;
}

TEST(UniversalDownloader, DeliversTheBodyInChunksBetweenStartedAndSucceeded) {
    TestHttpServer server;
    const QByteArray content = Pattern(50000);
    server.Route("/feed", [content](const TestHttpRequest&) { return TextAnswer(200, content); });
    TUniversalDownloader d;
    Recorder r(d);
    d.ObjectUri = server.Url("/feed");
    RunToEnd(d);
    EXPECT_EQ(r.events, kSucceeded);
    EXPECT_EQ(r.body, content);
    EXPECT_LE(r.largestChunk, TUniversalDownloader::kChunkSize);
    EXPECT_EQ(r.lastTotal, quint32(content.size()));
    EXPECT_EQ(d.TotalBytes(), quint32(content.size()));
    EXPECT_EQ(d.State(), dsSucceeded);
    EXPECT_EQ(d.StatusCode(), 200u);
    EXPECT_TRUE(r.stages.contains(stageBeginDownloadData));
    EXPECT_LT(r.stages.indexOf(stageBeginDownloadData), r.stages.indexOf(stageDownloadingData));
}

TEST(UniversalDownloader, SendsAnHonestUserAgentAndTheOwnersHeaders) {
    TestHttpServer server;
    server.Route("/feed", [](const TestHttpRequest&) { return TextAnswer(200, "x"); });
    TUniversalDownloader d;
    d.ObjectUri = server.Url("/feed");
    d.OnGetCustomHeaders = [](QByteArray& h) { h = "X-Reader-Test: yes\r\nbroken line\r\n"; };
    RunToEnd(d);
    const auto requests = server.RequestsFor("/feed");
    ASSERT_EQ(requests.size(), 1);
    EXPECT_TRUE(requests[0].Header("User-Agent").startsWith("Quillmar/" QUILLMAR_VERSION))
        << requests[0].Header("User-Agent").toStdString();
    EXPECT_EQ(requests[0].Header("X-Reader-Test"), "yes");
    EXPECT_EQ(requests[0].Header("Accept"), "*/*");
}

TEST(UniversalDownloader, DownloadWhileRunningRaises) {
    TestHttpServer server;
    server.Route("/slow", [](const TestHttpRequest&) {
        TestHttpResponse r;
        r.fault = TestHttpResponse::Fault::Silent;
        return r;
    });
    TUniversalDownloader d;
    d.ObjectUri = server.Url("/slow");
    d.Download();
    try {
        d.Download();
        FAIL() << "no exception";
    } catch (const EInvalidOperation& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Download is already started"));
    }
}

TEST(UniversalDownloader, BlankAddressRaises) {
    TUniversalDownloader d;
    Recorder r(d);
    for (const QByteArray& address : {QByteArray(), QByteArray("   ")}) {
        d.ObjectUri = address;
        try {
            d.Download();
            FAIL() << "no exception";
        } catch (const EInvalidOperation& e) {
            EXPECT_EQ(e.Message(), QStringLiteral("Object URI should be specified"));
        }
    }
    EXPECT_TRUE(r.events.isEmpty());
    EXPECT_EQ(d.State(), dsIdle);
}

TEST(UniversalDownloader, UnusableAddressFailsAndFinishesBeforeDownloadReturns) {
    for (const QByteArray& address :
         {QByteArray("ftp://127.0.0.1/feed"), QByteArray("no address at all"),
          QByteArray("http://"), QByteArray("file:///etc/passwd"), QByteArray("http://[::1")}) {
        SCOPED_TRACE(address.toStdString());
        TUniversalDownloader d;
        Recorder r(d);
        d.ObjectUri = address;
        d.Download();
        EXPECT_EQ(r.events, (QStringList{"Failed", "Finished"}));
        EXPECT_EQ(r.failedCode, TUniversalDownloader::kInvalidUriCode);
        EXPECT_EQ(r.failedMessage, QStringLiteral("Invalid URI"));
        EXPECT_EQ(d.State(), dsFailed);
    }
}

TEST(UniversalDownloader, CarelessAddressIsEscapedRatherThanRefused) {
    TestHttpServer server;
    server.Route("/my%20feed", [](const TestHttpRequest&) { return TextAnswer(200, "<rss/>"); });
    TUniversalDownloader d;
    Recorder r(d);
    d.ObjectUri = "  " + server.Url("/my feed") + "\t";
    RunToEnd(d);
    EXPECT_EQ(r.events, kSucceeded);
    EXPECT_EQ(r.body, "<rss/>");
}

TEST(UniversalDownloader, HostThatDoesNotAnswerFailsWith404) {
    QByteArray address;
    {
        TestHttpServer gone;
        address = gone.Url("/feed");
    }
    TUniversalDownloader d;
    Recorder r(d);
    d.ObjectUri = address;
    RunToEnd(d);
    EXPECT_EQ(r.events, kFailed);
    EXPECT_EQ(r.failedCode, 404u);
    EXPECT_FALSE(r.failedMessage.isEmpty());
}

TEST(UniversalDownloader, ErrorStatusFailsWithItsCodeAndNeverDeliversTheErrorPage) {
    struct Case {
        int status;
        QByteArray body;
    };
    const QList<Case> cases{{404, "<html>not here</html>"},
                            {500, "<html>oops</html>"},
                            {500, ""},
                            {403, "<rss>looks like a feed</rss>"}};
    TestHttpServer server;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.status);
        server.Route("/feed", [c](const TestHttpRequest&) { return TextAnswer(c.status, c.body); });
        TUniversalDownloader d;
        Recorder r(d);
        d.ObjectUri = server.Url("/feed");
        RunToEnd(d);
        EXPECT_EQ(r.events, kFailed);
        EXPECT_EQ(r.failedCode, quint32(c.status));
        EXPECT_EQ(r.failedMessage, QString());
        EXPECT_EQ(d.StatusCode(), quint32(c.status));
        EXPECT_TRUE(r.body.isEmpty());
    }
}

TEST(UniversalDownloader, AbortBeforeStartedRaisesAndAfterwardsEndsAsAborted) {
    TestHttpServer server;
    server.Route("/silent", [](const TestHttpRequest&) {
        TestHttpResponse r;
        r.fault = TestHttpResponse::Fault::Silent;
        return r;
    });
    TUniversalDownloader d;
    Recorder r(d);
    EXPECT_THROW(d.Abort(), EInvalidOperation);
    d.ObjectUri = server.Url("/silent");
    QSignalSpy started(&d, &TUniversalDownloader::DownloadStarted);
    QSignalSpy finished(&d, &TUniversalDownloader::DownloadFinished);
    d.Download();
    try {
        d.Abort();
        FAIL() << "no exception";
    } catch (const EInvalidOperation& e) {
        EXPECT_EQ(
            e.Message(),
            QStringLiteral("Downloader cannot be aborted until downloading actually started"));
    }
    ASSERT_TRUE(started.wait(5000));
    d.Abort();
    EXPECT_TRUE(r.events == QStringList{"Started"}) << "the end comes later, from the event loop";
    ASSERT_TRUE(finished.wait(5000));
    EXPECT_EQ(r.events, (QStringList{"Started", "Aborted", "Finished"}));
    EXPECT_EQ(d.State(), dsAborted);
}

TEST(UniversalDownloader, AbortFromTheDataHandlerEndsAsAborted) {
    TestHttpServer server;
    server.Route("/big", [](const TestHttpRequest&) {
        TestHttpResponse r;
        r.generatedBodySize = 4 * 1024 * 1024;
        return r;
    });
    TUniversalDownloader d;
    Recorder r(d);
    QObject::connect(&d, &TUniversalDownloader::DownloadedBytes, [&d] {
        if (d.State() == dsStarted)
            d.Abort();
    });
    d.ObjectUri = server.Url("/big");
    RunToEnd(d);
    EXPECT_EQ(r.events, (QStringList{"Started", "Bytes", "Aborted", "Finished"}));
    EXPECT_LE(r.body.size(), TUniversalDownloader::kChunkSize);
}

TEST(UniversalDownloader, RangeLineNamesTheRequestedBytes) {
    struct Case {
        quint32 start, length;
        QByteArray line;
    };
    const QList<Case> cases{
        {100, 50, "bytes=100-149"}, {100, 0, "bytes=100-"}, {3000000000u, 0, "bytes=3000000000-"}};
    TestHttpServer server;
    server.Route("/file", [](const TestHttpRequest& request) {
        return ServeFile(request, TestServedFile{Pattern(1000)});
    });
    for (const auto& c : cases) {
        TUniversalDownloader d;
        d.ObjectUri = server.Url("/file");
        d.DownloadRange = true;
        d.RangeStart = c.start;
        d.RangeLength = c.length;
        RunToEnd(d);
        EXPECT_EQ(server.Requests().last().Header("Range"), c.line);
    }
    TUniversalDownloader plain;
    Recorder r(plain);
    plain.ObjectUri = server.Url("/file");
    plain.DownloadRange = true;
    plain.RangeStart = 100;
    plain.RangeLength = 50;
    RunToEnd(plain);
    EXPECT_EQ(r.body, Pattern(1000).mid(100, 50));
}

TEST(UniversalDownloader, CredentialsAreAskedOnceAndOnlyForAuthCustom) {
    struct Case {
        THttpAuthentication mode;
        bool hookAnswers;
        QString password;
        QStringList events;
        int askedTimes;
    };
    const QList<Case> cases{
        {authFail, true, "secret", kFailed, 0},
        {authWindowsBuiltIn, true, "secret", kFailed, 0}, // no window to own a dialog
        {authCustom, false, "secret", kFailed, 1},
        {authCustom, true, "wrong", kFailed, 1},
        {authCustom, true, "secret", kSucceeded, 1},
    };
    TestHttpServer server;
    server.Route("/private", [](const TestHttpRequest& request) {
        return RequireBasicAuth(request, "reader", "secret", TextAnswer(200, "<rss/>"));
    });
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.mode) * 10 + c.hookAnswers);
        TUniversalDownloader d;
        Recorder r(d);
        int asked = 0;
        d.HttpAuthentication = c.mode;
        d.OnGetCustomHttpCredentials = [&](QString& user, QString& password) {
            ++asked;
            user = QStringLiteral("reader");
            password = c.password;
            return c.hookAnswers;
        };
        d.ObjectUri = server.Url("/private");
        RunToEnd(d);
        EXPECT_EQ(r.events, c.events);
        EXPECT_EQ(asked, c.askedTimes);
        if (c.events == kFailed)
            EXPECT_EQ(r.failedCode, 401u);
        else
            EXPECT_EQ(r.body, "<rss/>");
    }
}

TEST(UniversalDownloader, APasswordIsNotCarriedOverToTheNextDownload) {
    TestHttpServer server;
    server.Route("/private", [](const TestHttpRequest& request) {
        return RequireBasicAuth(request, "reader", "secret", TextAnswer(200, "<rss/>"));
    });
    server.Route("/public", [](const TestHttpRequest&) { return TextAnswer(200, "<rss/>"); });
    TUniversalDownloader d;
    d.HttpAuthentication = authCustom;
    bool answer = true;
    d.OnGetCustomHttpCredentials = [&](QString& user, QString& password) {
        user = QStringLiteral("reader");
        password = QStringLiteral("secret");
        return answer;
    };
    d.ObjectUri = server.Url("/private");
    RunToEnd(d);
    EXPECT_EQ(d.State(), dsSucceeded);
    // The same downloader, the same server, no password given this time.
    answer = false;
    RunToEnd(d);
    EXPECT_EQ(d.State(), dsFailed);
    EXPECT_EQ(d.StatusCode(), 401u);
    d.ObjectUri = server.Url("/public");
    RunToEnd(d);
    EXPECT_EQ(d.State(), dsSucceeded);
    EXPECT_FALSE(server.RequestsFor("/public").first().HasHeader("Authorization"));
}

TEST(UniversalDownloader, BuiltInAuthenticationAsksTheUserThroughTheOwnersWindow) {
    TestHttpServer server;
    server.Route("/private", [](const TestHttpRequest& request) {
        return RequireBasicAuth(request, "reader", "secret", TextAnswer(200, "<rss/>"));
    });
    TUniversalDownloader d;
    Recorder r(d);
    quintptr askedWith = 0;
    d.OnGetSecurityWarningParent = [] { return quintptr(42); };
    d.OnAskUserForCredentials = [&](quintptr window, const QString&, QString& user,
                                    QString& password) {
        askedWith = window;
        user = QStringLiteral("reader");
        password = QStringLiteral("secret");
        return true;
    };
    d.ObjectUri = server.Url("/private");
    RunToEnd(d);
    EXPECT_EQ(r.events, kSucceeded);
    EXPECT_EQ(askedWith, quintptr(42));
}

TEST(UniversalDownloader, CredentialsFollowARedirectOnlyOnTheSameHost) {
    TestHttpServer origin;
    TestHttpServer other;
    const auto privateFeed = [](const TestHttpRequest& request) {
        return RequireBasicAuth(request, "reader", "secret", TextAnswer(200, "<rss/>"));
    };
    origin.Route("/private", privateFeed);
    other.Route("/private", privateFeed);
    origin.Route("/same-host",
                 [&](const TestHttpRequest&) { return RedirectAnswer(302, "/private"); });
    const QByteArray elsewhere = other.LocalhostUrl("/private");
    origin.Route("/other-host",
                 [elsewhere](const TestHttpRequest&) { return RedirectAnswer(301, elsewhere); });

    struct Case {
        QByteArray path;
        QStringList events;
        int asked;
    };
    for (const Case& c : {Case{"/same-host", kSucceeded, 1}, Case{"/other-host", kFailed, 0}}) {
        SCOPED_TRACE(c.path.toStdString());
        TUniversalDownloader d;
        Recorder r(d);
        int asked = 0;
        d.HttpAuthentication = authCustom;
        d.OnGetCustomHttpCredentials = [&](QString& user, QString& password) {
            ++asked;
            user = QStringLiteral("reader");
            password = QStringLiteral("secret");
            return true;
        };
        d.ObjectUri = origin.Url(c.path);
        RunToEnd(d);
        EXPECT_EQ(r.events, c.events);
        EXPECT_EQ(asked, c.asked);
    }
    ASSERT_FALSE(other.RequestsFor("/private").isEmpty());
    for (const auto& request : other.Requests())
        EXPECT_FALSE(request.HasHeader("Authorization"));
}

TEST(UniversalDownloader, EndlessRedirectsFail) {
    TestHttpServer server;
    server.Route("/loop", [](const TestHttpRequest&) { return RedirectAnswer(302, "/loop"); });
    TUniversalDownloader d;
    Recorder r(d);
    d.ObjectUri = server.Url("/loop");
    RunToEnd(d);
    EXPECT_EQ(r.events, kFailed);
    EXPECT_EQ(r.failedCode, TUniversalDownloader::kNoAnswerCode);
    // The network layer may repeat a request on a closed connection; the chain is still
    // cut at the limit rather than the default of fifty.
    EXPECT_LT(server.Requests().size(), 2 * (TUniversalDownloader::kMaxRedirects + 1));
}

TEST(UniversalDownloader, GzippedAnswerArrivesDecompressed) {
    TestHttpServer server;
    const QByteArray content = Pattern(100000);
    server.Route("/feed", [content](const TestHttpRequest& request) {
        TestServedFile file{content};
        file.gzipWhenAccepted = true;
        return ServeFile(request, file);
    });
    TUniversalDownloader d;
    Recorder r(d);
    d.ObjectUri = server.Url("/feed");
    RunToEnd(d);
    EXPECT_EQ(r.events, kSucceeded);
    EXPECT_EQ(r.body, content);
    EXPECT_TRUE(server.Requests().last().Header("Accept-Encoding").contains("gzip"));
}

TEST(UniversalDownloader, ConnectionDroppedMidBodyFails) {
    TestHttpServer server;
    server.Route("/feed", [](const TestHttpRequest&) {
        TestHttpResponse r = TextAnswer(200, Pattern(20000));
        r.fault = TestHttpResponse::Fault::DropMidBody;
        r.dropAfter = 5000;
        return r;
    });
    TUniversalDownloader d;
    Recorder r(d);
    d.ObjectUri = server.Url("/feed");
    RunToEnd(d);
    EXPECT_EQ(r.events.value(0), "Started");
    EXPECT_TRUE(r.events.contains("Failed"));
    EXPECT_FALSE(r.events.contains("Succeeded"));
    EXPECT_EQ(r.events.last(), "Finished");
    EXPECT_EQ(r.failedCode, TUniversalDownloader::kNoAnswerCode);
}

TEST(UniversalDownloader, SilentServerFailsAfterTheTimeOut) {
    TestHttpServer server;
    for (const QByteArray& path : {QByteArray("/silent"), QByteArray("/stalls")}) {
        SCOPED_TRACE(path.toStdString());
        server.Route("/silent", [](const TestHttpRequest&) {
            TestHttpResponse r;
            r.fault = TestHttpResponse::Fault::Silent;
            return r;
        });
        server.Route("/stalls", [](const TestHttpRequest&) {
            // Headers and a little body, then nothing, the connection left open.
            TestHttpResponse r = TextAnswer(200, Pattern(100000));
            r.fault = TestHttpResponse::Fault::StallMidBody;
            r.dropAfter = 1000;
            return r;
        });
        TUniversalDownloader d;
        Recorder r(d);
        d.TimeoutMs = 300;
        d.ObjectUri = server.Url(path);
        RunToEnd(d);
        EXPECT_TRUE(r.events.contains("Failed"));
        EXPECT_EQ(r.events.last(), "Finished");
        EXPECT_TRUE(r.failedMessage.contains("No answer")) << r.failedMessage.toStdString();
    }
}

TEST(UniversalDownloader, DownloadThatTakesTooLongFailsAtItsDeadline) {
    TestHttpServer server;
    server.Route("/trickle", [](const TestHttpRequest&) {
        TestHttpResponse r = TextAnswer(200, Pattern(100000));
        r.fault = TestHttpResponse::Fault::StallMidBody;
        r.dropAfter = 1000;
        return r;
    });
    TUniversalDownloader d;
    Recorder r(d);
    d.TimeoutMs = 60000;
    d.DeadlineMs = 300;
    d.ObjectUri = server.Url("/trickle");
    RunToEnd(d);
    EXPECT_TRUE(r.events.contains("Failed"));
    EXPECT_FALSE(r.events.contains("Succeeded"));
    EXPECT_EQ(r.events.last(), "Finished");
    EXPECT_TRUE(r.failedMessage.contains("longer than")) << r.failedMessage.toStdString();
}

TEST(UniversalDownloader, AnswerOverTheSizeLimitFails) {
    struct Case {
        const char* name;
        bool announced;
    };
    TestHttpServer server;
    for (const Case& c : {Case{"announced", true}, Case{"unannounced", false}}) {
        SCOPED_TRACE(c.name);
        server.Route("/huge", [c](const TestHttpRequest&) {
            TestHttpResponse r;
            r.generatedBodySize = 2 * 1024 * 1024;
            r.omitContentLength = !c.announced;
            return r;
        });
        TUniversalDownloader d;
        Recorder r(d);
        d.MaxBodySize = 100000;
        d.ObjectUri = server.Url("/huge");
        RunToEnd(d);
        EXPECT_TRUE(r.events.contains("Failed"));
        EXPECT_FALSE(r.events.contains("Succeeded"));
        EXPECT_LE(r.body.size(), 100000);
        EXPECT_TRUE(r.failedMessage.contains("larger than")) << r.failedMessage.toStdString();
    }
}

TEST(UniversalDownloader, ConditionalRequestGetsNotModifiedWithoutData) {
    TestHttpServer server;
    TestServedFile file{"<rss>feed</rss>"};
    file.etag = "\"v1\"";
    file.lastModified = "Tue, 01 Dec 2026 10:00:00 GMT";
    server.Route("/feed",
                 [file](const TestHttpRequest& request) { return ServeFile(request, file); });
    TUniversalDownloader first;
    first.ObjectUri = server.Url("/feed");
    RunToEnd(first);
    EXPECT_FALSE(first.NotModified());
    EXPECT_EQ(first.ResponseETag(), file.etag);
    EXPECT_EQ(first.ResponseLastModified(), file.lastModified);

    struct Case {
        QByteArray etag, date;
        bool notModified;
    };
    const QList<Case> cases{{file.etag, {}, true},
                            {{}, file.lastModified, true},
                            {"\"v0\"", {}, false},
                            {{}, "Mon, 30 Nov 2026 10:00:00 GMT", false}};
    for (const auto& c : cases) {
        TUniversalDownloader d;
        Recorder r(d);
        d.ObjectUri = server.Url("/feed");
        d.IfNoneMatch = c.etag;
        d.IfModifiedSince = c.date;
        RunToEnd(d);
        EXPECT_EQ(d.NotModified(), c.notModified);
        EXPECT_EQ(d.State(), dsSucceeded);
        if (c.notModified) {
            EXPECT_EQ(r.events, (QStringList{"Started", "Succeeded", "Finished"}));
            EXPECT_EQ(d.StatusCode(), 304u);
            EXPECT_TRUE(r.body.isEmpty());
        } else {
            EXPECT_EQ(r.body, file.content);
        }
        const TestHttpRequest sent = server.Requests().last();
        EXPECT_EQ(sent.Header("If-None-Match"), c.etag);
        EXPECT_EQ(sent.Header("If-Modified-Since"), c.date);
    }
}

TEST(UniversalDownloader, UntrustedCertificateIsRefusedUnlessTheOwnerProceeds) {
    TestHttpServer server(TestHttpServer::Security::TlsWithSelfSignedCertificate);
    server.Route("/feed", [](const TestHttpRequest&) { return TextAnswer(200, "<rss/>"); });
    for (const bool proceed : {false, true}) {
        SCOPED_TRACE(proceed);
        TUniversalDownloader d;
        Recorder r(d);
        int asked = 0;
        d.OnProceedWithInvalidCertificate = [&] {
            ++asked;
            return proceed;
        };
        d.ObjectUri = server.Url("/feed");
        RunToEnd(d);
        EXPECT_EQ(asked, 1);
        if (proceed) {
            EXPECT_EQ(r.events, kSucceeded);
            EXPECT_EQ(r.body, "<rss/>");
        } else {
            EXPECT_EQ(r.events, kFailed);
            EXPECT_EQ(r.failedCode, TUniversalDownloader::kNoAnswerCode);
        }
    }
}

TEST(UniversalDownloader, NoCredentialsTravelOverAnUntrustedCertificate) {
    TestHttpServer server(TestHttpServer::Security::TlsWithSelfSignedCertificate);
    server.Route("/private", [](const TestHttpRequest& request) {
        return RequireBasicAuth(request, "reader", "secret", TextAnswer(200, "<rss/>"));
    });
    TUniversalDownloader d;
    Recorder r(d);
    int asked = 0;
    d.HttpAuthentication = authCustom;
    d.OnProceedWithInvalidCertificate = [] { return true; };
    d.OnGetCustomHttpCredentials = [&](QString& user, QString& password) {
        ++asked;
        user = QStringLiteral("reader");
        password = QStringLiteral("secret");
        return true;
    };
    d.ObjectUri = server.Url("/private");
    RunToEnd(d);
    EXPECT_EQ(r.events, kFailed);
    EXPECT_EQ(r.failedCode, 401u);
    EXPECT_EQ(asked, 0);
    EXPECT_FALSE(d.CredentialsOffered());
    ASSERT_FALSE(server.Requests().isEmpty());
    for (const auto& request : server.Requests())
        EXPECT_FALSE(request.HasHeader("Authorization"));
}

TEST(UniversalDownloader, CanStartAgainFromItsFinishedHandler) {
    TestHttpServer server;
    server.Route("/a", [](const TestHttpRequest&) { return TextAnswer(200, "first"); });
    server.Route("/b", [](const TestHttpRequest&) { return TextAnswer(200, "second"); });
    TUniversalDownloader d;
    Recorder r(d);
    int finished = 0;
    QObject::connect(&d, &TUniversalDownloader::DownloadFinished, [&] {
        if (++finished == 1) {
            d.ObjectUri = server.Url("/b");
            d.Download();
        }
    });
    d.ObjectUri = server.Url("/a");
    d.Download();
    ASSERT_TRUE(QTest::qWaitFor([&] { return finished == 2; }, 20000));
    EXPECT_EQ(r.body, "firstsecond");
    EXPECT_EQ(r.events, (QStringList{"Started", "Bytes", "Succeeded", "Finished", "Started",
                                     "Bytes", "Succeeded", "Finished"}));
}

} // namespace
