#include "platform/xml.h"

#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/tav_error.h"
#include "platform/utf.h"

namespace Xml {
namespace {

constexpr std::string_view kPredefinedEntities[] = {"amp", "lt", "gt", "quot", "apos"};

bool isNameChar(unsigned char c) {
  return std::isalnum(c) || c == '_' || c == ':' || c == '-' || c == '.' || c >= 0x80;
}

// Looks for entity references that pugixml would leave unexpanded (an entity
// the document or an external document type would have to define). Comments,
// CDATA sections and processing instructions are passed over, where an
// ampersand is plain text.
bool findUndeclaredReference(std::string_view text, std::string& name) {
  std::size_t i = 0;
  while (i < text.size()) {
    if (text.compare(i, 4, "<!--") == 0) {
      const std::size_t end = text.find("-->", i + 4);
      if (end == std::string_view::npos) return false;  // the parser refuses it
      i = end + 3;
    } else if (text.compare(i, 9, "<![CDATA[") == 0) {
      const std::size_t end = text.find("]]>", i + 9);
      if (end == std::string_view::npos) return false;
      i = end + 3;
    } else if (text.compare(i, 2, "<?") == 0) {
      const std::size_t end = text.find("?>", i + 2);
      if (end == std::string_view::npos) return false;
      i = end + 2;
    } else if (text[i] == '&' || text[i] == '%') {
      const char lead = text[i];
      std::size_t j = i + 1;
      if (lead == '&' && j < text.size() && text[j] == '#') {
        i = j + 1;  // character reference
        continue;
      }
      while (j < text.size() && isNameChar(static_cast<unsigned char>(text[j]))) ++j;
      if (j > i + 1 && j < text.size() && text[j] == ';') {
        std::string_view ref = text.substr(i + 1, j - i - 1);
        bool predefined = false;
        for (auto p : kPredefinedEntities) predefined = predefined || (lead == '&' && ref == p);
        // A '%' reference outside a document type is ordinary text; inside
        // one it is caught by the document type check.
        if (!predefined && lead == '&') {
          name = std::string(ref);
          return true;
        }
      }
      i = j;
    } else {
      ++i;
    }
  }
  return false;
}

ParseResult fail(ParseStatus status, std::string detail) {
  ParseResult r;
  r.status = status;
  r.detail = std::move(detail);
  return r;
}

// The document type may declare elements and attributes; anything that could
// bring in text from elsewhere is refused.
ParseResult checkDoctype(std::string_view value) {
  if (value.find("<!ENTITY") != std::string_view::npos) {
    return fail(ParseStatus::ExternalReference, "the document type declares entities");
  }
  if (value.find('%') != std::string_view::npos) {
    return fail(ParseStatus::ExternalReference, "the document type uses parameter entities");
  }
  std::size_t i = 0;
  while (i < value.size() && !std::isspace(static_cast<unsigned char>(value[i])) && value[i] != '[') ++i;
  while (i < value.size() && std::isspace(static_cast<unsigned char>(value[i]))) ++i;
  const std::string_view rest = value.substr(i);
  if (rest.rfind("SYSTEM", 0) == 0 || rest.rfind("PUBLIC", 0) == 0) {
    return fail(ParseStatus::ExternalReference, "the document type refers to an external file");
  }
  return {};
}

int g_floatPrecision = 6;

}  // namespace

ParseResult DocumentReader::ParseFile(const TavSys::FileSpec& file, pugi::xml_document& document) const {
  document.reset();
  std::error_code ec;
  if (std::filesystem::is_directory(file.path(), ec)) {
    ParseResult r = fail(ParseStatus::FileError, std::strerror(EISDIR));
    r.fileError = TavSys::kFileErrorBase + EISDIR;
    return r;
  }
  std::ifstream in(file.path(), std::ios::binary);
  if (!in) {
    ParseResult r = fail(ParseStatus::FileError, std::strerror(errno ? errno : ENOENT));
    r.fileError = TavSys::kFileErrorBase + (errno ? errno : ENOENT);
    return r;
  }
  std::string bytes;
  char buffer[65536];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
    bytes.append(buffer, static_cast<std::size_t>(in.gcount()));
    if (bytes.size() > maxBytes_) {
      return fail(ParseStatus::TooLarge, "the file is larger than " + std::to_string(maxBytes_) + " bytes");
    }
  }
  if (in.bad()) {
    ParseResult r = fail(ParseStatus::FileError, std::strerror(EIO));
    r.fileError = TavSys::kFileErrorBase + EIO;
    return r;
  }
  return ParseBuffer(bytes, document);
}

ParseResult DocumentReader::ParseBuffer(std::string_view bytes, pugi::xml_document& document) const {
  document.reset();
  if (bytes.size() > maxBytes_) {
    return fail(ParseStatus::TooLarge, "the file is larger than " + std::to_string(maxBytes_) + " bytes");
  }
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
  // UTF-16 and UTF-32 text contains zero bytes; so would binary junk.
  if (bytes.find('\0') != std::string_view::npos) {
    return fail(ParseStatus::NotUtf8, "the file contains zero bytes (it is not UTF-8 text)");
  }
  // The parser takes bytes as they come; names and paths read from the
  // document must be sound UTF-8 wherever they are written later.
  if (!TavSys::IsValidUTF8(bytes)) return fail(ParseStatus::NotUtf8, "the file is not UTF-8 text");
  std::string entity;
  if (findUndeclaredReference(bytes, entity)) {
    return fail(ParseStatus::ExternalReference, "the file refers to the entity \"" + entity + "\"");
  }
  const unsigned options = pugi::parse_default | pugi::parse_doctype;
  const pugi::xml_parse_result parsed =
      document.load_buffer(bytes.data(), bytes.size(), options, pugi::encoding_utf8);
  if (!parsed) {
    document.reset();
    return fail(ParseStatus::NotWellFormed,
                std::string(parsed.description()) + " at byte " + std::to_string(parsed.offset));
  }
  if (!document.document_element()) {
    document.reset();
    return fail(ParseStatus::NotWellFormed, "the file has no root element");
  }
  // Walk the tree without recursion: check the document type and the depth.
  struct Item {
    pugi::xml_node node;
    int depth;
  };
  std::vector<Item> stack{{document, 0}};
  while (!stack.empty()) {
    const Item item = stack.back();
    stack.pop_back();
    if (item.depth > maxDepth_) {
      document.reset();
      return fail(ParseStatus::TooDeep, "elements are nested more than " + std::to_string(maxDepth_) + " deep");
    }
    if (item.node.type() == pugi::node_doctype) {
      ParseResult r = checkDoctype(item.node.value());
      if (!r) {
        document.reset();
        return r;
      }
    }
    for (pugi::xml_node child = item.node.first_child(); child; child = child.next_sibling()) {
      stack.push_back({child, item.depth + 1});
    }
  }
  return {};
}

Dtd::Element& Dtd::element(const std::string& name) {
  for (auto& e : elements_) {
    if (e.name == name) return e;
  }
  elements_.push_back({name, "ANY", {}});
  return elements_.back();
}

void Dtd::AddElement(std::string name, std::string content) {
  element(name).content = std::move(content);
}

void Dtd::AddAttribute(const std::string& elementName, std::string name, Presence presence,
                       std::string defaultValue) {
  element(elementName).attributes.push_back({std::move(name), presence, std::move(defaultValue)});
}

std::string Dtd::DoctypeText() const {
  std::string text = root_ + " [\n";
  for (const auto& e : elements_) {
    text += "<!ELEMENT " + e.name + " " + e.content + ">\n";
    if (e.attributes.empty()) continue;
    text += "<!ATTLIST " + e.name;
    for (const auto& a : e.attributes) {
      text += "\n  " + a.name + " CDATA ";
      switch (a.presence) {
        case Presence::Required: text += "#REQUIRED"; break;
        case Presence::Implied: text += "#IMPLIED"; break;
        case Presence::Default: text += "\"" + a.defaultValue + "\""; break;
      }
    }
    text += ">\n";
  }
  text += "]";
  return text;
}

void Dtd::AttachTo(pugi::xml_document& document) const {
  pugi::xml_node first = document.document_element();
  pugi::xml_node doctype = first ? document.insert_child_before(pugi::node_doctype, first)
                                 : document.append_child(pugi::node_doctype);
  doctype.set_value(DoctypeText().c_str());
}

std::string ToString(const pugi::xml_document& document) {
  std::ostringstream out;
  document.save(out, "  ", pugi::format_indent, pugi::encoding_utf8);
  return out.str();
}

int GetFloatPrecision() { return g_floatPrecision; }

void SetFloatPrecision(int digits) { g_floatPrecision = digits < 1 ? 1 : (digits > 17 ? 17 : digits); }

std::string FormatDouble(double value) {
  if (!std::isfinite(value) || value == 0.0) return "0";
  const int precision = g_floatPrecision;
  char buf[64];
  // The decimal exponent after rounding to the precision.
  auto sci = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, precision - 1);
  std::string_view s(buf, static_cast<std::size_t>(sci.ptr - buf));
  const std::size_t epos = s.find('e');
  int exponent = 0;
  std::from_chars(s.data() + epos + 1 + (s[epos + 1] == '+' ? 1 : 0), s.data() + s.size(), exponent);
  std::string text;
  if (exponent >= precision - 1) {
    // All significant digits lie before the point: digits, then zeros.
    for (char c : s.substr(0, epos)) {
      if (c != '.') text += c;
    }
    text.append(static_cast<std::size_t>(exponent - (precision - 1)), '0');
    return text;
  }
  const int fraction = precision - 1 - exponent;
  char fixed[400];
  auto fx = std::to_chars(fixed, fixed + sizeof fixed, value, std::chars_format::fixed, fraction);
  text.assign(fixed, fx.ptr);
  if (text.find('.') != std::string::npos) {
    while (text.back() == '0') text.pop_back();
    if (text.back() == '.') text.pop_back();
  }
  if (text == "-0") text = "0";
  return text;
}

}  // namespace Xml
