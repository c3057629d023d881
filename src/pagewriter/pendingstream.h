#pragma once
// Deferred resources of a page writer. While a content stream is open nothing
// else may be written to the file, so an object that needs a PDF object of its
// own (a pattern cell, a one-up, an image file, a transparency group, ...)
// puts its resource name into the content at once and queues a PendingStream
// record. When the content stream is closed, the writer's flush writes every
// queued record as its own object; the writers may open streams of their own,
// whose flushes recurse.
#include <cstdint>
#include <memory>
#include <string>

#include "platform/kernel/geometry.h"

class barCreator;
struct jobstr;

namespace TavDB {
class Object;
}

namespace TavPDF {

class PDFDictionary;
class PDFIndirectReference;
class PDFProof;

// The kinds of deferred resource; 0 marks a record the flush has taken.
enum PendingStreamKind : std::uint32_t {
  kPendingTaken = 0,
  kPendingPattern = 1,
  kPendingForm = 2,               // a placed one-up
  kPendingFileTiff = 3,
  kPendingBufferTiff = 4,
  kPendingFilePdf = 5,
  kPendingTransparencyGroup = 6,
  kPendingOpiForm = 7,
  kPendingImageLinkForm = 8,
  kPendingFilePreview = 9,
  kPendingStationNumberForm = 10,
  kPendingCADForm = 11,
  kPendingTransparencyGState = 12,
  kPendingBarcodeForm = 13,
  kPendingMapOpacityMask = 14,    // a graphics state masked by a map's opacity channel
  kPendingKindCount = 15,
};

// A readable name of a kind ("transparency group"), for messages.
const char* PendingStreamKindName(std::uint32_t kind);

class PendingStream {
 public:
  explicit PendingStream(std::uint32_t kind) : mKind(kind) {}
  PendingStream(std::uint32_t kind, std::uint16_t paint) : mKind(kind), mPaint(paint) {}
  // Takes a deep copy of the object (null stays null).
  PendingStream(std::uint32_t kind, const TavDB::Object* object);
  PendingStream(std::uint32_t kind, const TavDB::Object* object, std::uint16_t paint);
  // Copies kind, names and paint and deep-copies the object.
  PendingStream(const PendingStream& other);
  PendingStream& operator=(const PendingStream&) = delete;
  virtual ~PendingStream();

  std::uint32_t GetKind() const { return mKind; }
  void SetKind(std::uint32_t kind) { mKind = kind; }
  const std::string& GetName() const { return mName; }
  void SetName(std::string name) { mName = std::move(name); }
  const std::string& GetGStateName() const { return mGStateName; }
  void SetGStateName(std::string name) { mGStateName = std::move(name); }
  std::uint16_t GetPaint() const { return mPaint; }
  void SetPaint(std::uint16_t paint) { mPaint = paint; }
  // The record's own copy of a job object (owned by the record), or null.
  TavDB::Object* GetObject() const { return mObject.get(); }
  // Stores the object without copying; the record owns it from now on.
  void SetObject(std::unique_ptr<TavDB::Object> object);
  // Releases the copy now.
  void ReleaseObject();

 private:
  std::uint32_t mKind;
  std::string mName;
  std::string mGStateName;
  std::uint16_t mPaint = 0;
  std::unique_ptr<TavDB::Object> mObject;
};

// 1: a pattern cell.
class PendingStreamPattern : public PendingStream {
 public:
  PendingStreamPattern(std::uint16_t paint, const std::int32_t cell[4]);
  const std::int32_t* GetCell() const { return mCell; }

 private:
  std::int32_t mCell[4];
};

// 2: a placed one-up, written as a form by a nested page writer.
class PendingStreamForm : public PendingStream {
 public:
  explicit PendingStreamForm(std::uint16_t oneUpPaint) : PendingStream(kPendingForm, oneUpPaint) {}
};

// 3: a placed pixel picture read from its file. The object is taken over
// without a copy.
class PendingStreamFileTiff : public PendingStream {
 public:
  explicit PendingStreamFileTiff(std::unique_ptr<TavDB::Object> object);
  const std::string& GetFilePath() const { return mFilePath; }
  void SetFilePath(std::string path) { mFilePath = std::move(path); }

 private:
  std::string mFilePath;
};

// A pixel image buffered in a temporary file; shared by the picture cache and
// the pending record. The file is its own: it is removed when the last owner
// lets go, whether the image was written or the export gave up.
struct CachedStreamBufferTiff {
  CachedStreamBufferTiff() = default;
  ~CachedStreamBufferTiff();
  CachedStreamBufferTiff(const CachedStreamBufferTiff&) = delete;
  CachedStreamBufferTiff& operator=(const CachedStreamBufferTiff&) = delete;
  std::string filePath;
  PDFDictionary* streamDictionary = nullptr;   // registry-owned
  PDFIndirectReference* reference = nullptr;   // registry-owned; set once written
  // The file holds the stream's data encoded as its Filter says; complete
  // once the image was ended, with fileBytes bytes.
  bool complete = false;
  std::uint64_t fileBytes = 0;
  // What stands in when the file is lost: expectedBytes of whiteByte (before
  // encoding), or for JPEG data (jpegModel >= 0) a white JPEG image.
  std::uint64_t expectedBytes = 0;
  std::uint8_t whiteByte = 0;
  int jpegModel = -1;
  std::int32_t width = 0, height = 0;
  int quality = 0;
};

// 4: a buffered pixel image.
class PendingStreamBufferTiff : public PendingStream {
 public:
  explicit PendingStreamBufferTiff(std::shared_ptr<CachedStreamBufferTiff> buffer)
      : PendingStream(kPendingBufferTiff), mBuffer(std::move(buffer)) {}
  const std::shared_ptr<CachedStreamBufferTiff>& GetBuffer() const { return mBuffer; }

 private:
  std::shared_ptr<CachedStreamBufferTiff> mBuffer;
};

// 5: a placed PDF page.
class PendingStreamFilePdf : public PendingStream {
 public:
  PendingStreamFilePdf(const TavDB::Object* object, std::uint16_t paint)
      : PendingStream(kPendingFilePdf, object, paint) {}
};

// 12: the transparency graphics state of an object.
class PendingStreamTransparencyGraphicsState : public PendingStream {
 public:
  explicit PendingStreamTransparencyGraphicsState(std::uint16_t paint)
      : PendingStream(kPendingTransparencyGState, paint) {}
  PendingStreamTransparencyGraphicsState(const PendingStreamTransparencyGraphicsState&) = default;
  std::uint8_t mFlag1 = 0;
  std::uint8_t mFlag2 = 0;
};

// 6: an object written as a transparency group form (made as kind 12, then
// turned into kind 6).
class PendingStreamTransparencyGroup : public PendingStreamTransparencyGraphicsState {
 public:
  PendingStreamTransparencyGroup(const TavDB::Object* object, std::uint16_t paint,
                                 const std::int32_t box[4]);
  const std::int32_t* GetBox() const { return mBox; }

 private:
  std::int32_t mBox[4];
};

// 7: an OPI form. Its paint is the object's own unless noPaint is given.
class PendingStreamOpiForm : public PendingStream {
 public:
  PendingStreamOpiForm(const TavDB::Object* object, bool noPaint);
  bool GetNoPaint() const { return mNoPaint != 0; }

 private:
  std::uint8_t mNoPaint;
};

// 8: an image-link form.
class PendingStreamVornImageForm : public PendingStream {
 public:
  explicit PendingStreamVornImageForm(const TavDB::Object* object)
      : PendingStream(kPendingImageLinkForm, object) {}
};

// 9: a picture preview read from a file.
class PendingStreamFilePreview : public PendingStream {
 public:
  PendingStreamFilePreview(std::uint16_t paint, std::string filePath)
      : PendingStream(kPendingFilePreview, paint), mFilePath(std::move(filePath)) {}
  const std::string& GetFilePath() const { return mFilePath; }

 private:
  std::string mFilePath;
};

// 10: a station-number text, kept as a copy without its creator record. The
// number is line art: the copy's paints take no screen of their own (new
// paints of the job where they had one).
class PendingStreamStationNumberForm : public PendingStream {
 public:
  PendingStreamStationNumberForm(jobstr* job, const TavDB::Object* text);
};

// 11: a CAD die-cut drawing.
class PendingStreamCADForm : public PendingStream {
 public:
  explicit PendingStreamCADForm(const TavDB::Object* object)
      : PendingStream(kPendingCADForm, object) {}
};

// 13: a barcode, kept turned back to its unrotated position together with the
// rotation (degrees) that places it.
class PendingStreamBarcodeForm : public PendingStream {
 public:
  explicit PendingStreamBarcodeForm(const TavDB::Object* barcode);
  double GetRotation() const { return mRotation; }
  // The barcode's creator record (symbology and parameters); null when the
  // object was not a barcode.
  const barCreator* GetCreator() const { return mCreator.get(); }

 private:
  double mRotation = 0.0;
  std::shared_ptr<const barCreator> mCreator;
};

// The writer of one kind: writes the record's object (the record is the
// writer's for the call). Kinds whose writer is not installed cannot be
// queued: the page writer refuses the job instead of leaving a resource name
// without an object.
using PendingStreamWriter = void (*)(PDFProof& writer, PendingStream& record);
// The engine's own writer of a kind (the table starts with them), or null.
PendingStreamWriter DefaultPendingStreamWriter(std::uint32_t kind);
void SetPendingStreamWriter(std::uint32_t kind, PendingStreamWriter writer);
PendingStreamWriter GetPendingStreamWriter(std::uint32_t kind);

}  // namespace TavPDF
