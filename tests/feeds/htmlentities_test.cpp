#include "feeds/htmlentities.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>

using namespace Qt::StringLiterals;
using feeds::DecodeHtmlEntities;
using feeds::HtmlEntities;
using feeds::HtmlEntityCode;

namespace {

struct DecodeCase {
    QString text;
    QString expected;
};

TEST(DecodeHtmlEntities, ReplacesKnownReferencesAndLeavesTheRestAsWritten) {
    const DecodeCase cases[] = {
        {u"AT&amp;T"_s, u"AT&T"_s},
        {u"&lt;b&gt;"_s, u"<b>"_s},
        {u"caf&eacute;"_s, u"caf\u00E9"_s},
        {u"&apos;&quot;"_s, u"'\""_s},
        {u"&Eacute;&eacute;"_s, u"\u00C9\u00E9"_s},
        {u"&thetasym;"_s, u"\u03D1"_s},
        {u"&#233;"_s, u"\u00E9"_s},
        {u"&#0065;"_s, u"A"_s},
        {u"&#65601;"_s, u"A"_s},
        {u"&#2147483647;"_s, u"\uFFFF"_s},
        // The value is tested before it is taken modulo 65536.
        {u"&#65536;"_s, QString(QChar(u'\0'))},
        {u"&#0;"_s, u"&#0;"_s},
        {u"&#2147483648;"_s, u"&#2147483648;"_s},
        {u"&#x41;"_s, u"&#x41;"_s},
        {u"&#12a;"_s, u"&#12a;"_s},
        {u"&#;"_s, u"&#;"_s},
        {u"&;"_s, u"&;"_s},
        {u"&AMP;"_s, u"&AMP;"_s},
        {u"&nosuch;"_s, u"&nosuch;"_s},
        {u"&thetasyms;"_s, u"&thetasyms;"_s},
        {u"Tom & Jerry"_s, u"Tom & Jerry"_s},
        {u"end&"_s, u"end&"_s},
        {u"end&#"_s, u"end&#"_s},
        {u"&amp"_s, u"&amp"_s},
        {u"&amp!&lt;"_s, u"&amp!<"_s},
        {u"&a&amp;"_s, u"&a&amp;"_s},
        {u"&&amp;&lt;"_s, u"&&amp;<"_s},
        {u"&\u00E9;"_s, u"&\u00E9;"_s},
        {u"a#amp;"_s, u"a#amp;"_s},
        {u"&amp;amp;"_s, u"&amp;"_s},
        {u"&#38;lt;"_s, u"&lt;"_s},
        {u""_s, u""_s},
    };
    for (const DecodeCase& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        EXPECT_EQ(DecodeHtmlEntities(c.text), c.expected);
    }
}

TEST(HtmlEntities, HoldTheHtml401SetsAndAposSortedByName) {
    const auto table = HtmlEntities();
    EXPECT_EQ(table.size(), 253u);
    EXPECT_TRUE(std::is_sorted(table.begin(), table.end(),
                               [](const auto& a, const auto& b) { return a.Name < b.Name; }));
    std::set<std::string_view> names;
    for (const feeds::THtmlEntity& entity : table) {
        SCOPED_TRACE(std::string(entity.Name));
        EXPECT_TRUE(names.insert(entity.Name).second);
        const QString name = QString::fromLatin1(entity.Name.data(), entity.Name.size());
        EXPECT_EQ(HtmlEntityCode(name), entity.Code);
        EXPECT_EQ(DecodeHtmlEntities(u'&' + name + u';'), QString(QChar(entity.Code)));
    }
}

TEST(HtmlEntities, KnowTheCodesOfEachSet) {
    const struct {
        QString name;
        char16_t code;
    } cases[] = {
        {u"nbsp"_s, 160},    {u"yuml"_s, 255},   {u"Agrave"_s, 192},  {u"agrave"_s, 224},
        {u"THORN"_s, 222},   {u"fnof"_s, 402},   {u"Omega"_s, 937},   {u"sigmaf"_s, 962},
        {u"piv"_s, 982},     {u"image"_s, 8465}, {u"weierp"_s, 8472}, {u"hearts"_s, 9829},
        {u"diams"_s, 9830},  {u"OElig"_s, 338},  {u"euro"_s, 8364},   {u"zwnj"_s, 8204},
        {u"lsaquo"_s, 8249}, {u"amp"_s, 38},     {u"apos"_s, 39},     {u"AMP"_s, 0},
        {u"Nbsp"_s, 0},      {u"Sigmaf"_s, 0},   {u""_s, 0},          {u"thetasymbol"_s, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name.toStdString());
        EXPECT_EQ(HtmlEntityCode(c.name), c.code);
    }
}

} // namespace
