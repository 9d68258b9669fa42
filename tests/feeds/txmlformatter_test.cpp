#include "feeds/txmlformatter.h"

#include "feeds/txmlhost.h"
#include "feeds/xmlnode.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using feeds::AppendChild;
using feeds::SetAttributeNode;
using feeds::TNodeFormatter;
using feeds::TXmlDocument;
using feeds::TXmlFormatter;
using feeds::TXmlHost;

namespace {

const TXmlHost& Host() {
    return TXmlHost::Instance();
}

QByteArray WriteIndented(TXmlFormatter& formatter, const xmlDoc& document) {
    platform::TMemoryStream stream;
    formatter.WriteIndented(document, stream);
    return stream.Data();
}

// A subscription list as the OPML export builds one.
TXmlDocument Subscriptions() {
    TXmlDocument document = Host().CreateDocument();
    xmlDoc* doc = document.get();
    xmlNode* opml = AppendChild(doc, Host().CreateElement(doc, "opml"));
    SetAttributeNode(opml, Host().CreateAttribute(doc, "version", u"1.1"_s));
    xmlNode* head = AppendChild(opml, Host().CreateElement(doc, "head"));
    AppendChild(head, Host().CreateTextElement(doc, "title", u"Subs & more"_s));
    xmlNode* body = AppendChild(opml, Host().CreateElement(doc, "body"));
    xmlNode* folder = AppendChild(body, Host().CreateElement(doc, "outline"));
    SetAttributeNode(folder, Host().CreateAttribute(doc, "text", u"F\u00FCr \"alle\""_s));
    xmlNode* channel = AppendChild(folder, Host().CreateElement(doc, "outline"));
    SetAttributeNode(channel, Host().CreateAttribute(doc, "text", u"C"_s));
    SetAttributeNode(channel, Host().CreateAttribute(doc, "xmlUrl", u"u?a=1&b=2<"_s));
    SetAttributeNode(channel, Host().CreateIntegerAttribute(doc, "n", 7));
    return document;
}

TEST(TXmlFormatter, WritesTheIndentedLayout) {
    TXmlFormatter formatter;
    const TXmlDocument document = Subscriptions();
    const QByteArray expected =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?><opml version=\"1.1\">\n"
        "    <head>\n"
        "        <title>\n"
        "            Subs &amp; more\n"
        "        </title>\n"
        "\n"
        "    </head>\n"
        "    <body>\n"
        "        <outline text=\"F\xC3\xBCr &quot;alle&quot;\">\n"
        "            <outline text=\"C\" xmlUrl=\"u?a=1&amp;b=2&lt;\" n=\"7\"/>\n"
        "\n"
        "        </outline>\n"
        "\n"
        "    </body>\n"
        "\n"
        "</opml>\n";
    EXPECT_EQ(WriteIndented(formatter, *document), expected);
    // The depth starts at 0 again.
    EXPECT_EQ(WriteIndented(formatter, *document), expected);
}

TEST(TXmlFormatter, ElementWithOnlyTextTakesThreeLines) {
    TXmlFormatter formatter;
    const TXmlDocument document = Host().CreateDocument();
    AppendChild(document.get(), Host().CreateTextElement(document.get(), "title", u"Tides"_s));
    EXPECT_EQ(WriteIndented(formatter, *document),
              "<?xml version=\"1.0\" encoding=\"utf-8\"?><title>\n    Tides\n</title>\n");
}

TEST(TXmlFormatter, OutputOfAParsedDocumentParsesToTheSameContent) {
    TXmlFormatter formatter;
    const TXmlDocument parsed = Host().Parse(
        "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<!-- lead -->\n"
        "<?keep this?><rss xmlns:dc=\"urn:dc\"><channel a=\"&#10;&#9;x\"><dc:creator>Caf\xE9"
        "</dc:creator><![CDATA[<raw> & ]]]]></channel></rss>");
    const QByteArray written = WriteIndented(formatter, *parsed);
    const TXmlDocument again = Host().Parse(written);
    const xmlNode* channel = feeds::FirstChildElement(xmlDocGetRootElement(again.get()), "channel");
    EXPECT_EQ(Host().GetAttribute(channel, "a"), u"x"_s);
    EXPECT_EQ(feeds::AttributeValue(channel, "a"), u"\n\tx"_s);
    EXPECT_EQ(feeds::Text(feeds::FirstChildElement(channel, "dc:creator")), u"Caf\u00E9"_s);
    EXPECT_TRUE(written.contains("<![CDATA[<raw> & ]]]]>")) << written.toStdString();
    EXPECT_TRUE(written.contains("<!-- lead --><?keep this?><rss xmlns:dc=\"urn:dc\">"))
        << written.toStdString();
}

TEST(TNodeFormatter, WritesTheSubtreeAsUtf8Markup) {
    const TXmlDocument document = Host().Parse(
        u"<r xmlns:x=\"urn:x\"><x:div xmlns=\"urn:d\" a=\"1&amp;2\">Caf&#xE9; <b>bold</b> "
        "&lt;tag&gt;<br/><!--c--><![CDATA[<raw>]]></x:div><after/></r>"_s.toUtf8());
    const xmlNode* div = xmlDocGetRootElement(document.get())->children;
    EXPECT_EQ(TNodeFormatter::NodeToText(div),
              u"<x:div xmlns=\"urn:d\" a=\"1&amp;2\">Caf\u00E9 <b>bold</b> &lt;tag&gt;<br/>"
              "<!--c--><![CDATA[<raw>]]></x:div>"_s);
    EXPECT_EQ(TNodeFormatter::NodeToText(nullptr), QString());
}

} // namespace
