#pragma once
// Jobs for the driver tests, written as job-file text and loaded through the
// job-file loader, so that the tests see jobs as a user's file gives them;
// whole exports with the messages they showed.
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/kernel/exportkernel.h"
#include "platform/kernel/jobfile.h"
#include "platform/messages.h"
#include "tavpdf/OutputPDF.h"

namespace drivertest {

// The inks most tests use: the four process inks and two spot inks.
inline const char* kStandardInks =
    R"([{"name":"Cyan","process":"cyan"},{"name":"Magenta","process":"magenta"},)"
    R"({"name":"Yellow","process":"yellow"},{"name":"Black","process":"black"},)"
    R"({"name":"Orange","cmyk":[0,60,100,0]},{"name":"Green","cmyk":[80,0,100,0]}])";

// A square path of `side` job units at (v, h) with the paint, as job-file text.
std::string square(int v, int h, int side, int paint, const std::string& extra = "");

// A job of 720 units per inch on a 10 x 10 inch media box with a trim box.
// The parts are JSON array texts; `more` adds top-level keys (",\"x\":...").
std::string jobText(const std::string& inks, const std::string& colours, const std::string& paints,
                    const std::string& objects, const std::string& more = "");

// A job whose paint 30 places picture 1 (`picture`: its JSON keys after the
// id) on a 1000-unit square at (720, 720); the other arguments add entries
// to the arrays, each with a leading comma.
std::string placedJob(const std::string& inks, const std::string& picture, const std::string& colours = "",
                      const std::string& paints = "", const std::string& objects = "");

std::unique_ptr<jobstr> loadJob(const std::string& text,
                                const std::filesystem::path& folder = std::filesystem::temp_directory_path());

// A job with one colour (a JSON object of ink shares) and one square per
// entry of colourInks; paintExtra adds keys to every paint.
std::string colouredSquares(const std::string& inks, const std::vector<std::string>& colourInks,
                            const std::string& paintExtra = "", const std::string& more = "");

// A job of CMYK and spot squares that every flavour can export.
std::string plainJobText();

struct ExportRun {
  int result = 0;
  std::vector<TavGen::Message> messages;
  bool has(const std::string& key) const { return count(key) > 0; }
  int count(const std::string& key) const;
  // The first message of the key; throws when there is none.
  const TavGen::Message& message(const std::string& key) const;
  std::string keys() const;  // for failure messages
};

// Settings of a flavour with "Field=Value ..." overrides, brought into line
// as the command line does; `name` is the flavour's name, optionally followed
// by overrides ("Press EnableFlattening=1").
PDFSettings flavour(const std::string& name, const std::string& overrides = "");

// OutputPDFDocument with the messages it showed.
ExportRun exportJob(jobstr* job, PDFSettings settings, const std::filesystem::path& target,
                    bool force = false);

// exportJob expecting success: result 0, a file that every consumer accepts
// with sound content streams.
ExportRun exportAccepted(jobstr* job, const PDFSettings& settings, const std::filesystem::path& target);

}  // namespace drivertest
