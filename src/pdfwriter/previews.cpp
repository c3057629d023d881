#include "pdfwriter/previews.h"

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "colour/devicen.h"
#include "pdfwriter/layout.h"
#include "pdfwriter/pagedict.h"
#include "pdfwriter/pdfobjects.h"
#include "pdfwriter/pdfouthan.h"
#include "pdfwriter/privatedata.h"
#include "platform/kernel/job.h"
#include "platform/kernel/pageoutput.h"
#include "platform/tav_error.h"
#include "tavpdf/OutputPDF.h"
#include "tavpdf/PDFSettings.h"

namespace TavPDF {

TavricLib::SeparatedPreviewOptions PreviewOptions(const jobstr* job, const PDFSettings& settings) {
  TavricLib::SeparatedPreviewOptions options;
  options.layerMask = (settings.AddNonPrintingLayers != 0 ? 0x20000u : 0x60000u) +
                      (settings.IncludeLayers != 0 ? 0x800000u : 0u);
  options.layerTarget = 0;
  options.layout = getLayoutMatrix(settings.Orientation.GetValue(), settings.Mirror != 0,
                                   settings.GetInternalDistortionV(), settings.GetInternalDistortionH(), 0, 0);
  options.opaqueInksKnockOut = settings.ForceOpaqueSeparationsToKnockout != 0;
  options.stationNumber = settings.NormalizedOutput != 0;
  options.cmykProfile = settings.CertifiedOutputProfile.getFullPathAsUtf8();
  (void)job;
  return options;
}

int PagePreviewResolution(const jobstr* job, const PDFSettings& settings) {
  if (settings.IncludePreview == 1) return std::max(1, int(settings.PreviewResolution));
  return CalculatePPI(job, settings.PreviewResolution);
}

std::unique_ptr<TavricLib::SeparatedPreview> RenderPagePreview(pdfouthan& handler) {
  const jobstr* job = handler.mJob;
  const PDFSettings& settings = *handler.mSettings;
  TavSys::tv_rectangle media;
  if (handler.mHasMediaBox) {
    media = handler.mMediaBox;
  } else if (!getboxconst(job, kMediaBox, media)) {
    return nullptr;
  }
  const TavSys::tv_rectangle box = GetLayoutTransformedBox(job, media, settings);
  TavricLib::SeparatedPreviewOptions options = PreviewOptions(job, settings);
  options.antiAliasing = settings.PreviewAntiAliasing != 0 ? 2 : 1;
  const int resolution = std::max(1, PagePreviewResolution(job, settings));
  const auto [width, height] = TavricLib::PreviewSize(job, box, resolution);
  auto preview = std::make_unique<TavricLib::SeparatedPreview>(job, box, width, height, options);
  preview->Render(handler.mSpatialTree != nullptr ? handler.mSpatialTree : jobGetSpahan(job));
  return preview;
}

namespace {

PDFDictionary* imageDictionary(const TavricLib::SeparatedPreview& preview, PDFDictionaryValue* space, bool compress) {
  auto* image = new PDFDictionary();
  image->Set("Type", new PDFName("XObject"));
  image->Set("Subtype", new PDFName("Image"));
  image->Set("ColorSpace", space);
  image->Set("BitsPerComponent", new PDFInteger(8));
  image->Set("Width", new PDFInteger(preview.GetWidth()));
  image->Set("Height", new PDFInteger(preview.GetHeight()));
  if (compress) image->Set("Filter", new PDFName("FlateDecode"));
  return image;
}

pdfoutfilter* openImage(pdfouthan& handler, PDFDictionary* image) {
  pdfoutfilter* sink = handler.beginStream(image);
  if (sink == nullptr) {
    throw TavSys::Error(TavSys::kResultAbandoned, "PDF/STREAM STILL OPEN",
                        "a stream was still open when a page's preview was written");
  }
  return sink;
}

}  // namespace

PDFIndirectReference* WriteSeparationPreview(pdfouthan& handler, const TavricLib::SeparatedPreview& preview,
                                             int slot) {
  const int plane = preview.GetSeparationPlane(slot);
  if (plane < 0) return nullptr;
  std::string name;
  handler.getSeparationName(name, handler.mJob, slot);
  PDFIndirectReference* function = WriteSampledTintFunction(handler, 1, &slot);
  auto* space = new PDFArray();
  space->Add(new PDFName("Separation"));
  space->Add(new PDFName(name));
  space->Add(new PDFName("DeviceCMYK"));
  space->Add(function);
  pdfoutfilter* sink = openImage(handler, imageDictionary(preview, space, handler.mSettings->CompressImages > 0));
  for (int y = 0; y < preview.GetHeight(); ++y) sink->PutBytes(preview.GetScanLine(plane, y), std::size_t(preview.GetWidth()));
  return handler.endStream(sink, nullptr);
}

PDFIndirectReference* WriteInkPreview(pdfouthan& handler, const TavricLib::SeparatedPreview& preview) {
  std::unique_ptr<PDFCsDeviceN> inks = BuildInkColorSpace(handler, true, kSepUsed);
  PDFArray* space = inks ? inks->WriteDeviceNColorSpaceArray(&handler, 0, true, true) : nullptr;
  if (space == nullptr || space->Size() < 2) return nullptr;
  // The colourants as the space names them ("None" paints nothing), and the
  // plane of each.
  std::vector<std::string> colourants;
  if (auto* names = dynamic_cast<PDFArray*>(space->Get(1))) {
    for (std::size_t i = 0; i < names->Size(); ++i) {
      if (auto* n = dynamic_cast<PDFName*>(names->Get(i))) colourants.emplace_back(n->GetName());
    }
  } else if (auto* n = dynamic_cast<PDFName*>(space->Get(1))) {
    colourants.emplace_back(n->GetName());
  }
  if (colourants.empty()) return nullptr;
  std::map<std::string, int> planeOf;
  for (int p = 0; p < preview.GetPlaneCount(); ++p) {
    const int slot = preview.GetPlaneSeparation(p);
    std::string name;
    handler.getSeparationName(name, handler.mJob, slot);
    planeOf.emplace(name, p);
    handler.getCMYKSeparationName(name, handler.mJob, slot);
    planeOf.emplace(name, p);
  }
  std::vector<int> planes;
  for (const std::string& c : colourants) {
    auto it = planeOf.find(c);
    planes.push_back(it != planeOf.end() ? it->second : -1);
  }
  pdfoutfilter* sink = openImage(handler, imageDictionary(preview, space, true));
  const std::size_t n = planes.size(), w = std::size_t(preview.GetWidth());
  std::vector<std::uint8_t> row(w * n);
  for (int y = 0; y < preview.GetHeight(); ++y) {
    for (std::size_t i = 0; i < n; ++i) {
      const std::uint8_t* line = planes[i] >= 0 ? preview.GetScanLine(planes[i], y) : nullptr;
      for (std::size_t x = 0; x < w; ++x) row[x * n + i] = line != nullptr ? line[x] : 0;
    }
    sink->PutBytes(row.data(), row.size());
  }
  return handler.endStream(sink, nullptr);
}

}  // namespace TavPDF
