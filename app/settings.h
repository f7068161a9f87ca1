// The settings record and config.bin: the byte layout, the first-start defaults, reading and
// in-place writing.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/host.h"

namespace vos {

// A device name as stored: exactly 32 bytes of code page 932, padded with blanks.
using NameField = std::array<char, 32>;

// Booleans are 16-bit in the file: 0 false, -1 true; a stored switch is on only when it holds -1.
inline constexpr std::int16_t kTrue16 = -1;
inline constexpr std::int16_t kFalse16 = 0;
inline bool IsOn(std::int16_t value) { return value == kTrue16; }

struct SettingsRecord {
    std::int32_t MidiInDevice = 0;
    NameField MidiInName{};
    std::int16_t UseMidiOut = kFalse16;
    std::int32_t MidiOutDevice = 0;
    NameField MidiOutName{};
    std::uint8_t Program = 0;
    std::int16_t UseShortcut = kFalse16;
    std::uint8_t ShortcutKey = 0;
    std::uint8_t ShortcutModifiers = 0;
    std::int32_t CodeCount = 0;
};

struct LaunchCode {
    std::int32_t Code = 0;
    std::wstring Path;
    std::wstring Command;
    bool operator==(const LaunchCode&) const = default;
};

inline constexpr std::size_t kHeaderSize = 83;
inline constexpr std::size_t kMinEntrySize = 8;  // Code and two empty length fields
inline constexpr std::size_t kMaxStoredText = 65535;
inline constexpr wchar_t kConfigFileName[] = L"config.bin";
inline constexpr wchar_t kManualFileName[] = L"説明書.htm";
inline constexpr wchar_t kManualFileNameEnglish[] = L"Manual.htm";
// The manual in the language in force: the one Help opens and the first start's entry names.
std::wstring_view ManualFileName();

// Pads a device name to the 32-byte field. Names longer than 32 bytes are cut without splitting a
// double-byte character (the freed byte becomes a blank).
NameField MakeNameField(std::wstring_view name);
// The stored name as text, with only its trailing blanks removed.
std::wstring NameFieldText(const NameField& field);
// True when the device's current name is the one stored: both compared in stored form, without
// trailing blanks, so a name written and read back always matches its device (also one that ends
// in a blank, or one longer than the field).
bool NameMatches(const NameField& stored, std::wstring_view currentName);

// "folder\name", with exactly one backslash also when the folder is a drive's root.
std::wstring JoinPath(std::wstring_view folder, std::wstring_view name);

enum class EncodeStatus { Ok, TextTooLong };
struct EncodeResult {
    EncodeStatus status = EncodeStatus::Ok;
    std::size_t badEntry = 0;  // index of the entry whose Path or Command is too long
    bool badIsPath = false;
    std::size_t entriesEnd = 0;  // where the last entry ends: the record of exact texts, if any
    std::vector<std::uint8_t> bytes;
};
// Lays out the header and the entries; CodeCount is taken from the list, not from the header.
// Each text is stored in code page 932. Where one does not survive that (é, ї, 😀), its entry
// holds the system's conversion, with '?' for what is missing, as every older reader expects, and
// the exact texts follow the last entry in one record of exact texts (docs/config-format.md). A
// file whose texts all fit is laid out exactly as it always was.
EncodeResult EncodeSettings(const SettingsRecord& header, const std::vector<LaunchCode>& codes);

enum class DecodeStatus { Ok, ShortHeader, BadCodeCount, ShortEntry };
struct DecodeResult {
    DecodeStatus status = DecodeStatus::Ok;
    std::size_t badEntry = 0;  // with ShortEntry: the entry that runs past the end
    SettingsRecord header;
    std::vector<LaunchCode> codes;
};
// Reads a header and CodeCount entries, and past them only a record of exact texts that proves
// to belong to those entries; any other bytes there are ignored. Any damage to the header or the
// entries leaves codes empty; damage to the record leaves the entries' own texts.
DecodeResult DecodeSettings(const std::vector<std::uint8_t>& bytes);

// What the first start writes: input 0 under its current name, no output, program 0, shortcut
// off with Ctrl+F12 stored, and one chord C-E-G that opens the manual of the language in force.
SettingsRecord DefaultSettings(std::wstring_view midiIn0Name);
std::vector<LaunchCode> DefaultCodes(std::wstring_view programFolder);

// The largest file the reader accepts: 10 000 entries of two full-length texts would be larger
// still, but nothing a person types comes near this, and it keeps a damaged file from eating
// memory.
inline constexpr std::size_t kMaxSettingsFileBytes = 64u * 1024u * 1024u;

enum class ReadStatus { Ok, Missing, CannotOpen, TooLarge, Damaged };
struct ReadResult {
    ReadStatus status = ReadStatus::Ok;
    FileStatus file = FileStatus::Ok;
    DecodeResult decoded;
};
ReadResult ReadSettings(Host& host, const std::wstring& path);

enum class WriteStatus { Ok, TextTooLong, TooLarge, CannotWrite };
struct WriteResult {
    WriteStatus status = WriteStatus::Ok;
    FileStatus file = FileStatus::Ok;
    std::size_t badEntry = 0;
    bool badIsPath = false;
};
// What becomes of an old file's bytes past the end of shorter new settings. Readers never look at
// them; saving keeps them, as the file has always been rewritten in place. A fresh file (the
// defaults after damage) drops them, so that a file too large to read does not stay so.
enum class Tail { Keep, Drop };
// Replaces config.bin as one step (the host's ReplaceFileContents), so that a forced end at any
// moment leaves the old settings or the new ones. Refuses before touching the file when a text
// does not fit, or when the whole would be larger than `largest` (the reader's limit: a file it
// would refuse at the next start must not be reported as saved).
WriteResult WriteSettings(Host& host, const std::wstring& path, const SettingsRecord& header,
                          const std::vector<LaunchCode>& codes, Tail tail = Tail::Keep,
                          std::size_t largest = kMaxSettingsFileBytes);

// Explanations for the message boxes, in the language in force, naming the file and what is wrong
// with it.
std::wstring DescribeReadProblem(const ReadResult& result, std::wstring_view path);
std::wstring DescribeWriteProblem(const WriteResult& result, std::wstring_view path);

}  // namespace vos
