// The side files with arbitrary contents and arbitrary counts and positions. The line reader
// agrees with a plain split of the whole file, the key lookups never look past the 77 codes or
// the end of the file, and the dialog either opens with what the files hold or says which file
// is wrong in one message box.
#include <algorithm>

#include "app/app.h"
#include "app/modMain.h"
#include "config_dialog/frmConfig.h"
#include "config_dialog/side_files.h"
#include "fuzz_check.h"
#include "platform/cp932.h"
#include "sim/sim_host.h"

namespace vos::fuzz {
namespace {

constexpr std::size_t kCodes = 77;
const wchar_t* const kSideFiles[] = {L"gminst.bin", L"vkname.bin", L"vkvalue.bin"};

// Every line of the file: CR LF, LF and CR each end one; a last line needs no end.
std::vector<std::wstring> AllLines(const std::vector<std::uint8_t>& bytes) {
    std::vector<std::wstring> lines;
    std::string line;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const char c = static_cast<char>(bytes[i]);
        if (c != '\r' && c != '\n') {
            line.push_back(c);
            continue;
        }
        lines.push_back(FromCp932(line));
        line.clear();
        if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
    }
    if (!line.empty()) lines.push_back(FromCp932(line));
    return lines;
}

void CheckLines(sim::SimHost& host, const std::vector<std::wstring>& all, std::size_t count) {
    const SideLines got = ReadSideFileLines(host, host.InFolder(L"test.bin"), count);
    if (count <= all.size()) {
        VOS_REQUIRE(got.ok);
        VOS_REQUIRE(got.problem.empty());
        VOS_REQUIRE(std::equal(got.lines.begin(), got.lines.end(), all.begin(), all.begin() + static_cast<std::ptrdiff_t>(count)));
        VOS_REQUIRE(got.lines.size() == count);
    } else {
        VOS_REQUIRE(!got.ok);
        VOS_REQUIRE(got.lines.empty());
        VOS_REQUIRE(got.problem.find(L"「test.bin」") == 0);
        VOS_REQUIRE(got.problem.find(L"、" + std::to_wstring(all.size()) + L"行しか") != std::wstring::npos);
    }
}

void CheckKeys(sim::SimHost& host, const std::vector<std::uint8_t>& bytes, std::uint8_t code,
               std::int32_t position) {
    const std::wstring path = host.InFolder(L"test.bin");
    const std::size_t listed = std::min(bytes.size(), kCodes);
    const auto first = std::find(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(listed), code);
    const std::int32_t index = GetKeyIndex(host, path, code);
    VOS_REQUIRE(index == (first == bytes.begin() + static_cast<std::ptrdiff_t>(listed)
                              ? -1
                              : static_cast<std::int32_t>(first - bytes.begin())));
    const std::optional<std::uint8_t> at = GetKeyCode(host, path, position);
    if (position >= 0 && static_cast<std::size_t>(position) < listed) {
        VOS_REQUIRE(at == bytes[static_cast<std::size_t>(position)]);
    } else {
        VOS_REQUIRE(!at);
    }
    VOS_REQUIRE(CheckKeyValues(host, path).empty() == (bytes.size() >= kCodes));
}

void CheckDialog(const std::vector<std::uint8_t>& bytes, const std::vector<std::wstring>& all,
                 const wchar_t* file) {
    sim::SimHost host = FreshHost(true);
    host.PutFile(kConfigFileName,
                 EncodeSettings(DefaultSettings(L"Sim MIDI In"), DefaultCodes(host.folder)).bytes);
    host.PutFile(file, bytes);
    App app(host);
    const bool enough = file == kSideFiles[0]   ? all.size() >= kInstrumentCount
                        : file == kSideFiles[1] ? all.size() >= kShortcutKeyCount
                                                : bytes.size() >= kCodes;
    const bool loaded = LoadConfigDialog(app);
    VOS_REQUIRE(loaded == enough);
    if (!loaded) {
        VOS_REQUIRE(host.boxes.size() == 1);
        const sim::MsgBoxCall& box = host.boxes[0];
        VOS_REQUIRE(box.title == L"Vosselmar");
        VOS_REQUIRE(box.style == kMbIconError);
        VOS_REQUIRE(box.text.find(std::wstring(L"「") + file + L"」") == 0);
        const std::wstring tail = L"\r設定画面を開けません。";
        VOS_REQUIRE(box.text.size() > tail.size() &&
                    box.text.compare(box.text.size() - tail.size(), tail.size(), tail) == 0);
        return;
    }
    VOS_REQUIRE(host.boxes.empty());
    const frmConfig& d = *app.dialog.Config;
    if (file == kSideFiles[0]) {
        VOS_REQUIRE(std::equal(d.cmbPC.Items().begin(), d.cmbPC.Items().end(), all.begin()));
        VOS_REQUIRE(d.cmbPC.ListCount() == static_cast<int>(kInstrumentCount));
    } else if (file == kSideFiles[1]) {
        VOS_REQUIRE(std::equal(d.cmbSKey.Items().begin(), d.cmbSKey.Items().end(), all.begin()));
        VOS_REQUIRE(d.cmbSKey.ListCount() == static_cast<int>(kShortcutKeyCount));
    } else {
        // The stored key (F12, 123) is shown where vkvalue.bin first lists it, or not at all.
        const auto f12 = std::find(bytes.begin(), bytes.begin() + kCodes, 123);
        VOS_REQUIRE(d.cmbSKey.ListIndex() ==
                    (f12 == bytes.begin() + kCodes ? -1 : static_cast<int>(f12 - bytes.begin())));
    }
}

}  // namespace
}  // namespace vos::fuzz

// Input: a flags byte, a count (2 bytes, or 8 with flag 0x80), a key code, a position (1 signed
// byte, or 4 with flag 0x40), then the file's contents.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vos;
    fuzz::Input in(data, size);
    const std::uint8_t flags = in.Byte();
    const std::size_t count = (flags & 0x80) ? static_cast<std::size_t>(in.Le(8))
                                             : static_cast<std::size_t>(in.Le(2) % 300);
    const std::uint8_t code = in.Byte();
    const std::int32_t position = (flags & 0x40) ? static_cast<std::int32_t>(in.Le(4))
                                                 : static_cast<std::int8_t>(in.Byte());
    const std::vector<std::uint8_t> bytes = in.Rest();

    sim::SimHost host = fuzz::FreshHost(false);
    host.PutFile(L"test.bin", bytes);
    const std::vector<std::wstring> lines = fuzz::AllLines(bytes);
    fuzz::CheckLines(host, lines, count);
    fuzz::CheckKeys(host, bytes, code, position);
    fuzz::CheckDialog(bytes, lines, fuzz::kSideFiles[flags % 3]);
    return 0;
}
