#include "net/FetchAhead.h"

#include "support/QtPrinters.h"
#include "support/TestHttpServer.h"

#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

namespace {

TestHttpResponse Delayed(const QByteArray& body, int delayMs) {
    TestHttpResponse r = TextAnswer(200, body);
    r.delayMs = delayMs;
    return r;
}

TestHttpResponse Silent() {
    TestHttpResponse r;
    r.fault = TestHttpResponse::Fault::Silent;
    return r;
}

// Takes every result as it becomes ready, as the refresh does.
QList<TFetchResult> TakeAll(TFetchAhead& fetch, int expected) {
    QList<TFetchResult> results;
    QObject context;
    QObject::connect(&fetch, &TFetchAhead::NextResultReady, &context, [&] {
        while (fetch.NextReady())
            results.append(fetch.TakeNext());
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return results.size() >= expected; }, 20000));
    return results;
}

TEST(FetchAhead, ResultsArriveInQueueOrderWhileLaterJobsRunAhead) {
    TestHttpServer server;
    server.Route("/slow", [](const TestHttpRequest&) { return Delayed("slow", 400); });
    server.Route("/a", [](const TestHttpRequest&) { return TextAnswer(200, "a"); });
    server.Route("/b", [](const TestHttpRequest&) { return TextAnswer(200, "b"); });
    TFetchAhead fetch;
    int channel[3];
    fetch.Enqueue(TFetchJob(server.Url("/slow"), &channel[0]));
    fetch.Enqueue(TFetchJob(server.Url("/a"), &channel[1]));
    fetch.Enqueue(TFetchJob(server.Url("/b"), &channel[2]));
    EXPECT_EQ(fetch.Running(), 3);
    const auto results = TakeAll(fetch, 3);
    ASSERT_EQ(results.size(), 3);
    EXPECT_EQ(results[0].Body, "slow");
    EXPECT_EQ(results[1].Body, "a");
    EXPECT_EQ(results[2].Body, "b");
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(results[i].Job.UserData, &channel[i]);
        EXPECT_TRUE(results[i].Succeeded());
    }
    EXPECT_EQ(fetch.Pending(), 0);
}

TEST(FetchAhead, NoMoreThanTheWindowIsAheadOfTheOwner) {
    TestHttpServer server;
    server.Route("/feed", [](const TestHttpRequest&) { return TextAnswer(200, "x"); });
    TFetchAhead fetch(2);
    for (int i = 0; i < 5; ++i)
        fetch.Enqueue(TFetchJob(server.Url("/feed")));
    // Nobody takes the results: two are fetched, the rest waits.
    ASSERT_TRUE(QTest::qWaitFor([&] { return fetch.NextReady() && fetch.Running() == 0; }, 10000));
    QTest::qWait(100);
    EXPECT_EQ(server.Requests().size(), 2);
    fetch.TakeNext();
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.Requests().size() == 3; }, 10000));
    const auto rest = TakeAll(fetch, 4);
    EXPECT_EQ(rest.size(), 4);
    EXPECT_EQ(server.Requests().size(), 5);
}

TEST(FetchAhead, UnusableAddressesFailAndTheQueueGoesOn) {
    TestHttpServer server;
    server.Route("/feed", [](const TestHttpRequest&) { return TextAnswer(200, "<rss/>"); });
    server.Route("/gone", [](const TestHttpRequest&) { return TextAnswer(404, "<html/>"); });
    TFetchAhead fetch;
    for (const QByteArray& url : {QByteArray("   "), QByteArray("not an address"),
                                  server.Url("/gone"), server.Url("/feed")})
        fetch.Enqueue(TFetchJob(url));
    const auto results = TakeAll(fetch, 4);
    ASSERT_EQ(results.size(), 4);
    EXPECT_EQ(results[0].State, dsFailed);
    EXPECT_EQ(results[0].StatusCode, TUniversalDownloader::kInvalidUriCode);
    EXPECT_EQ(results[1].State, dsFailed);
    EXPECT_EQ(results[1].StatusCode, TUniversalDownloader::kInvalidUriCode);
    EXPECT_EQ(results[2].State, dsFailed);
    EXPECT_EQ(results[2].StatusCode, 404u);
    EXPECT_TRUE(results[2].Body.isEmpty());
    EXPECT_TRUE(results[3].Succeeded());
    EXPECT_EQ(results[3].Body, "<rss/>");
}

TEST(FetchAhead, ConditionalJobIsReportedNotModified) {
    TestHttpServer server;
    server.Route("/feed", [](const TestHttpRequest& request) {
        TestServedFile file("<rss/>");
        file.etag = "\"7\"";
        return ServeFile(request, file);
    });
    TFetchAhead fetch;
    fetch.Enqueue(TFetchJob(server.Url("/feed")));
    fetch.Enqueue(TFetchJob(server.Url("/feed"), nullptr, "\"7\""));
    const auto results = TakeAll(fetch, 2);
    ASSERT_EQ(results.size(), 2);
    EXPECT_FALSE(results[0].NotModified);
    EXPECT_EQ(results[0].ETag, "\"7\"");
    EXPECT_TRUE(results[1].NotModified);
    EXPECT_TRUE(results[1].Succeeded());
    EXPECT_TRUE(results[1].Body.isEmpty());
}

TEST(FetchAhead, EveryDownloaderIsConfiguredByTheOwner) {
    TestHttpServer server;
    server.Route("/private", [](const TestHttpRequest& request) {
        return RequireBasicAuth(request, "u", "p", TextAnswer(200, "ok"));
    });
    TFetchAhead fetch(3);
    int configured = 0;
    QList<void*> askedFor;
    fetch.OnConfigureDownloader = [&](TUniversalDownloader& d) {
        ++configured;
        d.HttpAuthentication = authCustom;
        d.OnGetCustomHttpCredentials = [&askedFor, &d](QString& user, QString& password) {
            askedFor.append(d.UserData);
            user = QStringLiteral("u");
            password = QStringLiteral("p");
            return true;
        };
    };
    int channel[4];
    for (int& c : channel)
        fetch.Enqueue(TFetchJob(server.Url("/private"), &c));
    const auto results = TakeAll(fetch, 4);
    ASSERT_EQ(results.size(), 4);
    for (const auto& r : results) {
        EXPECT_TRUE(r.Succeeded());
        EXPECT_TRUE(r.CredentialsOffered);
    }
    EXPECT_EQ(configured, 3);
    EXPECT_EQ(askedFor.size(), 4);
    for (int& c : channel)
        EXPECT_TRUE(askedFor.contains(&c));
}

TEST(FetchAhead, StopForgetsEveryJobAndReportsNothingMore) {
    TestHttpServer server;
    server.Route("/silent", [](const TestHttpRequest&) { return Silent(); });
    TFetchAhead fetch(2);
    QSignalSpy ready(&fetch, &TFetchAhead::NextResultReady);
    for (int i = 0; i < 4; ++i)
        fetch.Enqueue(TFetchJob(server.Url("/silent")));
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.Requests().size() == 2; }, 10000));
    fetch.Stop();
    EXPECT_EQ(fetch.Pending(), 0);
    EXPECT_EQ(fetch.Running(), 0);
    QTest::qWait(200);
    EXPECT_TRUE(ready.isEmpty());
    EXPECT_EQ(server.Requests().size(), 2);

    // The pipeline is usable again.
    server.Route("/feed", [](const TestHttpRequest&) { return TextAnswer(200, "again"); });
    fetch.Enqueue(TFetchJob(server.Url("/feed")));
    const auto results = TakeAll(fetch, 1);
    ASSERT_EQ(results.size(), 1);
    EXPECT_EQ(results[0].Body, "again");
}

} // namespace
