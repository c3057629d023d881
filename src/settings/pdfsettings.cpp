// The export settings record: construction, common defaults, the flavour
// presets and the PDF version rules.
#include <boost/algorithm/string/predicate.hpp>

#include "settings/default_names.h"
#include "tavpdf/PDFSettings.h"

namespace {

constexpr std::int32_t kOrientationValues[] = {0, 1, 2, 3};
constexpr const char* kOrientationItems[] = {"Turn right", "Portrait", "Turn left", "Upside down",
                                             nullptr};
constexpr int kOrientationPortrait = 1;

constexpr std::int32_t kScreenRegistrationValues[] = {0, 1};
constexpr const char* kScreenRegistrationItems[] = {"Continuous", "Reset for each external file",
                                                    nullptr};
constexpr int kScreenRegistrationContinuous = 0;

}  // namespace

std::int32_t PDFSettings::msUseTempFolder = 0;

// Constructed before every other static object of the library (the earliest
// priority a program may use), so that static initializers elsewhere that read
// the global settings always find them built.
PDFSettings gPDFSettings __attribute__((init_priority(101)));

PDFSettings::PDFSettings()
    : Flavour(TavPDF::kFlavourPress),
      Orientation(kOrientationValues, kOrientationItems, kOrientationPortrait),
      ScreenRegistration(kScreenRegistrationValues, kScreenRegistrationItems,
                         kScreenRegistrationContinuous) {
  SetCommonDefaults();
}

PDFSettings::PDFSettings(const PDFSettings&) = default;
PDFSettings::PDFSettings(PDFSettings&&) noexcept = default;
PDFSettings& PDFSettings::operator=(const PDFSettings&) = default;
PDFSettings& PDFSettings::operator=(PDFSettings&&) noexcept = default;
PDFSettings::~PDFSettings() = default;

void PDFSettings::SetCommonDefaults() {
  CompressPages = 1;
  OutputGradientsAsImages = 0;
  ImageAlternate = 0;
  CertifiedEnabled = 0;
  CertifiedIncrementalSave = 0;
  CertifiedUseEmbeddedProfile = 0;
  CertifiedOutputProfile.clear();
  Orientation = TavGen::PopupDataModel(kOrientationValues, kOrientationItems, kOrientationPortrait);
  VerticalDistortion = 0.0;
  HorizontalDistortion = 0.0;
  Mirror = 0;
  EnableDotgain = 0;
  DotgainFile.clear();
  UseColormanagement = 0;
  UseSeparationDisabler = 0;
  CertifyInkCoverage = 0;
  SaveImageLinks = 0;
  LinkType = 0;
  EmbedImages = 1;
  CopyLinksToOutput = 0;
  ImageClipping = 1;
  OutputFullyTransparentObjects = 0;
  NormalizedOutput = 0;
  AddPageBoxes = 0;
  SeparatedOutput = 0;
  OptimizeWhiteObjects = 0;
  CompositeOnPageOne = 0;
  CMYKOnOnePage = 0;
  MaxPathSize = 500000;
  SpareSetting1 = 1;
  SpareSetting2 = 100;
  DownsampleResolution = 144;
  UseDownsampling = 0;
  UseAveraging = 1;
  DownsampleFromPPI = 216;
  DownsampleUseMinimum = 0;
  DownsamplingFor1BitImages = 1;
  CompressImages = 1;
  PDFCompatibility = kPDF14;
  VectorizeText = 0;
  SubsetThreshhold = 100;
  AddNotes = 0;
  AddThumbnail = 0;
  AddNonPrintingLayers = 1;
  UsePictureCache = 1;
  AddRegistrationMarks = 0;
  GenerateJDF = 0;
  JDFCopyPDF = 0;
  JDFCollectMarks = 0;
  EnableFlattening = 0;
  FlattenOverprints = 0;
  FlattenBlackOverprint = 0;
  ForceOpaqueSeparationsToKnockout = 0;
  VectorizeOpacity = 0;
  IgnorePlacedOverprints = 1;
  MaxSizeEnabled = 0;
  MaxSize = 5000;
  IncludeStandardPreview = 1;
  IncludePreview = 1;
  IncludeSeparatedPreview = 0;
  PreviewAntiAliasing = 0;
  PreviewResolution = 72;
  IncludeScreening = 0;
  UseDefaultScreen = 0;
  ScreenRegistration = TavGen::PopupDataModel(kScreenRegistrationValues, kScreenRegistrationItems,
                                              kScreenRegistrationContinuous);
  IncludeLayers = 0;
  AddCMYKSeparations = 0;
  ProcessCMYKFlags = 0;
  IncludeVornPreview = 0;
  IncludePrivateData = 0;
  IsolateOneUp = 0;
}

void PDFSettings::SetCustomFlavourDefaults() { SetCommonDefaults(); }

void PDFSettings::SetPressFlavourDefaults() {
  SetCommonDefaults();
  IncludeLayers = 1;
  DownsampleResolution = 300;
  DownsampleFromPPI = 450;
}

void PDFSettings::SetJDFFlavourDefaults() {
  SetPressFlavourDefaults();
  GenerateJDF = 1;
  JDFCollectMarks = 1;
}

void PDFSettings::SetNormalizedFlavourDefaults() {
  SetPressFlavourDefaults();
  NormalizedOutput = 1;
  IncludeScreening = 1;
  UseDefaultScreen = 1;
  PDFCompatibility = kPDF15;
  IncludeLayers = 1;
  IncludeStandardPreview = 0;
  AddThumbnail = 1;
  SaveImageLinks = 1;
  LinkType = 2;
  UseDownsampling = 1;
  DownsampleResolution = 96;
  DownsampleFromPPI = 144;
  IncludeVornPreview = 1;
  AddNotes = 1;
}

void PDFSettings::SetNormalizedEmbeddedFlavourDefaults() {
  SetNormalizedFlavourDefaults();
  SaveImageLinks = 0;
  LinkType = 0;
  UseDownsampling = 0;
}

void PDFSettings::SetReaderFlavourDefaults() {
  SetCommonDefaults();
  UseDownsampling = 1;
  DownsampleResolution = 72;
  DownsampleFromPPI = 108;
  CompressImages = 50;
  CompressPages = 1;
  PDFCompatibility = kPDF13;
  EnableFlattening = 1;
  FlattenOverprints = 1;
  FlattenBlackOverprint = 1;
  IncludeSeparatedPreview = 1;
}

void PDFSettings::SetSeparatedFlavourDefaults() {
  SetPressFlavourDefaults();
  SeparatedOutput = 1;
  OptimizeWhiteObjects = 1;
}

void PDFSettings::SetViewingFlavourDefaults() {
  SetCommonDefaults();
  UseDownsampling = 1;
  DownsampleResolution = 72;
  DownsampleFromPPI = 108;
  CompressImages = 50;
  PDFCompatibility = kPDF15;
}

void PDFSettings::SetVistamoFlavourDefaults() {
  SetSeparatedFlavourDefaults();
  NormalizedOutput = 1;
  IncludeStandardPreview = 0;
  IncludePreview = 0;
  CompressPages = 0;
  CompressImages = 1;
  CMYKOnOnePage = 1;
  AddCMYKSeparations = 1;
}

void PDFSettings::ResetFlavourToFactoryDefaults(int flavour) {
  switch (flavour) {
    case TavPDF::kFlavourCustom: SetCustomFlavourDefaults(); break;
    case TavPDF::kFlavourPress:
    case TavPDF::kFlavourObsolete4:
    case TavPDF::kFlavourObsolete6: SetPressFlavourDefaults(); break;
    case TavPDF::kFlavourViewing: SetViewingFlavourDefaults(); break;
    case TavPDF::kFlavourReader: SetReaderFlavourDefaults(); break;
    case TavPDF::kFlavourJDF: SetJDFFlavourDefaults(); break;
    case TavPDF::kFlavourNormalized: SetNormalizedFlavourDefaults(); break;
    case TavPDF::kFlavourSeparated: SetSeparatedFlavourDefaults(); break;
    case TavPDF::kFlavourNormalizedEmbedded: SetNormalizedEmbeddedFlavourDefaults(); break;
    default: break;  // not a flavour: the record stays as it is
  }
}

void PDFSettings::CheckForObsoleteFlavours() {
  if (Flavour == TavPDF::kFlavourObsolete4 || Flavour == TavPDF::kFlavourObsolete6) {
    Flavour = TavPDF::kFlavourPress;
    SetPressFlavourDefaults();
  }
}

void PDFSettings::VerifyCompatibility() {
  if (Flavour == TavPDF::kFlavourReader) {
    // The reader flavour is flattened PDF 1.3 without layers.
    IncludeLayers = 0;
    FlattenBlackOverprint = 1;
    FlattenOverprints = 1;
    EnableFlattening = 1;
  } else if (Flavour == TavPDF::kFlavourJDF) {
    GenerateJDF = 1;
  }
  if (RequiresToBeAtLeastPDF15()) {
    PDFCompatibility = kPDF15;
  } else {
    PDFCompatibility = RequiresToBeAtLeastPDF14() ? kPDF14 : kPDF13;
  }
}

namespace TavPDF {

bool FlavourExists(int flavour) {
  switch (flavour) {
    case kFlavourCustom:
    case kFlavourPress:
    case kFlavourViewing:
    case kFlavourJDF:
    case kFlavourObsolete6:
    case kFlavourNormalized:
    case kFlavourSeparated:
    case kFlavourNormalizedEmbedded: return true;
    default: return false;
  }
}

bool IsDefaultName(std::string_view name) {
  for (std::string_view spelling : DefaultNameTable) {
    if (name == spelling || boost::algorithm::iequals(name, spelling)) return true;
  }
  return false;
}

}  // namespace TavPDF
