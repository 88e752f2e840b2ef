// How fast is a downloaded feed read into the model? Generated RSS 2.0, RSS 1.0, Atom 1.0
// and Atom 0.3 feeds of 10 to 10,000 items are read with TChannelLoader::LoadFeed, side by
// side with "xmllint --noout" (libxml2's bare parse, the practical upper bound) on the
// same files. Times are CPU times (user + system), so a busy machine blurs them less;
// each figure is the best of five runs.
//
//   bench_FeedParse [MAX_ITEMS]      (default 10000)
#include "feeds/ChannelLoader.h"
#include "feeds/FeedDoc.h"
#include "shell/Clock.h"

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

// Each figure is the best of this many runs: on a shared machine the worst runs say
// more about the neighbours than about the program.
constexpr int kAttempts = 5;

QByteArray Number(int i) {
    return QByteArray::number(i);
}

const QByteArray kParagraph =
    "&lt;p&gt;Lorem ipsum dolor sit amet, consectetur adipiscing elit, sed do eiusmod tempor "
    "incididunt ut labore et dolore magna aliqua. Ut enim ad minim veniam, quis nostrud "
    "exercitation ullamco laboris nisi ut aliquip ex ea commodo consequat.&lt;/p&gt;";

QByteArray Rss20(int items) {
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rss version=\"2.0\" "
                     "xmlns:dc=\"http://purl.org/dc/elements/1.1/\">\n<channel>\n"
                     "<title>Bench</title><link>http://bench.example.com/</link>"
                     "<description>Generated</description><language>en-us</language>\n";
    for (int i = 0; i < items; ++i)
        xml += "<item><title>Item " + Number(i) + "</title><link>http://bench.example.com/" +
               Number(i) + "</link><description>" + kParagraph +
               "</description><dc:creator>Writer</dc:creator><category>bench</category>"
               "<guid isPermaLink=\"false\">bench-" +
               Number(i) +
               "</guid><pubDate>Fri, 01 Mar 2024 09:00:00 GMT</pubDate>"
               "<enclosure url=\"http://bench.example.com/" +
               Number(i) + ".mp3\" length=\"123456\" type=\"audio/mpeg\"/></item>\n";
    return xml + "</channel>\n</rss>\n";
}

QByteArray Rss10(int items) {
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rdf:RDF "
                     "xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\" "
                     "xmlns=\"http://purl.org/rss/1.0/\" "
                     "xmlns:dc=\"http://purl.org/dc/elements/1.1/\" "
                     "xmlns:content=\"http://purl.org/rss/1.0/modules/content/\">\n"
                     "<channel rdf:about=\"http://bench.example.com/\"><title>Bench</title>"
                     "<link>http://bench.example.com/</link><description>Generated</description>"
                     "<items><rdf:Seq/></items></channel>\n";
    for (int i = 0; i < items; ++i)
        xml += "<item rdf:about=\"http://bench.example.com/" + Number(i) + "\"><title>Item " +
               Number(i) + "</title><link>http://bench.example.com/" + Number(i) +
               "</link><description>Short</description><content:encoded>" + kParagraph +
               "</content:encoded><dc:creator>Writer</dc:creator>"
               "<dc:date>2024-03-01T09:00:00Z</dc:date></item>\n";
    return xml + "</rdf:RDF>\n";
}

QByteArray Atom10(int items) {
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<feed "
                     "xmlns=\"http://www.w3.org/2005/Atom\">\n<title>Bench</title>"
                     "<link href=\"http://bench.example.com/\"/><id>urn:bench</id>"
                     "<updated>2024-03-01T09:00:00Z</updated>\n";
    for (int i = 0; i < items; ++i)
        xml += "<entry><title>Item " + Number(i) +
               "</title><link href=\"http://bench.example.com/" + Number(i) +
               "\"/><id>urn:bench:" + Number(i) +
               "</id><updated>2024-03-01T09:00:00Z</updated><author><name>Writer</name></author>"
               "<category term=\"bench\"/><content type=\"html\">" +
               kParagraph + "</content></entry>\n";
    return xml + "</feed>\n";
}

QByteArray Atom03(int items) {
    QByteArray xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<feed version=\"0.3\" "
        "xmlns=\"http://purl.org/atom/ns#\" xml:lang=\"en-US\">\n<title>Bench</title>"
        "<link rel=\"alternate\" type=\"text/html\" href=\"http://bench.example.com/\"/>"
        "<modified>2024-03-01T09:00:00Z</modified>\n";
    for (int i = 0; i < items; ++i)
        xml += "<entry><title>Item " + Number(i) +
               "</title><link rel=\"alternate\" type=\"text/html\" "
               "href=\"http://bench.example.com/" +
               Number(i) + "\"/><id>urn:bench:" + Number(i) +
               "</id><issued>2024-03-01T09:00:00Z</issued><modified>2024-03-01T09:00:00Z"
               "</modified><author><name>Writer</name></author><content type=\"text/html\" "
               "mode=\"escaped\">" +
               kParagraph + "</content></entry>\n";
    return xml + "</feed>\n";
}

double CpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

double ChildrenCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    const auto seconds = [](const timeval& t) {
        return double(t.tv_sec) + double(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// CPU seconds of a run of "xmllint --noout --repeat" (100 parses of each file named)
// over `copies` copies of the file; negative when xmllint is missing.
double XmllintRun(const QString& path, int copies) {
    const double before = ChildrenCpuSeconds();
    const pid_t child = fork();
    if (child == 0) {
        const QByteArray file = path.toLocal8Bit();
        std::vector<const char*> arguments{"xmllint", "--noout", "--repeat"};
        for (int i = 0; i < copies; ++i)
            arguments.push_back(file.constData());
        arguments.push_back(nullptr);
        execvp("xmllint", const_cast<char* const*>(arguments.data()));
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    return ChildrenCpuSeconds() - before;
}

// CPU seconds of one xmllint parse: the best of five runs of at least 100 parses and
// some 20 MB, less the program's start-up (a run on a tiny document).
double XmllintSeconds(const QString& path, qint64 size, double startup) {
    const qint64 wanted = qint64(20) * 1024 * 1024 / (100 * qMax(size, qint64(1)));
    const int copies = int(qBound(qint64(1), wanted, qint64(1000)));
    double best = -1;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        const double run = XmllintRun(path, copies);
        if (run >= 0 && (best < 0 || run < best))
            best = run;
    }
    return best < 0 ? best : qMax(best - startup, 1e-9) / (100.0 * copies);
}

struct Reading {
    double seconds = -1; // CPU seconds per load
    bool read = false;
    qint64 topics = 0;
};

// Loads the bytes over and over (at least 5 times and for half a second of CPU).
Reading MeasureHere(const QByteArray& bytes) {
    Reading reading;
    int rounds = 0;
    const double start = CpuSeconds();
    double elapsed = 0;
    while (rounds < 5 || elapsed < 0.5) {
        TFeed feed;
        reading.read = TChannelLoader::LoadFeed(bytes, feed);
        reading.topics = qint64(feed.Topics.size());
        ++rounds;
        elapsed = CpuSeconds() - start;
    }
    reading.seconds = elapsed / rounds;
    return reading;
}

// The best of five measurements, each in a process of its own: thousands of loads of
// one size leave the allocator in a state that slows the next size down, which is not
// what this program asks about.
Reading LoadFeedSeconds(const QByteArray& bytes) {
    Reading best;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        int channel[2];
        if (pipe(channel) != 0)
            return best;
        const pid_t child = fork();
        if (child == 0) {
            close(channel[0]);
            const Reading reading = MeasureHere(bytes);
            const ssize_t written = write(channel[1], &reading, sizeof reading);
            _exit(written == ssize_t(sizeof reading) ? 0 : 1);
        }
        close(channel[1]);
        Reading reading;
        const ssize_t got = read(channel[0], &reading, sizeof reading);
        close(channel[0]);
        int status = 0;
        waitpid(child, &status, 0);
        if (got == ssize_t(sizeof reading) && (best.seconds < 0 || reading.seconds < best.seconds))
            best = reading;
    }
    return best;
}

} // namespace

int main(int argc, char** argv) {
    // As the program does at start-up.
    PinLocalTimeZone();
    const int maxItems = argc > 1 ? std::atoi(argv[1]) : 10000;
    QTemporaryDir folder;
    double startup = -1;
    {
        const QString tiny = folder.filePath(QStringLiteral("tiny.xml"));
        QFile file(tiny);
        if (file.open(QIODevice::WriteOnly))
            file.write("<a/>");
        file.close();
        for (int attempt = 0; attempt < kAttempts; ++attempt) {
            const double run = XmllintRun(tiny, 1);
            if (run >= 0 && (startup < 0 || run < startup))
                startup = run;
        }
        startup = qMax(startup, 0.0);
    }
    struct Format {
        const char* name;
        QByteArray (*generate)(int);
    };
    const Format formats[] = {
        {"RSS 2.0", &Rss20}, {"RSS 1.0", &Rss10}, {"Atom 1.0", &Atom10}, {"Atom 0.3", &Atom03}};

    std::printf("%-9s %7s %9s | %9s %11s | %9s %11s | %s\n", "format", "items", "bytes", "LoadFeed",
                "", "xmllint", "", "LoadFeed/xmllint");
    std::printf("%-9s %7s %9s | %9s %11s | %9s %11s |\n", "", "", "", "MB/s", "items/s", "MB/s",
                "items/s");
    for (const Format& format : formats) {
        for (int items = 10; items <= maxItems; items *= 10) {
            const QByteArray bytes = format.generate(items);
            const QString path = folder.filePath(QStringLiteral("feed-%1.xml").arg(items));
            QFile file(path);
            if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
                return 1;
            file.close();

            const Reading ours = LoadFeedSeconds(bytes);
            const double theirs = XmllintSeconds(path, bytes.size(), startup);
            const double megabytes = double(bytes.size()) / (1024.0 * 1024.0);
            std::printf("%-9s %7d %9lld | %9.1f %11.0f | ", format.name, items,
                        static_cast<long long>(bytes.size()), megabytes / ours.seconds,
                        items / ours.seconds);
            if (theirs > 0)
                std::printf("%9.1f %11.0f | %5.2f", megabytes / theirs, items / theirs,
                            theirs / ours.seconds);
            else
                std::printf("%9s %11s | %5s", "-", "-", "-");
            if (!ours.read)
                std::printf("  (not read as a feed: no formatter for it yet)");
            else if (ours.topics != items)
                std::printf("  (read %lld topics!)", static_cast<long long>(ours.topics));
            std::printf("\n");
            std::fflush(stdout);
        }
    }
    return 0;
}
