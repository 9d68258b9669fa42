#pragma once

#include "platform/tinstancestore.h"
#include "platform/tstorage.h"
#include "platform/tstringhash.h"
#include "platform/tvaluereader.h"
#include "platform/tvaluewriter.h"
#include "store/searchmatch.h"
#include "store/tattachment.h"
#include "store/tfolder.h"
#include "store/ttopic.h"

#include <QByteArray>
#include <QList>
#include <QSet>
#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

namespace config {
class TConfiguration;
}

namespace store {

enum class TPlaylistPlayer { MediaPlayer, ITunes, WinAmp };

// Adds downloaded music to the playlist of a media player.
class TPlaylists {
public:
    virtual ~TPlaylists() = default;
    // False when the file could not be added.
    virtual bool AddToPlaylist(TPlaylistPlayer player, const QString& path) = 0;
};

// The storages opened along one storage path, innermost last. Closing (or destroying) frees them
// innermost first and never closes the root storage.
class TStoragePath {
public:
    explicit TStoragePath(platform::TStorage& root) : root_(root) {}
    ~TStoragePath() { Close(); }
    TStoragePath(const TStoragePath&) = delete;
    TStoragePath& operator=(const TStoragePath&) = delete;

    // The innermost storage: the root storage for an empty path.
    platform::TStorage& Storage() const { return opened_.empty() ? root_ : *opened_.back(); }
    // Opens or creates name inside the innermost storage; raises ECDStorageError.
    void Push(const QByteArray& name, int access, bool create);
    void Close();

private:
    platform::TStorage& root_;
    std::vector<std::unique_ptr<platform::TStorage>> opened_;
};

// A tagged value reader together with the stream it reads.
class TRecordReader {
public:
    explicit TRecordReader(std::unique_ptr<platform::TStorageStream> stream)
        : stream_(std::move(stream)), reader_(*stream_) {}
    platform::TValueReader& Values() { return reader_; }

private:
    std::unique_ptr<platform::TStorageStream> stream_;
    platform::TValueReader reader_;
};

// A tagged value writer together with the stream it writes. Call Finish to learn whether every
// byte arrived; destroying an unfinished writer drops a failure silently.
class TRecordWriter {
public:
    explicit TRecordWriter(std::unique_ptr<platform::TStorageStream> stream)
        : stream_(std::move(stream)), writer_(*stream_) {}
    platform::TValueWriter& Values() { return writer_; }
    void Finish() { writer_.Finish(); }

private:
    std::unique_ptr<platform::TStorageStream> stream_;
    platform::TValueWriter writer_;
};

// An image stream of the root storage: the picture's type, its link and its file bytes.
struct TImageRecord {
    enum Type : int32_t { Gif = 1, Jpeg = 2, Bitmap = 3, NoPicture = 4 };
    int32_t PictureType = NoPicture;
    QByteArray Link;
    QByteArray Picture;
};

// The document file: every folder, channel and saved search of the user. Only the root storage
// stays open; every other element is opened for one operation. Every operation that changes the
// file commits it when it is done, unless an update (BeginUpdate/EndUpdate) is under way, which
// commits once at its end. Not thread-safe.
class TVelquintDoc {
public:
    static constexpr int32_t kVersion = 20;
    static constexpr int32_t kFolderRecordVersion = 50;
    static constexpr int32_t kChannelRecordVersion = 50;
    static constexpr int32_t kSearchRecordVersion = 20;
    static constexpr int32_t kIndexVersion = 100;
    static constexpr int32_t kTopicRecordVersion = 40;

    // Opens or creates the document in folder, or when folder is empty in "My <product>" of
    // the user's documents folder. Raises the storage layer's errors and the read errors of the
    // header and of the folder and channel records.
    explicit TVelquintDoc(const QString& folder = {},
                          const QString& productName = QStringLiteral("Velquint"));
    ~TVelquintDoc();

    // The process-wide document in the default location, named after the branded product
    // (request codes of platform::TInstanceStore).
    static TVelquintDoc* Instance(int request = platform::irGetOrCreate);
    TVelquintDoc(const TVelquintDoc&) = delete;
    TVelquintDoc& operator=(const TVelquintDoc&) = delete;

    // The folder and file the constructor chooses.
    static QString DocumentFolder(const QString& folder, const QString& productName);
    static QString DocumentFile(const QString& folder);

    const QString& FileName() const { return fileName_; }
    TFolder& RootFolder() const { return *rootFolder_; }
    platform::TRootStorage& RootStorage() const { return *rootStorage_; }
    TSearchFolder& SearchRoot() const { return *searchRoot_; }
    TSearchOptions& SearchOptions() const { return *searchOptions_; }
    int32_t Version() const { return kVersion; }
    int32_t NextFolderNumber() const { return nextFolderNumber_; }
    int32_t NextTopicNumber() const { return nextTopicNumber_; }
    int32_t NextAttachmentNumber() const { return nextAttachmentNumber_; }
    const platform::TPointerHash<TFolder>& FoldersByStorageName() const {
        return foldersByStorageName_;
    }
    const platform::TPointerHash<TChannel>& ChannelsByUrl() const { return channelsByUrl_; }
    const QByteArray& HomeUrl() const { return homeUrl_; }
    // Keys of the topics added by downloads since the program started; never emptied.
    const QList<QByteArray>& SessionTopicIds() const { return sessionTopicIds_; }

    void Commit();
    // Groups operations so that the file is committed once, when the outermost update ends.
    void BeginUpdate() { ++updateDepth_; }
    void EndUpdate();

    // Opens the storages along path; the last one is created (replacing one of that name) when
    // createLast is set. None when any of them cannot be opened.
    std::unique_ptr<TStoragePath> OpenStoragePath(const QByteArray& path, int access,
                                                  bool createLast);
    static void CloseStoragePath(std::unique_ptr<TStoragePath>& path) { path.reset(); }
    // None when the stream is missing or cannot be opened for reading.
    static std::unique_ptr<TRecordReader> OpenReader(platform::TStorage& storage,
                                                     const QByteArray& streamName);
    // Creates (replaces) the stream; none when it cannot be created.
    static std::unique_ptr<TRecordWriter> OpenWriter(platform::TStorage& storage,
                                                     const QByteArray& streamName);

    // A new folder or channel with its storage under parent (none: the root folder). None when
    // the storage cannot be created; the object is then taken out of the tree again.
    TFolder* AddFolder(TFolder* parent);
    TChannel* AddChannel(TFolder* parent);
    void SaveFolder(TFolder& folder);
    void SaveChannel(TChannel& channel);
    void SaveFolderAndChannel(TChannel& channel);
    void SaveSearchInfo(TSearchChannel& channel);
    // Deletes the item with its storage, or only hides it when it came with the subscription
    // list. Raises when the storage exists but cannot be deleted.
    void DeleteFolder(TFolder& item);
    // Moves the item and its storage under newParent (none: the root folder). Raises on any
    // failure, the model unchanged.
    void MoveFolder(TFolder& item, TFolder* newParent);
    TFolder* FolderByStorageName(const QByteArray& name) const {
        return foldersByStorageName_.Find(name);
    }
    // False when the stream does not exist or holds no valid picture type.
    bool ReadImage(const QByteArray& streamName, bool loadPicture, TImageRecord& image);

    // Topic index and records. Errors inside an index or a record raise EReadError; a storage or
    // stream that cannot be opened makes a read or write do nothing.
    void LoadIndex(TFolder& folder);
    void EnsureIndexLoaded(TFolder& folder);
    // Also writes the folder record, which carries the counts.
    void SaveIndex(TFolder& folder);
    // The topic behind an entry (its own, or the one in the folder it was copied from), or none,
    // without reading a record.
    TTopic* ResolveTopic(TTopicIndex& entry);
    // The entry's topic, created and read from its record when needed.
    TTopic* GetTopic(TTopicIndex& entry);
    // Both raise "No topic available" when the entry resolves to no topic.
    void LoadTopic(TTopicIndex& entry);
    void SaveTopic(TTopicIndex& entry);
    QByteArray NewTopicRecordName();
    // Known by its key among this run's downloads, or by its content among the stored topics.
    bool IsKnownTopic(const TChannel& channel, const TTopic& topic) const;
    // Takes the downloaded topic over; true when it was new and has been stored.
    bool AddFeedTopic(TChannel& channel, std::unique_ptr<TTopic> topic);
    // Ends the merge of one download: the seen keys, the index, the records and the header.
    void CompleteRefresh(TChannel& channel);
    // Whether the entry's title or its topic's description contains text.
    bool Matches(TTopicIndex& entry, const QByteArray& text, TCompareOptions options);
    // Copies the new topic into every saved search it matches.
    void FileIntoSearches(TTopicIndex& entry);
    // Copies (keepSource) or moves the entry with its record; nothing happens for the root
    // folder, the same folder, or a destination that already holds the key.
    void CopyTopic(TFolder& source, TFolder& destination, bool keepSource, TTopicIndex& entry);
    // Deletes the record and the entry; the caller saves the index. Raises when the record is
    // missing.
    void DeleteTopic(TFolder& folder, TTopicIndex& entry);
    // Deletes every record, empties the index and saves it; stops (raising) at a missing record.
    void ClearTopics(TFolder& folder);
    // Deletes the entries received at least days ago; false when there were none.
    bool DeleteOldTopics(TFolder& folder, int32_t days);

    // Attachment records. The stream is read once, on first need; reading a damaged record
    // raises, the records before it staying registered.
    void LoadAttachments();
    // Loads first, so that records not yet read are not lost.
    void SaveAttachments();
    QByteArray NewAttachmentKey();
    TAttachment* FindAttachment(const QByteArray& key);
    // Takes over a new record (Url, MimeType and Size set) for a new topic: key, file name,
    // origin text, classification, the topic's key list, the queues.
    TAttachment* AddAttachment(std::unique_ptr<TAttachment> attachment, TTopic& topic);
    // Whether a queued record waits in the high or the idle queue.
    bool HasQueuedAttachments() const;
    // Kind and priority from the extension and the idle-downloading setting.
    void ClassifyAttachment(TAttachment& attachment) const;
    // The record's own folder, else the configured folder for its kind; and the file in it.
    QString TargetFolder(const TAttachment& attachment) const;
    QString FullPath(const TAttachment& attachment) const;
    // Complete, and for music added to each enabled player's playlist; complete but not in
    // every playlist when an addition fails or there is nothing to add it with.
    void AttachmentCompleted(TAttachment& attachment);
    void SetPlaylists(TPlaylists* playlists) { playlists_ = playlists; }
    // The settings the document reads; the process-wide configuration unless one is given.
    void SetConfiguration(const config::TConfiguration* configuration) {
        configuration_ = configuration;
    }
    // False when the priority is the current one.
    bool SetAttachmentPriority(TAttachment& attachment, uint8_t priority);
    // Every record whose state is in states is cleared from the downloads list.
    void MarkAttachments(const QList<uint8_t>& states);
    bool AttachmentsLoaded() const { return attachmentsLoaded_; }
    // Every record in the order loaded or added, and the queues by priority; not owning.
    const QList<TAttachment*>& Attachments() const { return attachments_; }
    const QList<TAttachment*>& HighPriorityQueue() const { return highPriorityQueue_; }
    const QList<TAttachment*>& IdleQueue() const { return idleQueue_; }
    const QList<TAttachment*>& BlockedList() const { return blockedList_; }

    static void ReadIndex(platform::TValueReader& reader, TFolder& folder);
    static void WriteIndex(platform::TValueWriter& writer, const TFolder& folder);
    static void ReadTopicRecord(platform::TValueReader& reader, TTopic& topic);
    static void WriteTopicRecord(platform::TValueWriter& writer, const TTopic& topic);

    // Reads the storage's folder record (when folder is not the root folder) and its children.
    void LoadTree(platform::TStorage& storage, TFolder& folder);
    // Registers the item by storage name and, for a channel, by address.
    void Register(TFolder& item);

    // "f" and the number in upper-case hexadecimal, right-aligned in 28 characters.
    static QByteArray FormatElementName(char letter, int32_t number);

    static void ReadFolderRecord(platform::TValueReader& reader, TFolder& folder);
    static void WriteFolderRecord(platform::TValueWriter& writer, const TFolder& folder);
    static void ReadChannelRecord(platform::TValueReader& reader, TChannel& channel);
    static void WriteChannelRecord(platform::TValueWriter& writer, const TChannel& channel);
    static void ReadSearchRecord(platform::TValueReader& reader, TSearchOptions& options);
    static void WriteSearchRecord(platform::TValueWriter& writer, const TSearchOptions& options);

private:
    static void ReadIndexEntry(platform::TValueReader& reader, int32_t version, TTopicIndex& entry);
    TTopic* ResolveTopic(TTopicIndex& entry, QSet<const TTopicIndex*>& visited);
    TTopic* GetTopic(TTopicIndex& entry, QSet<const TTopicIndex*>& visited);
    void LoadTopic(TTopicIndex& entry, QSet<const TTopicIndex*>& visited);
    const config::TConfiguration& Settings() const;
    QString DefaultAttachmentFolder(const TAttachment& attachment) const;
    QList<TAttachment*>* PriorityList(uint8_t priority);
    void RegisterAttachment(std::unique_ptr<TAttachment> attachment);
    // The storage path of a folder, channel or search; none for an item without a storage.
    std::unique_ptr<TStoragePath> OpenItemPath(const TFolder& item, int access);
    void KeepCountersAhead();
    void ReadHeader();
    void WriteHeader();
    void CreateSearchRoot();
    void LoadCustomization();
    void LoadChannel(platform::TStorage& storage, TChannel& channel);
    template <typename Item> Item* AddItem(TFolder* parent, Item* (TFolder::*add)());
    void SaveRecords(TFolder& item, bool channelRecord, bool registerItem);
    void Unregister(TFolder& item);
    void Changed();

    // Declared in the order that lets destruction drop the maps first, then close the file,
    // then free the tree, the search options and the search root.
    QString fileName_;
    std::unique_ptr<TSearchFolder> searchRoot_;
    std::unique_ptr<TSearchOptions> searchOptions_;
    std::unique_ptr<TFolder> rootFolder_;
    std::unique_ptr<platform::TRootStorage> rootStorage_;
    int32_t nextFolderNumber_ = 1;
    int32_t nextTopicNumber_ = 1;
    int32_t nextAttachmentNumber_ = 1;
    // The highest numbers of the element names seen while loading the tree.
    int64_t highestFolderNumber_ = -1;
    int64_t highestTopicNumber_ = -1;
    platform::TObjectHash<TAttachment> attachmentsByKey_;
    QList<TAttachment*> attachments_;
    QList<TAttachment*> highPriorityQueue_;
    QList<TAttachment*> idleQueue_;
    QList<TAttachment*> blockedList_;
    bool attachmentsLoaded_ = false;
    const config::TConfiguration* configuration_ = nullptr;
    TPlaylists* playlists_ = nullptr;
    platform::TPointerHash<TFolder> foldersByStorageName_;
    platform::TPointerHash<TChannel> channelsByUrl_;
    QByteArray homeUrl_;
    QList<QByteArray> sessionTopicIds_;
    int updateDepth_ = 0;
    bool uncommitted_ = false;
};

// Groups the writes of one operation into one commit of the document, also when the operation
// fails half-way.
class TDocUpdate {
public:
    explicit TDocUpdate(TVelquintDoc& doc) : doc_(doc) { doc_.BeginUpdate(); }
    ~TDocUpdate() { doc_.EndUpdate(); }
    TDocUpdate(const TDocUpdate&) = delete;
    TDocUpdate& operator=(const TDocUpdate&) = delete;

private:
    TVelquintDoc& doc_;
};

} // namespace store
