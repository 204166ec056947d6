// Mapped files: what they show, and a file cut short under its map ending the guarded call
// rather than the process.

#include "platform/mapped_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "platform/platform.h"
#include "tests/support/temp_dir.h"

namespace {

struct Touch {
    const unsigned char* data;
    std::size_t size;
    unsigned sum;
};

void SumEveryPage(void* context) {
    auto* touch = static_cast<Touch*>(context);
    for (std::size_t at = 0; at < touch->size; at += 4096)
        touch->sum += touch->data[at];
}

TEST(MappedFileTest, AFileCutShortUnderItsMapFailsTheGuardedCallAndNothingElse) {
    TempDir dir;
    const std::string bytes(1 << 20, '\x01');
    ASSERT_TRUE(dir.WriteFile("base", bytes));
    platform::UniqueFile file = platform::OpenFile(dir.WidePathOf("base"), "rb");
    platform::MappedFile map;
    ASSERT_TRUE(map.MapForReading(file.get()));
    ASSERT_EQ(map.Size(), bytes.size());

    Touch whole{map.Data(), map.Size(), 0};
    EXPECT_TRUE(platform::RunGuardedAgainstBusError(&SumEveryPage, &whole));
    EXPECT_EQ(whole.sum, bytes.size() / 4096);

    ASSERT_EQ(truncate(dir.NarrowPathOf("base").c_str(), 4096), 0);
    Touch cut{map.Data(), map.Size(), 0};
    EXPECT_FALSE(platform::RunGuardedAgainstBusError(&SumEveryPage, &cut));
    EXPECT_EQ(cut.sum, 1u);  // the first page is still there
    // The guard is gone with its call; the next one works as before.
    Touch first{map.Data(), 4096, 0};
    EXPECT_TRUE(platform::RunGuardedAgainstBusError(&SumEveryPage, &first));
}

TEST(MappedFileTest, AMapForWritingSizesTheFileAndItsBytesReachIt) {
    TempDir dir;
    platform::UniqueFile file = platform::OpenFile(dir.WidePathOf("out"), "w+b");
    platform::MappedFile map;
    ASSERT_TRUE(map.MapForWriting(file.get(), 10000));
    ASSERT_NE(map.MutableData(), nullptr);
    map.MutableData()[9999] = 'z';
    map.Unmap();
    file.reset();
    const std::string written = dir.ReadFile("out").value_or("");
    ASSERT_EQ(written.size(), 10000u);
    EXPECT_EQ(written.back(), 'z');
    EXPECT_EQ(written.front(), '\0');
}

}  // namespace
