// config.bin from arbitrary bytes. The reader never allocates more than a small multiple of the
// file's size, and whatever it accepts writes back to bytes that read the same, to older readers
// as each text through code page 932. Then the program
// starts on that file: a damaged one is reported, left alone unless the user says Yes, and kept
// as a copy when they do; every message box is titled Vosselmar and the start always ends. A file
// that reads, opened in the dialog and saved with OK, either reads back with the very same list
// or is left alone with the dialog open and a message saying why.
#include <sanitizer/allocator_interface.h>

#include <algorithm>

#include "app/app.h"
#include "app/modMain.h"
#include "app/settings.h"
#include "config_dialog/frmConfig.h"
#include "fuzz_check.h"
#include "platform/cp932.h"
#include "sim/sim_host.h"

namespace vos::fuzz {
namespace {

bool tracking = false;
std::size_t largest = 0;

void OnMalloc(const volatile void*, std::size_t size) {
    if (tracking && size > largest) largest = size;
}
void OnFree(const volatile void*) {}

DecodeResult DecodeMeasured(const std::vector<std::uint8_t>& bytes) {
    largest = 0;
    tracking = true;
    DecodeResult d = DecodeSettings(bytes);
    tracking = false;
    // Entries are at least 8 bytes, so neither the list nor any text may outgrow the file by
    // more than a constant factor, whatever its counts and lengths claim.
    VOS_REQUIRE(largest <= 16 * bytes.size() + 1024);
    return d;
}

void CheckRoundTrip(const std::vector<std::uint8_t>& bytes, const DecodeResult& d) {
    if (d.status != DecodeStatus::Ok) {
        VOS_REQUIRE(d.codes.empty());
        return;
    }
    VOS_REQUIRE(d.header.CodeCount >= 1);
    VOS_REQUIRE(static_cast<std::size_t>(d.header.CodeCount) == d.codes.size());
    const EncodeResult e = EncodeSettings(d.header, d.codes);
    VOS_REQUIRE(e.status == EncodeStatus::Ok);
    // Undecodable bytes come back as one '?' each, so a text never grows on its way back.
    VOS_REQUIRE(e.bytes.size() <= bytes.size());
    VOS_REQUIRE(std::equal(e.bytes.begin(), e.bytes.begin() + kHeaderSize, bytes.begin()));
    const DecodeResult again = DecodeSettings(e.bytes);
    VOS_REQUIRE(again.status == DecodeStatus::Ok);
    VOS_REQUIRE(again.codes == d.codes);
    VOS_REQUIRE(EncodeSettings(again.header, again.codes).bytes == e.bytes);
    // A reader that stops at the last entry, as older ones do, reads every text through code page
    // 932; a record follows only when one of them did not survive that.
    const DecodeResult older =
        DecodeSettings({e.bytes.begin(), e.bytes.begin() + static_cast<std::ptrdiff_t>(e.entriesEnd)});
    VOS_REQUIRE(older.codes.size() == d.codes.size());
    bool exact = true;
    for (std::size_t i = 0; i < d.codes.size(); ++i) {
        for (const auto text : {&LaunchCode::Path, &LaunchCode::Command}) {
            const std::wstring through = FromCp932(ToCp932(d.codes[i].*text));
            VOS_REQUIRE(older.codes[i].*text == through);
            exact = exact && through == d.codes[i].*text;
        }
    }
    VOS_REQUIRE((e.entriesEnd == e.bytes.size()) == exact);
}

// The user cancels the dialog the first time it is shown, then saves settings that match the
// devices, so that the program's loop around the dialog ends.
void ActAsUser(sim::SimHost& host, int& rounds) {
    host.modalUser = [&host, &rounds] {
        if (++rounds == 2) {
            host.PutFile(kConfigFileName,
                         EncodeSettings(DefaultSettings(L"Sim MIDI In"), {{0x91, L"x", L""}}).bytes);
        }
    };
}

void CheckStart(const std::vector<std::uint8_t>& bytes, bool damaged, bool yes) {
    sim::SimHost host = FreshHost(true);
    const std::wstring path = host.InFolder(kConfigFileName);
    const std::wstring copy = path + L".bak";
    host.PutFile(kConfigFileName, bytes);
    host.answers = {yes ? kIdYes : kIdNo};
    int rounds = 0;
    ActAsUser(host, rounds);
    App app(host);
    Main(app);

    VOS_REQUIRE(app.Running() != host.ended);
    for (const sim::MsgBoxCall& box : host.boxes) VOS_REQUIRE(box.title == L"Vosselmar");
    const bool asked = !host.boxes.empty() && host.boxes[0].style == 308 &&
                       host.boxes[0].text.find(L"が壊れています。") != std::wstring::npos;
    VOS_REQUIRE(asked == damaged);
    if (!damaged || !yes) {
        VOS_REQUIRE(host.files.count(copy) == 0);
        if (rounds < 2) VOS_REQUIRE(host.files.at(path).bytes == bytes);
    }
    if (damaged && !yes) {
        VOS_REQUIRE(host.ended);
        VOS_REQUIRE(host.Named({"ReplaceFile", "CopyFile"}).empty());
    }
    if (damaged && yes) {
        VOS_REQUIRE(host.files.at(copy).bytes == bytes);
        VOS_REQUIRE(ReadSettings(host, path).status == ReadStatus::Ok);
        VOS_REQUIRE(app.Running());
    }
}

void CheckSave(const std::vector<std::uint8_t>& bytes, const DecodeResult& d) {
    if (d.status != DecodeStatus::Ok) return;
    sim::SimHost host = FreshHost(true);
    const std::wstring path = host.InFolder(kConfigFileName);
    host.PutFile(kConfigFileName, bytes);
    int rounds = 0;
    ActAsUser(host, rounds);
    App app(host);
    app.MainWindow = sim::SimHost::kMainWindow;
    app.life = Life::Running;
    VOS_REQUIRE(LoadConfigDialog(app));
    host.answers = {kIdNo};  // no check for contained chords
    app.Config->cmdOK.UserClick();

    for (const sim::MsgBoxCall& box : host.boxes) VOS_REQUIRE(box.title == L"Vosselmar");
    if (host.Named({"ReplaceFile"}).empty()) {
        VOS_REQUIRE(host.files.at(path).bytes == bytes);
        VOS_REQUIRE(app.Config != nullptr);
        // The last message says why nothing was saved; it is not the question about chords.
        VOS_REQUIRE(!host.boxes.empty() && host.boxes.back().style != 324);
        VOS_REQUIRE(app.Config->WorkingCodes == d.codes);
    } else if (rounds < 2) {
        const ReadResult saved = ReadSettings(host, path);
        VOS_REQUIRE(saved.status == ReadStatus::Ok);
        VOS_REQUIRE(saved.decoded.codes == d.codes);
    }
}

}  // namespace
}  // namespace vos::fuzz

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    __sanitizer_install_malloc_and_free_hooks(vos::fuzz::OnMalloc, vos::fuzz::OnFree);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vos;
    const std::vector<std::uint8_t> bytes(data, data + size);
    const DecodeResult d = fuzz::DecodeMeasured(bytes);
    fuzz::CheckRoundTrip(bytes, d);
    // The last byte's lowest bit answers the question about a damaged file.
    fuzz::CheckStart(bytes, d.status != DecodeStatus::Ok, size > 0 && (data[size - 1] & 1));
    fuzz::CheckSave(bytes, d);
    return 0;
}
