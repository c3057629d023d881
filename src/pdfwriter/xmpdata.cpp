#include "pdfwriter/xmpdata.h"

#include <string>

#include "pdfwriter/pdfobjects.h"
#include "pdfwriter/pdfouthan.h"
#include "platform/kernel/job.h"
#include "platform/kernel/xmpcomposer.h"
#include "platform/tav_error.h"
#include "tavpdf/PDFSettings.h"

namespace TavPDF {

void AttachXMPComposer(pdfouthan& handler) {
  XMPInkCallback callback = std::move(handler.mInkCallback);
  handler.mInkCallback = nullptr;
  if (handler.mSettings == nullptr || handler.mSettings->NormalizedOutput == 0) return;
  const PDFSettings& settings = *handler.mSettings;
  delete handler.mXMPComposer;
  handler.mXMPComposer = new TavricLib::XMPComposer(handler.mJob, handler.mOutputFileSpec,
                                                    settings.LinkType != 0, 0, 1);
  TavricLib::XMPComposer& composer = *handler.mXMPComposer;
  composer.InstallInkCallback(std::move(callback));
  composer.SetSeparated(settings.SeparatedOutput != 0);
  pdfouthan* owner = &handler;  // the handler owns the composer and outlives it
  composer.SetPDFOutSettings(
      settings.AddCMYKSeparations != 0, settings.CopyLinksToOutput != 0,
      [owner](int separation) {
        std::string name;
        owner->getSeparationName(name, owner->mJob, separation);
        return name;
      },
      settings.ScreenRegistration.GetValue() != 0, settings.ProcessCMYKFlags != 0,
      settings.UseSeparationDisabler != 0, settings.AddNonPrintingLayers != 0, 0,
      settings.IncludePrivateData != 0);
  composer.SetFerrixOutput(handler.mProducedFiles);
}

void DeleteXMPComposer(pdfouthan& handler) {
  delete handler.mXMPComposer;
  handler.mXMPComposer = nullptr;
}

void BuildDocumentXMP(pdfouthan& handler) {
  if (handler.mXMPComposer == nullptr || handler.mSettings == nullptr) return;
  // The stored distortion, which the workflow applies to normalized output.
  handler.mXMPComposer->SetDistortion((handler.mSettings->HorizontalDistortion + 100.0) / 100.0,
                                      (handler.mSettings->VerticalDistortion + 100.0) / 100.0);
  handler.mXMPComposer->BuildXMPData();
}

PDFIndirectReference* WriteMetadataStream(pdfouthan& handler) {
  if (handler.mXMPComposer == nullptr) return nullptr;
  const std::string& packet = handler.mXMPComposer->RetrieveXMPData();
  if (packet.empty()) return nullptr;
  return WriteXMLStream(handler, packet, "the metadata");
}

PDFIndirectReference* WriteXMLStream(pdfouthan& handler, std::string_view xml, const char* what) {
  auto* dictionary = new PDFDictionary();
  dictionary->Set("Type", new PDFName("Metadata"));
  dictionary->Set("Subtype", new PDFName("XML"));
  pdfoutfilter* sink = handler.beginStream(dictionary);
  if (sink == nullptr) {
    throw TavSys::Error(TavSys::kResultAbandoned, "PDF/STREAM STILL OPEN",
                        std::string("a stream was still open when ") + what + " were written");
  }
  sink->PutBytes(xml.data(), xml.size());
  return handler.endStream(sink, nullptr);
}

}  // namespace TavPDF
