// Reads arbitrary bytes as brand.cfg.
//
// Checks beyond "no crash":
// - the same bytes brand the same whether the stream hands out everything at once or three bytes
//   per read, and whether they come from memory or from a brand.cfg file beside the program;
// - the reader never moves past the end of the bytes;
// - what was read, written back as a version-3 file, reads back equal.

#include "config/tbranding.h"
#include "platform/ansicodepage.h"
#include "platform/tvaluewriter.h"
#include "support/tricklestream.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>
#include <tuple>

using config::TBranding;
using platform::TMemoryStream;

namespace {

void Require(bool condition) {
    if (!condition)
        std::abort();
}

auto Fields(const TBranding& b) {
    return std::tie(b.ProductName, b.AboutAddress, b.HelpAddress, b.ForumAddress, b.HomeAddress,
                    b.CreateFeedAddress, b.Theme, b.ThemeLocked, b.BigBannerHeight,
                    b.SmallBannerHeight, b.BigBannerVisible, b.SmallBannerVisible,
                    b.ExpandUnreadFolders, b.SubscriptionListAddress, b.FeedSearchAddress);
}

QByteArray Written(const TBranding& b) {
    TMemoryStream stream;
    platform::TValueWriter writer(stream);
    const auto text = [&](const QString& value) {
        writer.PutAnsiText(platform::WideToUtf8(value));
    };
    writer.PutInteger(3);
    text(b.ProductName);
    text(QString());
    text(b.AboutAddress);
    text(b.HelpAddress);
    text(b.ForumAddress);
    text(b.HomeAddress);
    text(b.CreateFeedAddress);
    text(b.Theme);
    writer.PutBoolean(b.ThemeLocked);
    writer.PutInteger(b.BigBannerHeight);
    writer.PutInteger(b.SmallBannerHeight);
    writer.PutBoolean(b.BigBannerVisible);
    writer.PutBoolean(b.SmallBannerVisible);
    writer.PutBoolean(b.ExpandUnreadFolders);
    text(b.SubscriptionListAddress);
    text(b.FeedSearchAddress);
    writer.Finish();
    return stream.Data();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    static QTemporaryDir programFolder;
    Require(programFolder.isValid());

    TBranding fromMemory(programFolder.path());
    TMemoryStream whole(bytes);
    fromMemory.Read(whole);
    Require(whole.Position() <= bytes.size());

    TBranding trickled(programFolder.path());
    testsupport::TTrickleStream trickle(bytes);
    trickled.Read(trickle);
    Require(Fields(trickled) == Fields(fromMemory));

    {
        QFile file(programFolder.filePath(QStringLiteral("brand.cfg")));
        Require(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        Require(file.write(bytes) == bytes.size());
    }
    TBranding fromFile(programFolder.path());
    fromFile.Load();
    Require(Fields(fromFile) == Fields(fromMemory));

    TBranding again(programFolder.path());
    TMemoryStream rewritten(Written(fromMemory));
    again.Read(rewritten);
    Require(Fields(again) == Fields(fromMemory));
    return 0;
}
