// The side files are committed as binaries beside the UTF-8 text they are made from. These tests
// keep the two in step, make sure the generator refuses sources the dialog could not show
// faithfully, and read damaged files the way the dialog does.
#include "config_dialog/side_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "app/app.h"
#include "app/frmMain.h"
#include "app/modMain.h"
#include "app/settings.h"
#include "app/texts.h"
#include "config_dialog/frmConfig.h"
#include "sim/sim_host.h"
#include "test_util.h"

// Compiled in directly: the unit test target knows nothing about the tools/ build.
#include "tools/sidegen/sidedata.cpp"

namespace vos {
namespace {

namespace fs = std::filesystem;

const fs::path kResources = fs::path(VOS_SOURCE_DIR) / "resources";

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string Source(const char* name) { return ReadFile(kResources / "side_files" / name); }

std::vector<std::uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

// --- the committed files ---

TEST(SideFilesCommitted, MatchTheirSources) {
    const sidegen::SideFiles made = sidegen::Generate(Source("gminst.txt"), Source("keys.txt"));
    EXPECT_EQ(ReadFile(kResources / "gminst.bin"), made.gminst) << "run the sidefiles target";
    EXPECT_EQ(ReadFile(kResources / "vkname.bin"), made.vkname) << "run the sidefiles target";
    EXPECT_EQ(ReadFile(kResources / "vkvalue.bin"), made.vkvalue) << "run the sidefiles target";
    EXPECT_EQ(ReadFile(kResources / "gminst.en.bin"),
              sidegen::MakeInstrumentFile(Source("gminst.en.txt"), "gminst.en.txt"))
        << "run the sidefiles target";
}

TEST(SideFilesCommitted, ReadBackAsTheDialogDoes) {
    sim::SimHost host;
    for (const char* name : {"gminst.bin", "gminst.en.bin", "vkname.bin", "vkvalue.bin"})
        host.PutFile(fs::path(name).wstring(), Bytes(ReadFile(kResources / name)));

    const SideLines instruments = ReadSideFileLines(host, host.InFolder(L"gminst.bin"), 128);
    ASSERT_TRUE(instruments.ok) << sim::Utf8(instruments.problem);
    EXPECT_FALSE(ReadSideFileLines(host, host.InFolder(L"gminst.bin"), 129).ok);
    EXPECT_EQ(instruments.lines.front(), L"001 アコースティック・グランド・ピアノ");
    EXPECT_EQ(instruments.lines.back(), L"128 銃声");
    const SideLines english = ReadSideFileLines(host, host.InFolder(L"gminst.en.bin"), 128);
    ASSERT_TRUE(english.ok) << sim::Utf8(english.problem);
    EXPECT_EQ(english.lines.front(), L"001 Acoustic Grand Piano");
    EXPECT_EQ(english.lines.back(), L"128 Gunshot");

    const SideLines keys = ReadSideFileLines(host, host.InFolder(L"vkname.bin"), 77);
    ASSERT_TRUE(keys.ok) << sim::Utf8(keys.problem);
    EXPECT_FALSE(ReadSideFileLines(host, host.InFolder(L"vkname.bin"), 78).ok);

    const std::wstring values = host.InFolder(L"vkvalue.bin");
    EXPECT_EQ(CheckKeyValues(host, values), L"");
    EXPECT_EQ(host.files[values].bytes.size(), 77u);
    const std::int32_t f12 = GetKeyIndex(host, values, 0x7B);
    ASSERT_GE(f12, 0);
    EXPECT_EQ(keys.lines[static_cast<std::size_t>(f12)], L"F12");
}

// --- the generator ---

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    const std::size_t at = text.find(from);
    if (at == std::string::npos) throw std::logic_error("test source lacks " + from);
    return text.replace(at, from.size(), to);
}

// The line of the last occurrence: a duplicate is blamed on its second appearance.
std::size_t LineOf(const std::string& text, const std::string& needle) {
    const std::size_t at = text.rfind(needle);
    if (at == std::string::npos) throw std::logic_error("mutated source lacks " + needle);
    return 1 + static_cast<std::size_t>(std::count(text.begin(), text.begin() + at, '\n'));
}

TEST(SideGen, RefusesWhatTheDialogCouldNotShow) {
    struct Case {
        const char* label;
        bool keys;           // the fault is in keys.txt rather than gminst.txt
        std::string from, to;
        std::string atLine;  // text on the line blamed; empty when the whole file is blamed
        const char* problem;
    };
    const Case cases[] = {
        {"one name too many", false, "銃声\n", "銃声\n余分\n", "余分", "too many"},
        {"one name missing", false, "琴\n", "", "", "only 127 names"},
        {"no code page 932 form", false, "琴\n", "琴€\n", "琴€", "no counterpart"},
        {"one-way mapping (wave dash)", false, "琴\n", "琴〜\n", "琴〜", "code page 932"},
        {"too long", false, "琴\n", "アコースティック・グランド・ピアノの琴\n", "ピアノの琴", "40"},
        {"broken UTF-8", false, "琴\n", "\xE7\x90\n", "\xE7\x90", "malformed UTF-8"},
        {"control character", false, "琴\n", "琴\tx\n", "琴\tx", "control character"},
        {"trailing blank", false, "琴\n", "琴 \n", "琴 ", "blank"},
        {"duplicate instrument", false, "琴\n", "三味線\n", "三味線", "same name as line"},
        {"duplicate key code", true, "0x42\tB", "0x41\tB", "0x41\tB", "same key code as line"},
        {"F12 missing", true, "0x7B\tF12", "0x7C\tF13", "", "0x7B"},
        {"key code 0", true, "0x41\tA", "0\tA", "0\tA", "1..254"},
        {"key code 256", true, "0x41\tA", "256\tA", "256\tA", "1..254"},
        {"key code not a number", true, "0x41\tA", "0x4G\tA", "0x4G\tA", "1..254"},
        {"no tab", true, "0x41\tA", "0x41 A", "0x41 A", "<tab>"},
        {"duplicate key name", true, "0x42\tB", "0x42\tA", "0x42\tA", "same name as line"},
        {"key name without counterpart", true, "0x41\tA", "0x41\t\u00e9", "\u00e9", "no counterpart"},
    };
    const std::string gminst = Source("gminst.txt"), keys = Source("keys.txt");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const std::string source = Replaced(c.keys ? keys : gminst, c.from, c.to);
        try {
            sidegen::Generate(c.keys ? gminst : source, c.keys ? source : keys);
            ADD_FAILURE() << "accepted";
        } catch (const sidegen::SourceError& e) {
            EXPECT_EQ(e.line(), c.atLine.empty() ? 0 : LineOf(source, c.atLine));
            EXPECT_NE(std::string(e.what()).find(c.keys ? "keys.txt" : "gminst.txt"),
                      std::string::npos);
            EXPECT_NE(std::string(e.what()).find(c.problem), std::string::npos) << e.what();
        }
    }
}

TEST(SideGen, AcceptsWindowsLineEndsAndByteOrderMark) {
    const std::string gminst = Source("gminst.txt"), keys = Source("keys.txt");
    const auto windows = [](const std::string& text) {
        std::string out = "\xEF\xBB\xBF";
        for (char ch : text) out += ch == '\n' ? std::string("\r\n") : std::string(1, ch);
        return out;
    };
    const sidegen::SideFiles plain = sidegen::Generate(gminst, keys);
    const sidegen::SideFiles edited = sidegen::Generate(windows(gminst), windows(keys));
    EXPECT_EQ(edited.gminst, plain.gminst);
    EXPECT_EQ(edited.vkname, plain.vkname);
    EXPECT_EQ(edited.vkvalue, plain.vkvalue);
}

// --- the readers ---

TEST(SideFileLines, SplitsAndConverts) {
    struct Case {
        const char* label;
        std::string bytes;
        std::size_t count;
        std::vector<std::wstring> lines;
    };
    const Case cases[] = {
        {"CR LF", "a\r\nb\r\nc\r\n", 3, {L"a", L"b", L"c"}},
        {"mixed ends", "a\r\nb\nc\rd", 4, {L"a", L"b", L"c", L"d"}},
        {"LF CR is two ends", "a\n\rb", 3, {L"a", L"", L"b"}},
        {"last line unterminated", "a\r\nb", 2, {L"a", L"b"}},
        {"empty lines count", "\r\n\r\nx\r\n", 3, {L"", L"", L"x"}},
        {"nothing trimmed", " a \t\r\n", 1, {L" a \t"}},
        {"rest ignored", "a\r\nb\r\n\x81\x81\x81", 2, {L"a", L"b"}},
        {"stops at the count-th end", "a\rb", 1, {L"a"}},
        {"nothing wanted", "", 0, {}},
        {"double-byte, trail 0x5C", "\x83\x5c\x95\x5c\r\n", 1, {L"ソ表"}},
        {"bad bytes become ?", "\x81\r\n\xA0z\r\nok", 3, {L"?", L"?z", L"ok"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        sim::SimHost host;
        host.PutFile(L"test.bin", Bytes(c.bytes));
        const SideLines got = ReadSideFileLines(host, host.InFolder(L"test.bin"), c.count);
        EXPECT_TRUE(got.ok) << sim::Utf8(got.problem);
        EXPECT_EQ(got.lines, c.lines);
    }
}

TEST(SideFileLines, ReadsOnlyTheLinesAskedFor) {
    std::string text;
    for (int i = 0; i < 130; ++i) text += std::to_string(i) + "\r\n";
    sim::SimHost host;
    host.PutFile(L"gminst.bin", Bytes(text));
    const SideLines got = ReadSideFileLines(host, host.InFolder(L"gminst.bin"), 128);
    ASSERT_TRUE(got.ok);
    ASSERT_EQ(got.lines.size(), 128u);
    EXPECT_EQ(got.lines.back(), L"127");
}

TEST(SideKeyValues, LooksOnlyAtTheFirst77Bytes) {
    std::vector<std::uint8_t> bytes(100, 0x01);
    bytes[10] = bytes[40] = 0x7B;  // a duplicate: the first wins
    bytes[76] = 0x20;
    bytes[77] = 0x30;              // past the list: no key
    sim::SimHost host;
    host.PutFile(L"vkvalue.bin", bytes);
    const std::wstring path = host.InFolder(L"vkvalue.bin");

    EXPECT_EQ(GetKeyIndex(host, path, 0x7B), 10);
    EXPECT_EQ(GetKeyIndex(host, path, 0x20), 76);
    EXPECT_EQ(GetKeyIndex(host, path, 0x30), -1);
    EXPECT_EQ(GetKeyIndex(host, path, 0xFF), -1);
    EXPECT_EQ(GetKeyIndex(host, host.InFolder(L"none.bin"), 0x01), -1);

    const std::pair<std::int32_t, std::optional<std::uint8_t>> codes[] = {
        {-1, std::nullopt}, {0, 0x01}, {10, 0x7B}, {76, 0x20}, {77, std::nullopt},
        {1000, std::nullopt},
    };
    for (const auto& [position, code] : codes) EXPECT_EQ(GetKeyCode(host, path, position), code);
    EXPECT_EQ(GetKeyCode(host, host.InFolder(L"none.bin"), 0), std::nullopt);
    host.PutFile(L"short.bin", std::vector<std::uint8_t>(50, 0x41));
    EXPECT_EQ(GetKeyCode(host, host.InFolder(L"short.bin"), 49), 0x41);
    EXPECT_EQ(GetKeyCode(host, host.InFolder(L"short.bin"), 50), std::nullopt);
    EXPECT_EQ(GetKeyIndex(host, host.InFolder(L"short.bin"), 0x41), 0);
}

// Rows: side files missing, a folder in their place, shorter than their counts, over the size
// limit, bytes that are not code page 932. The reader names the file and what is wrong with it,
// keeping no lines. Opened from the tray menu, the dialog then stays closed with that message and
// the program runs on; what the reader takes opens the dialog, undecodable bytes shown as '?'.
TEST(DamagedSideFiles, AreExplainedAndKeepTheDialogClosed) {
    const std::string limit(kSideFileMaxBytes, 'x');
    std::string keysAtTheLimit;
    for (int i = 0; i < 77; ++i) keysAtTheLimit += "k" + std::to_string(i) + "\r\n";
    keysAtTheLimit.resize(kSideFileMaxBytes, 'x');  // the rest is past the lines the dialog reads
    const std::wstring gminst = Fill(text::kSideFile, {L"gminst.bin"}),
                       vkname = Fill(text::kSideFile, {L"vkname.bin"}),
                       vkvalue = Fill(text::kSideFile, {L"vkvalue.bin"});
    const auto lines = [](const std::wstring& file, const wchar_t* needed, const wchar_t* held) {
        return Fill(text::kSideFileLines, {file, needed, held});
    };
    const auto bytes = [&](const wchar_t* held) {
        return Fill(text::kSideFileBytes, {vkvalue, L"77", held});
    };
    const std::string piano = "Piano\r\n" + std::string(127, '\n');
    const std::wstring englishShort =
        Fill(Text(text::kSideFileLines, Language::English),
             {Fill(Text(text::kSideFile, Language::English), {L"gminst.en.bin"}), L"128", L"127"});
    const struct {
        const wchar_t* file;
        std::optional<std::string> bytes;  // nothing: missing
        std::wstring problem;              // empty: the dialog opens
        std::uint32_t attributes = 0;
        std::vector<std::wstring> shown = {};  // the first instruments the dialog lists
        Language language = Language::Japanese;
    } cases[] = {
        {L"gminst.bin", std::nullopt, Fill(text::kFileNotFound, {gminst})},
        {L"vkname.bin", std::nullopt, Fill(text::kFileNotFound, {vkname})},
        {L"vkvalue.bin", std::nullopt, Fill(text::kFileNotFound, {vkvalue})},
        {L"vkname.bin", "",
         Fill(text::kFileUnreadable, {vkname}) + L"\r" + Text(text::kReasonIsFolder), 16},
        {L"gminst.bin", std::string(127, '\n'), lines(gminst, L"128", L"127")},
        {L"vkname.bin", "F1\r\nF2\r\n", lines(vkname, L"77", L"2")},
        {L"vkname.bin", "a\r\n", lines(vkname, L"77", L"1")},
        {L"vkname.bin", "", lines(vkname, L"77", L"0")},
        {L"vkvalue.bin", std::string(76, '\x7B'), bytes(L"76")},
        {L"vkvalue.bin", "\x7B", bytes(L"1")},
        {L"vkvalue.bin", "", bytes(L"0")},
        {L"vkname.bin", limit + "\r\n", Fill(text::kFileTooLarge, {vkname})},
        {L"vkname.bin", keysAtTheLimit, L""},
        {L"vkvalue.bin", std::string(77, '\x41'), L""},
        {L"vkvalue.bin", std::string(200, '\x41'), L""},
        {L"gminst.bin",
         "\x81\x20pf\r\n\x85\x40\r\n\x82" + std::string(126, '\n'),
         L"",
         0,
         {L"? pf", L"?@", L"?"}},
        // In English its own names where they are, the others where they are not; never the
        // English file in Japanese.
        {L"gminst.en.bin", piano, L"", 0, {L"Piano"}, Language::English},
        {L"gminst.en.bin", std::nullopt, L"", 0, {L"Instrument 0"}, Language::English},
        {L"gminst.en.bin", piano, L"", 0, {L"Instrument 0"}},
        {L"gminst.en.bin", std::string(127, '\n'), englishShort, 0, {}, Language::English},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(sim::Utf8(c.file) + " " + std::to_string(c.bytes ? c.bytes->size() : 0) +
                     " bytes: " + sim::Utf8(c.problem));
        sim::SimHost h;
        test::SpeakLanguage speak(c.language);
        h.PutFile(kConfigFileName,
                  EncodeSettings(DefaultSettings(L"Sim MIDI In"), {{0x91, L"x", L""}}).bytes);
        App a(h);
        Main(a);
        ASSERT_TRUE(a.Running());
        if (c.bytes) {
            h.PutFile(c.file, Bytes(*c.bytes), c.attributes);
        } else {
            h.files.erase(h.InFolder(c.file));
        }

        const std::wstring path = h.InFolder(c.file);
        if (!c.bytes && c.problem.empty()) {
            // a file the dialog can do without
        } else if (std::wstring(c.file) == L"vkvalue.bin") {
            EXPECT_EQ(CheckKeyValues(h, path), c.problem);
        } else {
            const SideLines read =
                ReadSideFileLines(h, path, std::wstring(c.file).starts_with(L"gminst") ? 128 : 77);
            EXPECT_EQ(read.ok, c.problem.empty());
            EXPECT_EQ(read.lines.empty(), !c.problem.empty());
            EXPECT_EQ(read.problem, c.problem);
        }

        h.menuChoices = {MenuChoice::mnuRCConfig};
        ShowTrayMenu(a);
        if (c.problem.empty()) {
            EXPECT_TRUE(h.boxes.empty());
            ASSERT_TRUE(a.Config);
            const std::vector<std::wstring>& names = a.Config->cmbPC.Items();
            EXPECT_EQ(
                std::vector<std::wstring>(
                    names.begin(), names.begin() + static_cast<std::ptrdiff_t>(c.shown.size())),
                c.shown);
            continue;
        }
        ASSERT_EQ(h.boxes.size(), 1u);
        EXPECT_EQ(h.boxes[0].title, L"Vosselmar");
        EXPECT_EQ(h.boxes[0].text, Fill(text::kDialogCannotOpen, {c.problem}));
        EXPECT_EQ(h.boxes[0].style, kMbIconError);
        EXPECT_FALSE(a.Config);
        EXPECT_EQ(h.modelessShown, 0);
        EXPECT_TRUE(a.Running() && a.Enabled);
        EXPECT_EQ(h.openInputs.size(), 1u);
    }
}

}  // namespace
}  // namespace vos
