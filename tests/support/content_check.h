#pragma once
// Content-stream soundness with qpdf's parser, without the test framework, so
// that the fuzz targets check what the engine writes the way the tests do.
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace tavtest {

// Problems in the content streams of every page and of every form XObject,
// tiling pattern and soft-mask group they use (recursively): q/Q and
// BMC/BDC/EMC that do not balance or go below zero, and operators naming a
// resource (colour space, graphics state, shading, XObject, font, pattern,
// property list) that the applicable resource dictionary lacks. Each entry
// says where ("page 2, form /Fm0 (7 0 R): ..."). A file qpdf cannot open
// gives one entry saying so; qpdf's warnings while reading become entries.
std::vector<std::string> contentStreamProblems(const std::filesystem::path& pdf);
// The same for a PDF file's bytes.
std::vector<std::string> contentStreamProblemsOfBytes(std::string_view bytes);

}  // namespace tavtest
