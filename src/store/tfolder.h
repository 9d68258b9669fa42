#pragma once

#include "platform/tdatetime.h"
#include "platform/tstringhash.h"
#include "store/towninglist.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdint>
#include <memory>

// The in-memory model of the document: a tree of folders whose leaves are channels, each with an
// index of its topics. Fields without a rule of their own are plain public members; fields whose
// setting or reading does more (decoding, counting, refreshing) have accessors. Not thread-safe.
namespace store {

class TChannel;
class TTopic;
class TTopicIndex;

// A user-interface node that shows a folder. Refresh raises when the node can no longer be
// refreshed; the folder then forgets it.
class TTreeNode {
public:
    virtual ~TTreeNode() = default;
    virtual void Refresh() = 0;
};

struct TImageData {
    QString Title;
    QString Link;
    QString Url;
};

class TFolder;

struct TSearchOptions {
    // Storage element names of the folders to search; empty means every folder.
    QList<QByteArray> SearchFolders;
    bool SaveAsPersistent = false;
    QString FindWhat;
    bool MatchCase = false;
    bool MatchWholeWords = false;

    void AddSearchFolder(const TFolder& folder);
    void ClearSearchFolders() { SearchFolders.clear(); }
    void SearchOnly(const TFolder& folder);
    void Assign(const TSearchOptions& other) { *this = other; }
};

using TFoldersList = TOwningList<TFolder>;
using TChannelsList = TOwningList<TChannel>;
// Topic key to index entry; owns the entries.
using TTopicsIndex = platform::TObjectHash<TTopicIndex>;

class TFolder {
public:
    // The new folder is not yet in any list of the parent.
    explicit TFolder(TFolder* parent);
    virtual ~TFolder();
    TFolder(const TFolder&) = delete;
    TFolder& operator=(const TFolder&) = delete;

    // The name is decoded from character references when set and again when read.
    QString Name() const;
    void SetName(const QString& name);

    TFolder* Parent() const { return parent_; }

    bool Protected() const { return protected_; }
    // Protected when the value is true or a child folder is protected; the parent follows.
    void SetProtected(bool value);

    TFoldersList& Folders() { return folders_; }
    const TFoldersList& Folders() const { return folders_; }
    TChannelsList& Channels() { return channels_; }
    const TChannelsList& Channels() const { return channels_; }
    int32_t FolderCount() const { return folders_.Count(); }
    TFolder* FolderAt(int32_t index) const { return folders_.At(index); }
    int32_t ChannelCount() const { return channels_.Count(); }
    TChannel* ChannelAt(int32_t index) const;
    // Takes the item out of its list and frees it with everything it owns.
    void RemoveFolder(TFolder* folder) { folders_.Remove(folder); }
    void RemoveChannel(TChannel* channel);

    TTopicsIndex& Topics() { return topics_; }
    const TTopicsIndex& Topics() const { return topics_; }
    int32_t TopicEntries() const { return topics_.Count(); }
    TTopicIndex* FindTopic(const QByteArray& key) const { return topics_.Find(key); }
    // Removes and frees the entry; a missing key changes nothing.
    void RemoveTopic(const QByteArray& key);
    // Stores the entry unless the key is already there. Returns the entry back to the caller
    // when it was not stored, none when it was.
    std::unique_ptr<TTopicIndex> InsertTopic(const QByteArray& key,
                                             std::unique_ptr<TTopicIndex> entry);

    // Nodes that show this folder, not owned.
    const QList<TTreeNode*>& Nodes() const { return nodes_; }
    void AddNode(TTreeNode* node);
    void RemoveNode(TTreeNode* node) { nodes_.removeAll(node); }

    int32_t UnreadCount() const { return unreadCount_; }
    // Never negative; a change refreshes every node, and a node that fails is forgotten.
    void SetUnreadCount(int32_t count);

    int32_t TopicCount() const { return topicCount_; }
    void SetTopicCount(int32_t count) { topicCount_ = count; }

    bool Subscribed = false;
    bool Hidden = false;

    // Element names from the root storage, separated by "\"; empty for the root folder.
    const QByteArray& StoragePath() const { return storagePath_; }
    void SetStoragePath(const QByteArray& path) { storagePath_ = path; }
    // The last element of the storage path.
    QByteArray StorageName() const;

    bool IndexUnloaded() const { return indexUnloaded_; }
    void SetIndexUnloaded(bool value) { indexUnloaded_ = value; }

    virtual std::unique_ptr<TFolder> NewFolderObject();
    virtual std::unique_ptr<TChannel> NewChannelObject();
    virtual TFolder* AddFolder();
    virtual TChannel* AddChannel();
    // A new entry under key, linked to the topic when one is given; an entry already there is
    // replaced and freed.
    virtual TTopicIndex* AddTopic(const QByteArray& key, std::unique_ptr<TTopic> topic);
    // Empties the index and marks it unloaded; the unread count drops to 0 when asked.
    virtual void ResetTopics(bool clearCounters);
    // Moves this item under another folder and recomputes the storage paths below it. The root
    // folders, which have no parent, stay where they are.
    virtual void MoveTo(TFolder* newParent);

protected:
    // Recomputes the storage path of this item from its parent, then of everything below it.
    void UpdateStoragePaths();
    void SetParent(TFolder* parent) { parent_ = parent; }

private:
    QString name_;
    TFolder* parent_;
    bool protected_ = false;
    TFoldersList folders_;
    TChannelsList channels_;
    TTopicsIndex topics_;
    QList<TTreeNode*> nodes_;
    int32_t unreadCount_ = 0;
    int32_t topicCount_ = 0;
    QByteArray storagePath_;
    bool indexUnloaded_ = true;
};

class TChannel : public TFolder {
public:
    explicit TChannel(TFolder* parent);
    ~TChannel() override;

    // Decoded from character references when set.
    const QString& Copyright() const { return copyright_; }
    void SetCopyright(const QString& text);
    const QString& Description() const { return description_; }
    void SetDescription(const QString& text);

    const QString& Url() const { return url_; }
    // Also notes whether the address carries a user name.
    void SetUrl(const QString& url);
    bool UrlHasCredentials() const { return urlHasCredentials_; }
    bool UsesCredentials() const { return urlHasCredentials_ || RequiresAuthentication; }

    // Decoded from character references when read.
    QString Author() const;
    void SetAuthor(const QString& author) { author_ = author; }
    // The author as stored, before decoding.
    const QString& StoredAuthor() const { return author_; }

    QString Link;
    platform::TDateTime LastUpdated;
    TImageData Image;
    // 1 last refresh succeeded, 2 credentials asked for and none configured, 3 refresh failed.
    uint8_t Status = 1;
    bool RequiresAuthentication = false;
    // Keys added by downloads in this run as of the last merge, and the content hashes read
    // from the index; both used as sets.
    platform::TIntegerHash SeenIds;
    platform::TIntegerHash KnownContent;

    void ResetTopics(bool clearCounters) override;
    void MoveTo(TFolder* newParent) override;

private:
    QString copyright_;
    QString description_;
    QString url_;
    bool urlHasCredentials_ = false;
    QString author_;
};

// The root of the searches. Its storage path is ".search".
class TSearchFolder : public TFolder {
public:
    explicit TSearchFolder(TFolder* parent);
    std::unique_ptr<TFolder> NewFolderObject() override;
    std::unique_ptr<TChannel> NewChannelObject() override;
};

// One search; its entries point to topics that live in other folders.
class TSearchChannel : public TChannel {
public:
    explicit TSearchChannel(TFolder* parent) : TChannel(parent) {}
    TSearchOptions Options;
};

} // namespace store
