#pragma once
// The JSON job file (format: docs/job-format.md) read into the job model.
//
// Loading either yields a complete, validated job or throws TavSys::Error;
// nothing is written in either case. The error's key is "JOB/BAD JOB FILE"
// (or "JOB/CANNOT READ JOB FILE" when the job file itself cannot be read:
// missing, a folder, a device; a picture, map or one-up file that cannot be
// read is a bad job, with the system's file error as code), its detail
// names the file, the place as a JSON pointer ("/objects/3/points/2") and
// what is wrong, for example
//   label.json: /objects/3/points/2: expected a point [v, h] or a curve [c1v, c1h, c2v, c2h, v, h]
// Relative file paths in a job resolve against the job file's folder. Nested
// one-ups (pictures of type "ART") are job files of their own and are loaded
// with their parent; a job that includes itself, directly or through a
// chain, is refused.
#include <cstddef>
#include <filesystem>
#include <memory>
#include <string_view>

#include "platform/kernel/job.h"

namespace TavKernel {

// Loads a job file.
std::unique_ptr<jobstr> loadJobFile(const std::filesystem::path& file);

// Loads a job from JSON text held in memory. Relative paths resolve against
// baseFolder; `name` stands for the file in messages.
std::unique_ptr<jobstr> loadJobFromMemory(std::string_view json,
                                          const std::filesystem::path& baseFolder,
                                          std::string_view name = "<memory>");

// Jobs are loaded while their text streams through a window of
// kJobStreamWindow bytes, so that a large job's text and document never exist
// whole; off (for tests), every job is loaded from its whole document, the
// result the streaming load must equal. Tests may also narrow the window (to
// 2 bytes at the least: the byte before a list entry and its first byte).
// The window is small enough for the text, the parser's index and the piece's
// document to stay in the processor's cache and in memory already mapped:
// wider windows only touch more fresh pages (a 20,000-text job's check: 1 MiB
// 44 ms, 256 KiB 42.5 ms, 64 KiB 41.7 ms). An entry larger than the window is
// taken apart as before.
inline constexpr std::size_t kJobStreamWindow = std::size_t(1) << 16;
void setJobStreaming(bool on, std::size_t windowBytes = kJobStreamWindow);
// How many loads so far gave up streaming and read the whole document
// instead (a definition after the objects, a refused job).
std::size_t jobStreamFallbacks();

// Limits the loader applies to untrusted input.
inline constexpr std::size_t kMaxNestingDepth = 64;       // object tree depth
inline constexpr std::size_t kMaxOneUpDepth = 16;         // chain of nested job files
inline constexpr std::size_t kMaxJobFileBytes = std::size_t(1) << 31;

}  // namespace TavKernel
