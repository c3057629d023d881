#include "platform/tav_error.h"

#include <cstring>

#include "platform/messages.h"

namespace TavSys {

Error::Error(int code, std::string key, std::string detail)
    : code_(code), key_(std::move(key)), detail_(std::move(detail)) {
  what_ = key_.empty() ? detail_ : (detail_.empty() ? key_ : key_ + ": " + detail_);
}

Error& Error::with(std::string placeholder, std::string value) {
  placeholders_.emplace_back(std::move(placeholder), std::move(value));
  return *this;
}

const std::string* Error::value(std::string_view placeholder) const noexcept {
  for (const auto& [name, v] : placeholders_)
    if (name == placeholder) return &v;
  return nullptr;
}

Error& Error::set(std::string_view placeholder, std::string value) {
  for (auto& [name, v] : placeholders_)
    if (name == placeholder) {
      v = std::move(value);
      return *this;
    }
  return with(std::string(placeholder), std::move(value));
}

std::string Error::text() const {
  if (key_.empty()) return detail_;
  std::string t = TavCore::GetLocalizedUTF8String(key_);
  for (const auto& [from, to] : placeholders_) t = ReplaceAllSubstrings(t, from, to);
  return t;
}

Error fileError(int err, const std::string& path, std::string key) {
  Error e(kFileErrorBase + err, std::move(key), path + ": " + std::strerror(err));
  e.with("__FILE__", path).with("__REASON__", std::strerror(err));
  return e;
}

}  // namespace TavSys
