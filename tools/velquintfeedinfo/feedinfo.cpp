#include "feedinfo.h"

#include "feeds/feedformats.h"
#include "feeds/tfeed.h"
#include "platform/tdatetime.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <optional>
#include <utility>
#include <vector>

namespace feedinfo {

namespace {

// A JSON value that keeps its members in the order they were added.
struct TJson {
    enum class Kind { Literal, String, Object, Array };
    Kind Type = Kind::Literal;
    QByteArray Text;
    std::vector<std::pair<QByteArray, TJson>> Members;
    std::vector<TJson> Items;

    static TJson Literal(QByteArray text) { return {Kind::Literal, std::move(text), {}, {}}; }
    static TJson String(const QString& text) { return {Kind::String, text.toUtf8(), {}, {}}; }
    static TJson String(const QByteArray& utf8) { return {Kind::String, utf8, {}, {}}; }
    static TJson Object() { return {Kind::Object, {}, {}, {}}; }
    static TJson Array() { return {Kind::Array, {}, {}, {}}; }

    TJson& Add(const char* name, TJson value) {
        Members.emplace_back(name, std::move(value));
        return *this;
    }
};

void AppendString(QByteArray& out, const QByteArray& utf8) {
    out += '"';
    for (const char c : utf8) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (u < 0x20) {
            out += "\\u00";
            out += QByteArray::number(u, 16).rightJustified(2, '0');
        } else {
            out += c;
        }
    }
    out += '"';
}

void Write(const TJson& value, QByteArray& out, bool indented, int level) {
    const auto newline = [&](int depth) {
        if (indented) {
            out += '\n';
            out += QByteArray(depth * 2, ' ');
        }
    };
    const char* separator = indented ? "," : ", ";
    switch (value.Type) {
    case TJson::Kind::Literal:
        out += value.Text;
        break;
    case TJson::Kind::String:
        AppendString(out, value.Text);
        break;
    case TJson::Kind::Object:
        out += '{';
        for (size_t i = 0; i < value.Members.size(); ++i) {
            if (i > 0)
                out += separator;
            newline(level + 1);
            AppendString(out, value.Members[i].first);
            out += ": ";
            Write(value.Members[i].second, out, indented, level + 1);
        }
        if (!value.Members.empty())
            newline(level);
        out += '}';
        break;
    case TJson::Kind::Array:
        out += '[';
        for (size_t i = 0; i < value.Items.size(); ++i) {
            if (i > 0)
                out += separator;
            newline(level + 1);
            Write(value.Items[i], out, indented, level + 1);
        }
        if (!value.Items.empty())
            newline(level);
        out += ']';
        break;
    }
}

TJson Date(platform::TDateTime value) {
    return TJson::String(
        platform::ToQDateTime(value).toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss")));
}

TJson Describe(const feeds::TFeed& feed, std::optional<feeds::TFeedFormat> format) {
    const char* formatName = nullptr;
    for (const feeds::TFeedFormatEntry& entry : feeds::FeedFormats()) {
        if (format == entry.Format)
            formatName = entry.Name;
    }
    const feeds::TChannelInfo& info = feed.ChannelInfo;
    TJson image = TJson::Object();
    image.Add("url", TJson::String(info.ImageUrl))
        .Add("title", TJson::String(info.ImageTitle))
        .Add("link", TJson::String(info.ImageLink));
    TJson channel = TJson::Object();
    channel.Add("title", TJson::String(info.Title))
        .Add("description", TJson::String(info.Description))
        .Add("link", TJson::String(info.Link))
        .Add("author", TJson::String(info.Author))
        .Add("copyright", TJson::String(info.Copyright))
        .Add("date", Date(info.Date))
        .Add("image", std::move(image));
    TJson topics = TJson::Array();
    for (const std::unique_ptr<feeds::TTopic>& topic : feed.Topics) {
        TJson enclosure = TJson::Object();
        enclosure.Add("url", TJson::String(topic->Enclosure.Url))
            .Add("type", TJson::String(topic->Enclosure.Type))
            .Add("length", TJson::Literal(QByteArray::number(topic->Enclosure.FileSize)));
        TJson item = TJson::Object();
        item.Add("id", TJson::String(topic->Id))
            .Add("title", TJson::String(topic->Title))
            .Add("link", TJson::String(topic->Link))
            .Add("author", TJson::String(topic->Author))
            .Add("description", TJson::String(topic->Description))
            .Add("date", Date(topic->Date))
            .Add("enclosure", std::move(enclosure));
        topics.Items.push_back(std::move(item));
    }
    TJson result = TJson::Object();
    result.Add("ok", TJson::Literal(format ? "true" : "false"))
        .Add("format", formatName ? TJson::String(QByteArray(formatName)) : TJson::Literal("null"))
        .Add("channel", std::move(channel))
        .Add("topics", std::move(topics));
    return result;
}

void Print(std::FILE* stream, const QByteArray& text) {
    std::fwrite(text.constData(), 1, static_cast<size_t>(text.size()), stream);
    std::fflush(stream);
}

} // namespace

int Run(int argc, char** argv, std::FILE* out, std::FILE* err) {
    std::optional<QString> path;
    bool compact = false;
    for (int i = 1; i < argc; ++i) {
        const QByteArray argument(argv[i]);
        if (argument == "--compact") {
            compact = true;
        } else if (!path && !argument.startsWith("--")) {
            path = QFile::decodeName(argument);
        } else {
            path.reset();
            break;
        }
    }
    if (!path) {
        Print(err, "usage: velquint-feedinfo FILE [--compact]\n");
        return kExitUsage;
    }
    QFile file(*path);
    if (!file.open(QIODevice::ReadOnly)) {
        Print(err, "velquint-feedinfo: cannot read " + QFile::encodeName(*path) + ": " +
                       file.errorString().toUtf8() + "\n");
        return kExitUnreadable;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        Print(err, "velquint-feedinfo: cannot read " + QFile::encodeName(*path) + ": " +
                       file.errorString().toUtf8() + "\n");
        return kExitUnreadable;
    }
    feeds::TFeed feed;
    const std::optional<feeds::TFeedFormat> format = feeds::ParseFeed(bytes, feed);
    QByteArray text;
    Write(Describe(feed, format), text, !compact, 0);
    text += '\n';
    Print(out, text);
    return format ? kExitOk : kExitNotAFeed;
}

} // namespace feedinfo
