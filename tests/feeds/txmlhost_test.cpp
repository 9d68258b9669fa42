#include "feeds/txmlhost.h"

#include "feeds/xmlnode.h"
#include "support/tempdir.h"

#include <QElapsedTimer>
#include <QFile>

#include <gtest/gtest.h>

#include <string>

using namespace Qt::StringLiterals;
using feeds::EInvalidXmlDocument;
using feeds::EXmlHostError;
using feeds::TXmlDocument;
using feeds::TXmlHost;

namespace {

const TXmlHost& Host() {
    return TXmlHost::Instance();
}

QByteArray Fixture(const char* name) {
    QFile file(QStringLiteral(VELQUINT_TEST_DATA "/feeds/") + QLatin1StringView(name));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name;
    return file.readAll();
}

const xmlNode* Root(const TXmlDocument& document) {
    return xmlDocGetRootElement(document.get());
}

TEST(TXmlHost, IsASingletonReachedThroughItsInstanceStore) {
    TXmlHost* host = &TXmlHost::Instance();
    EXPECT_EQ(TXmlHost::AccessInstance(0), host);
    EXPECT_EQ(TXmlHost::AccessInstance(1), host);
    try {
        TXmlHost direct;
        FAIL() << "constructed directly";
    } catch (const EXmlHostError& error) {
        EXPECT_EQ(error.Message(), u"There can be only one... Please use Instance()"_s);
    }
    for (const int request : {-1, 3, 42}) {
        SCOPED_TRACE(request);
        try {
            TXmlHost::AccessInstance(request);
            FAIL() << "accepted";
        } catch (const EXmlHostError& error) {
            EXPECT_EQ(error.Message(), u"Invalid request"_s);
        }
    }
    EXPECT_EQ(TXmlHost::AccessInstance(2), nullptr);
    EXPECT_EQ(TXmlHost::AccessInstance(0), nullptr);
    EXPECT_NE(TXmlHost::AccessInstance(1), nullptr);
}

TEST(TXmlHost, AttributesAreTrimmedAndIntegersStrict) {
    const TXmlDocument document = Host().Parse(
        R"(<e a=" 12 " b="12px" c="  spaced out  " d="" e="-7" f="+3" g="3000000000" h=" "
              i="1 2" j="0x1F" xmlns="urn:default" xmlns:p="urn:p" p:k=" prefixed "/>)");
    const xmlNode* e = Root(document);
    const struct {
        const char* name;
        int expected;
    } integers[] = {{"a", 12}, {"b", -1}, {"missing", -1}, {"d", -1}, {"e", -7}, {"f", 3},
                    {"g", -1}, {"h", -1}, {"i", -1},       {"j", -1}, {"A", -1}};
    for (const auto& row : integers) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(Host().GetIntegerAttribute(e, row.name), row.expected);
    }
    const struct {
        const char* name;
        QString fallback;
        QString expected;
    } texts[] = {
        {"c", u"x"_s, u"spaced out"_s},
        {"d", u"x"_s, u""_s},
        {"h", u"x"_s, u""_s},
        {"missing", u"fallback"_s, u"fallback"_s},
        {"missing", QString(), QString()},
        {"p:k", QString(), u"prefixed"_s},
        {"k", u"none"_s, u"none"_s},
        {"xmlns", QString(), u"urn:default"_s},
        {"xmlns:p", QString(), u"urn:p"_s},
        {"xmlns:q", u"none"_s, u"none"_s},
    };
    for (const auto& row : texts) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(Host().GetAttribute(e, row.name, row.fallback), row.expected);
    }
    EXPECT_EQ(Host().GetAttribute(nullptr, "a", u"x"_s), u"x"_s);
    EXPECT_EQ(Host().GetIntegerAttribute(nullptr, "a"), -1);
}

TEST(TXmlHost, CreatesUnattachedNodes) {
    const TXmlDocument document = Host().CreateDocument();
    feeds::TXmlNode empty = Host().CreateTextElement(document.get(), "title", QString());
    ASSERT_NE(empty->children, nullptr);
    EXPECT_EQ(empty->children->type, XML_TEXT_NODE);
    EXPECT_EQ(empty->children->next, nullptr);
    EXPECT_EQ(empty->parent, nullptr);

    feeds::TXmlNode element = Host().CreateElement(document.get(), "outline");
    const feeds::TXmlAttribute text = Host().CreateAttribute(document.get(), "text", u"A & <B>"_s);
    EXPECT_EQ(text->parent, nullptr);
    feeds::SetAttributeNode(element.get(),
                            Host().CreateAttribute(document.get(), "text", u"A & <B>"_s));
    feeds::SetAttributeNode(element.get(), Host().CreateIntegerAttribute(document.get(), "n", -12));
    feeds::SetAttributeNode(element.get(), Host().CreateIntegerAttribute(document.get(), "n", 34));
    EXPECT_EQ(Host().GetAttribute(element.get(), "text"), u"A & <B>"_s);
    EXPECT_EQ(Host().GetIntegerAttribute(element.get(), "n"), 34);
    feeds::AppendChild(element.get(), std::move(empty));
    EXPECT_EQ(feeds::Text(element.get()), QString());
    feeds::AppendChild(document.get(), std::move(element));
    EXPECT_EQ(feeds::NodeName(Root(document)), "outline");
}

TEST(TXmlHost, RefusesTextThatIsNotWellFormed) {
    const QByteArray cases[] = {
        Fixture("invalid/html-page.html"),
        Fixture("invalid/truncated.xml"),
        Fixture("invalid/mismatched-tags.xml"),
        Fixture("invalid/undeclared-entity.xml"),
        Fixture("invalid/latin1-declared-utf8.xml"),
        Fixture("invalid/two-roots.xml"),
        Fixture("invalid/unknown-encoding.xml"),
        QByteArray(),
        QByteArray("\xEF\xBB\xBF"),
        QByteArray("   "),
        QByteArray("<a>\0</a>", 8),
        QByteArray("plain text"),
    };
    for (const QByteArray& bytes : cases) {
        SCOPED_TRACE(bytes.left(60).toStdString());
        EXPECT_THROW(Host().Parse(bytes), EInvalidXmlDocument);
    }
}

TEST(TXmlHost, ExpandsInternalEntitiesAndCharacterReferences) {
    const TXmlDocument document = Host().Parse(Fixture("hostile/internal-entity.xml"));
    const xmlNode* channel = feeds::FirstChildElement(Root(document), "channel");
    EXPECT_EQ(feeds::Text(feeds::FirstChildElement(channel, "title")),
              u"Welcome to Harbour & Quay"_s);
    EXPECT_EQ(feeds::Text(feeds::FirstChildElement(channel, "description")), u"\u00A9 \u2713"_s);
}

TEST(TXmlHost, NeverLoadsExternalEntitiesOrDocumentTypes) {
    const testsupport::TempDir dir;
    QFile secret(dir.File(u"secret.txt"_s));
    ASSERT_TRUE(secret.open(QIODevice::WriteOnly));
    secret.write("LEAKED-SECRET");
    secret.close();
    QFile dtd(dir.File(u"outside.dtd"_s));
    ASSERT_TRUE(dtd.open(QIODevice::WriteOnly));
    dtd.write(R"(<!ENTITY leak "LEAKED-SECRET"><!ATTLIST rss injected CDATA "LEAKED-SECRET">)");
    dtd.close();
    const QByteArray secretUrl = "file://" + dir.File(u"secret.txt"_s).toUtf8();
    const QByteArray dtdUrl = "file://" + dir.File(u"outside.dtd"_s).toUtf8();

    const QByteArray cases[] = {
        // An external general entity in content and in an attribute value's neighbourhood.
        "<?xml version=\"1.0\"?><!DOCTYPE rss [<!ENTITY leak SYSTEM \"" + secretUrl +
            "\">]><rss><channel><title>&leak;</title></channel></rss>",
        // An external parameter entity, which substitution would otherwise load.
        "<?xml version=\"1.0\"?><!DOCTYPE rss [<!ENTITY % outside SYSTEM \"" + dtdUrl +
            "\"> %outside;]><rss><channel><title>&leak;</title></channel></rss>",
        // An external subset.
        "<?xml version=\"1.0\"?><!DOCTYPE rss SYSTEM \"" + dtdUrl +
            "\"><rss><channel><title>&leak;</title></channel></rss>",
        // A public identifier with a network address.
        "<?xml version=\"1.0\"?><!DOCTYPE rss PUBLIC \"-//X//DTD X//EN\" "
        "\"http://127.0.0.1:9/x.dtd\"><rss><channel><title>t</title></channel></rss>",
    };
    for (const QByteArray& bytes : cases) {
        SCOPED_TRACE(bytes.toStdString());
        try {
            const TXmlDocument document = Host().Parse(bytes);
            const xmlNode* root = Root(document);
            EXPECT_FALSE(feeds::TextContent(root).contains(u"LEAKED"_s));
            EXPECT_FALSE(Host().GetAttribute(root, "injected").contains(u"LEAKED"_s));
        } catch (const EInvalidXmlDocument&) {
            // Refusing the document outright is as good.
        }
    }
}

TEST(TXmlHost, RefusesEntityExpansionBombsAndDeepNestingQuickly) {
    // Quadratic blow-up: one large entity referenced very many times.
    QByteArray quadratic = "<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY big \"" +
                           QByteArray(100000, 'x') + "\">]><r>";
    for (int i = 0; i < 20000; ++i)
        quadratic += "&big;";
    quadratic += "</r>";
    const struct {
        std::string name;
        QByteArray bytes;
    } cases[] = {
        {"billion laughs", Fixture("hostile/billion-laughs.xml")},
        {"entity loop", Fixture("hostile/entity-loop.xml")},
        {"deep nesting", Fixture("hostile/deep-nesting.xml")},
        {"quadratic blow-up", quadratic},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        QElapsedTimer timer;
        timer.start();
        EXPECT_THROW(Host().Parse(row.bytes), EInvalidXmlDocument);
        EXPECT_LT(timer.elapsed(), 10000);
    }
}

} // namespace
