#include "store/searchmatch.h"

#include "platform/ansicodepage.h"

namespace store {

namespace {

bool IsWordCharacter(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

QByteArray UpperCased(const QByteArray& text) {
    return platform::WideToUtf8(platform::AnsiToWide(text).toUpper());
}

} // namespace

bool Contains(const QByteArray& haystack, const QByteArray& needle, TCompareOptions options) {
    const QByteArray text = options.MatchCase ? haystack : UpperCased(haystack);
    const QByteArray word = options.MatchCase ? needle : UpperCased(needle);
    for (qsizetype at = text.indexOf(word); at >= 0; at = text.indexOf(word, at + 1)) {
        if (!options.MatchWholeWords)
            return true;
        const qsizetype end = at + word.size();
        const bool startsWord = at == 0 || !IsWordCharacter(text.at(at - 1));
        const bool endsWord = end == text.size() || !IsWordCharacter(text.at(end));
        if (startsWord && endsWord)
            return true;
    }
    return false;
}

} // namespace store
