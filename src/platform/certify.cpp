#include "platform/certify.h"

#include <algorithm>

namespace TavSys {

int Broadcaster::AddReceiver(Receiver receiver) {
  const int handle = nextHandle_++;
  receivers_.emplace_back(handle, std::move(receiver));
  return handle;
}

void Broadcaster::RemoveReceiver(int handle) {
  std::erase_if(receivers_, [handle](const auto& r) { return r.first == handle; });
}

void Broadcaster::DoSendMessage(std::uint32_t messageId, BroadcastParameter& parameter) {
  const auto receivers = receivers_;
  for (const auto& [handle, receiver] : receivers) {
    if (receiver) receiver(messageId, parameter);
  }
}

}  // namespace TavSys

namespace TavCertify {

TavSys::Broadcaster& PDFCertify::broadcaster() {
  static TavSys::Broadcaster instance;
  return instance;
}

TavSys::Broadcaster* PDFCertify::getCertifyBroadcaster() {
  TavSys::Broadcaster& b = broadcaster();
  return b.ReceiverCount() > 0 ? &b : nullptr;
}

CertifiedPrefs& CertifiedPrefs::Instance() {
  static CertifiedPrefs prefs;
  return prefs;
}

}  // namespace TavCertify
