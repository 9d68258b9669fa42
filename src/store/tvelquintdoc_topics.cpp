// The topic index and topic records of the document, and the merge of downloaded topics.

#include "store/tvelquintdoc.h"

#include "platform/ansicodepage.h"
#include "store/recordfields.h"
#include "store/searchmatch.h"
#include "store/ttopic.h"

#include <QSet>

#include <cmath>

namespace store {

using platform::TValueReader;
using platform::TValueWriter;
using namespace recordfields;

namespace {

const QByteArray kIndexStream = ".index";
const QByteArray kFolderStream = ".folder";

bool IsSearchItem(const TFolder* folder) {
    return dynamic_cast<const TSearchChannel*>(folder) ||
           dynamic_cast<const TSearchFolder*>(folder);
}

} // namespace

void TVelquintDoc::ReadIndexEntry(TValueReader& reader, int32_t version, TTopicIndex& entry) {
    entry.SetTitle(GetText(reader, version >= 80));
    entry.Date = reader.GetDateTime();
    entry.RecordName = reader.GetAnsiText();
    entry.Read = reader.GetBoolean();
    if (version >= 20)
        reader.GetBoolean();
    if (version >= 40) {
        const int32_t flag = reader.GetInteger();
        entry.Flag = flag >= 2 && flag <= 8 ? static_cast<uint8_t>(flag) : 2;
    }
    if (version >= 50)
        entry.ContentHash = reader.GetAnsiText();
    if (version >= 60)
        entry.HasAttachments = reader.GetBoolean();
    if (version >= 70)
        entry.Origin = reader.GetAnsiText();
    if (version >= 90)
        entry.SetAuthor(reader.GetWideText());
    if (version >= 100)
        entry.Received = reader.GetDateTime();
}

void TVelquintDoc::ReadIndex(TValueReader& reader, TFolder& folder) {
    auto* const channel = dynamic_cast<TChannel*>(&folder);
    const int32_t version = GetRawInteger(reader);
    reader.GetListStart();
    while (!reader.AtListEnd()) {
        const QByteArray key = reader.GetAnsiText();
        TTopicIndex* const entry = folder.AddTopic(key, nullptr);
        try {
            ReadIndexEntry(reader, version, *entry);
        } catch (...) {
            folder.RemoveTopic(key);
            throw;
        }
        if (channel && !entry->ContentHash.isEmpty())
            channel->KnownContent.Set(entry->ContentHash, 1);
    }
    reader.GetListEnd();
    if (version >= 30) {
        reader.GetListStart();
        if (channel)
            channel->SeenIds.Clear();
        while (!reader.AtListEnd()) {
            const QByteArray key = reader.GetAnsiText();
            if (channel)
                channel->SeenIds.Set(key, 1);
        }
        reader.GetListEnd();
    }
}

void TVelquintDoc::WriteIndex(TValueWriter& writer, const TFolder& folder) {
    PutRawInteger(writer, kIndexVersion);
    writer.PutListStart();
    folder.Topics().ForEach([&writer](const QByteArray&, const TTopicIndex* entry) {
        writer.PutAnsiText(entry->Key);
        writer.PutWideText(entry->Title());
        writer.PutDateTime(entry->Date);
        writer.PutAnsiText(entry->RecordName);
        writer.PutBoolean(entry->Read);
        writer.PutBoolean(true);
        writer.PutInteger(entry->Flag);
        writer.PutAnsiText(entry->ContentHash);
        writer.PutBoolean(entry->HasAttachments);
        writer.PutAnsiText(entry->Origin);
        writer.PutWideText(entry->Author());
        writer.PutDateTime(entry->Received);
    });
    writer.PutListEnd();
    writer.PutListStart();
    if (const auto* const channel = dynamic_cast<const TChannel*>(&folder))
        channel->SeenIds.ForEach(
            [&writer](const QByteArray& key, int32_t) { writer.PutAnsiText(key); });
    writer.PutListEnd();
}

void TVelquintDoc::ReadTopicRecord(TValueReader& reader, TTopic& topic) {
    const int32_t version = GetRawInteger(reader);
    const bool wide = version >= 30;
    topic.SetTitle(GetText(reader, wide));
    topic.SetDescription(GetText(reader, wide));
    topic.Link = GetText(reader, wide);
    topic.Author = GetText(reader, wide);
    topic.Date = reader.GetDateTime();
    if (version >= 40)
        topic.Guid = reader.GetWideText();
    if (version >= 20) {
        reader.GetListStart();
        while (!reader.AtListEnd())
            topic.AddAttachmentKey(reader.GetAnsiText());
        reader.GetListEnd();
    }
}

void TVelquintDoc::WriteTopicRecord(TValueWriter& writer, const TTopic& topic) {
    PutRawInteger(writer, kTopicRecordVersion);
    writer.PutWideText(topic.Title());
    writer.PutWideText(topic.Description());
    writer.PutWideText(topic.Link);
    writer.PutWideText(topic.Author);
    writer.PutDateTime(topic.Date);
    writer.PutWideText(topic.Guid);
    writer.PutListStart();
    for (const QByteArray& key : topic.AttachmentKeys)
        writer.PutAnsiText(key);
    writer.PutListEnd();
}

void TVelquintDoc::LoadIndex(TFolder& folder) {
    if (&folder == rootFolder_.get())
        return;
    if (auto opened = OpenItemPath(folder, platform::saRead)) {
        if (const auto reader = OpenReader(opened->Storage(), kIndexStream)) {
            folder.ResetTopics(false);
            try {
                ReadIndex(reader->Values(), folder);
            } catch (...) {
                // The next access reads the index again.
                folder.SetIndexUnloaded(true);
                throw;
            }
        }
    }
    folder.SetIndexUnloaded(false);
}

void TVelquintDoc::EnsureIndexLoaded(TFolder& folder) {
    if (folder.IndexUnloaded())
        LoadIndex(folder);
}

void TVelquintDoc::SaveIndex(TFolder& folder) {
    if (&folder == rootFolder_.get() || dynamic_cast<TSearchFolder*>(&folder))
        return;
    auto opened = OpenItemPath(folder, platform::saReadWrite);
    if (!opened)
        return;
    if (const auto writer = OpenWriter(opened->Storage(), kIndexStream)) {
        WriteIndex(writer->Values(), folder);
        writer->Finish();
    }
    if (const auto writer = OpenWriter(opened->Storage(), kFolderStream)) {
        WriteFolderRecord(writer->Values(), folder);
        writer->Finish();
    }
    opened.reset();
    Changed();
}

TTopic* TVelquintDoc::ResolveTopic(TTopicIndex& entry) {
    QSet<const TTopicIndex*> visited;
    return ResolveTopic(entry, visited);
}

TTopic* TVelquintDoc::ResolveTopic(TTopicIndex& entry, QSet<const TTopicIndex*>& visited) {
    if (TTopic* const topic = entry.Topic())
        return topic;
    if (entry.Key.isEmpty() || entry.Origin.isEmpty())
        return nullptr;
    // Entries that point at each other through their origins lead nowhere.
    if (visited.contains(&entry))
        return nullptr;
    visited.insert(&entry);
    TFolder* const origin = FolderByStorageName(entry.Origin);
    if (!origin || origin == entry.Folder)
        return nullptr;
    EnsureIndexLoaded(*origin);
    TTopicIndex* const source = origin->FindTopic(entry.Key);
    if (!source)
        return nullptr;
    return GetTopic(*source, visited);
}

TTopic* TVelquintDoc::GetTopic(TTopicIndex& entry) {
    QSet<const TTopicIndex*> visited;
    return GetTopic(entry, visited);
}

TTopic* TVelquintDoc::GetTopic(TTopicIndex& entry, QSet<const TTopicIndex*>& visited) {
    QSet<const TTopicIndex*> seen = visited;
    if (!ResolveTopic(entry, seen)) {
        // A moved entry whose origin no longer holds it is read from its own record.
        auto topic = std::make_unique<TTopic>();
        topic->Folder = entry.Folder;
        entry.SetTopic(std::move(topic));
    }
    LoadTopic(entry, visited);
    return ResolveTopic(entry, visited);
}

void TVelquintDoc::LoadTopic(TTopicIndex& entry) {
    QSet<const TTopicIndex*> visited;
    LoadTopic(entry, visited);
}

void TVelquintDoc::LoadTopic(TTopicIndex& entry, QSet<const TTopicIndex*>& visited) {
    QSet<const TTopicIndex*> seen = visited;
    TTopic* const topic = ResolveTopic(entry, seen);
    if (!topic)
        throw platform::Exception(QStringLiteral("No topic available"));
    if (!topic->NotLoaded)
        return;
    TFolder* const folder = topic->Folder ? topic->Folder : entry.Folder;
    if (!folder)
        return;
    auto opened = OpenItemPath(*folder, platform::saRead);
    if (!opened)
        return;
    if (const auto reader = OpenReader(opened->Storage(), entry.RecordName)) {
        ReadTopicRecord(reader->Values(), *topic);
        topic->NotLoaded = false;
    }
}

void TVelquintDoc::SaveTopic(TTopicIndex& entry) {
    TTopic* const topic = ResolveTopic(entry);
    if (!topic)
        throw platform::Exception(QStringLiteral("No topic available"));
    TFolder* const folder = topic->Folder ? topic->Folder : entry.Folder;
    if (IsSearchItem(entry.Folder) || IsSearchItem(folder) || !folder)
        return;
    topic->NotLoaded = false;
    auto opened = OpenItemPath(*folder, platform::saReadWrite);
    if (!opened)
        return;
    if (const auto writer = OpenWriter(opened->Storage(), entry.RecordName)) {
        WriteTopicRecord(writer->Values(), *topic);
        writer->Finish();
    }
    opened.reset();
    Changed();
}

QByteArray TVelquintDoc::NewTopicRecordName() {
    const int32_t number = nextTopicNumber_;
    nextTopicNumber_ = static_cast<int32_t>(static_cast<uint32_t>(number) + 1u);
    return FormatElementName('t', number);
}

bool TVelquintDoc::IsKnownTopic(const TChannel& channel, const TTopic& topic) const {
    return channel.SeenIds.Exists(topic.Id()) || channel.KnownContent.Exists(topic.ContentHash());
}

bool TVelquintDoc::AddFeedTopic(TChannel& channel, std::unique_ptr<TTopic> topic) {
    const QByteArray key = topic->Id();
    sessionTopicIds_.append(key);
    if (IsKnownTopic(channel, *topic))
        return false;
    topic->Folder = &channel;
    TTopicIndex* const entry = channel.AddTopic(key, std::move(topic));
    entry->RecordName = NewTopicRecordName();
    SaveTopic(*entry);
    FileIntoSearches(*entry);
    return true;
}

void TVelquintDoc::CompleteRefresh(TChannel& channel) {
    const TDocUpdate update(*this);
    channel.LastUpdated = platform::Now();
    channel.SeenIds.Clear();
    for (const QByteArray& key : sessionTopicIds_)
        channel.SeenIds.Set(key, 1);
    SaveIndex(channel);
    SaveChannel(channel);
    SaveAttachments();
    WriteHeader();
    Changed();
}

bool TVelquintDoc::Matches(TTopicIndex& entry, const QByteArray& text, TCompareOptions options) {
    if (Contains(platform::WideToUtf8(entry.Title()), text, options))
        return true;
    const TTopic* const topic = ResolveTopic(entry);
    return topic && Contains(platform::WideToUtf8(topic->Description()), text, options);
}

void TVelquintDoc::FileIntoSearches(TTopicIndex& entry) {
    for (TChannel* const channel : searchRoot_->Channels()) {
        auto* const search = dynamic_cast<TSearchChannel*>(channel);
        if (!search || !search->Options.SaveAsPersistent || !entry.Folder)
            continue;
        const TCompareOptions options{search->Options.MatchCase, search->Options.MatchWholeWords};
        if (!Matches(entry, platform::WideToUtf8(search->Options.FindWhat), options))
            continue;
        EnsureIndexLoaded(*search);
        CopyTopic(*entry.Folder, *search, true, entry);
    }
}

void TVelquintDoc::CopyTopic(TFolder& source, TFolder& destination, bool keepSource,
                             TTopicIndex& entry) {
    if (&source == rootFolder_.get() || &destination == rootFolder_.get() ||
        &source == &destination || destination.FindTopic(entry.Key))
        return;
    const TDocUpdate update(*this);
    GetTopic(entry);
    const QByteArray key = entry.Key;
    const QByteArray recordName = entry.RecordName;
    auto copy = std::make_unique<TTopicIndex>(&destination, entry, ResolveTopic(entry));
    if (!keepSource)
        source.RemoveTopic(key);
    destination.InsertTopic(key, std::move(copy));
    TTopicIndex* const inserted = destination.FindTopic(key);
    inserted->RecordName = NewTopicRecordName();
    SaveTopic(*inserted);
    if (!keepSource) {
        if (auto opened = OpenItemPath(source, platform::saReadWrite)) {
            opened->Storage().DeleteElement(recordName);
            Changed();
        }
        WriteHeader();
    }
    Changed();
}

void TVelquintDoc::DeleteTopic(TFolder& folder, TTopicIndex& entry) {
    const QByteArray key = entry.Key;
    if (auto opened = OpenItemPath(folder, platform::saReadWrite)) {
        opened->Storage().DeleteElement(entry.RecordName);
        opened.reset();
        Changed();
    }
    folder.RemoveTopic(key);
}

void TVelquintDoc::ClearTopics(TFolder& folder) {
    const TDocUpdate update(*this);
    if (auto opened = OpenItemPath(folder, platform::saReadWrite)) {
        QList<QByteArray> records;
        folder.Topics().ForEach([&records](const QByteArray&, const TTopicIndex* entry) {
            records.append(entry->RecordName);
        });
        for (const QByteArray& record : records) {
            opened->Storage().DeleteElement(record);
            Changed();
        }
    }
    folder.ResetTopics(true);
    SaveIndex(folder);
}

bool TVelquintDoc::DeleteOldTopics(TFolder& folder, int32_t days) {
    const platform::TDateTime now = platform::Now();
    QList<QByteArray> old;
    folder.Topics().ForEach([&](const QByteArray& key, const TTopicIndex* entry) {
        if (std::trunc(now - entry->Received) >= days)
            old.append(key);
    });
    if (old.isEmpty())
        return false;
    const TDocUpdate update(*this);
    for (const QByteArray& key : old) {
        TTopicIndex* const entry = folder.FindTopic(key);
        if (!entry->Read)
            folder.SetUnreadCount(folder.UnreadCount() - 1);
        DeleteTopic(folder, *entry);
    }
    SaveIndex(folder);
    return true;
}

} // namespace store
