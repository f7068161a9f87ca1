#include <gtest/gtest.h>

#include "app/app.h"
#include "app/modMain.h"
#include "app/settings.h"
#include "platform/cp932.h"
#include "sim/sim_host.h"
#include "test_util.h"

namespace vos {
namespace {

using test::Append;
using test::AppendLe;

std::string Padded(const std::string& s) { return s + std::string(32 - s.size(), ' '); }

SettingsRecord SampleHeader() {
    SettingsRecord h;
    h.MidiInDevice = 1;
    h.MidiInName = MakeNameField(L"鍵盤 In");
    h.UseMidiOut = kTrue16;
    h.MidiOutDevice = -1;
    h.MidiOutName = MakeNameField(L"Synth");
    h.Program = 127;
    h.UseShortcut = kTrue16;
    h.ShortcutKey = 0x7B;
    h.ShortcutModifiers = 5;
    return h;
}

TEST(SettingsFile, HeaderAndTwoEntriesByteForByte) {
    std::vector<LaunchCode> codes = {
        {0x91, L"C:\\音楽\\曲.mid", L"/play"},
        {0x800, L"D:\\x", L""},
    };
    EncodeResult enc = EncodeSettings(SampleHeader(), codes);
    ASSERT_EQ(enc.status, EncodeStatus::Ok);

    std::vector<std::uint8_t> want;
    AppendLe(want, 1, 4);                                // 0  MidiInDevice
    Append(want, Padded(ToCp932(L"鍵盤 In")));           // 4  MidiInName
    AppendLe(want, 0xFFFF, 2);                           // 36 UseMidiOut
    AppendLe(want, 0xFFFFFFFF, 4);                       // 38 MidiOutDevice -1
    Append(want, Padded("Synth"));                       // 42 MidiOutName
    want.push_back(127);                                 // 74 Program
    AppendLe(want, 0xFFFF, 2);                           // 75 UseShortcut
    want.push_back(0x7B);                                // 77 ShortcutKey
    want.push_back(5);                                   // 78 ShortcutModifiers
    AppendLe(want, 2, 4);                                // 79 CodeCount
    ASSERT_EQ(want.size(), kHeaderSize);
    const std::string path0 = "C:\\\x89\xb9\x8a\x79\\\x8b\xc8.mid";
    AppendLe(want, 0x91, 4);
    AppendLe(want, path0.size(), 2);
    Append(want, path0);
    AppendLe(want, 5, 2);
    Append(want, "/play");
    AppendLe(want, 0x800, 4);
    AppendLe(want, 4, 2);
    Append(want, "D:\\x");
    AppendLe(want, 0, 2);  // an empty Command is its length field alone
    EXPECT_EQ(enc.bytes, want);

    DecodeResult back = DecodeSettings(enc.bytes);
    ASSERT_EQ(back.status, DecodeStatus::Ok);
    EXPECT_EQ(back.codes, codes);
    EXPECT_EQ(back.header.CodeCount, 2);
    EXPECT_EQ(back.header.MidiOutDevice, -1);
    EXPECT_EQ(back.header.ShortcutModifiers, 5);
    EXPECT_EQ(NameFieldText(back.header.MidiInName), L"鍵盤 In");
}

TEST(SettingsFile, DefaultsAreExactlyHeaderPlusOneEntry) {
    sim::SimHost host;
    host.inputs = {L"USB MIDI"};
    App app(host);
    const std::wstring path = ConfigPath(app);
    ASSERT_EQ(WriteSettings(host, path, DefaultSettings(L"USB MIDI"), DefaultCodes(host.folder)).status,
              WriteStatus::Ok);
    const auto& bytes = host.files.at(path).bytes;
    const std::string manual = ToCp932(L"C:\\Vosselmar\\説明書.htm");
    ASSERT_EQ(bytes.size(), 83u + 4 + 2 + manual.size() + 2);

    std::vector<std::uint8_t> want;
    AppendLe(want, 0, 4);
    Append(want, Padded("USB MIDI"));
    AppendLe(want, 0, 2);
    AppendLe(want, 0, 4);
    want.push_back(0);  // MidiOutName: one character of code 0, then 31 blanks
    Append(want, std::string(31, ' '));
    want.push_back(0);
    AppendLe(want, 0, 2);
    want.push_back(123);
    want.push_back(2);
    AppendLe(want, 1, 4);
    AppendLe(want, 0x91, 4);
    AppendLe(want, manual.size(), 2);
    Append(want, manual);
    AppendLe(want, 0, 2);
    EXPECT_EQ(bytes, want);
}

TEST(SettingsFile, ShorterRewriteKeepsOldTailAndReadsOnlyNewEntries) {
    sim::SimHost host;
    const std::wstring path = host.InFolder(L"config.bin");
    std::vector<LaunchCode> three = {{1, L"a", L""}, {2, L"b", L""}, {4, L"c", L"long parameters"}};
    ASSERT_EQ(WriteSettings(host, path, SampleHeader(), three).status, WriteStatus::Ok);
    std::size_t oldSize = host.files[path].bytes.size();
    std::vector<LaunchCode> one = {{7, L"z", L""}};
    ASSERT_EQ(WriteSettings(host, path, SampleHeader(), one).status, WriteStatus::Ok);
    EXPECT_EQ(host.files[path].bytes.size(), oldSize);
    ReadResult r = ReadSettings(host, path);
    ASSERT_EQ(r.status, ReadStatus::Ok);
    EXPECT_EQ(r.decoded.codes, one);

    // Entries that end where an old record begins, whose texts are what that record's held with
    // '?': the record is not theirs.
    const std::vector<LaunchCode> exact = {{7, L"z", L"é"}}, literal = {{7, L"z", L"?"}};
    ASSERT_EQ(WriteSettings(host, path, SampleHeader(), exact).status, WriteStatus::Ok);
    ASSERT_EQ(ReadSettings(host, path).decoded.codes, exact);
    ASSERT_EQ(WriteSettings(host, path, SampleHeader(), literal).status, WriteStatus::Ok);
    EXPECT_EQ(ReadSettings(host, path).decoded.codes, literal);
}

// Texts code page 932 cannot hold: the entries are what they would be with '?' in their place, as
// older readers read them, and the exact texts follow in one record, pinned here byte for byte.
TEST(SettingsFile, TextsOutsideCodePage932ComeBackExactly) {
    const std::vector<LaunchCode> one = {{0x91, L"é", L"😀"}};
    const EncodeResult enc = EncodeSettings(SampleHeader(), one);
    std::vector<std::uint8_t> want = EncodeSettings(SampleHeader(), {{0x91, L"?", L"?"}}).bytes;
    ASSERT_EQ(enc.entriesEnd, want.size());
    Append(want, "VOSUTF16");
    AppendLe(want, 48, 4);         // the record's length, signature to checksum
    AppendLe(want, 1, 4);          // the file's CodeCount
    AppendLe(want, 1, 4);          // items
    AppendLe(want, 0, 4);          // the item's entry
    Append(want, {"\x01\0?\x01\0?", 6});  // that entry's Path and Command as stored
    AppendLe(want, 1, 4);          // Path in UTF-16LE
    AppendLe(want, 0xE9, 2);
    AppendLe(want, 2, 4);          // Command: a surrogate pair
    AppendLe(want, 0xDE00D83D, 4);
    AppendLe(want, 0xBD46DE0D, 4);  // CRC-32 of all before it
    EXPECT_EQ(enc.bytes, want);

    const std::wstring plain = L"C:\\音楽\\曲.mid";
    const struct {
        const char* label;
        std::wstring path, command;
    } cases[] = {
        {"Latin", L"C:\\Users\\José\\Música\\Set 1.flp", L"/é ú"},
        {"Cyrillic", L"D:\\Музика\\Київ.mid", L"Ґ"},
        {"Greek", plain, L"--τίτλος=Ωδή"},
        {"CJK outside code page 932", L"C:\\龘\\𠮷野家.mp3", L"鷗"},
        {"emoji", L"C:\\😀\\🎹 x.flp", L"😀"},
        {"an unpaired surrogate", L"C:\\a\xD800b", L"\xDC00"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const std::vector<LaunchCode> codes = {
            {1, plain, L"/p"}, {0x91, c.path, c.command}, {2, L"D:\\x", L""}};
        const EncodeResult e = EncodeSettings(SampleHeader(), codes);
        std::vector<LaunchCode> asOlderReadersSeeThem = codes;
        for (LaunchCode& code : asOlderReadersSeeThem) {
            code.Path = FromCp932(ToCp932(code.Path));
            code.Command = FromCp932(ToCp932(code.Command));
        }
        const std::vector<std::uint8_t> entries(e.bytes.begin(),
                                                e.bytes.begin() + static_cast<std::ptrdiff_t>(e.entriesEnd));
        EXPECT_EQ(entries, EncodeSettings(SampleHeader(), asOlderReadersSeeThem).bytes);
        EXPECT_EQ(DecodeSettings(e.bytes).codes, codes);
    }
}

// A record that does not prove to belong to the entries it follows is ignored: the file reads as
// an older reader reads it, with '?' in the texts.
TEST(SettingsFile, RecordsThatDoNotBelongToTheirEntriesAreIgnored) {
    const std::vector<LaunchCode> codes = {{0x91, L"C:\\é.mid", L"ї"}, {2, L"D:\\x", L""}};
    const EncodeResult good = EncodeSettings(SampleHeader(), codes);
    const auto at = static_cast<std::ptrdiff_t>(good.entriesEnd);
    const std::vector<std::uint8_t> record(good.bytes.begin() + at, good.bytes.end());
    // The record of `codes` behind other entries, as an older program leaves it when it rewrites
    // the file in place.
    const auto behind = [&](std::vector<LaunchCode> others) {
        EncodeResult e = EncodeSettings(SampleHeader(), others);
        e.bytes.insert(e.bytes.end(), record.begin(), record.end());
        return e.bytes;
    };
    const auto changed = [&](std::ptrdiff_t offset) {
        std::vector<std::uint8_t> b = good.bytes;
        b[static_cast<std::size_t>(at + offset)] ^= 0x20;
        return b;
    };
    const std::vector<LaunchCode> fallback = {{0x91, L"C:\\?.mid", L"?"}, {2, L"D:\\x", L""}};
    const struct {
        const char* label;
        std::vector<std::uint8_t> bytes;
        std::vector<LaunchCode> read;
    } cases[] = {
        {"another signature", changed(0), fallback},
        {"a changed character", changed(33), fallback},
        {"a length past the end", changed(8), fallback},
        {"cut short", {good.bytes.begin(), good.bytes.end() - 1}, fallback},
        {"an entry added", behind({fallback[0], fallback[1], {4, L"E:\\y", L""}}),
         {fallback[0], fallback[1], {4, L"E:\\y", L""}}},
        {"an entry removed", behind({fallback[0]}), {fallback[0]}},
        {"entries in another order", behind({fallback[1], fallback[0]}), {fallback[1], fallback[0]}},
        {"the path changed", behind({{0x91, L"C:\\a.mid", L"?"}, fallback[1]}),
         {{0x91, L"C:\\a.mid", L"?"}, fallback[1]}},
        {"the same entries", behind(fallback), codes},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const DecodeResult d = DecodeSettings(c.bytes);
        ASSERT_EQ(d.status, DecodeStatus::Ok);
        EXPECT_EQ(d.codes, c.read);
    }
}

TEST(SettingsFile, TextsLongerThanTheLengthFieldAreRefusedNotWrapped) {
    sim::SimHost host;
    const std::wstring path = host.InFolder(L"config.bin");
    const std::wstring fits(65535, L'x');
    const std::wstring tooLong(65536, L'x');
    const std::wstring tooLongJapanese(32768, L'あ');  // 65 536 bytes in code page 932

    EXPECT_EQ(WriteSettings(host, path, SampleHeader(), {{1, fits, fits}}).status, WriteStatus::Ok);
    ReadResult r = ReadSettings(host, path);
    ASSERT_EQ(r.status, ReadStatus::Ok);
    EXPECT_EQ(r.decoded.codes[0].Path.size(), 65535u);

    struct Case {
        std::vector<LaunchCode> codes;
        std::size_t badEntry;
        bool isPath;
    } cases[] = {
        {{{1, tooLong, L""}}, 0, true},
        {{{1, L"ok", L""}, {2, L"ok", tooLong}}, 1, false},
        {{{1, tooLongJapanese, L""}}, 0, true},
    };
    for (const Case& c : cases) {
        sim::SimHost fresh;
        WriteResult w = WriteSettings(fresh, path, SampleHeader(), c.codes);
        EXPECT_EQ(w.status, WriteStatus::TextTooLong);
        EXPECT_EQ(w.badEntry, c.badEntry);
        EXPECT_EQ(w.badIsPath, c.isPath);
        EXPECT_EQ(fresh.files.count(path), 0u) << "nothing may be written";
    }
    WriteResult w{WriteStatus::TextTooLong, FileStatus::Ok, 1, false};
    EXPECT_EQ(DescribeWriteProblem(w, path), L" 2番目の起動コードのパラメータが長すぎます。\r65535バイト以内にしてください。");
}

// A file the reader would refuse at the next start is refused when saving, and the old one stays.
TEST(SettingsFile, SettingsLargerThanTheReaderTakesAreRefusedBeforeWriting) {
    sim::SimHost host;
    const std::wstring path = host.InFolder(L"config.bin");
    const std::vector<LaunchCode> two = {{1, L"a", L""}, {2, L"b", L""}};
    ASSERT_EQ(WriteSettings(host, path, SampleHeader(), two).status, WriteStatus::Ok);
    const std::vector<std::uint8_t> before = host.files.at(path).bytes;

    const std::size_t size = EncodeSettings(SampleHeader(), two).bytes.size();
    EXPECT_EQ(WriteSettings(host, path, SampleHeader(), two, Tail::Keep, size).status, WriteStatus::Ok);
    WriteResult w = WriteSettings(host, path, SampleHeader(), two, Tail::Keep, size - 1);
    EXPECT_EQ(w.status, WriteStatus::TooLarge);
    EXPECT_EQ(host.files.at(path).bytes, before);
    EXPECT_EQ(DescribeWriteProblem(w, path),
              L"設定が大きすぎて保存できません（64MBまで）。\r"
              L"起動コードを減らすか、パスやパラメータを短くしてください。");
}

// A device's name is stored in 32 bytes, cut before a character that does not fit and padded
// with blanks; trailing blanks are not compared. Whatever the name, the first start stores it so
// that the next start recognises the device.
TEST(NameField, StoredNamesRecogniseTheirDeviceAtEveryLength) {
    const std::wstring name31(31, L'n');
    const struct {
        const char* label;
        std::wstring name;
        std::string field;                      // the 32 stored bytes, without the padding blanks
        std::vector<std::wstring> others = {};  // names it must not match
    } cases[] = {
        {"31 letters", name31, std::string(31, 'n'), {name31 + L"x", std::wstring(31, L'N')}},
        {"31 bytes", std::wstring(15, L'鍵') + L"1", ToCp932(std::wstring(15, L'鍵')) + "1"},
        {"32 bytes", std::wstring(16, L'鍵'), ToCp932(std::wstring(16, L'鍵'))},
        {"33 bytes, a character across the end", L"1" + std::wstring(16, L'鍵'),
         "1" + ToCp932(std::wstring(15, L'鍵'))},
        {"34 bytes", std::wstring(17, L'鍵'), ToCp932(std::wstring(16, L'鍵'))},
        {"31 characters", std::wstring(31, L'盤'), ToCp932(std::wstring(16, L'盤'))},
        {"half-width kana", std::wstring(31, L'ｱ'), std::string(31, '\xB1')},
        {"ending in a blank", L"鍵盤 ", ToCp932(L"鍵盤")},
        {"ending in a blank, in ASCII", L"Port ", "Port"},
        {"32 bytes ending in a blank", std::wstring(15, L'鍵') + L"x ",
         ToCp932(std::wstring(15, L'鍵')) + "x"},
        {"empty", L"", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const std::string padded = c.field + std::string(32 - c.field.size(), ' ');
        const NameField made = MakeNameField(c.name);
        EXPECT_EQ(std::string(made.begin(), made.end()), padded);
        EXPECT_TRUE(NameMatches(made, c.name));
        for (const std::wstring& other : c.others) EXPECT_FALSE(NameMatches(made, other));

        sim::SimHost first;
        first.inputs = {c.name};
        first.answers = {kIdYes};
        App a(first);
        Main(a);
        ASSERT_TRUE(a.Running());
        const NameField stored = ReadSettings(first, ConfigPath(a)).decoded.header.MidiInName;
        EXPECT_EQ(std::string(stored.begin(), stored.end()), padded);

        sim::SimHost next;
        next.inputs = {c.name};
        next.files = first.files;
        App b(next);
        Main(b);
        EXPECT_TRUE(next.boxes.empty()) << sim::Utf8(next.boxes.empty() ? L"" : next.boxes[0].text);
        EXPECT_EQ(next.modalShown, 0);
        EXPECT_EQ(next.openInputs.size(), 1u);
    }
    // The default output, a character of code 0, names no device, not even one without a name.
    EXPECT_FALSE(NameMatches(DefaultSettings(L"x").MidiOutName, L""));
}

TEST(Paths, JoinUsesExactlyOneBackslash) {
    EXPECT_EQ(JoinPath(L"C:\\Tools\\Vosselmar", L"config.bin"), L"C:\\Tools\\Vosselmar\\config.bin");
    EXPECT_EQ(JoinPath(L"C:\\", L"config.bin"), L"C:\\config.bin");
    EXPECT_EQ(JoinPath(L"\\\\server\\share\\", L"a"), L"\\\\server\\share\\a");
}

TEST(FileExists, AnyAttributesAndFolders) {
    sim::SimHost host;
    App app(host);
    const std::uint32_t attributes[] = {0, 1, 2, 4, 1 | 2 | 4, 16, 16 | 2};
    for (std::uint32_t a : attributes) {
        host.files.clear();
        host.PutFile(L"config.bin", {}, a);
        EXPECT_TRUE(FileExists(app, host.InFolder(L"config.bin"))) << a;
    }
    host.files.clear();
    EXPECT_FALSE(FileExists(app, host.InFolder(L"config.bin")));
}

}  // namespace
}  // namespace vos
