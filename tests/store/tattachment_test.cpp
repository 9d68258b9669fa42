#include "store/tattachment.h"

#include "support/tricklestream.h"

#include "platform/tstream.h"
#include "platform/tvaluereader.h"
#include "platform/tvaluewriter.h"

#include <gtest/gtest.h>

namespace {

using store::TAttachment;

TEST(Attachment, FileNamesFromAddressesNeverLeaveTheFolder) {
    struct Row {
        const char* text;
        const char* name;
    };
    const Row rows[] = {
        {"episode%2012.mp3", "episode 12.mp3"},
        {"a+b.ogg", "a b.ogg"},
        {"..%2F..%2F.config%2Fautostart%2Fx.desktop", "x.desktop"},
        {"..%5C..%5Cevil.exe", "evil.exe"},
        {"dir/sub/file.txt", "file.txt"},
        {"%2E%2E", "attachment7"},
        {"..", "attachment7"},
        {".", "attachment7"},
        {"", "attachment7"},
        {"a%2F", "attachment7"},
        {"nul%00byte%0A.mp3", "nul_byte_.mp3"},
        {"caf%C3%A9.mp3", "café.mp3"},
        {"100%", "100%"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        TAttachment attachment;
        attachment.Key = "7";
        attachment.SetFileName(QString::fromUtf8(row.text));
        EXPECT_EQ(attachment.FileName(), QString::fromUtf8(row.name));
    }

    TAttachment attachment;
    attachment.SetFileName(QString(300, u'x') + ".mp3");
    EXPECT_EQ(attachment.FileName().size(), 255);
    EXPECT_TRUE(attachment.FileName().endsWith("x.mp3")) << "the extension stays";
    attachment.SetFileName(QString(200, u'é'));
    EXPECT_LE(attachment.FileName().toUtf8().size(), 255);
}

TEST(Attachment, ExtensionIsTrimmedAndLowerCased) {
    TAttachment attachment;
    attachment.SetFileName("setup.EXE ");
    EXPECT_EQ(attachment.Extension(), "exe");
    attachment.SetFileName("README");
    EXPECT_EQ(attachment.Extension(), "");
}

TEST(Attachment, DisplayTexts) {
    struct Row {
        int32_t downloaded;
        int32_t size;
        const char* progress;
        const char* sizeText;
    };
    const Row rows[] = {
        {-1, 200, "n/a", "200"}, {50, -1, "50 bytes", "n/a"},
        {50, 200, "25%", "200"}, {2000000000, 2100000000, "95%", "2100000000"},
        {0, 0, "n/a", "0"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.progress);
        TAttachment attachment;
        attachment.Downloaded = row.downloaded;
        attachment.Size = row.size;
        EXPECT_EQ(attachment.ProgressText(), row.progress);
        EXPECT_EQ(attachment.SizeText(), row.sizeText);
    }
    TAttachment attachment;
    EXPECT_EQ(attachment.CompletedText(), "n/a");
    EXPECT_EQ(attachment.KindText(), "unknown");
    EXPECT_EQ(attachment.PriorityText(), "when idle");
    attachment.Priority = 9;
    EXPECT_EQ(attachment.PriorityText(), "blocked");
    attachment.SetState(TAttachment::Complete);
    EXPECT_NE(attachment.CompletedText(), "n/a");
    EXPECT_DOUBLE_EQ(TAttachment::NeverValue(), 29373.0 + 13.0 / 24);
}

TEST(Attachment, PathsAndDecodedAddress) {
    TAttachment attachment;
    attachment.Url = "http://host/a%20b+c.mp3";
    EXPECT_EQ(attachment.DisplayUrl(), "http://host/a b c.mp3");
    attachment.SetFileName("x.mp3");
    EXPECT_EQ(attachment.FullPath("/home/u/Downloads/"), "/home/u/Downloads/x.mp3");
    attachment.SetPath("/media/music/y.ogg");
    EXPECT_EQ(attachment.FileName(), "y.ogg");
    EXPECT_EQ(attachment.Folder, "/media/music/");
    EXPECT_EQ(attachment.FullPath("/ignored/"), "/media/music/y.ogg");
    attachment.SetPath("");
    EXPECT_EQ(attachment.FileName(), "y.ogg");
}

TEST(Attachment, RecordsReadWithRepairsAndRoundTrip) {
    // Version 10: key, 8-bit texts, raw numbers and dates; no kind and no error text.
    auto record = [](int32_t version, int32_t state, int32_t priority) {
        platform::TMemoryStream stream;
        platform::TValueWriter writer(stream);
        writer.PutRaw(&version, 4);
        writer.PutAnsiText("K");
        writer.PutAnsiText("http://h/a%2Bb");
        writer.PutAnsiText("audio/mpeg");
        const int32_t numbers[] = {1000, 10, state, priority};
        for (const int32_t number : numbers)
            writer.PutRaw(&number, 4);
        writer.PutAnsiText("From A / B");
        const double dates[] = {40000.0, 40001.0};
        for (const double date : dates)
            writer.PutRaw(&date, 8);
        writer.PutAnsiText("");
        writer.PutAnsiText("a%2Bb");
        if (version >= 20) {
            const int32_t kind = 5;
            writer.PutRaw(&kind, 4);
            writer.PutAnsiText("boom");
        }
        writer.Finish();
        stream.SetPosition(0);
        TAttachment attachment;
        platform::TValueReader reader(stream);
        attachment.Read(reader);
        return attachment;
    };
    const TAttachment old = record(10, 0, 4);
    EXPECT_EQ(old.Kind, TAttachment::Other);
    EXPECT_TRUE(old.ErrorText.isEmpty());
    EXPECT_EQ(old.State, TAttachment::Error) << "0 is out of range";
    EXPECT_EQ(old.Priority, TAttachment::Blocked) << "4 is out of range";
    EXPECT_EQ(old.FileName(), "a%2Bb") << "decoded once, when it was first set";
    EXPECT_EQ(old.Size, 1000);
    EXPECT_EQ(old.Downloaded, 10);
    EXPECT_DOUBLE_EQ(old.Completed, 40001.0);
    EXPECT_EQ(record(30, 9, 0).State, TAttachment::Error);
    const TAttachment current = record(30, 5, 1);
    EXPECT_EQ(current.Kind, TAttachment::Other) << "5 is not music";
    EXPECT_EQ(current.ErrorText, "boom");
    EXPECT_EQ(current.State, TAttachment::Paused);

    platform::TMemoryStream stream;
    {
        platform::TValueWriter writer(stream);
        current.Write(writer);
    }
    stream.SetPosition(0);
    TAttachment again;
    platform::TValueReader reader(stream);
    again.Read(reader);
    EXPECT_EQ(again.Key, current.Key);
    EXPECT_EQ(again.Url, current.Url);
    EXPECT_EQ(again.OriginText, current.OriginText);
    EXPECT_EQ(again.FileName(), current.FileName());
    EXPECT_EQ(again.State, current.State);
    EXPECT_DOUBLE_EQ(again.Added, current.Added);
}

} // namespace
