#pragma once

#include <cstdio>

// velquint-cfb: lists, reads, changes and checks compound files from the command line.
namespace cfbtool {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUnreadable = 2; // check: the file cannot be read at all
inline constexpr int kExitUsage = 64;

// Runs one command line; put reads in, everything else writes to out and err.
int Run(int argc, char** argv, std::FILE* in, std::FILE* out, std::FILE* err);

} // namespace cfbtool
