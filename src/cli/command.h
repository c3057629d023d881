#pragma once
// The subcommands of tavpdf register themselves here; each lives in a file of
// its own (check_command.cpp, flavours_command.cpp, ...).
#include <CLI/CLI.hpp>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct jobstr;
class PDFSettings;
namespace TavSys {
class FileSpec;
}

namespace tavcli {

// Exit status of the program.
enum Exit : int {
  kExitDone = 0,       // the work was done
  kExitEngine = 1,     // the engine gave up with a message
  kExitBadInput = 2,   // bad command line or a job file that cannot be read
};

// A subcommand: `setup` adds its options to the subcommand and returns the
// function that runs it once the command line is parsed.
struct Command {
  std::string name;
  std::string description;
  std::function<std::function<int()>(CLI::App&)> setup;
};

std::vector<Command>& commands();

struct CommandRegistrar {
  explicit CommandRegistrar(Command command) { commands().push_back(std::move(command)); }
};

// Prints every message the engine shows, one line each on stderr:
// severity word, key, text. Installed by main for the whole run.
void installMessagePrinter();

// While one lives, the printer prints nothing (the messages are still shown
// to every other receiver): for a command that reports them its own way.
class QuietMessagePrinter {
 public:
  QuietMessagePrinter();
  ~QuietMessagePrinter();
  QuietMessagePrinter(const QuietMessagePrinter&) = delete;
  QuietMessagePrinter& operator=(const QuietMessagePrinter&) = delete;
};

// Loads a job file. A file that cannot be read or used is reported as a
// message (key, place and reason) and gives null: the caller exits with
// kExitBadInput.
std::unique_ptr<jobstr> loadJobOrReport(const std::string& path);

// Exports a loaded job under the settings as the host does (link
// parameters announced, the job's marks settings): OutputPDFDocument's result.
int runExport(jobstr& job, PDFSettings& settings, TavSys::FileSpec& target, bool force,
              std::vector<TavSys::FileSpec>* produced);

// Prints an error of the command line itself and returns kExitBadInput.
int badInput(const std::string& text);

// The files a job reads: the job file, its pictures and maps, and its one-ups
// with theirs.
std::vector<std::filesystem::path> jobInputFiles(const jobstr& job);
// True, with an error printed, when `output` is the same file as one of the
// inputs (the caller then exits with kExitBadInput and writes nothing).
bool outputIsAnInput(const std::string& output, const std::vector<std::filesystem::path>& inputs);

}  // namespace tavcli
