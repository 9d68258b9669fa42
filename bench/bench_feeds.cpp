// Reading a feed into the feed model (the detection loop: one parse, then the formatters in
// turn) against libxml2 parsing the same bytes into a DOM and nothing else, the floor. Two feeds
// of 1 000 items: RSS 2.0 of about 2 MB and Atom 1.0 of about the same size. The counter "ratio"
// of each model benchmark is its CPU time over the floor's, measured in the same run (CPU time,
// so that other work on a shared machine does not tilt it).

#include "feeds/feedformats.h"
#include "feeds/tfeed.h"

#include <benchmark/benchmark.h>

#include <libxml/parser.h>

#include <QByteArray>
#include <QString>

#include <ctime>

namespace {

constexpr int kItems = 1000;

double ThreadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// About 1.7 KB of escaped HTML, as a description or content element carries it.
QByteArray Body(int i) {
    QByteArray paragraph = "&lt;p&gt;Item " + QByteArray::number(i) +
                           " tells of the harbour, with &lt;a href=&quot;http://harbour.example/" +
                           QByteArray::number(i) +
                           "&quot;&gt;a link&lt;/a&gt; and a few sentences of ordinary text as "
                           "feeds carry them &amp;amp; more.&lt;/p&gt;\n";
    return paragraph.repeated(9);
}

const QByteArray& Rss() {
    static const QByteArray feed = [] {
        QByteArray text = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
                          "<rss version=\"2.0\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\" "
                          "xmlns:content=\"http://purl.org/rss/1.0/modules/content/\">\n"
                          "<channel>\n<title>Harbour</title>\n<link>http://harbour.example/</link>"
                          "\n<description>Tides and ships</description>\n"
                          "<lastBuildDate>Tue, 05 Apr 2005 14:03:09 GMT</lastBuildDate>\n";
        for (int i = 0; i < kItems; ++i) {
            const QByteArray n = QByteArray::number(i);
            text += "<item>\n<title>Episode " + n + ": a title of ordinary length</title>\n" +
                    "<link>http://harbour.example/" + n + "</link>\n" +
                    "<guid isPermaLink=\"false\">urn:harbour:" + n + "</guid>\n" +
                    "<pubDate>Tue, 05 Apr 2005 14:03:09 +0200</pubDate>\n" +
                    "<dc:creator>Ada Quay</dc:creator>\n<description>" + Body(i) +
                    "</description>\n<enclosure url=\"http://harbour.example/" + n +
                    ".mp3\" length=\"12345678\" type=\"audio/mpeg\"/>\n</item>\n";
        }
        return text + "</channel>\n</rss>\n";
    }();
    return feed;
}

const QByteArray& Atom() {
    static const QByteArray feed = [] {
        QByteArray text = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
                          "<feed xmlns=\"http://www.w3.org/2005/Atom\">\n"
                          "<title type=\"text\">Harbour</title>\n"
                          "<link rel=\"alternate\" href=\"http://harbour.example/\"/>\n"
                          "<updated>2005-04-05T14:03:09Z</updated>\n"
                          "<author><name>Ada Quay</name></author>\n";
        for (int i = 0; i < kItems; ++i) {
            const QByteArray n = QByteArray::number(i);
            text += "<entry>\n<title type=\"html\">Episode " + n +
                    ": a title of ordinary length</title>\n" + "<id>urn:harbour:" + n + "</id>\n" +
                    "<link rel=\"alternate\" type=\"text/html\" href=\"http://harbour.example/" +
                    n +
                    "\"/>\n<link rel=\"enclosure\" type=\"audio/mpeg\" length=\"12345678\" "
                    "href=\"http://harbour.example/" +
                    n + ".mp3\"/>\n<published>2005-04-05T14:03:09Z</published>\n" +
                    "<updated>2005-04-05T14:03:09.250+02:00</updated>\n" +
                    "<content type=\"html\">" + Body(i) + "</content>\n</entry>\n";
        }
        return text + "</feed>\n";
    }();
    return feed;
}

// The floor's seconds per iteration, kept for the ratio of the model benchmark after it.
double& FloorSeconds(const QByteArray& feed) {
    static double rss = 0;
    static double atom = 0;
    return &feed == &Rss() ? rss : atom;
}

void Floor(benchmark::State& state, const QByteArray& feed) {
    xmlInitParser();
    const double start = ThreadCpuSeconds();
    for (auto _ : state) {
        xmlDoc* document = xmlReadMemory(feed.constData(), static_cast<int>(feed.size()), nullptr,
                                         nullptr, XML_PARSE_NOENT | XML_PARSE_NONET);
        benchmark::DoNotOptimize(document);
        xmlFreeDoc(document);
    }
    FloorSeconds(feed) = (ThreadCpuSeconds() - start) / static_cast<double>(state.iterations());
    state.SetBytesProcessed(state.iterations() * feed.size());
}

void Model(benchmark::State& state, const QByteArray& feed, feeds::TFeedFormat expected) {
    const double start = ThreadCpuSeconds();
    for (auto _ : state) {
        feeds::TFeed model;
        if (feeds::ParseFeed(feed, model) != expected || model.Topics.size() != kItems) {
            state.SkipWithError("the feed did not read");
            return;
        }
        benchmark::DoNotOptimize(model.Topics.back()->Date);
    }
    const double seconds = (ThreadCpuSeconds() - start) / static_cast<double>(state.iterations());
    if (FloorSeconds(feed) > 0)
        state.counters["ratio"] = seconds / FloorSeconds(feed);
    state.SetBytesProcessed(state.iterations() * feed.size());
    state.counters["feed_MB"] = static_cast<double>(feed.size()) / 1e6;
}

void BM_Rss20Floor(benchmark::State& state) {
    Floor(state, Rss());
}
void BM_Rss20FeedModel(benchmark::State& state) {
    Model(state, Rss(), feeds::TFeedFormat::Rss);
}
void BM_Atom10Floor(benchmark::State& state) {
    Floor(state, Atom());
}
void BM_Atom10FeedModel(benchmark::State& state) {
    Model(state, Atom(), feeds::TFeedFormat::Atom10);
}

BENCHMARK(BM_Rss20Floor)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Rss20FeedModel)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Atom10Floor)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Atom10FeedModel)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
