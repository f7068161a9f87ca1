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
