#include "store/tvelquintdoc.h"

#include "config/tbranding.h"
#include "platform/ansicodepage.h"
#include "platform/tlocations.h"
#include "store/recordfields.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <array>

namespace store {

using platform::TStorage;
using platform::TValueReader;
using platform::TValueWriter;
using namespace recordfields;

namespace {

const QByteArray kHeaderStream = ".velquint";
const QByteArray kCustomizeStream = ".customize";
const QByteArray kFolderStream = ".folder";
const QByteArray kChannelStream = ".channel";
const QByteArray kSearchInfoStream = ".searchinfo";
const QByteArray kSearchStorage = ".search";
const QByteArray kDefaultHomeUrl = "https://www.velquint.net/";

QList<QByteArray> SplitPath(const QByteArray& path) {
    return path.isEmpty() ? QList<QByteArray>() : path.split('\\');
}

QByteArray UrlKey(const QString& url) {
    return platform::WideToUtf8(url.toLower());
}

// The number in an element name made by FormatElementName with letter, or -1.
int64_t ElementNumber(const QByteArray& name, char letter) {
    if (name.size() != 29 || name.at(0) != letter)
        return -1;
    bool ok = false;
    const uint32_t number = name.mid(1).trimmed().toUInt(&ok, 16);
    return ok ? static_cast<int64_t>(number) : -1;
}

// Counters grow through every 32-bit value without signed overflow.
int32_t NextOf(int32_t& counter) {
    const int32_t current = counter;
    counter = static_cast<int32_t>(static_cast<uint32_t>(counter) + 1u);
    return current;
}

int32_t After(int32_t counter, int64_t highestSeen) {
    if (highestSeen < 0 || static_cast<uint32_t>(counter) > static_cast<uint64_t>(highestSeen))
        return counter;
    return static_cast<int32_t>(static_cast<uint32_t>(highestSeen) + 1u);
}

} // namespace

void TStoragePath::Push(const QByteArray& name, int access, bool create) {
    opened_.push_back(std::make_unique<TStorage>(name, &Storage(), access, false, create));
}

void TStoragePath::Close() {
    while (!opened_.empty())
        opened_.pop_back();
}

QString TVelquintDoc::DocumentFolder(const QString& folder, const QString& productName) {
    QString result = folder;
    if (result.isEmpty()) {
        const QString documents = platform::DocumentsFolder();
        if (documents.isEmpty())
            return {};
        result = documents + QStringLiteral("/My %1").arg(productName);
    }
    if (!result.endsWith(u'/'))
        result += u'/';
    return result;
}

QString TVelquintDoc::DocumentFile(const QString& folder) {
    const QString preferred = folder + QStringLiteral("Velquint.bin");
    return QFileInfo::exists(preferred) ? preferred : folder + QStringLiteral("Reader.bin");
}

TVelquintDoc::TVelquintDoc(const QString& folder, const QString& productName)
    : rootFolder_(std::make_unique<TFolder>(nullptr)) {
    const QString documentFolder = DocumentFolder(folder, productName);
    if (!documentFolder.isEmpty())
        QDir().mkpath(documentFolder);
    fileName_ = DocumentFile(documentFolder);
    if (QFileInfo::exists(fileName_)) {
        rootStorage_ = std::make_unique<platform::TRootStorage>(fileName_, platform::saReadWrite, 0,
                                                                false, false);
        ReadHeader();
        LoadTree(*rootStorage_, *rootFolder_);
    } else {
        rootStorage_ = std::make_unique<platform::TRootStorage>(fileName_, platform::saReadWrite, 0,
                                                                false, true);
        WriteHeader();
        Commit();
    }
    CreateSearchRoot();
    KeepCountersAhead();
    LoadCustomization();
}

void TVelquintDoc::KeepCountersAhead() {
    // A header that is missing or older than the storages would hand out names already in use,
    // and creating an element replaces one of the same name.
    nextFolderNumber_ = After(nextFolderNumber_, highestFolderNumber_);
    nextTopicNumber_ = After(nextTopicNumber_, highestTopicNumber_);
}

TVelquintDoc::~TVelquintDoc() = default;

TVelquintDoc* TVelquintDoc::Instance(int request) {
    return platform::TInstanceStore<TVelquintDoc>::Request(request, [] {
        return std::make_unique<TVelquintDoc>(QString(),
                                              config::TBranding::Instance()->ProductName);
    });
}

void TVelquintDoc::Commit() {
    rootStorage_->Commit();
    uncommitted_ = false;
}

void TVelquintDoc::EndUpdate() {
    if (updateDepth_ > 0 && --updateDepth_ == 0 && uncommitted_)
        Commit();
}

void TVelquintDoc::Changed() {
    uncommitted_ = true;
    if (updateDepth_ == 0)
        Commit();
}

std::unique_ptr<TStoragePath> TVelquintDoc::OpenStoragePath(const QByteArray& path, int access,
                                                            bool createLast) {
    auto opened = std::make_unique<TStoragePath>(*rootStorage_);
    const QList<QByteArray> elements = SplitPath(path);
    try {
        for (qsizetype i = 0; i < elements.size(); ++i)
            opened->Push(elements.at(i), access, createLast && i == elements.size() - 1);
    } catch (const platform::ECompDocError&) {
        return nullptr;
    }
    return opened;
}

std::unique_ptr<TStoragePath> TVelquintDoc::OpenItemPath(const TFolder& item, int access) {
    // Only the root folder lives in the root storage; an item without a storage (a search that
    // was never saved) has nothing to read or write.
    if (item.StoragePath().isEmpty() && &item != rootFolder_.get())
        return nullptr;
    return OpenStoragePath(item.StoragePath(), access, false);
}

std::unique_ptr<TRecordReader> TVelquintDoc::OpenReader(TStorage& storage,
                                                        const QByteArray& streamName) {
    try {
        return std::make_unique<TRecordReader>(std::make_unique<platform::TStorageStream>(
            streamName, false, platform::saRead, storage));
    } catch (const platform::ECompDocError&) {
        return nullptr;
    }
}

std::unique_ptr<TRecordWriter> TVelquintDoc::OpenWriter(TStorage& storage,
                                                        const QByteArray& streamName) {
    try {
        return std::make_unique<TRecordWriter>(std::make_unique<platform::TStorageStream>(
            streamName, true, platform::saWrite, storage));
    } catch (const platform::ECompDocError&) {
        return nullptr;
    }
}

void TVelquintDoc::ReadHeader() {
    const auto reader = OpenReader(*rootStorage_, kHeaderStream);
    if (!reader)
        return;
    TValueReader& values = reader->Values();
    const int32_t storedVersion = GetRawInteger(values);
    nextFolderNumber_ = GetRawInteger(values);
    nextTopicNumber_ = GetRawInteger(values);
    if (storedVersion >= 20)
        nextAttachmentNumber_ = GetRawInteger(values);
}

void TVelquintDoc::WriteHeader() {
    const auto writer = OpenWriter(*rootStorage_, kHeaderStream);
    if (!writer)
        return;
    for (const int32_t value :
         {kVersion, nextFolderNumber_, nextTopicNumber_, nextAttachmentNumber_})
        PutRawInteger(writer->Values(), value);
    writer->Finish();
}

void TVelquintDoc::CreateSearchRoot() {
    searchOptions_ = std::make_unique<TSearchOptions>();
    searchRoot_ = std::make_unique<TSearchFolder>(nullptr);
    searchRoot_->SetName(QStringLiteral("Search Results"));
    try {
        TStorage search(kSearchStorage, rootStorage_.get(), platform::saRead, false, false);
        LoadTree(search, *searchRoot_);
    } catch (const platform::ECompDocError&) {
        // No saved searches yet.
    }
}

void TVelquintDoc::LoadCustomization() {
    homeUrl_ = kDefaultHomeUrl;
    try {
        const auto reader = OpenReader(*rootStorage_, kCustomizeStream);
        if (!reader)
            return;
        GetRawInteger(reader->Values());
        homeUrl_ = reader->Values().GetAnsiText();
    } catch (const platform::Exception&) {
        // A damaged customisation only costs the home page address.
        homeUrl_ = kDefaultHomeUrl;
    }
}

void TVelquintDoc::LoadTree(TStorage& storage, TFolder& folder) {
    const bool isRoot = &folder == rootFolder_.get();
    if (!isRoot) {
        if (const auto reader = OpenReader(storage, kFolderStream))
            ReadFolderRecord(reader->Values(), folder);
    }
    QList<QByteArray> names;
    QList<QByteArray> streams;
    storage.ListElements(names, streams);
    if (isRoot)
        names.removeAll(kSearchStorage);
    for (const QByteArray& stream : streams)
        highestTopicNumber_ = std::max(highestTopicNumber_, ElementNumber(stream, 't'));
    for (const QByteArray& name : names) {
        highestFolderNumber_ = std::max(highestFolderNumber_, ElementNumber(name, 'f'));
        const QByteArray path = isRoot ? name : folder.StoragePath() + '\\' + name;
        std::unique_ptr<TStorage> child;
        try {
            child = std::make_unique<TStorage>(name, &storage, platform::saRead, false, false);
        } catch (const platform::ECompDocError&) {
            continue;
        }
        if (child->StreamExists(kChannelStream)) {
            TChannel* const channel = folder.AddChannel();
            channel->SetStoragePath(path);
            LoadChannel(*child, *channel);
            Register(*channel);
        } else {
            TFolder* const subFolder = folder.AddFolder();
            subFolder->SetStoragePath(path);
            LoadTree(*child, *subFolder);
            Register(*subFolder);
        }
    }
}

void TVelquintDoc::LoadChannel(TStorage& storage, TChannel& channel) {
    LoadTree(storage, channel);
    if (const auto reader = OpenReader(storage, kChannelStream))
        ReadChannelRecord(reader->Values(), channel);
    if (auto* const search = dynamic_cast<TSearchChannel*>(&channel)) {
        if (const auto reader = OpenReader(storage, kSearchInfoStream))
            ReadSearchRecord(reader->Values(), search->Options);
    }
}

void TVelquintDoc::Register(TFolder& item) {
    const QByteArray name = item.StorageName();
    if (!name.isEmpty())
        foldersByStorageName_.Set(name, &item);
    auto* const channel = dynamic_cast<TChannel*>(&item);
    if (channel && !dynamic_cast<TSearchChannel*>(channel) && !channel->Url().isEmpty())
        channelsByUrl_.Set(UrlKey(channel->Url()), channel);
}

void TVelquintDoc::Unregister(TFolder& item) {
    for (TFolder* folder : item.Folders())
        Unregister(*folder);
    for (TChannel* channel : item.Channels())
        Unregister(*channel);
    const QByteArray name = item.StorageName();
    if (!name.isEmpty() && foldersByStorageName_.Find(name) == &item)
        foldersByStorageName_.Delete(name);
    if (auto* const channel = dynamic_cast<TChannel*>(&item);
        channel && !channel->Url().isEmpty()) {
        const QByteArray key = UrlKey(channel->Url());
        if (channelsByUrl_.Find(key) == channel)
            channelsByUrl_.Delete(key);
    }
}

QByteArray TVelquintDoc::FormatElementName(char letter, int32_t number) {
    return QByteArray(1, letter) +
           QByteArray::number(static_cast<uint32_t>(number), 16).toUpper().rightJustified(28, ' ');
}

template <typename Item> Item* TVelquintDoc::AddItem(TFolder* parent, Item* (TFolder::*add)()) {
    TFolder& owner = parent ? *parent : *rootFolder_;
    Item* const item = (owner.*add)();
    const QByteArray name = FormatElementName('f', NextOf(nextFolderNumber_));
    const QByteArray path =
        owner.StoragePath().isEmpty() ? name : owner.StoragePath() + '\\' + name;
    auto opened = OpenStoragePath(path, platform::saReadWrite, true);
    if (!opened) {
        // An object without a storage could be saved nowhere; it leaves the tree again.
        if constexpr (std::is_base_of_v<TChannel, Item>)
            owner.RemoveChannel(item);
        else
            owner.RemoveFolder(item);
        return nullptr;
    }
    item->SetStoragePath(path);
    opened.reset();
    WriteHeader();
    Changed();
    return item;
}

TFolder* TVelquintDoc::AddFolder(TFolder* parent) {
    return AddItem(parent, &TFolder::AddFolder);
}

TChannel* TVelquintDoc::AddChannel(TFolder* parent) {
    return AddItem(parent, &TFolder::AddChannel);
}

void TVelquintDoc::SaveRecords(TFolder& item, bool channelRecord, bool registerItem) {
    auto opened = OpenItemPath(item, platform::saReadWrite);
    if (!opened)
        return;
    if (const auto writer = OpenWriter(opened->Storage(), kFolderStream)) {
        WriteFolderRecord(writer->Values(), item);
        writer->Finish();
    }
    if (channelRecord) {
        if (const auto writer = OpenWriter(opened->Storage(), kChannelStream)) {
            WriteChannelRecord(writer->Values(), static_cast<TChannel&>(item));
            writer->Finish();
        }
    }
    if (registerItem)
        Register(item);
    opened.reset();
    Changed();
}

void TVelquintDoc::SaveFolder(TFolder& folder) {
    SaveRecords(folder, false, true);
}

void TVelquintDoc::SaveChannel(TChannel& channel) {
    SaveRecords(channel, true, true);
}

void TVelquintDoc::SaveFolderAndChannel(TChannel& channel) {
    SaveRecords(channel, true, false);
}

void TVelquintDoc::SaveSearchInfo(TSearchChannel& channel) {
    auto opened = OpenItemPath(channel, platform::saReadWrite);
    if (!opened)
        return;
    if (const auto writer = OpenWriter(opened->Storage(), kSearchInfoStream)) {
        WriteSearchRecord(writer->Values(), channel.Options);
        writer->Finish();
    }
    opened.reset();
    Changed();
}

void TVelquintDoc::DeleteFolder(TFolder& item) {
    TFolder* const parent = item.Parent();
    if (!parent)
        return;
    if (item.Subscribed) {
        item.Hidden = true;
        SaveFolder(item);
        return;
    }
    const QByteArray name = item.StorageName();
    bool deleted = false;
    if (auto opened = OpenStoragePath(parent->StoragePath(), platform::saReadWrite, false)) {
        if (!name.isEmpty() && opened->Storage().StorageExists(name)) {
            opened->Storage().DeleteElement(name);
            deleted = true;
        }
    }
    Unregister(item);
    if (auto* const channel = dynamic_cast<TChannel*>(&item))
        parent->RemoveChannel(channel);
    else
        parent->RemoveFolder(&item);
    if (deleted)
        Changed();
}

void TVelquintDoc::MoveFolder(TFolder& item, TFolder* newParent) {
    TFolder& target = newParent ? *newParent : *rootFolder_;
    if (!item.Parent() || item.Parent() == &target)
        return;
    const QByteArray itemPath = item.StoragePath() + '\\';
    const QByteArray targetPath =
        target.StoragePath().isEmpty() ? QByteArray() : target.StoragePath() + '\\';
    qsizetype common = 0;
    while (common < itemPath.size() && common < targetPath.size() &&
           itemPath.at(common) == targetPath.at(common))
        ++common;
    common = itemPath.left(common).lastIndexOf('\\') + 1;
    const QByteArray commonPath = itemPath.left(common);

    // Storages along the common part are opened once: an element cannot be open twice.
    TStoragePath ancestor(*rootStorage_);
    for (const QByteArray& element : SplitPath(commonPath.chopped(common > 0 ? 1 : 0)))
        ancestor.Push(element, platform::saReadWrite, false);
    TStoragePath source(ancestor.Storage());
    QList<QByteArray> rest = SplitPath(item.StoragePath().mid(common));
    if (!rest.isEmpty())
        rest.removeLast();
    for (const QByteArray& element : rest)
        source.Push(element, platform::saReadWrite, false);
    TStoragePath destination(ancestor.Storage());
    for (const QByteArray& element :
         SplitPath(targetPath.mid(common).chopped(targetPath.size() > common ? 1 : 0)))
        destination.Push(element, platform::saReadWrite, false);

    const QByteArray name = item.StorageName();
    source.Storage().MoveElement(name, name, destination.Storage());
    item.MoveTo(&target);
    destination.Close();
    source.Close();
    ancestor.Close();
    Changed();
}

bool TVelquintDoc::ReadImage(const QByteArray& streamName, bool loadPicture, TImageRecord& image) {
    std::unique_ptr<platform::TStorageStream> stream;
    try {
        stream = std::make_unique<platform::TStorageStream>(streamName, false, platform::saRead,
                                                            *rootStorage_);
    } catch (const platform::ECompDocError&) {
        return false;
    }
    {
        TValueReader reader(*stream);
        GetRawInteger(reader);
        image.PictureType = GetRawInteger(reader);
        if (image.PictureType < TImageRecord::Gif || image.PictureType > TImageRecord::NoPicture)
            return false;
        image.Link = reader.GetAnsiText();
    }
    // The reader gave back what it buffered: the stream stands just after the link.
    image.Picture.clear();
    if (loadPicture && image.PictureType != TImageRecord::NoPicture) {
        std::array<char, 16384> buffer;
        for (int32_t got; (got = stream->Read(buffer.data(), buffer.size())) > 0;)
            image.Picture.append(buffer.data(), got);
    }
    return true;
}

void TVelquintDoc::ReadFolderRecord(TValueReader& reader, TFolder& folder) {
    const int32_t version = GetRawInteger(reader);
    folder.SetName(GetText(reader, version >= 40));
    folder.SetProtected(reader.GetBoolean());
    if (version >= 20)
        folder.SetUnreadCount(GetRawInteger(reader));
    if (version >= 30)
        folder.SetTopicCount(reader.GetInteger());
    if (version >= 50) {
        folder.Subscribed = reader.GetBoolean();
        folder.Hidden = reader.GetBoolean();
    }
}

void TVelquintDoc::WriteFolderRecord(TValueWriter& writer, const TFolder& folder) {
    PutRawInteger(writer, kFolderRecordVersion);
    writer.PutWideText(folder.Name());
    writer.PutBoolean(folder.Protected());
    PutRawInteger(writer, folder.UnreadCount());
    writer.PutInteger(folder.TopicCount());
    writer.PutBoolean(folder.Subscribed);
    writer.PutBoolean(folder.Hidden);
}

void TVelquintDoc::ReadChannelRecord(TValueReader& reader, TChannel& channel) {
    const int32_t version = GetRawInteger(reader);
    const bool wide = version >= 20;
    channel.SetUrl(GetText(reader, wide));
    channel.SetDescription(GetText(reader, wide));
    channel.Link = GetText(reader, wide);
    channel.SetCopyright(GetText(reader, wide));
    channel.LastUpdated = reader.GetDateTime();
    channel.Image.Title = platform::AnsiToWide(reader.GetAnsiText());
    channel.Image.Link = platform::AnsiToWide(reader.GetAnsiText());
    channel.Image.Url = platform::AnsiToWide(reader.GetAnsiText());
    if (version >= 30) {
        const int32_t status = reader.GetInteger();
        channel.Status = status >= 1 && status <= 3 ? static_cast<uint8_t>(status) : 1;
    }
    if (version >= 40)
        channel.RequiresAuthentication = reader.GetBoolean();
    if (version >= 50)
        channel.SetAuthor(reader.GetWideText());
}

void TVelquintDoc::WriteChannelRecord(TValueWriter& writer, const TChannel& channel) {
    PutRawInteger(writer, kChannelRecordVersion);
    writer.PutWideText(channel.Url());
    writer.PutWideText(channel.Description());
    writer.PutWideText(channel.Link);
    writer.PutWideText(channel.Copyright());
    writer.PutDateTime(channel.LastUpdated);
    writer.PutAnsiText(platform::WideToUtf8(channel.Image.Title));
    writer.PutAnsiText(platform::WideToUtf8(channel.Image.Link));
    writer.PutAnsiText(platform::WideToUtf8(channel.Image.Url));
    writer.PutInteger(channel.Status);
    writer.PutBoolean(channel.RequiresAuthentication);
    writer.PutWideText(channel.Author());
}

void TVelquintDoc::ReadSearchRecord(TValueReader& reader, TSearchOptions& options) {
    options.SaveAsPersistent = true;
    options.SearchFolders.clear();
    const int32_t version = GetRawInteger(reader);
    options.FindWhat = GetText(reader, version >= 20);
    options.MatchCase = reader.GetBoolean();
    options.MatchWholeWords = reader.GetBoolean();
    reader.GetListStart();
    while (!reader.AtListEnd())
        options.SearchFolders.append(reader.GetAnsiText());
    reader.GetListEnd();
}

void TVelquintDoc::WriteSearchRecord(TValueWriter& writer, const TSearchOptions& options) {
    PutRawInteger(writer, kSearchRecordVersion);
    writer.PutWideText(options.FindWhat);
    writer.PutBoolean(options.MatchCase);
    writer.PutBoolean(options.MatchWholeWords);
    writer.PutListStart();
    for (const QByteArray& name : options.SearchFolders)
        writer.PutAnsiText(name);
    writer.PutListEnd();
}

} // namespace store
