#include "pdfwriter/pdfobjects.h"

#include <cstring>
#include <new>

#include "pdfwriter/pdfoutfil.h"
#include "pdfwriter/pdfregistry.h"
#include "platform/messages.h"
#include "platform/system.h"
#include "platform/utf.h"

namespace TavPDF {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

// Bytes of a name written with a # escape.
bool nameNeedsEscape(std::uint8_t b) {
  if (b < '!' || b > '~') return true;
  switch (b) {
    case '#': case '%': case '(': case ')': case '/': case '<': case '>':
    case '[': case ']': case '{': case '}':
      return true;
    default:
      return false;
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// Allocation through the registry

PDFBaseClass::~PDFBaseClass() = default;

void* PDFBaseClass::operator new(std::size_t size) {
  return PdfObjectRegistry::instance().allocateObject(size);
}

void PDFBaseClass::operator delete(void* block) {
  if (!PdfObjectRegistry::instance().releaseObject(block)) {
    TavGen::message(TavGen::kError, 1, "Pointer not allocated in this module");
    ::operator delete(block);
  }
}

// ---------------------------------------------------------------------------

void PDFDictionaryValue::Output(genoutfil& out) { out << "\nUnimplemented Output"; }

void PDFDictionaryValue::SetValue(std::int64_t) {}

void PDFIndirectReference::Output(genoutfil& out) {
  out << mNumber << 0 << "R";
}

void PDFIndirectReference::SetValue(std::int64_t value) {
  if (mObject != nullptr) mObject->SetValue(value);
}

void PDFInteger::Output(genoutfil& out) { out << mValue; }

void PDFReal::Output(genoutfil& out) { out << mValue; }

void PDFBool::Output(genoutfil& out) { out << (mValue ? "true" : "false"); }

// ---------------------------------------------------------------------------
// Names

void PDFName::SetName(const char* name) { mName.assign(name != nullptr ? name : ""); }

void PDFName::SetName(const std::string& name) { SetName(name.c_str()); }

void PDFName::OutputName(genoutfil& out, const char* text) {
  char buffer[256];
  std::size_t used = 0;
  buffer[used++] = '/';
  for (const char* p = text; *p != '\0'; ++p) {
    if (used > sizeof buffer - 3) {
      out.PutBytes(buffer, used);
      used = 0;
    }
    const auto b = static_cast<std::uint8_t>(*p);
    if (nameNeedsEscape(b)) {
      buffer[used++] = '#';
      buffer[used++] = kHexDigits[b >> 4];
      buffer[used++] = kHexDigits[b & 15];
    } else {
      buffer[used++] = static_cast<char>(b);
    }
  }
  out.PutBytes(buffer, used);
}

void PDFName::Output(genoutfil& out) { OutputName(out, mName.c_str()); }

// ---------------------------------------------------------------------------
// Strings

PDFString::PDFString(const char* text) {
  const std::size_t n = text != nullptr ? std::strlen(text) : 0;
  mBytes.resize(n + 1);
  if (n > 0) std::memcpy(mBytes.data(), text, n);
  mBytes[n] = 0;
}

PDFString::PDFString(const std::string& text) {
  bool plain = true;
  for (const char c : text) {
    if (static_cast<std::uint8_t>(c) >= 0x80) {
      plain = false;
      break;
    }
  }
  if (plain) {
    mBytes.assign(text.begin(), text.end());
    mBytes.push_back(0);
  } else {
    SetUtf16(text);
  }
}

PDFString::PDFString(const std::string& text, bool) { SetUtf16(text); }

void PDFString::SetUtf16(const std::string& utf8) {
  // A PDF text string in UTF-16 is big-endian behind the byte-order mark.
  const std::u16string units = TavGen::ConvertUTF8ToUTF16String(utf8);
  mBytes.clear();
  mBytes.reserve(2 * units.size() + 3);
  mBytes.push_back(0xFE);
  mBytes.push_back(0xFF);
  for (const char16_t u : units) {
    mBytes.push_back(static_cast<std::uint8_t>(u >> 8));
    mBytes.push_back(static_cast<std::uint8_t>(u & 0xFF));
  }
  // Nothing but the mark: an empty string.
  if (mBytes.size() < 3) mBytes.clear();
  mBytes.push_back(0);
  mHex = true;
}

void PDFString::Output(genoutfil& out) {
  const bool hexOutput = mHex || mAlreadyHex;
  out << (hexOutput ? "<" : "(");
  const std::size_t length = mBytes.size() - 1;
  if (length > 0 && mBytes[0] != 0) {
    const bool writeDigits = mHex && !mAlreadyHex;
    const char* lineBreak = hexOutput ? "\n" : "\\\n";
    char chunk[64];
    std::size_t used = 0;
    for (std::size_t i = 0; i < length; ++i) {
      const std::uint8_t b = mBytes[i];
      if (writeDigits) {
        chunk[used++] = kHexDigits[b >> 4];
        chunk[used++] = kHexDigits[b & 15];
      } else {
        used += static_cast<std::size_t>(TavSys::stroutcha(static_cast<char>(b), chunk + used));
      }
      if (used >= 50) {
        out.PutBytes(chunk, used);
        out << lineBreak;
        used = 0;
      }
    }
    if (used > 0) out.PutBytes(chunk, used);
  }
  out << (hexOutput ? ">" : ")");
}

// ---------------------------------------------------------------------------
// Dictionaries and arrays

void PDFDictionary::Set(const char* key, PDFDictionaryValue* value) {
  if (key == nullptr) {
    TavSys::debugstring("<PDFDictionary::Set> null key refused");
    return;
  }
  if (value == nullptr) {
    // A null value would be dereferenced when the dictionary is written.
    TavSys::debugstring(std::string("<PDFDictionary::Set> null value refused for key ") + key);
    return;
  }
  mEntries.insert_or_assign(std::string(key), value);
}

PDFDictionaryValue* PDFDictionary::Get(const char* key) const {
  if (key == nullptr) return nullptr;
  const auto it = mEntries.find(std::string(key));
  return it == mEntries.end() ? nullptr : it->second;
}

void PDFDictionary::Output(genoutfil& out) {
  out << "<<";
  for (const auto& [key, value] : mEntries) {
    if (value == nullptr) continue;
    out << "\n";
    PDFName::OutputName(out, key.c_str());
    out << " ";
    value->Output(out);
  }
  out << "\n>>";
}

void PDFDictionary::PrepareOutput(pdfouthan*) {}

PDFArray::PDFArray(const TavSys::tv_rectangle& rect) {
  mValues.reserve(4);
  mValues.push_back(new PDFReal(rect.left));
  mValues.push_back(new PDFReal(rect.bottom));
  mValues.push_back(new PDFReal(rect.right));
  mValues.push_back(new PDFReal(rect.top));
}

void PDFArray::Set(std::size_t index, PDFDictionaryValue* value) {
  if (index >= mValues.size()) {
    TavSys::debugstring("<PDFArray::Set> index beyond the array refused");
    return;
  }
  mValues[index] = value;
}

void PDFArray::Output(genoutfil& out) {
  out << "[ ";
  for (PDFDictionaryValue* value : mValues) {
    if (value == nullptr) continue;
    value->Output(out);
    out << " ";
  }
  out << "]";
}

// ---------------------------------------------------------------------------
// Streams and the trailer

PDFStream::PDFStream(pdfoutfil* file, PDFDictionary* dictionary)
    : mFile(file),
      mDictionary(dictionary != nullptr ? dictionary : new PDFDictionary),
      mStart(file->Tell()),
      mEnd(mStart) {
  PdfObjectRegistry::instance().noteStream(this);
}

void PDFStream::SetStart() { mStart = mFile->Tell(); }

std::uint64_t PDFStream::SetEnd() {
  mEnd = mFile->Tell();
  return mEnd - mStart;
}

PDFTrailer::PDFTrailer() : mDictionary(new PDFDictionary) {}

PDFTrailer::~PDFTrailer() = default;

void PDFTrailer::SetInfo(PDFIndirectReference* info) { mDictionary->Set("Info", info); }

void PDFTrailer::SetRoot(PDFIndirectReference* root) { mDictionary->Set("Root", root); }

void PDFTrailer::SetSize(std::int64_t size) { mDictionary->Set("Size", new PDFInteger(size)); }

void PDFTrailer::SetID(PDFDictionaryValue* first, PDFDictionaryValue* second) {
  auto* ids = new PDFArray;
  ids->Add(first);
  ids->Add(second);
  mDictionary->Set("ID", ids);
}

void PDFTrailer::WriteTrailer(pdfoutfil* file, std::uint64_t xrefOffset) {
  noroutfil& out = file->text();
  out << "\ntrailer\n";
  mDictionary->Output(out);
  out << "\nstartxref" << "\n" << xrefOffset;
}

}  // namespace TavPDF
