// The XML object layer: attribute order, and text that XML cannot carry made
// safe, so that any job text gives a well-formed document.
#include <gtest/gtest.h>

#include <pugixml.hpp>

#include "platform/xmlobject.h"

namespace {

class StringStream : public Xml::OutStream {
 public:
  void write(const void* data, std::size_t size) override { text.append(static_cast<const char*>(data), size); }
  void flush() override {}
  int status() const override { return 0; }
  std::string text;
};

}  // namespace

TEST(XmlObject, AttributesKeepTheirOrderAndHostileTextStaysWellFormed) {
  struct Case {
    std::string value;
    std::string readBack;
  };
  const Case cases[] = {
      {"A&B <\"x\"> 'y'", "A&B <\"x\"> 'y'"},
      {"tab\tline\ncr\r", "tab\tline\ncr\r"},
      {std::string("nul\x01" "bell\x07", 9), "nulbell"},
      {"bad \xC3 byte", "bad \xEF\xBF\xBD byte"},
      {"\xEF\xBF\xBE" "non-character \xF0\x9F\x98\x80", "non-character \xF0\x9F\x98\x80"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.readBack);
    Xml::Document document;
    Xml::Element* root = document.setRoot(std::make_unique<Xml::Element>("Root"));
    root->setAttribute("b", 1);
    root->setAttribute("a", c.value);
    root->setAttribute("b", 2.5);  // keeps its place
    root->addChild(std::make_unique<Xml::Element>("Child"));
    StringStream out;
    document.toStream(out);
    pugi::xml_document read;
    ASSERT_TRUE(read.load_string(out.text.c_str(), pugi::parse_default | pugi::parse_ws_pcdata)) << out.text;
    const pugi::xml_node node = read.child("Root");
    EXPECT_STREQ(node.first_attribute().name(), "b");
    EXPECT_STREQ(node.first_attribute().value(), "2.5");
    EXPECT_EQ(std::string(node.attribute("a").value()), c.readBack);
    EXPECT_TRUE(node.child("Child"));
  }
  for (const char* name : {"CustomerID", "a-b.c:d", "_x"}) EXPECT_TRUE(Xml::IsValidName(name)) << name;
  for (const char* name : {"", "1a", "-a", ":a", "a b", "é"}) EXPECT_FALSE(Xml::IsValidName(name)) << name;
}
