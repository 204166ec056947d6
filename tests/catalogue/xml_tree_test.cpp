#include "catalogue/xml_tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <memory>
#include <sstream>
#include <string>

#include "tests/catalogue/parse_helper.h"

namespace {

// --- Names -------------------------------------------------------------------------------

TEST(XmlNameHashTest, MultipliesBy33OverSignedBytes) {
    EXPECT_EQ(XmlNameHash(""), 0u);
    EXPECT_EQ(XmlNameHash("a"), 97u);
    EXPECT_EQ(XmlNameHash("ab"), 3299u);
    // Bytes above 0x7F count negative: 0xE9 is -23.
    EXPECT_EQ(XmlNameHash("\xE9"), 0xFFFFFFFFu - 22u);
    // A step landing exactly on 0xFFFFFFFF folds to 0.
    EXPECT_EQ(XmlNameHash("\xFF"), 0u);
    EXPECT_EQ(XmlNameHash("\xFF"
                          "a"),
              97u);
}

TEST(XmlNameHashTest, DocumentNamesHoldingHUnderscoreArePreHashed) {
    EXPECT_EQ(XmlDocumentNameHash("H_97"), 97u);
    EXPECT_EQ(XmlDocumentNameHash("H_3299"), XmlNameHash("ab"));
    // Only the first two characters are cut, wherever the H_ stands.
    EXPECT_EQ(XmlDocumentNameHash("XH_1"), 0u);
    EXPECT_EQ(XmlDocumentNameHash("ab12H_"), 12u);
    EXPECT_EQ(XmlDocumentNameHash("H_abc"), 0u);
    EXPECT_EQ(XmlDocumentNameHash("H_4294967295"), 4294967295u);
    EXPECT_EQ(XmlDocumentNameHash("patch_info"), XmlNameHash("patch_info"));
}

TEST(XmlNameHashTest, PreHashedNamesInADocumentMatchLookups) {
    ParsedXml doc = ParseXml(R"(<H_97 H_3299="pre" b="plain"><XH_1/></H_97>)");
    ASSERT_EQ(doc.errors, "");
    EXPECT_TRUE(XmlIsNamed(doc.root.get(), "a"));
    EXPECT_EQ(XmlGetAttribute(doc.root.get(), "ab", "-"), "pre");
    EXPECT_EQ(XmlGetAttribute(doc.root.get(), "b", "-"), "plain");
    ASSERT_EQ(doc.root->ChildCount(), 1u);
    EXPECT_EQ(doc.root->Child(0)->nameHash, 0u);
    EXPECT_FALSE(XmlIsNamed(nullptr, "a"));
}

// --- Text ------------------------------------------------------------------------------------

TEST(XmlTextTest, ConcatenatedAroundChildrenAndKeptApartFromThem) {
    ParsedXml doc = ParseXml("<a>x<b/>y<c>inner</c>z</a>");
    ASSERT_NE(doc.root->Text(), nullptr);
    EXPECT_STREQ(doc.root->Text(), "xyz");
    EXPECT_EQ(doc.root->Child(0)->Text(), nullptr);
    EXPECT_STREQ(doc.root->Child(1)->Text(), "inner");
}

TEST(XmlTextTest, LineBreaksDroppedIndentationKept) {
    ParsedXml doc = ParseXml("<t>first\n    second\r\n  third\rfourth&#10;fifth</t>");
    EXPECT_STREQ(doc.root->Text(), "first    second  thirdfourthfifth");
}

TEST(XmlTextTest, AbsentUnlessSomethingButLineBreaksArrived) {
    EXPECT_EQ(ParseXml("<a/>").root->Text(), nullptr);
    EXPECT_EQ(ParseXml("<a>\n\n</a>").root->Text(), nullptr);
    EXPECT_STREQ(ParseXml("<a> </a>").root->Text(), " ");
}

TEST(XmlTextTest, ReferencesDecodedAndCdataIncluded) {
    ParsedXml doc = ParseXml("<t>&lt;b&gt; &amp; &#233;<![CDATA[<raw> & ]]>end</t>");
    EXPECT_STREQ(doc.root->Text(), "<b> & \xC3\xA9<raw> & end");
}

TEST(XmlTextTest, TextSpanningManyChunksArrivesWhole) {
    std::string lines;
    for (int i = 0; i < 3000; ++i)
        lines += "line " + std::to_string(i) + " &amp;\n";
    std::string expected;
    for (int i = 0; i < 3000; ++i)
        expected += "line " + std::to_string(i) + " &";
    ParsedXml doc = ParseXml("<notes>" + lines + "</notes>");
    ASSERT_EQ(doc.errors, "");
    EXPECT_EQ(doc.root->Text(), expected);
}

// --- Attributes ------------------------------------------------------------------------------

TEST(XmlAttributeTest, KeptInDocumentOrderAndSearchedFromTheLast) {
    // "x" and "H_120" are distinct to the parser but share the hash 120.
    ParsedXml doc = ParseXml(R"(<a x="first" y="mid" H_120="last"/>)");
    ASSERT_EQ(doc.root->AttributeCount(), 3u);
    EXPECT_EQ(doc.root->attributes[1].value, "mid");
    EXPECT_EQ(XmlGetAttribute(doc.root.get(), "x", ""), "last");
    EXPECT_EQ(XmlGetAttribute(doc.root.get(), "missing", "fallback"), "fallback");
    EXPECT_EQ(XmlGetAttribute(nullptr, "x", "fallback"), "fallback");
}

TEST(XmlAttributeTest, IntegerReadingRules) {
    ParsedXml doc =
        ParseXml(R"(<a blanks="  42" word="abc" tail="1024 kB" neg="-17" big="2147483648" )"
                 R"(min="-2147483648" empty="" sign="+"/>)");
    const XmlNode* a = doc.root.get();
    EXPECT_EQ(XmlGetIntAttribute(a, "blanks", 5), 42);
    EXPECT_EQ(XmlGetIntAttribute(a, "word", 5), 0);
    EXPECT_EQ(XmlGetIntAttribute(a, "tail", 5), 1024);
    EXPECT_EQ(XmlGetIntAttribute(a, "neg", 5), -17);
    EXPECT_EQ(XmlGetIntAttribute(a, "big", 5), 0);
    EXPECT_EQ(XmlGetIntAttribute(a, "min", 5), INT32_MIN);
    EXPECT_EQ(XmlGetIntAttribute(a, "empty", 5), 0);
    EXPECT_EQ(XmlGetIntAttribute(a, "sign", 5), 0);
    EXPECT_EQ(XmlGetIntAttribute(a, "absent", 5), 5);
}

TEST(XmlAttributeTest, Int64ReadingRules) {
    ParsedXml doc =
        ParseXml(R"(<a v="3000000000" max="9223372036854775807" over="9223372036854775808" )"
                 R"(tail="5000000000MB" none="MB"/>)");
    const XmlNode* a = doc.root.get();
    EXPECT_EQ(XmlGetInt64Attribute(a, "v", 1), 3000000000LL);
    EXPECT_EQ(XmlGetInt64Attribute(a, "max", 1), INT64_MAX);
    EXPECT_EQ(XmlGetInt64Attribute(a, "over", 1), 0);
    EXPECT_EQ(XmlGetInt64Attribute(a, "tail", 1), 5000000000LL);
    EXPECT_EQ(XmlGetInt64Attribute(a, "none", 1), 0);
    EXPECT_EQ(XmlGetInt64Attribute(a, "absent", 1), 1);
    // The 32-bit reader keeps its own range.
    EXPECT_EQ(XmlGetIntAttribute(a, "v", 1), 0);
}

// --- Input that yields no document -------------------------------------------------------

void ExpectEmptyNode(const XmlNode& node) {
    EXPECT_EQ(node.nameHash, 0u);
    EXPECT_EQ(node.ChildCount(), 0u);
    EXPECT_EQ(node.AttributeCount(), 0u);
    EXPECT_EQ(node.Text(), nullptr);
}

TEST(XmlParseTest, EmptyStreamGivesEmptyNodeAndNoErrorLine) {
    ParsedXml doc = ParseXml("");
    ExpectEmptyNode(*doc.root);
    EXPECT_EQ(doc.errors, "");
}

TEST(XmlParseTest, FailedStreamIsNotParsed) {
    std::istringstream in("<a/>");
    in.setstate(std::ios::failbit);
    CerrCapture capture;
    auto root = XmlParse(in, "");
    ExpectEmptyNode(*root);
    EXPECT_EQ(capture.Text(), "");
}

TEST(XmlParseTest, BinaryAndUtf16CutAtNulGiveEmptyNodeWithOneErrorLine) {
    for (const std::string& input : {std::string("\x01\x02\xFE garbage", 11),
                                     std::string("\xFF\xFE<", 3), std::string("<?xml")}) {
        ParsedXml doc = ParseXml(input);
        ExpectEmptyNode(*doc.root);
        EXPECT_EQ(doc.errors.rfind("XML error: [] at line 1, errorcode ", 0), 0u) << doc.errors;
        EXPECT_EQ(std::count(doc.errors.begin(), doc.errors.end(), '\n'), 1);
    }
}

// --- Malformed documents -----------------------------------------------------------------

TEST(XmlParseTest, MismatchedTagGivesExactErrorLineAndPartialTree) {
    ParsedXml doc = ParseXml("<a k=\"v\">text\n<b>\n</a><c/>");
    EXPECT_EQ(doc.errors, "XML error: [] at line 3, errorcode 7 : 'mismatched tag'\n");
    ASSERT_TRUE(XmlIsNamed(doc.root.get(), "a"));
    EXPECT_EQ(XmlGetAttribute(doc.root.get(), "k", ""), "v");
    EXPECT_STREQ(doc.root->Text(), "text");
    ASSERT_EQ(doc.root->ChildCount(), 1u);
    EXPECT_TRUE(XmlIsNamed(doc.root->Child(0), "b"));
}

TEST(XmlParseTest, ErrorReportTakenByTheCallerInsteadOfTheErrorLine) {
    std::istringstream in("<a k=\"v\">text\n<b>\n  </a><c/>");
    CerrCapture capture;
    XmlParseError error;
    error.code = 99;
    std::unique_ptr<XmlNode> root = XmlParse(in, "", &error);
    EXPECT_EQ(capture.Text(), "");
    EXPECT_EQ(error.line, 3u);
    EXPECT_EQ(error.column, 4u);
    EXPECT_EQ(error.code, 7);
    EXPECT_EQ(error.message, "mismatched tag");
    ASSERT_EQ(root->ChildCount(), 1u);

    std::istringstream sound("<a/>");
    EXPECT_TRUE(XmlIsNamed(XmlParse(sound, "", &error).get(), "a"));
    EXPECT_EQ(error.code, 0);
    EXPECT_EQ(error.line, 0u);
}

TEST(XmlParseTest, ElementsKnowTheLineOfTheirStartTag) {
    ParsedXml doc =
        ParseXml("<?xml version=\"1.0\"?>\n<a>\n  <b\n   k=\"v\"/><c/>\n\n<d>x\ny</d></a>");
    EXPECT_EQ(doc.errors, "");
    EXPECT_EQ(doc.root->line, 2u);
    ASSERT_EQ(doc.root->ChildCount(), 3u);
    EXPECT_EQ(doc.root->Child(0)->line, 3u);
    EXPECT_EQ(doc.root->Child(1)->line, 4u);
    EXPECT_EQ(doc.root->Child(2)->line, 6u);
    EXPECT_EQ(ParseXml("").root->line, 0u);
}

TEST(XmlParseTest, ErrorLineCarriesTheDocumentName) {
    ParsedXml doc = ParseXml("<a>", "Registry.xml");
    EXPECT_EQ(doc.errors,
              "XML error: [Registry.xml] at line 1, errorcode 3 : 'no element found'\n");
    EXPECT_TRUE(XmlIsNamed(doc.root.get(), "a"));
}

TEST(XmlParseTest, TruncationAtAChunkBoundaryIsStillReported) {
    std::string cut = "<a>" + std::string(4096 - 3, 'x');
    ParsedXml doc = ParseXml(cut);
    EXPECT_NE(doc.errors, "");
    EXPECT_EQ(std::string(doc.root->Text()), std::string(4093, 'x'));

    std::string whole = "<a>" + std::string(4096 - 7, 'y') + "</a>";
    ASSERT_EQ(whole.size(), 4096u);
    EXPECT_EQ(ParseXml(whole).errors, "");
}

TEST(XmlParseTest, SecondDocumentElementIsRefused) {
    ParsedXml doc = ParseXml("<a/>\n<b/>");
    EXPECT_TRUE(XmlIsNamed(doc.root.get(), "a"));
    EXPECT_EQ(doc.errors, "XML error: [] at line 2, errorcode 9 : 'junk after document element'\n");
}

// --- Encodings -----------------------------------------------------------------------------

std::string Declared(const std::string& encoding, const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"" + encoding + "\"?>\n<t>" + body + "</t>";
}

TEST(XmlEncodingTest, UnknownNamesAreReadAsWindows1252) {
    for (const char* name : {"windows-1252", "x-velmora-unknown"}) {
        ParsedXml doc = ParseXml(Declared(name, "\x80 \x9F \xE9"));
        EXPECT_EQ(doc.errors, "") << name;
        EXPECT_STREQ(doc.root->Text(), "\xE2\x82\xAC \xC5\xB8 \xC3\xA9") << name;
    }
}

TEST(XmlEncodingTest, UndefinedWindows1252BytesAreParseErrors) {
    for (const char* bad : {"\x81", "\x8D", "\x8F", "\x90", "\x9D"}) {
        ParsedXml doc = ParseXml(Declared("windows-1252", std::string("ok") + bad));
        EXPECT_EQ(doc.errors,
                  "XML error: [] at line 2, errorcode 4 : 'not well-formed (invalid token)'\n")
            << int(static_cast<unsigned char>(*bad));
        EXPECT_TRUE(XmlIsNamed(doc.root.get(), "t"));
    }
}

TEST(XmlEncodingTest, BuiltInLatin1IsNotRedirected) {
    ParsedXml doc = ParseXml(Declared("ISO-8859-1", "\x80"));
    EXPECT_EQ(doc.errors, "");
    EXPECT_STREQ(doc.root->Text(), "\xC2\x80");
}

// --- Depth and freeing -------------------------------------------------------------------

constexpr int kDeep = 1000000;

std::string Nested(int depth, bool closed) {
    std::string doc;
    doc.reserve(static_cast<std::size_t>(depth) * 7);
    for (int i = 0; i < depth; ++i)
        doc += "<a>";
    if (closed) {
        for (int i = 0; i < depth; ++i)
            doc += "</a>";
    }
    return doc;
}

int Depth(const XmlNode* node) {
    int depth = 0;
    for (; node != nullptr; node = node->Child(0))
        ++depth;
    return depth;
}

TEST(XmlDepthTest, MillionLevelsParsedAndFreed) {
    ParsedXml doc = ParseXml(Nested(kDeep, true));
    EXPECT_EQ(doc.errors, "");
    EXPECT_EQ(Depth(doc.root.get()), kDeep);
    XmlFree(doc.root.release(), true);
}

TEST(XmlDepthTest, UnclosedMillionLevelsGivePartialTreeDestroyedSafely) {
    ParsedXml doc = ParseXml(Nested(kDeep, false));
    EXPECT_NE(doc.errors, "");
    EXPECT_EQ(Depth(doc.root.get()), kDeep);
}

TEST(XmlFreeTest, WithoutFreeSelfEmptiesTheNode) {
    ParsedXml doc = ParseXml(R"(<a k="v">text<b><c/></b><d/></a>)");
    XmlFree(doc.root.get(), false);
    EXPECT_EQ(doc.root->ChildCount(), 0u);
    EXPECT_EQ(doc.root->AttributeCount(), 0u);
    EXPECT_EQ(doc.root->Text(), nullptr);
    XmlFree(nullptr, true);
}

TEST(XmlFreeTest, WideAndDeepMixFreedWithoutLoss) {
    // Siblings with their own subtrees exercise the work list beyond the plain chain.
    std::string doc = "<r>";
    for (int i = 0; i < 2000; ++i)
        doc += "<a><b><c/><c/></b><b/></a>";
    doc += "</r>";
    ParsedXml parsed = ParseXml(doc);
    ASSERT_EQ(parsed.root->ChildCount(), 2000u);
    EXPECT_EQ(parsed.root->Child(1999)->Child(0)->ChildCount(), 2u);
    XmlFree(parsed.root.release(), true);
}

}  // namespace
