// Content-stream soundness with qpdf's parser: graphics-state and
// marked-content nesting, and every named resource present where the
// operator looks it up.
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFExc.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>

#include <algorithm>
#include <set>
#include <stdexcept>

#include "support/content_check.h"

namespace tavtest {
namespace {

// Nesting of forms within forms beyond this is reported rather than followed.
constexpr int kMaxDepth = 32;

struct Target {
  std::string label;              // "form /Fm0 (7 0 R)"
  QPDFObjectHandle stream;        // the content stream to check
  QPDFObjectHandle resources;     // its own resources, or its user's when it has none
};

std::string refText(QPDFObjectHandle& obj) {
  if (!obj.isIndirect()) return "direct";
  return std::to_string(obj.getObjectID()) + " " + std::to_string(obj.getGeneration()) + " R";
}

class ContentChecker : public QPDFObjectHandle::ParserCallbacks {
 public:
  ContentChecker(std::string where, QPDFObjectHandle resources, std::vector<std::string>& problems)
      : where_(std::move(where)), resources_(std::move(resources)), problems_(problems) {}

  void handleObject(QPDFObjectHandle obj, size_t offset, size_t) override {
    if (obj.isOperator()) {
      op(obj.getOperatorValue(), offset);
      operands_.clear();
    } else if (obj.isInlineImage()) {
      operands_.clear();
    } else {
      operands_.push_back(obj);
    }
  }

  void handleEOF() override {
    if (qDepth_ > 0) problem(std::to_string(qDepth_) + " q without matching Q at the end");
    if (mcDepth_ > 0) problem(std::to_string(mcDepth_) + " BMC/BDC without matching EMC at the end");
  }

  // Streams this one uses that have content of their own.
  const std::vector<Target>& children() const { return children_; }

 private:
  void problem(const std::string& text, size_t offset = std::string::npos) {
    std::string line = where_ + ": " + text;
    if (offset != std::string::npos) line += " (offset " + std::to_string(offset) + ")";
    problems_.push_back(std::move(line));
  }

  // The resource `name` of `category`, or a null handle after reporting it missing.
  QPDFObjectHandle lookup(const char* category, const std::string& name, const std::string& op,
                          size_t offset) {
    if (resources_.isDictionary()) {
      auto dict = resources_.getKey(category);
      if (dict.isDictionary() && dict.hasKey(name)) {
        auto value = dict.getKey(name);
        if (!value.isNull()) return value;
      }
    }
    problem(op + " names " + name + ", which is not in the " + category + " resources", offset);
    return QPDFObjectHandle::newNull();
  }

  bool nameOperand(size_t index, const std::string& op, size_t offset, std::string& name) {
    if (operands_.size() <= index || !operands_[index].isName()) {
      problem(op + " without a name operand", offset);
      return false;
    }
    name = operands_[index].getName();
    return true;
  }

  void colourSpace(const std::string& name, const std::string& op, size_t offset) {
    static const std::set<std::string> device = {"/DeviceGray", "/DeviceRGB", "/DeviceCMYK", "/Pattern"};
    if (!device.count(name)) lookup("/ColorSpace", name, op, offset);
  }

  void addChild(const std::string& kind, const std::string& name, QPDFObjectHandle stream) {
    auto own = stream.getDict().getKey("/Resources");
    children_.push_back({kind + " " + name + " (" + refText(stream) + ")", stream,
                         own.isDictionary() ? own : resources_});
  }

  void op(const std::string& op, size_t offset) {
    std::string name;
    if (op == "q") {
      ++qDepth_;
    } else if (op == "Q") {
      if (qDepth_ == 0) {
        problem("Q without matching q", offset);
      } else {
        --qDepth_;
      }
    } else if (op == "BMC" || op == "BDC") {
      ++mcDepth_;
      if (op == "BDC" && operands_.size() >= 2 && operands_[1].isName())
        lookup("/Properties", operands_[1].getName(), op, offset);
    } else if (op == "EMC") {
      if (mcDepth_ == 0) {
        problem("EMC without matching BMC/BDC", offset);
      } else {
        --mcDepth_;
      }
    } else if (op == "cs" || op == "CS") {
      if (nameOperand(0, op, offset, name)) colourSpace(name, op, offset);
    } else if (op == "gs") {
      if (!nameOperand(0, op, offset, name)) return;
      auto state = lookup("/ExtGState", name, op, offset);
      if (state.isDictionary()) {
        auto mask = state.getKey("/SMask");
        if (mask.isDictionary() && mask.getKey("/G").isStream())
          addChild("soft mask of", name, mask.getKey("/G"));
      }
    } else if (op == "sh") {
      if (nameOperand(0, op, offset, name)) lookup("/Shading", name, op, offset);
    } else if (op == "Do") {
      if (!nameOperand(0, op, offset, name)) return;
      auto xobject = lookup("/XObject", name, op, offset);
      if (xobject.isNull()) return;
      if (!xobject.isStream()) {
        problem("XObject " + name + " is not a stream", offset);
      } else if (xobject.getDict().getKey("/Subtype").isNameAndEquals("/Form")) {
        addChild("form", name, xobject);
      }
    } else if (op == "Tf") {
      if (nameOperand(0, op, offset, name)) lookup("/Font", name, op, offset);
    } else if (op == "scn" || op == "SCN") {
      if (!operands_.empty() && operands_.back().isName()) {
        name = operands_.back().getName();
        auto pattern = lookup("/Pattern", name, op, offset);
        if (pattern.isStream()) addChild("pattern", name, pattern);
      }
    } else if (op == "ID") {
      // Inline image: its dictionary entries are the operands since BI.
      for (size_t i = 0; i + 1 < operands_.size(); i += 2) {
        if (!operands_[i].isName() || !operands_[i + 1].isName()) continue;
        const auto key = operands_[i].getName();
        if (key != "/CS" && key != "/ColorSpace") continue;
        static const std::set<std::string> abbreviations = {"/G", "/RGB", "/CMYK", "/I"};
        const auto value = operands_[i + 1].getName();
        if (!abbreviations.count(value)) colourSpace(value, "inline image", offset);
      }
    }
  }

  std::string where_;
  QPDFObjectHandle resources_;
  std::vector<std::string>& problems_;
  std::vector<QPDFObjectHandle> operands_;
  std::vector<Target> children_;
  int qDepth_ = 0;
  int mcDepth_ = 0;
};

class DocumentChecker {
 public:
  explicit DocumentChecker(std::vector<std::string>& problems) : problems_(problems) {}

  void page(int number, QPDFPageObjectHelper& page) {
    const std::string where = "page " + std::to_string(number);
    ContentChecker checker(where, page.getAttribute("/Resources", false), problems_);
    parse(where, [&] { page.parseContents(&checker); });
    std::vector<QPDFObjGen> chain;
    for (const auto& child : checker.children()) stream(where, child, chain);
  }

 private:
  template <typename Parse>
  void parse(const std::string& where, Parse&& run) {
    try {
      run();
    } catch (const std::exception& e) {
      problems_.push_back(where + ": content cannot be parsed: " + e.what());
    }
  }

  void stream(const std::string& parent, Target target, std::vector<QPDFObjGen>& chain) {
    const std::string where = parent + " > " + target.label;
    const auto id = target.stream.getObjGen();
    if (std::find(chain.begin(), chain.end(), id) != chain.end()) {
      problems_.push_back(where + ": uses itself");
      return;
    }
    if (chain.size() >= static_cast<size_t>(kMaxDepth)) {
      problems_.push_back(where + ": nested too deeply");
      return;
    }
    // A stream with resources of its own reads the same wherever it is used.
    const bool ownResources = target.stream.getDict().getKey("/Resources").isDictionary();
    if (ownResources && id.isIndirect() && !checked_.insert(id).second) return;

    ContentChecker checker(where, target.resources, problems_);
    parse(where, [&] { target.stream.parseAsContents(&checker); });
    chain.push_back(id);
    for (const auto& child : checker.children()) stream(where, child, chain);
    chain.pop_back();
  }

  std::vector<std::string>& problems_;
  std::set<QPDFObjGen> checked_;
};

}  // namespace

namespace {

template <typename Open>
std::vector<std::string> problemsOf(Open open) {
  std::vector<std::string> problems;
  QPDF qpdf;
  qpdf.setSuppressWarnings(true);
  try {
    open(qpdf);
    auto pages = QPDFPageDocumentHelper(qpdf).getAllPages();
    if (pages.empty()) problems.push_back("the document has no pages");
    DocumentChecker document(problems);
    int number = 0;
    for (auto& page : pages) document.page(++number, page);
  } catch (const std::exception& e) {
    problems.push_back(std::string("qpdf cannot read the file: ") + e.what());
  }
  for (const auto& warning : qpdf.getWarnings()) problems.push_back(std::string("qpdf: ") + warning.what());
  return problems;
}

}  // namespace

std::vector<std::string> contentStreamProblems(const std::filesystem::path& pdf) {
  return problemsOf([&](QPDF& qpdf) { qpdf.processFile(pdf.c_str()); });
}

std::vector<std::string> contentStreamProblemsOfBytes(std::string_view bytes) {
  return problemsOf([&](QPDF& qpdf) { qpdf.processMemoryFile("memory", bytes.data(), bytes.size()); });
}

}  // namespace tavtest
