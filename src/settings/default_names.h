#pragma once
// The spellings of the default (screen) name in the host's languages. The
// screening writers recognize the default screen by them.
#include <array>
#include <string_view>

namespace TavPDF {

// UTF-8, in this order: English, French, German, Japanese, Korean, Spanish,
// Chinese. Constant data: usable from any static initializer.
inline constexpr std::array<std::string_view, 7> DefaultNameTable = {
    "Default",
    "D\xC3\xA9" "faut",
    "Standard",
    "\xE3\x83\x87\xE3\x83\x95\xE3\x82\xA9\xE3\x83\xAB\xE3\x83\x88",
    "\xEA\xB8\xB0\xEB\xB3\xB8\xEA\xB0\x92",
    "Defecto",
    "\xE9\xBB\x98\xE8\xAE\xA4\xE7\x9A\x84",
};

// True when the name equals one of the table's spellings exactly or without
// regard to (ASCII) case.
bool IsDefaultName(std::string_view name);

}  // namespace TavPDF
