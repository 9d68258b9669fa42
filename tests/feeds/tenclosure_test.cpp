#include "feeds/tenclosure.h"

#include "feeds/txmlhost.h"

#include <gtest/gtest.h>

#include <vector>

using namespace Qt::StringLiterals;
using feeds::TEnclosure;
using feeds::TXmlDocument;
using feeds::TXmlHost;

namespace {

struct EnclosureCase {
    // Child elements of an item, read one after the other into the same enclosure.
    QByteArray elements;
    QString url;
    QString type;
    int fileSize;
};

TEST(TEnclosure, ReadsUrlAndOnlyThenLengthAndType) {
    const EnclosureCase cases[] = {
        {R"(<enclosure url="http://a/x.mp3" length="12345" type="audio/mpeg"/>)",
         u"http://a/x.mp3"_s, u"audio/mpeg"_s, 12345},
        {R"(<enclosure url=" http://a/x.mp3 " length=" 7 " type=" audio/mpeg "/>)",
         u"http://a/x.mp3"_s, u"audio/mpeg"_s, 7},
        {R"(<enclosure length="12345" type="audio/mpeg"/>)", u""_s, u""_s, 0},
        {R"(<enclosure url="" length="12345" type="audio/mpeg"/>)", u""_s, u""_s, 0},
        {R"(<enclosure url="http://a/x.mp3" type="audio/mpeg"/>)", u"http://a/x.mp3"_s,
         u"audio/mpeg"_s, -1},
        {R"(<enclosure url="http://a/x.mp3" length="12.5"/>)", u"http://a/x.mp3"_s, u""_s, -1},
        {R"(<enclosure url="http://a/x.mp3" length="12MB"/>)", u"http://a/x.mp3"_s, u""_s, -1},
        {R"(<enclosure url="http://a/x.mp3" length="3000000000"/>)", u"http://a/x.mp3"_s, u""_s,
         -1},
        // A negative length is no size either.
        {R"(<enclosure url="http://a/x.mp3" length="-5"/>)", u"http://a/x.mp3"_s, u""_s, -1},
        {R"(<enclosure url="http://a/x.mp3" length="0"/>)", u"http://a/x.mp3"_s, u""_s, 0},
        {R"(<enclosure url="http://a/1.mp3" length="1" type="audio/mpeg"/>)"
         R"(<enclosure url="http://a/2.ogg" length="2" type="audio/ogg"/>)",
         u"http://a/2.ogg"_s, u"audio/ogg"_s, 2},
        {R"(<enclosure url="http://a/1.mp3" length="1" type="audio/mpeg"/>)"
         R"(<enclosure length="2" type="audio/ogg"/>)",
         u""_s, u"audio/mpeg"_s, 1},
        {R"(<Enclosure url="http://a/x.mp3" length="1"/>)", u""_s, u""_s, 0},
        {R"(<media:content xmlns:media="urn:m" url="http://a/x.mp3"/>)", u""_s, u""_s, 0},
    };
    for (const EnclosureCase& row : cases) {
        SCOPED_TRACE(row.elements.toStdString());
        const TXmlDocument document =
            TXmlHost::Instance().Parse("<item>" + row.elements + "</item>");
        TEnclosure enclosure;
        for (const xmlNode* child = xmlDocGetRootElement(document.get())->children; child;
             child = child->next)
            enclosure.ReadFrom(child);
        EXPECT_EQ(enclosure.Url, row.url);
        EXPECT_EQ(enclosure.Type, row.type);
        EXPECT_EQ(enclosure.FileSize, row.fileSize);
    }
}

} // namespace
