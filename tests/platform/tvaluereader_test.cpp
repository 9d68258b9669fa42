#include "platform/tvalueerrors.h"
#include "platform/tvaluereader.h"
#include "platform/tvaluewriter.h"
#include "support/tricklestream.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

using namespace Qt::StringLiterals;
using platform::EReadError;
using platform::TMemoryStream;
using platform::TSeekOrigin;
using platform::TStream;
using platform::TValueReader;
using platform::TValueWriter;

using namespace testsupport;

namespace {

std::string Units(const QString& text) {
    std::string out;
    for (const QChar c : text)
        out += QString::number(c.unicode(), 16).rightJustified(4, u'0').toStdString() + ' ';
    return out;
}

QByteArray Written(const std::function<void(TValueWriter&)>& put) {
    TMemoryStream stream;
    {
        TValueWriter writer(stream);
        put(writer);
    }
    return stream.Data();
}

QByteArray ReadToEnd(TStream& stream) {
    QByteArray rest;
    char piece[256];
    while (const int32_t n = stream.Read(piece, sizeof piece))
        rest.append(piece, n);
    return rest;
}

std::unique_ptr<TStream> MakeStream(bool trickle, const QByteArray& data) {
    if (trickle)
        return std::make_unique<TTrickleStream>(data);
    return std::make_unique<TMemoryStream>(data);
}

// The failure message of `get` on a reader over `bytes`, or "" when it succeeds.
std::string FailureOf(const QByteArray& bytes, const std::function<void(TValueReader&)>& get) {
    TMemoryStream stream(bytes);
    TValueReader reader(stream);
    try {
        get(reader);
    } catch (const EReadError& e) {
        return e.Message().toStdString();
    }
    return "";
}

QString MixedText(int units) {
    const QString piece = u"Grüße, 日本, 😀 and plain words; "_s;
    QString text;
    while (text.size() < units)
        text += piece;
    return text.left(units - 1) + u'.';
}

TEST(TValueReader, ReadsBackEveryKindWhereverTheBufferBoundaryFalls) {
    const QString wideLong = MixedText(100 * 1024);
    QString cjkLong;
    for (int i = 0; i < 50 * 1024; ++i)
        cjkLong += QChar(0x4E00 + i % 2000);
    const QByteArray ansiLong = QByteArray(100 * 1024, 'q') + "\xC3\xA9";
    const QByteArray picture = Hex("89 50 4E 47 0D 0A 1A 0A");

    for (const bool trickle : {false, true}) {
        for (int prefix = 1012; prefix <= 1024; ++prefix) {
            SCOPED_TRACE(testing::Message() << "prefix " << prefix << (trickle ? " trickle" : ""));
            const QByteArray filler(prefix, '\x5A');
            const QByteArray bytes = Written([&](TValueWriter& w) {
                w.PutRaw(filler.constData(), filler.size());
                w.PutInteger(40000);
                w.PutInteger(-129);
                w.PutInteger(-5);
                w.PutDateTime(45123.75);
                w.PutBoolean(true);
                w.PutBoolean(false);
                w.PutListStart();
                w.PutListStart();
                w.PutWideText(u"News"_s);
                w.PutListEnd();
                w.PutAnsiText("Caf\xC3\xA9");
                w.PutListEnd();
                w.PutWideText(wideLong);
                w.PutWideText(cjkLong);
                w.PutAnsiText(ansiLong);
                const int32_t raw = 0x12345678;
                w.PutRaw(&raw, sizeof raw);
                w.PutWideText(QString());
            });
            auto stream = MakeStream(trickle, bytes + picture);
            {
                TValueReader r(*stream);
                QByteArray back(prefix, '\0');
                r.GetRaw(back.data(), back.size());
                EXPECT_EQ(back, filler);
                EXPECT_EQ(r.GetInteger(), 40000);
                EXPECT_EQ(r.GetInteger(), -129);
                EXPECT_EQ(r.GetInteger(), -5);
                EXPECT_EQ(r.GetDateTime(), 45123.75);
                EXPECT_TRUE(r.GetBoolean());
                EXPECT_FALSE(r.GetBoolean());
                r.GetListStart();
                EXPECT_FALSE(r.AtListEnd());
                r.GetListStart();
                EXPECT_EQ(r.GetWideText(), u"News"_s);
                EXPECT_TRUE(r.AtListEnd());
                r.GetListEnd();
                EXPECT_EQ(r.GetAnsiText(), QByteArray("Caf\xC3\xA9"));
                r.GetListEnd();
                EXPECT_EQ(r.GetWideText(), wideLong);
                EXPECT_EQ(r.GetWideText(), cjkLong);
                EXPECT_EQ(r.GetAnsiText(), ansiLong);
                int32_t raw = 0;
                r.GetRaw(&raw, sizeof raw);
                EXPECT_EQ(raw, 0x12345678);
                EXPECT_EQ(r.GetWideText(), QString());
            }
            EXPECT_EQ(ToHex(ReadToEnd(*stream)), ToHex(picture));
        }
    }
}

TEST(TValueReader, TextsReadBackThroughEitherStringReader) {
    const QString texts[] = {
        QString(), u"News"_s,         u"日本語"_s,        u"José"_s,       u"é"_s,
        u"😀"_s,    u"\uFEFFmarked"_s, QString(300, u'x'), MixedText(3000),
    };
    for (const QString& text : texts) {
        SCOPED_TRACE(text.left(20).toStdString());
        const QByteArray wide = Written([&](TValueWriter& w) { w.PutWideText(text); });
        const QByteArray ansi = Written([&](TValueWriter& w) { w.PutAnsiText(text.toUtf8()); });
        for (const QByteArray& bytes : {wide, ansi}) {
            {
                TMemoryStream stream(bytes);
                TValueReader reader(stream);
                EXPECT_EQ(Units(reader.GetWideText()), Units(text));
            }
            TMemoryStream stream(bytes);
            TValueReader reader(stream);
            EXPECT_EQ(ToHex(reader.GetAnsiText()), ToHex(text.toUtf8()));
        }
    }
}

TEST(TValueReader, IntegersKeepTheirSignAtEveryWidth) {
    for (const int32_t value :
         {0, 1, -1, 127, -128, 128, -129, 32767, -32768, 32768, -32769, INT32_MAX, INT32_MIN}) {
        SCOPED_TRACE(value);
        TMemoryStream stream(Written([&](TValueWriter& w) { w.PutInteger(value); }));
        TValueReader reader(stream);
        EXPECT_EQ(reader.GetInteger(), value);
    }
}

TEST(TValueReader, DateTimeAcceptsAnIntegerAsWholeDays) {
    const struct {
        const char* bytes;
        double expected;
    } cases[] = {
        {"02 05", 5.0}, // 4 January 1900 00:00
        {"02 FE", -2.0},
        {"03 80 00", 128.0},
        {"04 40 9C 00 00", 40000.0},
        {"11 00 00 00 00 00 00 F4 3F", 1.25},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes);
        TMemoryStream stream(Hex(c.bytes));
        TValueReader reader(stream);
        EXPECT_EQ(reader.GetDateTime(), c.expected);
    }
}

TEST(TValueReader, BooleanIsTrueOnlyForTagNineAndTakesOneByte) {
    const struct {
        const char* bytes;
        bool expected;
    } cases[] = {{"09 02 07", true}, {"08 02 07", false}, {"04 02 07", false}, {"00 02 07", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes);
        TMemoryStream stream(Hex(c.bytes));
        TValueReader reader(stream);
        EXPECT_EQ(reader.GetBoolean(), c.expected);
        EXPECT_EQ(reader.GetInteger(), 7);
    }
}

TEST(TValueReader, FinishLeavesTheStreamJustAfterTheLastValueRead) {
    const QByteArray picture = QByteArray(3000, '\xAB');
    for (const int count : {1, 10, 300}) {
        SCOPED_TRACE(count);
        const QByteArray values = Written([&](TValueWriter& w) {
            for (int i = 0; i < count; ++i)
                w.PutWideText(u"Entry %1"_s.arg(i));
        });
        TMemoryStream stream(values + picture);
        TValueReader reader(stream);
        for (int i = 0; i < count; ++i)
            ASSERT_EQ(reader.GetWideText(), u"Entry %1"_s.arg(i));
        reader.Finish();
        EXPECT_EQ(stream.Position(), values.size());
        reader.Finish();
        EXPECT_EQ(stream.Position(), values.size());
        // The reader refills from where the stream stands.
        uint8_t first = 0;
        reader.GetRaw(&first, 1);
        EXPECT_EQ(first, 0xAB);
    }
}

TEST(TValueReader, DestructorGivesBackTheUnusedBytes) {
    TMemoryStream stream(Hex("02 01 02 02 02 03"));
    {
        TValueReader reader(stream);
        EXPECT_EQ(reader.GetInteger(), 1);
    }
    EXPECT_EQ(stream.Position(), 2);
}

TEST(TValueReader, AtListEndLooksWithoutConsuming) {
    TMemoryStream stream(Hex("01 02 01 02 02 00 02 03"));
    TValueReader reader(stream);
    reader.GetListStart();
    int32_t sum = 0;
    while (!reader.AtListEnd())
        sum += reader.GetInteger();
    EXPECT_TRUE(reader.AtListEnd());
    reader.GetListEnd();
    EXPECT_EQ(sum, 3);
    EXPECT_FALSE(reader.AtListEnd());
    EXPECT_EQ(reader.GetInteger(), 3);
}

TEST(TValueReader, ValuesOfTheWrongKindAreInvalid) {
    using Get = std::function<void(TValueReader&)>;
    const Get integer = [](TValueReader& r) { r.GetInteger(); };
    const Get date = [](TValueReader& r) { r.GetDateTime(); };
    const Get ansi = [](TValueReader& r) { r.GetAnsiText(); };
    const Get wide = [](TValueReader& r) { r.GetWideText(); };
    const Get listStart = [](TValueReader& r) { r.GetListStart(); };
    const Get listEnd = [](TValueReader& r) { r.GetListEnd(); };
    const struct {
        const char* name;
        const char* bytes;
        const Get& get;
    } cases[] = {
        {"integer from string", "06 01 41", integer},
        {"integer from boolean", "09", integer},
        {"integer from date", "11 00 00 00 00 00 00 14 40", integer},
        {"date from string", "06 01 41", date},
        {"date from boolean", "08", date},
        {"8-bit from integer", "02 05", ansi},
        {"8-bit from list", "01 00", ansi},
        {"wide from end of list", "00", wide},
        {"wide from date", "11 00 00 00 00 00 00 14 40", wide},
        {"list start from end of list", "00", listStart},
        {"list start from integer", "02 05", listStart},
        {"list end from list", "01 02 05 00", listEnd},
        {"list end from string", "06 02 41 42", listEnd},
        {"negative 8-bit length", "0C FF FF FF FF", ansi},
        {"negative UTF-8 length", "14 00 00 00 80", wide},
        {"negative UTF-16 count", "12 FE FF FF FF", wide},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(FailureOf(Hex(c.bytes), c.get), "Invalid property value");
    }
}

TEST(TValueReader, TagsOfTheEncodingFamilyThatAreNeverWrittenAreInvalid) {
    const std::function<void(TValueReader&)> gets[] = {
        [](TValueReader& r) { r.GetInteger(); },   [](TValueReader& r) { r.GetDateTime(); },
        [](TValueReader& r) { r.GetAnsiText(); },  [](TValueReader& r) { r.GetWideText(); },
        [](TValueReader& r) { r.GetListStart(); }, [](TValueReader& r) { r.GetListEnd(); },
    };
    for (const int tag : {5, 7, 10, 11, 13, 14, 15, 16, 19, 21, 255}) {
        for (size_t g = 0; g < std::size(gets); ++g) {
            SCOPED_TRACE(testing::Message() << "tag " << tag << " reader " << g);
            const QByteArray bytes = QByteArray(1, static_cast<char>(tag)) + QByteArray(16, '\1');
            EXPECT_EQ(FailureOf(bytes, gets[g]), "Invalid property value");
        }
    }
}

TEST(TValueReader, StreamEndingInsideAValueIsAReadError) {
    using Get = std::function<void(TValueReader&)>;
    const Get integer = [](TValueReader& r) { r.GetInteger(); };
    const Get boolean = [](TValueReader& r) { r.GetBoolean(); };
    const Get date = [](TValueReader& r) { r.GetDateTime(); };
    const Get ansi = [](TValueReader& r) { r.GetAnsiText(); };
    const Get wide = [](TValueReader& r) { r.GetWideText(); };
    const Get listStart = [](TValueReader& r) { r.GetListStart(); };
    const Get listEnd = [](TValueReader& r) { r.GetListEnd(); };
    const Get atEnd = [](TValueReader& r) { r.AtListEnd(); };
    const Get raw = [](TValueReader& r) {
        char buffer[4];
        r.GetRaw(buffer, sizeof buffer);
    };
    const struct {
        const char* name;
        const char* bytes;
        const Get& get;
    } cases[] = {
        {"integer, empty", "", integer},
        {"boolean, empty", "", boolean},
        {"date, empty", "", date},
        {"8-bit, empty", "", ansi},
        {"wide, empty", "", wide},
        {"list start, empty", "", listStart},
        {"list end, empty", "", listEnd},
        {"at list end, empty", "", atEnd},
        {"raw, short", "01 02 03", raw},
        {"tag 2 without its byte", "02", integer},
        {"tag 3 with one byte", "03 01", integer},
        {"tag 4 with two bytes", "04 01 02", integer},
        {"tag 17 with seven bytes", "11 00 00 00 00 00 00 14", date},
        {"tag 6 without length", "06", ansi},
        {"tag 6 short", "06 05 41 42 43", wide},
        {"tag 12 length cut", "0C 05 00", ansi},
        {"tag 18 odd byte count", "12 02 00 00 00 41 00 42", wide},
        {"tag 20 short", "14 03 00 00 00 41", ansi},
        // Lengths of 2 GB in a few bytes: the reader must not reserve them.
        {"tag 12 huge", "0C FF FF FF 7F 41 42 43", ansi},
        {"tag 12 huge as wide", "0C FF FF FF 7F 41 42 43", wide},
        {"tag 18 huge", "12 FF FF FF 7F 41 00", wide},
        {"tag 18 huge as 8-bit", "12 FF FF FF 7F 41 00", ansi},
        {"tag 20 huge", "14 FF FF FF 7F 41 42 43", wide},
        {"tag 20 huge as 8-bit", "14 FF FF FF 7F 41 42 43", ansi},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(FailureOf(Hex(c.bytes), c.get), "Stream read error");
    }
}

TEST(TValueReader, HugeLengthsFailAfterTheBytesThatDidArrive) {
    // Several chunks arrive before the stream ends.
    const QByteArray bytes = Hex("12 00 00 00 40") + QByteArray(300 * 1024, 'a');
    EXPECT_EQ(FailureOf(bytes, [](TValueReader& r) { r.GetWideText(); }), "Stream read error");
}

TEST(TValueReader, EightBitBytesThatAreNotUtf8ReadAsWindows1252) {
    const struct {
        const char* name;
        QByteArray bytes;
        QString expected;
    } cases[] = {
        {"Western text", "Caf\xE9 \x80 5", u"Café € 5"_s},
        {"defined bytes of 0x80-0x9F", "\x80\x82\x8A\x8C\x8E\x91\x92\x93\x94\x96\x97\x99\x9F",
         u"€‚ŠŒŽ‘’“”–—™Ÿ"_s},
        {"undefined bytes keep their number", "\x81\x8D\x8F\x90\x9D\xFF",
         u"\u0081\u008D\u008F\u0090\u009D\u00FF"_s},
        {"overlong slash", "\xC0\xAF", u"À¯"_s},
        {"overlong three-byte", "\xE0\x80\xAF", u"à€¯"_s},
        {"encoded surrogate", "\xED\xA0\x80", u"í\u00A0€"_s},
        {"above U+10FFFF", "\xF4\x90\x80\x80", u"ô\u0090€€"_s},
        {"truncated sequence", "ok\xE2\x82", u"okâ‚"_s},
        {"stray continuation", "\xA9 2024", u"© 2024"_s},
        {"five-byte lead", "\xF8\x88\x80\x80\x80", u"øˆ€€€"_s},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto size = static_cast<char>(c.bytes.size());
        const QByteArray shortForm = QByteArray("\x06") + size + c.bytes;
        const QByteArray longForm = QByteArray("\x0C") + size + QByteArray(3, '\0') + c.bytes;
        for (const QByteArray& bytes : {shortForm, longForm}) {
            {
                TMemoryStream stream(bytes);
                TValueReader reader(stream);
                EXPECT_EQ(Units(reader.GetWideText()), Units(c.expected));
            }
            TMemoryStream stream(bytes);
            TValueReader reader(stream);
            EXPECT_EQ(ToHex(reader.GetAnsiText()), ToHex(c.bytes));
        }
    }
}

TEST(TValueReader, UnicodeTagsDecodeLeniently) {
    const struct {
        const char* name;
        const char* bytes;
        QString wide;
        const char* ansi;
    } cases[] = {
        {"UTF-8 in tag 6", "06 02 C3 A9", u"é"_s, "C3 A9"},
        {"four-byte UTF-8 in tag 6", "06 04 F0 9F 98 80", u"😀"_s, "F0 9F 98 80"},
        {"byte order mark kept", "14 04 00 00 00 EF BB BF 61", u"\uFEFFa"_s, "EF BB BF 61"},
        {"invalid UTF-8 in tag 20", "14 03 00 00 00 61 FF 62", u"a\uFFFDb"_s, "61 EF BF BD 62"},
        {"unpaired low surrogate in tag 18", "12 02 00 00 00 00 DC 61 00",
         QString(QChar(0xDC00)) + u'a', "EF BF BD 61"},
        {"high surrogate at the end of tag 18", "12 02 00 00 00 61 00 3D D8",
         u"a"_s + QChar(0xD83D), "61 EF BF BD"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        {
            TMemoryStream stream(Hex(c.bytes));
            TValueReader reader(stream);
            EXPECT_EQ(Units(reader.GetWideText()), Units(c.wide));
        }
        TMemoryStream stream(Hex(c.bytes));
        TValueReader reader(stream);
        EXPECT_EQ(ToHex(reader.GetAnsiText()), ToHex(Hex(c.ansi)));
    }
}

} // namespace
