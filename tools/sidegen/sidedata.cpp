#include "tools/sidegen/sidedata.h"

#include <cstdio>
#include <map>
#include <optional>
#include <vector>

#include "platform/cp932.h"

namespace vos::sidegen {
namespace {

std::string Where(const std::string& file, std::size_t line) {
    return line == 0 ? file : file + ":" + std::to_string(line);
}

// One entry of a source: its text and the 1-based line it came from.
struct SourceLine {
    std::size_t number = 0;
    std::string_view text;
};

// The lines that carry entries: not empty, not a comment.
std::vector<SourceLine> EntryLines(std::string_view source) {
    if (source.starts_with("\xEF\xBB\xBF")) source.remove_prefix(3);
    std::vector<SourceLine> lines;
    std::size_t number = 0;
    while (!source.empty()) {
        ++number;
        const std::size_t end = source.find('\n');
        std::string_view line = source.substr(0, end);
        source.remove_prefix(end == std::string_view::npos ? source.size() : end + 1);
        if (line.ends_with('\r')) line.remove_suffix(1);
        if (line.empty() || line.front() == '#') continue;
        lines.push_back({number, line});
    }
    return lines;
}

std::string CodePoint(char32_t c) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "U+%04X", static_cast<unsigned>(c));
    return buf;
}

[[noreturn]] void FailUtf8(std::size_t at) {
    throw std::invalid_argument("malformed UTF-8 at byte " + std::to_string(at + 1));
}

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\u3000'; }

// Decodes a name and makes sure the program will show exactly this text: no control characters,
// no blanks at either end that nobody would notice in the source, and nothing that code page 932
// cannot carry (which would turn into '?'). Returns its code page 932 bytes.
std::string CheckedName(const std::string& file, const SourceLine& line, std::string_view utf8) {
    std::wstring name;
    try {
        name = DecodeUtf8(utf8);
    } catch (const std::invalid_argument& e) {
        throw SourceError(file, line.number, e.what());
    }
    if (name.empty()) throw SourceError(file, line.number, "the name is empty");
    if (IsBlank(name.front()) || IsBlank(name.back()))
        throw SourceError(file, line.number, "the name starts or ends with a blank");
    for (std::size_t i = 0; i < name.size(); ++i) {
        const wchar_t c = name[i];
        const std::string where = " (character " + std::to_string(i + 1) + ")";
        if (c < 0x20 || c == 0x7F)
            throw SourceError(file, line.number, "control character " + CodePoint(c) + where);
        const std::wstring one(1, c);
        if (FromCp932(ToCp932(one)) != one)
            throw SourceError(file, line.number,
                              CodePoint(c) + where + " has no counterpart in code page 932");
    }
    std::string bytes = ToCp932(name);
    // Per-character checks cannot see a pair that only fails together (a UTF-16 surrogate pair).
    if (FromCp932(bytes) != name)
        throw SourceError(file, line.number, "the name does not survive code page 932");
    return bytes;
}

void CheckLength(const std::string& file, const SourceLine& line, std::size_t bytes) {
    if (bytes > kMaxLineBytes)
        throw SourceError(file, line.number,
                          "the line takes " + std::to_string(bytes) + " bytes in code page 932; " +
                              std::to_string(kMaxLineBytes) + " at most");
}

void CheckCount(const std::string& file, const std::vector<SourceLine>& lines, std::size_t count,
                const char* what) {
    if (lines.size() > count)
        throw SourceError(file, lines[count].number,
                          "one " + std::string(what) + " too many: the file must hold exactly " +
                              std::to_string(count));
    if (lines.size() < count)
        throw SourceError(file, 0,
                          "only " + std::to_string(lines.size()) + " " + what + "s; exactly " +
                              std::to_string(count) + " needed");
}

// A virtual-key code: decimal or 0x hex, 1..254 (0 and 255 stand for no key).
std::optional<unsigned> ParseKeyCode(std::string_view text) {
    unsigned base = 10;
    if (text.starts_with("0x") || text.starts_with("0X")) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty() || text.size() > 4) return std::nullopt;
    unsigned value = 0;
    for (char ch : text) {
        unsigned digit;
        if (ch >= '0' && ch <= '9') digit = static_cast<unsigned>(ch - '0');
        else if (base == 16 && ch >= 'a' && ch <= 'f') digit = static_cast<unsigned>(ch - 'a' + 10);
        else if (base == 16 && ch >= 'A' && ch <= 'F') digit = static_cast<unsigned>(ch - 'A' + 10);
        else return std::nullopt;
        value = value * base + digit;
    }
    if (value < 1 || value > 254) return std::nullopt;
    return value;
}

}  // namespace

SourceError::SourceError(const std::string& file, std::size_t line, const std::string& problem)
    : std::runtime_error(Where(file, line) + ": " + problem), line_(line) {}

std::wstring DecodeUtf8(std::string_view text) {
    std::wstring out;
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length;
        char32_t c;
        char32_t least;  // the smallest value this length may carry; below it is an overlong form
        if (lead < 0x80) {
            length = 1, c = lead, least = 0;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2, c = lead & 0x1Fu, least = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3, c = lead & 0x0Fu, least = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4, c = lead & 0x07u, least = 0x10000;
        } else {
            FailUtf8(i);
        }
        if (text.size() - i < length) FailUtf8(i);
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) FailUtf8(i);
            c = (c << 6) | (next & 0x3Fu);
        }
        if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) FailUtf8(i);
        if constexpr (sizeof(wchar_t) == 2) {
            if (c >= 0x10000) {
                out.push_back(static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10)));
                out.push_back(static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
                i += length;
                continue;
            }
        }
        out.push_back(static_cast<wchar_t>(c));
        i += length;
    }
    return out;
}

std::string MakeInstrumentFile(std::string_view source, std::string_view fileName) {
    const std::string file(fileName);
    const std::vector<SourceLine> lines = EntryLines(source);
    CheckCount(file, lines, kInstrumentCount, "name");
    std::map<std::string, std::size_t> seen;  // code page 932 name -> its line
    std::string out;
    for (std::size_t program = 0; program < lines.size(); ++program) {
        const SourceLine& line = lines[program];
        const std::string name = CheckedName(file, line, line.text);
        if (auto [it, added] = seen.emplace(name, line.number); !added)
            throw SourceError(file, line.number,
                              "the same name as line " + std::to_string(it->second));
        // Numbered from 1, the way keyboards and their manuals count programs.
        std::string number = std::to_string(program + 1);
        number.insert(0, 3 - number.size(), '0');
        const std::string shown = number + " " + name;
        CheckLength(file, line, shown.size());
        out += shown;
        out += "\r\n";
    }
    return out;
}

void MakeKeyFiles(std::string_view source, std::string& names, std::string& values) {
    const std::string file = "keys.txt";
    const std::vector<SourceLine> lines = EntryLines(source);
    CheckCount(file, lines, kKeyCount, "key");
    std::map<unsigned, std::size_t> codes;      // key code -> its line
    std::map<std::string, std::size_t> shown;   // code page 932 name -> its line
    names.clear();
    values.clear();
    for (const SourceLine& line : lines) {
        const std::size_t tab = line.text.find('\t');
        if (tab == std::string_view::npos)
            throw SourceError(file, line.number, "expected \"<key code><tab><name>\"");
        const std::optional<unsigned> code = ParseKeyCode(line.text.substr(0, tab));
        if (!code)
            throw SourceError(file, line.number,
                              "the key code must be 1..254, in decimal or as 0x hex");
        if (auto [it, added] = codes.emplace(*code, line.number); !added)
            throw SourceError(file, line.number,
                              "the same key code as line " + std::to_string(it->second));
        const std::string name = CheckedName(file, line, line.text.substr(tab + 1));
        if (auto [it, added] = shown.emplace(name, line.number); !added)
            throw SourceError(file, line.number,
                              "the same name as line " + std::to_string(it->second));
        CheckLength(file, line, name.size());
        names += name;
        names += "\r\n";
        values.push_back(static_cast<char>(*code));
    }
    if (!codes.contains(kDefaultKeyCode))
        throw SourceError(file, 0,
                          "key code 0x7B (F12) is missing; the default shortcut Ctrl+F12 needs it");
}

SideFiles Generate(std::string_view gminstSource, std::string_view keysSource) {
    SideFiles files;
    files.gminst = MakeInstrumentFile(gminstSource);
    MakeKeyFiles(keysSource, files.vkname, files.vkvalue);
    return files;
}

}  // namespace vos::sidegen
