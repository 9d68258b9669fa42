#include "platform/tvalueerrors.h"
#include "platform/tvaluewriter.h"
#include "support/tricklestream.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

using namespace Qt::StringLiterals;
using platform::EWriteError;
using platform::TMemoryStream;
using platform::TValueWriter;

using namespace testsupport;

namespace {

QByteArray Written(const std::function<void(TValueWriter&)>& put) {
    TMemoryStream stream;
    {
        TValueWriter writer(stream);
        put(writer);
        writer.Finish();
    }
    return stream.Data();
}

struct EncodingCase {
    const char* name;
    std::function<void(TValueWriter&)> put;
    QByteArray expected;
};

TEST(TValueWriter, WritesEachValueInItsShortestEncoding) {
    const QByteArray ascii255(255, 'a');
    const QByteArray ascii256(256, 'b');
    const QByteArray ascii300(300, 'c');
    const EncodingCase cases[] = {
        {"integer 0", [](auto& w) { w.PutInteger(0); }, Hex("02 00")},
        {"integer 127", [](auto& w) { w.PutInteger(127); }, Hex("02 7F")},
        {"integer -128", [](auto& w) { w.PutInteger(-128); }, Hex("02 80")},
        {"integer 128", [](auto& w) { w.PutInteger(128); }, Hex("03 80 00")},
        {"integer -129", [](auto& w) { w.PutInteger(-129); }, Hex("03 7F FF")},
        {"integer 32767", [](auto& w) { w.PutInteger(32767); }, Hex("03 FF 7F")},
        {"integer -32768", [](auto& w) { w.PutInteger(-32768); }, Hex("03 00 80")},
        {"integer 32768", [](auto& w) { w.PutInteger(32768); }, Hex("04 00 80 00 00")},
        {"integer -32769", [](auto& w) { w.PutInteger(-32769); }, Hex("04 FF 7F FF FF")},
        {"integer 40000", [](auto& w) { w.PutInteger(40000); }, Hex("04 40 9C 00 00")},
        {"integer max", [](auto& w) { w.PutInteger(INT32_MAX); }, Hex("04 FF FF FF 7F")},
        {"integer min", [](auto& w) { w.PutInteger(INT32_MIN); }, Hex("04 00 00 00 80")},
        {"false", [](auto& w) { w.PutBoolean(false); }, Hex("08")},
        {"true", [](auto& w) { w.PutBoolean(true); }, Hex("09")},
        {"date-time", [](auto& w) { w.PutDateTime(5.0); }, Hex("11 00 00 00 00 00 00 14 40")},
        {"date-time with time of day", [](auto& w) { w.PutDateTime(-1.5); },
         Hex("11 00 00 00 00 00 00 F8 BF")},
        {"list start and end",
         [](auto& w) {
             w.PutListStart();
             w.PutListEnd();
         },
         Hex("01 00")},
        {"raw bytes", [](auto& w) { w.PutRaw("\x01\x02\x03", 3); }, Hex("01 02 03")},
        {"raw count 0", [](auto& w) { w.PutRaw("x", 0); }, QByteArray()},
        {"empty 8-bit", [](auto& w) { w.PutAnsiText(QByteArray()); }, Hex("06 00")},
        {"8-bit ASCII", [](auto& w) { w.PutAnsiText("News"); }, Hex("06 04 4E 65 77 73")},
        {"8-bit 255 ASCII", [&](auto& w) { w.PutAnsiText(ascii255); }, Hex("06 FF") + ascii255},
        {"8-bit 256 ASCII", [&](auto& w) { w.PutAnsiText(ascii256); },
         Hex("0C 00 01 00 00") + ascii256},
        {"8-bit 300 ASCII", [&](auto& w) { w.PutAnsiText(ascii300); },
         Hex("0C 2C 01 00 00") + ascii300},
        {"8-bit UTF-8", [](auto& w) { w.PutAnsiText("Jos\xC3\xA9"); },
         Hex("14 05 00 00 00 4A 6F 73 C3 A9")},
        {"8-bit Windows-1252 is converted", [](auto& w) { w.PutAnsiText("Jos\xE9 \x80"); },
         Hex("14 09 00 00 00 4A 6F 73 C3 A9 20 E2 82 AC")},
        {"empty wide", [](auto& w) { w.PutWideText(QString()); }, Hex("12 00 00 00 00")},
        {"wide ASCII", [](auto& w) { w.PutWideText(u"News"_s); }, Hex("06 04 4E 65 77 73")},
        {"wide 300 ASCII", [&](auto& w) { w.PutWideText(QString::fromLatin1(ascii300)); },
         Hex("0C 2C 01 00 00") + ascii300},
        {"wide CJK", [](auto& w) { w.PutWideText(u"日本"_s); }, Hex("12 02 00 00 00 E5 65 2C 67")},
        {"wide accented Latin", [](auto& w) { w.PutWideText(u"José"_s); },
         Hex("14 05 00 00 00 4A 6F 73 C3 A9")},
        // Two UTF-8 bytes for one unit are not shorter than the UTF-16 form.
        {"wide single accented letter", [](auto& w) { w.PutWideText(u"é"_s); },
         Hex("12 01 00 00 00 E9 00")},
        {"wide surrogate pair", [](auto& w) { w.PutWideText(u"😀"_s); },
         Hex("12 02 00 00 00 3D D8 00 DE")},
        {"wide unpaired surrogate kept in UTF-16",
         [](auto& w) { w.PutWideText(QString(QChar(0xDC00))); }, Hex("12 01 00 00 00 00 DC")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ToHex(Written(c.put)), ToHex(c.expected));
    }
}

TEST(TValueWriter, HoldsBytesUntilTheBufferIsFullOrFinished) {
    TMemoryStream stream;
    TValueWriter writer(stream);
    const QByteArray block(1023, 'x');
    writer.PutRaw(block.constData(), block.size());
    EXPECT_EQ(stream.Data().size(), 0);
    writer.PutBoolean(true);
    EXPECT_EQ(stream.Data().size(), 1024);
    writer.PutInteger(40000);
    EXPECT_EQ(stream.Data().size(), 1024);
    writer.Finish();
    EXPECT_EQ(ToHex(stream.Data().mid(1023)), ToHex(Hex("09 04 40 9C 00 00")));
}

TEST(TValueWriter, DestructorEmptiesTheBuffer) {
    TMemoryStream stream;
    {
        TValueWriter writer(stream);
        writer.PutAnsiText("News");
    }
    EXPECT_EQ(ToHex(stream.Data()), ToHex(Hex("06 04 4E 65 77 73")));
}

TEST(TValueWriter, LongValuesReachTheStreamWhole) {
    QByteArray big(5000, '\0');
    for (int i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>(i * 7);
    TMemoryStream stream;
    {
        TValueWriter writer(stream);
        writer.PutInteger(1);
        writer.PutRaw(big.constData(), big.size());
        writer.PutInteger(2);
    }
    EXPECT_EQ(stream.Data(), Hex("02 01") + big + Hex("02 02"));
}

// A device that takes at most `capacity` bytes in all, then refuses, as a storage stream does
// after a platform failure.
class TLimitedStream : public platform::TStream {
public:
    explicit TLimitedStream(int32_t capacity) : capacity_(capacity) {}
    int32_t Read(void*, int32_t) override { return 0; }
    int32_t Write(const void* buffer, int32_t count) override {
        const int32_t n = std::max(0, std::min(count, capacity_));
        capacity_ -= n;
        return inner_.Write(buffer, n);
    }
    int64_t Seek(int64_t offset, platform::TSeekOrigin origin) override {
        return inner_.Seek(offset, origin);
    }
    void SetSize(int64_t size) override { inner_.SetSize(size); }

private:
    int32_t capacity_;
    TMemoryStream inner_;
};

TEST(TValueWriter, FinishRaisesWhenTheStreamAcceptsTooLittle) {
    for (const int32_t capacity : {0, 5}) {
        SCOPED_TRACE(capacity);
        TLimitedStream stream(capacity);
        TValueWriter writer(stream);
        writer.PutWideText(u"News"_s);
        try {
            writer.Finish();
            ADD_FAILURE() << "no error raised";
        } catch (const EWriteError& e) {
            EXPECT_EQ(e.Message(), u"Stream write error"_s);
        }
    }
}

TEST(TValueWriter, PutThatFillsTheBufferRaisesWhenTheStreamAcceptsTooLittle) {
    for (const int32_t capacity : {0, 1023}) {
        SCOPED_TRACE(capacity);
        TLimitedStream stream(capacity);
        TValueWriter writer(stream);
        const QByteArray block(1023, 'x');
        writer.PutRaw(block.constData(), block.size());
        EXPECT_THROW(writer.PutBoolean(true), EWriteError);
    }
}

TEST(TValueWriter, DestructorSwallowsWriteFailures) {
    TLimitedStream stream(0);
    EXPECT_NO_THROW({
        TValueWriter writer(stream);
        writer.PutInteger(1);
    });
}

} // namespace
