#pragma once
// Where a JDF export writes: the output that names, opens and reports every
// file (JDFOutput) and its folder implementation (JDFFolderOutput), which
// writes every file into the folder of the export's target.
//
// A folder is changed only as a whole: each file is written beside its final
// name and kept aside until commit(), which moves the files into place in the
// order they were written (the ticket, written last, comes last). A file that
// was not written completely never reaches the folder, and an export that
// ends without commit() leaves the folder as it was. Files of the folder that
// the export does not name are left alone; those it names are replaced whole.
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/files.h"

class genoutfil;
class noroutfil;
class PDFFileNameHandler;

namespace TavSys {
class fil;
}

// The kinds of file of a JDF export.
enum JDFFileKind : int {
  kJDFTicketFile = 0,     // the ticket
  kJDFObjectPDFFile = 1,  // a per-object PDF (reported to the host)
};

class JDFOutput {
 public:
  enum class Opened {
    Stream,          // a new file: write into the stream, then closeFile
    AlreadyWritten,  // the name was written before: its reference is current
    Failed,          // the file could not be made: the current reference is empty
  };

  explicit JDFOutput(std::string baseName) : mBaseName(std::move(baseName)) {}
  virtual ~JDFOutput();
  JDFOutput(const JDFOutput&) = delete;
  JDFOutput& operator=(const JDFOutput&) = delete;

  // The name every file of the export starts with.
  const std::string& baseName() const { return mBaseName; }
  // How the ticket refers to the file opened (or asked for) last.
  const std::string& currentReference() const { return mCurrentReference; }

  // Opens a file by name; `stream` is set only with Opened::Stream and stays
  // the output's.
  Opened openFile(const std::string& name, int kind, genoutfil*& stream);
  // Ends the file opened last. `complete` tells that everything was written
  // into it. Returns 0, or the error that kept the file out of the folder
  // (its name may then be opened again).
  int closeFile(bool complete);

  // The file error of the last file that could not be opened or completed
  // (0 when it failed for another reason, said in a message of its own).
  virtual int lastError() const { return 0; }

 protected:
  virtual genoutfil* open(const std::string& name, int kind) = 0;
  virtual std::string reference() const = 0;
  virtual int close(bool complete) = 0;

 private:
  std::string mBaseName;
  std::string mCurrentReference;
  std::map<std::string, std::string> mReferences;  // file name -> reference
  std::string mOpenName;                           // name of the file open now
};

class JDFFolderOutput final : public JDFOutput {
 public:
  // target: the ticket's file; every file goes into its folder. handler (may
  // be null, not owned) is told of every per-object PDF the folder receives.
  JDFFolderOutput(const TavSys::FileSpec& target, PDFFileNameHandler* handler);
  // Removes every file not committed.
  ~JDFFolderOutput() override;

  // Moves the completed files into the folder, in the order they were
  // written; then tells the handler of the per-object PDFs among them and
  // lists them as produced. 0, or the error of the first file that could not
  // be moved (the files after it are removed).
  int commit();
  // Removes every completed file not yet committed.
  void discard();

  const TavSys::FileSpec& target() const { return mTarget; }
  const std::vector<TavSys::FileSpec>& producedFiles() const { return mProduced; }
  // The file opened last.
  const TavSys::FileSpec& currentFileSpec() const { return mCurrent; }
  int lastError() const override { return mLastError; }

 protected:
  genoutfil* open(const std::string& name, int kind) override;
  std::string reference() const override;
  int close(bool complete) override;

 private:
  struct Completed {
    std::unique_ptr<TavSys::OutputFile> file;
    TavSys::FileSpec spec;
    int kind;
  };
  TavSys::FileSpec mTarget;
  PDFFileNameHandler* mHandler;  // not owned
  TavSys::FileSpec mCurrent;
  int mCurrentKind = kJDFObjectPDFFile;
  std::unique_ptr<TavSys::OutputFile> mAtomic;
  std::unique_ptr<TavSys::fil> mFile;
  std::unique_ptr<noroutfil> mStream;
  std::vector<Completed> mCompleted;
  std::vector<TavSys::FileSpec> mProduced;
  int mLastError = 0;
};

// The base name of a target: its name without the extension when that is
// ".jdf" exactly, else the whole name.
std::string JDFBaseName(const TavSys::FileSpec& target);
// The name a file is written under: outside batch mode a name longer than the
// file system allows (255 bytes) becomes its first and last 127 bytes, cut
// between characters; in batch mode the name is used whole.
std::string JDFFileName(const std::string& name, bool batch);
// The longest start of a UTF-8 text of at most maxBytes bytes that ends
// between characters.
std::string Utf8Prefix(const std::string& text, std::size_t maxBytes);
