#pragma once
// Text helpers of the Illustrator writers: numbers in the fixed forms the
// format uses, written the same under every locale, and user texts made safe
// for PostScript strings and DSC comment lines.
#include <string>
#include <string_view>
#include <vector>

#include "platform/genoutfil.h"

struct jobstr;

namespace TavIllu {

// Numbers in printf's fixed forms, written the same under every locale.
using TavNumber::appendFixed;

// The bytes of a PostScript literal string body (without the parentheses):
// "(", ")" and "\" are escaped, bytes outside printable ASCII become "\ooo".
std::string escapePostScriptString(std::string_view text);

// Text for a DSC comment line: line breaks and other control characters
// become blanks, so the text cannot end the comment early.
std::string commentText(std::string_view text);

// The spot inks the header lists as custom colours: every slot of the job's
// separation order, disabled ones included (the file describes the artwork,
// not one output), that is a spot ink with a name.
std::vector<int> CustomColourSlots(const jobstr* job);

}  // namespace TavIllu
