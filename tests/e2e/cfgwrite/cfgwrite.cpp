// cfgwrite.exe: a config.bin for the scenarios, laid out by the program's own encoder, so that no
// script has to know the file's layout.
//
//   wine cfgwrite.exe <WORDS >config.bin
//
// WORDS are e2e_write_config's options (tests/e2e/lib.sh) in UTF-8, each ended by a 0 byte:
//   --in-dev N  --in-name T  --thru  --out-dev N  --out-name T  --nul-out-name  --program N
//   --shortcut  --key VK  --mods M  --entry CODE PATH PARAMETERS
// They come on stdin, not on the command line: a Windows command line holds at most 32 767
// characters, and a scenario's file of 1 000 entries takes more. Numbers are read as bash
// arithmetic reads them (0x… hex, a leading 0 octal, a minus sign) and only their low bytes are
// stored, so -1 fills its field with 0xff and a program of 300 is stored as 44.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/settings.h"
#include "platform/cp932.h"

namespace {

[[noreturn]] void Fail(const std::string& why) {
    std::fprintf(stderr, "cfgwrite: %s\n", why.c_str());
    std::exit(2);
}

std::vector<std::string> ReadWords() {
    _setmode(_fileno(stdin), _O_BINARY);
    std::string all;
    char buf[65536];
    std::size_t n = 0;
    while ((n = std::fread(buf, 1, sizeof buf, stdin)) > 0) all.append(buf, n);
    if (std::ferror(stdin)) Fail("cannot read the options from stdin");
    std::vector<std::string> words;
    std::size_t start = 0;
    for (std::size_t end; (end = all.find('\0', start)) != std::string::npos; start = end + 1)
        words.push_back(all.substr(start, end - start));
    if (start != all.size()) Fail("the last option is not ended by a 0 byte");
    return words;
}

std::wstring Wide(const std::string& utf8) {
    if (utf8.empty()) return {};
    int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(),
                                static_cast<int>(utf8.size()), nullptr, 0);
    if (n <= 0) Fail("not UTF-8: " + utf8);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()),
                        out.data(), n);
    return out;
}

long long Number(const std::string& text) {
    errno = 0;
    char* end = nullptr;
    long long v = std::strtoll(text.c_str(), &end, 0);
    if (text.empty() || *end != '\0' || errno == ERANGE) Fail("not a number: " + text);
    return v;
}

// A name the field cannot hold is a mistake in the scenario: refused rather than cut as the
// program cuts a device's name.
vos::NameField Name(const std::string& utf8) {
    std::wstring name = Wide(utf8);
    if (vos::ToCp932(name).size() > vos::NameField{}.size())
        Fail("device name longer than 32 bytes: " + utf8);
    return vos::MakeNameField(name);
}

}  // namespace

int main() {
    std::vector<std::string> words = ReadWords();
    // The options' defaults are e2e_write_config's own, not the program's first-start settings,
    // so a scenario that compares a file against them catches a change there. The rest is 0.
    vos::SettingsRecord h;
    h.ShortcutKey = 123;  // F12
    h.ShortcutModifiers = vos::kModControl;
    // Names are checked only once the last option has had its say: a later --in-name replaces
    // a default too long for the field.
    std::string inName, outName;
    bool nulOutName = false;
    std::vector<vos::LaunchCode> codes;

    std::size_t next = 0;
    std::string opt;
    auto value = [&]() -> const std::string& {
        if (next == words.size()) Fail("missing value after " + opt);
        return words[next++];
    };
    while (next < words.size()) {
        opt = words[next++];
        if (opt == "--in-dev") {
            h.MidiInDevice = static_cast<std::int32_t>(Number(value()));
        } else if (opt == "--in-name") {
            inName = value();
        } else if (opt == "--thru") {
            h.UseMidiOut = vos::kTrue16;
        } else if (opt == "--out-dev") {
            h.MidiOutDevice = static_cast<std::int32_t>(Number(value()));
        } else if (opt == "--out-name") {
            outName = value();
            nulOutName = false;
        } else if (opt == "--nul-out-name") {
            nulOutName = true;
        } else if (opt == "--program") {
            h.Program = static_cast<std::uint8_t>(Number(value()));
        } else if (opt == "--shortcut") {
            h.UseShortcut = vos::kTrue16;
        } else if (opt == "--key") {
            h.ShortcutKey = static_cast<std::uint8_t>(Number(value()));
        } else if (opt == "--mods") {
            h.ShortcutModifiers = static_cast<std::uint8_t>(Number(value()));
        } else if (opt == "--entry") {
            vos::LaunchCode& c = codes.emplace_back();
            c.Code = static_cast<std::int32_t>(Number(value()));
            c.Path = Wide(value());
            c.Command = Wide(value());
        } else {
            Fail("unknown option " + opt);
        }
    }

    h.MidiInName = Name(inName);
    // what a first start stores for an output it never had: one 0 character
    h.MidiOutName = nulOutName ? vos::MakeNameField(std::wstring(1, L'\0')) : Name(outName);

    vos::EncodeResult enc = vos::EncodeSettings(h, codes);
    if (enc.status != vos::EncodeStatus::Ok)
        Fail("entry " + std::to_string(enc.badEntry + 1) + ": " +
             (enc.badIsPath ? "path" : "parameters") + " longer than 65535 bytes");
    _setmode(_fileno(stdout), _O_BINARY);
    if (std::fwrite(enc.bytes.data(), 1, enc.bytes.size(), stdout) != enc.bytes.size() ||
        std::fflush(stdout) != 0)
        Fail("cannot write to stdout");
    return 0;
}
