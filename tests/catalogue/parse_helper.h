#pragma once
// Parses XML text held in a test and keeps what the parser wrote to std::cerr.

#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>

#include "catalogue/xml_tree.h"

struct ParsedXml {
    std::unique_ptr<XmlNode> root;
    std::string errors;  // everything written to std::cerr during the parse
};

// Redirects std::cerr for its lifetime.
class CerrCapture {
  public:
    CerrCapture() : m_old(std::cerr.rdbuf(m_captured.rdbuf())) {}
    ~CerrCapture() { std::cerr.rdbuf(m_old); }
    CerrCapture(const CerrCapture&) = delete;
    CerrCapture& operator=(const CerrCapture&) = delete;
    std::string Text() const { return m_captured.str(); }

  private:
    std::ostringstream m_captured;
    std::streambuf* m_old;
};

inline ParsedXml ParseXml(std::string_view text, std::string_view documentName = "") {
    std::istringstream in{std::string(text)};
    CerrCapture capture;
    ParsedXml parsed;
    parsed.root = XmlParse(in, documentName);
    parsed.errors = capture.Text();
    return parsed;
}
