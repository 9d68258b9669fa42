#include "feeds/turi.h"

#include <optional>

namespace feeds {

namespace {

struct TUrlParts {
    QByteArray scheme;
    QByteArray userName;
    QByteArray password;
    QByteArray host;
    int port = 0;
    QByteArray path;
    QByteArray extra;
};

bool IsAsciiLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool IsAsciiDigit(char c) {
    return c >= '0' && c <= '9';
}

bool IsAsciiAlphanumeric(char c) {
    return IsAsciiLetter(c) || IsAsciiDigit(c);
}

int HexValue(char c) {
    if (IsAsciiDigit(c))
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool IsScheme(const QByteArray& scheme) {
    if (scheme.isEmpty() || !IsAsciiLetter(scheme[0]))
        return false;
    for (const char c : scheme) {
        if (!IsAsciiAlphanumeric(c) && c != '+' && c != '-' && c != '.')
            return false;
    }
    return true;
}

int DefaultPort(const QByteArray& scheme) {
    if (scheme == "http")
        return 80;
    if (scheme == "https")
        return 443;
    if (scheme == "ftp")
        return 21;
    return 0;
}

std::optional<int> PortNumber(const QByteArray& digits) {
    int value = 0;
    for (const char c : digits) {
        if (!IsAsciiDigit(c))
            return std::nullopt;
        value = value * 10 + (c - '0');
        if (value > 65535)
            return std::nullopt;
    }
    return value;
}

std::optional<TUrlParts> Crack(const QByteArray& address) {
    const qsizetype separator = address.indexOf("://");
    if (separator < 0)
        return std::nullopt;
    TUrlParts parts;
    parts.scheme = address.left(separator).toLower();
    if (!IsScheme(parts.scheme))
        return std::nullopt;

    const qsizetype authorityStart = separator + 3;
    qsizetype authorityEnd = authorityStart;
    while (authorityEnd < address.size() && address[authorityEnd] != '/' &&
           address[authorityEnd] != '?' && address[authorityEnd] != '#')
        ++authorityEnd;
    qsizetype extraStart = authorityEnd;
    while (extraStart < address.size() && address[extraStart] != '?' && address[extraStart] != '#')
        ++extraStart;
    parts.path = address.mid(authorityEnd, extraStart - authorityEnd);
    parts.extra = address.mid(extraStart);

    const QByteArray authority = address.mid(authorityStart, authorityEnd - authorityStart);
    // A password may hold an unescaped "@"; a host never does.
    const qsizetype at = authority.lastIndexOf('@');
    if (at >= 0) {
        const QByteArray userInfo = authority.left(at);
        const qsizetype colon = userInfo.indexOf(':');
        parts.userName = colon < 0 ? userInfo : userInfo.left(colon);
        parts.password = colon < 0 ? QByteArray() : userInfo.mid(colon + 1);
    }

    const QByteArray hostAndPort = authority.mid(at + 1);
    std::optional<QByteArray> portText;
    if (hostAndPort.startsWith('[')) {
        const qsizetype close = hostAndPort.indexOf(']');
        if (close < 0)
            return std::nullopt;
        parts.host = hostAndPort.left(close + 1);
        const QByteArray rest = hostAndPort.mid(close + 1);
        if (!rest.isEmpty()) {
            if (rest[0] != ':')
                return std::nullopt;
            portText = rest.mid(1);
        }
    } else {
        const qsizetype colon = hostAndPort.lastIndexOf(':');
        parts.host = colon < 0 ? hostAndPort : hostAndPort.left(colon);
        if (colon >= 0)
            portText = hostAndPort.mid(colon + 1);
        // Without brackets a colon left in the host would move the port when rebuilt.
        if (parts.host.contains(':'))
            return std::nullopt;
    }
    if (parts.host.isEmpty() && parts.scheme != "file")
        return std::nullopt;
    parts.host = parts.host.toLower();

    parts.port = DefaultPort(parts.scheme);
    // "host:" names no port, as in RFC 3986.
    if (portText && !portText->isEmpty()) {
        const std::optional<int> port = PortNumber(*portText);
        if (!port)
            return std::nullopt;
        parts.port = *port;
    }
    return parts;
}

} // namespace

TUri::TUri(const QByteArray& address) {
    std::optional<TUrlParts> parts = Crack(address);
    if (!parts)
        return;
    Port = parts->port;
    Password = UrlDecode(parts->password);
    Host = std::move(parts->host);
    UserName = UrlDecode(parts->userName);
    Path = std::move(parts->path);
    Scheme = std::move(parts->scheme);
    ExtraInfo = std::move(parts->extra);
}

bool TUri::HasCredentials() const {
    return !UserName.trimmed().isEmpty() && !Password.trimmed().isEmpty();
}

QByteArray TUri::PathAndExtra() const {
    return Path + ExtraInfo;
}

QByteArray TUri::UrlWithoutCredentials() const {
    return Build(false);
}

QByteArray TUri::UrlWithCredentials() const {
    return Build(true);
}

QByteArray TUri::Build(bool withCredentials) const {
    QByteArray result = Scheme + "://";
    if (withCredentials && HasCredentials())
        result += UrlEncode(UserName) + ':' + UrlEncode(Password) + '@';
    result += Host;
    // Port 0 is what a scheme without a default port gets; writing ":0" would name a port no
    // server listens on.
    if (IncludePort && Port != 80 && Port != 443 && Port != 0)
        result += ':' + QByteArray::number(Port);
    return result + Path + ExtraInfo;
}

QByteArray TUri::UrlEncode(const QByteArray& text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    QByteArray result;
    result.reserve(text.size());
    for (const char c : text) {
        if (c == ' ') {
            result += '+';
        } else if (IsAsciiAlphanumeric(c)) {
            result += c;
        } else {
            const auto byte = static_cast<unsigned char>(c);
            result += '%';
            result += kHex[byte >> 4];
            result += kHex[byte & 0x0F];
        }
    }
    return result;
}

QByteArray TUri::UrlDecode(const QByteArray& text) {
    QByteArray result;
    result.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '%' && i + 2 < text.size() && IsAsciiAlphanumeric(text[i + 1]) &&
            IsAsciiAlphanumeric(text[i + 2])) {
            const int high = HexValue(text[i + 1]);
            const int low = HexValue(text[i + 2]);
            result += high < 0 || low < 0 ? 'A' : static_cast<char>(high * 16 + low);
            i += 2;
        } else if (c == '+') {
            result += ' ';
        } else {
            result += c;
        }
    }
    return result;
}

} // namespace feeds
