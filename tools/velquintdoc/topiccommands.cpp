#include "topiccommands.h"

#include "session.h"
#include "storagenames.h"

#include "platform/ansicodepage.h"
#include "platform/exception.h"
#include "platform/tdatetime.h"
#include "store/tvelquintdoc.h"

#include <QJsonArray>
#include <QJsonObject>

#include <algorithm>
#include <limits>
#include <vector>

namespace velquintdoc {

namespace {

using store::TAttachment;
using store::TFolder;
using store::TTopic;
using store::TTopicIndex;
using store::TVelquintDoc;

// OLE Automation dates of 1 January 100 and of the day after 31 December 9999.
constexpr double kFirstDate = -657434.0;
constexpr double kPastLastDate = 2958466.0;

// Local time as stored; a value outside the years 100 to 9999 (a damaged record) as its number.
QString DateText(platform::TDateTime value, bool json) {
    if (!(value >= kFirstDate && value < kPastLastDate))
        return QString::number(value, 'g', 17);
    return platform::ToQDateTime(value).toString(json ? QStringLiteral("yyyy-MM-ddTHH:mm:ss")
                                                      : QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

// An 8-bit key for text output: its bytes as they are, but a control character, which would
// break the line, as \xNN.
QByteArray KeyBytes(const QByteArray& key) {
    QByteArray out;
    out.reserve(key.size());
    for (const char c : key) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F)
            out += "\\x" + QByteArray::number(byte, 16).rightJustified(2, '0');
        else
            out += c;
    }
    return out;
}

QString KeyText(const QByteArray& key) {
    return platform::AnsiToWide(key);
}

QString FlagName(uint8_t flag) {
    static const char* const kNames[] = {"none",  "red",    "blue",  "yellow",
                                         "green", "orange", "purple"};
    return flag >= 2 && flag <= 8 ? QString::fromLatin1(kNames[flag - 2]) : QString::number(flag);
}

QString StateName(uint8_t state) {
    static const char* const kNames[] = {
        "queued", "downloading", "complete", "complete, not in every playlist",
        "paused", "canceled",    "error",    "cleared"};
    return state >= 1 && state <= 8 ? QString::fromLatin1(kNames[state - 1])
                                    : QString::number(state);
}

// The folder's entries, newest first; the index is read when it is not yet.
std::vector<TTopicIndex*> Entries(TVelquintDoc& doc, TFolder& folder) {
    doc.EnsureIndexLoaded(folder);
    std::vector<TTopicIndex*> entries;
    folder.Topics().ForEach(
        [&entries](const QByteArray&, TTopicIndex* entry) { entries.push_back(entry); });
    std::sort(entries.begin(), entries.end(), [](const TTopicIndex* a, const TTopicIndex* b) {
        return a->Date != b->Date ? a->Date > b->Date : a->Key < b->Key;
    });
    return entries;
}

// The entry the KEY operand names: the bytes given, else a key whose text output (control
// characters escaped) or whose JSON text (Windows-1252 for bytes that are not UTF-8) it is.
TTopicIndex& FindEntry(TVelquintDoc& doc, TFolder& folder, const Invocation& invocation) {
    const QByteArray& raw = invocation.rawOperands.at(1);
    const QString& text = invocation.operands.at(1);
    if (raw.isEmpty())
        throw ToolError(QStringLiteral("the key must not be empty"), kExitUsage);
    doc.EnsureIndexLoaded(folder);
    if (TTopicIndex* const entry = folder.FindTopic(raw))
        return *entry;
    std::vector<TTopicIndex*> matches;
    folder.Topics().ForEach([&](const QByteArray& key, TTopicIndex* entry) {
        if (KeyBytes(key) == raw || KeyText(key) == text)
            matches.push_back(entry);
    });
    const QString name = ShortName(folder.StorageName());
    if (matches.empty())
        throw ToolError(QStringLiteral("no topic with key \"%1\" in %2").arg(text, name));
    if (matches.size() > 1)
        throw ToolError(
            QStringLiteral("the key \"%1\" stands for %2 topics in %3; give the key from "
                           "\"index --json\"")
                .arg(text)
                .arg(matches.size())
                .arg(name));
    return *matches.front();
}

QString YesNo(bool value) {
    return value ? QStringLiteral("yes") : QStringLiteral("no");
}

QString ItemName(const TFolder* folder) {
    return folder ? ShortName(folder->StorageName()) : QString();
}

// ---------------------------------------------------------------------------------------------
// index

QJsonObject EntryJson(const TTopicIndex& entry) {
    QJsonObject object;
    object.insert(QStringLiteral("key"), KeyText(entry.Key));
    object.insert(QStringLiteral("title"), entry.Title());
    object.insert(QStringLiteral("date"), DateText(entry.Date, true));
    object.insert(QStringLiteral("received"), DateText(entry.Received, true));
    object.insert(QStringLiteral("read"), entry.Read);
    object.insert(QStringLiteral("flag"), entry.Flag);
    object.insert(QStringLiteral("origin"), KeyText(entry.Origin));
    object.insert(QStringLiteral("attachments"), entry.HasAttachments);
    return object;
}

QByteArray EntryLine(const TTopicIndex& entry) {
    QString rest = u' ' + Quoted(entry.Title()) + u' ' + DateText(entry.Date, false) +
                   (entry.Read ? QStringLiteral(" read") : QStringLiteral(" unread"));
    if (entry.Flag != 2)
        rest += QStringLiteral(" flag ") + FlagName(entry.Flag);
    if (!entry.Origin.isEmpty())
        rest += QStringLiteral(" origin ") + ShortName(entry.Origin);
    if (entry.HasAttachments)
        rest += QStringLiteral(" attachments");
    return KeyBytes(entry.Key) + rest.toUtf8() + '\n';
}

int Index(Session& session, const Invocation& invocation) {
    TVelquintDoc& doc = session.Document(false);
    TFolder& folder = FindItem(doc, invocation.operands.at(0));
    const std::vector<TTopicIndex*> entries = Entries(doc, folder);
    if (invocation.json) {
        QJsonArray array;
        for (const TTopicIndex* entry : entries)
            array.append(EntryJson(*entry));
        QJsonObject object;
        object.insert(QStringLiteral("storageName"), KeyText(folder.StorageName()));
        object.insert(QStringLiteral("shortName"), ShortName(folder.StorageName()));
        object.insert(QStringLiteral("name"), folder.Name());
        object.insert(QStringLiteral("unread"), folder.UnreadCount());
        object.insert(QStringLiteral("entries"), array);
        session.PrintJson(object);
        return kExitOk;
    }
    QByteArray text =
        (ShortName(folder.StorageName()) + u' ' + Quoted(folder.Name()) +
         QStringLiteral(" unread %1 entries %2\n").arg(folder.UnreadCount()).arg(entries.size()))
            .toUtf8();
    for (const TTopicIndex* entry : entries)
        text += "  " + EntryLine(*entry);
    session.Write(text);
    return kExitOk;
}

// ---------------------------------------------------------------------------------------------
// topic

int Topic(Session& session, const Invocation& invocation) {
    TVelquintDoc& doc = session.Document(false);
    TFolder& folder = FindItem(doc, invocation.operands.at(0));
    TTopicIndex& entry = FindEntry(doc, folder, invocation);
    const TTopic* const topic = doc.GetTopic(entry);
    // A copied entry is read through the entry it was copied from, in that entry's folder.
    const TTopicIndex& owner = topic && topic->Index ? *topic->Index : entry;
    const TFolder* const recordFolder = topic && topic->Folder ? topic->Folder : owner.Folder;
    const bool found = topic && !topic->NotLoaded;

    if (invocation.json) {
        QJsonObject object = EntryJson(entry);
        object.insert(QStringLiteral("author"), entry.Author());
        object.insert(QStringLiteral("recordName"), KeyText(entry.RecordName));
        object.insert(QStringLiteral("contentHash"), KeyText(entry.ContentHash));
        QJsonObject record;
        record.insert(QStringLiteral("folder"),
                      recordFolder ? KeyText(recordFolder->StorageName()) : QString());
        record.insert(QStringLiteral("name"), KeyText(owner.RecordName));
        record.insert(QStringLiteral("found"), found);
        if (found) {
            QJsonArray keys;
            for (const QByteArray& key : topic->AttachmentKeys)
                keys.append(KeyText(key));
            record.insert(QStringLiteral("title"), topic->Title());
            record.insert(QStringLiteral("description"), topic->Description());
            record.insert(QStringLiteral("link"), topic->Link);
            record.insert(QStringLiteral("author"), topic->Author);
            record.insert(QStringLiteral("date"), DateText(topic->Date, true));
            record.insert(QStringLiteral("guid"), topic->Guid);
            record.insert(QStringLiteral("attachmentKeys"), keys);
        }
        QJsonObject result;
        result.insert(QStringLiteral("storageName"), KeyText(folder.StorageName()));
        result.insert(QStringLiteral("entry"), object);
        result.insert(QStringLiteral("record"), record);
        session.PrintJson(result);
        return kExitOk;
    }

    QByteArray text =
        "entry " + KeyBytes(entry.Key) + " in " + ShortName(folder.StorageName()).toUtf8() + '\n';
    QString fields;
    fields += QStringLiteral("  title ") + Quoted(entry.Title()) + u'\n';
    fields += QStringLiteral("  author ") + Quoted(entry.Author()) + u'\n';
    fields += QStringLiteral("  date ") + DateText(entry.Date, false) + u'\n';
    fields += QStringLiteral("  received ") + DateText(entry.Received, false) + u'\n';
    fields += QStringLiteral("  read ") + YesNo(entry.Read) + u'\n';
    fields += QStringLiteral("  flag ") + FlagName(entry.Flag) + u'\n';
    if (!entry.Origin.isEmpty())
        fields += QStringLiteral("  origin ") + ShortName(entry.Origin) + u'\n';
    fields += QStringLiteral("  record ") + ShortName(entry.RecordName) + u'\n';
    fields += QStringLiteral("  content hash ") + KeyText(entry.ContentHash) + u'\n';
    fields += QStringLiteral("  attachments ") + YesNo(entry.HasAttachments) + u'\n';
    fields += QStringLiteral("record ") + ShortName(owner.RecordName) + QStringLiteral(" in ") +
              ItemName(recordFolder) + (found ? QString() : QStringLiteral(": not found")) + u'\n';
    text += fields.toUtf8();
    if (found) {
        QString record;
        record += QStringLiteral("  title ") + Quoted(topic->Title()) + u'\n';
        record += QStringLiteral("  description ") + Quoted(topic->Description()) + u'\n';
        record += QStringLiteral("  link ") + Quoted(topic->Link) + u'\n';
        record += QStringLiteral("  author ") + Quoted(topic->Author) + u'\n';
        record += QStringLiteral("  date ") + DateText(topic->Date, false) + u'\n';
        record += QStringLiteral("  guid ") + Quoted(topic->Guid) + u'\n';
        text += record.toUtf8() + "  attachment keys";
        for (const QByteArray& key : topic->AttachmentKeys)
            text += ' ' + KeyBytes(key);
        text += '\n';
    }
    session.Write(text);
    return kExitOk;
}

// ---------------------------------------------------------------------------------------------
// attachments

int Attachments(Session& session, const Invocation& invocation) {
    TVelquintDoc& doc = session.Document(false);
    session.Configuration();
    doc.LoadAttachments();
    if (invocation.json) {
        QJsonArray array;
        for (const TAttachment* attachment : doc.Attachments()) {
            QJsonObject object;
            object.insert(QStringLiteral("key"), KeyText(attachment->Key));
            object.insert(QStringLiteral("url"), attachment->Url);
            object.insert(QStringLiteral("mimeType"), attachment->MimeType);
            object.insert(QStringLiteral("fileName"), attachment->FileName());
            object.insert(QStringLiteral("folder"), attachment->Folder);
            object.insert(QStringLiteral("state"), attachment->State);
            object.insert(QStringLiteral("priority"), attachment->Priority);
            object.insert(QStringLiteral("kind"), attachment->Kind);
            object.insert(QStringLiteral("size"), attachment->Size);
            object.insert(QStringLiteral("downloaded"), attachment->Downloaded);
            object.insert(QStringLiteral("originText"), attachment->OriginText);
            object.insert(QStringLiteral("added"), DateText(attachment->Added, true));
            object.insert(QStringLiteral("completed"),
                          attachment->Completed == TAttachment::NeverValue()
                              ? QJsonValue()
                              : QJsonValue(DateText(attachment->Completed, true)));
            object.insert(QStringLiteral("errorText"), attachment->ErrorText);
            object.insert(QStringLiteral("targetFolder"), doc.TargetFolder(*attachment));
            object.insert(QStringLiteral("fullPath"), doc.FullPath(*attachment));
            array.append(object);
        }
        QJsonObject object;
        object.insert(QStringLiteral("attachments"), array);
        session.PrintJson(object);
        return kExitOk;
    }
    QByteArray text;
    for (const TAttachment* attachment : doc.Attachments()) {
        QString line = u' ' + Quoted(attachment->FileName()) + QStringLiteral(" ") +
                       StateName(attachment->State) + QStringLiteral(", priority ") +
                       attachment->PriorityText() + QStringLiteral(", kind ") +
                       attachment->KindText() + QStringLiteral(", size ") + attachment->SizeText() +
                       QStringLiteral(", downloaded ") + attachment->ProgressText() + u'\n';
        line += QStringLiteral("  url <") + attachment->Url + u'>';
        if (!attachment->MimeType.isEmpty())
            line += QStringLiteral(" type ") + Quoted(attachment->MimeType);
        line += u'\n';
        line += QStringLiteral("  origin ") + Quoted(attachment->OriginText) + u'\n';
        line += QStringLiteral("  added ") + DateText(attachment->Added, false) +
                QStringLiteral(" completed ") +
                (attachment->Completed == TAttachment::NeverValue()
                     ? QStringLiteral("n/a")
                     : DateText(attachment->Completed, false)) +
                u'\n';
        line += QStringLiteral("  folder ") + doc.TargetFolder(*attachment) +
                (attachment->Folder.isEmpty() ? QStringLiteral(" (default)") : QString()) + u'\n';
        line += QStringLiteral("  path ") + doc.FullPath(*attachment) + u'\n';
        if (!attachment->ErrorText.isEmpty())
            line += QStringLiteral("  error ") + Quoted(attachment->ErrorText) + u'\n';
        text += "attachment " + KeyBytes(attachment->Key) + line.toUtf8();
    }
    session.Write(text);
    return kExitOk;
}

// ---------------------------------------------------------------------------------------------
// Changes

int SetRead(Session& session, const Invocation& invocation) {
    const QString& value = invocation.operands.at(2);
    if (value != u"on" && value != u"off")
        throw ToolError(QStringLiteral("set-read takes on or off, not \"%1\"").arg(value),
                        kExitUsage);
    const bool read = value == u"on";
    TVelquintDoc& doc = session.Document(false);
    TFolder& folder = FindItem(doc, invocation.operands.at(0));
    TTopicIndex& entry = FindEntry(doc, folder, invocation);
    if (entry.Read == read)
        return kExitOk;
    Update update(doc);
    entry.Read = read;
    folder.SetUnreadCount(folder.UnreadCount() + (read ? -1 : 1));
    doc.SaveIndex(folder);
    update.End();
    return kExitOk;
}

// A failed deletion of topics, with what it means for a saved search.
ToolError DeletionFailed(const char* verb, const TFolder& folder, const platform::Exception& e) {
    QString message =
        QStringLiteral("cannot %1 %2: %3")
            .arg(QLatin1StringView(verb), ShortName(folder.StorageName()), e.Message());
    if (dynamic_cast<const store::TSearchChannel*>(&folder))
        message += QStringLiteral(" (the results of a saved search have no records of their "
                                  "own; run the search again to renew them)");
    return ToolError(message);
}

int Clear(Session& session, const Invocation& invocation) {
    TVelquintDoc& doc = session.Document(false);
    TFolder& folder = FindItem(doc, invocation.operands.at(0));
    // Only the entries of a loaded index name the records to delete.
    doc.EnsureIndexLoaded(folder);
    Update update(doc);
    try {
        doc.ClearTopics(folder);
    } catch (const platform::Exception& e) {
        throw DeletionFailed("clear", folder, e);
    }
    update.End();
    return kExitOk;
}

int Age(Session& session, const Invocation& invocation) {
    bool ok = false;
    const qlonglong days = invocation.operands.at(1).toLongLong(&ok, 10);
    if (!ok || days < 0 || days > std::numeric_limits<int32_t>::max())
        throw ToolError(QStringLiteral("DAYS is a whole number from 0 to %1, not \"%2\"")
                            .arg(std::numeric_limits<int32_t>::max())
                            .arg(invocation.operands.at(1)),
                        kExitUsage);
    TVelquintDoc& doc = session.Document(false);
    TFolder& folder = FindItem(doc, invocation.operands.at(0));
    doc.EnsureIndexLoaded(folder);
    const int32_t before = folder.TopicEntries();
    Update update(doc);
    try {
        doc.DeleteOldTopics(folder, static_cast<int32_t>(days));
    } catch (const platform::Exception& e) {
        throw DeletionFailed("age", folder, e);
    }
    update.End();
    const int32_t deleted = before - folder.TopicEntries();
    session.Print(QStringLiteral("%1 %2 deleted, %3 left\n")
                      .arg(deleted)
                      .arg(deleted == 1 ? u"entry" : u"entries")
                      .arg(folder.TopicEntries()));
    return kExitOk;
}

constexpr Command kCommands[] = {
    {"index",
     "STORAGENAME",
     "the entries of the folder's or channel's topic index, newest first, one a\n"
     "line: key, title, date, read or unread, then the flag, the folder it came from\n"
     "(origin) and \"attachments\" when set",
     1,
     {nullptr, nullptr},
     true,
     true,
     Index},
    {"topic",
     "STORAGENAME KEY",
     "one topic: every field of its index entry, then its record (title,\n"
     "description, link, author, date, guid, attachment keys); a copied topic's\n"
     "record is read from the folder it was copied from",
     2,
     {nullptr, nullptr},
     true,
     true,
     Topic},
    {"attachments",
     "",
     "every attachment record in the order stored: key, file name, state, priority,\n"
     "kind, size, bytes downloaded, address, where it came from, and the folder and\n"
     "file it downloads to under the current user's settings (see config; the\n"
     "default folder is \"Downloaded Content\" beside the document file)",
     0,
     {nullptr, nullptr},
     true,
     true,
     Attachments},
    {"set-read",
     "STORAGENAME KEY on|off",
     "marks the topic read (on) or unread (off); the unread count follows",
     3,
     {nullptr, nullptr},
     false,
     true,
     SetRead},
    {"clear",
     "STORAGENAME",
     "deletes every topic of the folder or channel, records and index entries;\n"
     "attachment records stay. The results of a saved search have no records of\n"
     "their own and cannot be cleared this way",
     1,
     {nullptr, nullptr},
     false,
     true,
     Clear},
    {"age",
     "STORAGENAME DAYS",
     "deletes the topics received at least DAYS whole days ago (0: every topic), as\n"
     "automatic deletion does; prints how many went",
     2,
     {nullptr, nullptr},
     false,
     true,
     Age},
};

} // namespace

std::span<const Command> TopicCommands() {
    return kCommands;
}

} // namespace velquintdoc
