// Cost of building the document tree against bare Expat over the same bytes, in the same run.
// Both read the document from a string stream in 4096-byte chunks; the bare parser has handlers
// that do nothing, so the ratio is what the tree itself adds.
//   xml_tree_bench [repetitions]     (default 5; the best time of each side is kept)

#include <expat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <sstream>
#include <string>

#include "catalogue/patch_info.h"
#include "catalogue/xml_tree.h"

namespace {

constexpr std::size_t kChunkSize = 4096;

void XMLCALL IgnoreStart(void*, const XML_Char*, const XML_Char**) {}
void XMLCALL IgnoreEnd(void*, const XML_Char*) {}
void XMLCALL IgnoreText(void*, const XML_Char*, int) {}

bool BareExpat(const std::string& document) {
    std::istringstream in(document);
    XML_Parser parser = XML_ParserCreate(nullptr);
    XML_SetElementHandler(parser, IgnoreStart, IgnoreEnd);
    XML_SetCharacterDataHandler(parser, IgnoreText);
    char buffer[kChunkSize];
    bool ok = true;
    while (ok && !in.fail()) {
        in.read(buffer, kChunkSize);
        const std::streamsize count = in.gcount();
        if (count <= 0)
            break;
        ok = XML_Parse(parser, buffer, static_cast<int>(count), in.eof()) != XML_STATUS_ERROR;
    }
    XML_ParserFree(parser);
    return ok;
}

double Seconds(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A catalogue as published, indented over many lines: releases with checksums and patches of
// several files, and release notes in three languages.
std::string MakeCatalogue(std::size_t targetBytes) {
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<patch_info patcherversion=\""
        "1.0.0.38\" patcherurl=\"http://www.velmora.example/launcher\">\n"
        "  <game_version_list>\n";
    std::string notes;
    for (int line = 0; line < 12; ++line)
        notes += "        - fixed issue " + std::to_string(line) + " in the world map\\n\n";
    int release = 0;
    for (; xml.size() < targetBytes * 7 / 10; ++release) {
        const std::string r = std::to_string(release);
        xml +=
            "    <release name=\"Velmora II \xC3\x89"
            "dition " +
            r + "\" latestversion=\"1.9.0." + r + "\">\n      <checksums>\n";
        for (int c = 0; c < 4; ++c) {
            xml += "        <checksum md5=\"0123456789abcdef0123456789abc" +
                   std::to_string(100 + c) + "\" exe_id=\"build-" + r + "-" + std::to_string(c) +
                   "\"/>\n";
        }
        xml += "      </checksums>\n      <patch_list>\n";
        for (int p = 0; p < 5; ++p) {
            const std::string v = "1." + std::to_string(5 + p) + ".0." + r;
            xml += "        <update version=\"" + v + "\" installer=\"patch_" + v +
                   ".exe\">\n          <download_list>\n";
            for (int d = 0; d < 4; ++d) {
                xml += "            <download url=\"http://dl.velmora.example/patches/" + v +
                       "/part" + std::to_string(d) + ".bin\" target=\"part" + std::to_string(d) +
                       ".bin\" md5=\"fedcba9876543210fedcba98765432" + std::to_string(10 + d) +
                       "\" size=\"" + std::to_string(3000000000LL + d) + "\"/>\n";
            }
            xml += "          </download_list>\n        </update>\n";
        }
        xml += "      </patch_list>\n    </release>\n";
    }
    xml += "  </game_version_list>\n  <changelog_list>\n";
    for (int c = 0; xml.size() < targetBytes; ++c) {
        xml += "    <changelog version=\"1.9.0." + std::to_string(c) + "\">\n";
        for (const char* language : {"English", "French", "German"})
            xml += "      <text language=\"" + std::string(language) + "\">\n" + notes +
                   "      </text>\n";
        xml += "    </changelog>\n";
    }
    xml += "  </changelog_list>\n</patch_info>\n";
    return xml;
}

// One element whose text is about 2 MB written over 40,000 lines.
std::string MakeLongText() {
    std::string xml = "<notes>";
    for (int line = 0; line < 40000; ++line) {
        std::string text = "line " + std::to_string(line) + " of the release notes, padded";
        text.resize(51, '.');
        xml += text + "\n";
    }
    return xml + "</notes>";
}

// The same amount of text, but cut by Expat into tiny chunks at every entity reference.
std::string MakeEntityText() {
    std::string xml = "<notes>";
    while (xml.size() < 2000000)
        xml += "a&amp;b&lt;";
    return xml + "</notes>";
}

std::string MakeDeep(int depth) {
    std::string xml;
    for (int i = 0; i < depth; ++i)
        xml += "<a>";
    for (int i = 0; i < depth; ++i)
        xml += "</a>";
    return xml;
}

struct Result {
    double bare = 1e9, build = 1e9, buildAndFree = 1e9;
};

Result Measure(const std::string& document, int repetitions, bool readCatalogue) {
    Result best;
    for (int i = 0; i < repetitions; ++i) {
        best.bare = std::min(best.bare, Seconds([&] {
                                 if (!BareExpat(document))
                                     std::fprintf(stderr, "bare parse failed\n");
                             }));
        std::unique_ptr<XmlNode> root;
        const double build = Seconds([&] {
            std::istringstream in(document);
            root = XmlParse(in, "");
        });
        if (readCatalogue) {
            PatchInfo info;
            if (!ReadPatchInfo(root.get(), info))
                std::fprintf(stderr, "catalogue refused\n");
        }
        const double free = Seconds([&] { root.reset(); });
        best.build = std::min(best.build, build);
        best.buildAndFree = std::min(best.buildAndFree, build + free);
    }
    return best;
}

void Report(const char* name, std::size_t bytes, const Result& r, double target) {
    const double ratio = r.build / r.bare;
    std::printf(
        "%-34s %7.2f MB  bare %8.1f ms  tree %8.1f ms (with free %8.1f ms)  "
        "ratio %5.2f (with free %5.2f)",
        name, bytes / 1e6, r.bare * 1e3, r.build * 1e3, r.buildAndFree * 1e3, ratio,
        r.buildAndFree / r.bare);
    if (target > 0)
        std::printf("  target <= %.0fx: %s", target, ratio <= target ? "met" : "MISSED");
    std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
    const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;

    const std::string catalogue = MakeCatalogue(50u * 1000u * 1000u);
    Report("catalogue", catalogue.size(), Measure(catalogue, repetitions, true), 2.0);

    const std::string longText = MakeLongText();
    Report("2 MB text over 40,000 lines", longText.size(), Measure(longText, repetitions, false),
           3.0);

    const std::string entities = MakeEntityText();
    Report("2 MB text in entity-sized chunks", entities.size(),
           Measure(entities, repetitions, false), 3.0);

    const std::string deep = MakeDeep(1000000);
    // No target: shows that depth costs the tree no more per element than breadth does.
    Report("1,000,000 levels deep", deep.size(), Measure(deep, repetitions, false), 0);
    return 0;
}
