// Linux side of the code page 932 conversion, through glibc's iconv "CP932", which follows the
// Windows mapping (0x5C is the backslash, 0x815F the full-width one).
#include <iconv.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "platform/cp932.h"

namespace vos {
namespace {

struct IconvCloser {
    void operator()(void* cd) const { iconv_close(static_cast<iconv_t>(cd)); }
};
using IconvHandle = std::unique_ptr<void, IconvCloser>;

IconvHandle Open(const char* to, const char* from) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return nullptr;
    return IconvHandle(cd);
}

// Converts one unit at a time when the whole run fails, so that only the unconvertible unit turns
// into '?' (or U+003F) and the rest survives.
template <typename In, typename Out>
void Convert(iconv_t cd, const In* src, std::size_t count, std::size_t unitBytes, Out& out,
             typename Out::value_type replacement) {
    char* in = reinterpret_cast<char*>(const_cast<In*>(src));
    std::size_t inLeft = count * sizeof(In);
    while (inLeft > 0) {
        typename Out::value_type buf[256];
        char* o = reinterpret_cast<char*>(buf);
        std::size_t outLeft = sizeof(buf);
        std::size_t r = iconv(cd, &in, &inLeft, &o, &outLeft);
        out.append(buf, (sizeof(buf) - outLeft) / sizeof(typename Out::value_type));
        if (r == static_cast<std::size_t>(-1) && errno != E2BIG) {
            // EILSEQ or EINVAL (a lead byte at the end): skip one unit, mark it, reset the state.
            std::size_t skip = unitBytes < inLeft ? unitBytes : inLeft;
            in += skip;
            inLeft -= skip;
            out.push_back(replacement);
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
        }
    }
}

}  // namespace

std::string ToCp932(std::wstring_view text) {
    std::string out;
    IconvHandle cd = Open("CP932", "WCHAR_T");
    if (!cd) {
        for (wchar_t c : text) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
        return out;
    }
    Convert(static_cast<iconv_t>(cd.get()), text.data(), text.size(), sizeof(wchar_t), out, '?');
    return out;
}

std::wstring FromCp932(std::string_view bytes) {
    std::wstring out;
    IconvHandle cd = Open("WCHAR_T", "CP932");
    if (!cd) {
        for (char c : bytes) out.push_back(static_cast<unsigned char>(c) < 0x80 ? c : L'?');
        return out;
    }
    // An undecodable pair is skipped one byte at a time, so each of its bytes may become '?';
    // the Windows side does the same with MultiByteToWideChar's default character.
    Convert(static_cast<iconv_t>(cd.get()), bytes.data(), bytes.size(), 1, out, L'?');
    return out;
}

}  // namespace vos
