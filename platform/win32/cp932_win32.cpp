// Windows side of the code page 932 conversion; the same results as the iconv one on Linux:
// no best-fit guesses (an accented letter becomes '?', not its bare letter) and undecodable
// bytes become '?' one by one instead of the system's default character.
#include <windows.h>

#include "platform/cp932.h"

namespace vos {
namespace {

bool Decode(std::string_view bytes, std::wstring& out) {
    int n = MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, bytes.data(),
                                static_cast<int>(bytes.size()), nullptr, 0);
    if (n <= 0) return false;
    std::wstring part(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()),
                        part.data(), n);
    out += part;
    return true;
}

}  // namespace

std::string ToCp932(std::wstring_view text) {
    if (text.empty()) return {};
    const DWORD flags = WC_NO_BEST_FIT_CHARS;
    int n = WideCharToMultiByte(932, flags, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                "?", nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(932, flags, text.data(), static_cast<int>(text.size()), out.data(), n, "?",
                        nullptr);
    return out;
}

std::wstring FromCp932(std::string_view bytes) {
    std::wstring out;
    if (bytes.empty() || Decode(bytes, out)) return out;
    out.clear();
    std::size_t i = 0;
    while (i < bytes.size()) {
        std::size_t len =
            static_cast<std::size_t>(Cp932CharLength(static_cast<unsigned char>(bytes[i])));
        if (i + len <= bytes.size() && Decode(bytes.substr(i, len), out)) {
            i += len;
        } else {
            out.push_back(L'?');
            ++i;
        }
    }
    return out;
}

}  // namespace vos
