#include "store/searchmatch.h"

#include <gtest/gtest.h>

namespace {

TEST(SearchMatch, CaseAndWholeWordRules) {
    struct Row {
        const char* haystack;
        const char* needle;
        bool matchCase;
        bool wholeWords;
        bool found;
    };
    const Row rows[] = {
        {"Feed Reader", "reader", false, false, true},
        {"Feed Reader", "reader", true, false, false},
        {"Feed Reader", "Reader", true, true, true},
        {"Readers", "reader", false, true, false},
        {"a readers' reader.", "reader", false, true, true},
        {"x_reader", "reader", false, true, true},
        {"<b>reader</b>", "reader", false, true, true},
        {"1reader", "reader", false, true, false},
        {"Café", "CAFÉ", false, false, true},
        {"Café", "afé", true, false, true},
        {"Café", "café", true, false, false},
        {"", "x", false, false, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.haystack) + " / " + row.needle);
        EXPECT_EQ(store::Contains(row.haystack, row.needle, {row.matchCase, row.wholeWords}),
                  row.found);
    }
}

} // namespace
