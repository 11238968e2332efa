#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tallyloft {

// Text measured as people read it: "characters" are extended grapheme clusters, so an accented
// letter or an emoji with modifiers counts once. Bytes that are not UTF-8 count one each.

// The first `limit` characters of `text` (all of it when shorter).
std::string_view prefixGraphemes(std::string_view text, std::size_t limit);
// `text` itself when it has at most `limit` characters, else its first `limit` plus "…".
std::string truncateGraphemes(std::string_view text, std::size_t limit);
// `text` without leading and trailing white space and line breaks (Unicode spaces included).
std::string_view trimWhitespace(std::string_view text);

// `text` with A-Z lowered; other bytes unchanged.
std::string asciiLower(std::string_view text);

// Whether `text` is well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
bool isValidUtf8(std::string_view text);
// `text` with every ill-formed sequence replaced by U+FFFD.
std::string replaceInvalidUtf8(std::string_view text);

}  // namespace tallyloft
