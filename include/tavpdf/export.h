#pragma once
// Marks the functions, classes and data the engine exports to its host.
// Everything else in the library has hidden visibility.
#define TAVPDF_EXPORT __attribute__((visibility("default")))
