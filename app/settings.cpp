#include "app/settings.h"
#include "app/texts.h"

#include <algorithm>

#include "platform/cp932.h"

namespace vos {
namespace {

// The record of exact texts (see docs/config-format.md): its signature, then its length, the
// entries' count and the number of items, and at its end a CRC-32 of everything before it.
constexpr std::string_view kExactSignature = "VOSUTF16";
constexpr std::size_t kExactFixedSize = kExactSignature.size() + 4 + 4 + 4 + 4;

// The exact texts are stored as UTF-16, the system's own form of file names. wchar_t is UTF-16 on
// Windows and UTF-32 elsewhere (the tests); either way a text comes back as it went, an unpaired
// surrogate included.
std::u16string ToUtf16(std::wstring_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (wchar_t c : text) {
        const auto v = static_cast<std::uint32_t>(c);
        if (v < 0x10000) {
            out.push_back(static_cast<char16_t>(v));
        } else if (v <= 0x10FFFF) {
            out.push_back(static_cast<char16_t>(0xD800 + ((v - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((v - 0x10000) & 0x3FF)));
        } else {
            out.push_back(u'\uFFFD');
        }
    }
    return out;
}

std::wstring FromUtf16(std::u16string_view units) {
    std::wstring out;
    out.reserve(units.size());
    for (std::size_t i = 0; i < units.size(); ++i) {
        std::uint32_t v = units[i];
        if constexpr (sizeof(wchar_t) == 4) {
            if (v >= 0xD800 && v < 0xDC00 && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
                units[i + 1] < 0xE000) {
                v = 0x10000 + ((v - 0xD800) << 10) + (units[++i] - 0xDC00u);
            }
        }
        out.push_back(static_cast<wchar_t>(v));
    }
    return out;
}

// CRC-32 as zip and PNG compute it (reflected, polynomial 0xEDB88320).
std::uint32_t Crc32(const std::uint8_t* data, std::size_t size) {
    static const std::array<std::uint32_t, 256> table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t n = 0; n < 256; ++n) {
            std::uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1u) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < size; ++i) crc = table[(crc ^ data[i]) & 0xFFu] ^ (crc >> 8);
    return ~crc;
}

std::uint32_t Crc32(std::string_view bytes) {
    return Crc32(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

// Collects the file in a string: GCC 12 at -O3 reports false buffer overflows for byte-wise
// vector insertion here.
class Writer {
  public:
    void U8(std::uint8_t v) { Le(v, 1); }
    void U16(std::uint16_t v) { Le(v, 2); }
    void I16(std::int16_t v) { Le(static_cast<std::uint16_t>(v), 2); }
    void I32(std::int32_t v) { Le(static_cast<std::uint32_t>(v), 4); }
    void U32(std::uint32_t v) { Le(v, 4); }
    void Raw(std::string_view s) { out_.append(s); }
    // A text with the 16-bit length before it, as the entries store theirs.
    void Text(std::string_view s) {
        U16(static_cast<std::uint16_t>(s.size()));
        Raw(s);
    }
    void Utf16(const std::u16string& units) {
        U32(static_cast<std::uint32_t>(units.size()));
        for (char16_t u : units) U16(u);
    }
    std::size_t Size() const { return out_.size(); }
    std::string_view Written() const { return out_; }
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
    explicit Reader(const std::vector<std::uint8_t>& b) : data_(b.data()), size_(b.size()) {}
    Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::size_t Left() const { return size_ - pos_; }
    std::size_t Pos() const { return pos_; }
    bool U8(std::uint8_t& v) {
        if (Left() < 1) return false;
        v = data_[pos_++];
        return true;
    }
    bool U16(std::uint16_t& v) {
        if (Left() < 2) return false;
        v = static_cast<std::uint16_t>(data_[pos_] | (data_[pos_ + 1] << 8));
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
        for (int i = 0; i < 4; ++i) u |= static_cast<std::uint32_t>(data_[pos_ + i]) << (8 * i);
        pos_ += 4;
        v = static_cast<std::int32_t>(u);
        return true;
    }
    bool U32(std::uint32_t& v) {
        std::int32_t i = 0;
        if (!I32(i)) return false;
        v = static_cast<std::uint32_t>(i);
        return true;
    }
    bool Raw(std::size_t n, std::string& out) {
        if (Left() < n) return false;
        out.assign(reinterpret_cast<const char*>(data_ + pos_), n);
        pos_ += n;
        return true;
    }
    bool Name(NameField& f) {
        std::string s;
        if (!Raw(f.size(), s)) return false;
        std::copy(s.begin(), s.end(), f.begin());
        return true;
    }
    bool StoredText(std::string& raw) {
        std::uint16_t len = 0;
        return U16(len) && Raw(len, raw);
    }
    bool Text(std::wstring& out) {
        std::string raw;
        if (!StoredText(raw)) return false;
        out = FromCp932(raw);
        return true;
    }
    bool Utf16(std::wstring& out) {
        std::uint32_t units = 0;
        if (!U32(units) || Left() / 2 < units) return false;
        std::u16string text(units, u'\0');
        for (char16_t& u : text) {
            std::uint16_t v = 0;
            U16(v);
            u = v;
        }
        out = FromUtf16(text);
        return true;
    }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
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
    // The items of the record of exact texts: one for each entry whose texts code page 932 cannot
    // hold. Their entries hold the system's conversion, as every reader expects.
    Writer items;
    std::uint32_t itemCount = 0;
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
        w.Text(path);
        w.Text(command);
        if (FromCp932(path) == codes[i].Path && FromCp932(command) == codes[i].Command) continue;
        items.U32(static_cast<std::uint32_t>(i));
        items.Text(path);
        items.Text(command);
        items.Utf16(ToUtf16(codes[i].Path));
        items.Utf16(ToUtf16(codes[i].Command));
        ++itemCount;
    }
    result.entriesEnd = w.Size();
    if (itemCount > 0) {
        Writer record;
        record.Raw(kExactSignature);
        // Beyond 4 GB the length would wrap; such a file is refused for its size before writing.
        record.U32(static_cast<std::uint32_t>(kExactFixedSize + items.Size()));
        record.I32(static_cast<std::int32_t>(codes.size()));
        record.U32(itemCount);
        record.Raw(items.Written());
        record.U32(Crc32(record.Written()));
        w.Raw(record.Written());
    }
    result.bytes = w.Take();
    return result;
}

namespace {

// Applies the record of exact texts that starts at `at`, but only when it proves to be the one
// written with these very entries: its signature, length and checksum are whole, it counts as many
// entries, and each item repeats the code page 932 bytes its entry holds, which its texts convert
// to. Anything else (damage, a record an older program left behind when it rewrote the file, one
// written for other entries) leaves every entry as it was read, as an older reader sees it.
// textsAt: where each entry's Path length field starts.
void ApplyExactTexts(const std::vector<std::uint8_t>& bytes, std::size_t at,
                     const std::vector<std::size_t>& textsAt, std::vector<LaunchCode>& codes) {
    const std::uint8_t* record = bytes.data() + at;
    Reader head(record, bytes.size() - at);
    std::string signature;
    std::uint32_t length = 0;
    if (!head.Raw(kExactSignature.size(), signature) || signature != kExactSignature ||
        !head.U32(length) || length < kExactFixedSize || length > bytes.size() - at) {
        return;
    }
    std::uint32_t checksum = 0;
    Reader(record + length - 4, 4).U32(checksum);
    if (Crc32(record, length - 4) != checksum) return;

    Reader body(record + head.Pos(), length - head.Pos() - 4);
    std::int32_t count = 0;
    std::uint32_t itemCount = 0;
    if (!body.I32(count) || static_cast<std::size_t>(count) != codes.size() ||
        !body.U32(itemCount) || itemCount > codes.size()) {
        return;
    }
    std::vector<std::pair<std::size_t, LaunchCode>> exact;
    for (std::uint32_t k = 0; k < itemCount; ++k) {
        std::uint32_t index = 0;
        std::string path, command, ownPath, ownCommand;
        LaunchCode texts;
        if (!body.U32(index) || index >= codes.size() ||
            (!exact.empty() && index <= exact.back().first) || !body.StoredText(path) ||
            !body.StoredText(command) || !body.Utf16(texts.Path) || !body.Utf16(texts.Command)) {
            return;
        }
        Reader entry(bytes.data() + textsAt[index], bytes.size() - textsAt[index]);
        entry.StoredText(ownPath);
        entry.StoredText(ownCommand);
        if (path != ownPath || command != ownCommand || ToCp932(texts.Path) != path ||
            ToCp932(texts.Command) != command) {
            return;
        }
        exact.emplace_back(index, std::move(texts));
    }
    if (body.Left() != 0) return;
    for (auto& [index, texts] : exact) {
        codes[index].Path = std::move(texts.Path);
        codes[index].Command = std::move(texts.Command);
    }
}

}  // namespace

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
    std::vector<std::size_t> textsAt;
    textsAt.reserve(static_cast<std::size_t>(h.CodeCount));
    for (std::int32_t i = 0; i < h.CodeCount; ++i) {
        LaunchCode c;
        bool read = r.I32(c.Code);
        textsAt.push_back(r.Pos());
        if (!(read && r.Text(c.Path) && r.Text(c.Command))) {
            result.status = DecodeStatus::ShortEntry;
            result.badEntry = static_cast<std::size_t>(i);
            return result;
        }
        codes.push_back(std::move(c));
    }
    ApplyExactTexts(bytes, r.Pos(), textsAt, codes);
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
        const auto end = old.begin() + static_cast<std::ptrdiff_t>(bytes.size());
        // Right behind entries that need no record, an old one would be read as theirs if it still
        // matched them: left by entries of the same bytes, whose texts held '?' where it has
        // other characters. Only then do the old bytes go.
        bool oldRecordApplies = enc.entriesEnd == bytes.size() &&
                                old.size() - bytes.size() >= kExactSignature.size() &&
                                std::equal(kExactSignature.begin(), kExactSignature.end(), end);
        if (oldRecordApplies) {
            std::vector<std::uint8_t> kept = bytes;
            kept.insert(kept.end(), end, old.end());
            oldRecordApplies = DecodeSettings(kept).codes != DecodeSettings(bytes).codes;
        }
        if (!oldRecordApplies) bytes.insert(bytes.end(), end, old.end());
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
