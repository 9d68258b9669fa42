#pragma once

#include <QByteArray>

namespace store {

class TTopicIndex;

struct TCompareOptions {
    bool MatchCase = false;
    bool MatchWholeWords = false;
};

// Whether needle occurs in haystack (8-bit texts). Without MatchCase both are upper-cased first;
// with MatchWholeWords a match must be bounded by the ends of the text or by characters that are
// not ASCII letters or digits.
bool Contains(const QByteArray& haystack, const QByteArray& needle, TCompareOptions options);

} // namespace store
