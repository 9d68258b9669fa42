#pragma once

#include "feeds/tenclosure.h"
#include "platform/exception.h"
#include "platform/tdatetime.h"
#include "platform/tstream.h"

#include <QByteArray>
#include <QString>

#include <libxml/tree.h>

#include <memory>
#include <vector>

// The feed model: what a formatter reads out of a feed document, independent of the store.
namespace feeds {

// The document is not the formatter's dialect, or lacks an element the dialect requires.
class EFeedIsNotSupported : public platform::Exception {
public:
    EFeedIsNotSupported() : Exception(QString()) {}
};

// ReadItem was called without a current item.
class EFeedTopicsExceeded : public platform::Exception {
public:
    EFeedTopicsExceeded() : Exception(QString()) {}
};

class TChannelInfo {
public:
    TChannelInfo() { Reset(); }
    // Empty texts, Link "http://", Date now.
    void Reset();

    QString Title;
    QString Description;
    QString Link;
    QString Author;
    QString Copyright;
    platform::TDateTime Date = 0;
    QString ImageUrl;
    QString ImageTitle;
    QString ImageLink;
};

// An item of the feed (not the store's topic of the same name).
class TTopic {
public:
    // Its identity: a new tag identifier from TFeed::AddTopic, unless the feed gives one.
    QByteArray Id;
    QString Title;
    QString Description;
    QString Link;
    QString Author;
    platform::TDateTime Date = platform::Now();
    TEnclosure Enclosure;
};

using TTopicsList = std::vector<std::unique_ptr<TTopic>>;

class TFeedFormatter;
// A formatter class: makes a fresh formatter for one read.
using TFeedFormatterClass = std::unique_ptr<TFeedFormatter> (*)();

class TFeed {
public:
    TChannelInfo ChannelInfo;
    // In document order.
    TTopicsList Topics;

    // Resets the channel information and drops every topic.
    void Clear();

    // Clear, then parse the whole stream (from its start) and read it with a new formatter
    // of the class. Raises EInvalidXmlDocument (not well-formed) or EFeedIsNotSupported (another
    // dialect); the feed is cleared again before the exception passes.
    void LoadFromStream(platform::TStream& stream, TFeedFormatterClass formatterClass);
    // The same for a document parsed already; the document is only read.
    void LoadFromDocument(const xmlDoc& document, TFeedFormatterClass formatterClass);

    // A new topic with a new tag identifier, appended to Topics.
    TTopic& AddTopic();
};

// "tag:velquint.net,<year>:<GUID>.<now>": the year and the local date-time now (days, general
// format, the locale's decimal separator), the GUID in upper case without braces.
QByteArray NewTagId();

} // namespace feeds
