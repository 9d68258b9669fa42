#include "store/ttopic.h"

#include "feeds/htmlentities.h"
#include "platform/ansicodepage.h"
#include "store/tfolder.h"

#include <QCryptographicHash>

namespace store {

QByteArray Md5Hex(const QByteArray& text) {
    return QCryptographicHash::hash(text, QCryptographicHash::Md5).toHex().toUpper();
}

TTopic::TTopic() : Date(platform::Now()) {}

TTopic::TTopic(TFolder* newFolder, const TTopic& source)
    : Folder(newFolder), Index(source.Index), AttachmentKeys(source.AttachmentKeys),
      Link(source.Link), Author(source.Author), Date(source.Date), Guid(source.Guid),
      NotLoaded(source.NotLoaded), title_(source.Title()), description_(source.description_),
      contentHashCache_(source.ContentHash()) {}

QString TTopic::Title() const {
    return feeds::DecodeHtmlEntities(title_);
}

void TTopic::SetDescription(const QString& description) {
    description_ = description;
    contentHashCache_.clear();
}

QByteArray TTopic::Id() const {
    if (!Guid.isEmpty())
        return platform::WideToUtf8(Guid);
    return Md5Hex(platform::WideToUtf8(Title() + description_ + Link));
}

QByteArray TTopic::ContentHash() const {
    if (!contentHashCache_.isEmpty())
        return contentHashCache_;
    // Spacing and the brackets of tags are dropped, so a feed that reflows or re-tags an item
    // does not make it look new; tag names and attributes stay.
    QByteArray normalised;
    normalised.reserve(description_.size());
    bool insideTag = false;
    const QString& text = description_;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        const char16_t unit = c.unicode();
        if (unit == 9 || unit == 10 || unit == 13 || unit == 32)
            continue;
        if (insideTag && unit == u'>') {
            insideTag = false;
            continue;
        }
        if (unit == u'<') {
            insideTag = true;
            continue;
        }
        // One character, a surrogate pair included, lower-cased as a whole.
        qsizetype length = 1;
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            length = 2;
        normalised += platform::WideToUtf8(text.mid(i, length).toLower());
        i += length - 1;
    }
    return Md5Hex(platform::WideToUtf8(Title()) + normalised);
}

TTopicIndex::TTopicIndex() : Date(platform::Now()), Received(Date) {}

TTopicIndex::TTopicIndex(TFolder* destination, const TTopicIndex& source,
                         const TTopic* resolvedTopic)
    : Origin(source.Folder ? source.Folder->StorageName() : QByteArray()), Key(source.Key),
      Date(source.Date), Received(source.Received), RecordName(source.RecordName),
      Read(source.Read), Flag(source.Flag), HasAttachments(source.HasAttachments),
      Folder(destination), author_(source.author_), title_(source.title_) {
    if (resolvedTopic && !dynamic_cast<const TSearchChannel*>(destination))
        SetTopic(std::make_unique<TTopic>(destination, *resolvedTopic));
}

TTopicIndex::~TTopicIndex() = default;

QString TTopicIndex::Author() const {
    return feeds::DecodeHtmlEntities(author_);
}
QString TTopicIndex::Title() const {
    return feeds::DecodeHtmlEntities(title_);
}

void TTopicIndex::SetTopic(std::unique_ptr<TTopic> topic) {
    topic_ = std::move(topic);
    if (topic_)
        topic_->Index = this;
}

std::unique_ptr<TTopic> TTopicIndex::TakeTopic() {
    if (topic_)
        topic_->Index = nullptr;
    return std::move(topic_);
}

} // namespace store
