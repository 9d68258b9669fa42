#include "platform/tstorage.h"

#include "support/tempdir.h"

#include <QFile>
#include <gtest/gtest.h>

using namespace platform;
namespace cfb = platform::cfb;

namespace {

QString Text(cfb::HResult result) {
    return QString::fromStdString(cfb::ResultMessage(result));
}

template <typename E, typename F> QString MessageOf(F&& f) {
    try {
        f();
    } catch (const E& e) {
        return e.Message();
    }
    return QStringLiteral("<nothing raised>");
}

QByteArray ReadAll(TStorageStream& stream) {
    QByteArray out;
    char buffer[700];
    while (const int32_t n = stream.Read(buffer, sizeof buffer))
        out.append(buffer, n);
    return out;
}

class StorageLayer : public ::testing::Test {
protected:
    testsupport::TempDir dir;
    QString path = dir.File("doc.bin");
};

} // namespace

TEST_F(StorageLayer, FailuresCarryTheirMessageAndTheResultText) {
    QFile plain(dir.File("plain.txt"));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.write("this is no compound file, just a few bytes of text");
    plain.close();
    TRootStorage root(path, saReadWrite, 0, false, true);

    struct Row {
        const char* what;
        std::function<void()> action;
        QString expected;
    };
    const Row rows[] = {
        {"not a compound file", [&] { TRootStorage(plain.fileName(), saRead, 0, false, false); },
         "not a storage file: " + Text(cfb::S_FALSE)},
        {"missing file", [&] { TRootStorage(dir.File("missing.bin"), saRead, 0, false, false); },
         "not a storage file: " + Text(cfb::STG_E_FILENOTFOUND)},
        {"root without a name", [] { TRootStorage(QString(), saRead, 0, false, false); },
         "no storage name given: " + Text(cfb::E_FAIL)},
        {"storage without a parent", [] { TStorage("a", nullptr, saRead, false, false); },
         "no parent storage speciified: " + Text(cfb::E_FAIL)},
        {"storage without a name", [&] { TStorage("", &root, saRead, false, false); },
         "no storage name given: " + Text(cfb::E_FAIL)},
        {"missing storage", [&] { TStorage("nothing", &root, saRead, false, false); },
         "storage open failed: " + Text(cfb::STG_E_FILENOTFOUND)},
        {"invalid storage name", [&] { TStorage("a/b", &root, saReadWrite, false, true); },
         "storage create failed: " + Text(cfb::STG_E_INVALIDNAME)},
        {"deleting a missing element", [&] { root.DeleteElement("nothing"); },
         "failed to delete element: " + Text(cfb::STG_E_FILENOTFOUND)},
        {"moving a missing element", [&] { root.MoveElement("nothing", "x", root); },
         "storage failed to copy/move: " + Text(cfb::STG_E_FILENOTFOUND)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(MessageOf<ECDStorageError>(row.action), row.expected);
    }

    const struct {
        const char* what;
        std::function<void()> action;
        QString expected;
    } streamRows[] = {
        {"stream without a name", [&] { TStorageStream("", false, saRead, root); },
         "no stream name given: " + Text(cfb::E_FAIL)},
        {"missing stream", [&] { TStorageStream("nothing", false, saRead, root); },
         "stream open failed: " + Text(cfb::STG_E_FILENOTFOUND)},
        {"invalid stream name", [&] { TStorageStream("a:b", true, saReadWrite, root); },
         "stream create failed: " + Text(cfb::STG_E_INVALIDNAME)},
    };
    for (const auto& row : streamRows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(MessageOf<ECDStreamError>(row.action), row.expected);
    }
}

TEST_F(StorageLayer, CreatingAnExistingStreamReplacesItWithAnEmptyOne) {
    {
        TRootStorage root(path, saReadWrite, 0, false, true);
        TStorage folder("f1", &root, saReadWrite, false, true);
        {
            TStorageStream stream(".index", true, saReadWrite, folder);
            const QByteArray longer(5000, 'x');
            ASSERT_EQ(stream.Write(longer.constData(), longer.size()), longer.size());
        }
        TStorageStream again(".index", true, saReadWrite, folder);
        ASSERT_EQ(again.Write("short", 5), 5);
    }
    TRootStorage root(path, saRead, 1, false, false);
    TStorage folder("f1", &root, saRead, false, false);
    TStorageStream stream(".index", false, saRead, folder);
    EXPECT_EQ(ReadAll(stream), QByteArray("short"));
    EXPECT_EQ(stream.Read(nullptr, 10), 0) << "a read at the end gives nothing";
    EXPECT_EQ(stream.LastResult(), cfb::S_OK);
}

TEST_F(StorageLayer, ExistenceAndListingTellStoragesFromStreams) {
    TRootStorage root(path, saReadWrite, 0, false, true);
    {
        TStorage a("f2", &root, saReadWrite, false, true);
        TStorage b("f1", &root, saReadWrite, false, true);
        TStorageStream s(".header", true, saReadWrite, root);
        TStorageStream t("t1", true, saReadWrite, b);
    }
    EXPECT_TRUE(root.StorageExists("f1"));
    EXPECT_FALSE(root.StorageExists(".header")) << "a stream asked as a storage";
    EXPECT_TRUE(root.StreamExists(".header"));
    EXPECT_FALSE(root.StreamExists("f1")) << "a storage asked as a stream";
    EXPECT_FALSE(root.StreamExists("missing"));
    EXPECT_FALSE(root.StorageExists("missing"));

    QList<QByteArray> storages{"already there"};
    root.ListStorages(storages);
    EXPECT_EQ(storages, (QList<QByteArray>{"already there", "f1", "f2"}));
    QList<QByteArray> streams;
    root.ListStreams(streams);
    EXPECT_EQ(streams, QList<QByteArray>{".header"});

    TStorage f1("f1", &root, saRead, false, false);
    QList<QByteArray> none;
    f1.ListStorages(none);
    EXPECT_TRUE(none.isEmpty()) << "a storage holding only streams lists no storages";
}

TEST_F(StorageLayer, StreamCallsNeverRaise) {
    TRootStorage root(path, saReadWrite, 0, false, true);
    {
        TStorageStream s("data", true, saReadWrite, root);
        ASSERT_EQ(s.Write("0123456789", 10), 10);
    }
    TStorageStream reader("data", false, saRead, root);
    EXPECT_EQ(reader.Write("x", 1), 0);
    EXPECT_EQ(reader.LastResult(), cfb::STG_E_ACCESSDENIED);
    EXPECT_EQ(reader.Seek(-1, TSeekOrigin::Beginning), -1);
    EXPECT_EQ(reader.Seek(-3, TSeekOrigin::End), 7);
    char tail[8] = {};
    EXPECT_EQ(reader.Read(tail, sizeof tail), 3);
    EXPECT_STREQ(tail, "789");
    reader.SetSize(0);
    EXPECT_EQ(reader.LastResult(), cfb::STG_E_ACCESSDENIED);
    EXPECT_EQ(reader.Size(), 10);
}

TEST_F(StorageLayer, MovedElementsKeepTheirContentAcrossReopening) {
    {
        TRootStorage root(path, saReadWrite, 0, false, true);
        {
            TStorage from("f1", &root, saReadWrite, false, true);
            TStorage to("f2", &root, saReadWrite, false, true);
            {
                TStorageStream s("t1", true, saReadWrite, from);
                s.Write("topic", 5);
            }
            from.MoveElement("t1", "t9", to);
            EXPECT_EQ(MessageOf<ECDStorageError>([&] { root.DeleteElement("f1"); }),
                      "failed to delete element: " + Text(cfb::STG_E_ACCESSDENIED))
                << "an open storage cannot be deleted";
        }
        root.DeleteElement("f1");
        root.Commit();
    }
    TRootStorage root(path, saRead, 1, false, false);
    EXPECT_FALSE(root.StorageExists("f1"));
    TStorage to("f2", &root, saRead, false, false);
    TStorageStream moved("t9", false, saRead, to);
    EXPECT_EQ(ReadAll(moved), QByteArray("topic"));
}

TEST_F(StorageLayer, AnUnnamedRootIsATemporaryFile) {
    TRootStorage temporary(QString(), saReadWrite, 0, false, true);
    TStorageStream s("x", true, saReadWrite, temporary);
    EXPECT_EQ(s.Write("abc", 3), 3);
    temporary.Commit();
}

TEST_F(StorageLayer, TheSecondWriterOfAFileIsRefused) {
    TRootStorage first(path, saReadWrite, 0, false, true);
    EXPECT_EQ(MessageOf<ECDStorageError>([&] { TRootStorage(path, saReadWrite, 0, false, false); }),
              "root storage open failed: " + Text(cfb::STG_E_SHAREVIOLATION));
}
