// Drives TUri, UrlEncode and UrlDecode over arbitrary bytes.
//
// Checks beyond "no crash":
// - an address that cannot be split leaves every text empty and the port 0;
// - an address rebuilt with and without credentials parses again into the same scheme, host,
//   path and extra information, the credentials only when they were written, and the same port
//   when it was written (else the scheme's default);
// - UrlDecode(UrlEncode(x)) == x, UrlEncode writes only letters, digits, "+" and "%", and
//   UrlDecode never lengthens a text.

#include "feeds/turi.h"

#include <cstdint>
#include <cstdlib>

using feeds::TUri;

namespace {

void Require(bool condition) {
    if (!condition)
        std::abort();
}

bool PortWritten(const TUri& uri) {
    return uri.IncludePort && uri.Port != 0 && uri.Port != 80 && uri.Port != 443;
}

void CheckRebuilt(const TUri& uri, const QByteArray& address, bool withCredentials) {
    const TUri again(address);
    Require(again.Scheme == uri.Scheme);
    Require(again.Host == uri.Host);
    Require(again.Path == uri.Path);
    Require(again.ExtraInfo == uri.ExtraInfo);
    if (withCredentials && uri.HasCredentials()) {
        Require(again.UserName == uri.UserName);
        Require(again.Password == uri.Password);
    } else {
        Require(again.UserName.isEmpty() && again.Password.isEmpty());
    }
    if (PortWritten(uri))
        Require(again.Port == uri.Port);
    else
        Require(again.Port == TUri(uri.Scheme + "://host/").Port);
}

void CheckEncoding(const QByteArray& bytes) {
    const QByteArray encoded = TUri::UrlEncode(bytes);
    for (const char c : encoded) {
        Require((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                c == '+' || c == '%');
    }
    Require(TUri::UrlDecode(encoded) == bytes);
    Require(TUri::UrlDecode(bytes).size() <= bytes.size());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    CheckEncoding(bytes);

    TUri uri(bytes);
    if (uri.Scheme.isEmpty()) {
        Require(uri.Port == 0 && uri.Host.isEmpty() && uri.UserName.isEmpty() &&
                uri.Password.isEmpty() && uri.Path.isEmpty() && uri.ExtraInfo.isEmpty());
        return 0;
    }
    Require(uri.PathAndExtra() == uri.Path + uri.ExtraInfo);
    CheckRebuilt(uri, uri.UrlWithCredentials(), true);
    CheckRebuilt(uri, uri.UrlWithoutCredentials(), false);
    uri.IncludePort = false;
    CheckRebuilt(uri, uri.UrlWithCredentials(), true);
    return 0;
}
