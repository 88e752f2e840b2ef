#include "net/RefreshCycle.h"

#include "shell/ReaderConfig.h"
#include "shell/UIUtils.h"
#include "store/QuillmarDoc.h"
#include "support/QtPrinters.h"
#include "support/TestEnvironment.h"
#include "support/TestHttpServer.h"

#include <QFile>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

namespace {

// An RSS feed whose items have these guids.
QByteArray Rss(const QByteArray& title, const QList<QByteArray>& guids) {
    QByteArray xml = "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>" + title +
                     "</title><link>http://example.com/</link>";
    for (const QByteArray& g : guids)
        xml += "<item><title>Item " + g + "</title><guid>" + g + "</guid></item>";
    return xml + "</channel></rss>";
}

TestHttpResponse Feed(const QByteArray& title, const QList<QByteArray>& guids, int delayMs = 0) {
    TestHttpResponse r = TextAnswer(200, Rss(title, guids), "application/rss+xml");
    r.delayMs = delayMs;
    return r;
}

// The window's side, written down as a log of what the cycle asked for.
class RecordingHooks : public TRefreshHooks {
public:
    QStringList log;
    TFolder* selected = nullptr;
    QString pendingUrl;
    TAddChannelAnswer addAnswer;
    QByteArray addStream;
    std::function<void(const QString&)> onRefreshChannel;
    std::function<void(TChannel*)> onRelabel;

    void ShowOperationStatus(const QString& text) override { log << "status " + text; }
    void HideOperationStatus() override { log << "status hidden"; }
    void ShowRefreshChannel(const QString& title) override {
        log << "refreshing " + title;
        if (onRefreshChannel)
            onRefreshChannel(title);
    }
    void SetProgressBar(quint32, quint32) override {}
    void EnableCommands(bool enabled) override {
        log << (enabled ? "commands enabled" : "commands disabled");
    }
    void StopReadTimer() override { log << "read timer stopped"; }
    TFolder* SelectedFolder() override { return selected; }
    void FlushTopicIndex() override {}
    void UpdateFolderNodes(TChannel* channel) override {
        log << "relabel " + (channel ? channel->Title() : QStringLiteral("all"));
        if (onRelabel)
            onRelabel(channel);
    }
    void ShowSelectedTopic() override { log << "show selected"; }
    void AddChannelNode(TChannel& channel) override { log << "node " + channel.Title(); }
    void ShowError(const QString& message) override { log << "error " + message; }
    void ClearLines() override { log << "popup cleared"; }
    void AddChannelLine(const QString& title, int count) override {
        log << "line " + PopupChannelLine(title, count);
    }
    void AddFolderChannelLine(const QString& title, const QString& folder, int count) override {
        log << "line " + PopupFolderChannelLine(title, folder, count);
    }
    void SetCloseDelay(int ms) override { log << QStringLiteral("popup delay %1").arg(ms); }
    void ShowPopup() override { log << "popup shown"; }
    void PlayNewContentSound() override { log << "sound"; }
    QString GetPendingUrl() override { return pendingUrl; }
    void AddPendingChannel() override { log << "add pending " + pendingUrl; }
    void ResumeDownloads() override { log << "downloads resumed"; }
    void RequestBrandedList() override { log << "branded list"; }
    TAddChannelAnswer ExecuteAddChannel(QByteArray& stream) override {
        log << "add dialog";
        stream = addStream;
        return addAnswer;
    }

    // The entries that start with prefix, in order.
    QStringList With(const QString& prefix) const {
        QStringList found;
        for (const QString& line : log)
            if (line.startsWith(prefix))
                found << line;
        return found;
    }
    int IndexOf(const QString& line) const { return log.indexOf(line); }
};

class RefreshCycleTest : public testing::Test {
protected:
    void SetUp() override {
        doc = std::make_unique<TQuillmarDoc>(env.DocumentsFolder());
        doc->OpenDocument();
    }

    std::unique_ptr<TRefreshCycle> Cycle(int window = TFetchAhead::kDefaultWindow) {
        auto cycle = std::make_unique<TRefreshCycle>(hooks, *doc, configuration, window);
        cycle->FetchTimeoutMs = 1500;
        return cycle;
    }

    TFolder* Folder(TFolder* parent, const QString& title) {
        TFolder* folder = doc->CreateFolder(parent);
        folder->SetTitle(title);
        doc->SaveFolder(*folder);
        return folder;
    }
    TChannel* Channel(TFolder* parent, const QString& title, const QByteArray& url) {
        TChannel* channel = doc->CreateChannel(parent);
        channel->SetTitle(title);
        channel->SetUrl(QString::fromUtf8(url));
        doc->SaveChannel(*channel);
        return channel;
    }

    // Runs a whole refresh and returns how each channel ended, in order.
    QList<TChannelOutcome> RunRefresh(TRefreshCycle& cycle,
                                      const std::function<void()>& start = {}) {
        QList<TChannelOutcome> outcomes;
        bool finished = false;
        QObject context;
        QObject::connect(&cycle, &TRefreshCycle::ChannelRefreshed, &context,
                         [&](const TChannelOutcome& o) { outcomes << o; });
        QObject::connect(&cycle, &TRefreshCycle::RefreshFinished, &context,
                         [&] { finished = true; });
        if (start)
            start();
        else
            cycle.Refresh();
        EXPECT_TRUE(QTest::qWaitFor([&] { return finished; }, 30000));
        return outcomes;
    }

    QByteArray FileBytes() const {
        QFile file(doc->FileName());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    TestEnvironment env;
    TConfiguration configuration;
    RecordingHooks hooks;
    std::unique_ptr<TQuillmarDoc> doc;
    TestHttpServer server;
};

TEST_F(RefreshCycleTest, QueueHoldsTheFolderChannelsBeforeTheirSubFoldersDepthFirst) {
    TChannel* a = Channel(nullptr, "A", server.Url("/a"));
    TFolder* news = Folder(nullptr, "News");
    TChannel* c = Channel(news, "C", server.Url("/c"));
    TFolder* tech = Folder(news, "Tech");
    TChannel* d = Channel(tech, "D", server.Url("/d"));
    TFolder* sport = Folder(nullptr, "Sport");
    TChannel* e = Channel(sport, "E", server.Url("/e"));
    TChannel* b = Channel(nullptr, "B", server.Url("/b"));
    TFolder* gone = Folder(nullptr, "Gone");
    Channel(gone, "X", server.Url("/x"));
    gone->Deleted = true; // hidden from the tree, so not refreshed either
    // The search tree is never queued.
    doc->SearchRoot()->AddChannel();

    auto cycle = Cycle();
    cycle->QueueAllChannels();
    EXPECT_EQ(cycle->Queue(), (QList<TChannel*>{a, b, c, d, e}));
    cycle->QueueFolderChannels(*news);
    EXPECT_EQ(cycle->Queue().size(), 7);
    cycle->ClearRefreshQueue();
    EXPECT_TRUE(cycle->Queue().isEmpty());
}

TEST_F(RefreshCycleTest, ChannelsAreMergedOneAtATimeInQueueOrderWhileLaterOnesAreFetchedAhead) {
    // The first feed is the slowest: the others are fetched meanwhile, but merged after.
    server.Route("/a", [](const TestHttpRequest&) { return Feed("A", {"a1", "a2"}, 400); });
    server.Route("/b", [](const TestHttpRequest&) { return Feed("B", {"b1"}); });
    server.Route("/c", [](const TestHttpRequest&) { return Feed("C", {}); });
    TChannel* a = Channel(nullptr, "A", server.Url("/a"));
    TFolder* news = Folder(nullptr, "News");
    TChannel* b = Channel(news, "B", server.Url("/b"));
    TChannel* c = Channel(news, "C", server.Url("/c"));
    auto cycle = Cycle();

    const auto outcomes = RunRefresh(*cycle);
    ASSERT_EQ(outcomes.size(), 3);
    EXPECT_EQ(outcomes[0].Channel, a);
    EXPECT_EQ(outcomes[1].Channel, b);
    EXPECT_EQ(outcomes[2].Channel, c);
    EXPECT_EQ(outcomes[0].NewTopics, 2);
    EXPECT_EQ(outcomes[1].NewTopics, 1);
    EXPECT_EQ(outcomes[2].NewTopics, 0);
    EXPECT_EQ(server.Requests().size(), 3);

    EXPECT_EQ(hooks.With("refreshing ").join('|'), "refreshing A|refreshing B|refreshing C");
    EXPECT_EQ(hooks.With("relabel ").join('|'), "relabel A|relabel B|relabel C");
    EXPECT_LT(hooks.IndexOf("refreshing A"), hooks.IndexOf("relabel A"));
    EXPECT_LT(hooks.IndexOf("relabel A"), hooks.IndexOf("refreshing B"));
    EXPECT_EQ(hooks.With("line ").join('|'), "line A (2)|line B in News (1)");
    EXPECT_EQ(cycle->UpdatedChannelCount(), 2);
    for (TChannel* channel : {a, b, c})
        EXPECT_EQ(channel->Status, TChannel::StatusOk);
    EXPECT_EQ(a->UnreadCount(), 2);
    EXPECT_EQ(b->TopicCount, 1);
}

TEST_F(RefreshCycleTest, BusyBracketLocksTheCommandsAndEndsWithThePopup) {
    server.Route("/a", [](const TestHttpRequest&) { return Feed("A", {"a1"}); });
    Channel(nullptr, "A", server.Url("/a"));
    auto cycle = Cycle();
    bool busyDuringRefresh = false;
    hooks.onRefreshChannel = [&](const QString&) { busyDuringRefresh = cycle->Busy(); };

    RunRefresh(*cycle);
    EXPECT_TRUE(busyDuringRefresh);
    EXPECT_FALSE(cycle->Busy());
    const QStringList expected{
        "read timer stopped", "status " + GetConstant(SStatusRefreshing),
        "commands disabled",  "popup cleared",
        "refreshing A",       "line A (1)",
        "relabel A",          "status hidden",
        "commands enabled",   "popup delay 10000",
        "popup shown",        "downloads resumed",
        "show selected",
    };
    EXPECT_EQ(hooks.log, expected);
    EXPECT_TRUE(cycle->AutoRefreshTimer().isActive());
}

TEST_F(RefreshCycleTest, RefreshStatesFollowHowEachDownloadEnded) {
    server.Route("/ok", [](const TestHttpRequest&) { return Feed("Ok", {"1"}); });
    server.Route("/error", [](const TestHttpRequest&) { return TextAnswer(500, "<html/>"); });
    server.Route("/locked", [](const TestHttpRequest& r) {
        return RequireBasicAuth(r, "user", "secret", Feed("Locked", {"l1"}));
    });
    server.Route("/html", [](const TestHttpRequest&) {
        return TextAnswer(200, "<html><body>moved</body></html>", "text/html");
    });
    TChannel* ok = Channel(nullptr, "Ok", server.Url("/ok"));
    TChannel* error = Channel(nullptr, "Error", server.Url("/error"));
    TChannel* locked = Channel(nullptr, "Locked", server.Url("/locked"));
    TChannel* blank = Channel(nullptr, "Blank", "   ");
    TChannel* unusable = Channel(nullptr, "Unusable", "ftp://example.com/feed");
    TChannel* html = Channel(nullptr, "Html", server.Url("/html"));
    // A channel that needed a password last time and now simply fails is a failure.
    error->Status = TChannel::StatusNeedsCredentials;
    auto cycle = Cycle();

    const auto outcomes = RunRefresh(*cycle);
    ASSERT_EQ(outcomes.size(), 6);
    EXPECT_EQ(outcomes[0].Outcome, TChannelOutcome::Merged);
    EXPECT_EQ(outcomes[1].Outcome, TChannelOutcome::Failed);
    EXPECT_EQ(outcomes[1].StatusCode, 500u);
    EXPECT_EQ(outcomes[2].Outcome, TChannelOutcome::NeedsCredentials);
    EXPECT_EQ(outcomes[3].Outcome, TChannelOutcome::Failed);
    EXPECT_EQ(outcomes[4].Outcome, TChannelOutcome::Failed);
    EXPECT_EQ(outcomes[4].Reason, QStringLiteral("Invalid URI"));
    EXPECT_EQ(outcomes[5].Outcome, TChannelOutcome::Unreadable);

    EXPECT_EQ(ok->Status, TChannel::StatusOk);
    EXPECT_EQ(error->Status, TChannel::StatusFailed);
    EXPECT_EQ(locked->Status, TChannel::StatusNeedsCredentials);
    EXPECT_FALSE(locked->UseAccountCredentials);
    EXPECT_EQ(blank->Status, TChannel::StatusFailed);
    EXPECT_EQ(unusable->Status, TChannel::StatusFailed);
    // A document that is not a feed changes nothing and leaves the state as it is.
    EXPECT_EQ(html->Status, TChannel::StatusOk);
    EXPECT_EQ(html->TopicCount, 0);

    // The states are in the file.
    doc.reset();
    doc = std::make_unique<TQuillmarDoc>(env.DocumentsFolder());
    doc->OpenDocument();
    const TChannel* reread = doc->ChannelByUrl(QString::fromUtf8(server.Url("/locked")));
    ASSERT_TRUE(reread);
    EXPECT_EQ(reread->Status, TChannel::StatusNeedsCredentials);
}

TEST_F(RefreshCycleTest, AccountCredentialsAnswerAPasswordRequestWhenLockedInToTheService) {
    server.Route("/locked", [](const TestHttpRequest& r) {
        return RequireBasicAuth(r, "user", "secret", Feed("Locked", {"l1"}));
    });
    TChannel* locked = Channel(nullptr, "Locked", server.Url("/locked"));
    configuration.LockedInToService = true;
    configuration.AccountUserName = "user";
    configuration.AccountPassword = "secret";
    auto cycle = Cycle();

    const auto outcomes = RunRefresh(*cycle);
    ASSERT_EQ(outcomes.size(), 1);
    EXPECT_EQ(outcomes[0].Outcome, TChannelOutcome::Merged);
    EXPECT_EQ(locked->Status, TChannel::StatusOk);
    EXPECT_TRUE(locked->UseAccountCredentials);
    EXPECT_EQ(outcomes[0].NewTopics, 1);
}

TEST_F(RefreshCycleTest, PasswordQuestionOfAChannelFetchedAheadTakesEffectInItsTurn) {
    server.Route("/slow", [](const TestHttpRequest&) { return Feed("Slow", {"s1"}, 500); });
    server.Route("/locked", [](const TestHttpRequest& r) {
        return RequireBasicAuth(r, "user", "secret", Feed("Locked", {"l1"}));
    });
    TChannel* slow = Channel(nullptr, "Slow", server.Url("/slow"));
    TChannel* locked = Channel(nullptr, "Locked", server.Url("/locked"));
    auto cycle = Cycle();
    quint8 lockedStateWhenSlowWasDone = 0;
    int lockedRequestsWhenSlowWasDone = 0;
    hooks.onRelabel = [&](TChannel* channel) {
        if (channel == slow) {
            lockedStateWhenSlowWasDone = locked->Status;
            lockedRequestsWhenSlowWasDone = server.RequestsFor("/locked").size();
        }
    };

    RunRefresh(*cycle);
    EXPECT_GT(lockedRequestsWhenSlowWasDone, 0);               // it was fetched ahead...
    EXPECT_EQ(lockedStateWhenSlowWasDone, TChannel::StatusOk); // ...but not judged early
    EXPECT_EQ(locked->Status, TChannel::StatusNeedsCredentials);
}

TEST_F(RefreshCycleTest, UntrustedCertificateOrAnotherHostGetsNoPasswordButTheRefreshGoesOn) {
    TestHttpServer tls(TestHttpServer::Security::TlsWithSelfSignedCertificate);
    tls.Route("/open", [](const TestHttpRequest&) { return Feed("Open", {"o1"}); });
    tls.Route("/private", [](const TestHttpRequest& r) {
        return RequireBasicAuth(r, "user", "secret", Feed("Private", {"p1"}));
    });
    server.Route("/moved", [this](const TestHttpRequest&) {
        return RedirectAnswer(302, server.LocalhostUrl("/private"));
    });
    server.Route("/private", [](const TestHttpRequest& r) {
        return RequireBasicAuth(r, "user", "secret", Feed("Private", {"p1"}));
    });
    TChannel* open = Channel(nullptr, "Open", tls.Url("/open"));
    TChannel* overTls = Channel(nullptr, "OverTls", tls.Url("/private"));
    TChannel* moved = Channel(nullptr, "Moved", server.Url("/moved"));
    configuration.LockedInToService = true;
    configuration.AccountUserName = "user";
    configuration.AccountPassword = "secret";
    auto cycle = Cycle();

    const auto outcomes = RunRefresh(*cycle);
    ASSERT_EQ(outcomes.size(), 3);
    EXPECT_EQ(outcomes[0].Outcome, TChannelOutcome::Merged);
    EXPECT_EQ(open->Status, TChannel::StatusOk);
    EXPECT_EQ(open->TopicCount, 1);
    for (TChannel* channel : {overTls, moved}) {
        SCOPED_TRACE(channel->Title().toStdString());
        EXPECT_EQ(channel->Status, TChannel::StatusNeedsCredentials);
        EXPECT_FALSE(channel->UseAccountCredentials);
        EXPECT_EQ(channel->TopicCount, 0);
    }
    EXPECT_EQ(outcomes[1].Outcome, TChannelOutcome::NeedsCredentials);
    EXPECT_EQ(outcomes[2].Outcome, TChannelOutcome::NeedsCredentials);
    ASSERT_FALSE(tls.RequestsFor("/private").isEmpty());
    ASSERT_FALSE(server.RequestsFor("/private").isEmpty());
    for (const auto& request : tls.Requests() + server.Requests())
        EXPECT_FALSE(request.HasHeader("Authorization")) << request.path.constData();
}

TEST_F(RefreshCycleTest, ServersThatMisbehaveFailTheirChannelAndTheRefreshGoesOn) {
    server.Route("/loop", [this](const TestHttpRequest&) {
        return RedirectAnswer(302, server.Url("/loop"));
    });
    server.Route("/silent", [](const TestHttpRequest&) {
        TestHttpResponse r;
        r.fault = TestHttpResponse::Fault::Silent;
        return r;
    });
    server.Route("/huge", [](const TestHttpRequest&) {
        TestHttpResponse r;
        r.generatedBodySize = 40LL * 1024 * 1024;
        return r;
    });
    server.Route("/dropped", [](const TestHttpRequest&) {
        TestHttpResponse r = Feed("Dropped", {"d1", "d2"});
        r.fault = TestHttpResponse::Fault::DropMidBody;
        r.dropAfter = 40;
        return r;
    });
    server.Route("/fine", [](const TestHttpRequest&) { return Feed("Fine", {"f1"}); });
    const QList<QByteArray> paths{"/loop", "/silent", "/huge", "/dropped", "/fine"};
    QList<TChannel*> channels;
    for (const QByteArray& path : paths)
        channels << Channel(nullptr, QString::fromUtf8(path.mid(1)), server.Url(path));
    auto cycle = Cycle();

    const auto outcomes = RunRefresh(*cycle);
    ASSERT_EQ(outcomes.size(), 5);
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(paths[i].constData());
        EXPECT_EQ(outcomes[i].Outcome, TChannelOutcome::Failed);
        EXPECT_EQ(channels[i]->Status, TChannel::StatusFailed);
        EXPECT_EQ(channels[i]->TopicCount, 0);
    }
    EXPECT_EQ(outcomes[4].Outcome, TChannelOutcome::Merged);
    EXPECT_EQ(channels[4]->TopicCount, 1);
}

TEST_F(RefreshCycleTest, StopDuringADownloadEndsTheRefreshAtOnce) {
    server.Route("/a", [](const TestHttpRequest&) { return Feed("A", {"a1"}); });
    server.Route("/slow", [](const TestHttpRequest&) {
        TestHttpResponse r;
        r.fault = TestHttpResponse::Fault::Silent;
        return r;
    });
    server.Route("/c", [](const TestHttpRequest&) { return Feed("C", {"c1"}); });
    TChannel* a = Channel(nullptr, "A", server.Url("/a"));
    TChannel* slow = Channel(nullptr, "Slow", server.Url("/slow"));
    TChannel* c = Channel(nullptr, "C", server.Url("/c"));
    auto cycle = Cycle(1); // one at a time: nothing of C is fetched before its turn
    cycle->FetchTimeoutMs = 20000;
    hooks.onRefreshChannel = [&](const QString& title) {
        if (title == QLatin1String("Slow"))
            QTimer::singleShot(100, cycle.get(), [&] {
                EXPECT_TRUE(cycle->ChannelDownloadInFlight());
                cycle->Stop();
            });
    };

    const auto outcomes = RunRefresh(*cycle);
    ASSERT_EQ(outcomes.size(), 2);
    EXPECT_EQ(outcomes[0].Channel, a);
    EXPECT_EQ(outcomes[1].Channel, slow);
    EXPECT_EQ(outcomes[1].Outcome, TChannelOutcome::Stopped);
    EXPECT_EQ(slow->Status, TChannel::StatusOk);
    EXPECT_EQ(c->TopicCount, 0);
    EXPECT_TRUE(server.RequestsFor("/c").isEmpty());
    EXPECT_FALSE(cycle->Busy());
    EXPECT_FALSE(cycle->Refreshing());
    // The channel that did bring news is announced.
    EXPECT_EQ(hooks.With("line ").join('|'), "line A (1)");
    EXPECT_LT(hooks.IndexOf("commands enabled"), hooks.IndexOf("popup shown"));
    EXPECT_LT(hooks.IndexOf("popup shown"), hooks.IndexOf("relabel Slow"));

    // A new refresh starts from a full queue again.
    hooks.onRefreshChannel = nullptr;
    server.Route("/slow", [](const TestHttpRequest&) { return Feed("Slow", {"s1"}); });
    const auto again = RunRefresh(*cycle);
    EXPECT_EQ(again.size(), 3);
    EXPECT_EQ(c->TopicCount, 1);
}

TEST_F(RefreshCycleTest, UnchangedFeedIsAskedForConditionallyAndNeitherParsedNorWritten) {
    TestServedFile file(Rss("Cond", {"c1", "c2"}));
    file.etag = "\"v1\"";
    file.lastModified = "Wed, 21 Oct 2026 07:28:00 GMT";
    file.contentType = "application/rss+xml";
    server.Route("/feed", [&file](const TestHttpRequest& r) { return ServeFile(r, file); });
    TChannel* channel = Channel(nullptr, "Cond", server.Url("/feed"));
    auto cycle = Cycle();

    auto outcomes = RunRefresh(*cycle);
    ASSERT_EQ(outcomes.size(), 1);
    EXPECT_EQ(outcomes[0].Outcome, TChannelOutcome::Merged);
    EXPECT_EQ(outcomes[0].NewTopics, 2);
    EXPECT_TRUE(QFile::exists(TFeedValidators::FileNameFor(doc->FileName())));
    const QByteArray before = FileBytes();
    hooks.log.clear();

    outcomes = RunRefresh(*cycle);
    ASSERT_EQ(outcomes.size(), 1);
    EXPECT_EQ(outcomes[0].Outcome, TChannelOutcome::NotModified);
    EXPECT_EQ(outcomes[0].StatusCode, 304u);
    const auto requests = server.RequestsFor("/feed");
    ASSERT_EQ(requests.size(), 2);
    EXPECT_FALSE(requests[0].HasHeader("If-None-Match"));
    EXPECT_EQ(requests[1].Header("If-None-Match"), "\"v1\"");
    EXPECT_EQ(requests[1].Header("If-Modified-Since"), file.lastModified);
    EXPECT_TRUE(channel->IndexNotLoaded); // nothing was merged
    EXPECT_EQ(FileBytes(), before);
    EXPECT_TRUE(hooks.With("line ").isEmpty());
    EXPECT_TRUE(hooks.With("popup shown").isEmpty());
}

TEST_F(RefreshCycleTest, ChannelWithoutTopicsOrWithANewAddressIsFetchedInFull) {
    TestServedFile file(Rss("Cond", {"c1"}));
    file.etag = "\"v1\"";
    file.contentType = "application/rss+xml";
    server.Route("/feed", [&file](const TestHttpRequest& r) { return ServeFile(r, file); });
    server.Route("/moved", [&file](const TestHttpRequest& r) { return ServeFile(r, file); });
    TChannel* channel = Channel(nullptr, "Cond", server.Url("/feed"));
    auto cycle = Cycle();
    RunRefresh(*cycle);
    ASSERT_EQ(channel->TopicCount, 1);

    // Cleared: every item is stored again, so the whole feed must come.
    doc->ClearChannel(*channel);
    auto outcomes = RunRefresh(*cycle);
    ASSERT_EQ(outcomes.size(), 1);
    EXPECT_EQ(outcomes[0].Outcome, TChannelOutcome::Merged);
    EXPECT_EQ(outcomes[0].NewTopics, 1);
    EXPECT_FALSE(server.RequestsFor("/feed").last().HasHeader("If-None-Match"));

    channel->SetUrl(QString::fromUtf8(server.Url("/moved")));
    outcomes = RunRefresh(*cycle);
    ASSERT_EQ(outcomes.size(), 1);
    EXPECT_FALSE(server.RequestsFor("/moved").last().HasHeader("If-None-Match"));
}

TEST_F(RefreshCycleTest, NoPopupAndNoSoundWithoutNewTopics) {
    server.Route("/a", [](const TestHttpRequest&) { return Feed("A", {}); });
    Channel(nullptr, "A", server.Url("/a"));
    configuration.PlayNewContentNotificationSound = true;
    auto cycle = Cycle();
    RunRefresh(*cycle);
    EXPECT_EQ(cycle->UpdatedChannelCount(), 0);
    EXPECT_TRUE(hooks.With("popup shown").isEmpty());
    EXPECT_TRUE(hooks.With("sound").isEmpty());
}

TEST_F(RefreshCycleTest, NewContentPlaysTheSoundAndShowsThePopupAsConfigured) {
    struct Case {
        bool sound;
        bool popup;
        int popupTime;
        QStringList expected;
    };
    const QList<Case> cases{
        {true, true, 5, {"sound", "popup delay 5000", "popup shown"}},
        {false, true, 99, {"popup delay 60000", "popup shown"}},
        {true, false, 10, {"sound"}},
        {false, false, 10, {}},
    };
    for (const Case& c : cases) {
        hooks.log.clear();
        configuration.PlayNewContentNotificationSound = c.sound;
        configuration.NotifyOnNewContent = c.popup;
        configuration.PopupTime = c.popupTime;
        auto cycle = Cycle();
        cycle->NotifyNewContent();
        EXPECT_EQ(hooks.log, c.expected);
    }
}

TEST_F(RefreshCycleTest, AutoRefreshPeriodCountsInMinutesOrHours) {
    struct Case {
        int period;
        int measure;
        int expectedMs;
    };
    for (const Case& c : {Case{2, 1, 7200000}, Case{2, 0, 120000}, Case{30, 0, 1800000},
                          Case{100, 1, 360000000}, Case{0, 0, 60000}, Case{500, 1, 360000000}}) {
        configuration.AutoRefreshPeriod = c.period;
        configuration.AutoRefreshMeasure = c.measure;
        EXPECT_EQ(TRefreshCycle::AutoRefreshInterval(configuration), c.expectedMs)
            << c.period << " " << c.measure;
    }
}

TEST_F(RefreshCycleTest, TimersStartAfterAnOperationOnlyWhenAutoRefreshIsOn) {
    auto cycle = Cycle();
    configuration.AutoRefreshPeriod = 2;
    configuration.AutoRefreshMeasure = 1;
    cycle->StartTimers();
    EXPECT_TRUE(cycle->AutoRefreshTimer().isActive());
    EXPECT_EQ(cycle->AutoRefreshTimer().interval(), 7200000);
    cycle->BeginOperation("Working");
    EXPECT_FALSE(cycle->AutoRefreshTimer().isActive());
    EXPECT_TRUE(cycle->Busy());
    cycle->EndOperation();
    EXPECT_TRUE(cycle->AutoRefreshTimer().isActive());

    configuration.AutoRefresh = false;
    cycle->StopAutoRefresh();
    cycle->StartTimers();
    EXPECT_FALSE(cycle->AutoRefreshTimer().isActive());
}

TEST_F(RefreshCycleTest, StopSetsTheSharedStopEventOfOtherOperations) {
    auto cycle = Cycle();
    cycle->BeginOperation("Searching");
    const auto event = TNamedEvent::Open(kStopOperationEventName);
    EXPECT_FALSE(event->IsSet());
    cycle->Stop();
    EXPECT_TRUE(event->IsSet());
    cycle->EndOperation();
    EXPECT_FALSE(cycle->Busy());
}

TEST_F(RefreshCycleTest, PendingAddressIsSubscribedWhenTheRefreshEnds) {
    hooks.pendingUrl = "http://example.com/feed";
    auto cycle = Cycle();
    RunRefresh(*cycle);
    EXPECT_EQ(hooks.With("add pending").join('|'), "add pending http://example.com/feed");
}

TEST_F(RefreshCycleTest, RefreshCommandsDoNothingWhileBusy) {
    server.Route("/a", [](const TestHttpRequest&) { return Feed("A", {"a1"}); });
    TChannel* a = Channel(nullptr, "A", server.Url("/a"));
    auto cycle = Cycle();
    cycle->BeginOperation("Searching");
    cycle->Refresh();
    cycle->RefreshChannel(*a);
    EXPECT_FALSE(cycle->Refreshing());
    EXPECT_EQ(cycle->Subscribe(), nullptr);
    EXPECT_TRUE(hooks.With("add dialog").isEmpty());
    cycle->EndOperation();
}

TEST_F(RefreshCycleTest, RefreshOfOneChannelFetchesOnlyThatChannel) {
    server.Route("/a", [](const TestHttpRequest&) { return Feed("A", {"a1"}); });
    server.Route("/b", [](const TestHttpRequest&) { return Feed("B", {"b1"}); });
    Channel(nullptr, "A", server.Url("/a"));
    TChannel* b = Channel(nullptr, "B", server.Url("/b"));
    auto cycle = Cycle();
    const auto outcomes = RunRefresh(*cycle, [&] { cycle->RefreshChannel(*b); });
    ASSERT_EQ(outcomes.size(), 1);
    EXPECT_EQ(outcomes[0].Channel, b);
    EXPECT_TRUE(server.RequestsFor("/a").isEmpty());
}

TEST_F(RefreshCycleTest, OnlyTheSelectedChannelKeepsItsIndexInMemory) {
    server.Route("/a", [](const TestHttpRequest&) { return Feed("A", {"a1"}); });
    server.Route("/b", [](const TestHttpRequest&) { return Feed("B", {"b1"}); });
    TChannel* a = Channel(nullptr, "A", server.Url("/a"));
    TChannel* b = Channel(nullptr, "B", server.Url("/b"));
    hooks.selected = b;
    auto cycle = Cycle();
    RunRefresh(*cycle);
    EXPECT_TRUE(a->IndexNotLoaded);
    EXPECT_FALSE(b->IndexNotLoaded);
    EXPECT_EQ(b->TopicIndexCount(), 1);
}

TEST_F(RefreshCycleTest, SubscribingAddsTheChannelToTheSelectedChannelsFolder) {
    TFolder* news = Folder(nullptr, "News");
    TChannel* selected = Channel(news, "Old", server.Url("/old"));
    hooks.selected = selected;
    hooks.addAnswer = {true, QStringLiteral("http://example.com/new"), false};
    hooks.addStream = Rss("New feed", {"n1", "n2", "n3"});
    auto cycle = Cycle();

    TChannel* made = cycle->Subscribe();
    ASSERT_TRUE(made);
    EXPECT_EQ(made->Parent(), news);
    EXPECT_EQ(made->Title(), "New feed");
    EXPECT_EQ(made->Url(), "http://example.com/new");
    EXPECT_EQ(made->TopicCount, 3);
    const QStringList expected{"add dialog",
                               "popup cleared",
                               "line " + PopupFolderChannelLine("New feed", "News", 3),
                               "popup delay 10000",
                               "popup shown",
                               "node New feed",
                               "downloads resumed"};
    EXPECT_EQ(hooks.log, expected);
    EXPECT_TRUE(cycle->AutoRefreshTimer().isActive());

    // It is in the file, with its title.
    doc.reset();
    doc = std::make_unique<TQuillmarDoc>(env.DocumentsFolder());
    doc->OpenDocument();
    const TChannel* reread = doc->ChannelByUrl("http://example.com/new");
    ASSERT_TRUE(reread);
    EXPECT_EQ(reread->Title(), "New feed");
}

TEST_F(RefreshCycleTest, SubscribingSomethingThatIsNotAFeedLeavesNoTrace) {
    hooks.addAnswer = {true, QStringLiteral("http://example.com/page"), false};
    hooks.addStream = "<html><body>not a feed</body></html>";
    auto cycle = Cycle();
    EXPECT_EQ(cycle->Subscribe(), nullptr);
    EXPECT_EQ(hooks.With("error ").join('|'), "error " + GetConstant(SCannotParseChannel));
    EXPECT_EQ(doc->Root()->ChannelCount(), 0);
    EXPECT_EQ(doc->ChannelByUrl("http://example.com/page"), nullptr);
    EXPECT_TRUE(hooks.With("node ").isEmpty());

    doc.reset();
    doc = std::make_unique<TQuillmarDoc>(env.DocumentsFolder());
    doc->OpenDocument();
    EXPECT_EQ(doc->Root()->ChannelCount(), 0);
}

TEST_F(RefreshCycleTest, CancelledSubscriptionChangesNothing) {
    hooks.addAnswer = {};
    auto cycle = Cycle();
    EXPECT_EQ(cycle->Subscribe(), nullptr);
    EXPECT_EQ(hooks.log, QStringList{"add dialog"});
    EXPECT_EQ(doc->Root()->ChannelCount(), 0);
}

TEST_F(RefreshCycleTest, BrandedListIsRequestedOnceARun) {
    auto cycle = Cycle();
    cycle->RequestBrandedList();
    cycle->RequestBrandedList();
    EXPECT_EQ(hooks.With("branded list").size(), 1);
    EXPECT_TRUE(cycle->BrandedListDone());
}

} // namespace
