#include "jdf/jdfoutput.h"

#include <sys/resource.h>

#include <algorithm>

#include "platform/genoutfil.h"
#include "platform/kernel/exportkernel.h"
#include "platform/kernelfile.h"
#include "platform/tav_error.h"
#include "tavpdf/OutputPDF.h"

namespace {

bool continuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// The longest end of a UTF-8 text of at most maxBytes bytes that starts
// with a whole character.
std::string utf8Suffix(const std::string& text, std::size_t maxBytes) {
  if (text.size() <= maxBytes) return text;
  std::size_t start = text.size() - maxBytes;
  while (start < text.size() && continuationByte(text[start])) ++start;
  return text.substr(start);
}

constexpr std::size_t kNameMax = 255;  // bytes in one file name

// How many complete files are kept open, without a name, until the folder
// is committed: as many as the process may open (its limit raised to the
// system's once), less a reserve for the files the export reads and writes
// meanwhile. Past that a complete file waits under a temporary name.
std::size_t filesKeptOpen() {
  static const std::size_t kept = [] {
    constexpr rlim_t kReserve = 256;
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return std::size_t(64);
    if (limit.rlim_cur < limit.rlim_max) {
      rlimit raised = limit;
      raised.rlim_cur = limit.rlim_max == RLIM_INFINITY ? std::max<rlim_t>(limit.rlim_cur, 1 << 20) : limit.rlim_max;
      if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
    }
    if (limit.rlim_cur == RLIM_INFINITY) return std::size_t(1) << 20;
    return limit.rlim_cur > kReserve + 64 ? std::size_t(limit.rlim_cur - kReserve) : std::size_t(64);
  }();
  return kept;
}
constexpr std::size_t kNameHalf = 127;

}  // namespace

std::string Utf8Prefix(const std::string& text, std::size_t maxBytes) {
  if (text.size() <= maxBytes) return text;
  std::size_t end = maxBytes;
  while (end > 0 && continuationByte(text[end])) --end;
  return text.substr(0, end);
}

std::string JDFBaseName(const TavSys::FileSpec& target) {
  const std::string name = target.GetFileNameUTF8();
  constexpr std::string_view kExtension = ".jdf";
  if (name.size() > kExtension.size() && name.ends_with(kExtension))
    return name.substr(0, name.size() - kExtension.size());
  return name;
}

std::string JDFFileName(const std::string& name, bool batch) {
  if (batch || name.size() <= kNameMax) return name;
  return Utf8Prefix(name, kNameHalf) + utf8Suffix(name, kNameHalf);
}

// ---- JDFOutput -----------------------------------------------------------------

JDFOutput::~JDFOutput() = default;

JDFOutput::Opened JDFOutput::openFile(const std::string& name, int kind, genoutfil*& stream) {
  stream = nullptr;
  if (auto found = mReferences.find(name); found != mReferences.end()) {
    mCurrentReference = found->second;
    return Opened::AlreadyWritten;
  }
  stream = open(name, kind);
  if (stream == nullptr) {
    // Not remembered: a later request tries again rather than referring to
    // a file that does not exist.
    mCurrentReference.clear();
    return Opened::Failed;
  }
  mCurrentReference = reference();
  mReferences.emplace(name, mCurrentReference);
  mOpenName = name;
  return Opened::Stream;
}

int JDFOutput::closeFile(bool complete) {
  const int result = close(complete);
  if (result != 0) {
    mReferences.erase(mOpenName);
    mCurrentReference.clear();
  }
  mOpenName.clear();
  return result;
}

// ---- JDFFolderOutput --------------------------------------------------------

JDFFolderOutput::JDFFolderOutput(const TavSys::FileSpec& target, PDFFileNameHandler* handler)
    : JDFOutput(JDFBaseName(target)), mTarget(target), mHandler(handler) {}

JDFFolderOutput::~JDFFolderOutput() {
  if (mFile) close(false);
  discard();
}

genoutfil* JDFFolderOutput::open(const std::string& name, int kind) {
  if (mFile) close(false);  // a file left open was not finished
  mLastError = 0;
  mCurrent = TavSys::FileSpec(mTarget.path().parent_path() / JDFFileName(name, artque() != 0));
  mCurrentKind = kind;
  try {
    mAtomic = std::make_unique<TavSys::OutputFile>(mCurrent.path());
    mFile = std::make_unique<TavSys::fil>(mAtomic->descriptor(), false, mCurrent.path());
  } catch (const TavSys::Error& e) {
    mAtomic.reset();
    mLastError = e.code() != 0 ? e.code() : TavSys::kResultAbandoned;
    return nullptr;
  }
  mStream = std::make_unique<noroutfil>(mFile.get());
  return mStream.get();
}

std::string JDFFolderOutput::reference() const {
  // The ticket lies in the same folder: the file's name is its reference.
  return mFile ? TavSys::PercentEncode(mCurrent.GetFileNameUTF8()) : std::string();
}

int JDFFolderOutput::close(bool complete) {
  if (!mFile) return TavSys::kResultAbandoned;
  mStream.reset();
  int result = mFile->close();
  mFile.reset();
  if (result == 0 && !complete) result = TavSys::kResultAbandoned;
  if (result != 0) {
    mAtomic.reset();  // removes the partial file
    mLastError = result;
    return result;
  }
  // A folder may hold more files than a process may keep open: past the
  // first ones, a complete file waits for the commit under its temporary name.
  if (mCompleted.size() >= filesKeptOpen()) {
    try {
      mAtomic->closeKeepingName();
    } catch (const TavSys::Error& e) {
      mAtomic.reset();
      mLastError = e.code() != 0 ? e.code() : TavSys::kResultAbandoned;
      return mLastError;
    }
  }
  mCompleted.push_back({std::move(mAtomic), mCurrent, mCurrentKind});
  return 0;
}

int JDFFolderOutput::commit() {
  int result = 0;
  for (Completed& c : mCompleted) {
    if (result != 0) {
      c.file.reset();
      continue;
    }
    try {
      c.file->commit();
    } catch (const TavSys::Error& e) {
      result = e.code() != 0 ? e.code() : TavSys::kResultAbandoned;
      mLastError = result;
      continue;
    }
    if (c.kind != kJDFObjectPDFFile) continue;
    mProduced.push_back(c.spec);
    if (mHandler) mHandler->FileProduced(c.spec);
  }
  mCompleted.clear();
  return result;
}

void JDFFolderOutput::discard() { mCompleted.clear(); }
