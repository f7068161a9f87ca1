#include "sim/sim_host.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace vos::sim {

std::string Utf8(const std::wstring& text) {
    std::string out;
    for (wchar_t wc : text) {
        auto c = static_cast<std::uint32_t>(wc);
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

const Arg* Call::Find(const std::string& argName) const {
    for (const Arg& a : args) {
        if (a.name == argName) return &a;
    }
    return nullptr;
}

std::string Call::Text() const {
    std::string out = name + "(", result;
    for (const Arg& a : args) {
        std::string value = "null";
        if (const auto* number = std::get_if<std::int64_t>(&a.value))
            value = std::to_string(*number);
        // Appended piece by piece: GCC 12 at -O3 reports a false overlap for "\"" + text + "\"".
        if (const auto* text = std::get_if<std::wstring>(&a.value))
            value.assign(1, '"').append(Utf8(*text)).append(1, '"');
        if (a.name == "result") {
            result = " -> " + value;
        } else {
            out += (out.back() == '(' ? "" : ", ") + a.name + "=" + value;
        }
    }
    return out + ")" + result;
}

SimHost::SimHost() { PutSideFiles(); }

// Plain stand-ins: "Instrument 0" … "Instrument 127", "Key 0" … "Key 76" with the codes 100 + n,
// so that key 23 is code 123 (F12), the default shortcut.
void SimHost::PutSideFiles() {
    auto lines = [](const std::string& prefix, int count) {
        std::vector<std::uint8_t> out;
        for (int i = 0; i < count; ++i) {
            std::string line = prefix + std::to_string(i) + "\r\n";
            out.insert(out.end(), line.begin(), line.end());
        }
        return out;
    };
    PutFile(L"gminst.bin", lines("Instrument ", 128));
    PutFile(L"vkname.bin", lines("Key ", 77));
    std::vector<std::uint8_t> codes;
    for (int i = 0; i < 77; ++i) codes.push_back(static_cast<std::uint8_t>(100 + i));
    PutFile(L"vkvalue.bin", codes);
}

std::vector<Call> SimHost::Named(std::initializer_list<const char*> names) const {
    std::vector<Call> out;
    for (const Call& call : log) {
        if (std::find(names.begin(), names.end(), call.name) != names.end()) out.push_back(call);
    }
    return out;
}

void SimHost::PutFile(const std::wstring& name, std::vector<std::uint8_t> bytes,
                      std::uint32_t attributes) {
    files[InFolder(name)] = SimFile{std::move(bytes), attributes};
}

std::wstring SimHost::InFolder(const std::wstring& name) const { return folder + L"\\" + name; }

unsigned SimHost::midiInGetNumDevs() { return static_cast<unsigned>(inputs.size()); }
unsigned SimHost::midiOutGetNumDevs() { return static_cast<unsigned>(outputs.size()); }

MmResult SimHost::midiInGetDevName(int device, std::wstring& name) {
    if (device < 0 || static_cast<std::size_t>(device) >= inputs.size())
        return kMmSysErrBadDeviceId;
    name = inputs[static_cast<std::size_t>(device)];
    return kMmSysErrNoError;
}

MmResult SimHost::midiOutGetDevName(int device, std::wstring& name) {
    if (device < 0 || static_cast<std::size_t>(device) >= outputs.size())
        return kMmSysErrBadDeviceId;
    name = outputs[static_cast<std::size_t>(device)];
    return kMmSysErrNoError;
}

MmResult SimHost::midiInOpen(MidiHandle& handle, int device, WindowHandle callback,
                             std::uintptr_t instance, std::uint32_t flags) {
    MmResult r = kMmSysErrNoError;
    if (device < 0 || static_cast<std::size_t>(device) >= inputs.size()) {
        r = kMmSysErrBadDeviceId;
    } else if (failingInputs.count(device)) {
        r = 4;  // MMSYSERR_ALLOCATED
    } else {
        handle = nextIn_++;
        openInputs.insert(handle);
        deviceOf_[handle] = inputs[static_cast<std::size_t>(device)];
        openedAt_[handle] = device;
    }
    Log("midiInOpen",
        {{"dev", device}, {"cb", callback}, {"inst", instance}, {"flags", flags}, {"result", r}});
    return r;
}

MmResult SimHost::midiInPrepareHeader(MidiHandle handle, MidiHeader* header, std::uint32_t size) {
    Log("midiInPrepareHeader", {{"h", handle},
                                {"buflen", header->BufferLength},
                                {"data", header->Data ? 1 : 0},
                                {"size", size}});
    return Alive(openInputs, handle);
}

MmResult SimHost::midiInAddBuffer(MidiHandle handle, MidiHeader* header, std::uint32_t size) {
    Log("midiInAddBuffer", {{"h", handle}, {"buflen", header->BufferLength}, {"size", size}});
    return Alive(openInputs, handle);
}

MmResult SimHost::midiInStart(MidiHandle handle) {
    Log("midiInStart", {{"h", handle}});
    if (MmResult r = Alive(openInputs, handle)) return r;
    started_[handle] = 1;
    return kMmSysErrNoError;
}

MmResult SimHost::midiInStop(MidiHandle handle) {
    Log("midiInStop", {{"h", handle}});
    started_.erase(handle);
    return Alive(openInputs, handle);
}

MmResult SimHost::midiInReset(MidiHandle handle) {
    Log("midiInReset", {{"h", handle}});
    return Alive(openInputs, handle);
}

MmResult SimHost::midiInUnprepareHeader(MidiHandle handle, MidiHeader*, std::uint32_t size) {
    Log("midiInUnprepareHeader", {{"h", handle}, {"size", size}});
    return Alive(openInputs, handle);
}

MmResult SimHost::midiInClose(MidiHandle handle) {
    Log("midiInClose", {{"h", handle}});
    deadHandles.erase(handle);
    return openInputs.erase(handle) ? kMmSysErrNoError : 5;
}

MmResult SimHost::midiOutOpen(MidiHandle& handle, int device, std::uintptr_t callback,
                              std::uintptr_t instance, std::uint32_t flags) {
    MmResult r = kMmSysErrNoError;
    if (device < 0 || static_cast<std::size_t>(device) >= outputs.size()) {
        r = kMmSysErrBadDeviceId;
    } else if (failingOutputs.count(device)) {
        r = 4;
    } else {
        handle = nextOut_++;
        openOutputs.insert(handle);
        deviceOf_[handle] = outputs[static_cast<std::size_t>(device)];
        openedAt_[handle] = device;
    }
    Log("midiOutOpen",
        {{"dev", device}, {"cb", callback}, {"inst", instance}, {"flags", flags}, {"result", r}});
    return r;
}

MmResult SimHost::midiOutShortMsg(MidiHandle handle, std::uint32_t message) {
    Log("midiOutShortMsg", {{"h", handle}, {"msg", message}});
    if (MmResult r = Alive(openOutputs, handle)) return r;
    sent.push_back(message);
    return kMmSysErrNoError;
}

MmResult SimHost::midiOutClose(MidiHandle handle) {
    Log("midiOutClose", {{"h", handle}});
    deadHandles.erase(handle);
    return openOutputs.erase(handle) ? kMmSysErrNoError : 5;
}

MmResult SimHost::Alive(const std::set<MidiHandle>& open, MidiHandle handle) const {
    if (!open.count(handle)) return 5;       // MMSYSERR_INVALHANDLE
    return deadHandles.count(handle) ? 6 : kMmSysErrNoError;  // MMSYSERR_NODRIVER
}

MmResult SimHost::GetID(const std::set<MidiHandle>& open, const std::vector<std::wstring>& devices,
                        MidiHandle handle, unsigned& device) {
    MmResult r = Alive(open, handle);
    if (r == 6 && staleIdsAnswer) {
        r = kMmSysErrNoError;
        device = static_cast<unsigned>(openedAt_[handle]);
    } else if (r == kMmSysErrNoError) {
        auto it = std::find(devices.begin(), devices.end(), deviceOf_[handle]);
        device = static_cast<unsigned>(it - devices.begin());
    }
    Log(&open == &openInputs ? "midiInGetID" : "midiOutGetID", {{"h", handle}, {"result", r}});
    return r;
}

MmResult SimHost::midiInGetID(MidiHandle handle, unsigned& device) {
    return GetID(openInputs, inputs, handle, device);
}

MmResult SimHost::midiOutGetID(MidiHandle handle, unsigned& device) {
    return GetID(openOutputs, outputs, handle, device);
}

void SimHost::DevicesChanged() {
    auto listed = [](const std::vector<std::wstring>& devices, const std::wstring& name) {
        return std::find(devices.begin(), devices.end(), name) != devices.end();
    };
    for (MidiHandle h : openInputs) {
        if (!listed(inputs, deviceOf_[h])) deadHandles.insert(h);
    }
    for (MidiHandle h : openOutputs) {
        if (!listed(outputs, deviceOf_[h])) deadHandles.insert(h);
    }
}

std::intptr_t SimHost::ShellExec(WindowHandle owner, const std::wstring& operation,
                                 const std::wstring& file,
                                 const std::optional<std::wstring>& parameters,
                                 const std::wstring& directory, int showCommand) {
    launches.push_back({owner, operation, file, parameters, directory, showCommand});
    Log("ShellExecute", {{"owner", owner},
                         {"op", operation},
                         {"file", file},
                         {"params", parameters ? Value(*parameters) : Value(kNull)},
                         {"dir", directory},
                         {"show", showCommand}});
    // The shell may run a message loop of its own while it opens the target.
    if (insideModalLoop) insideModalLoop(L"ShellExecute");
    return 33;
}

bool SimHost::NotifyIcon(TrayOp operation, const NotifyIconData& data) {
    trayCalls.push_back({operation, data});
    Log("Shell_NotifyIcon", {{"op", operation},
                             {"wnd", data.Window},
                             {"id", data.Id},
                             {"flags", data.Flags},
                             {"cb", data.CallbackMessage},
                             {"icon", static_cast<int>(data.Icon)},
                             {"tip", data.Tip}});
    if (operation != TrayOp::Delete && trayRefusals > 0) {
        --trayRefusals;
        if (trayLate && operation == TrayOp::Add && !trayIconPresent) {
            trayIconPresent = true;
            trayShown = data;
        }
        return false;
    }
    switch (operation) {
        case TrayOp::Add:
            if (trayIconPresent) return false;
            trayIconPresent = true;
            trayShown = data;
            return true;
        case TrayOp::Modify:
            if (!trayIconPresent) return false;
            trayShown = data;
            return true;
        case TrayOp::Delete:
            if (!trayIconPresent) return false;
            trayIconPresent = false;
            return true;
    }
    return false;
}

void SimHost::SetTimer(WindowHandle window, std::uintptr_t id, unsigned milliseconds) {
    Log("SetTimer", {{"wnd", window}, {"id", id}, {"ms", milliseconds}});
    timers.insert(id);
}

void SimHost::KillTimer(WindowHandle window, std::uintptr_t id) {
    Log("KillTimer", {{"wnd", window}, {"id", id}});
    timers.erase(id);
}

bool SimHost::RegisterHotKey(WindowHandle window, int id, unsigned modifiers, unsigned key) {
    bool ok = !takenHotkeys.count({modifiers, key}) && !hotkeys.count({window, id});
    Log("RegisterHotKey",
        {{"wnd", window}, {"id", id}, {"mods", modifiers}, {"key", key}, {"result", ok}});
    if (ok) hotkeys.insert({window, id});
    return ok;
}

bool SimHost::UnregisterHotKey(WindowHandle window, int id) {
    Log("UnregisterHotKey", {{"wnd", window}, {"id", id}});
    return hotkeys.erase({window, id}) > 0;
}

WndProcValue SimHost::SetWndProc(WindowHandle window, int index, WndProcValue value) {
    Log("SetWindowLongPtr", {{"wnd", window}, {"index", index}, {"value", value}});
    WndProcValue previous = wndProcs.count(window) ? wndProcs[window] : 0;
    wndProcs[window] = value;
    return previous;
}

LResult SimHost::CallWndProc(WndProcValue previous, WindowHandle, std::uint32_t, WParam, LParam) {
    ++chainedMessages;
    return previous == kFormProc ? 0 : -1;
}

bool SimHost::AnotherInstanceRunning() {
    Log("AnotherInstanceRunning", {});
    return otherInstance;
}

WindowHandle SimHost::LoadMainWindow() {
    Log("LoadMainWindow", {});
    mainWindowLoaded = true;
    wndProcs[kMainWindow] = kFormProc;
    return kMainWindow;
}

void SimHost::DestroyMainWindow() {
    Log("DestroyMainWindow", {});
    mainWindowLoaded = false;
}

MenuChoice SimHost::PopupMenu(WindowHandle owner) {
    Log("TrackPopupMenu", {{"owner", owner}});
    if (insideModalLoop) insideModalLoop(L"TrackPopupMenu");
    if (menuChoices.empty()) return MenuChoice::None;
    MenuChoice c = menuChoices.front();
    menuChoices.pop_front();
    return c;
}

int SimHost::MsgBox(const std::wstring& text, const std::wstring& title, unsigned style) {
    boxes.push_back({text, title, style});
    // The scripted user answers every box at once, so a flow that keeps asking never waits: it
    // would grow the log for minutes, to gigabytes, instead of failing. No flow asks this often.
    if (boxes.size() > 1000) {
        std::fprintf(stderr,
                     "SimHost: more than 1000 message boxes, the last one \"%s\"; aborting\n",
                     Utf8(text).c_str());
        std::abort();
    }
    int answer;
    if (!answers.empty()) {
        answer = answers.front();
        answers.pop_front();
    } else if ((style & 0xF) == kMbYesNo) {
        answer = (style & kMbDefButton2) ? kIdNo : kIdYes;  // what Enter would choose
    } else {
        answer = kIdOk;
    }
    Log("MessageBox", {{"style", style}, {"text", text}, {"result", answer}});
    if (insideModalLoop) insideModalLoop(text);
    return answer;
}

void SimHost::ShowConfigModal() {
    Log("ShowConfigModal", {});
    ++modalShown;
    // As with message boxes: the scripted dialog returns at once, so a loop never waits.
    if (modalShown > 1000) {
        std::string last = "none";
        if (!boxes.empty()) last.assign(1, '"').append(Utf8(boxes.back().text)).append(1, '"');
        std::fprintf(stderr,
                     "SimHost: the dialog shown modally more than 1000 times (last message box: "
                     "%s); aborting\n",
                     last.c_str());
        std::abort();
    }
    if (modalUser) modalUser();
}

void SimHost::ShowConfigModeless() {
    Log("ShowConfigModeless", {});
    ++modelessShown;
    if (modelessUser) modelessUser();
}

void SimHost::UnloadConfig() {
    Log("UnloadConfig", {});
    ++configUnloads;
}

std::optional<std::wstring> SimHost::OpenFileDialog(unsigned flags, const std::wstring& filter,
                                                    const std::wstring& initialFile) {
    Log("GetOpenFileName", {{"flags", flags}, {"filter", filter}, {"file", initialFile}});
    if (insideModalLoop) insideModalLoop(L"GetOpenFileName");
    if (fileChoices.empty()) return std::nullopt;
    std::optional<std::wstring> choice = fileChoices.front();
    fileChoices.pop_front();
    return choice;
}

void SimHost::DoEvents() { Log("DoEvents", {}); }

void SimHost::EndAtOnce() {
    Log("EndAtOnce", {});
    ended = true;
}

std::optional<std::uint32_t> SimHost::FileAttributes(const std::wstring& path) {
    auto it = files.find(path);
    if (it == files.end()) return std::nullopt;
    return it->second.attributes;
}

FileStatus SimHost::ReadWholeFile(const std::wstring& path, std::vector<std::uint8_t>& bytes,
                                  std::size_t maxBytes) {
    auto it = files.find(path);
    if (it == files.end()) return FileStatus::NotFound;
    if (it->second.attributes & 16) return FileStatus::IsFolder;
    if (it->second.bytes.size() > maxBytes) return FileStatus::TooLarge;
    bytes = it->second.bytes;
    return FileStatus::Ok;
}

FileStatus SimHost::ReplaceFileContents(const std::wstring& path,
                                       const std::vector<std::uint8_t>& bytes) {
    Log("ReplaceFile", {{"path", path}, {"size", bytes.size()}});
    // The new bytes go to a file of their own first; what the target holds changes only with the
    // swap, all at once.
    const std::wstring temporary = path + L".tmp";
    files[temporary] = SimFile{bytes, 0};
    if (onWrite) onWrite(path);
    FileStatus status = FileStatus::Ok;
    if (auto f = writeFailures.find(path); f != writeFailures.end()) {
        status = f->second;
    } else if (auto old = files.find(path); old != files.end() && (old->second.attributes & 16)) {
        status = FileStatus::IsFolder;
    } else if (old != files.end() && (old->second.attributes & 1)) {
        status = FileStatus::AccessDenied;
    }
    if (status != FileStatus::Ok) {
        files.erase(temporary);
        return status;
    }
    SimFile& file = files[path];
    file = SimFile{bytes, file.attributes & (2u | 4u)};
    files.erase(temporary);
    return FileStatus::Ok;
}

FileStatus SimHost::CopyFileTo(const std::wstring& from, const std::wstring& to) {
    Log("CopyFile", {{"from", from}, {"to", to}});
    auto it = files.find(from);
    if (it == files.end()) return FileStatus::NotFound;
    if (it->second.attributes & 16) return FileStatus::IsFolder;
    files[to] = SimFile{it->second.bytes, 0};
    return FileStatus::Ok;
}

}  // namespace vos::sim
