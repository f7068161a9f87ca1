// Every text the program shows the user, in each language it speaks: message boxes, tray tips and
// menu, the file dialog's filter. The dialog's captions live in its layout table
// (config_dialog/layout.h). A text with values marks their places {1}, {2}, … and is completed by
// Fill. The manuals quote these texts and the tests check it, and their own expectations, against
// this file.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

#include "platform/host.h"

namespace vos {

inline constexpr wchar_t kTitle[] = L"Vosselmar";

// One row a text: its key, then the text in each language. A row that lacks a language does not
// compile, so the languages cannot drift apart. The key names the text in code and, as a string
// (KeyName), in test tools that ask for a text by name.
// clang-format off
#define VOS_TEXTS(X)                                                                               \
    /* The tray icon's tip. */                                                                     \
    X(kTipEnabled, L"Vosselmar [有効]", L"Vosselmar [on]")                                         \
    X(kTipDisabled, L"Vosselmar [無効]", L"Vosselmar [off]")                                       \
    X(kTipInputGone, L"Vosselmar [MIDI入力デバイスが見つかりません]",                              \
      L"Vosselmar [MIDI input device not found]")                                                  \
    X(kTipInputRefused, L"Vosselmar [MIDI入力デバイスを開けません]",                               \
      L"Vosselmar [cannot open the MIDI input device]")                                            \
                                                                                                   \
    /* The tray menu. */                                                                           \
    X(kMenuConfig, L"設定(&C)", L"&Settings")                                                      \
    X(kMenuHelp, L"ヘルプ(&H)", L"&Help")                                                          \
    X(kMenuEnd, L"終了(&X)", L"E&xit")                                                             \
                                                                                                   \
    /* Before anything else: the system's winmm, loaded from the system folder alone. */          \
    X(kNoWinmm,                                                                                    \
      L"システムのwinmm.dllを読み込めませんでした。\rVosselmarを終了します。",                     \
      L"Could not load the system's winmm.dll.\rVosselmar will now exit.")                         \
    X(kWinmmLacks,                                                                                 \
      L"システムのwinmm.dllに関数「{1}」がありません。\rVosselmarを終了します。",                  \
      L"The system's winmm.dll has no function \"{1}\".\rVosselmar will now exit.")                \
                                                                                                   \
    /* The start and the activation of config.bin. */                                              \
    X(kAlreadyRunning,                                                                             \
      L"Vosselmarはすでに起動されています。\r複数起動はできません。",                               \
      L"Vosselmar is already running.\rOnly one copy can run at a time.")                          \
    X(kNoMidiInput,                                                                                \
      L"MIDI入力デバイスが見つかりませんでした。\r終了します。",                                   \
      L"No MIDI input device was found.\rVosselmar will now exit.")                                \
    X(kTerms,                                                                                      \
      L"Vosselmarを使用する前に、同じフォルダにある説明書の「４．使用規約」を読んでください。\r"   \
      L"使用規約に同意してVosselmarを使用しますか？",                                             \
      L"Before using Vosselmar, please read \"4. Terms of use\" in the manual in the same "      \
      L"folder.\rDo you accept the terms of use and want to use Vosselmar?")                       \
    X(kChooseInput, L"MIDI入力デバイスを選択してください。", L"Select a MIDI input device.")       \
    X(kChooseOutput, L"MIDI出力デバイスを選択してください。", L"Select a MIDI output device.")     \
    X(kInputChanged,                                                                               \
      L"MIDI入力デバイスが追加・変更されています。\rもう一度使用するデバイスを選択してください。", \
      L"The MIDI input devices have changed.\rSelect the device to use again.")                   \
    X(kOutputChanged,                                                                              \
      L"MIDI出力デバイスが追加・変更されています。\rもう一度使用するデバイスを選択してください。", \
      L"The MIDI output devices have changed.\rSelect the device to use again.")                  \
    X(kShortcutRefused,                                                                            \
      L"ショートカットキーを設定できませんでした。\r"                                              \
      L"もう一度使用するショートカットキーを選択してください。",                                   \
      L"Could not set the shortcut key.\rSelect the shortcut key to use again.")                   \
    X(kCannotOpenInput,                                                                            \
      L"MIDI入力デバイス「{1}」を開けませんでした。\r"                                             \
      L"他のプログラムが使用していないか、接続を確認してください。",                               \
      L"Could not open the MIDI input device \"{1}\".\r"                                           \
      L"Make sure that it is connected and that no other program is using it.")                    \
    X(kCannotOpenOutput,                                                                           \
      L"MIDI出力デバイス「{1}」を開けませんでした。\r"                                             \
      L"他のプログラムが使用していないか、接続を確認してください。",                               \
      L"Could not open the MIDI output device \"{1}\".\r"                                          \
      L"Make sure that it is connected and that no other program is using it.")                    \
    X(kEnding, L"{1}\rVosselmarを終了します。", L"{1}\rVosselmar will now exit.")                  \
    X(kAskRebuild,                                                                                 \
      L"{1}\r元のファイルを残して、初期設定で作り直しますか？",                                    \
      L"{1}\rKeep the original file and create a new one with the default settings?")              \
    X(kNoBackup,                                                                                   \
      L"設定ファイルの控えを作れませんでした。\r設定ファイルは変更していません。",                 \
      L"Could not make a copy of the settings file.\rThe settings file has not been changed.")     \
    X(kBackupKept,                                                                                 \
      L"元の設定ファイルを「{1}」として残しました。\rMIDI入力デバイスを選択してください。",        \
      L"The original settings file has been kept as \"{1}\".\rSelect a MIDI input device.")        \
                                                                                                   \
    /* config.bin and the side files. {1} names the file: kSettingsFile, or kSideFile. */          \
    X(kSettingsFile, L"設定ファイル「{1}」", L"The settings file \"{1}\"")                         \
    X(kSideFile, L"「{1}」", L"\"{1}\"")                                                           \
    X(kFileNotFound, L"{1}が見つかりません。", L"{1} was not found.")                              \
    X(kFileTooLarge, L"{1}が大きすぎます。", L"{1} is too large.")                                 \
    X(kFileUnreadable, L"{1}を読み込めませんでした。", L"{1} could not be read.")                  \
    X(kFileUnwritable, L"{1}に書き込めませんでした。", L"{1} could not be written.")               \
    X(kReasonNotFound, L"ファイルが見つかりません。", L"The file was not found.")                  \
    X(kReasonAccessDenied,                                                                         \
      L"アクセスが拒否されました（読み取り専用か、他のプログラムが使用中です）。",                 \
      L"Access was denied (the file is read-only or in use by another program).")                  \
    X(kReasonIsFolder, L"同じ名前のフォルダがあります。", L"There is a folder of the same name.")  \
    X(kReasonDiskFull, L"ディスクの空き容量が足りません。", L"There is not enough disk space.")    \
    X(kReasonTooLarge, L"ファイルが大きすぎます。", L"The file is too large.")                     \
    X(kReasonOther, L"ファイルを読み書きできませんでした。", L"The file could not be read or written.") \
    X(kDamaged, L"{1}が壊れています。\r{2}", L"{1} is damaged.\r{2}")                              \
    X(kDamagedShort, L"ファイルが短すぎます。", L"The file is too short.")                         \
    X(kDamagedCount,                                                                               \
      L"起動コードの数（{1}）が正しくありません。",                                                \
      L"The number of launch codes ({1}) is not valid.")                                           \
    X(kDamagedEntry,                                                                               \
      L"{1}番目の起動コードが途中で切れています。",                                                \
      L"Launch code{1} is cut short.")                                                             \
    X(kTextTooLong,                                                                                \
      L"{1}番目の起動コードの{2}が長すぎます。\r65535バイト以内にしてください。",                 \
      L"The {2} of launch code{1} is too long.\rIt must be 65535 bytes or less.")                  \
    X(kPath, L"パス", L"path")                                                                     \
    X(kParameters, L"パラメータ", L"parameters")                                                   \
    X(kSettingsTooLarge,                                                                           \
      L"設定が大きすぎて保存できません（{1}MBまで）。\r"                                           \
      L"起動コードを減らすか、パスやパラメータを短くしてください。",                               \
      L"The settings are too large to save (the limit is {1} MB).\r"                               \
      L"Remove some launch codes, or shorten paths or parameters.")                                \
    X(kSideFileLines,                                                                              \
      L"{1}の行数が足りません（{2}行必要ですが、{3}行しかありません）。",                          \
      L"{1} has too few lines ({2} are needed, but it has only {3}).")                             \
    X(kSideFileBytes,                                                                              \
      L"{1}が短すぎます（{2}バイト必要ですが、{3}バイトしかありません）。",                        \
      L"{1} is too short ({2} bytes are needed, but it has only {3}).")                            \
                                                                                                   \
    /* The settings dialog. */                                                                     \
    X(kDialogCannotOpen, L"{1}\r設定画面を開けません。",                                            \
      L"{1}\rThe settings window cannot be opened.")                                               \
    X(kOneEntryNeeded, L"少なくとも１つの項目は必要です。", L"At least one launch code is needed.") \
    X(kNoFileDialog,                                                                               \
      L"システムのcomdlg32.dllを読み込めないため、ファイルを選ぶ画面を開けません。\r"             \
      L"パスを直接入力してください。",                                                             \
      L"The file dialog cannot open: the system's comdlg32.dll could not be loaded.\r"            \
      L"Type the path instead.")                                                                   \
    X(kAllFilesFilter, L"すべてのファイル(*.*)|*.*", L"All files (*.*)|*.*")                       \
    X(kNoChord,                                                                                    \
      L"{1}番目の起動コードが設定されていません。",                                                \
      L"Launch code{1} has no chord.")                                                             \
    X(kContained,                                                                                  \
      L"{1}番目と{2}番目のコードが一部、あるいは完全に重複しています。\r設定に戻りますか？",       \
      L"Launch codes{1} and{2} overlap in part or in full.\rGo back to the settings?")             \
    X(kAskDuplicates,                                                                              \
      L"起動コードの重複をチェックしますか？",                                                     \
      L"Check the launch codes for overlaps?")                                                     \
    X(kChooseProgram, L"使用する音色を選択してください。", L"Select an instrument.")               \
    X(kChooseShortcut, L"ショートカットキーを選択してください。", L"Select a shortcut key.")
// clang-format on

// The languages the program speaks, in the order of the table's columns.
enum class Language { Japanese, English };

namespace text {

// The texts' keys, in the table's order. A key reads text::kTerms, and never passes for a number
// or a character.
enum class Key {
#define VOS_TEXT_KEY(key, japanese, english) key,
    VOS_TEXTS(VOS_TEXT_KEY)
#undef VOS_TEXT_KEY
};
using enum Key;

// Each column of the table, and the keys as strings, all indexed by key.
// clang-format off
inline constexpr std::array kJapanese = {
#define VOS_TEXT_JAPANESE(key, japanese, english) japanese,
    VOS_TEXTS(VOS_TEXT_JAPANESE)
#undef VOS_TEXT_JAPANESE
};
inline constexpr std::array kEnglish = {
#define VOS_TEXT_ENGLISH(key, japanese, english) english,
    VOS_TEXTS(VOS_TEXT_ENGLISH)
#undef VOS_TEXT_ENGLISH
};
inline constexpr std::array kKeyNames = {
#define VOS_TEXT_NAME(key, japanese, english) std::string_view(#key),
    VOS_TEXTS(VOS_TEXT_NAME)
#undef VOS_TEXT_NAME
};
// clang-format on
inline constexpr std::size_t kCount = kKeyNames.size();
static_assert(kJapanese.size() == kCount && kEnglish.size() == kCount);

}  // namespace text

// The language the program speaks: chosen once at the start, before the first text is shown.
// Japanese until then; a test that needs the other sets it (and sets it back) itself.
Language CurrentLanguage();
void SetLanguage(Language language);

// The language for a user whose Windows display language is `uiLanguage` (a LANGID): Japanese
// when its primary language is Japanese, English otherwise. A "/lang:ja" or "/lang:en" among the
// command line's words overrides that; the last one counts.
Language ChooseLanguage(std::uint16_t uiLanguage, std::wstring_view commandLine);

// The text of a key in a language, or in the language in force. Never null, ended by a 0.
inline constexpr const wchar_t* Text(text::Key key, Language language) {
    const auto index = static_cast<std::size_t>(key);
    return language == Language::English ? text::kEnglish[index] : text::kJapanese[index];
}
const wchar_t* Text(text::Key key);
// The key as it is written in the table ("kTerms"), and the key of such a name.
std::string_view KeyName(text::Key key);
std::optional<text::Key> KeyNamed(std::string_view name);

// The text with each {n} replaced by the nth value.
std::wstring Fill(std::wstring_view text, std::initializer_list<std::wstring_view> values);
// The same with the text of a key, in the language in force.
std::wstring Fill(text::Key key, std::initializer_list<std::wstring_view> values);
// An entry's number as messages show it: a blank, then the number counted from 1.
std::wstring EntryNumber(std::size_t index);
// Why a file could not be read, its name given as text::kSettingsFile or text::kSideFile filled.
std::wstring FileReadProblem(FileStatus status, std::wstring_view file);
// Why a file could not be written.
std::wstring FileWriteProblem(FileStatus status, std::wstring_view file);

}  // namespace vos
