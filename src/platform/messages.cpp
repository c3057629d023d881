#include "platform/messages.h"

#include <algorithm>
#include <map>
#include <mutex>

#include "platform/utf.h"

namespace TavCore::detail {
extern const std::string_view kMessageTable;
}

namespace TavCore {
namespace {

const std::map<std::string, std::string, std::less<>>& table() {
  static const auto* parsed = [] {
    auto* m = new std::map<std::string, std::string, std::less<>>();
    std::string_view rest = detail::kMessageTable;
    while (!rest.empty()) {
      const auto nl = rest.find('\n');
      std::string_view line = rest.substr(0, nl);
      rest = nl == std::string_view::npos ? std::string_view{} : rest.substr(nl + 1);
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      if (line.empty() || line.front() == '#') continue;
      const auto tab = line.find('\t');
      if (tab == std::string_view::npos) continue;
      std::string text(line.substr(tab + 1));
      // "\n" in the table stands for a line break in the text.
      for (std::size_t p = 0; (p = text.find("\\n", p)) != std::string::npos;) text.replace(p, 2, "\n");
      (*m)[std::string(line.substr(0, tab))] = std::move(text);
    }
    return m;
  }();
  return *parsed;
}

}  // namespace

std::string LocalizedString::utf8() const { return TavSys::Uni16CharToUTF8(text); }

std::string GetLocalizedUTF8String(std::string_view key) {
  const auto& t = table();
  if (auto it = t.find(key); it != t.end()) return it->second;
  return std::string(key);
}

LocalizedString GetLocalizedUni16String(std::string_view key) {
  return {std::string(key), TavGen::ConvertUTF8ToUTF16String(GetLocalizedUTF8String(key))};
}

bool HasLocalizedString(std::string_view key) { return table().find(key) != table().end(); }

}  // namespace TavCore

namespace TavSys {

template <typename S, typename V>
static S replaceAll(S text, V from, V to) {
  if (from.empty()) return text;
  for (std::size_t p = 0; (p = text.find(from, p)) != S::npos; p += to.size()) {
    text.replace(p, from.size(), to);
  }
  return text;
}

std::string ReplaceAllSubstrings(std::string text, std::string_view from, std::string_view to) {
  return replaceAll(std::move(text), from, to);
}

std::u16string ReplaceAllSubstrings(std::u16string text, std::u16string_view from,
                                    std::u16string_view to) {
  return replaceAll(std::move(text), from, to);
}

TavCore::LocalizedString ReplaceAllSubstrings(TavCore::LocalizedString text, std::string_view from,
                                              std::string_view toUtf8) {
  const auto f = TavGen::ConvertUTF8ToUTF16String(from);
  const auto t = TavGen::ConvertUTF8ToUTF16String(toUtf8);
  text.text = ReplaceAllSubstrings(std::move(text.text), f, t);
  return text;
}

}  // namespace TavSys

namespace TavricCore {
namespace {
int gCurrentReporter = 0;
std::vector<std::string>& reporters() {
  static std::vector<std::string> names;
  return names;
}
}  // namespace

int RegisterReporter(std::string_view name) {
  auto& names = reporters();
  auto it = std::find(names.begin(), names.end(), name);
  if (it != names.end()) return static_cast<int>(it - names.begin()) + 1;
  names.emplace_back(name);
  return static_cast<int>(names.size());
}

int CurrentReporter() { return gCurrentReporter; }

ErrorReporterScopeGuard::ErrorReporterScopeGuard(int reporterId) : previous_(gCurrentReporter) {
  gCurrentReporter = reporterId;
}

ErrorReporterScopeGuard::~ErrorReporterScopeGuard() { gCurrentReporter = previous_; }

}  // namespace TavricCore

namespace TavGen {

MessageService& MessageService::instance() {
  static MessageService service;
  return service;
}

void MessageService::show(Message message) {
  if (disabledDepth_ > 0) return;
  message.reporter = TavricCore::CurrentReporter();
  deliver(message, holds_.size());
}

void MessageService::deliver(const Message& message, std::size_t holdLevels) {
  if (holdLevels > 0 && message.severity <= kWarning) {
    holds_[holdLevels - 1]->push_back(message);
    return;
  }
  messages_.push_back(message);
  // Receivers may remove themselves while being called: walk a copy.
  const auto receivers = receivers_;
  for (const auto& [handle, receiver] : receivers) receiver(message);
}

int MessageService::addReceiver(Receiver receiver) {
  const int handle = nextHandle_++;
  receivers_.emplace_back(handle, std::move(receiver));
  return handle;
}

void MessageService::removeReceiver(int handle) {
  std::erase_if(receivers_, [handle](const auto& r) { return r.first == handle; });
}

void ShowInfoMessage(int severity, int volatility, const TavCore::LocalizedString& text) {
  MessageService::instance().show({severity, volatility, text.key, text.utf8(), 0});
}

void ShowInfoMessage(int severity, int volatility, std::string_view utf8Text) {
  MessageService::instance().show({severity, volatility, {}, std::string(utf8Text), 0});
}

void message(int severity, int volatility, std::string_view key,
             const std::vector<std::pair<std::string, std::string>>& placeholders) {
  std::string text = TavCore::GetLocalizedUTF8String(key);
  for (const auto& [from, to] : placeholders) text = TavSys::ReplaceAllSubstrings(text, from, to);
  MessageService::instance().show({severity, volatility, std::string(key), std::move(text), 0});
}

ScopedMessagesDisabler::ScopedMessagesDisabler() { ++MessageService::instance().disabledDepth_; }
ScopedMessagesDisabler::~ScopedMessagesDisabler() { --MessageService::instance().disabledDepth_; }

HeldMessages::HeldMessages() { MessageService::instance().holds_.push_back(&held_); }

HeldMessages::~HeldMessages() { end(); }

void HeldMessages::end() {
  if (!live_) return;
  live_ = false;
  auto& holds = MessageService::instance().holds_;
  std::erase(holds, &held_);
}

void HeldMessages::release() {
  if (!live_) return;
  MessageService& service = MessageService::instance();
  // The hold's place among the live ones: its messages go to the hold
  // around it, or out.
  const auto at = std::find(service.holds_.begin(), service.holds_.end(), &held_);
  const auto outer = static_cast<std::size_t>(at - service.holds_.begin());
  end();
  std::vector<Message> held = std::move(held_);
  held_.clear();
  for (const Message& m : held) service.deliver(m, outer);
}

MessageCapture::MessageCapture()
    : handle_(MessageService::instance().addReceiver(
          [this](const Message& m) { messages_.push_back(m); })) {}

MessageCapture::~MessageCapture() { MessageService::instance().removeReceiver(handle_); }

bool MessageCapture::has(std::string_view key) const { return count(key) > 0; }

int MessageCapture::count(std::string_view key) const {
  return static_cast<int>(
      std::count_if(messages_.begin(), messages_.end(), [&](const Message& m) { return m.key == key; }));
}

}  // namespace TavGen
