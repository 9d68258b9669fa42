#include "cfbtool.h"

#include "toolpath.h"

#include "platform/cfb/cfbname.h"
#include "platform/cfb/cfbstorage.h"

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace cfbtool {
namespace {

using namespace platform::cfb;

constexpr const char* kUsage =
    "usage: velquint-cfb COMMAND FILE [PATH]\n"
    "\n"
    "Lists, reads, changes and checks compound files.\n"
    "\n"
    "commands:\n"
    "  ls FILE         list every element, one a line: kind, size in bytes (\"-\" for a\n"
    "                  storage), path; children in the order the file keeps them\n"
    "  cat FILE PATH   write the bytes of the stream PATH to standard output\n"
    "  put FILE PATH   store standard input as the stream PATH, replacing one that is there;\n"
    "                  FILE and the storages on the way are created when missing\n"
    "  rm FILE PATH    remove the element PATH, a storage with everything in it\n"
    "  check FILE      check every chain and entry and print what is wrong; exit status 0\n"
    "                  for a clean file, 1 when anything is wrong, 2 when FILE cannot be read\n"
    "  --help          show this text\n"
    "\n"
    "PATH names elements from the root, separated by \"/\" or \"\\\", e.g. \"Feeds/Item 1\".\n"
    "put and rm commit once, at the end; a command that fails leaves the file as it was.\n"
    "Exit status: 0 done, 1 failed, 2 unreadable (check), 64 usage error.\n";

constexpr uint32_t kReadMode = STGM_READ | STGM_SHARE_DENY_WRITE;
constexpr uint32_t kWriteMode = STGM_READWRITE | STGM_SHARE_EXCLUSIVE | STGM_TRANSACTED;
constexpr uint32_t kChildRead = STGM_READ | STGM_SHARE_EXCLUSIVE;
constexpr uint32_t kChildWrite = STGM_READWRITE | STGM_SHARE_EXCLUSIVE;
constexpr size_t kChunk = 64 * 1024;

class Tool {
public:
    Tool(std::FILE* in, std::FILE* out, std::FILE* err) : in_(in), out_(out), err_(err) {}

    int Usage(const char* why) {
        std::fprintf(err_, "velquint-cfb: %s\n%s", why, kUsage);
        return kExitUsage;
    }

    int Help() {
        std::fputs(kUsage, out_);
        return kExitOk;
    }

    int Ls(const std::string& file);
    int Cat(const std::string& file, const std::string& path);
    int Put(const std::string& file, const std::string& path);
    int Rm(const std::string& file, const std::string& path);
    int Check(const std::string& file);

private:
    // A path taken apart: its elements as typed and as the file spells them.
    struct Path {
        std::vector<std::string> text;
        std::vector<std::u16string> names;
    };

    int Fail(const std::string& what, HResult hr) {
        std::fprintf(err_, "velquint-cfb: %s: %s\n", what.c_str(), ResultMessage(hr).c_str());
        return kExitFailure;
    }

    // Names the element at depth (0-based) of path inside file in messages.
    static std::string Where(const std::string& file, const Path& path, size_t depth) {
        return file + ": " + JoinPath(path.text, depth + 1);
    }

    // Splits text into names; false (after the message) when an element is not a valid name.
    bool Parse(const std::string& file, const std::string& text, Path& path) {
        path.text = SplitPath(text);
        path.names.clear();
        if (path.text.empty()) {
            Fail(file + ": " + (text.empty() ? "\"\"" : text), STG_E_INVALIDNAME);
            return false;
        }
        for (size_t i = 0; i < path.text.size(); ++i) {
            std::u16string name;
            if (!Utf8ToUtf16(path.text[i], name) || !IsValidName(name)) {
                Fail(Where(file, path, i), STG_E_INVALIDNAME);
                return false;
            }
            path.names.push_back(std::move(name));
        }
        return true;
    }

    // Opens the storages of path's elements before the last, for writing when asked, and
    // creates missing ones when asked. chain holds every storage opened, the root first.
    bool OpenParents(const std::string& file, const Path& path, bool write, bool create,
                     std::vector<std::unique_ptr<Storage>>& chain) {
        const uint32_t mode = write ? kChildWrite : kChildRead;
        for (size_t i = 0; i + 1 < path.names.size(); ++i) {
            std::unique_ptr<Storage> next;
            HResult hr = chain.back()->OpenStorage(path.names[i], mode, next);
            if (hr == STG_E_FILENOTFOUND && create)
                hr = chain.back()->CreateStorage(path.names[i], mode, next);
            if (Failed(hr)) {
                Fail(Where(file, path, i), hr);
                return false;
            }
            chain.push_back(std::move(next));
        }
        return true;
    }

    std::FILE* in_;
    std::FILE* out_;
    std::FILE* err_;
};

int Tool::Ls(const std::string& file) {
    std::unique_ptr<Storage> root;
    if (const HResult hr = StgOpenStorage(file, kReadMode, root); Failed(hr))
        return Fail(file, hr);
    // Depth first, without recursion: a file may nest storages very deeply.
    struct Level {
        std::unique_ptr<Storage> storage;
        std::vector<StatStg> children;
        size_t next = 0;
        std::string path;
    };
    std::vector<Level> stack;
    stack.push_back({std::move(root), {}, 0, ""});
    if (const HResult hr = stack.back().storage->EnumElements(stack.back().children); Failed(hr))
        return Fail(file, hr);
    while (!stack.empty()) {
        const size_t top = stack.size() - 1;
        if (stack[top].next == stack[top].children.size()) {
            stack.pop_back();
            continue;
        }
        const StatStg& child = stack[top].children[stack[top].next++];
        std::string path = stack[top].path + "/" + Utf16ToUtf8(child.name);
        if (child.type == STGTY_STREAM) {
            std::fprintf(out_, "stream  %12llu  %s\n", static_cast<unsigned long long>(child.size),
                         path.c_str());
            continue;
        }
        std::fprintf(out_, "storage %12s  %s\n", "-", path.c_str());
        Level level;
        if (const HResult hr =
                stack[top].storage->OpenStorage(child.name, kChildRead, level.storage);
            Failed(hr))
            return Fail(file + ": " + path, hr);
        if (const HResult hr = level.storage->EnumElements(level.children); Failed(hr))
            return Fail(file + ": " + path, hr);
        level.path = std::move(path);
        stack.push_back(std::move(level));
    }
    if (std::fflush(out_) != 0 || std::ferror(out_))
        return Fail("standard output", STG_E_WRITEFAULT);
    return kExitOk;
}

int Tool::Cat(const std::string& file, const std::string& text) {
    Path path;
    if (!Parse(file, text, path))
        return kExitFailure;
    std::vector<std::unique_ptr<Storage>> chain(1);
    if (const HResult hr = StgOpenStorage(file, kReadMode, chain.front()); Failed(hr))
        return Fail(file, hr);
    if (!OpenParents(file, path, false, false, chain))
        return kExitFailure;
    const std::string where = Where(file, path, path.names.size() - 1);
    std::unique_ptr<Stream> stream;
    if (const HResult hr = chain.back()->OpenStream(path.names.back(), kChildRead, stream);
        Failed(hr))
        return Fail(where, hr);
    std::vector<char> buffer(kChunk);
    for (;;) {
        uint32_t got = 0;
        if (const HResult hr = stream->Read(buffer.data(), kChunk, &got); Failed(hr))
            return Fail(where, hr);
        if (got == 0)
            break;
        if (std::fwrite(buffer.data(), 1, got, out_) != got)
            return Fail("standard output", STG_E_WRITEFAULT);
    }
    if (std::fflush(out_) != 0)
        return Fail("standard output", STG_E_WRITEFAULT);
    return kExitOk;
}

int Tool::Put(const std::string& file, const std::string& text) {
    Path path;
    if (!Parse(file, text, path))
        return kExitFailure;
    std::vector<std::unique_ptr<Storage>> chain(1);
    bool created = false;
    HResult hr = StgOpenStorage(file, kWriteMode, chain.front());
    if (hr == STG_E_FILENOTFOUND) {
        hr = StgCreateDocfile(&file, kWriteMode, chain.front());
        created = Succeeded(hr);
    }
    if (Failed(hr))
        return Fail(file, hr);
    // Nothing is committed unless every step succeeds; a file made for this put goes again.
    auto discard = [&] {
        chain.clear();
        if (created)
            std::remove(file.c_str());
        return kExitFailure;
    };
    auto fail = [&](const std::string& what, HResult failure) {
        Fail(what, failure);
        return discard();
    };
    if (!OpenParents(file, path, true, true, chain))
        return discard();
    const std::string where = Where(file, path, path.names.size() - 1);
    {
        // put replaces streams only: a storage of that name keeps its contents.
        std::unique_ptr<Storage> existing;
        if (Succeeded(chain.back()->OpenStorage(path.names.back(), kChildRead, existing)))
            return fail(where, STG_E_FILEALREADYEXISTS);
    }
    std::unique_ptr<Stream> stream;
    if (const HResult e =
            chain.back()->CreateStream(path.names.back(), kChildWrite | STGM_CREATE, stream);
        Failed(e))
        return fail(where, e);
    std::vector<char> buffer(kChunk);
    for (;;) {
        const size_t got = std::fread(buffer.data(), 1, kChunk, in_);
        if (got > 0) {
            uint32_t put = 0;
            if (const HResult e = stream->Write(buffer.data(), static_cast<uint32_t>(got), &put);
                Failed(e))
                return fail(where, e);
        }
        if (got < kChunk) {
            if (std::ferror(in_))
                return fail("standard input", STG_E_READFAULT);
            break;
        }
    }
    stream.reset();
    if (const HResult e = chain.front()->Commit(STGC_DEFAULT); Failed(e))
        return fail(file, e);
    return kExitOk;
}

int Tool::Rm(const std::string& file, const std::string& text) {
    Path path;
    if (!Parse(file, text, path))
        return kExitFailure;
    std::vector<std::unique_ptr<Storage>> chain(1);
    if (const HResult hr = StgOpenStorage(file, kWriteMode, chain.front()); Failed(hr))
        return Fail(file, hr);
    if (!OpenParents(file, path, true, false, chain))
        return kExitFailure;
    if (const HResult hr = chain.back()->DestroyElement(path.names.back()); Failed(hr))
        return Fail(Where(file, path, path.names.size() - 1), hr);
    if (const HResult hr = chain.front()->Commit(STGC_DEFAULT); Failed(hr))
        return Fail(file, hr);
    return kExitOk;
}

int Tool::Check(const std::string& file) {
    CheckReport report;
    const HResult hr = CompoundFile::Check(file, {}, report);
    if (Failed(hr) && hr != STG_E_DOCFILECORRUPT && hr != STG_E_INVALIDHEADER) {
        std::fprintf(err_, "velquint-cfb: %s: %s\n", file.c_str(), ResultMessage(hr).c_str());
        return kExitUnreadable;
    }
    for (const std::string& e : report.errors)
        std::fprintf(out_, "error: %s\n", e.c_str());
    for (const std::string& p : report.problems)
        std::fprintf(out_, "problem: %s\n", p.c_str());
    const bool clean = Succeeded(hr) && report.Clean();
    if (clean) {
        std::fprintf(out_, "%s: clean, %u sectors, %u entries\n", file.c_str(), report.sectors,
                     report.entries);
    } else {
        const size_t errors = report.errors.size() + (Failed(hr) && report.errors.empty());
        const size_t problems = report.problems.size();
        std::fprintf(out_, "%s: %zu %s, %zu %s\n", file.c_str(), errors,
                     errors == 1 ? "error" : "errors", problems,
                     problems == 1 ? "problem" : "problems");
    }
    std::fflush(out_);
    return clean ? kExitOk : kExitFailure;
}

} // namespace

int Run(int argc, char** argv, std::FILE* in, std::FILE* out, std::FILE* err) {
    Tool tool(in, out, err);
    std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    if (args.empty())
        return tool.Usage("no command given");
    if (args[0] == "--help" || args[0] == "-h" || args[0] == "help")
        return tool.Help();
    const std::string& command = args[0];
    struct Command {
        const char* name;
        size_t operands; // after the command
    };
    static constexpr Command commands[] = {
        {"ls", 1}, {"cat", 2}, {"put", 2}, {"rm", 2}, {"check", 1},
    };
    const Command* found = nullptr;
    for (const Command& c : commands)
        if (command == c.name)
            found = &c;
    if (!found)
        return tool.Usage(("unknown command \"" + command + "\"").c_str());
    if (args.size() - 1 != found->operands)
        return tool.Usage(
            (command + " takes " + (found->operands == 1 ? "FILE" : "FILE PATH")).c_str());
    if (command == "ls")
        return tool.Ls(args[1]);
    if (command == "cat")
        return tool.Cat(args[1], args[2]);
    if (command == "put")
        return tool.Put(args[1], args[2]);
    if (command == "rm")
        return tool.Rm(args[1], args[2]);
    return tool.Check(args[1]);
}

} // namespace cfbtool
