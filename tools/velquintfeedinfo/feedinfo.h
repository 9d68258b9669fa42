#pragma once

#include <cstdio>

// velquint-feedinfo FILE [--compact]: reads a feed file with the detection loop and prints the feed
// model as one JSON object (dates as local time); --compact puts it on one line.
namespace feedinfo {

inline constexpr int kExitOk = 0;
inline constexpr int kExitNotAFeed = 1; // the JSON says "ok": false
inline constexpr int kExitUnreadable = 2;
inline constexpr int kExitUsage = 64;

int Run(int argc, char** argv, std::FILE* out, std::FILE* err);

} // namespace feedinfo
