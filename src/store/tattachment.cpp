#include "store/tattachment.h"

#include "platform/ansicodepage.h"
#include "platform/tvaluereader.h"
#include "platform/tvaluewriter.h"
#include "store/recordfields.h"

#include <QLocale>

namespace store {

using platform::TValueReader;
using platform::TValueWriter;
using namespace recordfields;

namespace {

constexpr qsizetype kMaxNameBytes = 255;

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

QString DateText(platform::TDateTime value) {
    const QDateTime time = platform::ToQDateTime(value);
    const QLocale locale = QLocale::system();
    return locale.toString(time.date(), QLocale::LongFormat) + u' ' +
           locale.toString(time.time(), QLocale::LongFormat);
}

// Cuts a name to at most kMaxNameBytes of UTF-8 without splitting a character, keeping the
// extension when it is short.
QString FitName(const QString& name) {
    if (platform::WideToUtf8(name).size() <= kMaxNameBytes)
        return name;
    const qsizetype dot = name.lastIndexOf(u'.');
    const QString extension = dot > 0 && name.size() - dot <= 16 ? name.mid(dot) : QString();
    QString stem = name.left(name.size() - extension.size());
    const qsizetype room = kMaxNameBytes - platform::WideToUtf8(extension).size();
    while (!stem.isEmpty() && platform::WideToUtf8(stem).size() > room) {
        stem.chop(1);
        if (!stem.isEmpty() && stem.back().isHighSurrogate())
            stem.chop(1);
    }
    return stem + extension;
}

} // namespace

QByteArray DecodeUrlText(const QByteArray& text) {
    QByteArray spaced = text;
    spaced.replace('+', ' ');
    QByteArray out;
    out.reserve(spaced.size());
    for (qsizetype i = 0; i < spaced.size(); ++i) {
        if (spaced.at(i) == '%' && i + 2 < spaced.size()) {
            const int high = HexValue(spaced.at(i + 1));
            const int low = HexValue(spaced.at(i + 2));
            if (high >= 0 && low >= 0) {
                out += static_cast<char>(high * 16 + low);
                i += 2;
                continue;
            }
        }
        out += spaced.at(i);
    }
    return out;
}

platform::TDateTime TAttachment::NeverValue() {
    static const platform::TDateTime never = platform::EncodeDateTime(1980, 6, 1, 13);
    return never;
}

TAttachment::TAttachment() : Added(platform::Now()), Completed(NeverValue()) {}

void TAttachment::SetFileName(const QString& text) {
    SetStoredFileName(platform::AnsiToWide(DecodeUrlText(platform::WideToUtf8(text))));
}

void TAttachment::SetStoredFileName(const QString& stored) {
    QString name = stored;
    // A decoded "%2F" or "%5C" must not reach the file system as a separator.
    name.replace(u'\\', u'/');
    name = name.mid(name.lastIndexOf(u'/') + 1);
    for (QChar& c : name) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            c = u'_';
    }
    name = FitName(name);
    if (name.isEmpty() || name == u"." || name == u"..") {
        // Keys are hexadecimal numbers; a damaged record's key lends only its letters and digits.
        name = QStringLiteral("attachment");
        for (const char c : Key) {
            if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))
                name += QLatin1Char(c);
        }
    }
    fileName_ = name;
}

void TAttachment::SetPath(const QString& fullPath) {
    if (fullPath.isEmpty())
        return;
    const qsizetype slash = fullPath.lastIndexOf(u'/');
    fileName_ = fullPath.mid(slash + 1);
    Folder = slash < 0 ? QString() : fullPath.left(slash + 1);
}

void TAttachment::SetState(uint8_t state) {
    State = state;
    if (state == Complete)
        Completed = platform::Now();
}

QByteArray TAttachment::DisplayUrl() const {
    return DecodeUrlText(platform::WideToUtf8(Url));
}

QString TAttachment::TargetFolder(const QString& defaultFolder) const {
    if (Folder.isEmpty())
        return defaultFolder;
    return Folder.endsWith(u'/') ? Folder : Folder + u'/';
}

QString TAttachment::AddedText() const {
    return DateText(Added);
}

QString TAttachment::CompletedText() const {
    return Completed == NeverValue() ? QStringLiteral("n/a") : DateText(Completed);
}

QString TAttachment::KindText() const {
    return Kind == Music ? QStringLiteral("music") : QStringLiteral("unknown");
}

QString TAttachment::ProgressText() const {
    if (Downloaded == -1)
        return QStringLiteral("n/a");
    if (Size == -1)
        return QStringLiteral("%1 bytes").arg(Downloaded);
    if (Size <= 0)
        return QStringLiteral("n/a"); // no share of an empty or unknown size
    return QStringLiteral("%1%").arg(static_cast<int64_t>(Downloaded) * 100 / Size);
}

QString TAttachment::SizeText() const {
    return Size == -1 ? QStringLiteral("n/a") : QString::number(Size);
}

QString TAttachment::PriorityText() const {
    switch (Priority) {
    case High:
        return QStringLiteral("high");
    case WhenIdle:
        return QStringLiteral("when idle");
    default:
        return QStringLiteral("blocked");
    }
}

QString TAttachment::Extension() const {
    const qsizetype dot = fileName_.lastIndexOf(u'.');
    return dot < 0 ? QString() : fileName_.mid(dot + 1).toLower().trimmed();
}

void TAttachment::Read(TValueReader& reader) {
    const int32_t version = GetRawInteger(reader);
    const bool wide = version >= 30;
    auto text = [&reader, wide] { return GetText(reader, wide); };
    Key = reader.GetAnsiText();
    Url = text();
    MimeType = text();
    Size = GetRawInteger(reader);
    Downloaded = GetRawInteger(reader);
    const int32_t state = GetRawInteger(reader);
    State = static_cast<uint8_t>(state >= Queued && state <= Cleared ? state : Error);
    const int32_t priority = GetRawInteger(reader);
    Priority = static_cast<uint8_t>(priority >= High && priority <= Blocked ? priority : Blocked);
    OriginText = text();
    Added = GetRawDouble(reader);
    Completed = GetRawDouble(reader);
    Folder = text();
    // Decoding again would turn "a+b.mp3" into "a b.mp3", a file that was never downloaded.
    SetStoredFileName(text());
    if (version >= 20) {
        Kind = GetRawInteger(reader) == Music ? Music : Other;
        ErrorText = text();
    }
}

void TAttachment::Write(TValueWriter& writer) const {
    auto text = [&writer](const QString& value) {
        writer.PutAnsiText(platform::WideToUtf8(value));
    };
    PutRawInteger(writer, kRecordVersion);
    writer.PutAnsiText(Key);
    text(Url);
    text(MimeType);
    PutRawInteger(writer, Size);
    PutRawInteger(writer, Downloaded);
    PutRawInteger(writer, State);
    PutRawInteger(writer, Priority);
    text(OriginText);
    PutRawDouble(writer, Added);
    PutRawDouble(writer, Completed);
    text(Folder.isEmpty() || Folder.endsWith(u'/') ? Folder : Folder + u'/');
    text(fileName_);
    PutRawInteger(writer, Kind);
    text(ErrorText);
}

} // namespace store
