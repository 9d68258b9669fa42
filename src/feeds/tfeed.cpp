#include "feeds/tfeed.h"

#include "feeds/tfeedformatter.h"

#include <QDate>
#include <QLocale>
#include <QUuid>

#include <cmath>

namespace feeds {

namespace {

// The authority of our tag identifiers: the product's own domain.
constexpr char kTagAuthority[] = "velquint.net";

template <typename ReadWith>
void Load(TFeed& feed, TFeedFormatterClass formatterClass, ReadWith read) {
    feed.Clear();
    try {
        const std::unique_ptr<TFeedFormatter> formatter = formatterClass();
        read(*formatter);
    } catch (...) {
        feed.Clear();
        throw;
    }
}

} // namespace

void TChannelInfo::Reset() {
    Title.clear();
    Description.clear();
    Link = QStringLiteral("http://");
    Author.clear();
    Copyright.clear();
    Date = platform::Now();
    ImageUrl.clear();
    ImageTitle.clear();
    ImageLink.clear();
}

void TFeed::Clear() {
    ChannelInfo.Reset();
    Topics.clear();
}

void TFeed::LoadFromStream(platform::TStream& stream, TFeedFormatterClass formatterClass) {
    Load(*this, formatterClass, [&](TFeedFormatter& formatter) { formatter.Read(stream, *this); });
}

void TFeed::LoadFromDocument(const xmlDoc& document, TFeedFormatterClass formatterClass) {
    Load(*this, formatterClass,
         [&](TFeedFormatter& formatter) { formatter.Read(document, *this); });
}

TTopic& TFeed::AddTopic() {
    auto topic = std::make_unique<TTopic>();
    topic->Id = NewTagId();
    Topics.push_back(std::move(topic));
    return *Topics.back();
}

QByteArray NewTagId() {
    const platform::TDateTime now = platform::Now();
    QByteArray time = QByteArray::number(std::fabs(now), 'g', 15);
    time.replace('.', QLocale::system().decimalPoint().toUtf8());
    QByteArray id = "tag:";
    id += kTagAuthority;
    id += ',';
    id += QByteArray::number(QDate(1899, 12, 30).addDays(static_cast<qint64>(now)).year());
    id += ':';
    id += QUuid::createUuid().toByteArray(QUuid::WithoutBraces).toUpper();
    id += '.';
    id += time;
    return id;
}

} // namespace feeds
