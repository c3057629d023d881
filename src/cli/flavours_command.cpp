// tavpdf flavours: lists the flavours, shows one, writes a flavour file and
// reads one.
#include <iostream>
#include <string>

#include "cli/command.h"
#include "platform/files.h"
#include "platform/messages.h"
#include "platform/tav_error.h"
#include "settings/settings_access.h"

namespace tavcli {
namespace {

// The PDF version a compatibility code stands for.
const char* compatibilityMeaning(std::int32_t code) {
  switch (code) {
    case 0: return "PDF 1.4";
    case 1: return "PDF 1.3";
    case 2: return "PDF 1.5";
    default: return "PDF 1.3, as any other value";
  }
}

void printSettings(const PDFSettings& settings) {
  for (const TavPDF::SettingField& field : TavPDF::SettingFields()) {
    std::cout << field.name << " = " << TavPDF::FormatSettingValue(settings, field);
    if (field.intField == &PDFSettings::PDFCompatibility)
      std::cout << " (" << compatibilityMeaning(settings.PDFCompatibility) << ")";
    std::cout << '\n';
  }
}

int listFlavours() {
  for (const TavPDF::FlavourInfo& flavour : TavPDF::FlavourList()) {
    std::cout << (flavour.number >= 0 ? std::to_string(flavour.number) : std::string("-")) << '\t'
              << flavour.name << '\t' << flavour.description << '\n';
  }
  return kExitDone;
}

int showFlavour(const std::string& name) {
  const TavPDF::FlavourInfo* flavour = TavPDF::FindFlavour(name);
  if (flavour == nullptr) return badInput("there is no flavour \"" + name + "\" (see tavpdf flavours)");
  std::cout << "# " << flavour->name << ": " << flavour->description << '\n';
  printSettings(TavPDF::SettingsForFlavour(*flavour));
  return kExitDone;
}

int saveFlavour(const std::string& name, const std::string& file) {
  const TavPDF::FlavourInfo* flavour = TavPDF::FindFlavour(name);
  if (flavour == nullptr) return badInput("there is no flavour \"" + name + "\" (see tavpdf flavours)");
  const int rc = TavPDF::SaveSettingsToFlavourFile(TavSys::FileSpec::FromGenericPath(file),
                                                   TavPDF::SettingsForFlavour(*flavour));
  // The engine has shown the reason of a failure as a message.
  return rc == 0 ? kExitDone : kExitEngine;
}

int loadFlavour(const std::string& file) {
  PDFSettings settings;
  const int rc = TavPDF::LoadFlavourFileIntoSettings(TavSys::FileSpec::FromGenericPath(file), settings);
  // A flavour file that cannot be used is bad input, like a job file; the
  // engine has said why.
  if (rc != 0) return kExitBadInput;
  std::cout << "# " << file << '\n';
  printSettings(settings);
  return kExitDone;
}

const CommandRegistrar registrar{Command{
    "flavours",
    "List the export flavours, show one, or write and read flavour files",
    [](CLI::App& app) -> std::function<int()> {
      app.require_subcommand(0, 1);
      auto name = std::make_shared<std::string>();
      auto file = std::make_shared<std::string>();
      CLI::App* show = app.add_subcommand("show", "Print the settings of a flavour (name or number)");
      show->add_option("NAME", *name, "flavour name (any case) or number")->required();
      CLI::App* save = app.add_subcommand("save", "Write a flavour's settings as a flavour file");
      save->add_option("NAME", *name, "flavour name (any case) or number")->required();
      save->add_option("FILE", *file, "flavour file to write")->required();
      CLI::App* load = app.add_subcommand("load", "Read a flavour file, check it and print its settings");
      load->add_option("FILE", *file, "flavour file to read")->required();
      return [show, save, load, name, file]() -> int {
        if (show->parsed()) return showFlavour(*name);
        if (save->parsed()) return saveFlavour(*name, *file);
        if (load->parsed()) return loadFlavour(*file);
        return listFlavours();
      };
    }}};

}  // namespace
}  // namespace tavcli
