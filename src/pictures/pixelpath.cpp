// The page writer's pixel path: outimabeg builds an image XObject and its row
// handler; outpixbegin / outpixrow / outpixend carry the walker's images into
// the file. While the page's content stream is open an image cannot be
// written as a stream of its own: its data go into a temporary file that the
// pending flush after the page copies into the image's stream (pending kind
// 4). While the page writer writes its cached pictures the content stream is
// closed around each image instead, and the image is written at once.
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "pagewriter/pdfproof.h"
#include "pictures/imagewriter.h"
#include "pdfwriter/pdfoutfil.h"
#include "platform/files.h"
#include "platform/kernel/colorspace.h"
#include "platform/kernel/pageoutput.h"
#include "platform/kernel/tavdb.h"
#include "platform/messages.h"
#include "platform/system.h"
#include "platform/tav_error.h"
#include "tavpdf/PDFSettings.h"

namespace TavPDF {

namespace {

// JPEG holds at most this many pixels across and down.
constexpr double kMaxJpegSide = 65500;

void WriteBufferTiffStream(PDFProof& writer, PendingStream& record);

// The pixel path writes its buffered images through the pending flush.
const bool gBufferWriterInstalled = [] {
  SetPendingStreamWriter(kPendingBufferTiff, WriteBufferTiffStream);
  return true;
}();

// An image that cannot be written stops the export: a file is never
// written with an image left out or replaced by white.
[[noreturn]] void couldNotAddImage(const std::string& why) {
  throw TavSys::Error(TavSys::kResultAbandoned, "PDF/COULD NOT ADD IMAGE", "PDFProof: " + why);
}

// Copies a buffered image into its stream, once however many records share
// it. The file holds the encoded data; a file that went missing or changed
// stops the export (a cancelled export ends without a word).
void WriteBufferTiffStream(PDFProof& writer, PendingStream& record) {
  if (TavSys::Progress::isCanceled()) writer.SetCancelled();
  auto& tiff = static_cast<PendingStreamBufferTiff&>(record);
  const std::shared_ptr<CachedStreamBufferTiff>& buffer = tiff.GetBuffer();
  if (!buffer) return;
  pdfouthan& handler = *writer.GetHandler();
  if (buffer->reference == nullptr) {
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(buffer->filePath, ec);
    std::FILE* in = !ec && buffer->complete && size == buffer->fileBytes ? std::fopen(buffer->filePath.c_str(), "rb")
                                                                        : nullptr;
    pdfoutfilter* sink = nullptr;
    if (in != nullptr) {
      sink = handler.beginStream(buffer->streamDictionary, true);
      std::vector<std::uint8_t> block(1 << 16);
      for (std::size_t n; sink != nullptr && (n = std::fread(block.data(), 1, block.size(), in)) > 0;) {
        sink->PutBytes(block.data(), n);
      }
      std::fclose(in);
    } else {
      // A cancelled export is abandoned anyway: no message for its last image.
      if (TavSys::Progress::isCanceled()) {
        writer.SetCancelled();
        return;
      }
      couldNotAddImage("the buffered image " + record.GetName() + " is missing or incomplete");
    }
    if (sink == nullptr) return;
    int status = 0;
    buffer->reference = handler.endStream(sink, nullptr, &status);
    std::filesystem::remove(buffer->filePath, ec);
    buffer->filePath.clear();
  }
  if (buffer->reference != nullptr && writer.GetXObjectDictionary() != nullptr) {
    writer.GetXObjectDictionary()->Set(record.GetName(), buffer->reference);
  }
}

}  // namespace

int PDFProof::GetImageCompression(bool linked) const {
  return mSettings.LinkType == 2 && linked ? 1 : mSettings.CompressImages;
}

genoutfil* PDFProof::GetImageOutput() {
  if (mImageSink != nullptr) return mImageSink;
  if (mTempSink != nullptr) return mTempSink;
  return mTempOutput.get();
}

void PDFProof::EndContentPart() {
  const bool saved = mFlushSuppressed;
  mFlushSuppressed = true;
  PDFIndirectReference* ref = mHandler->endStream(mContent, this);
  mFlushSuppressed = saved;
  mContent = nullptr;
  if (ref != nullptr && mContents != nullptr) mContents->Add(ref);
}

void PDFProof::DrawImageXObject(const TavDB::tv_matrixtyp<double>& m, const std::string& name, double sx,
                                double sy, TavDB::Object* clip) {
  SaveGraphicsState();
  if (clip != nullptr) OutputShape(clip, kModeClipOutline);
  if (mPreviewFlag) {
    // A PostScript XObject over its preview: the preview's unit square
    // covers the picture (the PostScript's offset put back), the PostScript
    // draws in its own points.
    mPreviewFlag = false;
    const std::string preview = name + "_preview";
    DrawImageXObject(TavDB::tv_matrixtyp<double>{m.a, m.b, m.c, m.d, m.e + mEpsOffsetX, m.f + mEpsOffsetY},
                     preview, sx, sy, nullptr);
    if (mWriterNumber == 0) mPreviewName = preview;
    mPreviewFlag = true;
    WriteMatrix(TavDB::tv_matrixtyp<double>{m.a, m.b, m.c, m.d, m.e - sy * m.c, m.f - sy * m.d});
  } else {
    WriteMatrix(TavDB::tv_matrixtyp<double>{sx * m.a, sx * m.b, sy * m.c, sy * m.d, m.e - sy * m.c, m.f - sy * m.d});
  }
  pdfoutfilter& out = Out();
  PDFName::OutputName(out, name.c_str());
  out << " Do\n";
  RestoreGraphicsState();
}

proofimghan* PDFProof::outimabeg(std::int32_t value1, std::int32_t value2, double height, double width,
                                 int colourModel, int quality, const std::string& name,
                                 PDFDictionaryValue* softMask, bool decodeFlag, PDFImageDic*& dictionary,
                                 int beginStream, ColorSpace* colorSpace, PDFDictionaryValue* alternates,
                                 bool oneBit) {
  auto* dic = new PDFImageDic();
  dictionary = dic;
  const bool decode = decodeFlag != (mImageMode == 2);
  if (!name.empty()) {
    dic->Set("Type", new PDFName("XObject"));
    dic->Set("Subtype", new PDFName(colourModel == -1 ? "PS" : "Image"));
    dic->Set("Name", new PDFName(name));
  }
  if (softMask != nullptr) dic->Set("SMask", softMask);

  const auto w = std::int32_t(std::clamp(width, 0.0, 2.0e9));
  const auto h = std::int32_t(std::clamp(height, 0.0, 2.0e9));
  int components = 0;
  if (colourModel != -1) {
    dic->Set("Width", new PDFInteger(w));
    dic->Set("Height", new PDFInteger(h));
    switch (colourModel) {
      case 0:
      case 1:
        components = 1;
        if (colorSpace != nullptr) {
          dic->SetDeferredColorSpace(colorSpace->Clone());
        } else {
          dic->Set("ColorSpace", new PDFName("DeviceGray"));
        }
        break;
      case 2:
        components = 3;
        dic->Set("ColorSpace", new PDFName("DeviceRGB"));
        break;
      case 5:
        components = 4;
        dic->Set("ColorSpace", new PDFName("DeviceCMYK"));
        break;
      case 8:
        if (colorSpace != nullptr) {
          // As many components as the space is written with (a space of
          // process inks only is written as DeviceCMYK).
          components = int(ImageComponentSeparations(mJob, *colorSpace).size());
          dic->SetDeferredColorSpace(colorSpace->Clone());
          // Ink channels beyond a JPEG's colour models are never JPEG-compressed.
          if (quality >= 25) quality = 1;
        } else {
          TavSys::debug("<PDFProof::outimabeg> cs == nullptr");
        }
        break;
      default: break;
    }
    dic->Set("BitsPerComponent", new PDFInteger(oneBit ? 1 : 8));
  }
  if (decode) {
    auto* array = new PDFArray();
    for (int i = 0; i < components; ++i) {
      array->Add(new PDFInteger(1));
      array->Add(new PDFInteger(0));
    }
    dic->Set("Decode", array);
  }
  // The data follow the filter: JPEG only for 8-bit gray, RGB or CMYK that
  // JPEG can hold, and never for previews.
  const bool jpeg = quality >= 25 && mImageMode == 0 && !mPreviewFlag && !oneBit &&
                    (components == 1 || components == 3 || components == 4) && w <= kMaxJpegSide &&
                    h <= kMaxJpegSide;
  if (quality >= 1) {
    dic->Set("Filter", new PDFName(jpeg ? "DCTDecode" : "FlateDecode"));
  } else if (filsavall == 0) {
    dic->Set("Filter", new PDFName("ASCIIHexDecode"));
  }
  if (beginStream != 0) {
    if (alternates != nullptr) dic->Set("Alternates", alternates);
    mImageSink = mHandler->beginStream(dic);
    if (mImageSink == nullptr) return nullptr;
  } else if (mTempOutput && mTempSink == nullptr) {
    // The buffer holds the data encoded already: one pass over them.
    mTempSink = CreateOutputFilter(mTempOutput.get(), dic->Get("Filter"));
  }
  genoutfil* output = GetImageOutput();
  if (output == nullptr) return nullptr;
  if (jpeg) {
    if (mJpegPassThrough) return nullptr;
    auto compressor = std::make_unique<PDFJpegCompressor>(colourModel, h, w, value1, value2, quality, *output);
    if (!compressor->start_compression()) return nullptr;
    return new pdfproofimghanjpg(std::move(compressor));
  }
  const std::uint64_t samples = std::uint64_t(w) * std::uint64_t(components);
  const std::uint64_t rowBytes = oneBit ? (samples + 7) / 8 : samples;
  // Unpainted: light for gray and RGB, no ink for CMYK and ink channels.
  std::uint8_t white = colourModel == 0 || colourModel == 1 || colourModel == 2 ? 0xFF : 0x00;
  if (decode) white = std::uint8_t(~white);
  if (oneBit) return new pdfproofimghan1bittif(*output, rowBytes, h, white);
  return new pdfproofimghantif(*output, rowBytes, h, white);
}

proofimghan* PDFProof::outpixbegin(const TavSys::filref* source, const Paint*,
                                   const TavDB::tv_matrixtyp<double>& matrix, int resolutionNumerator,
                                   int resolutionDenominator, int, int, double height, double width, int,
                                   int colourModel, const std::int32_t*, bool decode, ColorSpace* colorSpace) {
  if (mImageBegun) {
    TavSys::debug("PDFProof::outpixbegin: an image is open already");
    return nullptr;
  }
  const double rows = std::ceil(height), columns = std::ceil(width);
  if (!(rows >= 1) || !(columns >= 1) || rows > 2.0e9 || columns > 2.0e9) return nullptr;
  // An ink-channel image needs the colour space that names its inks.
  if (colourModel == 8 && colorSpace == nullptr) {
    TavSys::debug("<PDFProof::outimabeg> cs == nullptr");
    couldNotAddImage("an image of ink channels came without its colour space");
  }
  std::string name = mPictureRecordName;
  bool exists = !name.empty();
  mWrittenPictureKey.clear();
  if (!exists && mWritingPictureCache && mWriterNumber == 0 && source != nullptr && !source->empty()) {
    // A file this writer wrote before: its image is drawn again.
    if (const WrittenPicture* written = FindWrittenPicture(*source)) {
      name = written->name;
      exists = true;
      for (const auto& [object, ref] : written->objects)
        if (mXObjects != nullptr && mXObjects->Get(object) == nullptr) mXObjects->Set(object, ref);
    } else {
      mWrittenPictureKey = WrittenPictureKey(*source);
    }
  }
  if (!exists) exists = MakePictureXObjectName(source, name);
  const int quality = GetImageCompression(false);
  PDFImageDic* dictionary = nullptr;

  if (mWritingPictureCache) {
    if (mWriterNumber != 0) {
      if (!exists) {
        TavSys::debug("PDFProof::outpixbegin internal error: trying to output an undefined picture!");
      }
    } else {
      DrawImageXObject(matrix, name, columns, rows, nullptr);
      if (exists) return nullptr;
      // The content goes on in a further content stream after the image.
      EndContentPart();
    }
    proofimghan* handler = outimabeg(resolutionNumerator, resolutionDenominator, rows, columns, colourModel,
                                     quality, name, nullptr, decode, dictionary, 1, colorSpace, nullptr, false);
    mCurrentImageName = name;
    mImageBegun = mImageSink != nullptr;
    return handler;
  }

  if (exists) {
    DrawImageXObject(matrix, name, columns, rows, nullptr);
    return nullptr;
  }
  // The temporary file comes first: without it nothing refers to the image.
  auto buffer = std::make_shared<CachedStreamBufferTiff>();
  try {
    const std::filesystem::path path =
        TavSys::uniqueSiblingPath(std::filesystem::temp_directory_path() / "tavpdf-image", "img");
    buffer->filePath = path.string();
    mTempFile = TavSys::fil::create(path);
  } catch (const std::exception& e) {
    TavSys::debug("pdf error: cannot create temporary file for tiff output!");
    couldNotAddImage(e.what());
  }
  mTempOutput = std::make_unique<pdfoutfil>(mTempFile.get());
  proofimghan* handler = outimabeg(resolutionNumerator, resolutionDenominator, rows, columns, colourModel,
                                   quality, name, nullptr, decode, dictionary, 0, colorSpace, nullptr, false);
  buffer->streamDictionary = dictionary;
  if (auto* plain = dynamic_cast<pdfproofimghantif*>(handler)) {
    buffer->expectedBytes = plain->DeclaredBytes();
    buffer->whiteByte = plain->WhiteByte();
  } else if (dynamic_cast<pdfproofimghanjpg*>(handler) != nullptr) {
    buffer->jpegModel = colourModel;
    buffer->width = std::int32_t(columns);
    buffer->height = std::int32_t(rows);
    buffer->quality = quality;
  }
  mTempBuffer = buffer;
  DrawImageXObject(matrix, name, columns, rows, nullptr);
  auto record = std::make_unique<PendingStreamBufferTiff>(buffer);
  record->SetName(name);
  AddPendingStream(std::move(record));
  mCurrentImageName = name;
  mImageBegun = true;
  return handler;
}

int PDFProof::outpixrow(proofimghan* handler, const std::uint8_t* row, int pixels, int planes) {
  return handler != nullptr ? handler->WriteRows(row, pixels, planes) : 1;
}

void PDFProof::outpixabandon(proofimghan* handler) {
  if (auto* own = dynamic_cast<pdfproofimghan*>(handler)) own->Abandon();
}

void PDFProof::outpixend(proofimghan* handler) {
  bool complete = true;
  bool abandoned = false;  // the caller stops with its own error
  if (handler != nullptr) {
    if (auto* own = dynamic_cast<pdfproofimghan*>(handler)) {
      abandoned = own->Abandoned();
      complete = own->Finish();
      if (own->PaddedRows() > 0) {
        TavSys::debug("PDFProof::outpixend: " + std::to_string(own->PaddedRows()) + " rows of " +
                      mCurrentImageName + " were written white");
      }
    }
    delete handler;
  } else if (!mImageBegun) {
    return;
  }
  mImageBegun = false;
  if (!mWritingPictureCache) {
    if (mTempSink != nullptr) {
      complete = mTempSink->Finish() && complete;
      if (mTempSink != mTempOutput.get()) delete mTempSink;
      mTempSink = nullptr;
    }
    if (mTempBuffer && mTempFile) {
      mTempBuffer->fileBytes = mTempFile->position();
      mTempBuffer->complete = complete;
    }
    mTempBuffer.reset();
    mTempOutput.reset();
    const int error = mTempFile ? mTempFile->close() : 0;
    const std::string path = mTempFile ? mTempFile->path().string() : std::string();
    mTempFile.reset();
    if (error != 0) throw TavSys::fileError(error - TavSys::kFileErrorBase, path, "PDF/COULD NOT ADD IMAGE");
  } else {
    int status = 0;
    PDFIndirectReference* ref = mHandler->endStream(mImageSink, this, &status);
    mImageSink = nullptr;
    if (ref != nullptr && mXObjects != nullptr) mXObjects->Set(mCurrentImageName, ref);
    if (ref != nullptr && !mWrittenPictureKey.empty()) {
      mWrittenPictures[mWrittenPictureKey] = WrittenPicture{mCurrentImageName, {{mCurrentImageName, ref}}};
    }
    mWrittenPictureKey.clear();
    if (mWriterNumber == 0) mContent = mHandler->beginStream(mStreamDictionary);
    if (status != 0) throw TavSys::Error(status, "PDF/COULD NOT ADD IMAGE", mCurrentImageName);
  }
  // Encoders drop what they hold once the export is cancelled; otherwise an
  // image that could not be completed stops the export.
  if (!complete && !abandoned && !TavSys::Progress::isCanceled()) {
    throw TavSys::Error(TavSys::kResultAbandoned, "PDF/COULD NOT ADD IMAGE", mCurrentImageName);
  }
}

}  // namespace TavPDF
