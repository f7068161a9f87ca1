// The simulated platform: device lists and files that a test sets up, a log of every call with its
// arguments, and scripted answers for message boxes, menus and modal dialogs.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "platform/host.h"

namespace vos::sim {

std::string Utf8(const std::wstring& text);

// What an argument of a logged call holds: a number (handles, flags, messages, results), a text,
// or nothing, for a null pointer.
using Value = std::variant<std::monostate, std::int64_t, std::wstring>;
inline constexpr std::monostate kNull{};

// Any integer or enum: an argument logged as the number it holds.
template <typename T>
concept Number = std::is_integral_v<T> || std::is_enum_v<T>;

// One argument of a logged call. Tests compare names and values, never the text Call::Text()
// prints for people.
struct Arg {
    Arg(std::string argName, Value argValue)
        : name(std::move(argName)), value(std::move(argValue)) {}
    template <Number T>
    Arg(std::string argName, T number)
        : name(std::move(argName)), value(static_cast<std::int64_t>(number)) {}
    std::string name;
    Value value;
};

// One call the program made into the host, with its arguments in the order the API takes them
// and, where the program looks at it, the result as an argument named "result".
struct Call {
    std::string name;
    std::vector<Arg> args;
    const Arg* Find(const std::string& argName) const;
    std::string Text() const;  // name(arg=value, ...) -> result
};

struct MsgBoxCall {
    std::wstring text;
    std::wstring title;
    unsigned style = 0;
};

struct ShellCall {
    WindowHandle owner = 0;
    std::wstring operation;
    std::wstring file;
    std::optional<std::wstring> parameters;
    std::wstring directory;
    int show = 0;
};

struct TrayCall {
    TrayOp op;
    NotifyIconData data;
};

struct SimFile {
    std::vector<std::uint8_t> bytes;
    std::uint32_t attributes = 0;  // 1 read-only, 2 hidden, 4 system, 16 folder
    bool operator==(const SimFile&) const = default;
};

class SimHost : public Host {
  public:
    // Starts with an empty folder but for the three side files the dialog reads.
    SimHost();
    void PutSideFiles();

    static constexpr WindowHandle kMainWindow = 0x100;
    static constexpr WndProcValue kFormProc = 0x7000;    // frmMain's own window procedure
    static constexpr WndProcValue kWindowProc = 0x5000;  // stands for the program's WindowProc

    // --- what a test sets up ---
    std::vector<std::wstring> inputs{L"Sim MIDI In"};
    std::vector<std::wstring> outputs{L"Sim MIDI Out"};
    std::set<int> failingInputs, failingOutputs;           // midiIn/OutOpen refuses these devices
    std::set<std::pair<unsigned, unsigned>> takenHotkeys;  // (modifiers, key) owned elsewhere
    bool otherInstance = false;
    std::wstring folder = L"C:\\Vosselmar";
    std::map<std::wstring, SimFile> files;
    std::map<std::wstring, FileStatus> writeFailures;  // path -> what ReplaceFileContents reports
    std::deque<int> answers;                           // message box answers, in order
    std::deque<MenuChoice> menuChoices;                // what the user picks in the tray menu
    std::function<void()> modalUser;  // acts inside ShowConfigModal; nothing = Cancel
    std::function<void()> modelessUser;
    // Runs inside the loop of every message box (given its text), tray menu ("TrackPopupMenu"),
    // file dialog ("GetOpenFileName") and shell call ("ShellExecute"), as the messages Windows
    // dispatches there: Exit, a log-off, settings applied.
    std::function<void(const std::wstring&)> insideModalLoop;
    // The shell not ready: the next trayRefusals Add or Modify calls fail; with trayLate, a failing
    // Add is carried out all the same (it timed out).
    int trayRefusals = 0;
    bool trayLate = false;
    std::deque<std::optional<std::wstring>> fileChoices;  // file dialog answers; none = Cancel
    // Runs while a file is being replaced: the new bytes are in "<path>.tmp", the old ones still
    // in place.
    std::function<void(const std::wstring&)> onWrite;

    // --- what the program did ---
    std::vector<Call> log;
    std::vector<MsgBoxCall> boxes;
    std::vector<ShellCall> launches;
    std::vector<TrayCall> trayCalls;
    std::vector<std::uint32_t> sent;  // every midiOutShortMsg message, in order
    std::map<WindowHandle, WndProcValue> wndProcs;
    std::set<std::pair<WindowHandle, int>> hotkeys;  // registered now
    std::set<MidiHandle> openInputs, openOutputs;
    // Open handles whose device has gone (DevicesChanged): every call but close is refused, but for
    // midiIn/OutGetID with staleIdsAnswer, which then names the index the handle was opened at,
    // whatever device is there now.
    std::set<MidiHandle> deadHandles;
    bool staleIdsAnswer = false;
    bool trayIconPresent = false;
    std::set<std::uintptr_t> timers;  // running now
    NotifyIconData trayShown;
    bool ended = false;
    bool mainWindowLoaded = false;
    int modalShown = 0, modelessShown = 0, configUnloads = 0;
    int chainedMessages = 0;

    // The logged calls of these names, in order, as they were made.
    std::vector<Call> Named(std::initializer_list<const char*> names) const;
    // Writes a file as another program would, creating it.
    void PutFile(const std::wstring& name, std::vector<std::uint8_t> bytes,
                 std::uint32_t attributes = 0);
    std::wstring InFolder(const std::wstring& name) const;
    // After a test changed inputs or outputs while handles are open: a handle whose device's name
    // is no longer listed dies, the others follow their device to its new index.
    void DevicesChanged();

    unsigned midiInGetNumDevs() override;
    unsigned midiOutGetNumDevs() override;
    MmResult midiInGetDevName(int device, std::wstring& name) override;
    MmResult midiOutGetDevName(int device, std::wstring& name) override;
    MmResult midiInOpen(MidiHandle& handle, int device, WindowHandle callback,
                        std::uintptr_t instance, std::uint32_t flags) override;
    MmResult midiInPrepareHeader(MidiHandle handle, MidiHeader* header,
                                 std::uint32_t size) override;
    MmResult midiInAddBuffer(MidiHandle handle, MidiHeader* header, std::uint32_t size) override;
    MmResult midiInStart(MidiHandle handle) override;
    MmResult midiInStop(MidiHandle handle) override;
    MmResult midiInReset(MidiHandle handle) override;
    MmResult midiInUnprepareHeader(MidiHandle handle, MidiHeader* header,
                                   std::uint32_t size) override;
    MmResult midiInClose(MidiHandle handle) override;
    MmResult midiOutOpen(MidiHandle& handle, int device, std::uintptr_t callback,
                         std::uintptr_t instance, std::uint32_t flags) override;
    MmResult midiOutShortMsg(MidiHandle handle, std::uint32_t message) override;
    MmResult midiOutClose(MidiHandle handle) override;
    MmResult midiInGetID(MidiHandle handle, unsigned& device) override;
    MmResult midiOutGetID(MidiHandle handle, unsigned& device) override;

    std::intptr_t ShellExec(WindowHandle owner, const std::wstring& operation,
                            const std::wstring& file, const std::optional<std::wstring>& parameters,
                            const std::wstring& directory, int showCommand) override;
    bool NotifyIcon(TrayOp operation, const NotifyIconData& data) override;
    void SetTimer(WindowHandle window, std::uintptr_t id, unsigned milliseconds) override;
    void KillTimer(WindowHandle window, std::uintptr_t id) override;
    bool RegisterHotKey(WindowHandle window, int id, unsigned modifiers, unsigned key) override;
    bool UnregisterHotKey(WindowHandle window, int id) override;
    WndProcValue SetWndProc(WindowHandle window, int index, WndProcValue value) override;
    LResult CallWndProc(WndProcValue previous, WindowHandle window, std::uint32_t message,
                        WParam wParam, LParam lParam) override;
    WndProcValue WindowProcAddress() override { return kWindowProc; }

    bool AnotherInstanceRunning() override;
    WindowHandle LoadMainWindow() override;
    void DestroyMainWindow() override;
    MenuChoice PopupMenu(WindowHandle owner) override;
    int MsgBox(const std::wstring& text, const std::wstring& title, unsigned style) override;
    void ShowConfigModal() override;
    void ShowConfigModeless() override;
    void UnloadConfig() override;
    std::optional<std::wstring> OpenFileDialog(unsigned flags, const std::wstring& filter,
                                               const std::wstring& initialFile) override;
    void DoEvents() override;
    void EndAtOnce() override;

    std::wstring ProgramFolder() override { return folder; }
    std::optional<std::uint32_t> FileAttributes(const std::wstring& path) override;
    FileStatus ReadWholeFile(const std::wstring& path, std::vector<std::uint8_t>& bytes,
                             std::size_t maxBytes) override;
    FileStatus ReplaceFileContents(const std::wstring& path,
                                   const std::vector<std::uint8_t>& bytes) override;
    FileStatus CopyFileTo(const std::wstring& from, const std::wstring& to) override;

  private:
    void Log(std::string name, std::vector<Arg> args) {
        log.push_back({std::move(name), std::move(args)});
    }
    MidiHandle nextIn_ = 0x1000, nextOut_ = 0x2000;
    std::map<MidiHandle, int> started_;
    std::map<MidiHandle, std::wstring> deviceOf_;  // the name of each open handle's device
    std::map<MidiHandle, int> openedAt_;
    // The result of a call on an open handle: refused when it is not open or its device has gone.
    MmResult Alive(const std::set<MidiHandle>& open, MidiHandle handle) const;
    MmResult GetID(const std::set<MidiHandle>& open, const std::vector<std::wstring>& devices,
                   MidiHandle handle, unsigned& device);
};

}  // namespace vos::sim
