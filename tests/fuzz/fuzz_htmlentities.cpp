// Drives DecodeHtmlEntities over arbitrary text (the input read as UTF-8).
//
// Checks beyond "no crash":
// - the result is never longer than the text, and a text without "&" comes back unchanged;
// - a decoded "&amp;" in front decodes to "&" and leaves the rest as it would be alone, so the
//   walk starts afresh after every replaced reference;
// - a "&" added at the end stays, and the rest decodes as it would alone.

#include "feeds/htmlentities.h"

#include <cstdint>
#include <cstdlib>

using namespace Qt::StringLiterals;

namespace {

void Require(bool condition) {
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text =
        QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QString decoded = feeds::DecodeHtmlEntities(text);
    Require(decoded.size() <= text.size());
    if (!text.contains(u'&'))
        Require(decoded == text);
    Require(feeds::DecodeHtmlEntities(u"&amp;"_s + text) == u'&' + decoded);
    Require(feeds::DecodeHtmlEntities(text + u'&') == decoded + u'&');
    return 0;
}
