#pragma once

#include <array>
#include <cstdio>
#include <span>

// velquint-doc: a command-line window onto a document file.
namespace velquintdoc {

class Session;
struct Invocation;

// One subcommand. Each group of commands lists its own in a table; Run knows the groups.
struct Command {
    const char* name;
    const char* arguments;              // what follows the name in the usage line
    const char* description;            // help text, lines indented by the help printer
    int operands;                       // exact number of operands
    std::array<const char*, 2> options; // options with a value that it takes; unused: nullptr
    bool reads;                         // a reading command: takes --json
    bool document;                      // works on a document file: takes --file
    int (*run)(Session& session, const Invocation& invocation);
};

// Runs one command line; everything goes to out and err.
int Run(int argc, char** argv, std::FILE* out, std::FILE* err);

} // namespace velquintdoc
