#pragma once
// The one internal error type of the engine. Code deep inside throws it; the
// exported functions catch it and turn it into their integer result and a
// message key for the host's message service.
#include <exception>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace TavSys {

// Result codes shared by the whole engine. File-system errors are
// kFileErrorBase + errno, so that they never collide with the small codes the
// export functions give a meaning to (1, -1, -2, -5).
enum ResultCode : int {
  kResultOk = 0,
  kResultAbandoned = 1,
  kFileErrorBase = 1000,
};

class Error : public std::exception {
 public:
  Error(int code, std::string key, std::string detail = {});

  int code() const noexcept { return code_; }
  // Message key such as "PDF/CANNOT WRITE PDF FILE"; may be empty for
  // internal errors that carry only a detail text.
  const std::string& key() const noexcept { return key_; }
  const std::string& detail() const noexcept { return detail_; }
  const std::vector<std::pair<std::string, std::string>>& placeholders() const noexcept {
    return placeholders_;
  }
  // Adds a placeholder ("__SEPNAME1__") and its value for the message text.
  Error& with(std::string placeholder, std::string value);
  // The value of a placeholder, or null when the error has none.
  const std::string* value(std::string_view placeholder) const noexcept;
  // Gives a placeholder a value, replacing the one it had.
  Error& set(std::string_view placeholder, std::string value);

  // The localized text with the placeholders replaced.
  std::string text() const;
  const char* what() const noexcept override { return what_.c_str(); }

 private:
  int code_;
  std::string key_;
  std::string detail_;
  std::vector<std::pair<std::string, std::string>> placeholders_;
  std::string what_;
};

// A file-system error from an errno value: code kFileErrorBase + err.
Error fileError(int err, const std::string& path, std::string key = "SYS/FILE ERROR");

}  // namespace TavSys
