#include "app/settings.h"
#include "app/texts.h"

#include <algorithm>

#include "platform/cp932.h"

namespace vos {
namespace {

// Collects the file in a string: GCC 12 at -O3 reports false buffer overflows for byte-wise
// vector insertion here.
class Writer {
  public:
    void U8(std::uint8_t v) { Le(v, 1); }
    void U16(std::uint16_t v) { Le(v, 2); }
    void I16(std::int16_t v) { Le(static_cast<std::uint16_t>(v), 2); }
    void I32(std::int32_t v) { Le(static_cast<std::uint32_t>(v), 4); }
    void Raw(std::string_view s) { out_.append(s); }
    std::vector<std::uint8_t> Take() const { return {out_.begin(), out_.end()}; }

  private:
    void Le(std::uint32_t v, int width) {
        for (int i = 0; i < width; ++i) out_.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    }
    std::string out_;
};

// Reads little-endian fields; every read checks the bounds so a damaged file cannot run past its
// end.
class Reader {
  public:
    explicit Reader(const std::vector<std::uint8_t>& b) : bytes_(b) {}
    std::size_t Left() const { return bytes_.size() - pos_; }
    bool U8(std::uint8_t& v) {
        if (Left() < 1) return false;
        v = bytes_[pos_++];
        return true;
    }
    bool U16(std::uint16_t& v) {
        if (Left() < 2) return false;
        v = static_cast<std::uint16_t>(bytes_[pos_] | (bytes_[pos_ + 1] << 8));
        pos_ += 2;
        return true;
    }
    bool I16(std::int16_t& v) {
        std::uint16_t u = 0;
        if (!U16(u)) return false;
        v = static_cast<std::int16_t>(u);
        return true;
    }
    bool I32(std::int32_t& v) {
        if (Left() < 4) return false;
        std::uint32_t u = 0;
        for (int i = 0; i < 4; ++i) u |= static_cast<std::uint32_t>(bytes_[pos_ + i]) << (8 * i);
        pos_ += 4;
        v = static_cast<std::int32_t>(u);
        return true;
    }
    bool Raw(std::size_t n, std::string& out) {
        if (Left() < n) return false;
        out.assign(reinterpret_cast<const char*>(bytes_.data() + pos_), n);
        pos_ += n;
        return true;
    }
    bool Name(NameField& f) {
        std::string s;
        if (!Raw(f.size(), s)) return false;
        std::copy(s.begin(), s.end(), f.begin());
        return true;
    }
    bool Text(std::wstring& out) {
        std::uint16_t len = 0;
        std::string raw;
        if (!U16(len) || !Raw(len, raw)) return false;
        out = FromCp932(raw);
        return true;
    }

  private:
    const std::vector<std::uint8_t>& bytes_;
    std::size_t pos_ = 0;
};

std::string_view TrimBlanks(const char* data, std::size_t n) {
    while (n > 0 && data[n - 1] == ' ') --n;
    return {data, n};
}

}  // namespace

NameField MakeNameField(std::wstring_view name) {
    NameField field;
    field.fill(' ');
    std::string enc = ToCp932(name);
    std::size_t used = 0;
    while (used < enc.size()) {
        auto len = static_cast<std::size_t>(Cp932CharLength(static_cast<unsigned char>(enc[used])));
        if (used + len > field.size() || used + len > enc.size()) break;
        std::copy_n(enc.begin() + static_cast<std::ptrdiff_t>(used), len,
                    field.begin() + static_cast<std::ptrdiff_t>(used));
        used += len;
    }
    return field;
}

std::wstring NameFieldText(const NameField& field) {
    return FromCp932(TrimBlanks(field.data(), field.size()));
}

bool NameMatches(const NameField& stored, std::wstring_view currentName) {
    NameField current = MakeNameField(currentName);
    return TrimBlanks(stored.data(), stored.size()) == TrimBlanks(current.data(), current.size());
}

std::wstring JoinPath(std::wstring_view folder, std::wstring_view name) {
    std::wstring out(folder);
    if (out.empty() || out.back() != L'\\') out.push_back(L'\\');
    out.append(name);
    return out;
}

EncodeResult EncodeSettings(const SettingsRecord& h, const std::vector<LaunchCode>& codes) {
    EncodeResult result;
    Writer w;
    w.I32(h.MidiInDevice);
    w.Raw({h.MidiInName.data(), h.MidiInName.size()});
    w.I16(h.UseMidiOut);
    w.I32(h.MidiOutDevice);
    w.Raw({h.MidiOutName.data(), h.MidiOutName.size()});
    w.U8(h.Program);
    w.I16(h.UseShortcut);
    w.U8(h.ShortcutKey);
    w.U8(h.ShortcutModifiers);
    w.I32(static_cast<std::int32_t>(codes.size()));
    for (std::size_t i = 0; i < codes.size(); ++i) {
        std::string path = ToCp932(codes[i].Path);
        std::string command = ToCp932(codes[i].Command);
        // A 16-bit length cannot hold more; wrapping it would corrupt every entry after this one.
        if (path.size() > kMaxStoredText || command.size() > kMaxStoredText) {
            result.status = EncodeStatus::TextTooLong;
            result.badEntry = i;
            result.badIsPath = path.size() > kMaxStoredText;
            return result;
        }
        w.I32(codes[i].Code);
        w.U16(static_cast<std::uint16_t>(path.size()));
        w.Raw(path);
        w.U16(static_cast<std::uint16_t>(command.size()));
        w.Raw(command);
    }
    result.bytes = w.Take();
    return result;
}

DecodeResult DecodeSettings(const std::vector<std::uint8_t>& bytes) {
    DecodeResult result;
    SettingsRecord& h = result.header;
    Reader r(bytes);
    if (!(r.I32(h.MidiInDevice) && r.Name(h.MidiInName) && r.I16(h.UseMidiOut) &&
          r.I32(h.MidiOutDevice) && r.Name(h.MidiOutName) && r.U8(h.Program) &&
          r.I16(h.UseShortcut) && r.U8(h.ShortcutKey) && r.U8(h.ShortcutModifiers) &&
          r.I32(h.CodeCount))) {
        result.status = DecodeStatus::ShortHeader;
        return result;
    }
    // Every entry takes at least 8 bytes, so a count that cannot fit is known to be wrong before
    // anything is allocated for it.
    if (h.CodeCount < 1 || static_cast<std::size_t>(h.CodeCount) > r.Left() / kMinEntrySize) {
        result.status = DecodeStatus::BadCodeCount;
        return result;
    }
    std::vector<LaunchCode> codes;
    codes.reserve(static_cast<std::size_t>(h.CodeCount));
    for (std::int32_t i = 0; i < h.CodeCount; ++i) {
        LaunchCode c;
        if (!(r.I32(c.Code) && r.Text(c.Path) && r.Text(c.Command))) {
            result.status = DecodeStatus::ShortEntry;
            result.badEntry = static_cast<std::size_t>(i);
            return result;
        }
        codes.push_back(std::move(c));
    }
    result.codes = std::move(codes);
    return result;
}

SettingsRecord DefaultSettings(std::wstring_view midiIn0Name) {
    SettingsRecord h;
    h.MidiInDevice = 0;
    h.MidiInName = MakeNameField(midiIn0Name);
    h.UseMidiOut = kFalse16;
    h.MidiOutDevice = 0;
    h.MidiOutName = MakeNameField(std::wstring_view(L"\0", 1));
    h.Program = 0;
    h.UseShortcut = kFalse16;
    h.ShortcutKey = 123;      // F12
    h.ShortcutModifiers = kModControl;
    h.CodeCount = 1;
    return h;
}

std::vector<LaunchCode> DefaultCodes(std::wstring_view programFolder) {
    return {LaunchCode{0x91, JoinPath(programFolder, ManualFileName()), L""}};
}

std::wstring_view ManualFileName() {
    return CurrentLanguage() == Language::English ? kManualFileNameEnglish : kManualFileName;
}

ReadResult ReadSettings(Host& host, const std::wstring& path) {
    ReadResult result;
    std::vector<std::uint8_t> bytes;
    result.file = host.ReadWholeFile(path, bytes, kMaxSettingsFileBytes);
    if (result.file != FileStatus::Ok) {
        result.status = result.file == FileStatus::NotFound   ? ReadStatus::Missing
                        : result.file == FileStatus::TooLarge ? ReadStatus::TooLarge
                                                              : ReadStatus::CannotOpen;
        return result;
    }
    result.decoded = DecodeSettings(bytes);
    if (result.decoded.status != DecodeStatus::Ok) result.status = ReadStatus::Damaged;
    return result;
}

WriteResult WriteSettings(Host& host, const std::wstring& path, const SettingsRecord& header,
                          const std::vector<LaunchCode>& codes, Tail tail, std::size_t largest) {
    WriteResult result;
    EncodeResult enc = EncodeSettings(header, codes);
    if (enc.status != EncodeStatus::Ok) {
        result.status = WriteStatus::TextTooLong;
        result.badEntry = enc.badEntry;
        result.badIsPath = enc.badIsPath;
        return result;
    }
    if (enc.bytes.size() > largest) {
        result.status = WriteStatus::TooLarge;
        return result;
    }
    std::vector<std::uint8_t> bytes = std::move(enc.bytes);
    std::vector<std::uint8_t> old;
    if (tail == Tail::Keep && host.ReadWholeFile(path, old, kMaxSettingsFileBytes) == FileStatus::Ok &&
        old.size() > bytes.size()) {
        bytes.insert(bytes.end(), old.begin() + static_cast<std::ptrdiff_t>(bytes.size()),
                     old.end());
    }
    result.file = host.ReplaceFileContents(path, bytes);
    if (result.file != FileStatus::Ok) result.status = WriteStatus::CannotWrite;
    return result;
}

std::wstring DescribeReadProblem(const ReadResult& result, std::wstring_view path) {
    const std::wstring file = Fill(text::kSettingsFile, {path});
    switch (result.status) {
        case ReadStatus::Ok:
            return {};
        case ReadStatus::Missing:
            return FileReadProblem(FileStatus::NotFound, file);
        case ReadStatus::TooLarge:
            return FileReadProblem(FileStatus::TooLarge, file);
        case ReadStatus::CannotOpen:
            return FileReadProblem(result.file, file);
        case ReadStatus::Damaged:
            break;
    }
    const DecodeResult& d = result.decoded;
    std::wstring why;
    switch (d.status) {
        case DecodeStatus::ShortHeader:
            why = Text(text::kDamagedShort);
            break;
        case DecodeStatus::BadCodeCount:
            why = Fill(text::kDamagedCount, {std::to_wstring(d.header.CodeCount)});
            break;
        case DecodeStatus::ShortEntry:
            why = Fill(text::kDamagedEntry, {EntryNumber(d.badEntry)});
            break;
        case DecodeStatus::Ok:
            break;
    }
    return Fill(text::kDamaged, {file, why});
}

std::wstring DescribeWriteProblem(const WriteResult& result, std::wstring_view path) {
    switch (result.status) {
        case WriteStatus::Ok:
            return {};
        case WriteStatus::TextTooLong:
            return Fill(text::kTextTooLong,
                        {EntryNumber(result.badEntry),
                         Text(result.badIsPath ? text::kPath : text::kParameters)});
        case WriteStatus::TooLarge:
            return Fill(text::kSettingsTooLarge,
                        {std::to_wstring(kMaxSettingsFileBytes / (1024 * 1024))});
        case WriteStatus::CannotWrite:
            break;
    }
    return FileWriteProblem(result.file, Fill(text::kSettingsFile, {path}));
}

}  // namespace vos
