// Reads the folder, channel and search records of the document file from arbitrary bytes.
//
// Input layout: byte 0 picks the record (0 folder, 1 channel, 2 search, 3 topic index, 4 topic,
// 5 attachment; the value modulo 6), the rest is the stream. Beyond "no crash": a record that reads
// is written back at the current version and reads again with the same counts, flags and lists of
// names.

#include "platform/ansicodepage.h"
#include "platform/exception.h"
#include "platform/tstream.h"
#include "platform/tvaluereader.h"
#include "platform/tvaluewriter.h"
#include "store/tvelquintdoc.h"

#include <cstdint>
#include <cstdlib>

using namespace store;

namespace {

template <typename Record, typename Read>
bool ReadFrom(const QByteArray& bytes, Record& record, Read read) {
    platform::TMemoryStream stream;
    stream.Write(bytes.constData(), static_cast<int32_t>(bytes.size()));
    stream.SetPosition(0);
    platform::TValueReader reader(stream);
    try {
        read(reader, record);
        return true;
    } catch (const platform::Exception&) {
        return false;
    }
}

template <typename Record, typename Write> QByteArray WriteOut(const Record& record, Write write) {
    platform::TMemoryStream stream;
    {
        platform::TValueWriter writer(stream);
        write(writer, record);
    }
    return stream.Data();
}

void Require(bool condition) {
    if (!condition)
        std::abort();
}

void FolderRecord(const QByteArray& bytes) {
    TFolder folder(nullptr);
    if (!ReadFrom(bytes, folder, &TVelquintDoc::ReadFolderRecord))
        return;
    Require(folder.UnreadCount() >= 0);
    TFolder again(nullptr);
    Require(ReadFrom(WriteOut(folder, &TVelquintDoc::WriteFolderRecord), again,
                     &TVelquintDoc::ReadFolderRecord));
    Require(again.UnreadCount() == folder.UnreadCount());
    Require(again.TopicCount() == folder.TopicCount());
    Require(again.Protected() == folder.Protected());
    Require(again.Subscribed == folder.Subscribed && again.Hidden == folder.Hidden);
}

void ChannelRecord(const QByteArray& bytes) {
    TChannel channel(nullptr);
    if (!ReadFrom(bytes, channel, &TVelquintDoc::ReadChannelRecord))
        return;
    Require(channel.Status >= 1 && channel.Status <= 3);
    TChannel again(nullptr);
    Require(ReadFrom(WriteOut(channel, &TVelquintDoc::WriteChannelRecord), again,
                     &TVelquintDoc::ReadChannelRecord));
    Require(again.Status == channel.Status);
    Require(again.RequiresAuthentication == channel.RequiresAuthentication);
    Require(again.LastUpdated == channel.LastUpdated || channel.LastUpdated != channel.LastUpdated);
}

void SearchRecord(const QByteArray& bytes) {
    TSearchOptions options;
    if (!ReadFrom(bytes, options, &TVelquintDoc::ReadSearchRecord))
        return;
    Require(options.SaveAsPersistent);
    TSearchOptions again;
    Require(ReadFrom(WriteOut(options, &TVelquintDoc::WriteSearchRecord), again,
                     &TVelquintDoc::ReadSearchRecord));
    Require(again.SearchFolders.size() == options.SearchFolders.size());
    Require(again.MatchCase == options.MatchCase);
    Require(again.MatchWholeWords == options.MatchWholeWords);
}

void IndexStream(const QByteArray& bytes) {
    TChannel channel(nullptr);
    platform::TMemoryStream stream;
    stream.Write(bytes.constData(), static_cast<int32_t>(bytes.size()));
    stream.SetPosition(0);
    platform::TValueReader reader(stream);
    try {
        TVelquintDoc::ReadIndex(reader, channel);
    } catch (const platform::Exception&) {
        return;
    }
    TChannel again(nullptr);
    Require(
        ReadFrom(WriteOut(channel, &TVelquintDoc::WriteIndex), again,
                 [](platform::TValueReader& r, TChannel& c) { TVelquintDoc::ReadIndex(r, c); }));
    Require(again.TopicEntries() == channel.TopicEntries());
    Require(again.SeenIds.Count() == channel.SeenIds.Count());
    channel.Topics().ForEach([&again](const QByteArray& key, const TTopicIndex* entry) {
        // 8-bit texts that are not UTF-8 were written from Windows-1252 and come back as UTF-8.
        const TTopicIndex* const copy = again.FindTopic(platform::AnsiToUtf8(key));
        Require(copy && copy->Flag == entry->Flag && copy->Read == entry->Read &&
                copy->RecordName == platform::AnsiToUtf8(entry->RecordName));
    });
}

void TopicRecord(const QByteArray& bytes) {
    TTopic topic;
    if (!ReadFrom(bytes, topic, &TVelquintDoc::ReadTopicRecord))
        return;
    TTopic again;
    Require(ReadFrom(WriteOut(topic, &TVelquintDoc::WriteTopicRecord), again,
                     &TVelquintDoc::ReadTopicRecord));
    Require(again.AttachmentKeys.size() == topic.AttachmentKeys.size());
}

void AttachmentRecord(const QByteArray& bytes) {
    TAttachment attachment;
    if (!ReadFrom(bytes, attachment, [](platform::TValueReader& r, TAttachment& a) { a.Read(r); }))
        return;
    const QString name = attachment.FileName();
    Require(!name.isEmpty() && name != "." && name != ".." && !name.contains(u'/') &&
            !name.contains(QChar(0)));
    Require(attachment.State >= 1 && attachment.State <= 8);
    Require(attachment.Priority >= 1 && attachment.Priority <= 3);
    TAttachment again;
    Require(ReadFrom(
        WriteOut(attachment, [](platform::TValueWriter& w, const TAttachment& a) { a.Write(w); }),
        again, [](platform::TValueReader& r, TAttachment& a) { a.Read(r); }));
    Require(again.Size == attachment.Size && again.Downloaded == attachment.Downloaded);
    Require(again.State == attachment.State && again.Priority == attachment.Priority);
    Require(again.Kind == attachment.Kind);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const QByteArray bytes(reinterpret_cast<const char*>(data + 1),
                           static_cast<qsizetype>(size - 1));
    switch (data[0] % 6) {
    case 0:
        FolderRecord(bytes);
        break;
    case 1:
        ChannelRecord(bytes);
        break;
    case 2:
        SearchRecord(bytes);
        break;
    case 3:
        IndexStream(bytes);
        break;
    case 4:
        TopicRecord(bytes);
        break;
    default:
        AttachmentRecord(bytes);
        break;
    }
    return 0;
}
