// Conversion between in-memory text (std::wstring) and code page 932, the encoding of every text
// in config.bin and the side files. Both directions behave the same on Windows and Linux:
// characters without a counterpart become '?'.
#pragma once

#include <string>
#include <string_view>

namespace vos {

std::string ToCp932(std::wstring_view text);
std::wstring FromCp932(std::string_view bytes);

// True when the text survives the trip through code page 932 unchanged: stored, it still names
// what it named.
inline bool Cp932Holds(std::wstring_view text) { return FromCp932(ToCp932(text)) == text; }

// Number of bytes of the character that starts with this byte (1 or 2).
inline int Cp932CharLength(unsigned char lead) {
    return ((lead >= 0x81 && lead <= 0x9F) || (lead >= 0xE0 && lead <= 0xFC)) ? 2 : 1;
}

}  // namespace vos
