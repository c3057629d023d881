#include "platform/xmlobject.h"

#include <charconv>

#include <pugixml.hpp>

#include "platform/utf.h"
#include "platform/xml.h"

namespace Xml {
namespace {

const std::string kEmpty;

void build(const Element& element, pugi::xml_node parent) {
  pugi::xml_node node = parent.append_child(element.getName().c_str());
  for (const auto& [name, value] : element.attributes())
    node.append_attribute(name.c_str()).set_value(SafeText(value).c_str());
  for (std::size_t i = 0; i < element.getChildCount(); ++i) build(*element.getElement(i), node);
}

class Writer final : public pugi::xml_writer {
 public:
  explicit Writer(OutStream& out) : out_(out) {}
  void write(const void* data, std::size_t size) override { out_.write(data, size); }

 private:
  OutStream& out_;
};

bool nameStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool nameChar(char c) {
  return nameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.' || c == ':';
}

}  // namespace

void Object::toStream(OutStream& out) const {
  pugi::xml_document document;
  pugi::xml_node declaration = document.append_child(pugi::node_declaration);
  declaration.append_attribute("version") = "1.0";
  declaration.append_attribute("encoding") = "UTF-8";
  if (const Element* root = toElement()) build(*root, document);
  Writer writer(out);
  document.save(writer, "  ", pugi::format_indent, pugi::encoding_utf8);
  out.flush();
}

void Element::setAttribute(const std::string& name, std::string value) {
  for (auto& attribute : attributes_) {
    if (attribute.first == name) {
      attribute.second = std::move(value);
      return;
    }
  }
  attributes_.emplace_back(name, std::move(value));
}

void Element::setAttribute(const std::string& name, int value) {
  char text[16];
  setAttribute(name, std::string(text, std::to_chars(text, text + sizeof text, value).ptr));
}

void Element::setAttribute(const std::string& name, double value) { setAttribute(name, FormatDouble(value)); }

const std::string& Element::getAttributeValue(std::string_view name) const {
  for (const auto& attribute : attributes_)
    if (attribute.first == name) return attribute.second;
  return kEmpty;
}

bool Element::hasAttribute(std::string_view name) const {
  for (const auto& attribute : attributes_)
    if (attribute.first == name) return true;
  return false;
}

Element* Element::addChild(std::unique_ptr<Element> child) {
  children_.push_back(std::move(child));
  return children_.back().get();
}

Element* Element::getElement(std::size_t index) const {
  return index < children_.size() ? children_[index].get() : nullptr;
}

Element* Element::getElement(std::string_view name, std::size_t index) const {
  for (const auto& child : children_) {
    if (child->getName() != name) continue;
    if (index == 0) return child.get();
    --index;
  }
  return nullptr;
}

Element* Document::setRoot(std::unique_ptr<Element> root) {
  root_ = std::move(root);
  return root_.get();
}

bool IsValidName(std::string_view name) {
  if (name.empty() || !nameStart(name.front())) return false;
  for (char c : name)
    if (!nameChar(c)) return false;
  return true;
}

std::string SafeText(std::string_view text) {
  std::u16string wide = TavGen::ConvertUTF8ToUTF16String(text);
  std::u16string kept;
  kept.reserve(wide.size());
  for (char16_t c : wide) {
    const bool control = c < 0x20 && c != u'\t' && c != u'\n' && c != u'\r';
    if (control || c == 0xFFFE || c == 0xFFFF) continue;
    kept.push_back(c);
  }
  return TavSys::Uni16CharToUTF8(kept);
}

}  // namespace Xml
