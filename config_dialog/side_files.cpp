#include "config_dialog/side_files.h"

#include "app/texts.h"
#include "platform/cp932.h"

namespace vos {
namespace {

// vkvalue.bin holds one code per line of vkname.bin.
constexpr std::size_t kKeyValueCount = 77;

// The name the user knows the file by: what follows the last path separator.
std::wstring FileName(const std::wstring& path) {
    const std::size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

std::wstring Quoted(const std::wstring& path) { return Fill(text::kSideFile, {FileName(path)}); }

std::wstring ReadProblem(FileStatus status, const std::wstring& path) {
    return FileReadProblem(status, Quoted(path));
}

}  // namespace

SideLines ReadSideFileLines(Host& host, const std::wstring& path, std::size_t count) {
    SideLines result;
    std::vector<std::uint8_t> bytes;
    const FileStatus status = host.ReadWholeFile(path, bytes, kSideFileMaxBytes);
    if (status != FileStatus::Ok) {
        result.problem = ReadProblem(status, path);
        return result;
    }
    // Splitting on the raw bytes is safe: CR and LF never occur inside a code page 932 character,
    // whose second byte is always 0x40 or above. The vector grows only with lines actually found,
    // so a huge `count` costs nothing on a short file.
    std::size_t start = 0;
    std::size_t at = 0;
    while (result.lines.size() < count && start < bytes.size()) {
        while (at < bytes.size() && bytes[at] != '\r' && bytes[at] != '\n') ++at;
        result.lines.push_back(FromCp932(
            std::string_view(reinterpret_cast<const char*>(bytes.data()) + start, at - start)));
        if (at < bytes.size()) {
            // Only peek past a CR for its LF while more lines are wanted: nothing after the
            // count-th line is looked at.
            const bool crlf = bytes[at] == '\r' && result.lines.size() < count &&
                              at + 1 < bytes.size() && bytes[at + 1] == '\n';
            at += crlf ? 2 : 1;
        }
        start = at;
    }
    if (result.lines.size() < count) {
        result.problem = Fill(text::kSideFileLines, {Quoted(path), std::to_wstring(count),
                                                     std::to_wstring(result.lines.size())});
        result.lines.clear();
        return result;
    }
    result.ok = true;
    return result;
}

std::int32_t GetKeyIndex(Host& host, const std::wstring& vkvaluePath, std::uint8_t code) {
    std::vector<std::uint8_t> bytes;
    if (host.ReadWholeFile(vkvaluePath, bytes, kSideFileMaxBytes) != FileStatus::Ok) return -1;
    const std::size_t end = bytes.size() < kKeyValueCount ? bytes.size() : kKeyValueCount;
    for (std::size_t i = 0; i < end; ++i) {
        if (bytes[i] == code) return static_cast<std::int32_t>(i);
    }
    return -1;
}

std::optional<std::uint8_t> GetKeyCode(Host& host, const std::wstring& vkvaluePath,
                                       std::int32_t position) {
    if (position < 0 || static_cast<std::size_t>(position) >= kKeyValueCount) return std::nullopt;
    std::vector<std::uint8_t> bytes;
    if (host.ReadWholeFile(vkvaluePath, bytes, kSideFileMaxBytes) != FileStatus::Ok)
        return std::nullopt;
    if (static_cast<std::size_t>(position) >= bytes.size()) return std::nullopt;
    return bytes[static_cast<std::size_t>(position)];
}

std::wstring CheckKeyValues(Host& host, const std::wstring& path) {
    std::vector<std::uint8_t> bytes;
    const FileStatus status = host.ReadWholeFile(path, bytes, kSideFileMaxBytes);
    if (status != FileStatus::Ok) return ReadProblem(status, path);
    if (bytes.size() < kKeyValueCount)
        return Fill(text::kSideFileBytes, {Quoted(path), std::to_wstring(kKeyValueCount),
                                           std::to_wstring(bytes.size())});
    return {};
}

}  // namespace vos
