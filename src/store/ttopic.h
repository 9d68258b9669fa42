#pragma once

#include "platform/tdatetime.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdint>
#include <memory>

namespace store {

class TFolder;
class TTopicIndex;

// The full record of one topic, loaded on demand and owned by its index entry.
class TTopic {
public:
    // Not loaded, dated now, everything else empty.
    TTopic();
    // A copy for another folder: the title as read, the record's fields, the source's index
    // entry and its content hash, which the copy keeps from then on.
    TTopic(TFolder* newFolder, const TTopic& source);
    TTopic(const TTopic&) = delete;
    TTopic& operator=(const TTopic&) = delete;

    // Decoded from character references when read.
    QString Title() const;
    void SetTitle(const QString& title) { title_ = title; }
    const QString& StoredTitle() const { return title_; }

    const QString& Description() const { return description_; }
    // Also forgets the cached content hash.
    void SetDescription(const QString& description);

    TFolder* Folder = nullptr;
    TTopicIndex* Index = nullptr;
    QList<QByteArray> AttachmentKeys;
    int32_t AttachmentKeyCount() const { return static_cast<int32_t>(AttachmentKeys.size()); }
    const QByteArray& AttachmentKeyAt(int32_t index) const { return AttachmentKeys.at(index); }
    void AddAttachmentKey(const QByteArray& key) { AttachmentKeys.append(key); }

    QString Link;
    QString Author;
    platform::TDateTime Date;
    QString Guid;
    bool NotLoaded = true;

    // The key of the topic in its folder: the guid, or the MD5 of title, description and link.
    QByteArray Id() const;
    // A digest that stays the same when only the spacing or the tag brackets of the
    // description change; the cached value when the topic was copied.
    QByteArray ContentHash() const;

private:
    QString title_;
    QString description_;
    QByteArray contentHashCache_;
};

// The index entry of one topic: always in memory once its folder's index is loaded.
class TTopicIndex {
public:
    // Dated and received now, no flag, everything else empty.
    TTopicIndex();
    // A copy for the destination folder. It remembers where it came from and gets its own copy
    // of the resolved topic, unless there is none or the destination is a search channel.
    TTopicIndex(TFolder* destination, const TTopicIndex& source, const TTopic* resolvedTopic);
    ~TTopicIndex();
    TTopicIndex(const TTopicIndex&) = delete;
    TTopicIndex& operator=(const TTopicIndex&) = delete;

    // Decoded from character references when read.
    QString Author() const;
    void SetAuthor(const QString& author) { author_ = author; }
    QString Title() const;
    void SetTitle(const QString& title) { title_ = title; }

    TTopic* Topic() const { return topic_.get(); }
    // Links the topic to this entry (the entry owns it; its Index becomes this entry).
    void SetTopic(std::unique_ptr<TTopic> topic);
    std::unique_ptr<TTopic> TakeTopic();

    QByteArray Origin;
    QByteArray Key;
    platform::TDateTime Date;
    platform::TDateTime Received;
    QByteArray RecordName;
    bool Read = false;
    // 2 no flag, 3 red, 4 blue, 5 yellow, 6 green, 7 orange, 8 purple.
    uint8_t Flag = 2;
    QByteArray ContentHash;
    bool HasAttachments = false;
    TFolder* Folder = nullptr;

private:
    QString author_;
    QString title_;
    std::unique_ptr<TTopic> topic_;
};

// MD5 of 8-bit text as 32 upper-case hexadecimal digits.
QByteArray Md5Hex(const QByteArray& text);

} // namespace store
