// Readers for the side files beside the program: gminst.bin (instrument names), vkname.bin
// (shortcut key names) and vkvalue.bin (their virtual-key codes). They are small read-only files
// that a user may still have damaged, truncated or replaced, so every reader takes them as they
// are, looks no further than it needs, and answers with something the dialog can show.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/host.h"

namespace vos {

// Larger side files are refused unread: the real ones are a few kilobytes.
inline constexpr std::size_t kSideFileMaxBytes = 1024 * 1024;

struct SideLines {
    bool ok = false;
    std::wstring problem;  // when not ok: what is wrong, naming the file (text::kSideFile)
    std::vector<std::wstring> lines;
};

// The first `count` lines of a code page 932 text file, each converted as it stands (nothing
// trimmed). A line ends at CR LF, a lone LF or a lone CR; a last line without one still counts.
// Whatever follows the count-th line is ignored.
SideLines ReadSideFileLines(Host& host, const std::wstring& path, std::size_t count);

// Position (0..76) of the first of vkvalue.bin's first 77 bytes that equals `code`; -1 when none
// does or the file cannot be read.
std::int32_t GetKeyIndex(Host& host, const std::wstring& vkvaluePath, std::uint8_t code);

// The byte at `position` (0..76) of vkvalue.bin; nullopt for a position outside 0..76 or a file
// that is unreadable or too short to have it.
std::optional<std::uint8_t> GetKeyCode(Host& host, const std::wstring& vkvaluePath,
                                       std::int32_t position);

// Empty when vkvalue.bin holds at least its 77 codes; otherwise the problem text.
std::wstring CheckKeyValues(Host& host, const std::wstring& path);

}  // namespace vos
