#pragma once
// The host's message service and localization, as the engine sees them.
//
// Message keys ("PDF/CANNOT WRITE PDF FILE") are looked up in the English
// table built from data/messages.tsv; an unknown key localizes to itself.
// A localized string keeps its key, so that whoever receives the message
// (the command line, a test) knows which message it is.
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace TavCore {

// A localized text together with the key it came from.
struct LocalizedString {
  std::string key;
  std::u16string text;

  std::string utf8() const;
};

LocalizedString GetLocalizedUni16String(std::string_view key);
std::string GetLocalizedUTF8String(std::string_view key);
bool HasLocalizedString(std::string_view key);

}  // namespace TavCore

namespace TavSys {

std::string ReplaceAllSubstrings(std::string text, std::string_view from, std::string_view to);
std::u16string ReplaceAllSubstrings(std::u16string text, std::u16string_view from,
                                    std::u16string_view to);
// Replaces a placeholder in a localized string; the key is kept.
TavCore::LocalizedString ReplaceAllSubstrings(TavCore::LocalizedString text, std::string_view from,
                                              std::string_view toUtf8);

}  // namespace TavSys

namespace TavGen {

// Severities: 1 information, 2 warning (the work goes on), 3 error (the work
// is abandoned), 4 error in batch mode or a failure of a written file.
enum Severity : int { kInfo = 1, kWarning = 2, kError = 3, kBatchError = 4 };

struct Message {
  int severity = kInfo;
  int volatility = 1;
  std::string key;   // empty when the text came without a key
  std::string text;  // UTF-8, placeholders replaced
  int reporter = 0;  // id of the reporter active when the message was shown
};

// Receives every message shown while no ScopedMessagesDisabler lives.
class MessageService {
 public:
  using Receiver = std::function<void(const Message&)>;

  static MessageService& instance();

  void show(Message message);
  // Messages recorded since the last clear().
  const std::vector<Message>& messages() const { return messages_; }
  void clear() { messages_.clear(); }
  // Adds a receiver; returns a handle for removeReceiver.
  int addReceiver(Receiver receiver);
  void removeReceiver(int handle);
  bool enabled() const { return disabledDepth_ == 0; }

 private:
  friend class ScopedMessagesDisabler;
  friend class HeldMessages;
  // Gives a message to the receivers (or to the innermost hold), its
  // reporter stamped already.
  void deliver(const Message& message, std::size_t holdLevels);
  std::vector<Message> messages_;
  std::vector<std::vector<Message>*> holds_;  // not owned: the live HeldMessages, outermost first
  std::vector<std::pair<int, Receiver>> receivers_;
  int nextHandle_ = 1;
  int disabledDepth_ = 0;
};

void ShowInfoMessage(int severity, int volatility, const TavCore::LocalizedString& text);
void ShowInfoMessage(int severity, int volatility, std::string_view utf8Text);
// Shows the message of a key with its placeholders replaced. The text is never
// used as a format: values are substituted explicitly.
void message(int severity, int volatility, std::string_view key,
             const std::vector<std::pair<std::string, std::string>>& placeholders = {});

// While one lives, messages are dropped (used while rendering previews).
class ScopedMessagesDisabler {
 public:
  ScopedMessagesDisabler();
  ~ScopedMessagesDisabler();
  ScopedMessagesDisabler(const ScopedMessagesDisabler&) = delete;
  ScopedMessagesDisabler& operator=(const ScopedMessagesDisabler&) = delete;
};

// Holds back the warnings and information messages shown while it lives:
// they tell about a file being written, and are worth showing only when the
// file is. release() shows them, in their order; without it they are dropped
// when the hold ends. Errors pass at once. Holds nest: a released hold hands
// its messages to the hold around it.
class HeldMessages {
 public:
  HeldMessages();
  ~HeldMessages();
  HeldMessages(const HeldMessages&) = delete;
  HeldMessages& operator=(const HeldMessages&) = delete;

  void release();

 private:
  void end();
  std::vector<Message> held_;
  bool live_ = true;
};

// Records messages for the time of a scope; tests use it to look at what an
// operation said.
class MessageCapture {
 public:
  MessageCapture();
  ~MessageCapture();
  MessageCapture(const MessageCapture&) = delete;
  MessageCapture& operator=(const MessageCapture&) = delete;

  const std::vector<Message>& messages() const { return messages_; }
  bool has(std::string_view key) const;
  int count(std::string_view key) const;

 private:
  int handle_;
  std::vector<Message> messages_;
};

}  // namespace TavGen

namespace TavricCore {

// Registers a named reporter (such as "EXPORT PDF/REPORTER") and returns its id.
int RegisterReporter(std::string_view name);
int CurrentReporter();

// Makes a reporter the current one for its lifetime; its id is stamped on every
// message shown meanwhile.
class ErrorReporterScopeGuard {
 public:
  explicit ErrorReporterScopeGuard(int reporterId);
  ~ErrorReporterScopeGuard();
  ErrorReporterScopeGuard(const ErrorReporterScopeGuard&) = delete;
  ErrorReporterScopeGuard& operator=(const ErrorReporterScopeGuard&) = delete;

 private:
  int previous_;
};

}  // namespace TavricCore
