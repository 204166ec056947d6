#include "catalogue/xml_tree.h"

#include <expat.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <iostream>
#include <iterator>
#include <locale>
#include <new>
#include <sstream>

namespace {

constexpr std::size_t kChunkSize = 4096;

// Byte to code point for Windows-1252; -1 marks the five bytes that code page leaves undefined.
constexpr std::array<int, 256> MakeWindows1252Table() {
    std::array<int, 256> table{};
    for (int i = 0; i < 256; ++i)
        table[i] = i;
    constexpr int kHigh[32] = {
        0x20AC, -1,     0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 0x80
        0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, -1,     0x017D, -1,      // 0x88
        -1,     0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 0x90
        0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, -1,     0x017E, 0x0178,  // 0x98
    };
    for (int i = 0; i < 32; ++i)
        table[0x80 + i] = kHigh[i];
    return table;
}

constexpr std::array<int, 256> kWindows1252Table = MakeWindows1252Table();

// Every map entry is a single byte, so Expat never asks for this; it is there because an
// encoding record must be able to convert what its map does not resolve.
int ConvertWindows1252(void* data, const char* s) {
    const auto& table = *static_cast<const std::array<int, 256>*>(data);
    const auto byte = static_cast<unsigned char>(*s);
    return byte >= 0x81 && byte <= 0x9F ? table[byte] : -1;
}

// Catalogues written on Windows often declare their code page by a name Expat does not carry;
// reading any such name as Windows-1252 keeps them readable.
int OnUnknownEncoding(void* data, const XML_Char* /*name*/, XML_Encoding* info) {
    const auto& table = *static_cast<const std::array<int, 256>*>(data);
    for (std::size_t i = 0; i < table.size(); ++i)
        info->map[i] = table[i];
    info->data = data;
    info->convert = ConvertWindows1252;
    info->release = nullptr;
    return XML_STATUS_OK;
}

struct ParserDeleter {
    void operator()(XML_ParserStruct* parser) const { XML_ParserFree(parser); }
};
using ParserPtr = std::unique_ptr<XML_ParserStruct, ParserDeleter>;

// The state of one parse. The open elements are kept on a stack, so finding the current
// element costs the same at any depth.
struct TreeBuilder {
    XML_Parser parser = nullptr;
    std::unique_ptr<XmlNode> root = std::make_unique<XmlNode>();
    std::vector<XmlNode*> open;
    bool aborted = false;

    XmlNode* Current() { return open.empty() ? root.get() : open.back(); }

    // Out of memory: keep what was built and stop like any other parse error, so a catalogue
    // too large for the address space cannot take the launcher down.
    void Abort() {
        aborted = true;
        XML_StopParser(parser, XML_FALSE);
    }
};

void XMLCALL OnStartElement(void* data, const XML_Char* name, const XML_Char** pairs) {
    auto& builder = *static_cast<TreeBuilder*>(data);
    if (builder.aborted)
        return;
    try {
        auto node = std::make_unique<XmlNode>();
        node->nameHash = XmlDocumentNameHash(name);
        node->line = XML_GetCurrentLineNumber(builder.parser);
        std::size_t count = 0;
        while (pairs[2 * count] != nullptr)
            ++count;
        node->attributes.reserve(count);
        for (std::size_t i = 0; i < count; ++i) {
            node->attributes.push_back(
                XmlAttribute{XmlDocumentNameHash(pairs[2 * i]), std::string(pairs[2 * i + 1])});
        }
        // Room first, so that once the node is in the tree nothing can fail before it is open.
        if (builder.open.size() == builder.open.capacity())
            builder.open.reserve(std::max<std::size_t>(64, builder.open.capacity() * 2));
        XmlNode* raw = node.get();
        builder.Current()->children.push_back(std::move(node));
        builder.open.push_back(raw);
    } catch (...) {  // nothing may unwind through Expat; in practice only std::bad_alloc
        builder.Abort();
    }
}

void XMLCALL OnEndElement(void* data, const XML_Char* /*name*/) {
    auto& builder = *static_cast<TreeBuilder*>(data);
    if (builder.aborted || builder.open.empty())
        return;
    builder.open.pop_back();
}

void XMLCALL OnCharacterData(void* data, const XML_Char* chunk, int length) {
    auto& builder = *static_cast<TreeBuilder*>(data);
    if (builder.aborted)
        return;
    // Expat hands every line break of content over as a chunk of its own; dropping those joins
    // the lines of a text while keeping everything else on them.
    if (length <= 0 || (length == 1 && chunk[0] == '\n'))
        return;
    try {
        std::optional<std::string>& text = builder.Current()->text;
        if (!text)
            text.emplace();
        text->append(chunk, static_cast<std::size_t>(length));
    } catch (...) {  // nothing may unwind through Expat; in practice only std::bad_alloc
        builder.Abort();
    }
}

void ReportError(XML_Parser parser, std::string_view documentName, XmlParseError* error) {
    const XML_Error code = XML_GetErrorCode(parser);
    const XML_LChar* message = XML_ErrorString(code);
    if (error != nullptr) {
        error->line = XML_GetCurrentLineNumber(parser);
        error->column = XML_GetCurrentColumnNumber(parser);
        error->code = static_cast<int>(code);
        error->message = message != nullptr ? message : "";
        return;
    }
    std::cerr << "XML error: [" << documentName << "] at line " << XML_GetCurrentLineNumber(parser)
              << ", errorcode " << static_cast<int>(code) << " : '"
              << (message != nullptr ? message : "") << "'" << std::endl;
}

// Detaches every descendant into one work list and destroys them one by one, each after its
// own children were moved out, so no destructor ever runs more than one level deep.
void TearDown(std::vector<std::unique_ptr<XmlNode>>& children) {
    std::vector<std::unique_ptr<XmlNode>> pending;
    pending.swap(children);
    while (!pending.empty()) {
        std::unique_ptr<XmlNode> node = std::move(pending.back());
        pending.pop_back();
        if (!node)
            continue;
        std::vector<std::unique_ptr<XmlNode>>& grand = node->children;
        if (grand.empty())
            continue;
        // Growing the larger list by the smaller keeps chains and flat lists allocation-free;
        // only a subtree met while its siblings wait grows the list, and should that fail inside
        // a destructor the process ends, as for any allocation failure outside the parse.
        if (grand.size() > pending.size())
            pending.swap(grand);
        pending.insert(pending.end(), std::make_move_iterator(grand.begin()),
                       std::make_move_iterator(grand.end()));
        grand.clear();
    }
}

template <typename Int>
Int ReadInteger(const XmlNode* node, std::string_view name, Int defaultValue) {
    if (node == nullptr)
        return defaultValue;
    const std::uint32_t hash = XmlNameHash(name);
    for (auto it = node->attributes.rbegin(); it != node->attributes.rend(); ++it) {
        if (it->nameHash != hash)
            continue;
        std::istringstream in(it->value);
        in.imbue(std::locale::classic());
        Int value = 0;
        if (!(in >> value))
            return 0;
        return value;
    }
    return defaultValue;
}

}  // namespace

XmlNode::~XmlNode() {
    TearDown(children);
}

void XmlFree(XmlNode* node, bool freeSelf) {
    if (node == nullptr)
        return;
    TearDown(node->children);
    node->text.reset();
    std::vector<XmlAttribute>().swap(node->attributes);
    if (freeSelf)
        delete node;
}

std::unique_ptr<XmlNode> XmlParse(std::istream& stream, std::string_view documentName,
                                  XmlParseError* error) {
    if (error != nullptr)
        *error = XmlParseError{};
    TreeBuilder builder;
    ParserPtr parser(XML_ParserCreate(nullptr));
    if (!parser)
        return std::move(builder.root);
    builder.parser = parser.get();

    XML_SetUnknownEncodingHandler(parser.get(), OnUnknownEncoding,
                                  const_cast<std::array<int, 256>*>(&kWindows1252Table));
    XML_SetUserData(parser.get(), &builder);
    XML_SetElementHandler(parser.get(), OnStartElement, OnEndElement);
    XML_SetCharacterDataHandler(parser.get(), OnCharacterData);

    char buffer[kChunkSize];
    bool fedAny = false;
    bool finished = false;
    while (!stream.fail()) {
        stream.read(buffer, kChunkSize);
        const std::streamsize count = stream.gcount();
        if (count <= 0)
            break;
        const bool isFinal = stream.eof();
        fedAny = true;
        if (XML_Parse(parser.get(), buffer, static_cast<int>(count), isFinal) == XML_STATUS_ERROR) {
            ReportError(parser.get(), documentName, error);
            finished = true;
            break;
        }
        finished = isFinal;
    }
    // A document whose length is a multiple of the chunk size (or whose stream broke off) has
    // not yet been told that it ended; without this a truncated one would pass unreported.
    if (fedAny && !finished && XML_Parse(parser.get(), buffer, 0, XML_TRUE) == XML_STATUS_ERROR) {
        ReportError(parser.get(), documentName, error);
    }

    std::vector<std::unique_ptr<XmlNode>>& top = builder.root->children;
    if (top.empty())
        return std::move(builder.root);
    std::unique_ptr<XmlNode> document = std::move(top.front());
    top.erase(top.begin());
    return document;
}

std::uint32_t XmlNameHash(std::string_view name) {
    std::uint32_t hash = 0;
    for (const char c : name) {
        hash = hash * 33u +
               static_cast<std::uint32_t>(static_cast<std::int32_t>(static_cast<signed char>(c)));
        hash %= 0xFFFFFFFFu;
    }
    return hash;
}

std::uint32_t XmlDocumentNameHash(std::string_view name) {
    if (name.find("H_") == std::string_view::npos)
        return XmlNameHash(name);
    std::istringstream in{std::string(name.substr(2))};
    in.imbue(std::locale::classic());
    // Stream extraction leaves 0 when it finds no number.
    std::uint32_t hash = 0;
    in >> hash;
    return hash;
}

bool XmlIsNamed(const XmlNode* node, std::string_view name) {
    return node != nullptr && node->nameHash == XmlNameHash(name);
}

std::string XmlGetAttribute(const XmlNode* node, std::string_view name,
                            std::string_view defaultValue) {
    if (node != nullptr) {
        const std::uint32_t hash = XmlNameHash(name);
        for (auto it = node->attributes.rbegin(); it != node->attributes.rend(); ++it) {
            if (it->nameHash == hash)
                return it->value;
        }
    }
    return std::string(defaultValue);
}

std::int32_t XmlGetIntAttribute(const XmlNode* node, std::string_view name,
                                std::int32_t defaultValue) {
    return ReadInteger<std::int32_t>(node, name, defaultValue);
}

std::int64_t XmlGetInt64Attribute(const XmlNode* node, std::string_view name,
                                  std::int64_t defaultValue) {
    return ReadInteger<std::int64_t>(node, name, defaultValue);
}
