#include "store/tfolder.h"
#include "store/ttopic.h"

#include <gtest/gtest.h>

namespace {

using namespace store;

std::unique_ptr<TTopic> Topic(const QString& title, const QString& description,
                              const QString& link = {}) {
    auto topic = std::make_unique<TTopic>();
    topic->SetTitle(title);
    topic->SetDescription(description);
    topic->Link = link;
    return topic;
}

TEST(StoreTopic, IdIsTheGuidOrTheDigestOfTitleDescriptionAndLink) {
    auto topic = Topic("a", "b", "c");
    EXPECT_EQ(topic->Id(), "900150983CD24FB0D6963F7D28E17F72") << "MD5 of \"abc\"";
    topic->Guid = "abc";
    EXPECT_EQ(topic->Id(), "abc");
    auto decoded = Topic("&#97;", "b", "c");
    EXPECT_EQ(decoded->Id(), "900150983CD24FB0D6963F7D28E17F72") << "the title as read";
}

TEST(StoreTopic, ContentHashIgnoresSpacingAndTagBracketsOnly) {
    const auto spaced = Topic("T", "<p>Hello   world</p>\r\n");
    const auto tight = Topic("T", "<p>Helloworld</p>");
    EXPECT_NE(spaced->Id(), tight->Id());
    EXPECT_EQ(spaced->ContentHash(), tight->ContentHash());

    const auto bold = Topic("", "<b>Hi</b> there");
    EXPECT_EQ(bold->ContentHash(), Md5Hex("bhi/bthere"));
    const auto gt = Topic("", "a > b");
    EXPECT_EQ(gt->ContentHash(), Md5Hex("a>b")) << "a \">\" outside a tag stays";

    EXPECT_NE(Topic("", "Привет")->ContentHash(), Topic("", "Пока")->ContentHash())
        << "every byte of a non-Latin character counts";
    EXPECT_EQ(Topic("", "ÉTÉ")->ContentHash(), Md5Hex("été"));
    EXPECT_NE(Topic("A", "x")->ContentHash(), Topic("B", "x")->ContentHash());
}

TEST(StoreTopic, CopyKeepsTheSourceHashUntilTheDescriptionChanges) {
    TFolder source(nullptr);
    TFolder destination(nullptr);
    auto original = Topic("T &amp;amp; U", "text");
    original->Folder = &source;
    original->Guid = "g";
    original->AddAttachmentKey("k");
    const QByteArray hash = original->ContentHash();

    TTopic copy(&destination, *original);
    EXPECT_EQ(copy.Folder, &destination);
    EXPECT_EQ(copy.StoredTitle(), "T &amp; U") << "copied as read";
    EXPECT_EQ(copy.Guid, "g");
    EXPECT_EQ(copy.AttachmentKeys, QList<QByteArray>({"k"}));
    EXPECT_EQ(copy.ContentHash(), hash);
    copy.SetTitle("other");
    EXPECT_EQ(copy.ContentHash(), hash) << "the cache wins";
    copy.SetDescription("text");
    EXPECT_NE(copy.ContentHash(), hash) << "a new description empties the cache";
}

TEST(TopicIndex, CopyRemembersItsOriginAndCopiesTheTopicExceptIntoSearches) {
    TFolder root(nullptr);
    TChannel* const source = root.AddChannel();
    source->SetStoragePath("fs");
    TChannel* const destination = root.AddChannel();
    destination->SetStoragePath("fd");
    TSearchFolder searches(nullptr);
    TChannel* const search = searches.AddChannel();

    TTopicIndex* const entry = source->AddTopic("key", Topic("Title", "Body"));
    entry->Read = true;
    entry->Flag = 5;
    entry->RecordName = "t1";

    TTopicIndex copy(destination, *entry, entry->Topic());
    EXPECT_EQ(copy.Origin, "fs");
    EXPECT_EQ(copy.Key, "key");
    EXPECT_EQ(copy.RecordName, "t1");
    EXPECT_TRUE(copy.Read);
    EXPECT_EQ(copy.Flag, 5);
    EXPECT_TRUE(copy.ContentHash.isEmpty());
    EXPECT_EQ(copy.Folder, destination);
    ASSERT_NE(copy.Topic(), nullptr);
    EXPECT_NE(copy.Topic(), entry->Topic());
    EXPECT_EQ(copy.Topic()->Index, &copy);
    EXPECT_EQ(copy.Topic()->Folder, destination);
    EXPECT_EQ(copy.Topic()->Description(), "Body");

    TTopicIndex found(search, *entry, entry->Topic());
    EXPECT_EQ(found.Topic(), nullptr) << "a search entry points to the topic where it lives";
    TTopicIndex unresolved(destination, *entry, nullptr);
    EXPECT_EQ(unresolved.Topic(), nullptr);
}

} // namespace
