// Every text the program shows the user, written once: message boxes, tray tips, the file dialog's
// filter. The dialog's captions live in its layout table (config_dialog/layout.h). A text with
// values marks their places {1}, {2}, … and is completed by Fill. The manual quotes these texts and
// the tests check it, and their own expectations, against this file.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>

#include "platform/host.h"

namespace vos {

inline constexpr wchar_t kTitle[] = L"Vosselmar";

// The tray icon's tip.
inline constexpr wchar_t kTipEnabled[] = L"Vosselmar [有効]";
inline constexpr wchar_t kTipDisabled[] = L"Vosselmar [無効]";
inline constexpr wchar_t kTipInputGone[] = L"Vosselmar [MIDI入力デバイスが見つかりません]";
inline constexpr wchar_t kTipInputRefused[] = L"Vosselmar [MIDI入力デバイスを開けません]";

namespace text {

// The tray menu.
inline constexpr wchar_t kMenuConfig[] = L"設定(&C)";
inline constexpr wchar_t kMenuHelp[] = L"ヘルプ(&H)";
inline constexpr wchar_t kMenuEnd[] = L"終了(&X)";

// Before anything else: the system's winmm, loaded from the system folder alone.
inline constexpr wchar_t kNoWinmm[] = L"システムのwinmm.dllを読み込めませんでした。\rVosselmarを終了します。";
inline constexpr wchar_t kWinmmLacks[] =
    L"システムのwinmm.dllに関数「{1}」がありません。\rVosselmarを終了します。";

// The start and the activation of config.bin.
inline constexpr wchar_t kAlreadyRunning[] =
    L"Vosselmarはすでに起動されています。\r複数起動はできません。";
inline constexpr wchar_t kNoMidiInput[] = L"MIDI入力デバイスが見つかりませんでした。\r終了します。";
inline constexpr wchar_t kTerms[] =
    L"Vosselmarを使用する前に、同じフォルダにある説明書の「４．使用規約」を読んでください。\r"
    L"使用規約に同意してVosselmarを使用しますか？";
inline constexpr wchar_t kChooseInput[] = L"MIDI入力デバイスを選択してください。";
inline constexpr wchar_t kChooseOutput[] = L"MIDI出力デバイスを選択してください。";
inline constexpr wchar_t kInputChanged[] =
    L"MIDI入力デバイスが追加・変更されています。\rもう一度使用するデバイスを選択してください。";
inline constexpr wchar_t kOutputChanged[] =
    L"MIDI出力デバイスが追加・変更されています。\rもう一度使用するデバイスを選択してください。";
inline constexpr wchar_t kShortcutRefused[] =
    L"ショートカットキーを設定できませんでした。\r"
    L"もう一度使用するショートカットキーを選択してください。";
inline constexpr wchar_t kCannotOpenInput[] =
    L"MIDI入力デバイス「{1}」を開けませんでした。\r"
    L"他のプログラムが使用していないか、接続を確認してください。";
inline constexpr wchar_t kCannotOpenOutput[] =
    L"MIDI出力デバイス「{1}」を開けませんでした。\r"
    L"他のプログラムが使用していないか、接続を確認してください。";
inline constexpr wchar_t kFolderNotCp932[] =
    L"Vosselmarのフォルダ「{1}」の名前にシフトJISにない文字があるため、説明書を開く起動コードを"
    L"設定できませんでした。\r"
    L"設定画面で起動するファイルを選ぶか、シフトJISにある文字だけの名前のフォルダに移してください。";
inline constexpr wchar_t kEnding[] = L"{1}\rVosselmarを終了します。";
inline constexpr wchar_t kAskRebuild[] = L"{1}\r元のファイルを残して、初期設定で作り直しますか？";
inline constexpr wchar_t kNoBackup[] =
    L"設定ファイルの控えを作れませんでした。\r設定ファイルは変更していません。";
inline constexpr wchar_t kBackupKept[] =
    L"元の設定ファイルを「{1}」として残しました。\rMIDI入力デバイスを選択してください。";

// config.bin and the side files. {1} names the file: kSettingsFile, or kSideFile.
inline constexpr wchar_t kSettingsFile[] = L"設定ファイル「{1}」";
inline constexpr wchar_t kSideFile[] = L"「{1}」";
inline constexpr wchar_t kFileNotFound[] = L"{1}が見つかりません。";
inline constexpr wchar_t kFileTooLarge[] = L"{1}が大きすぎます。";
inline constexpr wchar_t kFileUnreadable[] = L"{1}を読み込めませんでした。";
inline constexpr wchar_t kFileUnwritable[] = L"{1}に書き込めませんでした。";
inline constexpr wchar_t kReasonNotFound[] = L"ファイルが見つかりません。";
inline constexpr wchar_t kReasonAccessDenied[] =
    L"アクセスが拒否されました（読み取り専用か、他のプログラムが使用中です）。";
inline constexpr wchar_t kReasonIsFolder[] = L"同じ名前のフォルダがあります。";
inline constexpr wchar_t kReasonDiskFull[] = L"ディスクの空き容量が足りません。";
inline constexpr wchar_t kReasonTooLarge[] = L"ファイルが大きすぎます。";
inline constexpr wchar_t kReasonOther[] = L"ファイルを読み書きできませんでした。";
inline constexpr wchar_t kDamaged[] = L"{1}が壊れています。\r{2}";
inline constexpr wchar_t kDamagedShort[] = L"ファイルが短すぎます。";
inline constexpr wchar_t kDamagedCount[] = L"起動コードの数（{1}）が正しくありません。";
inline constexpr wchar_t kDamagedEntry[] = L"{1}番目の起動コードが途中で切れています。";
inline constexpr wchar_t kTextTooLong[] =
    L"{1}番目の起動コードの{2}が長すぎます。\r65535バイト以内にしてください。";
inline constexpr wchar_t kPath[] = L"パス";
inline constexpr wchar_t kParameters[] = L"パラメータ";
inline constexpr wchar_t kSettingsTooLarge[] =
    L"設定が大きすぎて保存できません（{1}MBまで）。\r"
    L"起動コードを減らすか、パスやパラメータを短くしてください。";
inline constexpr wchar_t kSideFileLines[] =
    L"{1}の行数が足りません（{2}行必要ですが、{3}行しかありません）。";
inline constexpr wchar_t kSideFileBytes[] =
    L"{1}が短すぎます（{2}バイト必要ですが、{3}バイトしかありません）。";

// The settings dialog.
inline constexpr wchar_t kDialogCannotOpen[] = L"{1}\r設定画面を開けません。";
inline constexpr wchar_t kOneEntryNeeded[] = L"少なくとも１つの項目は必要です。";
inline constexpr wchar_t kAllFilesFilter[] = L"すべてのファイル(*.*)|*.*";
inline constexpr wchar_t kNoChord[] = L"{1}番目の起動コードが設定されていません。";
inline constexpr wchar_t kContained[] =
    L"{1}番目と{2}番目のコードが一部、あるいは完全に重複しています。\r設定に戻りますか？";
inline constexpr wchar_t kAskDuplicates[] = L"起動コードの重複をチェックしますか？";
inline constexpr wchar_t kUnstorable[] =
    L"{1}番目の起動コードの{2}に、保存できない文字が含まれています。\r"
    L"シフトJISにある文字だけにしてください。";
inline constexpr wchar_t kChooseProgram[] = L"使用する音色を選択してください。";
inline constexpr wchar_t kChooseShortcut[] = L"ショートカットキーを選択してください。";

}  // namespace text

// The text with each {n} replaced by the nth value.
std::wstring Fill(std::wstring_view text, std::initializer_list<std::wstring_view> values);
// An entry's number as messages show it: a blank, then the number counted from 1.
std::wstring EntryNumber(std::size_t index);
// Why a file could not be read, its name given as text::kSettingsFile or text::kSideFile filled.
std::wstring FileReadProblem(FileStatus status, std::wstring_view file);
// Why a file could not be written.
std::wstring FileWriteProblem(FileStatus status, std::wstring_view file);

}  // namespace vos
