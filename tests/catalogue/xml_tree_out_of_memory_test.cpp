// Runs out of memory at every point of building a tree. This program replaces the global
// operator new, so it stands on its own.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <new>
#include <sstream>
#include <string>

#include "catalogue/patch_info.h"
#include "catalogue/xml_tree.h"

namespace {

// -1: no limit; otherwise how many allocations may still succeed before every later one fails.
std::atomic<long> g_allocationsLeft{-1};
std::atomic<long> g_allocations{0};

}  // namespace

void* operator new(std::size_t size) {
    ++g_allocations;
    long left = g_allocationsLeft.load();
    while (left > 0 && !g_allocationsLeft.compare_exchange_weak(left, left - 1)) {
    }
    if (left == 0)
        throw std::bad_alloc();
    if (void* p = std::malloc(size == 0 ? 1 : size))
        return p;
    throw std::bad_alloc();
}
// GCC cannot see that the operator new above is the one pairing with these.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

namespace {

// Collects std::cerr into a fixed buffer, so that reporting the failure needs no memory.
class FixedCerr : public std::streambuf {
  public:
    FixedCerr() : m_old(std::cerr.rdbuf(this)) { setp(m_buffer, m_buffer + sizeof(m_buffer)); }
    ~FixedCerr() override { std::cerr.rdbuf(m_old); }
    std::string Text() const { return std::string(pbase(), pptr()); }

  private:
    char m_buffer[512];
    std::streambuf* m_old;
};

const char kCatalogue[] =
    "<patch_info patcherversion=\"1.0.0.38\"><game_version_list>"
    "<release name=\"Gold edition of the game\" latestversion=\"1.2.0.0\"><checksums>"
    "<checksum md5=\"0123456789abcdef0123456789abcdef\" exe_id=\"gold\"/></checksums>"
    "<patch_list><update version=\"1.2.0.0\" installer=\"patch.exe\"><download_list>"
    "<download url=\"http://dl.example/a\" target=\"a.bin\" size=\"3000000000\"/>"
    "</download_list></update></patch_list></release></game_version_list>"
    "<changelog_list><changelog version=\"1.2.0.0\"><text language=\"English\">"
    "Notes that are long enough to leave the small-string buffer\\n&amp; more"
    "</text></changelog></changelog_list></patch_info>";

std::size_t CountNodes(const XmlNode& node) {
    std::size_t count = 1;
    for (std::size_t i = 0; i < node.ChildCount(); ++i)
        count += CountNodes(*node.Child(i));
    return count;
}

TEST(XmlOutOfMemoryTest, EveryFailurePointStopsTheParseAndKeepsAPartialTree) {
    std::istringstream whole(kCatalogue);
    const long before = g_allocations.load();
    std::unique_ptr<XmlNode> complete = XmlParse(whole, "");
    const long used = g_allocations.load() - before;
    const std::size_t completeNodes = CountNodes(*complete);
    ASSERT_GT(used, 10);
    std::printf("failure injected at each of %ld allocations\n", used - 1);

    // The first allocation is the empty node itself; the last one completes the tree.
    for (long allowed = 1; allowed < used; ++allowed) {
        std::istringstream in(kCatalogue);
        FixedCerr errors;
        g_allocationsLeft = allowed;
        std::unique_ptr<XmlNode> root = XmlParse(in, "");
        g_allocationsLeft = -1;

        ASSERT_NE(root, nullptr) << allowed;
        const std::string line = errors.Text();
        EXPECT_EQ(line.rfind("XML error: [] at line 1, errorcode 35 : 'parsing aborted'\n", 0), 0u)
            << "allowed " << allowed << ": " << line;
        EXPECT_LE(CountNodes(*root), completeNodes);
        // Whatever was kept must be safe to read.
        PatchInfo info;
        ReadPatchInfo(root.get(), info);
    }
}

TEST(XmlOutOfMemoryTest, NoRoomEvenForTheEmptyNodeThrows) {
    std::istringstream in(kCatalogue);
    g_allocationsLeft = 0;
    EXPECT_THROW(XmlParse(in, ""), std::bad_alloc);
    g_allocationsLeft = -1;
}

}  // namespace
