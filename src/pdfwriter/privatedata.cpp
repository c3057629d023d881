#include "pdfwriter/privatedata.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <map>
#include <string>

#include "colour/devicen.h"
#include "pagewriter/pathsplit.h"
#include "platform/fonts/fontcache.h"
#include "platform/fonts/textcalc.h"
#include "pdfwriter/pdfobjects.h"
#include "pdfwriter/pdfouthan.h"
#include "pdfwriter/xmpdata.h"
#include "platform/kernel/job.h"
#include "platform/kernel/pageoutput.h"
#include "platform/kernel/xmpcomposer.h"
#include "platform/system.h"
#include "platform/tav_error.h"
#include "platform/xmlobject.h"
#include "tavpdf/PDFSettings.h"

namespace TavPDF {

namespace {

// Collects a serialised XML document.
class StringOutStream final : public Xml::OutStream {
 public:
  void write(const void* data, std::size_t size) override {
    text.append(static_cast<const char*>(data), size);
  }
  void flush() override {}
  int status() const override { return 0; }
  std::string text;
};

PDFArray* Reals(std::initializer_list<double> values) {
  auto* array = new PDFArray();
  for (double v : values) array->Add(new PDFReal(v));
  return array;
}

// The job's default box of a kind (the trim box falls back as getbox says).
TavSys::tv_rectangle DefaultBox(const jobstr* job, int kind) {
  TavSys::tv_rectangle box;
  getbox(job, getdefaultboxtype(job, kind), box);
  return box;
}

bool IsStroked(const TavDB::Object* object) {
  return object != nullptr && object->stroke() != nullptr && object->stroke()->width > 0;
}

// The inks' types by output name, for "inpd:InkTypes".
const char* InkType(const jobstr* job, int sep, const std::string& name) {
  if (TavricLib::SeparationNameIsCMYK(name)) return "Standard";
  if (separationIsOpaque(job, sep)) return "Opaque";
  if (separationIsTechnical(job, sep)) return "Technical";
  if (separationIsVarnish(job, sep)) return "Varnish";
  return "Standard";
}

// The attributes dictionary of a DeviceN array (appended when the array has
// none yet); null for any other array.
PDFDictionary* DeviceNAttributes(PDFArray* array) {
  auto* family = array != nullptr ? dynamic_cast<PDFName*>(array->Get(0)) : nullptr;
  if (family == nullptr || std::string(family->GetName()) != "DeviceN") return nullptr;
  if (auto* attributes = dynamic_cast<PDFDictionary*>(array->Get(4))) return attributes;
  if (array->Size() >= 5) return nullptr;
  auto* attributes = new PDFDictionary();
  array->Add(attributes);
  return attributes;
}

PDFDictionary* BuildInPDF(pdfouthan& handler) {
  jobstr* job = handler.mJob;
  auto* inPDF = new PDFDictionary();
  std::unique_ptr<PDFCsDeviceN> inks = BuildInkColorSpace(handler, false, kSepUsed);
  PDFArray* array = inks ? inks->WriteDeviceNColorSpaceArray(&handler, 0, true, true) : nullptr;
  if (array == nullptr) return inPDF;
  inPDF->Set("Inks", array);
  PDFDictionary* attributes = DeviceNAttributes(array);
  if (attributes == nullptr) return inPDF;
  auto* types = new PDFDictionary();
  const int count = std::min(inks->GetSepCount(), inks->GetMaxColorants());
  for (int i = 0; i < count; ++i) {
    const int sep = inks->GetSepSorted(i);
    if (sep < 0) continue;
    std::string name;
    handler.getSeparationName(name, job, sep);
    types->Set(name, new PDFName(InkType(job, sep, name)));
  }
  attributes->Set("inpd:InkTypes", types);
  std::unique_ptr<PDFCsDeviceN> softMask = BuildInkColorSpace(handler, false, kSepUsedInSoftMask);
  if (softMask && !softMask->IsEmpty()) {
    if (PDFArray* softMaskArray = softMask->WriteDeviceNColorSpaceArray(&handler, 0, true, true))
      attributes->Set("SoftmaskInks", softMaskArray);
  }
  return inPDF;
}

PDFIndirectReference* WriteLinkInfo(pdfouthan& handler) {
  Xml::Document document;
  Xml::Element* root = document.setRoot(std::make_unique<Xml::Element>("TavLink"));
  SaveParameters2XML(handler.mJob, *root);
  StringOutStream xml;
  document.toStream(xml);
  return WriteXMLStream(handler, xml.text, "the job parameters");
}

// A dictionary written at once, holding the cutting program of an object.
PDFIndirectReference* WriteProgram(pdfouthan& handler, const TavDB::Object* cutting) {
  auto* program = new PDFDictionary();
  WriteCuttingProgram(handler.mJob, program, cutting);
  PDFIndirectReference* reference = handler.makeIndirect(program);
  handler.writeObject(reference);
  return reference;
}

}  // namespace

std::unique_ptr<PDFCsDeviceN> BuildInkColorSpace(pdfouthan& handler, bool separationOutput,
                                                 int selector) {
  jobstr* job = handler.mJob;
  std::array<unsigned short, kMaxSeparations> tints{};
  for (int slot = 0; slot < kMaxSeparations; ++slot) {
    const int sep = sepsoruse(job, slot, false);
    if (sep >= 0 && (sepisused(job, sep, false) & selector) != 0) tints[std::size_t(sep)] = kTintFull;
  }
  CsDeviceN::Options options;
  options.maxColorants = 27;
  // Soft-mask inks are listed whatever the separation disabler says.
  auto build = [&] {
    auto space = std::make_unique<PDFCsDeviceN>(
        job, tints.data(), 1, kTintFull, options,
        selector == kSepUsedInSoftMask ? nullptr : handler.getSeparationDisabler());
    space->AllowSeparationCSOutput(separationOutput);
    return space;
  };
  std::unique_ptr<PDFCsDeviceN> space = build();
  if (handler.mSettings != nullptr && handler.mSettings->NormalizedOutput != 0) {
    // Inks that share an output name with an earlier ink are listed too.
    std::map<std::string, int> names;
    bool added = false;
    for (int slot = 0; slot < kMaxSeparations; ++slot) {
      const int sep = sepsoruse(job, slot, false);
      if (sep < 0) continue;
      std::string name;
      handler.getSeparationName(name, job, sep);
      if (!names.emplace(name, slot).second && tints[std::size_t(sep)] != kTintFull) {
        tints[std::size_t(sep)] = kTintFull;
        added = true;
      }
    }
    if (added) space = build();
  }
  return space;
}

PDFDictionary* buildPieceInfo(pdfouthan& handler) {
  jobstr* job = handler.mJob;
  auto* pieceInfo = new PDFDictionary();
  const std::string date = TavCore::CreatePDFStringFromDateTime(
      filsavall != 0 ? TavSys::DateTime::Now() : TavSys::DateTime(0));
  pieceInfo->Set("LastModified", new PDFString(date.c_str()));
  VisitorFindStepAndRepeat stepAndRepeat(
      job, handler.mSettings != nullptr && handler.mSettings->IncludeScreening != 0);
  TavDB::Object* tree = handler.mSpatialTree != nullptr ? handler.mSpatialTree : jobGetSpahan(job);
  TavDB::AcceptVisitor(tree, stepAndRepeat);
  pieceInfo->Set("Vornhold_StepAndRepeat", new PDFBool(stepAndRepeat.IsStepAndRepeat()));
  pieceInfo->Set("inPDF", BuildInPDF(handler));
  pieceInfo->Set("TavLinkInfo", WriteLinkInfo(handler));
  return pieceInfo;
}

// ---- step and repeat ---------------------------------------------------------------

VisitorFindStepAndRepeat::VisitorFindStepAndRepeat(const jobstr* job, bool screening)
    : TavDB::ObjectVisitor(0x20000, 0, 0x8820000, 0), mJob(job), mScreening(screening) {}

bool VisitorFindStepAndRepeat::VisitGroup(TavDB::Object&) { return !mDiffers && !mOverlaps; }

bool VisitorFindStepAndRepeat::VisitCompound(TavDB::Object& compound) {
  if (!mDiffers && !mOverlaps) Consider(compound);
  return false;
}

bool VisitorFindStepAndRepeat::VisitPath(TavDB::Object& path) {
  if (!mDiffers && !mOverlaps) Consider(path);
  return false;
}

void VisitorFindStepAndRepeat::Consider(TavDB::Object& object) {
  const Paint* paint = paipoi(mJob, object.paint());
  if (paint != nullptr && paint->type == kPaintPicture && !pictureIsUnknown(mJob, paint->picture) &&
      (picisart(mJob, paint->picture) || picispdf(mJob, paint->picture))) {
    auto known = std::find_if(mPictures.begin(), mPictures.end(),
                              [&](const auto& entry) { return entry.first == paint->picture; });
    if (known != mPictures.end()) {
      if (mScreening && known->second != paint->screen) {
        mDiffers = true;
      } else {
        mFound = true;
      }
    } else {
      mPictures.emplace_back(paint->picture, paint->screen);
    }
    const TavDB::tv_box& b = object.bounds();
    for (const TavDB::Object* seen : mSeen) {
      const TavDB::tv_box& s = seen->bounds();
      const bool boundsMeet = b.left < s.right && s.left < b.right && b.top < s.bottom && s.top < b.bottom;
      if (boundsMeet && TavricGeo::Overlap(&object, seen)) {
        mOverlaps = true;
        break;
      }
    }
  }
  mSeen.push_back(&object);
}

// ---- colorant list and cutting programs ------------------------------------------------

PDFDictionary* buildColorantList(pdfouthan& handler) {
  jobstr* job = handler.mJob;
  auto* inks = new PDFArray();
  for (int slot = 0; slot < kMaxSeparations; ++slot) {
    const int sep = sepsoruse(job, slot, false);
    if (sep < 0) continue;
    const bool process = sepiscmyk(job, sep) >= 0;
    if ((sepisused(job, sep, false) & kSepUsed) == 0 && !process) continue;
    std::uint8_t c = 0, m = 0, y = 0, k = 0;
    sepcmyk_(job, sep, c, m, y, k);
    std::string name;
    handler.getSeparationName(name, job, sep);
    const char* group = "designer";
    if (process) {
      group = "process";
    } else if (name.size() > 10 && name.compare(0, 8, "PANTONE ") == 0 &&
               name.compare(name.size() - 2, 2, " C") == 0) {
      group = "pantone";
      name = name.substr(8, name.size() - 10);
    }
    auto* entry = new PDFDictionary();
    entry->Set("CMYK", Reals({c / 100.0, m / 100.0, y / 100.0, k / 100.0}));
    entry->Set("GROUP", new PDFString(group));
    entry->Set("NAME", new PDFString(name));
    inks->Add(entry);
  }
  auto* colorants = new PDFDictionary();
  colorants->Set("IDB", inks);
  buildStaggeredCutData(handler, colorants);
  return colorants;
}

void buildStaggeredCutData(pdfouthan& handler, PDFDictionary* colorants) {
  jobstr* job = handler.mJob;
  TavDB::Object* tree = handler.mSpatialTree != nullptr ? handler.mSpatialTree : jobGetSpahan(job);
  auto isCutting = [](const TavDB::Object* o) { return o->extra() != nullptr && o->extra()->staggeredCut; };
  TavDB::ListScan scan(tree, TavDB::kObjGroup, 0x820000, 0, 0x820000, 0);
  TavDB::Object* first = scan.next();
  while (first != nullptr && !isCutting(first)) first = scan.next();

  PDFDictionary* rdb = nullptr;
  PDFIndirectReference* rdbReference = nullptr;
  auto makeRdb = [&] {
    if (rdb != nullptr) return;
    rdb = new PDFDictionary();
    rdbReference = handler.makeIndirect(rdb);
    colorants->Set("RDB", rdbReference);
  };
  if (first != nullptr) {
    makeRdb();
    auto* scp = new PDFDictionary();
    PDFIndirectReference* scpReference = handler.makeIndirect(scp);
    rdb->Set("SCP", scpReference);
    if (first->extra()->staggeredAllInks) {
      scp->Set("All", WriteProgram(handler, first));
    } else if (handler.mXMPComposer != nullptr) {
      TavricLib::XMPComposer& composer = *handler.mXMPComposer;
      const std::vector<XMPlInk>& inks = composer.GetXMPLib().GetInks();
      std::vector<const TavDB::Object*> assigned(inks.size(), nullptr);
      for (TavDB::Object* cutting = first; cutting != nullptr; cutting = scan.next()) {
        if (!isCutting(cutting)) continue;
        for (std::size_t i = 0; i < inks.size(); ++i) {
          if (assigned[i] != nullptr) continue;
          const std::string inkName = composer.GetXMPInkName(inks[i]);
          for (int slot = 0; slot < sepfrejob(job); ++slot) {
            const int sep = sepsoruse(job, slot, true);
            if (sep < 0) continue;
            std::string name;
            handler.getSeparationName(name, job, sep);
            composer.MatchXMPInkName(sep, name);
            if (name == inkName && (cutting->extra()->staggeredInks >> slot & 1) != 0) {
              assigned[i] = cutting;
              break;
            }
          }
        }
      }
      for (std::size_t i = 0; i < inks.size(); ++i)
        if (assigned[i] != nullptr) scp->Set(std::to_string(i + 1), WriteProgram(handler, assigned[i]));
    }
    handler.writeObject(scpReference);
  }
  if (job->HasSolvaraSettings()) {
    makeRdb();
    auto* solvara = new PDFDictionary();
    solvara->Set("Settings", new PDFString(job->GetSolvaraSettings().c_str()));
    rdb->Set("Solvara", solvara);
  }
  if (rdbReference != nullptr) handler.writeObject(rdbReference);
}

void WriteCuttingProgram(const jobstr* job, PDFDictionary* program, const TavDB::Object* cutting) {
  int line = 0;
  auto add = [&](const std::string& text) { program->Set(std::to_string(line++), new PDFString(text.c_str())); };
  add("%%C Created by staggered cutting module Tavric 18.1");
  add("%INCM0.01");
  if (cutting != nullptr) {
    const TavSys::tv_rectangle trim = DefaultBox(job, kTrimBox);
    const double perUnit = 2540.0 / TavDB::getppi(job);  // hundredths of a millimetre
    TavDB::ListScan paths(cutting, TavDB::kObjPath, 0x820000, 0, 0, 0);
    for (const TavDB::Object* path = paths.next(); path != nullptr; path = paths.next()) {
      if (IsStroked(path) || IsStroked(path->parent())) continue;
      TavDB::scan points;
      points.scabeg(path);
      std::int32_t v = 0, h = 0, c1v = 0, c1h = 0, c2v = 0, c2h = 0;
      bool curve = false;
      // One line per point of the path as it is stored: a curve's two
      // control points come before its end point, so the program holds the
      // curve whole (the first point moves, code 2; every other one draws, 1).
      int code = 2;
      auto point = [&](std::int32_t pv, std::int32_t ph) {
        char text[64];
        std::snprintf(text, sizeof text, "X%dY%dD%d", TavSys::iround((ph - trim.left) * perUnit),
                      TavSys::iround((trim.bottom - pv) * perUnit), code);
        add(text);
        code = 1;
      };
      while (points.scanex(v, h, c1v, c1h, c2v, c2h, curve) >= 0) {
        if (curve) {
          point(c1v, c1h);
          point(c2v, c2h);
        }
        point(v, h);
      }
      points.scaend();
    }
  }
  add("M0");
}

// ---- per page ------------------------------------------------------------------------

// The name of a text's alignment. Our texts align horizontally (left,
// centre, right; justified lines count as left) and hang from their first
// baseline, so vertically they are always aligned at the top.
static const char* createAlignmentValue(int alignment, bool horizontal) {
  if (!horizontal) return "Top";
  static const char* const kNames[] = {"Left", "Center", "Right", "Left"};
  return kNames[std::clamp(alignment, 0, 3)];
}

PDFDictionaryValue* MakeStationNumbersInfo(jobstr* job) {
  const TavDB::Object* text = stationNumberObject(job, 0x20000, 0, 0x20000, 0);
  if (text == nullptr) return nullptr;
  TextCalc calc = texcalini(job, text);
  if (!calc) return nullptr;
  // The parameters of the first character.
  int code = texcalnex(calc.get());
  while (code < 32 && code != kTextEnd) code = texcalnex(calc.get());
  const int ppi = TavDB::getppi(job);
  double m[4];
  texcalbasematppi(calc.get(), ppi, m);
  double v = 0, h = 0;
  GetTextLetterPosition(calc.get(), v, h);
  TextParameters parameters;
  texcalpars(calc.get(), parameters);
  const double size = texcalSize(calc.get());
  texcalexi(calc);

  const TavSys::tv_rectangle trim = DefaultBox(job, kTrimBox);
  const double cx = (trim.left + trim.right) / 2.0, cy = (trim.top + trim.bottom) / 2.0;
  const double scale = 72.0 / ppi;
  auto* info = new PDFDictionary();
  info->Set("Transformation", Reals({m[3] / ppi, -m[1] / ppi, -m[2] / ppi, m[0] / ppi,
                                     (h - cx) * scale, (cy - v) * scale}));
  auto* textInfo = new PDFDictionary();
  TavricCore::FontCache* fonts = TavricCore::jobGetFontCache(job);
  const std::string font = parameters.fontId >= 0 ? fonts->FontName(parameters.fontId) : text->text()->runs.front().font;
  textInfo->Set("Font", new PDFString(font.c_str()));
  textInfo->Set("Size", new PDFReal(size * scale));
  textInfo->Set("Spacing", new PDFReal(parameters.charSpacing / 65536.0));
  textInfo->Set("AlignH", new PDFName(createAlignmentValue(parameters.alignment, true)));
  textInfo->Set("AlignV", new PDFName(createAlignmentValue(0, false)));
  info->Set("Text", textInfo);

  auto* names = new PDFArray();
  auto* shares = new PDFArray();
  const std::vector<std::uint16_t> paints = texsca(text);
  if (const std::uint8_t* pct = paints.empty() ? nullptr : paisep(job, paints.front())) {
    for (int slot = 0; slot < kMaxSeparations; ++slot) {
      const int sep = sepsoruse(job, slot, false);
      if (sep < 0 || pct[sep] > 254) continue;
      names->Add(new PDFString(GetSeparationName(job, sep).c_str()));
      shares->Add(new PDFReal(std::min<int>(pct[sep], 100) / 100.0));
    }
  }
  auto* colour = new PDFDictionary();
  colour->Set("DeviceN", names);
  colour->Set("C", shares);
  info->Set("Color", colour);
  return info;
}

PDFDictionaryValue* MakeTrimAndBleedInfo(const jobstr* job) {
  const TrimAndBleedInfo& info = job->trimAndBleed;
  if (!info.present) return nullptr;
  const double scale = 72.0 / TavDB::getppi(job);
  auto* trimBleed = new PDFDictionary();
  trimBleed->Set("Trim", Reals({info.trimLeft * scale, info.trimBottom * scale,
                                info.trimRight * scale, info.trimTop * scale}));
  const TavSys::tv_rectangle trim = DefaultBox(job, kTrimBox);
  const double cx = (trim.left + trim.right) / 2.0, cy = (trim.top + trim.bottom) / 2.0;
  auto* regions = new PDFArray();
  TavDB::ListScan paths(jobGetSpahan(job), TavDB::kObjPath, 0x20000, 0, 0, 0);
  for (const TavDB::Object* path = paths.next(); path != nullptr; path = paths.next()) {
    const int type = path->extra() != nullptr ? path->extra()->boxCreator : 0;
    if (type != 10 && type != 11) continue;
    const TavDB::tv_box& b = path->bounds();
    auto* region = new PDFDictionary();
    region->Set("Location", Reals({(b.left - cx) * scale, (cy - b.bottom) * scale,
                                   (b.right - cx) * scale, (cy - b.top) * scale}));
    region->Set("Type", new PDFName(type == 10 ? "Trimmable" : "Bleeding"));
    regions->Add(region);
  }
  if (regions->Size() > 0) trimBleed->Set("Regions", regions);
  trimBleed->Set("Bleed", new PDFReal(info.bleed * scale));
  return trimBleed;
}

void SaveParameters2XML(const jobstr* job, Xml::Element& root) {
  for (const auto& [name, value] : job->parameters) {
    auto* parameter = root.addChild(std::make_unique<Xml::Element>("Parameter"));
    parameter->setAttribute("Name", name);
    parameter->setAttribute("Value", value);
  }
}

}  // namespace TavPDF
