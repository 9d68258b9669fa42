#include "feeds/tenclosure.h"

#include "feeds/txmlhost.h"
#include "feeds/xmlnode.h"

#include <algorithm>

namespace feeds {

void TEnclosure::ReadFrom(const xmlNode* element) {
    if (!IsElementNamed(element, "enclosure"))
        return;
    const TXmlHost& host = TXmlHost::Instance();
    Url = host.GetAttribute(element, "url");
    if (Url.isEmpty())
        return;
    // A negative size is no size: it must not reach the download queue as one.
    FileSize = std::max(host.GetIntegerAttribute(element, "length"), -1);
    Type = host.GetAttribute(element, "type");
}

} // namespace feeds
