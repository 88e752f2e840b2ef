// How fast does the XML host load feeds? Bare document loading (no feed model) on
// generated RSS 2.0, RSS 1.0 and Atom 1.0 documents of 10 to 10,000 items and one of
// about 50 MB, beside `xmllint --noout` on the same files: libxml2's own parse, the
// practical upper bound. Figures are CPU time per load. The "repaired" rows carry one bare "&" at
// the end, so every load fails once, is repaired and is parsed again.
//
//   build/release/bench/bench_XmlParse [--quick] [--keep DIR]

#include "feeds/XDomHost.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

enum class Format { Rss2, Rss1, Atom };

const char* FormatName(Format format) {
    switch (format) {
    case Format::Rss2:
        return "RSS 2.0";
    case Format::Rss1:
        return "RSS 1.0";
    case Format::Atom:
        return "Atom 1.0";
    }
    return "";
}

QByteArray Description(int item) {
    return "&lt;p&gt;Item " + QByteArray::number(item) +
           " tells of things that happened &amp; what came of them. &lt;a "
           "href=&quot;http://example.com/a?b=1&amp;c=2&quot;&gt;More&lt;/a&gt; about "
           "caf\xC3\xA9s, na\xC3\xAFve quotes \xE2\x80\x9Clike these\xE2\x80\x9D and the "
           "rest.&lt;/p&gt;" +
           QByteArray("&lt;p&gt;Lorem ipsum dolor sit amet, consectetur adipiscing elit, sed "
                      "do eiusmod tempor incididunt ut labore.&lt;/p&gt;")
               .repeated(1 + item % 4);
}

QByteArray Feed(Format format, int items, bool bareAmpersand) {
    QByteArray out = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n";
    switch (format) {
    case Format::Rss2:
        out += "<rss version=\"2.0\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\"><channel>"
               "<title>Bench</title><link>http://example.com/</link>"
               "<description>Generated</description>\n";
        for (int i = 0; i < items; ++i) {
            out += "<item><title>Item " + QByteArray::number(i) +
                   "</title><link>http://example.com/item/" + QByteArray::number(i) +
                   "</link><guid isPermaLink=\"false\">urn:item:" + QByteArray::number(i) +
                   "</guid><pubDate>Sat, 07 Sep 2002 00:00:01 GMT</pubDate>"
                   "<category>News</category><dc:creator>Ann</dc:creator><description>" +
                   Description(i) + "</description></item>\n";
        }
        out += bareAmpersand ? "<copyright>R&D</copyright>" : "";
        out += "</channel></rss>\n";
        break;
    case Format::Rss1:
        out += "<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\" "
               "xmlns=\"http://purl.org/rss/1.0/\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\">"
               "<channel rdf:about=\"http://example.com/\"><title>Bench</title>"
               "<link>http://example.com/</link><description>Generated</description></channel>\n";
        for (int i = 0; i < items; ++i) {
            out += "<item rdf:about=\"http://example.com/item/" + QByteArray::number(i) +
                   "\"><title>Item " + QByteArray::number(i) +
                   "</title><link>http://example.com/item/" + QByteArray::number(i) +
                   "</link><dc:date>2003-12-13T18:30:02Z</dc:date><dc:subject>News</dc:subject>"
                   "<description>" +
                   Description(i) + "</description></item>\n";
        }
        out += bareAmpersand ? "<textinput>R&D</textinput>" : "";
        out += "</rdf:RDF>\n";
        break;
    case Format::Atom:
        out += "<feed xmlns=\"http://www.w3.org/2005/Atom\"><title>Bench</title>"
               "<id>urn:bench</id><updated>2003-12-13T18:30:02Z</updated>"
               "<link rel=\"alternate\" href=\"http://example.com/\"/>\n";
        for (int i = 0; i < items; ++i) {
            out += "<entry><title type=\"text\">Item " + QByteArray::number(i) +
                   "</title><id>urn:item:" + QByteArray::number(i) +
                   "</id><link rel=\"alternate\" href=\"http://example.com/item/" +
                   QByteArray::number(i) +
                   "\"/><updated>2003-12-13T18:30:02Z</updated><author><name>Ann</name></author>"
                   "<category term=\"News\"/><content type=\"html\">" +
                   Description(i) + "</content></entry>\n";
        }
        out += bareAmpersand ? "<rights>R&D</rights>" : "";
        out += "</feed>\n";
        break;
    }
    return out;
}

double CpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return now.tv_sec + now.tv_nsec / 1e9;
}

// CPU seconds per load, the best of several rounds of enough loads to last a while.
// CPU time rather than wall time: the machines this runs on are shared.
double SecondsPerLoad(const QByteArray& bytes, int rounds) {
    const int loads = std::max(1, int(20'000'000 / std::max<qsizetype>(bytes.size(), 1)));
    double best = 1e30;
    for (int round = 0; round < rounds; ++round) {
        const double start = CpuSeconds();
        for (int i = 0; i < loads; ++i)
            TXmlHost::LoadDocument(bytes);
        best = std::min(best, (CpuSeconds() - start) / loads);
    }
    return best;
}

// The CPU time of one run of xmllint with these arguments; negative when it failed.
double XmllintCpuSeconds(const QStringList& arguments) {
    QList<QByteArray> storage{"xmllint"};
    for (const QString& argument : arguments)
        storage.append(argument.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& argument : storage)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawnp(&pid, "xmllint", nullptr, nullptr, argv.data(), environ) != 0)
        return -1;
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
           usage.ru_stime.tv_usec / 1e6;
}

// xmllint's CPU seconds per parse of the file: `--repeat` parses it 100 times in one
// run; the cost of starting xmllint is measured on a tiny file and taken off. 0 when
// xmllint is missing.
double XmllintSecondsPerLoad(const QString& path, const QString& tinyPath, qsizetype size,
                             int rounds) {
    const bool repeat = size < 10'000'000;
    QStringList arguments{"--noout"};
    if (repeat)
        arguments << "--repeat";
    double best = 1e30;
    double startup = 1e30;
    for (int round = 0; round < rounds; ++round) {
        const double run = XmllintCpuSeconds(QStringList(arguments) << path);
        const double idle = XmllintCpuSeconds(QStringList(arguments) << tinyPath);
        if (run < 0 || idle < 0)
            return 0;
        best = std::min(best, run);
        startup = std::min(startup, idle);
    }
    return std::max(best - startup, 1e-6) / (repeat ? 100 : 1);
}

} // namespace

// Each document is measured in a fresh process, as xmllint is: thousands of loads of one
// size leave the allocator in a state that distorts the next size's figures.
double HostSecondsPerLoad(const QString& path, int rounds) {
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(),
                {"--measure", path, QString::number(rounds)});
    if (!child.waitForFinished(600000) || child.exitCode() != 0)
        return 0;
    return child.readAllStandardOutput().trimmed().toDouble();
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (app.arguments().value(1) == "--measure") {
        QFile file(app.arguments().value(2));
        if (!file.open(QIODevice::ReadOnly))
            return 1;
        std::printf("%.9f\n", SecondsPerLoad(file.readAll(), app.arguments().value(3).toInt()));
        return 0;
    }
    const bool quick = app.arguments().contains("--quick");
    // --keep DIR leaves the generated documents there for other tools.
    const qsizetype keepAt = app.arguments().indexOf("--keep");
    const QString keep = keepAt > 0 ? app.arguments().value(keepAt + 1) : QString();
    const int rounds = quick ? 1 : 3;
    QTemporaryDir folder;
    const QString tinyPath = folder.filePath("tiny.xml");
    {
        QFile tiny(tinyPath);
        tiny.open(QIODevice::WriteOnly);
        tiny.write("<a/>");
    }
    QTextStream out(stdout);
    out << QString("%1 %2 %3 %4 %5 %6 %7\n")
               .arg("format", -9)
               .arg("items", 7)
               .arg("size MB", 9)
               .arg("host MB/s", 10)
               .arg("items/s", 10)
               .arg("xmllint MB/s", 13)
               .arg("ratio", 6);
    struct Run {
        Format format;
        int items;
        bool repaired;
    };
    QList<Run> runs;
    for (const Format format : {Format::Rss2, Format::Rss1, Format::Atom}) {
        for (const int items : {10, 100, 1000, 10000})
            runs.append({format, items, false});
    }
    runs.append({Format::Rss2, 1000, true});
    runs.append({Format::Rss2, 10000, true});
    if (!quick)
        runs.append({Format::Rss2, 60000, false}); // about 50 MB
    for (const Run& run : runs) {
        const QByteArray bytes = Feed(run.format, run.items, run.repaired);
        const QString path = folder.filePath("feed.xml");
        QFile file(path);
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write(bytes);
        file.close();
        if (!keep.isEmpty()) {
            QFile kept(QString("%1/%2-%3%4.xml")
                           .arg(keep, QString(FormatName(run.format)).remove(' ').toLower())
                           .arg(run.items)
                           .arg(run.repaired ? "-repaired" : ""));
            kept.open(QIODevice::WriteOnly | QIODevice::Truncate);
            kept.write(bytes);
        }
        const double megabytes = bytes.size() / 1e6;
        const double host = HostSecondsPerLoad(path, rounds);
        const double xmllint =
            run.repaired ? 0 : XmllintSecondsPerLoad(path, tinyPath, bytes.size(), rounds);
        out << QString("%1 %2 %3 %4 %5 %6 %7\n")
                   .arg(QString(FormatName(run.format)) + (run.repaired ? "*" : ""), -9)
                   .arg(run.items, 7)
                   .arg(megabytes, 9, 'f', 3)
                   .arg(megabytes / host, 10, 'f', 1)
                   .arg(run.items / host, 10, 'f', 0)
                   .arg(xmllint > 0 ? QString::number(megabytes / xmllint, 'f', 1) : QString("-"),
                        13)
                   .arg(xmllint > 0 ? QString::number(xmllint / host, 'f', 2) : QString("-"), 6);
        out.flush();
    }
    out << "* one bare \"&\": every load is repaired and parsed twice\n";
    return 0;
}
