#include "platform/tcommandline.h"

#include <gtest/gtest.h>

using namespace platform;

TEST(CommandLine, Table) {
    struct Row {
        QStringList arguments;
        bool showUI;
        QList<QByteArray> urls;
    };
    const Row rows[] = {
        {{}, false, {}},
        {{"/ui"}, true, {}},
        {{"/UI"}, true, {}},
        {{"/add", "reader://host/feed"}, false, {"http://host/feed"}},
        {{"/ADD", "Reader:http://host/Feed"}, false, {"http://host/Feed"}},
        {{"/Add", "READER:/x"}, false, {"http:/x"}},
        {{"/add", "reader:"}, false, {""}},
        {{"/add", "http://host/feed"}, false, {}},
        // The value is consumed, not examined as an option.
        {{"/add", "/ui"}, false, {}},
        {{"/add"}, false, {}},
        {{"/ui", "/add"}, true, {}},
        {{"/add", "reader:feed://host/x", "/ui"}, true, {"feed://host/x"}},
        {{"/add", "reader:/a", "/add", "reader:/b"}, false, {"http:/a", "http:/b"}},
        {{"reader://host/feed", "--help", "ui", "/uix"}, false, {}},
        {{"/add", "rEaDeR://héllo/ünï"}, false, {"http://h\xc3\xa9llo/\xc3\xbcn\xc3\xaf"}},
        {{"/add", "reader"}, false, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.arguments.join(QLatin1Char(' ')).toStdString());
        const TCommandLine parsed = ParseCommandLine(row.arguments);
        EXPECT_EQ(parsed.showUI, row.showUI);
        EXPECT_EQ(parsed.urls, row.urls);
    }
}
