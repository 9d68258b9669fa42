#include "platform/tstorage.h"

#include <QString>

namespace platform {
namespace {

std::u16string Wide(const QByteArray& name) {
    return QString::fromUtf8(name).toStdU16String();
}

QByteArray Narrow(const std::u16string& name) {
    return QString::fromStdU16String(name).toUtf8();
}

template <typename E> void CheckResult(cfb::HResult result, const char* message) {
    if (result != cfb::S_OK)
        throw E(QString::fromLatin1(message) + QStringLiteral(": ") +
                    QString::fromStdString(cfb::ResultMessage(result)),
                result);
}

} // namespace

uint32_t StorageMode(int access, int share, bool transacted, bool create) {
    uint32_t mode = static_cast<uint32_t>(access) | (static_cast<uint32_t>(share + 1) << 4);
    if (transacted)
        mode |= cfb::STGM_TRANSACTED;
    if (create)
        mode |= cfb::STGM_CREATE;
    return mode;
}

template <typename E> void TStorage::Check(cfb::HResult result, const char* message) {
    lastResult_ = result;
    CheckResult<E>(result, message);
}

// ---------------------------------------------------------------------------------------------
// TStorage

TStorage::TStorage(const QByteArray& name, TStorage* parent, int access, bool transacted,
                   bool create)
    : name_(name), parent_(parent) {
    if (!parent)
        Check<ECDStorageError>(cfb::E_FAIL, "no parent storage speciified");
    // Elements of a storage are always opened exclusively.
    const uint32_t mode = StorageMode(access, 0, transacted, create);
    if (create) {
        Check<ECDStorageError>(parent->Interface().CreateStorage(Wide(name), mode, storage_),
                               "storage create failed");
    } else {
        if (name.isEmpty())
            Check<ECDStorageError>(cfb::E_FAIL, "no storage name given");
        Check<ECDStorageError>(parent->Interface().OpenStorage(Wide(name), mode, storage_),
                               "storage open failed");
    }
}

TStorage::~TStorage() = default;

void TStorage::Commit() {
    cfb::HResult result = storage_->Commit(cfb::STGC_DEFAULT);
    if (result == cfb::STG_E_MEDIUMFULL)
        result = storage_->Commit(cfb::STGC_OVERWRITE);
    Check<ECDStorageError>(result, "storage failed to commit");
}

void TStorage::DeleteElement(const QByteArray& name) {
    Check<ECDStorageError>(storage_->DestroyElement(Wide(name)), "failed to delete element");
}

void TStorage::MoveElement(const QByteArray& name, const QByteArray& newName,
                           TStorage& destination) {
    Check<ECDStorageError>(storage_->MoveElementTo(Wide(name), destination.Interface(),
                                                   Wide(newName), cfb::STGMOVE_MOVE),
                           "storage failed to copy/move");
}

void TStorage::List(QList<QByteArray>& list, uint32_t type) {
    std::vector<cfb::StatStg> elements;
    lastResult_ = storage_->EnumElements(elements);
    if (cfb::Failed(lastResult_))
        throw ECompDocError(QStringLiteral("failed enumeration"), lastResult_);
    for (const cfb::StatStg& element : elements)
        if (element.type == type)
            list.append(Narrow(element.name));
}

void TStorage::ListElements(QList<QByteArray>& storages, QList<QByteArray>& streams) {
    std::vector<cfb::StatStg> elements;
    lastResult_ = storage_->EnumElements(elements);
    if (cfb::Failed(lastResult_))
        throw ECompDocError(QStringLiteral("failed enumeration"), lastResult_);
    for (const cfb::StatStg& element : elements) {
        if (element.type == cfb::STGTY_STORAGE)
            storages.append(Narrow(element.name));
        else if (element.type == cfb::STGTY_STREAM)
            streams.append(Narrow(element.name));
    }
}

void TStorage::ListStorages(QList<QByteArray>& list) {
    List(list, cfb::STGTY_STORAGE);
}

void TStorage::ListStreams(QList<QByteArray>& list) {
    List(list, cfb::STGTY_STREAM);
}

bool TStorage::StreamExists(const QByteArray& name) {
    std::unique_ptr<cfb::Stream> stream;
    lastResult_ =
        storage_->OpenStream(Wide(name), cfb::STGM_READ | cfb::STGM_SHARE_EXCLUSIVE, stream);
    return !cfb::Failed(lastResult_);
}

bool TStorage::StorageExists(const QByteArray& name) {
    std::unique_ptr<cfb::Storage> storage;
    lastResult_ =
        storage_->OpenStorage(Wide(name), cfb::STGM_READ | cfb::STGM_SHARE_EXCLUSIVE, storage);
    return !cfb::Failed(lastResult_);
}

// ---------------------------------------------------------------------------------------------
// TRootStorage

TRootStorage::TRootStorage(const QString& fileName, int access, int share, bool transacted,
                           bool create, const cfb::EngineOptions& options) {
    name_ = fileName.toUtf8();
    const uint32_t mode = StorageMode(access, share, transacted, create);
    const std::string path = QString(fileName).toStdString();
    if (create) {
        // Without a name the engine makes a temporary file that goes away on release.
        const cfb::HResult result =
            fileName.isEmpty() ? cfb::StgCreateDocfile(nullptr, mode | cfb::STGM_DELETEONRELEASE,
                                                       storage_, options)
                               : cfb::StgCreateDocfile(&path, mode, storage_, options);
        Check<ECDStorageError>(result, "root storage create failed");
        return;
    }
    if (fileName.isEmpty())
        Check<ECDStorageError>(cfb::E_FAIL, "no storage name given");
    Check<ECDStorageError>(cfb::StgIsStorageFile(path, options), "not a storage file");
    Check<ECDStorageError>(cfb::StgOpenStorage(path, mode, storage_, options),
                           "root storage open failed");
}

// ---------------------------------------------------------------------------------------------
// TStorageStream

TStorageStream::TStorageStream(const QByteArray& name, bool create, int access, TStorage& storage)
    : name_(name), storage_(storage) {
    const uint32_t mode = StorageMode(access, 0, false, create);
    auto check = [this](cfb::HResult result, const char* message) {
        lastResult_ = result;
        CheckResult<ECDStreamError>(result, message);
    };
    if (create) {
        check(storage.Interface().CreateStream(Wide(name), mode, stream_), "stream create failed");
    } else {
        if (name.isEmpty())
            check(cfb::E_FAIL, "no stream name given");
        check(storage.Interface().OpenStream(Wide(name), mode, stream_), "stream open failed");
    }
}

TStorageStream::~TStorageStream() = default;

int32_t TStorageStream::Read(void* buffer, int32_t count) {
    if (count <= 0)
        return 0;
    uint32_t done = 0;
    lastResult_ = stream_->Read(buffer, static_cast<uint32_t>(count), &done);
    return cfb::Failed(lastResult_) ? 0 : static_cast<int32_t>(done);
}

int32_t TStorageStream::Write(const void* buffer, int32_t count) {
    if (count <= 0)
        return 0;
    uint32_t done = 0;
    lastResult_ = stream_->Write(buffer, static_cast<uint32_t>(count), &done);
    return cfb::Failed(lastResult_) ? 0 : static_cast<int32_t>(done);
}

int64_t TStorageStream::Seek(int64_t offset, TSeekOrigin origin) {
    uint64_t position = 0;
    lastResult_ = stream_->Seek(offset, static_cast<uint32_t>(origin), &position);
    return cfb::Failed(lastResult_) ? -1 : static_cast<int64_t>(position);
}

void TStorageStream::SetSize(int64_t size) {
    lastResult_ =
        size < 0 ? cfb::STG_E_INVALIDFUNCTION : stream_->SetSize(static_cast<uint64_t>(size));
}

} // namespace platform
