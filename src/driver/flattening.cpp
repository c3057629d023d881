#include "driver/flattening.h"

#include "tavpdf/PDFSettings.h"

namespace TavPDF {

void SetFlattenerParameters(PDFSpaSetter& setter, const PDFSettings& settings) {
  const FlattenerSettings& fs = FlattenerSettings::Instance();
  SpaSetter::Parameters& p = setter.parameters();
  const bool flatten = settings.EnableFlattening != 0;
  p.mode = 1;
  p.valueA = fs.valueA;
  p.valueB = fs.valueB;
  p.valueC = fs.valueC;
  p.valueD = fs.valueD;
  p.valueE = fs.valueE;
  p.useColourManagement = settings.UseColormanagement != 0;
  p.flattenOverprints = flatten && settings.FlattenOverprints != 0;
  p.flatteningLevel = settings.EnableFlattening > 0 ? 2 : 0;
  p.flattenBlackOverprint = flatten && settings.FlattenBlackOverprint != 0;
  p.flatteningEnabled = flatten;
  p.ignorePlacedOverprints = flatten && settings.IgnorePlacedOverprints != 0;
  p.objectMask = settings.AddNonPrintingLayers != 0 ? 0x20000 : 0x60000;
  p.secondMask = 0;
  p.groupMask = 0x20000;
  p.flagF = fs.valueF != 0;
  p.forceOpaqueSeparationsToKnockout = settings.ForceOpaqueSeparationsToKnockout != 0;
  p.vectorizeOpacity = settings.VectorizeOpacity != 0;
  // Colour management turns RGB colours into inks through the output profile.
  setter.setColourProfile(settings.CertifiedOutputProfile.getFullPathAsUtf8());
}

}  // namespace TavPDF
