#pragma once

#include "platform/tdatetime.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdint>

namespace platform {
class TValueReader;
class TValueWriter;
} // namespace platform

namespace store {

// One downloadable file of a topic (an enclosure) with its download state. The document keeps
// the records; the download queue changes them. Not thread-safe.
class TAttachment {
public:
    enum State : uint8_t {
        Queued = 1,
        Downloading = 2,
        Complete = 3,
        CompleteNotInPlaylists = 4,
        Paused = 5,
        Canceled = 6,
        Error = 7,
        Cleared = 8
    };
    enum Priority : uint8_t { High = 1, WhenIdle = 2, Blocked = 3 };
    enum Kind : int32_t { Music = 1, Other = 2 };

    static constexpr int32_t kRecordVersion = 30;
    // 1 June 1980 13:00:00: never completed.
    static platform::TDateTime NeverValue();

    TAttachment();

    // The local file name, always a single safe name (see SetFileName).
    const QString& FileName() const { return fileName_; }
    // URL-decodes the text ("+" is a space, "%" and two hexadecimal digits the byte they give)
    // and keeps a name that cannot leave the target folder: only the last path element, no NUL
    // or control characters, never "." or "..", at most 255 bytes; when nothing is left the name
    // is "attachment" followed by the key.
    void SetFileName(const QString& text);
    // The same rules without the decoding, for a name that was decoded when it was first set.
    void SetStoredFileName(const QString& name);
    // A chosen file: its name and its folder (with a trailing "/"). An empty path changes nothing.
    void SetPath(const QString& fullPath);

    // The record's own folder with a trailing "/", or empty for the default folder.
    QString Folder;
    uint8_t State = Queued;
    QString Url;
    QString MimeType;
    int32_t Size = -1;
    QByteArray Key;
    int32_t Downloaded = -1;
    uint8_t Priority = WhenIdle;
    QString OriginText;
    platform::TDateTime Added;
    platform::TDateTime Completed;
    int32_t Kind = Other;
    QString ErrorText;
    // Working fields of the download queue; not stored.
    QByteArray QueueText;
    bool Skip = false;

    // Complete also stamps Completed with the current time.
    void SetState(uint8_t state);
    // The 8-bit form of the address, URL-decoded.
    QByteArray DisplayUrl() const;
    // The record's own folder, or else the default folder for its kind (given by the caller
    // from the configuration), followed by the file name.
    QString TargetFolder(const QString& defaultFolder) const;
    QString FullPath(const QString& defaultFolder) const {
        return TargetFolder(defaultFolder) + fileName_;
    }

    QString AddedText() const;
    QString CompletedText() const;
    QString KindText() const;
    QString ProgressText() const;
    QString SizeText() const;
    QString PriorityText() const;

    // The lower-cased, trimmed part of the file name after its last ".".
    QString Extension() const;

    void Read(platform::TValueReader& reader);
    void Write(platform::TValueWriter& writer) const;

private:
    QString fileName_;
};

// "+" becomes a space, then "%" and two hexadecimal digits the byte they give.
QByteArray DecodeUrlText(const QByteArray& text);

} // namespace store
