// The settings record by field name and the flavours by name, for the
// command line.
#include "settings/settings_access.h"

#include <boost/algorithm/string/predicate.hpp>
#include <boost/algorithm/string/trim.hpp>

#include <charconv>
#include <cmath>
#include <limits>

#include "platform/tav_error.h"
#include "platform/xml.h"
#include "settings/flavour_file.h"

namespace TavPDF {
namespace {

using K = SettingKind;
using I = std::int32_t PDFSettings::*;
constexpr double kIntMin = std::numeric_limits<std::int32_t>::min();
constexpr double kIntMax = std::numeric_limits<std::int32_t>::max();
// Resolutions in ppi: 0 would divide by zero wherever they scale an image.
constexpr double kMaxResolution = 100000;
// Long paths are cut into pieces of at most MaxPathSize points. A piece must
// hold at least a cut region's corners, a hole's corner and a curve; below
// this the splitter would give up on ordinary shapes.
constexpr double kMinPathSize = 16;

constexpr std::uint32_t key(const char (&text)[5]) { return TavGen::FourCharCode(text); }

constexpr SettingField boolean(const char* name, I field, std::uint32_t k) {
  return {.name = name, .kind = K::Boolean, .key = k, .intField = field, .minimum = 0, .maximum = 1};
}
constexpr SettingField integer(const char* name, I field, std::uint32_t k, double lo, double hi) {
  return {.name = name, .kind = K::Long, .key = k, .intField = field, .minimum = lo, .maximum = hi};
}
// Distortions are percentages of the size: beyond -100 the page would vanish
// or turn over, so the range is open at both ends.
constexpr SettingField distortion(const char* name, double PDFSettings::*field, std::uint32_t k) {
  return {.name = name, .kind = K::Double, .key = k, .doubleField = field, .minimum = -100, .maximum = 100};
}
constexpr SettingField file(const char* name, TavSys::filref PDFSettings::*field, std::uint32_t k) {
  return {.name = name, .kind = K::FileRef, .key = k, .fileField = field};
}
constexpr SettingField popup(const char* name, TavGen::PopupDataModel PDFSettings::*field, std::uint32_t k) {
  return {.name = name, .kind = K::Popup, .key = k, .popupField = field};
}

using S = PDFSettings;
constexpr SettingField kFields[] = {
    integer("Flavour", &S::Flavour, key("Flav"), 0, 9),
    boolean("CompressPages", &S::CompressPages, key("CmPg")),
    boolean("OutputGradientsAsImages", &S::OutputGradientsAsImages, key("GaIm")),
    boolean("ImageAlternate", &S::ImageAlternate, key("ImAl")),
    boolean("CertifiedEnabled", &S::CertifiedEnabled, key("CerE")),
    boolean("CertifiedIncrementalSave", &S::CertifiedIncrementalSave, key("CerI")),
    boolean("CertifiedUseEmbeddedProfile", &S::CertifiedUseEmbeddedProfile, key("CerQ")),
    file("CertifiedOutputProfile", &S::CertifiedOutputProfile, key("CerP")),
    popup("Orientation", &S::Orientation, key("Orie")),
    distortion("VerticalDistortion", &S::VerticalDistortion, key("DstV")),
    distortion("HorizontalDistortion", &S::HorizontalDistortion, key("DstH")),
    boolean("Mirror", &S::Mirror, key("Mirr")),
    boolean("EnableDotgain", &S::EnableDotgain, key("Dotg")),
    file("DotgainFile", &S::DotgainFile, key("DotF")),
    boolean("UseColormanagement", &S::UseColormanagement, key("Cmmt")),
    boolean("UseSeparationDisabler", &S::UseSeparationDisabler, key("NoSp")),
    boolean("CertifyInkCoverage", &S::CertifyInkCoverage, key("CInk")),
    boolean("SaveImageLinks", &S::SaveImageLinks, key("SvLi")),
    integer("LinkType", &S::LinkType, key("PLnk"), 0, kIntMax),
    boolean("EmbedImages", &S::EmbedImages, key("PemI")),
    boolean("CopyLinksToOutput", &S::CopyLinksToOutput, key("CpLn")),
    boolean("ImageClipping", &S::ImageClipping, key("IClp")),
    boolean("OutputFullyTransparentObjects", &S::OutputFullyTransparentObjects, key("TraO")),
    boolean("NormalizedOutput", &S::NormalizedOutput, key("Norm")),
    boolean("AddPageBoxes", &S::AddPageBoxes, key("PgBx")),
    boolean("SeparatedOutput", &S::SeparatedOutput, key("Sepa")),
    boolean("OptimizeWhiteObjects", &S::OptimizeWhiteObjects, key("OWhi")),
    boolean("CompositeOnPageOne", &S::CompositeOnPageOne, key("Cmp1")),
    boolean("CMYKOnOnePage", &S::CMYKOnOnePage, 0),
    // A path is split into pieces of at most this many points.
    integer("MaxPathSize", &S::MaxPathSize, key("PtSz"), kMinPathSize, kIntMax),
    integer("SpareSetting1", &S::SpareSetting1, 0, kIntMin, kIntMax),
    integer("SpareSetting2", &S::SpareSetting2, 0, kIntMin, kIntMax),
    integer("DownsampleResolution", &S::DownsampleResolution, key("Sre2"), 1, kMaxResolution),
    boolean("UseDownsampling", &S::UseDownsampling, key("Suse")),
    boolean("UseAveraging", &S::UseAveraging, key("Savg")),
    integer("DownsampleFromPPI", &S::DownsampleFromPPI, key("DSfP"), 1, kMaxResolution),
    boolean("DownsampleUseMinimum", &S::DownsampleUseMinimum, key("DSMi")),
    boolean("DownsamplingFor1BitImages", &S::DownsamplingFor1BitImages, key("1btd")),
    integer("CompressImages", &S::CompressImages, key("CmIm"), 0, 100),
    integer("PDFCompatibility", &S::PDFCompatibility, 0, 0, 2),
    boolean("VectorizeText", &S::VectorizeText, key("VcTx")),
    integer("SubsetThreshhold", &S::SubsetThreshhold, key("Fsst"), 0, 100),
    boolean("AddNotes", &S::AddNotes, key("Note")),
    boolean("AddThumbnail", &S::AddThumbnail, key("Thum")),
    boolean("AddNonPrintingLayers", &S::AddNonPrintingLayers, key("Lnpr")),
    boolean("UsePictureCache", &S::UsePictureCache, key("Picc")),
    boolean("AddRegistrationMarks", &S::AddRegistrationMarks, key("RGma")),
    boolean("GenerateJDF", &S::GenerateJDF, key("JdfG")),
    boolean("JDFCopyPDF", &S::JDFCopyPDF, key("JdfC")),
    boolean("JDFCollectMarks", &S::JDFCollectMarks, key("JdCM")),
    boolean("EnableFlattening", &S::EnableFlattening, key("PFlE")),
    boolean("FlattenOverprints", &S::FlattenOverprints, key("PFlO")),
    boolean("FlattenBlackOverprint", &S::FlattenBlackOverprint, key("PFbo")),
    boolean("ForceOpaqueSeparationsToKnockout", &S::ForceOpaqueSeparationsToKnockout, key("NoOO")),
    boolean("VectorizeOpacity", &S::VectorizeOpacity, key("VcOp")),
    boolean("IgnorePlacedOverprints", &S::IgnorePlacedOverprints, key("IgPO")),
    boolean("MaxSizeEnabled", &S::MaxSizeEnabled, key("MaxE")),
    integer("MaxSize", &S::MaxSize, key("MaxS"), 0, kIntMax),
    boolean("IncludeStandardPreview", &S::IncludeStandardPreview, key("Rpri")),
    // A mode rather than a flag in the record (1: PreviewResolution is a
    // resolution); its preference row and flavour files keep it as a Boolean.
    integer("IncludePreview", &S::IncludePreview, key("Ppri"), 0, 2),
    boolean("IncludeSeparatedPreview", &S::IncludeSeparatedPreview, key("Spri")),
    boolean("PreviewAntiAliasing", &S::PreviewAntiAliasing, key("SpAA")),
    integer("PreviewResolution", &S::PreviewResolution, key("Pprr"), 1, kMaxResolution),
    boolean("IncludeScreening", &S::IncludeScreening, key("IScr")),
    boolean("UseDefaultScreen", &S::UseDefaultScreen, 0),
    popup("ScreenRegistration", &S::ScreenRegistration, key("ScrR")),
    boolean("IncludeLayers", &S::IncludeLayers, key("ILay")),
    boolean("AddCMYKSeparations", &S::AddCMYKSeparations, key("PckS")),
    boolean("ProcessCMYKFlags", &S::ProcessCMYKFlags, key("cmyk")),
    boolean("IncludeVornPreview", &S::IncludeVornPreview, key("VoPr")),
    boolean("IncludePrivateData", &S::IncludePrivateData, 0),
    boolean("IsolateOneUp", &S::IsolateOneUp, key("Iso1")),
};
static_assert(std::size(kFields) == 72, "one entry per field of the record");

constexpr FlavourInfo kFlavours[] = {
    {kFlavourCustom, "Custom", "the common defaults"},
    {kFlavourPress, "Press", "press output with layers (PDF 1.5)"},
    {kFlavourViewing, "Viewing", "downsampled pictures for viewing on screen"},
    {kFlavourReader, "Reader", "flattened PDF 1.3 for older readers (not offered by the host)"},
    {kFlavourObsolete4, "Obsolete4", "obsolete, read as Press (not offered by the host)"},
    {kFlavourJDF, "JDF", "a JDF folder with one PDF per placed object"},
    {kFlavourObsolete6, "Obsolete6", "obsolete, read as Press"},
    {kFlavourNormalized, "Normalized", "normalized workflow data, linked pictures, previews"},
    {kFlavourSeparated, "Separated", "one page per separation"},
    {kFlavourNormalizedEmbedded, "NormalizedEmbedded", "normalized workflow data, embedded pictures"},
    {-1, "Vistamo", "separated and normalized, without previews (no flavour number)"},
};

std::string longRange(const SettingField& field) {
  return "expected a whole number from " + std::to_string(static_cast<long long>(field.minimum)) + " to " +
         std::to_string(static_cast<long long>(field.maximum));
}

std::string doubleRange(const SettingField& field) {
  return "expected a number between " + Xml::FormatDouble(field.minimum) + " and " +
         Xml::FormatDouble(field.maximum) + " (exclusive)";
}

[[noreturn]] void badValue(const SettingField& field, std::string_view text, std::string reason) {
  TavSys::Error e(TavSys::kResultAbandoned, "PDF/BAD SETTING VALUE",
                  std::string(field.name) + " = " + std::string(text) + ": " + reason);
  e.with("__NAME__", field.name).with("__VALUE__", std::string(text)).with("__REASON__", std::move(reason));
  throw e;
}

bool parseWhole(std::string_view text, long long& out) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return false;
  const auto r = std::from_chars(text.data(), text.data() + text.size(), out);
  return r.ec == std::errc() && r.ptr == text.data() + text.size();
}

bool parseReal(std::string_view text, double& out) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return false;
  const auto r = std::from_chars(text.data(), text.data() + text.size(), out);
  return r.ec == std::errc() && r.ptr == text.data() + text.size() && std::isfinite(out);
}

void* fieldAddress(PDFSettings& settings, const SettingField& field) {
  if (field.intField != nullptr) return &(settings.*field.intField);
  if (field.doubleField != nullptr) return &(settings.*field.doubleField);
  if (field.fileField != nullptr) return &(settings.*field.fileField);
  if (field.popupField != nullptr) return &(settings.*field.popupField);
  return nullptr;
}

// The field of a record that a row of the preference table stands for, when
// the row's type agrees with the field's.
FieldResolver resolverFor(PDFSettings& settings) {
  return [&settings](const TavGen::PreferenceEntry& row) -> void* {
    const SettingField* field = row.name() != nullptr ? FindSettingField(row.name()) : nullptr;
    if (field == nullptr) return nullptr;
    switch (row.type()) {
      case TavGen::kPrefLong:
      case TavGen::kPrefBoolean: return field->intField != nullptr ? fieldAddress(settings, *field) : nullptr;
      case TavGen::kPrefDouble: return field->doubleField != nullptr ? fieldAddress(settings, *field) : nullptr;
      case TavGen::kPrefFileRef:
      case TavGen::kPrefFileRefAlias:
        return field->fileField != nullptr ? fieldAddress(settings, *field) : nullptr;
      case TavGen::kPrefPopup: return field->popupField != nullptr ? fieldAddress(settings, *field) : nullptr;
      default: return nullptr;
    }
  };
}

}  // namespace

std::span<const FlavourInfo> FlavourList() { return kFlavours; }

const FlavourInfo* FindFlavour(std::string_view nameOrNumber) {
  std::string text(nameOrNumber);
  boost::algorithm::trim(text);
  long long number = 0;
  const bool isNumber = parseWhole(text, number);
  for (const FlavourInfo& flavour : kFlavours) {
    if (isNumber ? (flavour.number >= 0 && flavour.number == number)
                 : boost::algorithm::iequals(text, flavour.name)) {
      return &flavour;
    }
  }
  return nullptr;
}

PDFSettings SettingsForFlavour(const FlavourInfo& flavour) {
  PDFSettings settings;
  if (flavour.number < 0) {
    // Vistamo has no number of its own; its files and records say Custom.
    settings.Flavour = kFlavourCustom;
    settings.SetVistamoFlavourDefaults();
    return settings;
  }
  settings.Flavour = flavour.number;
  settings.ResetFlavourToFactoryDefaults(flavour.number);
  settings.CheckForObsoleteFlavours();
  return settings;
}

PDFSettings SettingsForFlavour(std::string_view nameOrNumber) {
  const FlavourInfo* flavour = FindFlavour(nameOrNumber);
  if (flavour == nullptr) {
    TavSys::Error e(TavSys::kResultAbandoned, "PDF/UNKNOWN FLAVOUR", std::string(nameOrNumber));
    e.with("__FLAVOUR__", std::string(nameOrNumber));
    throw e;
  }
  return SettingsForFlavour(*flavour);
}

int LoadFlavourFileIntoSettings(const TavSys::FileSpec& source, PDFSettings& settings) {
  return LoadFlavour(source, pdfprftab, resolverFor(settings));
}

int LoadFlavourBytesIntoSettings(std::string_view bytes, std::string_view label, PDFSettings& settings) {
  return LoadFlavourFromBytes(bytes, label, pdfprftab, resolverFor(settings));
}

int SaveSettingsToFlavourFile(const TavSys::FileSpec& target, const PDFSettings& settings) {
  // The writer only reads through the resolved addresses.
  return SaveFlavour(target, pdfprftab, resolverFor(const_cast<PDFSettings&>(settings)));
}

std::span<const SettingField> SettingFields() { return kFields; }

const SettingField* FindSettingField(std::string_view name) {
  for (const SettingField& field : kFields) {
    if (boost::algorithm::iequals(name, field.name)) return &field;
  }
  return nullptr;
}

std::string FormatSettingValue(const PDFSettings& settings, const SettingField& field) {
  switch (field.kind) {
    case K::Boolean:
    case K::Long: return std::to_string(settings.*field.intField);
    case K::Double: {
      Xml::FloatPrecisionScope precision(15);
      return Xml::FormatDouble(settings.*field.doubleField);
    }
    case K::FileRef: {
      const TavSys::filref& ref = settings.*field.fileField;
      return ref.empty() ? std::string() : ref.getFullPathAsUtf8();
    }
    case K::Popup: {
      const TavGen::PopupDataModel& model = settings.*field.popupField;
      return std::to_string(model.GetValue()) + " (" + model.GetItemText(model.GetSelection()) + ")";
    }
  }
  return {};
}

std::vector<SettingOutOfRange> SettingsOutOfRange(const PDFSettings& settings) {
  std::vector<SettingOutOfRange> out;
  for (const SettingField& field : kFields) {
    switch (field.kind) {
      case K::Boolean:
      case K::Long: {
        const std::int32_t v = settings.*field.intField;
        if (v < field.minimum || v > field.maximum)
          out.push_back({&field, std::to_string(v),
                         field.kind == K::Boolean ? "expected true or false (1 or 0)" : longRange(field)});
        break;
      }
      case K::Double: {
        const double v = settings.*field.doubleField;
        if (!(v > field.minimum && v < field.maximum)) {
          // NaN and infinities have no number form of their own.
          out.push_back({&field, std::isfinite(v) ? Xml::FormatDouble(v) : std::string("not a number"),
                         doubleRange(field)});
        }
        break;
      }
      case K::FileRef:
      case K::Popup: break;
    }
  }
  return out;
}

void SetSettingValue(PDFSettings& settings, const SettingField& field, std::string_view rawText) {
  std::string text(rawText);
  boost::algorithm::trim(text);
  switch (field.kind) {
    case K::Boolean: {
      static constexpr std::string_view kTrue[] = {"1", "true", "yes", "on"};
      static constexpr std::string_view kFalse[] = {"0", "false", "no", "off"};
      for (auto word : kTrue) {
        if (boost::algorithm::iequals(text, word)) {
          settings.*field.intField = 1;
          return;
        }
      }
      for (auto word : kFalse) {
        if (boost::algorithm::iequals(text, word)) {
          settings.*field.intField = 0;
          return;
        }
      }
      badValue(field, text, "expected true or false (1 or 0)");
    }
    case K::Long: {
      long long number = 0;
      if (!parseWhole(text, number)) badValue(field, text, "expected a whole number");
      if (number < field.minimum || number > field.maximum) badValue(field, text, longRange(field));
      settings.*field.intField = static_cast<std::int32_t>(number);
      return;
    }
    case K::Double: {
      double number = 0;
      if (!parseReal(text, number)) badValue(field, text, "expected a finite decimal number");
      if (!(number > field.minimum && number < field.maximum)) badValue(field, text, doubleRange(field));
      settings.*field.doubleField = number;
      return;
    }
    case K::FileRef:
      for (unsigned char c : text) {
        if (c < 0x20) badValue(field, text, "a file path may not contain control characters");
      }
      if (text.empty()) {
        (settings.*field.fileField).clear();
      } else {
        settings.*field.fileField = TavSys::filref(text);
      }
      return;
    case K::Popup: {
      TavGen::PopupDataModel& model = settings.*field.popupField;
      long long number = 0;
      if (parseWhole(text, number)) {
        if (number >= kIntMin && number <= kIntMax && model.SetValue(static_cast<std::int32_t>(number))) return;
      } else {
        for (int i = 0; i < model.GetItemCount(); ++i) {
          if (boost::algorithm::iequals(text, model.GetItemText(i))) {
            model.SetSelection(i);
            return;
          }
        }
      }
      std::string items;
      for (int i = 0; i < model.GetItemCount(); ++i) {
        items += (i ? ", " : "") + std::to_string(model.GetItemValue(i)) + " (" + model.GetItemText(i) + ")";
      }
      badValue(field, text, "expected one of " + items);
    }
  }
}

void ApplySettingOverride(PDFSettings& settings, std::string_view assignment) {
  const std::size_t eq = assignment.find('=');
  std::string name(assignment.substr(0, eq));
  boost::algorithm::trim(name);
  if (eq == std::string_view::npos || name.empty()) {
    TavSys::Error e(TavSys::kResultAbandoned, "PDF/BAD SETTING ASSIGNMENT", std::string(assignment));
    e.with("__TEXT__", std::string(assignment));
    throw e;
  }
  const SettingField* field = FindSettingField(name);
  if (field == nullptr) {
    TavSys::Error e(TavSys::kResultAbandoned, "PDF/UNKNOWN SETTING", std::string(assignment));
    e.with("__NAME__", name);
    throw e;
  }
  SetSettingValue(settings, *field, assignment.substr(eq + 1));
}

}  // namespace TavPDF
