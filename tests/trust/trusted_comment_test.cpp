#include "trust/trusted_comment.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

namespace {

using namespace std::chrono_literals;
using std::chrono::sys_days;
using std::chrono::sys_seconds;

TEST(UtcTimeTest, WellFormedTimesAndTheirValues) {
    struct Vector {
        const char* text;
        sys_seconds time;
    };
    const Vector vectors[] = {
        {"2027-06-30T00:00:00Z", sys_days{2027y / 6 / 30}},
        {"1970-01-01T00:00:00Z", sys_seconds{}},
        {"2028-02-29T23:59:59Z", sys_days{2028y / 2 / 29} + 23h + 59min + 59s},
        {"2000-02-29T12:00:00Z", sys_days{2000y / 2 / 29} + 12h},
        {"1969-12-31T23:59:59Z", sys_seconds{} - 1s},
        {"9999-12-31T23:59:59Z", sys_days{9999y / 12 / 31} + 23h + 59min + 59s},
    };
    for (const Vector& v : vectors) {
        sys_seconds time{};
        ASSERT_TRUE(ParseUtcTime(v.text, time)) << v.text;
        EXPECT_EQ(time, v.time) << v.text;
        EXPECT_EQ(FormatUtcTime(time), v.text);
    }
}

TEST(UtcTimeTest, EverythingElseRefused) {
    for (const char* text : {"",
                             "2027-06-30",
                             "2027-06-30T00:00:00",
                             "2027-06-30T00:00:00z",
                             "2027-06-30t00:00:00Z",
                             "2027-06-30 00:00:00Z",
                             "2027-06-30T00:00:00+00:00",
                             "2027-06-30T00:00:00.5Z",
                             "2027-6-30T00:00:00Z",
                             "27-06-30T00:00:00Z",
                             "2027-02-29T00:00:00Z",
                             "1900-02-29T00:00:00Z",
                             "2027-13-01T00:00:00Z",
                             "2027-00-10T00:00:00Z",
                             "2027-06-00T00:00:00Z",
                             "2027-04-31T00:00:00Z",
                             "2027-06-30T24:00:00Z",
                             "2027-06-30T23:60:00Z",
                             "2027-06-30T23:59:60Z",
                             "2027-06-30T00:00:00ZZ",
                             "+027-06-30T00:00:00Z",
                             "2027-06-30T0a:00:00Z",
                             "2027/06/30T00:00:00Z"}) {
        sys_seconds time = sys_days{2001y / 1 / 1};
        EXPECT_FALSE(ParseUtcTime(text, time)) << text;
        EXPECT_EQ(time, sys_days{2001y / 1 / 1}) << text;
    }
}

TEST(TrustedCommentTest, PublisherCommentRead) {
    TrustedCommentFields fields;
    ASSERT_TRUE(ParseTrustedComment("serial:42 expires:2027-06-30T00:00:00Z", fields));
    EXPECT_EQ(fields.serial, 42u);
    EXPECT_EQ(fields.expires, sys_days{2027y / 6 / 30});
}

TEST(TrustedCommentTest, OrderSeparatorsAndOtherWordsDoNotMatter) {
    TrustedCommentFields fields;
    ASSERT_TRUE(ParseTrustedComment(
        "timestamp:1700000000\tfile:patchinfo.xml  expires:2030-01-01T00:00:00Z\t serial:7 "
        "hashed Serial:9 xserial:8 serials:6",
        fields));
    EXPECT_EQ(fields.serial, 7u);
    EXPECT_EQ(fields.expires, sys_days{2030y / 1 / 1});
    EXPECT_EQ(fields.file, "patchinfo.xml");
}

TEST(TrustedCommentTest, NeitherFieldIsRequired) {
    for (const char* comment : {"", "   ", "timestamp:1700000000\tfile:patchinfo.xml"}) {
        TrustedCommentFields fields;
        fields.serial = 5;
        ASSERT_TRUE(ParseTrustedComment(comment, fields)) << comment;
        EXPECT_EQ(fields.serial, std::nullopt) << comment;
        EXPECT_EQ(fields.expires, std::nullopt) << comment;
    }
}

TEST(TrustedCommentTest, SerialLimits) {
    TrustedCommentFields fields;
    ASSERT_TRUE(ParseTrustedComment("serial:0", fields));
    EXPECT_EQ(fields.serial, 0u);
    ASSERT_TRUE(ParseTrustedComment("serial:18446744073709551615", fields));
    EXPECT_EQ(fields.serial, 18446744073709551615u);
    ASSERT_TRUE(ParseTrustedComment("serial:007", fields));
    EXPECT_EQ(fields.serial, 7u);
}

TEST(TrustedCommentTest, BadFieldsRefusedWithAReason) {
    for (const char* comment :
         {"serial:", "serial:-1", "serial:+1", "serial:1.5", "serial:0x10", "serial:4x2",
          "serial:18446744073709551616", "serial:99999999999999999999999", "serial:1 serial:1",
          "expires:", "expires:tomorrow", "expires:2027-06-30",
          "expires:2027-06-30T00:00:00Z expires:2027-06-30T00:00:00Z",
          "file:patchinfo.xml file:beta.xml"}) {
        TrustedCommentFields fields;
        fields.serial = 5;
        std::string error;
        EXPECT_FALSE(ParseTrustedComment(comment, fields, &error)) << comment;
        EXPECT_FALSE(error.empty()) << comment;
        EXPECT_EQ(fields.serial, 5u) << "a refused comment leaves the record alone: " << comment;
    }
}

}  // namespace
