#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QStringList>

#include <gtest/gtest.h>

#include <string>

using namespace Qt::StringLiterals;

namespace {

struct Outcome {
    int exit = -1;
    QByteArray out;
    QByteArray err;
};

// Runs the built tool in the zone UTC, so that the local dates it prints are fixed.
Outcome RunFeedInfo(const QStringList& args) {
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"TZ"_s, u"UTC"_s);
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(VELQUINT_FEEDINFO_TOOL), args);
    Outcome outcome;
    if (!process.waitForStarted(30000) || !process.waitForFinished(60000)) {
        ADD_FAILURE() << "velquint-feedinfo did not run: " << args.join(' ').toStdString();
        process.kill();
        process.waitForFinished();
        return outcome;
    }
    outcome.out = process.readAllStandardOutput();
    outcome.err = process.readAllStandardError();
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit) << outcome.err.toStdString();
    outcome.exit = process.exitCode();
    return outcome;
}

QString Data(const char* name) {
    return QStringLiteral(VELQUINT_TEST_DATA "/feeds/") + QLatin1StringView(name);
}

TEST(FeedInfoTool, PrintsTheFeedModelAsJson) {
    const Outcome o = RunFeedInfo({Data("rss/complete.xml")});
    EXPECT_EQ(o.exit, 0) << o.err.toStdString();
    EXPECT_EQ(o.err, QByteArray());
    EXPECT_EQ(o.out.toStdString(), std::string(R"({
  "ok": true,
  "format": "rss",
  "channel": {
    "title": "Dock \"Log\"",
    "description": "Arrivals & departures",
    "link": "http://dock.example/",
    "author": "Harbour Master",
    "copyright": "© Dock",
    "date": "2005-04-05T12:03:09",
    "image": {
      "url": "http://dock.example/flag.png",
      "title": "Flag",
      "link": "http://dock.example/"
    }
  },
  "topics": [
    {
      "id": "urn:dock:1",
      "title": "Arrival\tof the “Mary”",
      "link": "http://dock.example/1",
      "author": "Harbour Master",
      "description": "Line one\nline two \\ end",
      "date": "2005-04-05T14:03:09",
      "enclosure": {
        "url": "http://dock.example/1.mp3",
        "type": "audio/mpeg",
        "length": 4096
      }
    },
    {
      "id": "urn:dock:2",
      "title": "Dock \"Log\"",
      "link": "",
      "author": "Harbour Master",
      "description": "",
      "date": "2005-04-06T13:00:00",
      "enclosure": {
        "url": "http://dock.example/2.mp3",
        "type": "",
        "length": -1
      }
    }
  ]
}
)"));
}

TEST(FeedInfoTool, CompactPutsTheSameObjectOnOneLine) {
    const Outcome indented = RunFeedInfo({Data("atom03/feed.xml")});
    const Outcome compact = RunFeedInfo({u"--compact"_s, Data("atom03/feed.xml")});
    EXPECT_EQ(compact.exit, 0);
    EXPECT_EQ(compact.out.count('\n'), 1);
    EXPECT_TRUE(compact.out.startsWith(R"({"ok": true, "format": "atom03", "channel": {"title": )"))
        << compact.out.toStdString();
    // Apart from the line breaks and indentation, and the generated parts (identifiers and the
    // dates of entries without one), the two outputs agree.
    const auto normalise = [](QByteArray text) {
        QString s = QString::fromUtf8(text);
        s.replace(QRegularExpression(u",\n *"_s), u", "_s);
        s.replace(QRegularExpression(u"\n *"_s), u""_s);
        s.replace(QRegularExpression(u"tag:velquint\\.net,[^\"]*"_s), u"tag"_s);
        return s.toStdString();
    };
    EXPECT_EQ(normalise(compact.out), normalise(indented.out));
}

TEST(FeedInfoTool, ReportsDocumentsNoFormatterAccepts) {
    for (const char* name : {"invalid/opml.xml", "invalid/html-page.html", "rss/no-channel.xml"}) {
        SCOPED_TRACE(name);
        const Outcome o = RunFeedInfo({Data(name), u"--compact"_s});
        EXPECT_EQ(o.exit, 1);
        EXPECT_TRUE(QString::fromUtf8(o.out).contains(QRegularExpression(
            uR"(^\{"ok": false, "format": null, "channel": \{"title": "", "description": "", )"
            uR"("link": "http://", "author": "", "copyright": "", "date": "\d{4}-\d\d-\d\dT)"
            uR"(\d\d:\d\d:\d\d", "image": \{"url": "", "title": "", "link": ""\}\}, )"
            uR"("topics": \[\]\}\n$)"_s)))
            << o.out.toStdString();
    }
}

TEST(FeedInfoTool, RefusesBadUsageAndUnreadableFiles) {
    const struct {
        QStringList args;
        int exit;
    } cases[] = {
        {{}, 64},
        {{u"--compact"_s}, 64},
        {{Data("rss/items.xml"), Data("rss/rdf.xml")}, 64},
        {{Data("rss/items.xml"), u"--pretty"_s}, 64},
        {{Data("no-such-file.xml")}, 2},
        {{QStringLiteral(VELQUINT_TEST_DATA)}, 2},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.args.join(' ').toStdString());
        const Outcome o = RunFeedInfo(row.args);
        EXPECT_EQ(o.exit, row.exit);
        EXPECT_EQ(o.out, QByteArray());
        EXPECT_FALSE(o.err.isEmpty());
    }
}

} // namespace
