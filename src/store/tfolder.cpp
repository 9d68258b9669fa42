#include "store/tfolder.h"

#include "feeds/htmlentities.h"
#include "feeds/turi.h"
#include "platform/ansicodepage.h"
#include "store/ttopic.h"

#include <exception>

namespace store {

void TSearchOptions::AddSearchFolder(const TFolder& folder) {
    SearchFolders.append(folder.StorageName());
}

void TSearchOptions::SearchOnly(const TFolder& folder) {
    ClearSearchFolders();
    AddSearchFolder(folder);
}

TFolder::TFolder(TFolder* parent) : parent_(parent) {}

TFolder::~TFolder() = default;

QString TFolder::Name() const {
    return feeds::DecodeHtmlEntities(name_);
}

void TFolder::SetName(const QString& name) {
    name_ = feeds::DecodeHtmlEntities(name);
}

void TFolder::SetProtected(bool value) {
    bool effective = value;
    for (const TFolder* child : folders_) {
        if (child->Protected()) {
            effective = true;
            break;
        }
    }
    protected_ = effective;
    if (parent_)
        parent_->protected_ = effective;
}

TChannel* TFolder::ChannelAt(int32_t index) const {
    return channels_.At(index);
}

void TFolder::RemoveChannel(TChannel* channel) {
    channels_.Remove(channel);
}

void TFolder::RemoveTopic(const QByteArray& key) {
    if (!topics_.Exists(key))
        return;
    topics_.Delete(key);
    --topicCount_;
    indexUnloaded_ = false;
}

std::unique_ptr<TTopicIndex> TFolder::InsertTopic(const QByteArray& key,
                                                  std::unique_ptr<TTopicIndex> entry) {
    if (topics_.Exists(key))
        return entry;
    entry->Folder = this;
    topics_.Set(key, std::move(entry));
    ++topicCount_;
    indexUnloaded_ = false;
    return nullptr;
}

void TFolder::AddNode(TTreeNode* node) {
    if (!nodes_.contains(node))
        nodes_.append(node);
}

void TFolder::SetUnreadCount(int32_t count) {
    if (count == unreadCount_)
        return;
    unreadCount_ = count < 0 ? 0 : count;
    for (qsizetype i = nodes_.size() - 1; i >= 0; --i) {
        try {
            nodes_.at(i)->Refresh();
        } catch (const std::exception&) {
            // A node that went away with its tree is forgotten, not reported.
            nodes_.removeAt(i);
        }
    }
}

QByteArray TFolder::StorageName() const {
    const qsizetype slash = storagePath_.lastIndexOf('\\');
    return slash < 0 ? storagePath_ : storagePath_.mid(slash + 1);
}

std::unique_ptr<TFolder> TFolder::NewFolderObject() {
    return std::make_unique<TFolder>(this);
}

std::unique_ptr<TChannel> TFolder::NewChannelObject() {
    return std::make_unique<TChannel>(this);
}

TFolder* TFolder::AddFolder() {
    return folders_.Add(NewFolderObject());
}

TChannel* TFolder::AddChannel() {
    return channels_.Add(NewChannelObject());
}

TTopicIndex* TFolder::AddTopic(const QByteArray& key, std::unique_ptr<TTopic> topic) {
    auto entry = std::make_unique<TTopicIndex>();
    TTopic* const linked = topic.get();
    entry->SetTopic(std::move(topic));
    entry->Key = key;
    entry->Folder = this;
    if (linked) {
        entry->SetTitle(linked->Title());
        entry->SetAuthor(linked->Author);
        entry->Date = linked->Date;
        entry->Read = false;
        entry->ContentHash = linked->ContentHash();
        entry->HasAttachments = linked->AttachmentKeyCount() > 0;
    }
    TTopicIndex* const result = entry.get();
    topics_.Set(key, std::move(entry));
    ++topicCount_;
    indexUnloaded_ = false;
    return result;
}

void TFolder::ResetTopics(bool clearCounters) {
    topics_.Clear();
    topicCount_ = 0;
    indexUnloaded_ = true;
    if (clearCounters)
        unreadCount_ = 0;
}

void TFolder::MoveTo(TFolder* newParent) {
    if (!parent_ || !newParent)
        return;
    std::unique_ptr<TFolder> self = parent_->folders_.Extract(this);
    newParent->folders_.Add(std::move(self));
    parent_ = newParent;
    UpdateStoragePaths();
}

void TFolder::UpdateStoragePaths() {
    const QByteArray name = StorageName();
    const QByteArray& parentPath = parent_ ? parent_->storagePath_ : QByteArray();
    storagePath_ = parentPath.isEmpty() ? name : parentPath + '\\' + name;
    for (TFolder* folder : folders_)
        folder->UpdateStoragePaths();
    for (TChannel* channel : channels_)
        channel->UpdateStoragePaths();
}

TChannel::TChannel(TFolder* parent)
    : TFolder(parent), LastUpdated(platform::EncodeDateTime(1980, 6, 1)) {}

TChannel::~TChannel() = default;

void TChannel::SetCopyright(const QString& text) {
    copyright_ = feeds::DecodeHtmlEntities(text);
}

void TChannel::SetDescription(const QString& text) {
    description_ = feeds::DecodeHtmlEntities(text);
}

void TChannel::SetUrl(const QString& url) {
    url_ = url;
    const feeds::TUri uri(platform::WideToUtf8(url));
    urlHasCredentials_ = !uri.UserName.trimmed().isEmpty();
}

QString TChannel::Author() const {
    return feeds::DecodeHtmlEntities(author_);
}

void TChannel::ResetTopics(bool clearCounters) {
    TFolder::ResetTopics(clearCounters);
    if (clearCounters) {
        SeenIds.Clear();
        KnownContent.Clear();
    }
}

void TChannel::MoveTo(TFolder* newParent) {
    if (!Parent() || !newParent)
        return;
    std::unique_ptr<TChannel> self = Parent()->Channels().Extract(this);
    newParent->Channels().Add(std::move(self));
    SetParent(newParent);
    UpdateStoragePaths();
}

TSearchFolder::TSearchFolder(TFolder* parent) : TFolder(parent) {
    SetStoragePath(".search");
    SetIndexUnloaded(false);
}

std::unique_ptr<TFolder> TSearchFolder::NewFolderObject() {
    return std::make_unique<TSearchFolder>(this);
}

std::unique_ptr<TChannel> TSearchFolder::NewChannelObject() {
    return std::make_unique<TSearchChannel>(this);
}

} // namespace store
