// UTF-8 as messages and records check it.
#pragma once

#include <cstddef>
#include <string_view>

namespace model {

// The length of the UTF-8 sequence at text[i], or 0 where none starts: a
// stray continuation byte, a cut sequence, an overlong form, a surrogate or a
// code point past U+10FFFF.
size_t Utf8Length(std::string_view text, size_t i);

} // namespace model
