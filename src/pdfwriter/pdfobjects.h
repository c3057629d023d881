#pragma once
// The in-memory PDF object model. Every PDF value the engine writes is first
// built as a small tree of these objects and then serialised into a sink.
//
// Ownership: every object allocated with `new` belongs to the module-wide
// registry (pdfregistry.h) from its creation until PdfObjectRegistry::deleteAll.
// Containers (arrays, dictionaries, the trailer) and streams own nothing: one
// object may stand in several containers, a dictionary may serve several
// streams, and replacing a value leaves the old one alive until the sweep.
// Deleting an object earlier is allowed; the registry then forgets it.
//
// Classes of the family must derive from PDFBaseClass through single
// inheritance (PDFBaseClass at the start of the object), so that the registry
// can destroy the object it recorded.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/genoutfil.h"
#include "platform/kernel/geometry.h"

namespace TavPDF {

class pdfouthan;
class pdfoutfil;
class PdfXrefTable;
struct PdfXrefEntry;
class PDFName;

class PDFBaseClass {
 public:
  PDFBaseClass() = default;
  PDFBaseClass(const PDFBaseClass&) = default;
  PDFBaseClass& operator=(const PDFBaseClass&) = default;
  virtual ~PDFBaseClass();

  // Allocates from the ordinary heap and records the block in the registry.
  static void* operator new(std::size_t size);
  // Forgets the block in the registry (a block it never recorded gives the
  // message "Pointer not allocated in this module") and frees it.
  static void operator delete(void* block);
};

// Anything that can be a dictionary value or an array element.
class PDFDictionaryValue : public PDFBaseClass {
 public:
  // Writes the value's PDF syntax; the default writes "\nUnimplemented Output".
  virtual void Output(genoutfil& out);
  // Stores a number in the value where that makes sense (an integer, or the
  // object a reference stands for); does nothing by default.
  virtual void SetValue(std::int64_t value);
};

// "n 0 R". Made only by pdfouthan::makeIndirect (NewIndirectReference).
class PDFIndirectReference : public PDFDictionaryValue {
 public:
  void Output(genoutfil& out) override;
  // Forwards to the referenced object.
  void SetValue(std::int64_t value) override;

  std::uint32_t GetObjectNumber() const { return mNumber; }
  // The object written under this number (registry-owned; may be null).
  PDFDictionaryValue* GetObject() const { return mObject; }
  PdfXrefTable* GetTable() const { return mTable; }
  PdfXrefEntry* GetEntry() const { return mEntry; }

 private:
  friend PDFIndirectReference* NewIndirectReference(PdfXrefTable* table,
                                                    PDFDictionaryValue* object);
  PDFIndirectReference() = default;
  std::uint32_t mNumber = 0;
  PdfXrefTable* mTable = nullptr;  // not owned; lives as long as the handler
  PdfXrefEntry* mEntry = nullptr;  // owned by mTable
  PDFDictionaryValue* mObject = nullptr;
};

class PDFDirectObject : public PDFDictionaryValue {};

class PDFNumber : public PDFDirectObject {};

// An integer, written as its decimal form and a blank. 64-bit so that stream
// lengths of large files are right.
class PDFInteger : public PDFNumber {
 public:
  explicit PDFInteger(std::int64_t value) : mValue(value) {}
  void Output(genoutfil& out) override;
  void SetValue(std::int64_t value) override { mValue = value; }
  std::int64_t GetValue() const { return mValue; }

 private:
  std::int64_t mValue;
};

// A real, written in plain decimal and a blank (an integral value without a
// point). Writing a value that is not finite throws TavSys::Error.
class PDFReal : public PDFNumber {
 public:
  explicit PDFReal(double value) : mValue(value) {}
  void Output(genoutfil& out) override;
  double GetValue() const { return mValue; }

 private:
  double mValue;
};

class PDFName : public PDFDirectObject {
 public:
  explicit PDFName(const char* name) { SetName(name); }
  explicit PDFName(const std::string& name) { SetName(name); }
  PDFName(const PDFName& other) = default;
  PDFName& operator=(const PDFName& other) = default;

  // The name ends at its first zero byte.
  void SetName(const char* name);
  void SetName(const std::string& name);
  const char* GetName() const { return mName.c_str(); }

  // "/" and the bytes, with # escapes for delimiters and bytes outside '!'..'~'.
  void Output(genoutfil& out) override;
  // Writes text in name syntax (also used for dictionary keys).
  static void OutputName(genoutfil& out, const char* text);

 private:
  std::string mName;
};

class PDFBool : public PDFDirectObject {
 public:
  explicit PDFBool(bool value) : mValue(value) {}
  void Output(genoutfil& out) override;
  bool GetValue() const { return mValue; }

 private:
  bool mValue;
};

// A string, written as a literal "(...)" or hex "<...>" string, in chunks of
// 50 characters or more, each followed by a line break.
class PDFString : public PDFDirectObject {
 public:
  // A literal string holding a copy of the text.
  explicit PDFString(const char* text);
  // ASCII text as a literal string; text with any byte from 0x80 as its UTF-16
  // form (big-endian with the byte-order mark FE FF) written as hex.
  explicit PDFString(const std::string& text);
  // Always the UTF-16 form, written as hex (the flag is not looked at).
  PDFString(const std::string& text, bool asUtf16);
  PDFString(const PDFString& other) = default;
  PDFString& operator=(const PDFString& other) = default;

  void Output(genoutfil& out) override;

  // Bytes are written as two hex digits each.
  void SetHex(bool hex) { mHex = hex; }
  // The bytes are hex digits already and are written between angle brackets.
  void SetAlreadyHex(bool alreadyHex) { mAlreadyHex = alreadyHex; }
  bool IsHex() const { return mHex; }
  bool IsAlreadyHex() const { return mAlreadyHex; }
  std::uint64_t GetLength() const { return mBytes.size() - 1; }
  // The bytes, followed by a zero byte.
  const std::uint8_t* GetBytes() const { return mBytes.data(); }

 private:
  void SetUtf16(const std::string& utf8);
  std::vector<std::uint8_t> mBytes{0};  // length + 1 bytes, the last one zero
  bool mHex = false;
  bool mAlreadyHex = false;
};

class PDFDictionary : public PDFDirectObject {
 public:
  using Entries = std::map<std::string, PDFDictionaryValue*>;

  PDFDictionary() = default;

  // A new key is inserted; an existing key keeps its entry and gets the new
  // value (the old value stays alive, owned by the registry). A null value is
  // refused (developer diagnostic) and leaves the dictionary as it was.
  void Set(const char* key, PDFDictionaryValue* value);
  void Set(const std::string& key, PDFDictionaryValue* value) { Set(key.c_str(), value); }
  // The value under the key, or null.
  PDFDictionaryValue* Get(const char* key) const;
  PDFDictionaryValue* Get(const std::string& key) const { return Get(key.c_str()); }
  PDFDictionaryValue* Get(const PDFName& key) const { return Get(key.GetName()); }
  std::size_t Size() const { return mEntries.size(); }
  // Entries in key order (bytes compared unsigned, a shorter key first).
  const Entries& GetEntries() const { return mEntries; }

  // "<<", then per entry "\n/Key " and the value, then "\n>>".
  void Output(genoutfil& out) override;
  // Called by the handler just before it writes the dictionary of a stream.
  virtual void PrepareOutput(pdfouthan* handler);

 private:
  Entries mEntries;
};

// Null slots are allowed (filled later by index) and leave no trace in the output.
class PDFArray : public PDFDirectObject {
 public:
  PDFArray() = default;
  // count null slots.
  explicit PDFArray(std::size_t count) : mValues(count, nullptr) {}
  // Four new reals: left, bottom, right, top (the kernel's second, third, fourth
  // and first value).
  explicit PDFArray(const TavSys::tv_rectangle& rect);

  // Appends a slot behind the existing ones.
  void Add(PDFDictionaryValue* value) { mValues.push_back(value); }
  // Fills slot index; an index beyond the slots is refused (developer diagnostic).
  void Set(std::size_t index, PDFDictionaryValue* value);
  PDFDictionaryValue* Get(std::size_t index) const {
    return index < mValues.size() ? mValues[index] : nullptr;
  }
  std::size_t Size() const { return mValues.size(); }

  // "[ ", each non-null slot followed by " ", "]".
  void Output(genoutfil& out) override;

 private:
  std::vector<PDFDictionaryValue*> mValues;
};

// A stream: its dictionary and where its data start and end in the file. A
// stream is written only through pdfouthan::beginStream / endStream, so its own
// Output is the default one. The dictionary is not owned (the registry frees
// it; one dictionary may serve several streams).
class PDFStream : public PDFDirectObject {
 public:
  // Both offsets start at the file's current position. A null dictionary
  // makes a new empty one. The file is not owned.
  PDFStream(pdfoutfil* file, PDFDictionary* dictionary);

  PDFDictionary* GetDictionary() const { return mDictionary; }
  // Start offset = the file's current position.
  void SetStart();
  // End offset = the file's current position; returns end - start.
  std::uint64_t SetEnd();
  std::uint64_t GetStart() const { return mStart; }
  std::uint64_t GetEnd() const { return mEnd; }

 private:
  pdfoutfil* mFile;
  PDFDictionary* mDictionary;
  std::uint64_t mStart;
  std::uint64_t mEnd;
};

// The trailer: not a PDF object (ordinary heap), holding the trailer dictionary
// (registry-owned).
class PDFTrailer {
 public:
  PDFTrailer();
  virtual ~PDFTrailer();
  PDFTrailer(const PDFTrailer&) = delete;
  PDFTrailer& operator=(const PDFTrailer&) = delete;

  void SetInfo(PDFIndirectReference* info);
  void SetRoot(PDFIndirectReference* root);
  // A new integer under "Size".
  void SetSize(std::int64_t size);
  // An array of the two values under "ID".
  void SetID(PDFDictionaryValue* first, PDFDictionaryValue* second);
  // "\ntrailer\n", the dictionary, "\nstartxref", "\n", the section offset and a blank.
  void WriteTrailer(pdfoutfil* file, std::uint64_t xrefOffset);
  PDFDictionary* GetDictionary() const { return mDictionary; }

 private:
  PDFDictionary* mDictionary;
};

}  // namespace TavPDF
