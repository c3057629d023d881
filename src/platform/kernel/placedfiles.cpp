#include "platform/kernel/placedfiles.h"

#include <cmath>
#include <vector>

#include "platform/kernel/epsfile.h"
#include "platform/kernel/job.h"
#include "platform/pdflib.h"
#include "platform/pixelreader.h"
#include "platform/system.h"
#include "platform/tav_error.h"

namespace fs = std::filesystem;

namespace TavKernel {

namespace {

// Points to job units, kept within the model's range.
std::int32_t units(double points, int ppi) {
  const double v = points * ppi / 72.0;
  return std::isfinite(v) && std::fabs(v) < 1.0e9 ? TavSys::iround(v) : 0;
}

void setSize(Picture& p, int ppi, const PlacedFileGiven& given) {
  if (!given.width) p.width = units(p.fileBox[2] - p.fileBox[0], ppi);
  if (!given.height) p.height = units(p.fileBox[3] - p.fileBox[1], ppi);
}

}  // namespace

bool ReadPlacedFile(Picture& p, int ppi, const PlacedFileGiven& given) {
  const fs::path path = fs::u8path(p.file.getFullPathAsUtf8());
  p.readError.clear();
  try {
    if (p.type == "EPS") {
      const EpsHeader h = ReadEpsHeader(path);
      p.fileBox = {h.llx, h.lly, h.urx, h.ury};
      setSize(p, ppi, given);
      return true;
    }
    if (p.type == "PDF") {
      // Complaints about a damaged file are made when its page is embedded.
      GOErrorReporterScope quiet(nullptr);
      GADoc doc(path);
      const int pages = doc.GetNumPages();
      if (p.pdfPage < 0 || p.pdfPage >= pages) {
        p.readError = "the file has " + std::to_string(pages) + (pages == 1 ? " page" : " pages") + ", no page " +
                      std::to_string(p.pdfPage + 1);
        return false;
      }
      const GOPage page = doc.GetPage(p.pdfPage);
      const std::vector<double> box = page.GetPageBox(1);
      if (box.size() != 4) {
        p.readError = "the page has no usable page box";
        return false;
      }
      // A page turned a quarter is as wide as it is high unturned; its
      // lower left corner stays.
      const bool turned = page.GetRotation() % 2 != 0;
      const double w = box[2] - box[0], h = box[3] - box[1];
      p.fileBox = {box[0], box[1], box[0] + (turned ? h : w), box[1] + (turned ? w : h)};
      setSize(p, ppi, given);
      return true;
    }
    if (p.type == "TIFF" || p.type == "JPEG") {
      const TavSys::pixreatyp reader(path.string());
      const TavSys::PixelHeader& h = reader.header();
      if (!given.width) p.width = h.width;
      if (!given.height) p.height = h.rows;
      if (!given.resolution && h.resolution > 0) p.resolution = h.resolution;
      if (!given.colorSpace) p.colorSpaceCode = h.model;
      return true;
    }
    return false;
  } catch (const TavSys::Error& e) {
    p.readError = e.detail().empty() ? e.text() : e.detail();
  } catch (const std::exception& e) {
    p.readError = e.what();
  }
  if (p.readError.empty()) p.readError = "the file cannot be read";
  return false;
}

}  // namespace TavKernel

std::vector<std::string> mapGetChannelNames(const TavSys::filref& file) {
  std::vector<std::string> names;
  int channels = 0, model = TavSys::kPixelGray;
  try {
    const TavSys::pixreatyp reader(file.getFullPathAsUtf8());
    channels = reader.header().channels;
    model = reader.header().model;
  } catch (const TavSys::Error&) {
    return names;
  }
  static const char* const kCmyk[] = {"Cyan", "Magenta", "Yellow", "Black"};
  static const char* const kRgb[] = {"Red", "Green", "Blue"};
  for (int c = 0; c < channels; ++c) {
    if (model == TavSys::kPixelCMYK && c < 4) {
      names.push_back(kCmyk[c]);
    } else if (model == TavSys::kPixelRGB && c < 3) {
      names.push_back(kRgb[c]);
    } else if ((model == TavSys::kPixelGray || model == TavSys::kPixelBitmap) && c == 0) {
      names.push_back("Gray");
    } else {
      names.push_back("Channel " + std::to_string(c + 1));
    }
  }
  return names;
}
