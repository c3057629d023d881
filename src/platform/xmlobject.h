#pragma once
// The XML library's object model as the writers build documents with it: a
// document owns its root element, an element owns its children in the order
// they were added and keeps its attributes in the order they were first set.
// Writers derive their own element and document classes from these.
//
// Serialising goes through pugixml, which escapes markup characters; text
// that XML cannot carry is made safe first (bytes that are not UTF-8 become
// U+FFFD, control characters other than tab, line feed and carriage return
// and the non-characters U+FFFE and U+FFFF are dropped), so that whatever a
// job holds, the document written is well-formed.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace Xml {

// Where a document's bytes go.
class OutStream {
 public:
  virtual ~OutStream() = default;
  virtual void write(const void* data, std::size_t size) = 0;
  virtual void flush() = 0;
  // 0 when the stream is in order.
  virtual int status() const = 0;
};

class Element;

class Object {
 public:
  virtual ~Object() = default;
  // The object as an element, or null when it is not one.
  virtual Element* toElement() { return nullptr; }
  virtual const Element* toElement() const { return nullptr; }
  // Writes the object as a document: the XML declaration (UTF-8), then the
  // element tree with two-space indentation.
  void toStream(OutStream& out) const;
};

class Element : public Object {
 public:
  explicit Element(std::string name) : name_(std::move(name)) {}
  Element(const Element&) = delete;
  Element& operator=(const Element&) = delete;

  Element* toElement() override { return this; }
  const Element* toElement() const override { return this; }

  const std::string& getName() const { return name_; }

  // Sets an attribute: a new one goes after the others, an existing one keeps
  // its place. Integers in decimal, doubles through Xml::FormatDouble.
  void setAttribute(const std::string& name, std::string value);
  void setAttribute(const std::string& name, const char* value) { setAttribute(name, std::string(value)); }
  void setAttribute(const std::string& name, int value);
  void setAttribute(const std::string& name, double value);
  // The value, or "" when the element has no such attribute.
  const std::string& getAttributeValue(std::string_view name) const;
  bool hasAttribute(std::string_view name) const;
  const std::vector<std::pair<std::string, std::string>>& attributes() const { return attributes_; }

  // Appends a child (owned from now on) and returns it.
  Element* addChild(std::unique_ptr<Element> child);
  template <class T>
  T* addChild(std::unique_ptr<T> child) {
    T* raw = child.get();
    addChild(std::unique_ptr<Element>(std::move(child)));
    return raw;
  }
  std::size_t getChildCount() const { return children_.size(); }
  // The child at an index, or null past the end.
  Element* getElement(std::size_t index) const;
  // The index-th child of that name, or null.
  Element* getElement(std::string_view name, std::size_t index = 0) const;

 private:
  std::string name_;
  std::vector<std::pair<std::string, std::string>> attributes_;
  std::vector<std::unique_ptr<Element>> children_;
};

class Document : public Object {
 public:
  Document() = default;
  Document(const Document&) = delete;
  Document& operator=(const Document&) = delete;

  Element* getRoot() const { return root_.get(); }
  Element* setRoot(std::unique_ptr<Element> root);
  const Element* toElement() const override { return root_.get(); }
  Element* toElement() override { return root_.get(); }

 private:
  std::unique_ptr<Element> root_;
};

// Whether the text is an XML name that can stand as an element or attribute
// name (ASCII letters, digits, '_', '-', '.', and ':' not at the start; names
// with other characters are not accepted here).
bool IsValidName(std::string_view name);

// The text as XML can carry it (see the top of this file).
std::string SafeText(std::string_view text);

}  // namespace Xml
