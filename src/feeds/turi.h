#pragma once

#include <QByteArray>

namespace feeds {

// An address split into its parts, and put together again with or without the user name and
// password in front of its host. All texts are 8-bit.
//
// The address is read as scheme "://" authority path extra: the authority ends at the first "/",
// "?" or "#" after "://", the extra information starts at the first "?" or "#", the user name and
// password (split at their first ":") stand before the last "@" of the authority, and the port
// after the last ":" of the host (a host in brackets keeps its brackets and its colons). Nothing
// but the user name and password is decoded. An address that cannot be split (no "://", a scheme
// that is not letters, digits, "+", "-" and "." after a letter, an empty host when the scheme is
// not "file", a port that is not a number up to 65535, a colon in a host outside brackets) leaves
// every text empty and the port 0; constructing never raises.
class TUri {
public:
    explicit TUri(const QByteArray& address);

    // The scheme's default port (http 80, https 443, ftp 21, any other 0) unless one is written.
    int Port = 0;
    QByteArray Password;
    // Lower-cased (ASCII letters only).
    QByteArray Host;
    QByteArray UserName;
    QByteArray Path;
    // Lower-cased, without "://".
    QByteArray Scheme;
    // The query and fragment, starting with "?" or "#".
    QByteArray ExtraInfo;
    // When false the port is never written.
    bool IncludePort = true;

    // Both the user name and the password are non-empty after trimming.
    bool HasCredentials() const;
    QByteArray PathAndExtra() const;
    // The address again, without or with "user:password@" (written only when HasCredentials).
    // Ports 80 and 443 are left out whatever the scheme, and so is port 0, which no address
    // names on purpose.
    QByteArray UrlWithoutCredentials() const;
    QByteArray UrlWithCredentials() const;

    // Form encoding: a space becomes "+", ASCII letters and digits stay, every other byte becomes
    // "%" and two upper-case hexadecimal digits.
    static QByteArray UrlEncode(const QByteArray& text);
    // "+" becomes a space; "%" and two letters or digits become the byte they spell in
    // hexadecimal, or "A" when they are not both hexadecimal digits; anything else is copied.
    static QByteArray UrlDecode(const QByteArray& text);

private:
    QByteArray Build(bool withCredentials) const;
};

} // namespace feeds
