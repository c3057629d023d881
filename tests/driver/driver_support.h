#pragma once
// Jobs for the driver tests, written as job-file text and loaded through the
// job-file loader, so that the tests see jobs as a user's file gives them.
#include <filesystem>
#include <memory>
#include <string>

#include "platform/kernel/jobfile.h"

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

std::unique_ptr<jobstr> loadJob(const std::string& text,
                                const std::filesystem::path& folder = std::filesystem::temp_directory_path());

// A job of CMYK and spot squares that every flavour can export.
std::string plainJobText();

}  // namespace drivertest
