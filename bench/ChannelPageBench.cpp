// How long does the browser pane wait for the channel page of a large channel? Builds
// the page of one channel holding TOPICS topics (default 3,000) whose descriptions are
// ordinary blog-post HTML of about 1 KB (paragraphs, links, an image, a list, one
// script that active-content removal and the sanitizer take out), in memory, with the
// built-in templates. The goal is well under a second.
//
//   bench_ChannelPage [TOPICS] [RUNS]

#include "feeds/ChannelPages.h"
#include "feeds/HTMLSanitizer.h"
#include "store/QuillmarDocCore.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

QString Description(int n) {
    return QStringLiteral(
               "<p>Post number %1 talks about <b>feeds</b>, <i>readers</i> and the "
               "<a href=\"https://blog.example/tags/reading\">art of reading</a> on a small "
               "screen. Lorem ipsum dolor sit amet, consectetur adipiscing elit, sed do eiusmod "
               "tempor incididunt ut labore et dolore magna aliqua &amp; more.</p>"
               "<p><img src=\"https://cdn.blog.example/images/%1.jpg\" alt=\"Picture %1\" "
               "width=\"640\" height=\"360\" onload=\"track(%1)\"></p>"
               "<ul><li>First point, with <code>code</code></li><li>Second point</li>"
               "<li>Third point with a <a href=\"/relative/%1\">relative link</a></li></ul>"
               "<script>window.analytics && analytics.track(%1);</script>"
               "<blockquote>Ut enim ad minim veniam, quis nostrud exercitation ullamco laboris "
               "nisi ut aliquip ex ea commodo consequat.</blockquote>"
               "<p>Duis aute irure dolor in reprehenderit in voluptate velit esse cillum dolore "
               "eu fugiat nulla pariatur. Excepteur sint occaecat cupidatat non proident, sunt "
               "in culpa qui officia deserunt mollit anim id est laborum. \u00E9\u00E8 "
               "\U0001F600</p>")
        .arg(n);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int topicCount = argc > 1 ? std::max(1, atoi(argv[1])) : 3000;
    const int runs = argc > 2 ? std::max(1, atoi(argv[2])) : 5;

    TFolder root;
    TChannel* channel = root.AddChannel();
    channel->SetTitle(QStringLiteral("A Large Blog"));
    channel->Link = QStringLiteral("https://blog.example/");
    channel->SetUrl(QStringLiteral("https://blog.example/feed.xml"));
    channel->SetCopyright(QStringLiteral("(c) 2026 The Authors"));
    channel->Image.Link = QStringLiteral("https://blog.example/");
    channel->Image.Src = QStringLiteral("https://blog.example/logo.png");
    channel->Image.Title = QStringLiteral("A Large Blog");
    qint64 descriptionBytes = 0;
    for (int i = 0; i < topicCount; ++i) {
        auto topic = std::make_unique<QuillmarDocCore::TTopic>(channel);
        topic->SetTitle(QStringLiteral("Topic %1: on reading &amp; writing").arg(i));
        topic->SetDescription(Description(i));
        topic->Link = QStringLiteral("https://blog.example/posts/%1").arg(i);
        topic->Author = QStringLiteral("Author %1").arg(i % 7);
        topic->Date = 46000 + i;
        topic->NeedsLoading = false;
        descriptionBytes += topic->Description().toUtf8().size();
        TTopicIndex* entry =
            channel->AddTopicIndex("key" + QByteArray::number(i), std::move(topic));
        entry->Date = 46000 + i;
    }
    const TTopicLoader load = [](TTopicIndex& entry) { return entry.Topic(); };

    std::vector<double> times;
    qint64 pageBytes = 0;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer timer;
        timer.start();
        const QList<TTopicIndex*> topics = TopicsInListOrder(*channel, 1, true);
        const std::optional<QByteArray> page = BuildChannelPage(
            *channel, topics,
            {{QStringLiteral("channel"), false}, {QStringLiteral("channel_topic"), false}}, load);
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
        if (!page) {
            std::fprintf(stderr, "the page was not built\n");
            return 1;
        }
        pageBytes = page->size();
    }
    std::sort(times.begin(), times.end());

    // The sanitizer alone, for the share it takes.
    QElapsedTimer sanitizer;
    sanitizer.start();
    for (int i = 0; i < topicCount; ++i)
        SanitizeHtml(RemoveActiveContent(Description(i)), QStringLiteral("https://blog.example/"));
    const double sanitizerMs = double(sanitizer.nsecsElapsed()) / 1e6;

    std::printf("channel page of %d topics (%.1f MB of descriptions, page %.1f MB), %d runs\n",
                topicCount, descriptionBytes / 1e6, pageBytes / 1e6, runs);
    std::printf("  best %.0f ms, median %.0f ms, worst %.0f ms   (goal: well under 1000 ms)\n",
                times.front(), times[times.size() / 2], times.back());
    std::printf("  of which removal and sanitizing alone: %.0f ms (one pass)\n", sanitizerMs);
    return 0;
}
