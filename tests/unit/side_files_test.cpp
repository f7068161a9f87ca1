// The side files are committed as binaries beside the UTF-8 text they are made from. These tests
// keep the two in step, make sure the generator refuses sources the dialog could not show
// faithfully, and read damaged files the way the dialog does.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "app/texts.h"
#include "config_dialog/side_files.h"
#include "sim/sim_host.h"

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
}

TEST(SideFilesCommitted, ReadBackAsTheDialogDoes) {
    sim::SimHost host;
    for (const char* name : {"gminst.bin", "vkname.bin", "vkvalue.bin"})
        host.PutFile(fs::path(name).wstring(), Bytes(ReadFile(kResources / name)));

    const SideLines instruments = ReadSideFileLines(host, host.InFolder(L"gminst.bin"), 128);
    ASSERT_TRUE(instruments.ok) << sim::Utf8(instruments.problem);
    EXPECT_FALSE(ReadSideFileLines(host, host.InFolder(L"gminst.bin"), 129).ok);
    EXPECT_EQ(instruments.lines.front(), L"001 アコースティック・グランド・ピアノ");
    EXPECT_EQ(instruments.lines.back(), L"128 銃声");

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

TEST(SideFileLines, ExplainsWhatIsWrong) {
    struct Case {
        const char* label;
        std::optional<std::string> bytes;  // nullopt: no such file
        std::uint32_t attributes;
        std::size_t count;
        std::wstring problem;
    };
    const std::string limit(kSideFileMaxBytes, 'x');
    const std::wstring file = Fill(text::kSideFile, {L"vkname.bin"});
    const Case cases[] = {
        {"short", "a\r\nb\r\n", 0, 77, Fill(text::kSideFileLines, {file, L"77", L"2"})},
        {"empty", "", 0, 1, Fill(text::kSideFileLines, {file, L"1", L"0"})},
        {"missing", std::nullopt, 0, 77, Fill(text::kFileNotFound, {file})},
        {"folder", "", 16, 77, Fill(text::kFileUnreadable, {file}) + L"\r" + text::kReasonIsFolder},
        {"huge", limit + "\r\n", 0, 1, Fill(text::kFileTooLarge, {file})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        sim::SimHost host;
        host.files.erase(host.InFolder(L"vkname.bin"));  // whatever the simulated host starts with
        if (c.bytes) host.PutFile(L"vkname.bin", Bytes(*c.bytes), c.attributes);
        const SideLines got = ReadSideFileLines(host, host.InFolder(L"vkname.bin"), c.count);
        EXPECT_FALSE(got.ok);
        EXPECT_TRUE(got.lines.empty());
        EXPECT_EQ(got.problem, c.problem);
    }
    // A file of exactly the size limit is still read.
    sim::SimHost host;
    host.PutFile(L"vkname.bin", Bytes(limit));
    EXPECT_TRUE(ReadSideFileLines(host, host.InFolder(L"vkname.bin"), 1).ok);
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

TEST(SideKeyValues, ChecksTheLength) {
    const std::pair<std::size_t, std::wstring> cases[] = {
        {77, L""},
        {200, L""},
        {76, L"「vkvalue.bin」が短すぎます（77バイト必要ですが、76バイトしかありません）。"},
        {0, L"「vkvalue.bin」が短すぎます（77バイト必要ですが、0バイトしかありません）。"},
    };
    for (const auto& [size, problem] : cases) {
        sim::SimHost host;
        host.PutFile(L"vkvalue.bin", std::vector<std::uint8_t>(size, 0x41));
        EXPECT_EQ(CheckKeyValues(host, host.InFolder(L"vkvalue.bin")), problem) << size;
    }
    sim::SimHost host;
    host.files.erase(host.InFolder(L"vkvalue.bin"));
    EXPECT_EQ(CheckKeyValues(host, host.InFolder(L"vkvalue.bin")),
              L"「vkvalue.bin」が見つかりません。");
}

}  // namespace
}  // namespace vos
