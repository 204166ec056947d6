// Feeds arbitrary bytes through the catalogue path of the launcher: the document tree, the
// catalogue readers and the queries the later steps run on the model.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>

#include "catalogue/patch_info.h"
#include "catalogue/xml_tree.h"

namespace {

// Every malformed input writes its error line; thousands of them per second would drown the
// fuzzer's own report.
struct SilenceCerr {
    SilenceCerr() : m_old(std::cerr.rdbuf(&m_sink)) {}
    ~SilenceCerr() { std::cerr.rdbuf(m_old); }

    struct NullBuffer : std::streambuf {
        int overflow(int c) override { return traits_type::not_eof(c); }
        std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
    };
    NullBuffer m_sink;
    std::streambuf* m_old;
};

void Exercise(const std::string& bytes) {
    std::istringstream in(bytes);
    std::unique_ptr<XmlNode> root = XmlParse(in, "");

    PatchInfo info;
    const bool valid = ReadPatchInfo(root.get(), info);
    (void)valid;

    for (const auto& game : info.game_version_list) {
        for (const auto& sum : game->checksums) {
            SelectInstalledGame(info, sum->md5);
            if (info.installed_game == nullptr || !HasChecksum(*info.installed_game, sum->md5))
                __builtin_trap();
        }
        if (game->latest != nullptr && game->latest->version != game->latestversion)
            __builtin_trap();
    }
    for (const auto& log : info.changelog_list) {
        for (const wchar_t* language : {L"English", L"French", L"German"})
            (void)FindChangelogText(*log, language);
        for (const auto& text : log->texts) {
            if (FindChangelogText(*log, text->language.c_str()) == nullptr)
                __builtin_trap();
        }
    }
    SelectInstalledGame(info, L"open__error");

    // The tree's own lookups, over whatever the parse produced.
    (void)XmlGetAttribute(root.get(), "patcherurl", "");
    (void)XmlGetIntAttribute(root.get(), "size", 7);
    (void)XmlGetInt64Attribute(root.get(), "size", 7);
    XmlFree(root.release(), true);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static SilenceCerr silence;
    const std::string raw(reinterpret_cast<const char*>(data), size);
    // The update flow hands the body over as a C string, so the document ends at its first NUL.
    const std::size_t nul = raw.find('\0');
    if (nul != std::string::npos)
        Exercise(raw.substr(0, nul));
    Exercise(raw);
    return 0;
}
