// tavpdf: runs the engine the way the host editor would.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstring>
#include <iostream>

#include "cli/command.h"
#include "platform/kernel/jobfile.h"
#include "platform/messages.h"
#include "platform/tav_error.h"
#include "platform/system.h"
#include "platform/utf.h"

namespace tavcli {

std::vector<Command>& commands() {
  static std::vector<Command> list;
  return list;
}

namespace {

const char* severityWord(int severity) {
  switch (severity) {
    case TavGen::kInfo: return "info";
    case TavGen::kWarning: return "warning";
    case TavGen::kError: return "error";
    default: return "failure";
  }
}

volatile std::sig_atomic_t gInterrupted = 0;

void onInterrupt(int signal) { gInterrupted = signal; }

// Whether the progress bar is on the last line of stderr: a message clears it
// first, so that the message gets a line of its own, and the bar is drawn
// again below it at the next step.
bool gBarOnScreen = false;

// A one-line progress bar on stderr, only when stderr is a terminal.
class ProgressBar {
 public:
  void install() {
    if (!::isatty(STDERR_FILENO) || std::getenv("CI") != nullptr) return;
    TavSys::Progress::setListener([this](double done, double total, std::string_view label) {
      draw(done, total, label);
    });
    active_ = true;
  }
  ~ProgressBar() {
    if (active_ && gBarOnScreen) std::cerr << "\r\033[K" << std::flush;
    gBarOnScreen = false;
  }

 private:
  // The engine reports the share of the whole operation: the bar reaches
  // 100 % when the file is complete, and that line stays.
  void draw(double done, double total, std::string_view label) {
    if (!(total > 0)) return;
    const int percent = static_cast<int>(std::clamp(done / total, 0.0, 1.0) * 100);
    if (percent == last_ && label == lastLabel_ && gBarOnScreen) return;
    last_ = percent;
    lastLabel_ = label;
    const int width = 30;
    const int filled = percent * width / 100;
    std::cerr << "\r" << std::string(label.substr(0, 30)) << " ["
              << std::string(filled, '#') << std::string(width - filled, ' ') << "] " << percent
              << "%\033[K";
    if (percent == 100) {
      // Done: what the command prints next starts on a line of its own.
      std::cerr << '\n' << std::flush;
      gBarOnScreen = false;
      last_ = -1;
      return;
    }
    std::cerr << std::flush;
    gBarOnScreen = true;
  }
  bool active_ = false;
  int last_ = -1;
  std::string lastLabel_;
};

}  // namespace

namespace {
int gQuietPrinter = 0;
}  // namespace

QuietMessagePrinter::QuietMessagePrinter() { ++gQuietPrinter; }
QuietMessagePrinter::~QuietMessagePrinter() { --gQuietPrinter; }

void installMessagePrinter() {
  TavGen::MessageService::instance().addReceiver([](const TavGen::Message& m) {
    if (gQuietPrinter > 0) return;
    if (gBarOnScreen) std::cerr << "\r\033[K";
    gBarOnScreen = false;
    // One line each: a line break or another control character in a text
    // (a file's name, a library's reason) is written as \xNN.
    std::cerr << severityWord(m.severity) << ": " << (m.key.empty() ? "-" : m.key) << ": "
              << TavSys::EscapeForMessage(m.text) << '\n';
  });
}

std::unique_ptr<jobstr> loadJobOrReport(const std::string& path) {
  try {
    return TavKernel::loadJobFile(path);
  } catch (const TavSys::Error& e) {
    TavGen::message(TavGen::kError, 1, e.key(), e.placeholders());
    return nullptr;
  }
}

int badInput(const std::string& text) {
  std::cerr << "tavpdf: " << text << '\n';
  return kExitBadInput;
}

}  // namespace tavcli

int main(int argc, char** argv) {
  using namespace tavcli;
  CLI::App app{
      "tavpdf: prepress PDF and JDF export of job files, and Illustrator 3.2, 5.0 and 7.0 files"};
  app.set_version_flag("--version", "tavpdf 0.1.0");
  app.require_subcommand(1);

  std::vector<std::pair<CLI::App*, std::function<int()>>> runners;
  auto list = commands();
  std::sort(list.begin(), list.end(), [](const Command& a, const Command& b) { return a.name < b.name; });
  for (auto& command : list) {
    CLI::App* sub = app.add_subcommand(command.name, command.description);
    runners.emplace_back(sub, command.setup(*sub));
  }

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int rc = app.exit(e);
    return rc == 0 ? kExitDone : kExitBadInput;
  }

  installMessagePrinter();
  // Asked to stop, the running command is cancelled: an output not yet
  // complete is given up and the target left as it was.
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) std::signal(signal, onInterrupt);
  // A file past the size limit fails to write with a message instead of
  // ending the program.
  std::signal(SIGXFSZ, SIG_IGN);
  TavSys::Progress::setCancelHook([] { return gInterrupted != 0; });
  ProgressBar bar;
  bar.install();

  for (auto& [sub, run] : runners) {
    if (!sub->parsed()) continue;
    const int rc = run();
    if (gInterrupted != 0 && rc != kExitDone) std::cerr << "tavpdf: stopped by a signal (" << strsignal(gInterrupted) << ")\n";
    return rc;
  }
  return kExitBadInput;
}
