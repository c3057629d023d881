#include "platform/pdflib.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <set>
#include <utility>

#include <qpdf/Buffer.hh>
#include <qpdf/Pl_Buffer.hh>
#include <qpdf/Pl_Flate.hh>
#include <qpdf/Pipeline.hh>
#include <qpdf/QPDFExc.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include "platform/files.h"
#include "platform/genoutfil.h"
#include "platform/tav_error.h"

namespace fs = std::filesystem;

namespace {

GOErrorReporter* gReporter = nullptr;

TavSys::Error readError(const fs::path& path, const std::string& reason) {
  TavSys::Error e(TavSys::kResultAbandoned, "PDF/CANNOT READ PDF FILE", reason);
  e.with("__FILENAME__", path.filename().string()).with("__REASON__", reason);
  return e;
}

QPDFObjectHandle nameObject(std::string_view name) {
  return QPDFObjectHandle::newName("/" + std::string(name));
}

std::string slash(std::string_view key) { return "/" + std::string(key); }

}  // namespace

// ---- errors ---------------------------------------------------------------------------

GOErrorReporter* GOErrorReporter::SetInstance(GOErrorReporter* reporter) {
  return std::exchange(gReporter, reporter);
}

GOErrorReporter* GOErrorReporter::GetInstance() { return gReporter; }

// ---- input streams --------------------------------------------------------------------

long GMemoryInStream::Read(unsigned char* buffer, long n) {
  if (mAt >= mBytes.size()) return -1;
  const std::size_t count = std::min<std::size_t>(std::size_t(std::max(n, 0L)), mBytes.size() - mAt);
  std::memcpy(buffer, mBytes.data() + mAt, count);
  mAt += count;
  return long(count);
}

std::unique_ptr<GInStream> GMemoryInStream::Clone() const {
  return std::make_unique<GMemoryInStream>(mBytes);
}

// ---- objects --------------------------------------------------------------------------

GAObject GAObject::Real(double value) {
  char text[TavNumber::kNumberTextMax + 1];
  char* end = TavNumber::formatReal(text, value);
  return GAObject(QPDFObjectHandle::newReal(std::string(text, end)));
}

GAObject GAObject::Integer(long long value) { return GAObject(QPDFObjectHandle::newInteger(value)); }
GAObject GAObject::Bool(bool value) { return GAObject(QPDFObjectHandle::newBool(value)); }
GAObject GAObject::Name(std::string_view name) { return GAObject(nameObject(name)); }

std::string GAObject::GetName() const {
  if (!mHandle.isName()) return {};
  const std::string name = mHandle.getName();
  return name.empty() ? name : name.substr(1);
}

std::string GAObject::GetString() const {
  return mHandle.isString() ? mHandle.getStringValue() : std::string();
}

GADict GAObject::GetDict() const {
  if (mHandle.isDictionary()) return GADict(mHandle);
  if (mHandle.isStream()) return GADict(mHandle.getDict());
  return GADict();
}

GAArray GAObject::GetArray() const { return mHandle.isArray() ? GAArray(mHandle) : GAArray(); }

GADict GADict::New() { return GADict(QPDFObjectHandle::newDictionary()); }

bool GADict::Has(std::string_view key) const {
  return mHandle.isDictionary() && mHandle.hasKey(slash(key));
}

GAObject GADict::Get(std::string_view key) const {
  if (!mHandle.isDictionary()) return GAObject();
  return GAObject(mHandle.getKey(slash(key)));
}

GAArray GADict::GetArray(std::string_view key) const { return Get(key).GetArray(); }

void GADict::Put(std::string_view key, const GAObject& value) {
  if (mHandle.isDictionary()) mHandle.replaceKey(slash(key), value.Handle());
}

void GADict::Remove(std::string_view key) {
  if (mHandle.isDictionary()) mHandle.removeKey(slash(key));
}

std::vector<std::string> GADict::Keys() const {
  std::vector<std::string> keys;
  if (!mHandle.isDictionary()) return keys;
  for (const std::string& k : mHandle.getKeys()) keys.push_back(k.substr(1));
  return keys;
}

GAArray GAArray::New() { return GAArray(QPDFObjectHandle::newArray()); }

void GAArray::Append(const GAObject& value) {
  if (mHandle.isArray()) mHandle.appendItem(value.Handle());
}

GAObject GAArray::Get(int index) const {
  if (index < 0 || index >= GetLength()) return GAObject();
  return GAObject(mHandle.getArrayItem(index));
}

void GAArray::Put(int index, const GAObject& value) {
  if (index >= 0 && index < GetLength()) mHandle.setArrayItem(index, value.Handle());
}

GAName::GAName(GADoc&, std::string_view name) : GAObject(nameObject(name)) {}

GAStream::GAStream(GADoc& doc, const GADict& dictionary, GInStream& data, bool flate) {
  Pl_Buffer collected("stream data");
  Pl_Flate deflate("stream deflate", &collected, Pl_Flate::a_deflate);
  Pipeline& sink = flate ? static_cast<Pipeline&>(deflate) : static_cast<Pipeline&>(collected);
  unsigned char block[65536];
  for (long n; (n = data.Read(block, long(sizeof block))) >= 0;) {
    if (n > 0) sink.write(block, std::size_t(n));
  }
  sink.finish();
  mHandle = doc.Qpdf().newStream();
  QPDFObjectHandle dict = mHandle.getDict();
  for (const std::string& key : dictionary.Keys()) {
    if (key == "Length" || key == "Filter" || key == "DecodeParms") continue;
    dict.replaceKey(slash(key), dictionary.Get(key).Handle());
  }
  mHandle.replaceStreamData(collected.getBufferSharedPointer(),
                            flate ? nameObject("FlateDecode") : QPDFObjectHandle::newNull(),
                            QPDFObjectHandle::newNull());
  doc.SetDirty();
}

GAStream::GAStream(GADoc& doc, const GADict& dictionary, const std::function<void(Pipeline&)>& produce) {
  Pl_Buffer collected("stream data");
  Pl_Flate deflate("stream deflate", &collected, Pl_Flate::a_deflate);
  produce(deflate);
  mHandle = doc.Qpdf().newStream();
  QPDFObjectHandle dict = mHandle.getDict();
  for (const std::string& key : dictionary.Keys()) {
    if (key == "Length" || key == "Filter" || key == "DecodeParms") continue;
    dict.replaceKey(slash(key), dictionary.Get(key).Handle());
  }
  mHandle.replaceStreamData(collected.getBufferSharedPointer(), nameObject("FlateDecode"), QPDFObjectHandle::newNull());
  doc.SetDirty();
}

std::string GAStream::GetDecodedData() const {
  Pl_Buffer collected("decoded data");
  bool ok = false;
  try {
    ok = mHandle.pipeStreamData(&collected, 0, qpdf_dl_specialized, false, false);
  } catch (const std::exception& e) {
    throw TavSys::Error(TavSys::kResultAbandoned, "", e.what());
  }
  if (!ok) throw TavSys::Error(TavSys::kResultAbandoned, "", "stream data that cannot be decoded");
  std::unique_ptr<Buffer> buffer(collected.getBuffer());
  return std::string(reinterpret_cast<const char*>(buffer->getBuffer()), buffer->getSize());
}

// ---- documents ------------------------------------------------------------------------

std::vector<double> GOPage::GetPageBox(int kind) const {
  QPDFPageObjectHelper page(mPage);
  QPDFObjectHandle box = kind == 0 ? page.getMediaBox() : page.getCropBox();
  if (!box.isRectangle()) return {};
  const QPDFObjectHandle::Rectangle r = box.getArrayAsRectangle();
  return {std::min(r.llx, r.urx), std::min(r.lly, r.ury), std::max(r.llx, r.urx), std::max(r.lly, r.ury)};
}

int GOPage::GetRotation() const {
  QPDFObjectHandle rotate = QPDFPageObjectHelper(mPage).getAttribute("/Rotate", false);
  if (!rotate.isInteger()) return 0;
  const long long quarter = (rotate.getIntValue() / 90) % 4;
  return int(quarter < 0 ? quarter + 4 : quarter);
}

GADoc::GADoc(const fs::path& path) : mPath(path), mQpdf(std::make_unique<QPDF>()) {
  mQpdf->setSuppressWarnings(true);
  try {
    mQpdf->processFile(path.c_str());
  } catch (const std::exception& e) {
    ReportWarnings();
    throw readError(path, e.what());
  }
  if (mQpdf->isEncrypted()) throw readError(path, "the file is encrypted");
  ReportWarnings();
}

GADoc::~GADoc() = default;

namespace {

// The page tree walked before qpdf gathers its pages (which copies a page
// listed twice, and would spend time and memory on every entry a hostile
// file lists): a tree of more entries than a placed file may have, or one
// that holds itself, is refused at once.
void checkPageTree(QPDF& qpdf, const fs::path& path) {
  QPDFObjectHandle root = qpdf.getRoot().getKey("/Pages");
  std::set<QPDFObjGen> nodes;
  std::vector<std::pair<QPDFObjectHandle, int>> todo{{root, 0}};
  std::size_t entries = 0;
  while (!todo.empty()) {
    auto [node, depth] = todo.back();
    todo.pop_back();
    if (!node.isDictionary()) continue;
    QPDFObjectHandle kids = node.getKey("/Kids");
    if (!kids.isArray()) continue;
    if (node.isIndirect() && !nodes.insert(node.getObjGen()).second) {
      throw readError(path, "its page tree holds itself");
    }
    if (depth > GADoc::kMaxPageTreeDepth) throw readError(path, "its page tree is nested too deep");
    const int n = kids.getArrayNItems();
    entries += std::size_t(std::max(n, 0));
    if (entries > GADoc::kMaxPageTreeEntries) {
      throw readError(path, "its page tree lists more than " + std::to_string(GADoc::kMaxPageTreeEntries) +
                                " pages");
    }
    for (int i = 0; i < n; ++i) todo.emplace_back(kids.getArrayItem(i), depth + 1);
  }
}

}  // namespace

int GADoc::GetNumPages() {
  if (!mPagesRead) {
    try {
      checkPageTree(*mQpdf, mPath);
      QPDFPageDocumentHelper pages(*mQpdf);
      // A page takes its resources, boxes and rotation from the page tree
      // when it has none of its own: they become its own entries.
      pages.pushInheritedAttributesToPage();
      for (QPDFPageObjectHelper& p : pages.getAllPages()) mPages.push_back(p.getObjectHandle());
    } catch (const TavSys::Error&) {
      ReportWarnings();
      throw;
    } catch (const std::exception& e) {
      ReportWarnings();
      throw readError(mPath, e.what());
    }
    mPagesRead = true;
    ReportWarnings();
  }
  return int(mPages.size());
}

GOPage GADoc::GetPage(int index) {
  const int count = GetNumPages();
  if (index < 0 || index >= count) {
    throw readError(mPath, "it has no page " + std::to_string(index + 1) + " (it has " +
                               std::to_string(count) + ")");
  }
  return GOPage(mPages[std::size_t(index)]);
}

GADict GADoc::GetCatalog() { return GADict(mQpdf->getRoot()); }

GADict GADoc::GetTrailer() { return GADict(mQpdf->getTrailer()); }

void GADoc::ReportWarnings() {
  for (const QPDFExc& w : mQpdf->getWarnings()) {
    if (gReporter != nullptr) gReporter->Report(w.what());
  }
}

GAObject GADoc::MakeIndirect(const GAObject& object) {
  return GAObject(mQpdf->makeIndirectObject(object.Handle()));
}

namespace {

// qpdf's writer into the engine's one way of writing a file. qpdf writes in
// small pieces: they are gathered into blocks.
class OutputFilePipeline : public Pipeline {
 public:
  explicit OutputFilePipeline(TavSys::OutputFile& out) : Pipeline("output file", nullptr), mOut(out) {}
  void write(unsigned char const* data, size_t length) override {
    mBlock.append(reinterpret_cast<const char*>(data), length);
    if (mBlock.size() >= kBlock) finish();
  }
  void finish() override {
    mOut.writeAll(mBlock);
    mBlock.clear();
  }

 private:
  static constexpr std::size_t kBlock = 256 * 1024;
  TavSys::OutputFile& mOut;
  std::string mBlock;
};

// Whether qpdf writes a '#' in a name as "#23" (this qpdf writes it as it is,
// which readers take for the start of an escape).
bool writerEscapesNumberSign() {
  static const bool escapes = QPDFObjectHandle::newName("/a#b").unparse() == "/a#23b";
  return escapes;
}

// "#" in a name as the escape "#23" that the writer leaves as it stands.
std::string escapedNumberSigns(const std::string& name) {
  std::string out;
  out.reserve(name.size() + 4);
  for (char c : name) {
    if (c == '#') {
      out += "#23";
    } else {
      out += c;
    }
  }
  return out;
}

// Every name and dictionary key holding '#' in the document, in the form
// that reaches the file as "#23". The objects change, so this is done only
// right before the document is written.
void escapeNumberSignsInNames(QPDF& qpdf) {
  std::set<QPDFObjGen> seen;
  std::vector<QPDFObjectHandle> stack{qpdf.getTrailer()};
  for (QPDFObjectHandle& o : qpdf.getAllObjects()) stack.push_back(o);
  auto fixed = [](QPDFObjectHandle value) -> std::optional<QPDFObjectHandle> {
    if (!value.isName() || value.getName().find('#') == std::string::npos) return std::nullopt;
    return QPDFObjectHandle::newName(escapedNumberSigns(value.getName()));
  };
  while (!stack.empty()) {
    QPDFObjectHandle o = stack.back();
    stack.pop_back();
    if (o.isIndirect() && !seen.insert(o.getObjGen()).second) continue;
    QPDFObjectHandle dict = o.isStream() ? o.getDict() : o;
    if (dict.isDictionary()) {
      for (const std::string& key : dict.getKeys()) {
        QPDFObjectHandle value = dict.getKey(key);
        const std::optional<QPDFObjectHandle> name = fixed(value);
        if (name) value = *name;
        if (key.find('#') != std::string::npos) {
          dict.removeKey(key);
          dict.replaceKey(escapedNumberSigns(key), value);
        } else if (name) {
          dict.replaceKey(key, value);
        }
        if (!value.isIndirect() && (value.isDictionary() || value.isArray())) stack.push_back(value);
      }
    } else if (o.isArray()) {
      for (int i = 0; i < o.getArrayNItems(); ++i) {
        QPDFObjectHandle value = o.getArrayItem(i);
        if (auto name = fixed(value)) o.setArrayItem(i, *name);
        if (!value.isIndirect() && (value.isDictionary() || value.isArray())) stack.push_back(value);
      }
    }
  }
}

}  // namespace

PassFile PassFile::AtPath(const fs::path& file) {
  fs::path folder = file.parent_path();
  return {file, folder.empty() ? fs::path(".") : folder, [file](GADoc& doc) { doc.Save(file); }};
}

void GADoc::Save(const fs::path& path) {
  TavSys::OutputFile out(path);
  Save(out);
  out.commit();
}

void GADoc::Save(TavSys::OutputFile& out) {
  const fs::path path = out.target();
  OutputFilePipeline sink(out);
  try {
    QPDFWriter writer(*mQpdf);
    writer.setOutputPipeline(&sink);
    // Streams go out as they are: the new ones are encoded already, and qpdf
    // would give an empty stream a Flate filter with no data.
    writer.setDecodeLevel(qpdf_dl_none);
    writer.setCompressStreams(false);
    writer.setObjectStreamMode(qpdf_o_preserve);
    // The file's identity follows its content, so that the same export gives
    // the same bytes.
    writer.setDeterministicID(true);
    if (!writerEscapesNumberSign()) escapeNumberSignsInNames(*mQpdf);
    writer.write();
  } catch (const TavSys::Error&) {
    throw;
  } catch (const std::exception& e) {
    ReportWarnings();
    throw TavSys::Error(TavSys::kResultAbandoned, "PDF/CANNOT WRITE PDF FILE", e.what())
        .with("%s", path.string());
  }
  ReportWarnings();
  sink.finish();
}

GAObject CloneInto(GADoc& into, GADoc& from, const GAObject& object) {
  QPDFObjectHandle source = object.Handle();
  if (!source.isIndirect()) {
    if (source.isScalar() || source.isNull()) return GAObject(source);
    // qpdf copies indirect objects only: the value is copied as a new object
    // of the source document and taken back as a direct one.
    source = from.Qpdf().makeIndirectObject(source);
    QPDFObjectHandle copy = into.Qpdf().copyForeignObject(source);
    return GAObject(copy.shallowCopy());
  }
  return GAObject(into.Qpdf().copyForeignObject(source));
}

// ---- visitors -------------------------------------------------------------------------

void GOVDefault::VisitXObject(GADict&, const std::string&, GAObject&) {}
void GOVDefault::VisitExtGState(GADict&) {}
void GOVDefault::VisitGroup(GADict&) {}
void GOVDefault::VisitImage(GADict&) {}

namespace {

// Everything reachable from a root, each indirect object once; `visit` is
// given each object with the key under which it was found ("" in arrays and
// at the root) before its children are taken. An explicit stack keeps deeply
// nested files from exhausting the call stack. /Parent is never followed.
template <class Visit>
void walkReachable(QPDFObjectHandle root, const std::set<std::string>& skippedAtRoot, bool skipPieceInfo,
                   Visit visit) {
  struct Item {
    QPDFObjectHandle object;
    std::string key;
    bool root;
  };
  std::set<QPDFObjGen> seen;
  std::vector<Item> stack{{std::move(root), "", true}};
  while (!stack.empty()) {
    Item item = std::move(stack.back());
    stack.pop_back();
    QPDFObjectHandle& o = item.object;
    if (o.isIndirect() && !seen.insert(o.getObjGen()).second) continue;
    visit(o, item.key);
    QPDFObjectHandle dict = o.isStream() ? o.getDict() : o;
    if (dict.isDictionary()) {
      for (auto& [key, value] : dict.getDictAsMap()) {
        if (key == "/Parent" || (skipPieceInfo && key == "/PieceInfo")) continue;
        if (item.root && skippedAtRoot.count(key.substr(1)) != 0) continue;
        if (value.isScalar() || value.isNull()) continue;
        stack.push_back({value, key, false});
      }
    } else if (o.isArray()) {
      const int n = o.getArrayNItems();
      for (int i = n - 1; i >= 0; --i) {
        QPDFObjectHandle value = o.getArrayItem(i);
        if (!value.isScalar() && !value.isNull()) stack.push_back({value, "", false});
      }
    }
  }
}

bool isTransparencyGroup(QPDFObjectHandle dict) {
  QPDFObjectHandle group = dict.getKey("/Group");
  return group.isDictionary() && group.getKey("/S").isNameAndEquals("/Transparency");
}

}  // namespace

void GOVWalk(const GAObject& root, GOVDefault& visitor, const std::set<std::string>& skippedAtRoot) {
  walkReachable(root.Handle(), skippedAtRoot, false, [&](QPDFObjectHandle& o, const std::string& key) {
    QPDFObjectHandle dict = o.isStream() ? o.getDict() : o;
    if (!dict.isDictionary()) return;
    if (key == "/Resources") {
      QPDFObjectHandle xobjects = dict.getKey("/XObject");
      if (xobjects.isDictionary()) {
        GADict holder(xobjects);
        for (auto& [name, value] : xobjects.getDictAsMap()) {
          GAObject x(value);
          visitor.VisitXObject(holder, name.substr(1), x);
        }
      }
      QPDFObjectHandle states = dict.getKey("/ExtGState");
      if (states.isDictionary()) {
        for (auto& [name, value] : states.getDictAsMap()) {
          if (!value.isDictionary()) continue;
          GADict state(value);
          visitor.VisitExtGState(state);
        }
      }
    }
    if ((dict.getKey("/Type").isNameAndEquals("/Page") || dict.getKey("/Subtype").isNameAndEquals("/Form")) &&
        isTransparencyGroup(dict)) {
      GADict group(dict.getKey("/Group"));
      visitor.VisitGroup(group);
    }
    if (o.isStream() && dict.getKey("/Subtype").isNameAndEquals("/Image")) {
      GADict image(dict);
      visitor.VisitImage(image);
    }
  });
}

bool GOVDefaultChange::Change(GADoc&) { return false; }
bool GOVDefaultChange::Change(GADict&) { return false; }
bool GOVDefaultChange::ChangeColorSpace(GADoc&, GAArray&) { return false; }

void GOVChangeRenameSpot::AddRemap(const std::string& oldName, const std::string& newName) {
  mRemap[oldName] = newName;
}

bool GOVChangeRenameSpot::ChangeColorSpace(GADoc&, GAArray& space) {
  const std::string family = space.GetName(0);
  auto renamed = [&](const std::string& name) {
    auto it = mRemap.find(name);
    return it == mRemap.end() ? name : it->second;
  };
  if (family == "Separation") {
    const std::string ink = space.GetName(1);
    if (ink.empty() || renamed(ink) == ink) return false;
    space.Put(1, GAObject(nameObject(renamed(ink))));
    return true;
  }
  if (family != "DeviceN") return false;
  GAArray names = space.GetArray(1);
  if (names.IsIndirect() && mRenamedParts.count(names.Handle().getObjGen()) != 0) return false;
  std::vector<std::string> before, after;
  for (int i = 0; i < names.GetLength(); ++i) {
    before.push_back(names.GetName(i));
    after.push_back(renamed(before.back()));
  }
  if (before == after) return false;
  for (std::size_t i = 0; i < after.size(); ++i) {
    for (std::size_t k = 0; k < i; ++k) {
      if (after[i] == after[k] && after[i] != "None") {
        if (gReporter != nullptr) {
          gReporter->Report("the inks \"" + before[k] + "\" and \"" + before[i] +
                            "\" of one colour would both become \"" + after[i] + "\"");
        }
        return false;
      }
    }
  }
  for (int i = 0; i < names.GetLength(); ++i) {
    if (after[std::size_t(i)] != before[std::size_t(i)]) names.Put(i, GAObject(nameObject(after[std::size_t(i)])));
  }
  if (names.IsIndirect()) mRenamedParts.insert(names.Handle().getObjGen());
  // The attributes name the inks too: the Colorants and the mixing hints.
  GADict attributes = space.GetDict(4);
  if (attributes.IsIndirect() && !mRenamedParts.insert(attributes.Handle().getObjGen()).second) return true;
  auto renameKeys = [&](GADict dict) {
    for (const std::string& key : dict.Keys()) {
      const std::string to = renamed(key);
      if (to == key) continue;
      GAObject value = dict.Get(key);
      dict.Remove(key);
      dict.Put(to, value);
    }
  };
  if (attributes.IsValid()) {
    renameKeys(attributes.GetDict("Colorants"));
    GADict hints = attributes.GetDict("MixingHints");
    renameKeys(hints.GetDict("Solidities"));
    renameKeys(hints.GetDict("DotGain"));
    GAArray order = hints.GetArray("PrintingOrder");
    for (int i = 0; i < order.GetLength(); ++i) {
      const std::string n = order.GetName(i);
      if (!n.empty() && renamed(n) != n) order.Put(i, GAObject(nameObject(renamed(n))));
    }
  }
  return true;
}

GOVActor& GOVActor::GetInstance() {
  static GOVActor actor;
  return actor;
}

void GOVActor::Run(GADoc& doc, GOVTable& table) {
  bool changed = false;
  // Colour spaces are looked for where they are used, not in the private
  // data of pages and forms (their ink lists are the change visitors' own).
  walkReachable(doc.GetTrailer().Handle(), {}, true, [&](QPDFObjectHandle& o, const std::string&) {
    if (o.isArray() && o.getArrayNItems() >= 2) {
      QPDFObjectHandle family = o.getArrayItem(0);
      if (family.isNameAndEquals("/Separation") || family.isNameAndEquals("/DeviceN")) {
        GAArray space(o);
        for (GOVDefaultChange* v : table.Visitors()) changed = v->ChangeColorSpace(doc, space) || changed;
      }
    } else if (o.isStream() && o.getDict().getKey("/Subtype").isNameAndEquals("/Form")) {
      GADict form(o.getDict());
      for (GOVDefaultChange* v : table.Visitors()) changed = v->Change(form) || changed;
    }
  });
  for (GOVDefaultChange* v : table.Visitors()) changed = v->Change(doc) || changed;
  if (changed) doc.SetDirty();
}
