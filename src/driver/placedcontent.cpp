#include "driver/placedcontent.h"  // first: it includes QPDF.hh before the other qpdf headers

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>

#include <qpdf/Pl_Buffer.hh>
#include <qpdf/Pl_Concatenate.hh>
#include <qpdf/Pl_Discard.hh>
#include <qpdf/Pl_Flate.hh>
#include <qpdf/QPDFTokenizer.hh>

#include "platform/system.h"
#include "platform/tav_error.h"

namespace TavPDF {

namespace {

// Which optional-content groups and membership dictionaries the default
// configuration hides.
class OptionalContentVisibility {
 public:
  explicit OptionalContentVisibility(GADoc& doc) {
    const GADict config = doc.GetCatalog().GetDict("OCProperties").GetDict("D");
    if (!config.IsValid()) return;
    mBaseOn = config.GetName("BaseState") != "OFF";
    for (const char* list : {"ON", "OFF"}) {
      const GAArray groups = config.GetArray(list);
      for (int i = 0; i < groups.GetLength(); ++i) {
        const GAObject g = groups.Get(i);
        if (g.IsIndirect()) (std::strcmp(list, "ON") == 0 ? mOn : mOff).insert(g.Handle().getObjGen());
      }
    }
    mActive = mBaseOn ? !mOff.empty() : true;
  }

  bool Hidden(QPDFObjectHandle object) const {
    if (!mActive || !object.isDictionary()) return false;
    const GADict dict(object);
    const std::string type = dict.GetName("Type");
    if (type == "OCG") return !GroupOn(object);
    if (type != "OCMD") return false;
    std::vector<bool> states;
    QPDFObjectHandle groups = object.getKey("/OCGs");
    if (groups.isArray()) {
      for (int i = 0; i < groups.getArrayNItems(); ++i) states.push_back(GroupOn(groups.getArrayItem(i)));
    } else if (groups.isDictionary()) {
      states.push_back(GroupOn(groups));
    }
    if (states.empty()) return false;
    const std::string policy = dict.Has("P") ? dict.GetName("P") : "AnyOn";
    const bool any = std::find(states.begin(), states.end(), true) != states.end();
    const bool all = std::find(states.begin(), states.end(), false) == states.end();
    if (policy == "AllOn") return !all;
    if (policy == "AnyOff") return all;
    if (policy == "AllOff") return any;
    return !any;
  }

 private:
  bool GroupOn(QPDFObjectHandle group) const {
    if (!group.isIndirect()) return true;
    const QPDFObjGen id = group.getObjGen();
    return mBaseOn ? mOff.count(id) == 0 : mOn.count(id) != 0;
  }

  bool mActive = false;
  bool mBaseOn = true;
  std::set<QPDFObjGen> mOn, mOff;
};

// Names that need no resource: the device colour spaces and the pattern space.
bool deviceSpace(const std::string& name) {
  return name == "/DeviceGray" || name == "/DeviceRGB" || name == "/DeviceCMYK" || name == "/Pattern";
}

// The content tokens pushed through qpdf's tokenizer one byte at a time, so
// that nothing but the token being read is held; operators are judged with
// their operands, and the operands written after them only when they stay.
class ContentFilter final : public Pipeline {
 public:
  ContentFilter(Pipeline* next, const OptionalContentVisibility& visibility, QPDFObjectHandle resources)
      : Pipeline("placed content", next), mVisibility(visibility), mResources(std::move(resources)) {}

  void write(unsigned char const* data, size_t length) override {
    for (size_t i = 0; i < length; ++i) present(static_cast<char>(data[i]));
    mSinceCheck += length;
    if (mSinceCheck > (1u << 20)) {
      mSinceCheck = 0;
      if (TavSys::Progress::isCanceled()) throw TavSys::Error(TavSys::kResultAbandoned, "", "cancelled");
    }
    flushOut(false);
  }

  void finish() override {
    if (!mInlineImage) {
      mTokenizer->presentEOF();
      QPDFTokenizer::Token token;
      bool unread = false;
      char again = 0;
      if (mTokenizer->getToken(token, unread, again) && token.getType() != QPDFTokenizer::tt_eof) handle(token);
    }
    if (mInlineImage) {
      // An inline image without the end of its data is left out: written,
      // it would swallow what follows it.
      mReport.mended = true;
      mHeld.clear();
      mInlineImage = false;
      mImageData.clear();
    }
    if (mSkipDepth == 0) emitHeld();
    mHeld.clear();
    // What is left open is closed, the innermost first.
    if (!mOpen.empty()) mReport.mended = true;
    if (!mOut.empty() && mOut.back() != '\n') mOut += '\n';
    for (auto it = mOpen.rbegin(); it != mOpen.rend(); ++it) mOut += *it == 'q' ? "Q\n" : "EMC\n";
    flushOut(true);
    getNext()->finish();
  }

  PlacedContentReport& report() { return mReport; }

 private:
  static bool space(char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == '\f' || c == '\0'; }

  void present(char ch) {
    if (mInlineImage) {
      inlineImageByte(ch);
      return;
    }
    // Between tokens the tokenizer passes white space over: so does this,
    // without asking it (a page of blanks streams at the speed of a copy).
    if (mBetweenTokens && space(ch)) return;
    mBetweenTokens = false;
    mTokenizer->presentCharacter(ch);
    QPDFTokenizer::Token token;
    bool unread = false;
    char again = 0;
    if (mTokenizer->getToken(token, unread, again)) {
      mBetweenTokens = true;
      handle(token);
      if (unread) present(again);
    }
  }

  // Inline image data run to white space, "EI" and white space or a delimiter.
  void inlineImageByte(char ch) {
    mImageData += ch;
    const std::size_t n = mImageData.size();
    if (n < 4) return;
    const char end = mImageData[n - 1];
    if (!(space(mImageData[n - 4]) && mImageData[n - 3] == 'E' && mImageData[n - 2] == 'I' &&
          (space(end) || std::strchr("()<>[]{}/%", end) != nullptr))) {
      return;
    }
    mInlineImage = false;
    if (mSkipDepth == 0) {
      // The data start with the one white-space character after ID.
      emitHeld();
      mOut.append(mImageData, 0, n - 3);
      mOut += "EI\n";
    }
    mHeld.clear();
    mImageData.clear();
    mTokenizer = std::make_unique<QPDFTokenizer>();
    mBetweenTokens = true;
    present(end);
  }

  void handle(const QPDFTokenizer::Token& token) {
    if (token.getType() == QPDFTokenizer::tt_eof) return;
    // What cannot be read as a token (a string without its end, a stray
    // closing bracket) is left out: written, it could swallow what follows.
    if (token.getType() == QPDFTokenizer::tt_bad) {
      mReport.mended = true;
      return;
    }
    if (token.getType() != QPDFTokenizer::tt_word || isKeyword(token.getValue())) {
      mHeld.push_back(token);
      return;
    }
    const std::string op = token.getValue();
    if (mSkipDepth > 0) {
      if (op == "BMC" || op == "BDC") ++mSkipDepth;
      if (op == "EMC") --mSkipDepth;
      if (op == "ID") mInlineImage = true;
      mHeld.clear();
      return;
    }
    const auto operand = [&](std::size_t fromEnd) -> const QPDFTokenizer::Token* {
      return fromEnd < mHeld.size() ? &mHeld[mHeld.size() - 1 - fromEnd] : nullptr;
    };
    const auto name = [&](std::size_t fromEnd) -> std::string {
      const QPDFTokenizer::Token* t = operand(fromEnd);
      return t != nullptr && t->getType() == QPDFTokenizer::tt_name ? t->getValue() : std::string();
    };
    bool keep = true;
    if (op == "BDC" || op == "BMC") {
      if (op == "BDC" && name(1) == "/OC" &&
          mVisibility.Hidden(lookup("/Properties", name(0)))) {
        mSkipDepth = 1;
        mHeld.clear();
        return;
      }
      if (op == "BDC") need("/Properties", name(0), "property list");
      mOpen.push_back('m');
    } else if (op == "DP") {
      need("/Properties", name(0), "property list");
    } else if (op == "EMC") {
      keep = close('m');
    } else if (op == "q") {
      mOpen.push_back('q');
    } else if (op == "Q") {
      keep = close('q');
    } else if (op == "Do") {
      const std::string x = name(0);
      if (!x.empty()) {
        QPDFObjectHandle xobject = lookup("/XObject", x);
        if (xobject.isStream() && xobject.getDict().hasKey("/OC") && mVisibility.Hidden(xobject.getDict().getKey("/OC"))) {
          mHeld.clear();
          return;
        }
        if (need("/XObject", x, "XObject")) mReport.drawn.insert(x.substr(1));
      }
    } else if (op == "gs") {
      need("/ExtGState", name(0), "graphics state");
    } else if (op == "Tf") {
      need("/Font", name(1), "font");
    } else if (op == "cs" || op == "CS") {
      if (!deviceSpace(name(0))) need("/ColorSpace", name(0), "colour space");
    } else if (op == "scn" || op == "SCN") {
      if (!name(0).empty()) need("/Pattern", name(0), "pattern");
    } else if (op == "sh") {
      need("/Shading", name(0), "shading");
    } else if (op == "ID") {
      mInlineImage = true;
      mHeld.push_back(token);
      return;  // written with its data
    }
    if (!keep) {
      mReport.mended = true;
      mHeld.clear();
      return;
    }
    mHeld.push_back(token);
    emitHeld();
    mOut += '\n';
  }

  static bool isKeyword(const std::string& word) { return word == "true" || word == "false" || word == "null"; }

  // Closes the innermost open item of the kind; false when none is open
  // (the operator is then left out).
  bool close(char kind) {
    for (auto it = mOpen.rbegin(); it != mOpen.rend(); ++it) {
      if (*it != kind) continue;
      mOpen.erase(std::next(it).base());
      return true;
    }
    return false;
  }

  QPDFObjectHandle lookup(const char* category, const std::string& name) {
    if (name.empty() || !mResources.isDictionary()) return QPDFObjectHandle::newNull();
    QPDFObjectHandle dict = mResources.getKey(category);
    return dict.isDictionary() ? dict.getKey(name) : QPDFObjectHandle::newNull();
  }

  // Whether the resources hold the named resource; the first that is
  // missing is the report's flaw.
  bool need(const char* category, const std::string& name, const char* what) {
    if (name.empty()) return false;
    if (!lookup(category, name).isNull()) return true;
    if (mReport.flaw.empty()) {
      mReport.flaw = std::string("its content names the ") + what + " " + name + ", which its resources lack";
    }
    return false;
  }

  // The held tokens, one blank apart.
  void emitHeld() {
    for (std::size_t i = 0; i < mHeld.size(); ++i) {
      if (i > 0) mOut += ' ';
      mOut += mHeld[i].getRawValue();
    }
    mHeld.clear();
  }

  void flushOut(bool all) {
    if (mOut.empty() || (!all && mOut.size() < 65536)) return;
    getNext()->write(reinterpret_cast<const unsigned char*>(mOut.data()), mOut.size());
    mOut.clear();
  }

  const OptionalContentVisibility& mVisibility;
  QPDFObjectHandle mResources;
  std::unique_ptr<QPDFTokenizer> mTokenizer = std::make_unique<QPDFTokenizer>();
  std::vector<QPDFTokenizer::Token> mHeld;  // operands since the last operator
  std::vector<char> mOpen;                  // 'q' and 'm' (marked content) still open
  int mSkipDepth = 0;                       // inside hidden marked content
  bool mInlineImage = false;
  bool mBetweenTokens = true;  // the tokenizer holds nothing of a token
  std::string mImageData;
  std::string mOut;
  std::size_t mSinceCheck = 0;
  PlacedContentReport mReport;
};

PlacedContentReport filterParts(const OptionalContentVisibility& visibility,
                                const std::vector<QPDFObjectHandle>& parts, QPDFObjectHandle resources,
                                Pipeline& out) {
  ContentFilter filter(&out, visibility, std::move(resources));
  Pl_Concatenate joined("placed content parts", &filter);
  bool first = true;
  for (QPDFObjectHandle part : parts) {
    if (!part.isStream()) continue;
    // A line end between parts keeps their tokens apart.
    if (!first) joined.write(reinterpret_cast<const unsigned char*>("\n"), 1);
    first = false;
    bool decoded = false;
    try {
      decoded = part.pipeStreamData(&joined, 0, qpdf_dl_specialized, false, false);
    } catch (const TavSys::Error&) {
      throw;
    } catch (const std::exception& e) {
      throw TavSys::Error(TavSys::kResultAbandoned, "", e.what());
    }
    if (!decoded) throw TavSys::Error(TavSys::kResultAbandoned, "", "stream data that cannot be decoded");
  }
  joined.manualFinish();
  return filter.report();
}

// A form's content in the data it holds now, Flate-encoded.
void replaceContent(QPDFObjectHandle form, const OptionalContentVisibility& visibility, QPDFObjectHandle resources) {
  Pl_Buffer encoded("mended form");
  Pl_Flate deflate("mended form deflate", &encoded, Pl_Flate::a_deflate);
  filterParts(visibility, {form}, std::move(resources), deflate);
  form.replaceStreamData(encoded.getBufferSharedPointer(), QPDFObjectHandle::newName("/FlateDecode"),
                         QPDFObjectHandle::newNull());
}

class FormChecker {
 public:
  explicit FormChecker(const OptionalContentVisibility& visibility) : mVisibility(visibility) {}

  void check(QPDFObjectHandle resources, const std::set<std::string>& drawn, int depth) {
    if (!resources.isDictionary()) return;
    QPDFObjectHandle xobjects = resources.getKey("/XObject");
    if (!xobjects.isDictionary()) return;
    for (const std::string& name : drawn) {
      QPDFObjectHandle form = xobjects.getKey("/" + name);
      if (!form.isStream() || !form.getDict().getKey("/Subtype").isNameAndEquals("/Form")) continue;
      if (form.isIndirect()) {
        const QPDFObjGen id = form.getObjGen();
        if (std::find(mOpen.begin(), mOpen.end(), id) != mOpen.end()) {
          refuse("the form /" + name + " draws itself");
        }
        if (mChecked.count(id) != 0) continue;
        mChecked.insert(id);
        mOpen.push_back(id);
      }
      if (depth >= kMaxPlacedFormDepth) {
        refuse("its forms are nested more than " + std::to_string(kMaxPlacedFormDepth) + " deep");
      }
      // A form without resources of its own takes those of what draws it.
      QPDFObjectHandle own = form.getDict().getKey("/Resources");
      if (!own.isDictionary()) own = resources;
      Pl_Discard discard;
      const PlacedContentReport report = filterParts(mVisibility, {form}, own, discard);
      if (!report.flaw.empty()) refuse("in the form /" + name + ", " + report.flaw);
      if (report.mended) replaceContent(form, mVisibility, own);
      check(own, report.drawn, depth + 1);
      if (form.isIndirect()) mOpen.pop_back();
    }
  }

 private:
  [[noreturn]] static void refuse(const std::string& why) { throw TavSys::Error(TavSys::kResultAbandoned, "", why); }

  const OptionalContentVisibility& mVisibility;
  std::vector<QPDFObjGen> mOpen;  // the forms being checked, outermost first
  std::set<QPDFObjGen> mChecked;
};

}  // namespace

PlacedContentReport FilterPlacedContent(GADoc& doc, const std::vector<QPDFObjectHandle>& parts,
                                        QPDFObjectHandle resources, Pipeline& out) {
  const OptionalContentVisibility visibility(doc);
  return filterParts(visibility, parts, std::move(resources), out);
}

void CheckPlacedForms(GADoc& doc, QPDFObjectHandle resources, const std::set<std::string>& drawn) {
  const OptionalContentVisibility visibility(doc);
  FormChecker(visibility).check(std::move(resources), drawn, 0);
}

}  // namespace TavPDF
