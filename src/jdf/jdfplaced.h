#pragma once
// The placed objects of a JDF export: every placed artwork (one-up) and
// placed PDF becomes a picture with a "ContentObject" on the sheet's surface;
// everything else is gathered into groups of marks, each with a
// "MarkObject". Each placed object writes one file of the folder and one
// run-list entry of the ticket.
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "jdf/jdfdocument.h"
#include "platform/kernel/geometry.h"

// Four characters taken as a big-endian 32-bit integer.
constexpr std::uint32_t JDFTag(const char (&text)[5]) {
  return (std::uint32_t(std::uint8_t(text[0])) << 24) | (std::uint32_t(std::uint8_t(text[1])) << 16) |
         (std::uint32_t(std::uint8_t(text[2])) << 8) | std::uint32_t(std::uint8_t(text[3]));
}

class JDFPlacedObject {
 public:
  JDFPlacedObject(JDFDocument& document, int sequence) : mDocument(document), mSequence(sequence) {}
  virtual ~JDFPlacedObject() = default;
  JDFPlacedObject(const JDFPlacedObject&) = delete;
  JDFPlacedObject& operator=(const JDFPlacedObject&) = delete;

  virtual bool isSame(const JDFPlacedObject& other) const = 0;
  virtual std::uint32_t typeTag() const { return JDFTag("void"); }
  // Writes the object's file through the output; the run-list entry, or null
  // when no file could be written.
  virtual std::unique_ptr<JDFElement> write(JDFOutput& output) = 0;

  int sequence() const { return mSequence; }
  void setSequence(int sequence) { mSequence = sequence; }

  // The process-wide picture and marks counters: the sequence numbers of
  // new pictures and groups.
  static int pictureCounter;
  static int marksCounter;
  static void ResetCounters() { pictureCounter = marksCounter = 0; }

 protected:
  JDFDocument& mDocument;
  int mSequence;
};

// A placed artwork or placed PDF: one file per picture of the job.
class JDFPicture final : public JDFPlacedObject {
 public:
  // Takes the next picture number of the counter.
  JDFPicture(JDFDocument& document, int picture, int pdfPage);
  bool isSame(const JDFPlacedObject& other) const override;
  std::uint32_t typeTag() const override { return JDFTag("pict"); }
  std::unique_ptr<JDFElement> write(JDFOutput& output) override;
  int picture() const { return mPicture; }

 private:
  int mPicture;
  int mPdfPage;
};

// A group of marks: job objects written together into one PDF file.
class JDFMarks final : public JDFPlacedObject {
 public:
  // A group of one object; takes the next marks number of the counter.
  JDFMarks(JDFDocument& document, jobstr* job, TavDB::Object* object);
  bool isSame(const JDFPlacedObject&) const override { return false; }
  std::uint32_t typeTag() const override { return JDFTag("mark"); }
  std::unique_ptr<JDFElement> write(JDFOutput& output) override;

  jobstr* job() const { return mJob; }
  // The job's objects (not owned), in the order they joined.
  const std::vector<TavDB::Object*>& objects() const { return mObjects; }
  // What the objects cover (strokes included), in job units.
  const TavDB::tv_box& box() const { return mBox; }
  // The part of the box on the sheet: the page of the group's file.
  const TavDB::tv_box& pageBox() const { return mPageBox; }
  void setPageBox(const TavDB::tv_box& box) { mPageBox = box; }
  // Whether every object of the group is a registration mark.
  bool registration() const { return mRegistration; }
  // The paint class of the group: whether its first object's paint overprints.
  bool paintClass() const { return mPaintClass; }

 private:
  friend void addToMarkGroup(JDFMarks& group, jobstr* job, TavDB::Object* object);
  friend bool mergeMarkGroups(JDFMarks& group, JDFMarks& other);
  jobstr* mJob;  // not owned
  std::vector<TavDB::Object*> mObjects;
  TavDB::tv_box mBox;
  TavDB::tv_box mPageBox;
  bool mRegistration;
  bool mPaintClass;
};

// Collects the job's placed objects into the sheet. False (after a message)
// when the job holds something a JDF export cannot write; nothing is written.
bool collectJDFPlacedObjects(JDFSheet& sheet, jobstr* job);
bool classifyPlacedObject(JDFSheet& sheet, jobstr* job, TavDB::Object* object);
void addMarksObject(JDFSheet& sheet, jobstr* job, TavDB::Object* object);
void addToMarkGroup(JDFMarks& group, jobstr* job, TavDB::Object* object);
// Moves the other group's objects into the group when both are of one paint
// class; false (nothing changed) otherwise.
bool mergeMarkGroups(JDFMarks& group, JDFMarks& other);
// Closes the sheet's open groups in order: all of them without an object,
// with one only those that are not registration marks only.
void flushMarkGroups(JDFSheet& sheet, const TavDB::Object* object);
// Numbers the group, writes its "MarkObject" and moves it to the placed
// objects; a group wholly off the sheet is dropped.
void closeMarkGroup(JDFSheet& sheet, std::unique_ptr<JDFMarks> group);
void writeContentObject(JDFSheet& sheet, jobstr* job, TavDB::Object* object);

// What an object covers in job units: its bounds grown by its stroke; for a
// text, what its laid-out characters cover.
TavDB::tv_box JDFObjectBox(jobstr* job, const TavDB::Object* object);

// The transformation of a placed picture, before the sheet's layout: from
// the per-object file's space (points from the lower left corner of its box)
// to the job's page in points. The turn of the picture's own file is
// separate (JDFRotationMatrix); false when the paint places no picture.
bool JDFPictureMatrix(const jobstr* job, int paint, TavDB::tv_matrixtyp<double>& out);
// The resolution of a picture's own units: a one-up's own, else the job's.
int JDFPicturePPI(const jobstr* job, int picture);
// The turn by a rotation type (0..3) of a file whose box is the given one
// (top, bottom, left, right in job units).
TavDB::tv_matrixtyp<double> JDFRotationMatrix(int rotationType, const std::array<std::int32_t, 4>& box, int ppi);
// The clip path of a placed object in the given picture space: the path
// text of the "SourceClipPath"; empty when the object has no outline.
std::string JDFClipPathText(const jobstr* job, const TavDB::Object* object,
                            const TavDB::tv_matrixtyp<double>& toPicture);
