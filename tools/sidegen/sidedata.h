// The conversion behind sidegen: from the readable UTF-8 sources in resources/side_files to the
// three side files the configuration dialog reads. Kept apart from the command line so the unit
// tests can check the committed files against it without running the tool.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace vos::sidegen {

inline constexpr std::size_t kInstrumentCount = 128;
inline constexpr std::size_t kKeyCount = 77;
// Longest line, in code page 932 bytes without the CR LF, that the drop-down lists show well.
inline constexpr std::size_t kMaxLineBytes = 40;
// VK_F12: the default shortcut is Ctrl+F12, so the key list must offer it.
inline constexpr std::uint8_t kDefaultKeyCode = 0x7B;

// A fault in a source. what() reads "<file>:<line>: <problem>", or "<file>: <problem>" when the
// fault concerns the whole file (line 0).
class SourceError : public std::runtime_error {
public:
    SourceError(const std::string& file, std::size_t line, const std::string& problem);
    std::size_t line() const { return line_; }

private:
    std::size_t line_;
};

// The side files, byte for byte as they are written.
struct SideFiles {
    std::string gminst;   // 128 lines, code page 932, each ending in CR LF
    std::string vkname;   // 77 lines, code page 932, each ending in CR LF
    std::string vkvalue;  // 77 bytes: the virtual-key code of each line of vkname
};

// Strict UTF-8 to wide text (UTF-32 where wchar_t has 32 bits, UTF-16 where it has 16). Throws
// std::invalid_argument naming the byte offset of the first malformed sequence.
std::wstring DecodeUtf8(std::string_view text);

// gminst.txt -> gminst.bin (and gminst.en.txt -> gminst.en.bin, the English names): one
// instrument name per line in program order; the output numbers them "001 " ... "128 ". Faults
// name the source as fileName.
std::string MakeInstrumentFile(std::string_view source, std::string_view fileName = "gminst.txt");

// keys.txt -> vkname.bin and vkvalue.bin: lines "<code>\t<name>", the code in decimal or as 0x hex.
void MakeKeyFiles(std::string_view source, std::string& names, std::string& values);

// Both sources at once. In either source, empty lines and lines starting with '#' are skipped, a
// UTF-8 byte order mark is ignored and lines may end in LF or CR LF. Throws SourceError.
SideFiles Generate(std::string_view gminstSource, std::string_view keysSource);

}  // namespace vos::sidegen
