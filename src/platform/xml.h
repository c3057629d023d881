#pragma once
// The XML library as the engine uses it, over pugixml: a reader that takes
// untrusted files safely, document types written as internal subsets, and
// number and document text.
//
// The reader never resolves anything outside the document: documents that
// declare entities, refer to an external document type or use entity
// references other than the five predefined ones and character references are
// refused, as are documents that are not UTF-8, too large or too deep.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include <pugixml.hpp>

#include "platform/files.h"

namespace Xml {

enum class ParseStatus {
  Ok,
  FileError,          // the file could not be read (fileError holds the code)
  TooLarge,
  NotUtf8,
  NotWellFormed,
  ExternalReference,  // entity declarations or references, external document type
  TooDeep,
};

struct ParseResult {
  ParseStatus status = ParseStatus::Ok;
  int fileError = 0;   // TavSys::kFileErrorBase + errno for FileError
  std::string detail;  // what was wrong, for the user (English)
  explicit operator bool() const { return status == ParseStatus::Ok; }
};

class DocumentReader {
 public:
  static constexpr std::size_t kDefaultMaxBytes = 8u << 20;
  static constexpr int kDefaultMaxDepth = 256;

  DocumentReader() = default;
  DocumentReader(std::size_t maxBytes, int maxDepth) : maxBytes_(maxBytes), maxDepth_(maxDepth) {}

  // Reads and parses a file into `document` (emptied first, also on failure).
  ParseResult ParseFile(const TavSys::FileSpec& file, pugi::xml_document& document) const;
  ParseResult ParseBuffer(std::string_view bytes, pugi::xml_document& document) const;

 private:
  std::size_t maxBytes_ = kDefaultMaxBytes;
  int maxDepth_ = kDefaultMaxDepth;
};

// A document type: element and attribute declarations, written as the
// internal subset of the document's DOCTYPE.
class Dtd {
 public:
  enum class Presence { Required, Implied, Default };

  explicit Dtd(std::string rootName) : root_(std::move(rootName)) {}

  // `content` is the content model as it stands in the declaration:
  // "(a | b)*", "(#PCDATA)", "EMPTY".
  void AddElement(std::string name, std::string content);
  // A CDATA attribute; `defaultValue` is used with Presence::Default only.
  void AddAttribute(const std::string& element, std::string name, Presence presence,
                    std::string defaultValue = {});

  const std::string& rootName() const { return root_; }
  // "root [\n<!ELEMENT ...>\n<!ATTLIST ...>\n]": the value of a doctype node.
  std::string DoctypeText() const;
  // Puts the document type in front of the document's first element.
  void AttachTo(pugi::xml_document& document) const;

 private:
  struct Attribute {
    std::string name;
    Presence presence;
    std::string defaultValue;
  };
  struct Element {
    std::string name;
    std::string content;
    std::vector<Attribute> attributes;
  };
  Element& element(const std::string& name);

  std::string root_;
  std::vector<Element> elements_;
};

// The document as UTF-8 text with an XML declaration and two-space indentation.
std::string ToString(const pugi::xml_document& document);

// Significant digits of the numbers the library writes; 6 unless set.
int GetFloatPrecision();
void SetFloatPrecision(int digits);
// Sets the float precision for its lifetime and restores the previous one.
class FloatPrecisionScope {
 public:
  explicit FloatPrecisionScope(int digits) : previous_(GetFloatPrecision()) { SetFloatPrecision(digits); }
  ~FloatPrecisionScope() { SetFloatPrecision(previous_); }
  FloatPrecisionScope(const FloatPrecisionScope&) = delete;
  FloatPrecisionScope& operator=(const FloatPrecisionScope&) = delete;

 private:
  int previous_;
};

// A finite number rounded to the float precision in significant digits and
// written as plain decimal text (never an exponent, no trailing zeros, "0"
// for zero and negative zero). NaN and infinities are written as "0".
std::string FormatDouble(double value);

}  // namespace Xml
