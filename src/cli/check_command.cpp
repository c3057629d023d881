// tavpdf check: loads job files, validates them and prints a short summary
// of each (resolution, boxes, inks with their kinds, objects per kind).
#include <iostream>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cli/command.h"
#include "platform/files.h"
#include "platform/kernel/barcode.h"
#include "platform/kernel/jobfile.h"
#include "platform/messages.h"
#include "platform/tav_error.h"
#include "settings/settings_access.h"
#include "tavpdf/OutputPDF.h"
#include "tavpdf/PDFSettings.h"

namespace tavcli {
namespace {

std::string boxText(const TavDB::tv_box& b) {
  std::ostringstream s;
  s << "[" << b.top << " " << b.left << " " << b.bottom << " " << b.right << "]";
  return s.str();
}

std::string inkKind(const jobstr& job, int slot) {
  static const char* const kProcess[4] = {"process cyan", "process magenta", "process yellow",
                                          "process black"};
  const Separation& s = job.separations[slot];
  std::string kind = s.process >= 0 ? kProcess[s.process] : "spot";
  if (s.varnish) kind += ", varnish";
  if (s.technical) kind += ", technical";
  if (s.opaque) kind += ", opaque";
  if (!s.used) kind += ", unused";
  if (!s.output) kind += ", not output";
  if (s.mappedTo >= 0) kind += ", remapped to " + job.separations[s.mappedTo].name;
  return kind;
}

struct Counts {
  long layers = 0, groups = 0, compounds = 0, paths = 0, texts = 0;
  long openPaths = 0, strokes = 0, hidden = 0, points = 0;
};

void count(const TavDB::Object* o, Counts& c) {
  std::vector<const TavDB::Object*> todo{o};
  while (!todo.empty()) {
    const TavDB::Object* x = todo.back();
    todo.pop_back();
    for (const auto& m : x->members()) todo.push_back(m.get());
    switch (x->kind()) {
      case TavDB::ObjectKind::Layer: ++c.layers; break;
      case TavDB::ObjectKind::Group: ++c.groups; break;
      case TavDB::ObjectKind::Compound: ++c.compounds; break;
      case TavDB::ObjectKind::Path:
        ++c.paths;
        c.points += static_cast<long>(x->points().size());
        if (x->isOpenPath()) ++c.openPaths;
        break;
      case TavDB::ObjectKind::Text: ++c.texts; break;
      case TavDB::ObjectKind::List: continue;
    }
    if (x->stroke() && x->stroke()->width > 0) ++c.strokes;
    if (x->flags() & TavDB::kObjHidden) ++c.hidden;
  }
}

// The job's barcodes: symbology, data and where they lie.
void barcodes(const jobstr& job, const std::string& indent) {
  std::vector<const TavDB::Object*> found;
  std::vector<const TavDB::Object*> todo{job.spatialTree.get()};
  while (!todo.empty()) {
    const TavDB::Object* x = todo.back();
    todo.pop_back();
    if (GetBarcodeCreator(x) != nullptr) found.push_back(x);
    for (auto it = x->members().rbegin(); it != x->members().rend(); ++it) todo.push_back(it->get());
  }
  if (found.empty()) return;
  std::cout << indent << "  barcodes: " << found.size() << "\n";
  for (const TavDB::Object* x : found) {
    const barCreator& creator = *GetBarcodeCreator(x);
    std::cout << indent << "    " << BarcodeSymbologyName(creator.GetType(), &creator) << " (type "
              << creator.GetType() << ") \"" << creator.GetCode() << "\" " << boxText(x->bounds())
              << (HasBarcodeEditCreator(x) ? ", edited" : "") << "\n";
  }
}

// `shown` holds the one-ups summarised so far: a one-up placed many times,
// or placed by several one-ups, is summarised once (a nested chain of files
// each placing the next many times would otherwise print without end).
void summary(const std::string& file, const jobstr& job, std::set<const jobstr*>& shown,
             const std::string& indent = "", const std::string& label = "") {
  static const char* const kBoxNames[5] = {"media", "crop", "bleed", "art", "trim"};
  std::cout << indent << label << file << ": \"" << job.name << "\", " << job.ppi << " ppi, origin (v "
            << job.origin.v << ", h " << job.origin.h << ")\n";
  std::cout << indent << "  boxes:";
  bool anyBox = false;
  for (int k = 0; k < 5; ++k)
    if (job.boxes[k]) {
      std::cout << " " << kBoxNames[k] << " " << boxText(*job.boxes[k]);
      anyBox = true;
    }
  std::cout << (anyBox ? "" : " none") << "\n";
  std::cout << indent << "  inks: " << job.inkCount << "\n";
  for (int i = 0; i < job.inkCount; ++i)
    std::cout << indent << "    " << i << " " << job.separations[i].name << " (" << inkKind(job, i)
              << ")\n";
  Counts c;
  count(job.spatialTree.get(), c);
  std::cout << indent << "  objects: " << c.layers << " layers, " << c.groups << " groups, "
            << c.compounds << " compound paths, " << c.paths << " paths (" << c.openPaths
            << " open, " << c.points << " points), " << c.texts << " texts, " << c.strokes
            << " strokes, " << c.hidden << " hidden\n";
  long colours = 0, paints = 0, pictures = 0;
  for (const auto& x : job.colours) colours += x.exists;
  for (const auto& x : job.paints) paints += x.exists;
  for (const auto& x : job.pictures) pictures += x.exists;
  std::cout << indent << "  colours: " << colours << ", paints: " << paints
            << ", pictures: " << pictures << "\n";
  if (job.cad) std::cout << indent << "  CAD: " << boxText(job.cad->boundingBox) << "\n";
  barcodes(job, indent);
  for (const auto& p : job.pictures) {
    if (!p.exists || !p.job) continue;
    if (shown.insert(p.job.get()).second)
      summary(p.file.getFullPathAsUtf8(), *p.job, shown, indent + "  ", "one-up ");
    else
      std::cout << indent << "  one-up " << p.file.getFullPathAsUtf8() << ": as above\n";
  }
}

// Exports the job under the flavour's settings into a folder of its own,
// which goes with everything in it, and prints what the export refused (its
// error messages) or that it passed. True when it passed.
bool tryExport(jobstr& job, const std::string& flavour, const PDFSettings& flavourSettings) {
  PDFSettings settings = flavourSettings;
  std::vector<TavGen::Message> refusals;
  int result = 0;
  {
    const TavSys::TempFolder folder;
    TavSys::FileSpec target(folder.path() / "check.pdf");
    std::vector<TavSys::FileSpec> produced;
    const QuietMessagePrinter quiet;
    const TavGen::MessageCapture capture;
    result = runExport(job, settings, target, false, &produced);
    for (const TavGen::Message& m : capture.messages())
      if (m.severity >= TavGen::kError) refusals.push_back(m);
  }
  if (result == 0) {
    std::cout << "  export under " << flavour << ": passes\n";
    return true;
  }
  std::cout << "  export under " << flavour << ": refused\n";
  for (const TavGen::Message& m : refusals)
    std::cout << "    " << (m.key.empty() ? "-" : m.key) << ": " << m.text << "\n";
  return false;
}

int check(const std::vector<std::string>& files, const std::string& flavour) {
  // A flavour that does not exist is a bad command line, found before any job.
  std::optional<PDFSettings> flavourSettings;
  if (!flavour.empty()) {
    try {
      flavourSettings = TavPDF::SettingsForFlavour(flavour);
    } catch (const TavSys::Error& e) {
      TavGen::message(TavGen::kError, 1, e.key(), e.placeholders());
      return kExitBadInput;
    }
    flavourSettings->VerifyCompatibility();
  }
  int rc = kExitDone;
  // The last job's memory goes back with the process, as after an export: a
  // large job's objects and paints take a noticeable share of its check to
  // free one by one. An earlier file's job is freed before the next loads.
  static jobstr* keptUntilExit = nullptr;
  for (const std::string& file : files) {
    delete keptUntilExit;
    keptUntilExit = nullptr;
    try {
      std::unique_ptr<jobstr> job = TavKernel::loadJobFile(file);
      std::set<const jobstr*> shown;
      summary(file, *job, shown);
      // Ink remapping that cannot be written into a PDF file.
      std::u16string remap;
      if (TavPDF::CheckSeparationRemapping(job.get(), remap) != 0)
        TavGen::ShowInfoMessage(TavGen::kWarning, 1, TavCore::LocalizedString{"", remap});
      if (flavourSettings && !tryExport(*job, flavour, *flavourSettings) && rc == kExitDone) rc = kExitEngine;
      keptUntilExit = job.release();
    } catch (const TavSys::Error& e) {
      TavGen::message(TavGen::kError, 1, e.key(), e.placeholders());
      rc = kExitBadInput;
    }
  }
  return rc;
}

const CommandRegistrar registrar{Command{
    "check",
    "Load job files, validate them and print a summary of each",
    [](CLI::App& app) -> std::function<int()> {
      auto files = std::make_shared<std::vector<std::string>>();
      auto flavour = std::make_shared<std::string>();
      app.add_option("jobs", *files, "Job files (JSON)")->required();
      app.add_option("--flavour", *flavour,
                     "Also export each job under this flavour (name or number) into a temporary folder "
                     "and list what the export refuses");
      return [files, flavour] { return check(*files, *flavour); };
    }}};

}  // namespace
}  // namespace tavcli
