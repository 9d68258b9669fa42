#pragma once

#include "feeds/tfeedformatter.h"

#include <memory>

namespace feeds {

// Every RSS dialect: the root "rss" (0.91 to 0.94 and 2.0, the version is not examined) and RSS
// 1.0 (the root "rdf:RDF" with the RSS 1.0 default namespace). Dublin Core and content module
// elements are recognised by their customary prefixes ("dc:", "content:").
class TRSSFormatter : public TFeedFormatter {
public:
    static std::unique_ptr<TFeedFormatter> Create();

protected:
    bool Accepts() override;
    // EFeedIsNotSupported when the root has no "channel" child (in RSS 1.0 too).
    void ReadChannel(TChannelInfo& channel) override;
    void FirstItem() override;
    bool NextItem() override;
    void ReadItem(TTopic& topic) override;

private:
    bool IsRdf() const;
    const xmlNode* Channel() const;
};

} // namespace feeds
