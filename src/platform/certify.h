#pragma once
// The certification library's side of an export: a broadcaster that tells
// registered receivers about a PDF being written (they may cancel it), and the
// certified-PDF preferences.
//
// Receivers run synchronously inside DoSendMessage, in registration order.
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "platform/files.h"

struct jobstr;
struct CertifiedPDFInfo;

namespace TavSys {

// Base of every broadcast parameter; receivers downcast by message id.
class BroadcastParameter {
 public:
  virtual ~BroadcastParameter() = default;
};

// A list of receivers. A receiver gets the message id and the parameter.
class Broadcaster {
 public:
  using Receiver = std::function<void(std::uint32_t messageId, BroadcastParameter& parameter)>;

  // Adds a receiver; the handle removes it again.
  int AddReceiver(Receiver receiver);
  void RemoveReceiver(int handle);
  std::size_t ReceiverCount() const { return receivers_.size(); }
  // Calls every receiver in order (a copy of the list, so a receiver may
  // remove itself).
  void DoSendMessage(std::uint32_t messageId, BroadcastParameter& parameter);

 private:
  std::vector<std::pair<int, Receiver>> receivers_;
  int nextHandle_ = 1;
};

}  // namespace TavSys

namespace TavCertify {

// Message ids of the PDF exporter's broadcasts.
inline constexpr std::uint32_t kBroadcastBeforePDFExport = 0x63457869;
inline constexpr std::uint32_t kBroadcastAfterPDFExport = 0x63457870;

// What the PDF exporter tells the receivers. The job and the info are the
// caller's; the parameter only points at them.
class BroadcastParameterPDFExporter : public TavSys::BroadcastParameter {
 public:
  BroadcastParameterPDFExporter(jobstr* job, CertifiedPDFInfo* info,
                                const TavSys::FileSpec& exportedFile,
                                const TavSys::FileSpec& originalFile)
      : mJob(job), mInfo(info), mExportedFile(exportedFile), mOriginalFile(originalFile) {}

  jobstr* job() const { return mJob; }
  CertifiedPDFInfo* info() const { return mInfo; }
  const TavSys::FileSpec& exportedFile() const { return mExportedFile; }
  const TavSys::FileSpec& originalFile() const { return mOriginalFile; }
  // Set by a receiver of the "before" message to stop the export.
  void SetCancel(bool cancel) { mCancel = cancel; }
  bool GetCancel() const { return mCancel; }

 private:
  jobstr* mJob;               // not owned
  CertifiedPDFInfo* mInfo;    // not owned, may be null
  TavSys::FileSpec mExportedFile;
  TavSys::FileSpec mOriginalFile;
  bool mCancel = false;
};

class PDFCertify {
 public:
  // The process-wide broadcaster; null while no receiver is registered (the
  // exporter then sends nothing).
  static TavSys::Broadcaster* getCertifyBroadcaster();
  // The broadcaster itself, for registering receivers.
  static TavSys::Broadcaster& broadcaster();
};

class CertifiedPrefs {
 public:
  static CertifiedPrefs& Instance();
  bool IsCertifiedPDFEnabled() const { return mEnabled; }
  void SetCertifiedPDFEnabled(bool enabled) { mEnabled = enabled; }

 private:
  bool mEnabled = false;
};

}  // namespace TavCertify
