// Placed picture files: pixel pictures (TIFF, JPEG) and EPS files. The page's
// own writer writes a picture at once; a nested writer (a form) draws it by
// name and queues one record per file, written after the form's content
// under that name. JPEG files go into the file as they stand when JPEG
// compression is asked for; an EPS file becomes a PostScript XObject drawn
// over its preview, which viewers show and printers leave out.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <vector>

#include "pagewriter/pdfgraphicsstate.h"
#include "pagewriter/pdfproof.h"
#include "pdfwriter/pdfobjects.h"
#include "pdfwriter/pdfoutfil.h"
#include "platform/files.h"
#include "platform/kernel/colorspace.h"
#include "platform/kernel/epsfile.h"
#include "platform/kernel/job.h"
#include "platform/kernel/tavdb.h"
#include "platform/messages.h"
#include "platform/pixelreader.h"
#include "platform/system.h"
#include "platform/tav_error.h"
#include "tavpdf/PDFSettings.h"

namespace fs = std::filesystem;

namespace TavPDF {

namespace {

void writeQueuedPicture(PDFProof& writer, PendingStream& record) { writer.OutputPictureXObject(record); }

const bool gPictureWriterInstalled = [] {
  SetPendingStreamWriter(kPendingFileTiff, writeQueuedPicture);
  return true;
}();

constexpr double kMaxJpegSide = 65500;
constexpr std::size_t kCopyBlock = 1 << 16;

// A JPEG file's CMYK data stored inverted, as an Adobe (APP14) marker says.
bool jpegStoresInvertedCmyk(const std::string& path) {
  std::ifstream in(fs::u8path(path), std::ios::binary);
  unsigned char b[4];
  if (!in.read(reinterpret_cast<char*>(b), 2) || b[0] != 0xFF || b[1] != 0xD8) return false;
  // Segments up to the start of the scan: marker, length, data.
  for (int segments = 0; segments < 1000 && in.read(reinterpret_cast<char*>(b), 4); ++segments) {
    if (b[0] != 0xFF || b[1] == 0xDA) return false;
    const int length = (b[2] << 8) | b[3];
    if (length < 2) return false;
    if (b[1] == 0xEE && length >= 7) {
      char tag[5];
      return in.read(tag, 5) && std::memcmp(tag, "Adobe", 5) == 0;
    }
    in.seekg(length - 2, std::ios::cur);
  }
  return false;
}

// Whether a JPEG file ends its image: an end-of-image marker after the
// first scan. A file cut short lacks it; its data are not copied into a file
// as they stand (viewers would fill the rest in gray).
bool jpegIsComplete(const std::string& path) {
  std::ifstream in(fs::u8path(path), std::ios::binary);
  unsigned char b[4];
  if (!in.read(reinterpret_cast<char*>(b), 2) || b[0] != 0xFF || b[1] != 0xD8) return false;
  // Segments up to the start of the first scan: marker, length, data.
  for (;;) {
    if (!in.read(reinterpret_cast<char*>(b), 4) || b[0] != 0xFF) return false;
    if (b[1] == 0xDA) break;
    const int length = (b[2] << 8) | b[3];
    if (length < 2 || !in.seekg(length - 2, std::ios::cur)) return false;
  }
  std::vector<char> block(kCopyBlock);
  bool marker = false;  // the block before ended with 0xFF
  while (in.read(block.data(), std::streamsize(block.size())) || in.gcount() > 0) {
    const std::size_t n = std::size_t(in.gcount());
    for (std::size_t i = 0; i < n; ++i) {
      const auto c = static_cast<unsigned char>(block[i]);
      if (marker && c == 0xD9) return true;
      marker = c == 0xFF;
    }
  }
  return false;
}

// A pixel's share of process component k (0 C .. 3 K) as its plate takes it
// (0..255): a CMYK picture's channel, an RGB picture converted to CMYK, the
// darkness of a gray one on Black.
std::uint8_t processShare(const std::uint8_t* pixel, int channels, int k) {
  if (channels == 1) return k == 3 ? std::uint8_t(255 - pixel[0]) : 0;
  if (channels == 4) return pixel[k];
  double cmyk[4];
  TavGen::rgbcmyk(pixel[0] / 255.0, pixel[1] / 255.0, pixel[2] / 255.0, 0.0, 1.0, cmyk);
  return std::uint8_t(std::lround(std::clamp(cmyk[k], 0.0, 1.0) * 255));
}

constexpr const char* kProcessInkNames[4] = {"Cyan", "Magenta", "Yellow", "Black"};

// The process components among `wanted` that some pixel of the picture
// gives ink; empty when the file cannot be read (its plate says so).
std::vector<int> componentsWithInk(const std::string& path, std::vector<int> wanted) {
  std::vector<int> found;
  try {
    TavSys::pixreatyp reader(path);
    const TavSys::PixelHeader& h = reader.header();
    std::vector<std::uint8_t> row(h.rowBytes());
    for (std::int32_t y = 0; y < h.rows && !wanted.empty(); ++y) {
      reader.readRow(row.data());
      for (std::int32_t x = 0; x < h.width && !wanted.empty(); ++x) {
        const std::uint8_t* pixel = row.data() + std::size_t(x) * std::size_t(h.channels);
        for (auto k = wanted.begin(); k != wanted.end();) {
          if (processShare(pixel, h.channels, *k) != 0) {
            found.push_back(*k);
            k = wanted.erase(k);
          } else {
            ++k;
          }
        }
      }
    }
  } catch (const TavSys::Error&) {
    return {};
  }
  std::sort(found.begin(), found.end());
  return found;
}

// The placement of a picture whose own coordinates are points (an EPS
// file's PostScript, a preview's unit square scaled to the picture): (a, b)
// per point along the width, (c, d) per point upwards, (e, f) the top left
// corner on the page.
TavDB::tv_matrixtyp<double> pointPlacement(const genproof& writer, const Paint& paint, const Picture& picture) {
  const double w = picture.fileBox[2] - picture.fileBox[0], h = picture.fileBox[3] - picture.fileBox[1];
  return writer.PlacementMatrix(paint, w, h);
}

// The preview of a DOS EPS file: its TIFF section read as RGB rows. Empty
// when the file has none or it cannot be read.
struct Preview {
  std::int32_t width = 0, height = 0;
  std::vector<std::uint8_t> rgb;
};

Preview readPreview(const std::string& path) {
  Preview p;
  TavKernel::EpsHeader h;
  try {
    h = TavKernel::ReadEpsHeader(fs::u8path(path));
  } catch (const TavSys::Error&) {
    return p;
  }
  if (!h.dos || h.tiffOffset == 0 || h.tiffLength == 0) return p;
  try {
    // The pixel reader reads files: the section goes into one of its own.
    const TavSys::TempFolder folder;
    const fs::path tiff = folder.path() / "preview.tif";
    {
      std::ifstream in(fs::u8path(path), std::ios::binary);
      std::ofstream out(tiff, std::ios::binary);
      in.seekg(std::streamoff(h.tiffOffset));
      std::vector<char> block(kCopyBlock);
      for (std::uint64_t left = h.tiffLength; left > 0 && in;) {
        const std::size_t n = std::size_t(std::min<std::uint64_t>(left, block.size()));
        in.read(block.data(), std::streamsize(n));
        out.write(block.data(), in.gcount());
        left -= std::uint64_t(in.gcount());
      }
    }
    TavSys::pixreatyp reader(tiff.string());
    const TavSys::PixelHeader& ph = reader.header();
    // A preview is small; one that is not is not kept in memory.
    if (std::uint64_t(ph.width) * std::uint64_t(ph.rows) > (std::uint64_t(1) << 24)) return p;
    std::vector<std::uint8_t> row(ph.rowBytes());
    p.rgb.reserve(std::size_t(ph.width) * std::size_t(ph.rows) * 3);
    for (std::int32_t y = 0; y < ph.rows; ++y) {
      reader.readRow(row.data());
      for (std::int32_t x = 0; x < ph.width; ++x) {
        const std::uint8_t* s = row.data() + std::size_t(x) * std::size_t(ph.channels);
        if (ph.model == TavSys::kPixelRGB && ph.channels >= 3) {
          p.rgb.insert(p.rgb.end(), {s[0], s[1], s[2]});
        } else if (ph.model == TavSys::kPixelCMYK && ph.channels >= 4) {
          for (int c = 0; c < 3; ++c) p.rgb.push_back(std::uint8_t((255 - s[c]) * (255 - s[3]) / 255));
        } else {
          p.rgb.insert(p.rgb.end(), {s[0], s[0], s[0]});
        }
      }
    }
    p.width = ph.width;
    p.height = ph.rows;
  } catch (const std::exception&) {
    p = Preview();
  }
  return p;
}

}  // namespace

int PDFProof::OutputPlacedPDF(TavDB::Object* object) {
  if (object == nullptr || object->checkProperties(0x100008)) return 0;
  const std::uint16_t paintIndex = object->paint();
  const Paint* paint = paipoi(mJob, paintIndex);
  const Picture* picture = paint != nullptr ? picpoi(mJob, paint->picture) : nullptr;
  if (picture == nullptr || paint->type != kPaintPicture) return 0;
  // A page that could not be read when the job was loaded has no box to
  // place it by and nothing to show, embedded or linked: the export stops,
  // as the pass that embeds pages stops on it.
  if (!picture->readError.empty()) {
    const TavSys::filref* file = picfilref(mJob, paint->picture);
    throw TavSys::Error(TavSys::kResultAbandoned, "PDF/CANNOT EMBED PLACED PDF", picture->readError)
        .with("__FILENAME__", file != nullptr ? file->getNameAsUtf8() : std::string())
        .with("__REASON__", picture->readError);
  }
  // The page goes in as a reference form naming the file and the page. When
  // placed files are embedded (or travel with the workflow's private data),
  // the pass over the finished file replaces it by the page itself, its box
  // in the page's own points; otherwise the reference stays for the
  // workflow that resolves linked files.
  if (!HasPendingPictureForm(paintIndex)) RegisterPictureForm(*this, object, paintIndex);
  if (mSettings.EmbedImages != 0 || mSettings.IncludePrivateData != 0) {
    mPlacedPdf = true;
    // A one-up's nested writer places pages too: the file learns it at once.
    mHandler->mPlacedPdfFlag = true;
  }
  const TavDB::tv_matrixtyp<double> m = pointPlacement(*this, *paint, *picture);
  // The box's top left corner lands on the placement's.
  const double x0 = picture->fileBox[0], y1 = picture->fileBox[3];
  SaveGraphicsState();
  // The page starts from the state a page starts from: no overprint, black,
  // a line of one point, whatever the objects before it left in force.
  SetOverprint(false);
  Out() << "0 g 0 G 1 w\n";
  PdfGraphicsState& state = PdfGraphicsState::Instance();
  state.ForgetFillColor();
  state.SetColorKey(-1, true);
  state.SetColorSpace(nullptr, 0, false);
  state.SetColorSpace(nullptr, 0, true);
  DrawPictureForm(paintIndex, m.a, m.b, m.c, m.d, m.e - m.a * x0 - m.c * y1, m.f - m.b * x0 - m.d * y1);
  RestoreGraphicsState();
  return 0;
}

int PDFProof::OutputPlacedEPS(TavDB::Object* object) {
  const int result = OutputPlacedPixels(object);
  mImageBegun = false;
  return result;
}

int PDFProof::OutputPlacedPixels(TavDB::Object* object) {
  const Paint* paint = object != nullptr ? paipoi(mJob, object->paint()) : nullptr;
  if (paint == nullptr || paint->type != kPaintPicture) return 0;
  // An image link keeps the picture out of the file: inside the link's form
  // (whose space is the preview's, placed on the picture) its preview stands in.
  if (mInsideImageLinkForm) return WritePicturePreview(*this, object->paint());
  auto record = std::make_unique<PendingStreamFileTiff>(TavDB::objdupall(object));
  record->SetPaint(object->paint());
  if (mWriterNumber == 0) {
    OutputPictureXObject(*record);
    return 0;
  }

  const TavSys::filref* file = picfilref(mJob, paint->picture);
  const std::string path = file != nullptr ? file->getFullPathAsUtf8() : std::string();
  std::error_code ec;
  if (file == nullptr || file->empty() || !fs::is_regular_file(fs::u8path(path), ec)) {
    throw TavSys::PictureFileMissing(file != nullptr ? file->getNameAsUtf8() : std::string());
  }
  std::string name;
  const bool found = MakePictureXObjectName(file, name);
  TavDB::tv_matrixtyp<double> m{};
  double width = 0, height = 0;
  const Picture* picture = picpoi(mJob, paint->picture);
  if (!piciseps(mJob, paint->picture)) {
    // The image's unit square is the picture: its pixels at their number.
    try {
      const TavSys::pixreatyp reader(path);
      width = reader.header().width;
      height = reader.header().rows;
    } catch (const TavSys::Error& e) {
      throw TavSys::PictureUnreadable(file->getNameAsUtf8(), e.detail());
    }
    m = PlacementMatrix(*paint, width, height);
  } else {
    // The PostScript draws in its own points; its bounding box's corner
    // lands on the picture's corner.
    mPreviewFlag = true;
    m = pointPlacement(*this, *paint, *picture);
    width = picture->fileBox[2] - picture->fileBox[0];
    height = picture->fileBox[3] - picture->fileBox[1];
    if (!(width > 0) || !(height > 0)) {
      mPreviewFlag = false;
      throw TavSys::PictureUnreadable(file->getNameAsUtf8(), picture->readError);
    }
    mEpsOffsetX = m.a * picture->fileBox[0] + m.c * picture->fileBox[1];
    mEpsOffsetY = m.b * picture->fileBox[0] + m.d * picture->fileBox[1];
    m.e -= mEpsOffsetX;
    m.f -= mEpsOffsetY;
  }
  DrawImageXObject(m, name, width, height, nullptr);
  mPreviewFlag = false;
  if (!found) {
    record->SetName(name);
    record->SetFilePath(PictureRecordPath(name, *file));
    AddPendingStream(std::move(record));
  }
  return 0;
}

void PDFProof::OutputPictureXObject(PendingStream& pending) {
  auto& record = static_cast<PendingStreamFileTiff&>(pending);
  TavDB::Object* object = record.GetObject();
  const Paint* paint = paipoi(mJob, record.GetPaint());
  if (object == nullptr || paint == nullptr) return;
  const TavSys::filref* file = picfilref(mJob, paint->picture);
  const std::string path = file != nullptr ? file->getFullPathAsUtf8() : std::string();
  const std::string fileName = file != nullptr ? file->getNameAsUtf8() : std::string();
  std::error_code ec;
  if (file == nullptr || file->empty() || !fs::is_regular_file(fs::u8path(path), ec)) throw TavSys::PictureFileMissing(fileName);
  // The picture goes into a stream of its own at once: the page's own
  // writer closes its content stream around it (the page goes on in a
  // further content stream), so that its data are written once, never
  // buffered. A queued record is written under the name its form drew; the
  // form's content is complete.
  const bool queued = mWriterNumber != 0;
  struct Restore {
    PDFProof* w;
    bool cache;
    ~Restore() {
      w->mPictureRecordName.clear();
      w->mWritingPictureCache = cache;
      w->mJpegPassThrough = false;
      w->mPreviewFlag = false;
      w->mImageMode = 0;
    }
  } restore{this, mWritingPictureCache};
  mWritingPictureCache = true;
  if (queued) mPictureRecordName = record.GetName();

  if (piciseps(mJob, paint->picture)) {
    WritePostScriptXObject(*paint, path, queued ? record.GetName() : std::string());
    return;
  }

  std::unique_ptr<TavSys::pixreatyp> reader;
  try {
    reader = std::make_unique<TavSys::pixreatyp>(path);
  } catch (const TavSys::Error& e) {
    throw TavSys::PictureUnreadable(fileName, e.detail());
  }
  const TavSys::PixelHeader h = reader->header();
  const bool jpeg = reader->isJpeg();
  reader.reset();
  const bool layout = (h.model == TavSys::kPixelRGB && h.channels == 3) ||
                      (h.model == TavSys::kPixelCMYK && h.channels == 4) ||
                      ((h.model == TavSys::kPixelGray || h.model == TavSys::kPixelBitmap) && h.channels == 1);
  if (!layout) throw TavSys::PictureUnreadable(fileName, "a channel layout the writer cannot write");
  // An OPI server puts the picture in: inside its OPI form without embedded
  // images one mid-gray pixel over the whole picture stands for it.
  if (mInsideOpiForm && mSettings.EmbedImages == 0) {
    proofimghan* handler = outpixbegin(file, paint, PlacementMatrix(*paint, 1, 1), 72, 1, 0, 0, 1, 1, h.channels,
                                       h.model, nullptr, false, nullptr);
    if (handler != nullptr) {
      handler->Begin();
      const std::vector<std::uint8_t> grey(std::size_t(h.channels), 128);
      outpixrow(handler, grey.data(), 1, h.channels);
    }
    outpixend(handler);
    return;
  }
  // A JPEG file goes in as it stands when JPEG compression is asked for.
  const bool passThrough = jpeg && GetImageCompression(false) >= 25 && mImageMode == 0 && h.width <= kMaxJpegSide &&
                           h.rows <= kMaxJpegSide;
  if (passThrough && !jpegIsComplete(path)) {
    throw TavSys::PictureUnreadable(fileName, "the JPEG data end before the image does");
  }
  auto copyJpeg = [&](int model, bool decode, ColorSpace* space) {
    mJpegPassThrough = true;
    const int resolution = h.resolution > 0 ? int(std::lround(h.resolution)) : 72;
    proofimghan* handler = outpixbegin(file, paint, PlacementMatrix(*paint, h.width, h.rows), resolution, 1, 0, 0,
                                       h.rows, h.width, h.channels, model, nullptr, decode, space);
    if (handler == nullptr && mImageBegun) {
      std::ifstream in(fs::u8path(path), std::ios::binary);
      std::vector<char> block(kCopyBlock);
      genoutfil* out = GetImageOutput();
      while (out != nullptr && in.read(block.data(), std::streamsize(block.size())), in.gcount() > 0) {
        out->PutBytes(block.data(), std::size_t(in.gcount()));
      }
    }
    outpixend(handler);
  };
  if (mSettings.SeparatedOutput != 0 && mSoftMaskDepth == 0) {
    WritePicturePlate(object, *paint, h, passThrough, copyJpeg);
    return;
  }
  if (passThrough) {
    copyJpeg(h.model, h.channels == 4 && jpegStoresInvertedCmyk(path), nullptr);
    return;
  }
  genproof::OutputPlacedPixels(object);
}

void PDFProof::ReportPictureInksWithoutPlate(const TavSys::filref& file, const TavSys::PixelHeader& h) {
  // Each plate page carries one process ink's share of the picture: a share
  // for which the document has no ink has no page. Said once per picture
  // and ink, for the shares some pixel of the picture has.
  std::vector<int> missing;
  for (int k = h.channels == 1 ? 3 : 0; k < 4; ++k) {
    if (mHandler->mProcessSeparations[std::size_t(k)] < 0) missing.push_back(k);
  }
  const std::string path = file.getFullPathAsUtf8();
  if (missing.empty() || !mHandler->firstReport("picture inks without plate\n" + path)) return;
  for (int k : componentsWithInk(path, missing)) {
    TavGen::message(TavGen::kWarning, 1, "PDF/PICTURE INK WITHOUT PLATE",
                    {{"__FILENAME__", file.getNameAsUtf8()}, {"__INKNAME__", kProcessInkNames[k]}});
  }
}

void PDFProof::WritePicturePlate(TavDB::Object* object, const Paint& paint, const TavSys::PixelHeader& h,
                                 bool passThrough, const std::function<void(int, bool, ColorSpace*)>& copyJpeg) {
  if (const TavSys::filref* file = picfilref(mJob, paint.picture)) ReportPictureInksWithoutPlate(*file, h);
  // The page is the plate of the one separation enabled.
  int plate = -1;
  for (int p = 0; p < sepfrejob(mJob) && plate < 0; ++p) plate = sepsoruse(mJob, p, false);
  if (plate < 0) return;
  // The ink's share of the picture as the plate's gray image, as maps are
  // written on it: the process component of a CMYK picture, of an RGB
  // picture converted to CMYK, the darkness of a gray one on Black.
  const int component = sepiscmyk(mJob, plate);
  const bool gray = h.channels == 1;
  const bool prints = component >= 0 && (!gray || component == 3);
  std::vector<int> separations{plate};
  std::unique_ptr<ColorSpace> space;
  const int model = GetPictureColorSpace(separations, space);
  const bool decode = !IsSoftMaskRemap();
  const TavSys::filref* file = picfilref(mJob, paint.picture);
  if (!prints) {
    // Nothing of the picture on this plate: it clears the plate where it lies.
    proofimghan* handler = outpixbegin(file, &paint, PlacementMatrix(paint, 1, 1), 72, 1, 0, 0, 1, 1, 1, model,
                                       nullptr, decode, space.get());
    if (handler != nullptr) {
      handler->Begin();
      const std::uint8_t none = 0;
      outpixrow(handler, &none, 1, 1);
    }
    outpixend(handler);
    return;
  }
  // A gray JPEG file is its Black plate as it stands (light is no ink).
  if (gray && passThrough) {
    copyJpeg(model, false, space.get());
    return;
  }
  PixelRowConversion conversion;
  conversion.model = model;
  conversion.space = space.get();
  conversion.decode = decode;
  if (gray) {
    conversion.convert = [](const std::uint8_t* row, std::int32_t width, std::uint8_t* out) {
      for (std::int32_t x = 0; x < width; ++x) out[x] = std::uint8_t(255 - row[x]);
    };
  } else if (h.channels == 4) {
    conversion.convert = [component](const std::uint8_t* row, std::int32_t width, std::uint8_t* out) {
      for (std::int32_t x = 0; x < width; ++x) out[x] = row[std::size_t(x) * 4 + std::size_t(component)];
    };
  } else {
    conversion.convert = [component](const std::uint8_t* row, std::int32_t width, std::uint8_t* out) {
      for (std::int32_t x = 0; x < width; ++x) out[x] = processShare(row + std::size_t(x) * 3, 3, component);
    };
  }
  OutputPixelFile(object, &conversion);
}

void PDFProof::WritePostScriptXObject(const Paint& paint, const std::string& path, const std::string& queuedName) {
  const Picture* picture = picpoi(mJob, paint.picture);
  TavKernel::EpsHeader header;
  try {
    header = TavKernel::ReadEpsHeader(fs::u8path(path));
  } catch (const TavSys::Error& e) {
    throw TavSys::PictureUnreadable(fs::u8path(path).filename().string(), e.detail());
  }
  const double width = header.urx - header.llx, height = header.ury - header.lly;
  TavDB::tv_matrixtyp<double> m = pointPlacement(*this, paint, *picture);
  mEpsOffsetX = m.a * header.llx + m.c * header.lly;
  mEpsOffsetY = m.b * header.llx + m.d * header.lly;
  m.e -= mEpsOffsetX;
  m.f -= mEpsOffsetY;

  mPreviewFlag = true;
  mJpegPassThrough = true;
  proofimghan* handler = outpixbegin(picfilref(mJob, paint.picture), &paint, m, 72, 1, 0, 0, height, width, 0,
                                     -1, nullptr, false, nullptr);
  if (!mImageBegun) {
    // Drawn again as written before, or not written at all: no preview either.
    outpixend(handler);
    mJpegPassThrough = false;
    mPreviewName.clear();
    return;
  }
  const std::string imageName = mCurrentImageName;
  const std::string writtenKey = mWrittenPictureKey;
  if (genoutfil* out = GetImageOutput()) {
    *out << "%%BeginDocument: NoName\n1 dict begin \n/showpage {} def \n";
    // Only the PostScript section of a DOS EPS file.
    std::ifstream in(fs::u8path(path), std::ios::binary);
    in.seekg(std::streamoff(header.psOffset));
    std::vector<char> block(kCopyBlock);
    for (std::uint64_t left = header.psLength; left > 0 && in;) {
      in.read(block.data(), std::streamsize(std::min<std::uint64_t>(left, block.size())));
      out->PutBytes(block.data(), std::size_t(in.gcount()));
      left -= std::uint64_t(in.gcount());
    }
    *out << "end \n%%EndDocument\n";
  }
  outpixend(handler);
  mJpegPassThrough = false;

  // The preview the page draws under the PostScript: shown by viewers; a
  // printer takes its alternate, an empty mask, and prints the PostScript.
  const std::string previewName = queuedName.empty() ? mPreviewName : queuedName + "_preview";
  mPreviewName.clear();
  if (previewName.empty() || imageName.empty()) return;
  const Preview preview = readPreview(path);
  const bool nested = mContent == nullptr;
  if (!nested) EndContentPart();
  auto* mask = new PDFDictionary();
  mask->Set("Type", new PDFName("XObject"));
  mask->Set("Subtype", new PDFName("Image"));
  mask->Set("BitsPerComponent", new PDFInteger(1));
  mask->Set("ImageMask", new PDFBool(true));
  mask->Set("Width", new PDFInteger(1));
  mask->Set("Height", new PDFInteger(1));
  PDFIndirectReference* maskRef = nullptr;
  if (pdfoutfilter* sink = mHandler->beginStream(mask)) {
    const std::uint8_t empty = 255;
    sink->PutBytes(&empty, 1);
    maskRef = mHandler->endStream(sink, nullptr);
  }
  auto* image = new PDFDictionary();
  image->Set("Type", new PDFName("XObject"));
  image->Set("Subtype", new PDFName("Image"));
  image->Set("Width", new PDFInteger(preview.width > 0 ? preview.width : 1));
  image->Set("Height", new PDFInteger(preview.height > 0 ? preview.height : 1));
  image->Set("BitsPerComponent", new PDFInteger(8));
  image->Set("ColorSpace", new PDFName("DeviceRGB"));
  if (maskRef != nullptr) {
    auto* alternate = new PDFDictionary();
    alternate->Set("Image", maskRef);
    alternate->Set("DefaultForPrinting", new PDFBool(true));
    auto* alternates = new PDFArray();
    alternates->Add(alternate);
    image->Set("Alternates", alternates);
  }
  image->Set("Filter", new PDFName("FlateDecode"));
  if (pdfoutfilter* sink = mHandler->beginStream(image)) {
    static const std::uint8_t kGray[3] = {128, 128, 128};
    if (preview.rgb.empty()) {
      sink->PutBytes(kGray, 3);
    } else {
      sink->PutBytes(preview.rgb.data(), preview.rgb.size());
    }
    PDFIndirectReference* ref = mHandler->endStream(sink, nullptr);
    if (ref != nullptr && mXObjects != nullptr) mXObjects->Set(previewName, ref);
    if (auto written = mWrittenPictures.find(writtenKey); ref != nullptr && written != mWrittenPictures.end()) {
      written->second.objects.emplace_back(previewName, ref);
    }
  }
  if (!nested) mContent = mHandler->beginStream(mStreamDictionary);
}

}  // namespace TavPDF
