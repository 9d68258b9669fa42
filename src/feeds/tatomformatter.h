#pragma once

#include "feeds/tfeedformatter.h"

#include <memory>

namespace feeds {

// Atom 0.3: the root "feed" with the Atom 0.3 default namespace. Its "modified" date wins over
// "issued", "published" and "updated" in an entry.
class TAtomFormatter : public TFeedFormatter {
public:
    static std::unique_ptr<TFeedFormatter> Create();

protected:
    bool Accepts() override;
    void ReadChannel(TChannelInfo& channel) override;
    void FirstItem() override;
    bool NextItem() override;
    void ReadItem(TTopic& topic) override;
};

// Atom 1.0: the root "feed" with the Atom 1.0 default namespace (in any letter case). Titles,
// subtitles, rights and content are text constructs of type "text", "html" or "xhtml"; the summary
// is not read.
class TAtom10Formatter : public TFeedFormatter {
public:
    static std::unique_ptr<TFeedFormatter> Create();

protected:
    bool Accepts() override;
    void ReadChannel(TChannelInfo& channel) override;
    void FirstItem() override;
    bool NextItem() override;
    void ReadItem(TTopic& topic) override;
};

} // namespace feeds
