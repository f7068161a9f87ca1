#include "app/texts.h"

namespace vos {
namespace {

std::wstring_view Reason(FileStatus status) {
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

}  // namespace

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
            return Fill(text::kFileUnreadable, {file}) + L"\r" + std::wstring(Reason(status));
    }
}

std::wstring FileWriteProblem(FileStatus status, std::wstring_view file) {
    if (status == FileStatus::Ok) return {};
    return Fill(text::kFileUnwritable, {file}) + L"\r" + std::wstring(Reason(status));
}

}  // namespace vos
