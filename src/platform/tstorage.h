#pragma once

#include "platform/cfb/cfbstorage.h"
#include "platform/exception.h"
#include "platform/tstream.h"

#include <QByteArray>
#include <QList>
#include <memory>

namespace platform {

class ECompDocError : public Exception {
public:
    explicit ECompDocError(const QString& message, cfb::HResult result = cfb::E_FAIL)
        : Exception(message), result_(result) {}
    cfb::HResult Result() const { return result_; }

private:
    cfb::HResult result_;
};

class ECDStorageError : public ECompDocError {
public:
    using ECompDocError::ECompDocError;
};

class ECDStreamError : public ECompDocError {
public:
    using ECompDocError::ECompDocError;
};

// Access words of the storage layer, turned into the engine's mode words.
enum TStorageAccess { saRead = 0, saWrite = 1, saReadWrite = 2 };

// The mode word for access 0..2, share index 0..3 (exclusive, deny write, deny read, deny none).
uint32_t StorageMode(int access, int share, bool transacted, bool create);

// An open storage of a compound file. The object lives exactly as long as the element is open.
// Constructors raise ECDStorageError; a child keeps a pointer to its parent object (not owned),
// so chains of storages are freed from the innermost upwards.
class TStorage {
public:
    // Opens (create false) or creates the element name inside parent.
    TStorage(const QByteArray& name, TStorage* parent, int access, bool transacted, bool create);
    virtual ~TStorage();
    TStorage(const TStorage&) = delete;
    TStorage& operator=(const TStorage&) = delete;

    const QByteArray& Name() const { return name_; }
    TStorage* Parent() const { return parent_; }
    cfb::HResult LastResult() const { return lastResult_; }
    cfb::Storage& Interface() const { return *storage_; }

    void Commit();
    void DeleteElement(const QByteArray& name);
    void MoveElement(const QByteArray& name, const QByteArray& newName, TStorage& destination);
    // Appends the names of the sub-storages (streams) in the order the enumeration gives them.
    void ListStorages(QList<QByteArray>& list);
    void ListStreams(QList<QByteArray>& list);
    // Both lists from one enumeration.
    void ListElements(QList<QByteArray>& storages, QList<QByteArray>& streams);
    bool StreamExists(const QByteArray& name);
    bool StorageExists(const QByteArray& name);

protected:
    TStorage() = default;
    // Raises E with message, ": " and the result's text when result is not S_OK.
    template <typename E> void Check(cfb::HResult result, const char* message);

    QByteArray name_;
    TStorage* parent_ = nullptr;
    std::unique_ptr<cfb::Storage> storage_;
    cfb::HResult lastResult_ = cfb::S_OK;

private:
    void List(QList<QByteArray>& list, uint32_t type);
};

// The root storage of a compound file on disk. An empty file name creates a temporary file that
// is deleted when the object goes away; options choose the file system (tests inject faults).
class TRootStorage : public TStorage {
public:
    TRootStorage(const QString& fileName, int access, int share, bool transacted, bool create,
                 const cfb::EngineOptions& options = {});
};

// A stream element as a byte stream. Read, Write, Seek and SetSize never raise; the counts they
// return and LastResult tell the caller what happened.
class TStorageStream : public TStream {
public:
    TStorageStream(const QByteArray& name, bool create, int access, TStorage& storage);
    ~TStorageStream() override;

    const QByteArray& Name() const { return name_; }
    TStorage& Storage() const { return storage_; }
    cfb::HResult LastResult() const { return lastResult_; }

    int32_t Read(void* buffer, int32_t count) override;
    int32_t Write(const void* buffer, int32_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    void SetSize(int64_t size) override;

private:
    QByteArray name_;
    TStorage& storage_;
    std::unique_ptr<cfb::Stream> stream_;
    cfb::HResult lastResult_ = cfb::S_OK;
};

} // namespace platform
