// The configuration dialog as drawn: every control with its place in twips (1/1440 inch, from
// the client area's top-left corner), its caption and its place in the Tab order. The Windows
// binding builds the window from this table alone.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "app/texts.h"

namespace vos::layout {

enum class Kind { Label, ListBox, Button, Edit, CheckBox, DropDown, Key, Toggle };

// The enum and the table read best as the rows of the form they describe.
// clang-format off
enum class Id {
    Label1, Label2, Label3, Label4, Label5,
    lstCP, cmdAdd, cmdDel, txtPath, cmdSansyo, txtCommand,
    cmbMIDev, chkShortcut, chkShift, chkCtrl, chkAlt, cmbSKey, chkMidiOut, cmbMODev, cmbPC,
    cmdOK, cmdCancel, cmdHelp,
    picKey0, picKey1, picKey2, picKey3, picKey4, picKey5,
    picKey6, picKey7, picKey8, picKey9, picKey10, picKey11,
    chkLearn,
};

struct Item {
    Id id;
    Kind kind;
    std::wstring_view name;
    std::wstring_view caption;         // in Japanese
    std::wstring_view captionEnglish;  // the same place in English: it must fit the same rectangle
    int left, top, width, height;
    int tabIndex;
};

inline constexpr std::wstring_view kCaption = L"Vosselmar の設定";
inline constexpr std::wstring_view kCaptionEnglish = L"Vosselmar settings";
inline constexpr int kClientWidth = 4710;
inline constexpr int kClientHeight = 7335;

inline constexpr std::wstring_view kListFontFace = L"ＭＳ ゴシック";
inline constexpr int kListFontPoints = 9;
inline constexpr int kListFontCharset = 128;  // Shift JIS
// In English: a fixed-pitch face of every Windows since Vista, and one of every Windows before it.
inline constexpr std::wstring_view kListFontFaceEnglish = L"Consolas";
inline constexpr std::wstring_view kListFontFallbackEnglish = L"Courier New";
inline constexpr int kListFontCharsetEnglish = 1;  // DEFAULT_CHARSET: whatever the path holds

inline constexpr std::uint32_t kRed = 0x0000FF;  // 0x00BBGGRR
inline constexpr std::uint32_t kWhite = 0xFFFFFF;
inline constexpr std::uint32_t kBlack = 0x000000;

inline constexpr bool IsBlackKey(int index) {
    return index == 1 || index == 3 || index == 6 || index == 8 || index == 10;
}

inline constexpr int kKeyTop = 2760;
inline constexpr int kWhiteKeyWidth = 375, kWhiteKeyHeight = 1215;
inline constexpr int kBlackKeyWidth = 255, kBlackKeyHeight = 735;

// Ordered as the windows are made: by tab index for the controls that take the focus, and each
// label right before the control it names, where a screen reader looks for the name. Labels keep
// their tab indexes but never take the focus. The twelve keys (captions: their pitch names) hold
// 9 to 20 and are one Tab stop; the arrow keys move between them.
inline constexpr std::array<Item, 36> kItems = {{
    {Id::cmdOK, Kind::Button, L"cmdOK", L"&OK", L"&OK", 240, 6840, 1335, 375, 1},
    {Id::cmdCancel, Kind::Button, L"cmdCancel", L"キャンセル(&C)", L"&Cancel", 1680, 6840, 1335, 375, 2},
    {Id::cmdHelp, Kind::Button, L"cmdHelp", L"ヘルプ(&H)", L"&Help", 3120, 6840, 1335, 375, 3},
    {Id::lstCP, Kind::ListBox, L"lstCP", L"", L"", 120, 120, 4455, 1500, 4},
    {Id::cmdAdd, Kind::Button, L"cmdAdd", L"追加(&A)", L"&Add", 240, 1680, 1335, 375, 5},
    {Id::cmdDel, Kind::Button, L"cmdDel", L"削除(&D)", L"&Delete", 1680, 1680, 1335, 375, 6},
    {Id::Label5, Kind::Label, L"Label5", L"実行するアプリケーション／ファイル", L"Application or file to open", 120, 2160, 3015, 255, 35},
    {Id::txtPath, Kind::Edit, L"txtPath", L"", L"", 120, 2400, 4455, 270, 7},
    {Id::cmdSansyo, Kind::Button, L"cmdSansyo", L"参照(&R)", L"&Browse", 3720, 2760, 855, 375, 8},
    {Id::picKey0, Kind::Key, L"picKey(0)", L"C", L"C", 120, kKeyTop, 375, 1215, 9},
    {Id::picKey1, Kind::Key, L"picKey(1)", L"C#", L"C#", 360, kKeyTop, 255, 735, 10},
    {Id::picKey2, Kind::Key, L"picKey(2)", L"D", L"D", 480, kKeyTop, 375, 1215, 11},
    {Id::picKey3, Kind::Key, L"picKey(3)", L"D#", L"D#", 720, kKeyTop, 255, 735, 12},
    {Id::picKey4, Kind::Key, L"picKey(4)", L"E", L"E", 840, kKeyTop, 375, 1215, 13},
    {Id::picKey5, Kind::Key, L"picKey(5)", L"F", L"F", 1200, kKeyTop, 375, 1215, 14},
    {Id::picKey6, Kind::Key, L"picKey(6)", L"F#", L"F#", 1440, kKeyTop, 255, 735, 15},
    {Id::picKey7, Kind::Key, L"picKey(7)", L"G", L"G", 1560, kKeyTop, 375, 1215, 16},
    {Id::picKey8, Kind::Key, L"picKey(8)", L"G#", L"G#", 1800, kKeyTop, 255, 735, 17},
    {Id::picKey9, Kind::Key, L"picKey(9)", L"A", L"A", 1920, kKeyTop, 375, 1215, 18},
    {Id::picKey10, Kind::Key, L"picKey(10)", L"A#", L"A#", 2160, kKeyTop, 255, 735, 19},
    {Id::picKey11, Kind::Key, L"picKey(11)", L"B", L"B", 2280, kKeyTop, 375, 1215, 20},
    {Id::chkLearn, Kind::Toggle, L"chkLearn", L"演奏(&L)", L"&Learn", 2760, 2760, 840, 375, 21},
    {Id::Label4, Kind::Label, L"Label4", L"コマンドライン引数", L"Parameters", 2880, 3360, 1455, 255, 34},
    {Id::txtCommand, Kind::Edit, L"txtCommand", L"", L"", 3000, 3600, 1575, 270, 22},
    {Id::Label1, Kind::Label, L"Label1", L"使用するMIDI入力デバイス", L"MIDI input device", 120, 4440, 2175, 255, 0},
    {Id::cmbMIDev, Kind::DropDown, L"cmbMIDev", L"", L"", 2400, 4440, 2175, 300, 23},
    {Id::chkShortcut, Kind::CheckBox, L"chkShortcut", L"ショートカットキーで有効/無効を切り替える", L"Turn on/off with a shortcut key", 120, 4920, 3615, 255, 24},
    {Id::chkShift, Kind::CheckBox, L"chkShift", L"Shift", L"Shift", 360, 5280, 735, 255, 25},
    {Id::chkCtrl, Kind::CheckBox, L"chkCtrl", L"Ctrl", L"Ctrl", 1200, 5280, 735, 255, 26},
    {Id::chkAlt, Kind::CheckBox, L"chkAlt", L"Alt", L"Alt", 2040, 5280, 735, 255, 27},
    {Id::cmbSKey, Kind::DropDown, L"cmbSKey", L"", L"", 3000, 5280, 1575, 300, 28},
    {Id::chkMidiOut, Kind::CheckBox, L"chkMidiOut", L"MIDI入力した際にI音を鳴らす", L"Play MIDI input through an output", 120, 5640, 3615, 255, 29},
    {Id::Label2, Kind::Label, L"Label2", L"使用するMIDI出力デバイス", L"MIDI output device", 240, 6000, 2175, 255, 32},
    {Id::cmbMODev, Kind::DropDown, L"cmbMODev", L"", L"", 2400, 6000, 2175, 300, 30},
    {Id::Label3, Kind::Label, L"Label3", L"使用する音色", L"Instrument", 240, 6360, 1215, 255, 33},
    {Id::cmbPC, Kind::DropDown, L"cmbPC", L"", L"", 2400, 6360, 2175, 300, 31},
}};
// clang-format on

// The etched separator: a shadow line with a highlight line one pixel below it.
struct LineItem {
    std::wstring_view name;
    int systemColor;  // GetSysColor index
    int x1, y1, x2, y2;
};
inline constexpr std::array<LineItem, 2> kLines = {{
    {L"Line1", 16, 120, 4200, 4560, 4200},  // COLOR_BTNSHADOW
    {L"Line2", 20, 120, 4215, 4560, 4215},  // COLOR_BTNHIGHLIGHT
}};

// What names an edit box or a drop-down list for a screen reader: the label in front of it, or
// for the shortcut key the check box that governs it, having no label of its own.
struct NamedBy {
    Id control, name;
};
inline constexpr std::array<NamedBy, 6> kNames = {{
    {Id::txtPath, Id::Label5},
    {Id::txtCommand, Id::Label4},
    {Id::cmbMIDev, Id::Label1},
    {Id::cmbSKey, Id::chkShortcut},
    {Id::cmbMODev, Id::Label2},
    {Id::cmbPC, Id::Label3},
}};

inline constexpr std::wstring_view CaptionOf(const Item& item, Language language) {
    return language == Language::English ? item.captionEnglish : item.caption;
}
inline constexpr std::wstring_view DialogCaption(Language language) {
    return language == Language::English ? kCaptionEnglish : kCaption;
}

inline constexpr int KeyIndex(Id id) {
    return static_cast<int>(id) - static_cast<int>(Id::picKey0);
}
inline constexpr bool IsKey(Id id) { return id >= Id::picKey0 && id <= Id::picKey11; }

// Pixels for a length in twips at a given DPI.
inline constexpr int ToPixels(int twips, int dpi) { return (twips * dpi + 720) / 1440; }

// The key under a point in twips, black keys first since they lie on top; -1 when none.
inline int KeyAt(int x, int y) {
    for (int pass = 0; pass < 2; ++pass) {
        for (const Item& item : kItems) {
            if (!IsKey(item.id) || IsBlackKey(KeyIndex(item.id)) != (pass == 0)) continue;
            if (x >= item.left && x < item.left + item.width && y >= item.top &&
                y < item.top + item.height) {
                return KeyIndex(item.id);
            }
        }
    }
    return -1;
}

}  // namespace vos::layout
