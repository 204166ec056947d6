#pragma once
// A small read-only document tree filled by Expat. Element and attribute names are kept only as
// 32-bit hashes; text and attribute values stay in the UTF-8 form Expat delivers. Used for the
// downloaded catalogue and for the game's profile file.

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct XmlAttribute {
    std::uint32_t nameHash = 0;  // XmlDocumentNameHash of the attribute's name
    std::string value;           // UTF-8
};

// One element. Children are held through their own allocation, so a pointer to a node stays
// valid while its siblings are appended; a finished tree is never changed.
struct XmlNode {
    std::uint32_t nameHash = 0;  // XmlDocumentNameHash of the name; 0 for the empty result
    // Line of the document on which the element's start tag begins (from 1); 0 for the empty
    // result. Nothing in the launcher reads it: it lets the publisher's checks say where.
    std::uint64_t line = 0;
    // The element's own character data, concatenated around its children, with the line
    // breaks of the document dropped; absent when none was kept.
    std::optional<std::string> text;
    std::vector<XmlAttribute> attributes;            // document order
    std::vector<std::unique_ptr<XmlNode>> children;  // document order

    XmlNode() = default;
    XmlNode(XmlNode&&) = default;
    XmlNode& operator=(XmlNode&&) = default;
    // Tears the subtree down without recursing once per level, so any depth is safe.
    ~XmlNode();

    std::size_t ChildCount() const { return children.size(); }
    std::size_t AttributeCount() const { return attributes.size(); }
    // The child at index in document order (0 is the first child); null when there is none.
    const XmlNode* Child(std::size_t index) const {
        return index < children.size() ? children[index].get() : nullptr;
    }
    // The text as a NUL-terminated UTF-8 string, or null when absent.
    const char* Text() const { return text ? text->c_str() : nullptr; }
};

// Where and why Expat stopped on malformed input.
struct XmlParseError {
    std::uint64_t line = 0;    // XML_GetCurrentLineNumber, from 1
    std::uint64_t column = 0;  // XML_GetCurrentColumnNumber, from 0
    int code = 0;              // Expat's XML_Error; 0 when the document was well formed
    std::string message;       // XML_ErrorString of code
};

// Parses the stream (fed to Expat in chunks of 4096 bytes) into a tree and returns its document
// element, or an empty node (name hash 0) when no element was ever opened; never null. On
// malformed input one line goes to std::cerr:
//   XML error: [<documentName>] at line <n>, errorcode <code> : '<message>'
// and the tree built up to the error is returned. A caller that passes error gets the report
// there instead of on std::cerr (code 0 when there was none). A declared encoding Expat does
// not know is read as Windows-1252. Running out of memory while building stops the parse the
// same way (Expat's "parsing aborted"), keeping what was built; only when not even the empty
// node can be allocated does std::bad_alloc leave this function.
std::unique_ptr<XmlNode> XmlParse(std::istream& stream, std::string_view documentName,
                                  XmlParseError* error = nullptr);

// Frees what the node holds (its text, attributes and whole subtree) and, when freeSelf is set,
// the heap node itself (as returned by XmlParse, after release()). Never recurses per level.
void XmlFree(XmlNode* node, bool freeSelf);

// h = h * 33 + byte over the name's bytes taken as signed chars, modulo 2^32 and then modulo
// 0xFFFFFFFF. Lookups hash the wanted name with this.
std::uint32_t XmlNameHash(std::string_view name);
// The hash of a name read from a document: a name holding "H_" anywhere is pre-hashed, its hash
// being the unsigned number read from the name minus its first two characters (0 when none);
// any other name gets XmlNameHash.
std::uint32_t XmlDocumentNameHash(std::string_view name);

// Whether the node is present and its name hash equals XmlNameHash(name).
bool XmlIsNamed(const XmlNode* node, std::string_view name);

// The value of the attribute called name, searching from the last attribute to the first;
// defaultValue when the node is null or has no such attribute.
std::string XmlGetAttribute(const XmlNode* node, std::string_view name,
                            std::string_view defaultValue);
// The same attribute read as a signed 32-bit decimal number (leading blanks and a sign allowed,
// reading stops at the first other character). Missing attribute: defaultValue; no digits or
// out of range: 0.
std::int32_t XmlGetIntAttribute(const XmlNode* node, std::string_view name,
                                std::int32_t defaultValue);
// The same rules over the signed 64-bit range (file sizes of 2 GiB and more).
std::int64_t XmlGetInt64Attribute(const XmlNode* node, std::string_view name,
                                  std::int64_t defaultValue);
