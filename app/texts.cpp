#include "app/texts.h"

namespace vos {
namespace {

// Set once by the start, read everywhere after it.
Language language = Language::Japanese;

text::Key Reason(FileStatus status) {
    switch (status) {
        case FileStatus::NotFound:
            return text::kReasonNotFound;
        case FileStatus::AccessDenied:
            return text::kReasonAccessDenied;
        case FileStatus::IsFolder:
            return text::kReasonIsFolder;
        case FileStatus::DiskFull:
            return text::kReasonDiskFull;
        case FileStatus::TooLarge:
            return text::kReasonTooLarge;
        case FileStatus::Ok:
        case FileStatus::OtherError:
            break;
    }
    return text::kReasonOther;
}

bool SameLetters(std::wstring_view a, std::wstring_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const wchar_t x = a[i] >= L'A' && a[i] <= L'Z' ? a[i] - L'A' + L'a' : a[i];
        if (x != b[i]) return false;
    }
    return true;
}

}  // namespace

Language CurrentLanguage() { return language; }
void SetLanguage(Language chosen) { language = chosen; }

Language ChooseLanguage(std::uint16_t uiLanguage, std::wstring_view commandLine) {
    constexpr std::uint16_t kPrimaryLanguageMask = 0x3FF;
    constexpr std::uint16_t kLangJapanese = 0x11;
    Language chosen = (uiLanguage & kPrimaryLanguageMask) == kLangJapanese ? Language::Japanese
                                                                           : Language::English;
    // Words are what lies between blanks; a switch inside quotes is part of a file name.
    std::size_t at = 0;
    while (at < commandLine.size()) {
        while (at < commandLine.size() && (commandLine[at] == L' ' || commandLine[at] == L'\t'))
            ++at;
        std::size_t end = at;
        bool quoted = false;
        while (end < commandLine.size() &&
               (quoted || (commandLine[end] != L' ' && commandLine[end] != L'\t'))) {
            if (commandLine[end] == L'"') quoted = !quoted;
            ++end;
        }
        const std::wstring_view word = commandLine.substr(at, end - at);
        if (SameLetters(word, L"/lang:ja")) chosen = Language::Japanese;
        if (SameLetters(word, L"/lang:en")) chosen = Language::English;
        at = end;
    }
    return chosen;
}

const wchar_t* Text(text::Key key) { return Text(key, language); }

std::string_view KeyName(text::Key key) { return text::kKeyNames[static_cast<std::size_t>(key)]; }

std::optional<text::Key> KeyNamed(std::string_view name) {
    for (std::size_t i = 0; i < text::kCount; ++i) {
        if (text::kKeyNames[i] == name) return static_cast<text::Key>(i);
    }
    return std::nullopt;
}

std::wstring Fill(std::wstring_view text, std::initializer_list<std::wstring_view> values) {
    std::wstring out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        // {1} to {9}: no text has more values than that.
        if (text[i] == L'{' && i + 2 < text.size() && text[i + 2] == L'}' && text[i + 1] >= L'1' &&
            text[i + 1] <= L'9') {
            const std::size_t n = static_cast<std::size_t>(text[i + 1] - L'1');
            if (n < values.size()) {
                out += values.begin()[n];
                i += 2;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

std::wstring Fill(text::Key key, std::initializer_list<std::wstring_view> values) {
    return Fill(Text(key), values);
}

std::wstring EntryNumber(std::size_t index) { return L" " + std::to_wstring(index + 1); }

std::wstring FileReadProblem(FileStatus status, std::wstring_view file) {
    switch (status) {
        case FileStatus::Ok:
            return {};
        case FileStatus::NotFound:
            return Fill(text::kFileNotFound, {file});
        case FileStatus::TooLarge:
            return Fill(text::kFileTooLarge, {file});
        default:
            return Fill(text::kFileUnreadable, {file}) + L"\r" + Text(Reason(status));
    }
}

std::wstring FileWriteProblem(FileStatus status, std::wstring_view file) {
    if (status == FileStatus::Ok) return {};
    return Fill(text::kFileUnwritable, {file}) + L"\r" + Text(Reason(status));
}

}  // namespace vos
