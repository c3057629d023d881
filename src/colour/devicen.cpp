#include "colour/devicen.h"

#include <charconv>
#include <cstring>
#include <string_view>

#include "colour/colourpdf.h"
#include "pdfwriter/pdfouthan.h"
#include "pdfwriter/pdfoutfil.h"
#include "platform/kernel/job.h"
#include "platform/system.h"


namespace {

bool ValidSep(int sep) { return sep >= 0 && sep < kMaxSeparations; }

void AppendFixed6(std::string& text, double value) {
  char buffer[64];
  auto [end, ec] =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 6);
  if (ec != std::errc()) {
    text += "0.000000";
    return;
  }
  text.append(buffer, end);
}

// The suffix that tells the parts of a split space apart: "a".."z", then
// "p26", "p27", ... (only spaces of fewer than three colourants per part
// over many inks get that far).
std::string PartSuffix(int part) {
  if (part >= 0 && part < 26) return std::string(1, static_cast<char>('a' + part));
  return "p" + std::to_string(part);
}

// What the array builder made, for the NChannel attributes.
struct DeviceNArrayInfo {
  bool isDeviceN = false;
  std::vector<std::string> names;  // colourant names, /None included
};

}  // namespace

std::string BuildTintTransformProgram(const std::vector<std::array<float, 4>>& cmyk) {
  const int n = static_cast<int>(cmyk.size());
  std::string text = "{\n";
  for (int j = 0; j < 4; ++j) {
    text += "1.0";
    for (int i = 0; i < n; ++i) {
      text += ' ';
      text += std::to_string(n - i);
      text += " index ";
      AppendFixed6(text, cmyk[static_cast<std::size_t>(i)][static_cast<std::size_t>(j)]);
      text += " mul";
      text += " 1.0 exch sub mul";
    }
    text += " 1.0 exch sub ";
    text += std::to_string(n + 1);
    text += " 1 roll\n";
  }
  for (int i = 0; i < n; ++i) text += "pop\n";
  text += "}";
  return text;
}

// ---------------------------------------------------------------- PDFCsDeviceN

ColorSpace* PDFCsDeviceN::Clone() const { return new PDFCsDeviceN(*this); }

int PDFCsDeviceN::pdfGetNumParts() const {
  const int n = GetSepCount();
  if (n < 1) return 1;
  return (n - 1 + mMaxColorants) / mMaxColorants;
}

int PDFCsDeviceN::PartColorantCount(int part) const {
  const int c = GetSepCount();
  if (c == 0 || part < 0 || part >= pdfGetNumParts()) return 0;
  return part == pdfGetNumParts() - 1 ? (c - 1) % mMaxColorants + 1 : mMaxColorants;
}

bool PDFCsDeviceN::NeedsNonePadding(int part, int n) const {
  if (!mForceDeviceN) return false;
  const long long start = static_cast<long long>(mMaxColorants) * part;
  if (start >= n) return true;
  for (long long j = start; j < n; ++j)
    if (sepiscmyk(mJob, GetSepSorted(static_cast<int>(j))) < 0) return false;
  return true;
}

int PDFCsDeviceN::ProcessSeparation(int component) const {
  for (int slot = 0; slot < kMaxSeparations; ++slot) {
    const int sep = SepAtSlot(slot);
    if (sep >= 0 && sepiscmyk(mJob, sep) == component) return sep;
  }
  return -1;
}

std::string PDFCsDeviceN::pdfGetName(int part) { return NameOfPart(part, IsPureCMYK()); }

std::string PDFCsDeviceN::NameOfPart(int part, bool pure) {
  if ((IsEmpty() && !mForceDeviceN) || pure) return "DeviceCMYK";
  // "DN", then "_<slot>" for each covered ink: at most 64 slots of 3 bytes.
  char text[2 + 3 * kMaxSeparations];
  char* p = text;
  *p++ = 'D';
  *p++ = 'N';
  for (int slot = 0; slot < kMaxSeparations; ++slot) {
    const int sep = mSepList[slot];
    if (sep < 0 || !mUse[sep]) continue;
    *p++ = '_';
    if (slot >= 10) *p++ = static_cast<char>('0' + slot / 10);
    *p++ = static_cast<char>('0' + slot % 10);
  }
  std::string name(text, p);
  if (NeedsNonePadding(part, GetSepCount())) {
    name += "_None";
    if (IsEmpty()) name += "_None";
  }
  if (pdfGetNumParts() > 1) name += "_" + PartSuffix(part);
  return name;
}

TavPDF::PDFArray* PDFCsDeviceN::GetProcessSepsArray(const unsigned short* tints) const {
  auto* array = TavColorPdf::NewArray();
  for (int c = 0; c < 4; ++c) {
    const int sep = ProcessSeparation(c);
    TavColorPdf::Append(array, TavColorPdf::Real(ValidSep(sep) ? TintToReal(tints[sep]) : 0.0));
  }
  return array;
}

TavPDF::PDFArray* PDFCsDeviceN::pdfGetSepsArray(const unsigned short* tints) const {
  auto* array = TavColorPdf::NewArray();
  if (IsEmpty()) {
    // As many values as the space written for it has components: /None /None
    // when forced to DeviceN, four for the DeviceCMYK it is named otherwise.
    const int count = mForceDeviceN ? 2 : 4;
    for (int i = 0; i < count; ++i) TavColorPdf::Append(array, TavColorPdf::Real(0.0));
    return array;
  }
  if (IsPureCMYK()) return GetProcessSepsArray(tints);
  for (int slot = 0; slot < kMaxSeparations; ++slot) {
    const int sep = SepAtSlot(slot);
    if (sep >= 0 && InColorSpace(sep)) TavColorPdf::Append(array, TavColorPdf::Real(TintToReal(tints[sep])));
  }
  // The /None colourant of a padded space takes a value as well.
  if (NeedsNonePadding(0, GetSepCount())) TavColorPdf::Append(array, TavColorPdf::Real(0.0));
  return array;
}

bool PDFCsDeviceN::pdfHasColorSpaceArray(int) const {
  // An empty space forced to DeviceN is written as [/DeviceN [/None /None] ...].
  return !IsPureCMYK() && (!IsEmpty() || mForceDeviceN);
}

static TavPDF::PDFArray* BuildDeviceNArray(const PDFCsDeviceN& space, TavPDF::pdfouthan* handler,
                                           int part, bool withAttributes, bool pureCMYKAsDeviceN,
                                           DeviceNArrayInfo* info);

TavPDF::PDFArray* PDFCsDeviceN::WriteDeviceNColorSpaceArray(TavPDF::pdfouthan* handler, int part,
                                                            bool withAttributes,
                                                            bool pureCMYKAsDeviceN) const {
  return BuildDeviceNArray(*this, handler, part, withAttributes, pureCMYKAsDeviceN, nullptr);
}

TavPDF::PDFArray* PDFCsDeviceN::pdfGetColorSpace(TavPDF::pdfouthan* handler, int part) const {
  return WriteDeviceNColorSpaceArray(handler, part, false, false);
}

bool PDFCsDeviceN::pdfGetTRName(std::string&) const { return false; }

CsMasked* PDFCsDeviceN::pdfGetPart(int part) {
  const int parts = pdfGetNumParts();
  if (part < 0 || part >= parts) return nullptr;
  auto* clone = dynamic_cast<CsDeviceN*>(Clone());
  if (!clone) return nullptr;
  clone->SetOverprint(GetOverprint() || part > 0);
  const int n = GetSepCount();
  if (n >= 1) {
    // Groups counted from the end: part 0 is the short last group.
    const int skip = mMaxColorants * (parts - 1 - part);
    const int keep = part == 0 ? (n - 1) % mMaxColorants + 1 : mMaxColorants;
    int index = 0;
    for (int slot = 0; slot < kMaxSeparations; ++slot) {
      const int sep = SepAtSlot(slot);
      if (sep < 0 || !mUse[sep]) continue;
      clone->SetSeparationUse(sep, index >= skip && index < skip + keep);
      ++index;
    }
  }
  return clone;
}

void PDFCsDeviceN::WriteDeviceNTints(TavPDF::pdfoutfilter& out, const unsigned short* tints,
                                     bool stroke) {
  WriteDeviceNTints(out, tints, stroke, IsPureCMYK());
}

void PDFCsDeviceN::WriteDeviceNTints(TavPDF::pdfoutfilter& out, const unsigned short* tints,
                                     bool stroke, bool pure) {
  if (IsEmpty() && !mForceDeviceN) {
    out << (stroke ? "0 0 0 0 K\n" : "0 0 0 0 k\n");
    return;
  }
  // The operands and the operator go out in one piece.
  char text[kTintTextMax * kMaxSeparations + 16];
  char* p = text;
  if (pure) {
    // The first ink in slot order of each process component, found in one
    // pass over the slots.
    int process[4] = {-1, -1, -1, -1};
    for (int slot = 0; slot < kMaxSeparations; ++slot) {
      const int sep = mSepList[slot];
      if (sep < 0) continue;
      const int component = sepiscmyk(mJob, sep);
      if (component >= 0 && component < 4 && process[component] < 0) process[component] = sep;
    }
    for (int c = 0; c < 4; ++c) {
      const int sep = process[c];
      p = FormatTintInto(p, ValidSep(sep) ? tints[sep] : 0);
    }
    *p++ = stroke ? 'K' : 'k';
    *p++ = '\n';
    out.PutBytes(text, static_cast<std::size_t>(p - text));
    return;
  }
  for (int slot = 0; slot < kMaxSeparations; ++slot) {
    const int sep = mSepList[slot];
    if (sep >= 0 && mUse[sep]) p = FormatTintInto(p, tints[sep]);
  }
  if (NeedsNonePadding(0, GetSepCount())) {
    *p++ = '0';
    *p++ = ' ';
    if (IsEmpty()) {
      *p++ = '0';
      *p++ = ' ';
    }
  }
  std::memcpy(p, stroke ? "SCN\n" : "scn\n", 4);
  p += 4;
  out.PutBytes(text, static_cast<std::size_t>(p - text));
}

bool PDFCsDeviceN::WritePartColor(TavPDF::pdfoutfilter& out, const unsigned short* tints, int part,
                                  bool stroke) {
  const int parts = pdfGetNumParts();
  if (part < 0 || part >= parts) return false;
  const int n = GetSepCount();
  // Groups counted from the start, m covered separations each.
  std::vector<int> taken;
  bool anyDefined = false;
  int index = 0;
  for (int slot = 0; slot < kMaxSeparations && index < n; ++slot) {
    const int sep = SepAtSlot(slot);
    if (sep < 0 || !InColorSpace(sep)) continue;
    if (index / mMaxColorants == part) {
      taken.push_back(sep);
      if (tints[sep] != kTintUndefined) anyDefined = true;
    }
    ++index;
  }
  if (!anyDefined) return false;
  const std::uint8_t keep = mOverprint;
  if (part > 0) mOverprint = 1;
  SelectColorSpace(*this, out, stroke, part);
  for (int sep : taken) FormatTint(out, tints[sep]);
  if (NeedsNonePadding(part, n)) out << "0 ";
  out << (stroke ? " SCN\n" : " scn\n");
  mOverprint = keep;
  return true;
}

void PDFCsDeviceN::pdfOutputColor(TavPDF::pdfoutfilter& out, const unsigned short* tints,
                                  bool stroke) {
  if (pdfGetNumParts() == 1) {
    // Whether the space is the process inks alone decides both its name and
    // its operands: looked at once. (A list of single-ink parts names its
    // parts its own way.)
    const bool pure = IsPureCMYK();
    SelectMaskedColorSpace(*this, IsMultiSep() ? pdfGetName(0) : NameOfPart(0, pure), out, stroke);
    WriteDeviceNTints(out, tints, stroke, pure);
    return;
  }
  // One colour cannot hold the inks of several parts: whoever paints must do
  // it part by part (pdfOutputColorForPart). Setting the first part at least
  // keeps the path from taking whatever colour was in force before.
  TavSys::debugstring("PDFCsDeviceN::pdfOutputColor: colour of several parts, only the first is set");
  WritePartColor(out, tints, 0, stroke);
}

void PDFCsDeviceN::pdfOutputFillColor(TavPDF::pdfoutfilter& out, const unsigned short* tints) {
  pdfOutputColor(out, tints, false);
}

void PDFCsDeviceN::pdfOutputStrokeColor(TavPDF::pdfoutfilter& out, const unsigned short* tints) {
  pdfOutputColor(out, tints, true);
}

bool PDFCsDeviceN::pdfOutputColorForPart(TavPDF::pdfoutfilter& out, const unsigned short* tints,
                                         int part) {
  if (pdfGetNumParts() == 1) {
    if (part != 0) return false;
    SelectColorSpace(*this, out, false, 0);
    WriteDeviceNTints(out, tints, false);
    return true;
  }
  return WritePartColor(out, tints, part, false);
}

static TavPDF::PDFArray* BuildDeviceNArray(const PDFCsDeviceN& space, TavPDF::pdfouthan* handler,
                                           int part, bool withAttributes, bool pureCMYKAsDeviceN,
                                           DeviceNArrayInfo* info) {
  using namespace TavColorPdf;
  const bool force = space.GetForceDeviceN();
  if ((space.IsPureCMYK() && !pureCMYKAsDeviceN) || (space.IsEmpty() && !force)) return nullptr;
  // A part that does not exist has no colourants to write.
  if (part < 0 || part >= space.pdfGetNumParts()) return nullptr;
  const int m = space.GetMaxColorants();
  const int c = space.GetSepCount();
  int k = 0;
  if (c > 0) k = part == space.pdfGetNumParts() - 1 ? (c - 1) % m + 1 : m;
  if (c == 0 && !force) {
    auto* indexed = NewArray();
    Append(indexed, Name("Indexed"));
    Append(indexed, Name("DeviceCMYK"));
    Append(indexed, Integer(0));
    auto* lookup = new TavPDF::PDFString("00000000");
    lookup->SetAlreadyHex(true);
    Append(indexed, lookup);
    return indexed;
  }
  int p = space.NeedsNonePadding(part, c) ? 1 : 0;
  if (c == 0 && p == 1) p = 2;

  const jobstr* job = space.GetJob();
  std::vector<std::array<float, 4>> cmyk;
  std::vector<int> seps;
  for (int i = 0; i < k; ++i) {
    const int sep = space.GetSepSorted(m * part + i);
    seps.push_back(sep);
    std::uint16_t cc = 0, mm = 0, yy = 0, kk = 0;
    if (ValidSep(sep)) sepcmyk(job, sep, cc, mm, yy, kk);
    cmyk.push_back({static_cast<float>(cc / 25600.0), static_cast<float>(mm / 25600.0),
                    static_cast<float>(yy / 25600.0), static_cast<float>(kk / 25600.0)});
  }
  for (int i = 0; i < p; ++i) cmyk.push_back({0.0f, 0.0f, 0.0f, 0.0f});

  auto* function = new TavPDF::PDFDictionary();
  function->Set("FunctionType", Integer(4));
  function->Set("Domain", UnitPairs(k + p));
  function->Set("Range", UnitPairs(4));
  TavPDF::PDFIndirectReference* f = WriteStream(handler, function, BuildTintTransformProgram(cmyk));
  if (!f) return nullptr;

  auto* array = NewArray();
  if (p == 0 && k == 1 && space.GetAllowSeparationCSOutput()) {
    Append(array, Name("Separation"));
    Append(array, Name(CMYKSeparationName(handler, job, seps[0])));
    Append(array, Name("DeviceCMYK"));
    Append(array, f);
    return array;
  }
  auto* names = NewArray();
  std::vector<std::string> nameTexts;
  for (int sep : seps) {
    // Process inks named as colourants must reach the process plates, under
    // their process names whatever the job calls them.
    const bool processName = space.NamesProcessInksAsColorants() && sepiscmyk(job, sep) >= 0;
    nameTexts.push_back(processName ? CMYKSeparationName(handler, job, sep) : SeparationName(handler, job, sep));
  }
  for (int i = 0; i < p; ++i) nameTexts.emplace_back("None");
  for (const auto& text : nameTexts) Append(names, Name(text));
  Append(array, Name("DeviceN"));
  Append(array, names);
  Append(array, Name("DeviceCMYK"));
  Append(array, f);
  if (withAttributes) {
    auto* order = NewArray();
    for (const auto& text : nameTexts) Append(order, Name(text));
    auto* hints = new TavPDF::PDFDictionary();
    hints->Set("PrintingOrder", order);
    auto* attributes = new TavPDF::PDFDictionary();
    attributes->Set("Subtype", Name("DeviceN"));
    attributes->Set("MixingHints", hints);
    Append(array, attributes);
  }
  if (info) {
    info->isDeviceN = true;
    info->names = std::move(nameTexts);
  }
  return array;
}

// ---------------------------------------------------------------- CsNChannel

CsNChannel::CsNChannel(const jobstr* job, const unsigned short* tints, unsigned short low,
                       unsigned short high, const Options& options,
                       std::shared_ptr<seppdftyp> sepData)
    : PDFCsDeviceN(job, tints, low, high, options, std::move(sepData)) {
  AllowSeparationCSOutput(false);
}

int CsNChannel::GetClassID() const { return kClassID; }
ColorSpace* CsNChannel::Clone() const { return new CsNChannel(*this); }

TavPDF::PDFArray* CsNChannel::pdfGetColorSpace(TavPDF::pdfouthan* handler, int part) const {
  using namespace TavColorPdf;
  DeviceNArrayInfo info;
  TavPDF::PDFArray* array = BuildDeviceNArray(*this, handler, part, false, true, &info);
  if (!array || !info.isDeviceN) return nullptr;

  auto* colorants = new TavPDF::PDFDictionary();
  std::string components[4] = {"None", "None", "None", "None"};
  for (const auto& name : info.names) {
    const int sep = TavricLib::FindSeparation(mJob, name);
    if (!ValidSep(sep)) continue;
    CsSeparation separation(mJob, sep, false);
    TavPDF::PDFArray* sepArray = separation.pdfGetColorSpace(handler, 0);
    if (!sepArray) continue;
    TavPDF::PDFIndirectReference* ref = handler->makeIndirect(sepArray);
    handler->writeObject(ref);
    colorants->Set(name, ref);
    for (int j = 0; j < 4; ++j)
      if (handler->mProcessSeparations[static_cast<std::size_t>(j)] == sep) components[j] = name;
  }
  auto* componentArray = NewArray();
  for (const auto& name : components) Append(componentArray, Name(name));
  auto* process = new TavPDF::PDFDictionary();
  process->Set("ColorSpace", Name("DeviceCMYK"));
  process->Set("Components", componentArray);
  auto* attributes = new TavPDF::PDFDictionary();
  attributes->Set("Subtype", Name("NChannel"));
  attributes->Set("Colorants", colorants);
  attributes->Set("Process", process);
  Append(array, attributes);
  return array;
}

// ---------------------------------------------------------------- CsMultiSep

int CsMultiSep::GetClassID() const { return kClassID; }
ColorSpace* CsMultiSep::Clone() const { return new CsMultiSep(*this); }

int CsMultiSep::pdfGetNumParts() const {
  int spots = 0, process = 0;
  for (int slot = 0; slot < kMaxSeparations; ++slot) {
    const int sep = SepAtSlot(slot);
    if (sep < 0 || !mUse[sep]) continue;
    (sepiscmyk(mJob, sep) >= 0 ? process : spots)++;
  }
  return process == 4 ? spots + 1 : spots + process;
}

std::unique_ptr<CsMasked> CsMultiSep::MakePart(int part) const {
  if (part < 0) return nullptr;
  int index = 0;
  bool processExamined = false;
  bool processAsOne = false;
  for (int slot = 0; slot < kMaxSeparations; ++slot) {
    const int sep = SepAtSlot(slot);
    if (sep < 0 || !mUse[sep]) continue;
    std::unique_ptr<CsMasked> made;
    if (sepiscmyk(mJob, sep) < 0) {
      if (index == part) made = std::make_unique<CsSeparation>(mJob, sep, GetNoTransfer());
    } else {
      if (!processExamined) {
        processExamined = true;
        bool covered[4] = {false, false, false, false};
        for (int s = 0; s < kMaxSeparations; ++s) {
          const int other = SepAtSlot(s);
          if (other < 0 || !mUse[other]) continue;
          const int c = sepiscmyk(mJob, other);
          if (c >= 0 && c < 4) covered[c] = true;
        }
        processAsOne = covered[0] && covered[1] && covered[2] && covered[3];
        if (processAsOne && index == part)
          made = std::make_unique<CsPartialCMYK>(mJob, true, true, true, true, GetNoTransfer());
      } else if (processAsOne) {
        continue;  // already counted as the one DeviceCMYK part
      }
      if (!processAsOne && index == part)
        made = std::make_unique<CsSeparation>(mJob, sep, GetNoTransfer());
    }
    if (made) {
      made->SetOverprint(GetOverprint() || part >= 1);
      return made;
    }
    ++index;
  }
  return nullptr;
}

CsMasked* CsMultiSep::pdfGetPart(int part) { return MakePart(part).release(); }

std::string CsMultiSep::pdfGetName(int part) {
  auto made = MakePart(part);
  return made ? made->pdfGetName(0) : std::string();
}

TavPDF::PDFArray* CsMultiSep::pdfGetColorSpace(TavPDF::pdfouthan* handler, int part) const {
  auto made = MakePart(part);
  return made ? made->pdfGetColorSpace(handler, 0) : nullptr;
}

bool CsMultiSep::pdfHasColorSpaceArray(int part) const {
  auto made = MakePart(part);
  return made && made->pdfHasColorSpaceArray(0);
}

bool CsMultiSep::pdfOutputColorForPart(TavPDF::pdfoutfilter& out, const unsigned short* tints,
                                       int part) {
  auto made = MakePart(part);
  return made && made->pdfOutputColorForPart(out, tints, 0);
}

TavPDF::PDFArray* CsMultiSep::pdfGetSepsArray(const unsigned short* tints) const {
  auto made = MakePart(0);
  return made ? made->pdfGetSepsArray(tints) : nullptr;
}

bool CsMultiSep::pdfGetTRName(std::string&) const { return false; }
bool CsMultiSep::IsDeviceN() const { return false; }
bool CsMultiSep::IsMultiSep() const { return true; }
bool CsMultiSep::IsEqual(const ColorSpace& other) const { return CsDeviceN::IsEqual(other); }

void CsMultiSep::pdfOutputFillColor(TavPDF::pdfoutfilter& out, const unsigned short* tints) {
  const int parts = pdfGetNumParts();
  if (parts < 1) return;
  if (parts > 1) {
    // A colour set inside q ... Q would be gone before the path is painted;
    // several parts must be painted part by part (pdfOutputColorForPart).
    TavSys::debugstring("CsMultiSep::pdfOutputFillColor: colour of several parts, only the first is set");
  }
  if (auto made = MakePart(0)) made->pdfOutputFillColor(out, tints);
}

void CsMultiSep::pdfOutputStrokeColor(TavPDF::pdfoutfilter& out, const unsigned short* tints) {
  const int parts = pdfGetNumParts();
  if (parts < 1) return;
  if (parts > 1)
    TavSys::debugstring("CsMultiSep::pdfOutputStrokeColor: colour of several parts, only the first is set");
  if (auto made = MakePart(0)) made->pdfOutputStrokeColor(out, tints);
}
