#include "config/tbranding.h"

#include "config/programfile.h"
#include "platform/ansicodepage.h"
#include "platform/tinstancestore.h"
#include "platform/tvalueerrors.h"
#include "platform/tvaluereader.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace config {

namespace {

// brand.cfg read in place: the reader takes only the bytes it needs, whatever the file's size.
class TFileStream : public platform::TStream {
public:
    explicit TFileStream(QFile& file) : file_(file) {}

    int32_t Read(void* buffer, int32_t count) override {
        return static_cast<int32_t>(
            std::max<qint64>(0, file_.read(static_cast<char*>(buffer), std::max(0, count))));
    }
    int32_t Write(const void* buffer, int32_t count) override {
        return static_cast<int32_t>(
            std::max<qint64>(0, file_.write(static_cast<const char*>(buffer), std::max(0, count))));
    }
    int64_t Seek(int64_t offset, platform::TSeekOrigin origin) override {
        int64_t target = offset;
        if (origin == platform::TSeekOrigin::Current)
            target += file_.pos();
        else if (origin == platform::TSeekOrigin::End)
            target += file_.size();
        return target >= 0 && file_.seek(target) ? target : -1;
    }
    void SetSize(int64_t size) override { file_.resize(size); }

private:
    QFile& file_;
};

QString Text(platform::TValueReader& reader) {
    return platform::AnsiToWide(reader.GetAnsiText());
}

bool IsFile(const QString& path) {
    return QFileInfo(path).isFile();
}

} // namespace

TBranding::TBranding() : TBranding(config::ProgramFolder()) {}

TBranding::TBranding(const QString& programFolder) : programFolder_(programFolder) {
    // An unknown program folder leaves the names relative, as they are without a folder part.
    const QDir folder(programFolder_);
    ChannelTemplate = folder.filePath(QStringLiteral("web/channel.htm"));
    ChannelTopicTemplate = folder.filePath(QStringLiteral("web/channel_topic.htm"));
    BrandedChannelTemplate = folder.filePath(QStringLiteral("web/branded_channel.htm"));
    BrandedChannelTopicTemplate = folder.filePath(QStringLiteral("web/branded_channel_topic.htm"));
    BrandedTopicTemplate = folder.filePath(QStringLiteral("web/branded_topic.htm"));
    TopicTemplate = folder.filePath(QStringLiteral("web/topic.htm"));
    PopupBackground = folder.filePath(QStringLiteral("popup.bmp"));
}

void TBranding::Load() {
    QFile file(QDir(programFolder_).filePath(QStringLiteral("brand.cfg")));
    if (file.open(QIODevice::ReadOnly)) {
        TFileStream stream(file);
        Read(stream);
    }
    ChannelTemplatesPresent = IsFile(ChannelTemplate) && IsFile(ChannelTopicTemplate);
    BrandedTemplatesPresent = IsFile(BrandedChannelTemplate) &&
                              IsFile(BrandedChannelTopicTemplate) && IsFile(BrandedTopicTemplate);
    TopicTemplatePresent = IsFile(TopicTemplate);
}

void TBranding::Read(platform::TStream& stream) {
    try {
        ReadValues(stream);
    } catch (const platform::EReadError&) {
        // A damaged or short file brands only as far as it reads.
    }
}

void TBranding::ReadValues(platform::TStream& stream) {
    // Each field is assigned only once its value has been read whole.
    platform::TValueReader reader(stream);
    const int32_t version = reader.GetInteger();
    ProductName = Text(reader);
    Text(reader); // carried by every file, used by nothing
    AboutAddress = Text(reader);
    HelpAddress = Text(reader);
    ForumAddress = Text(reader);
    HomeAddress = Text(reader);
    CreateFeedAddress = Text(reader);
    Theme = Text(reader);
    ThemeLocked = reader.GetBoolean();
    BigBannerHeight = reader.GetInteger();
    SmallBannerHeight = reader.GetInteger();
    BigBannerVisible = reader.GetBoolean();
    SmallBannerVisible = reader.GetBoolean();
    ExpandUnreadFolders = reader.GetBoolean();
    if (version > 1)
        SubscriptionListAddress = Text(reader);
    if (version > 2)
        FeedSearchAddress = Text(reader);
}

QString TBranding::DisplayName() const {
    return ProductName.contains(QStringLiteral("Velquint")) ? QStringLiteral("Velquint Reader")
                                                            : ProductName;
}

TBranding* TBranding::Instance(int request) {
    return platform::TInstanceStore<TBranding>::Request(request);
}

} // namespace config
