#!/usr/bin/env bash
# The distributable as a user gets it: package.sh packs the build under test (twice: the two zips
# must be the same byte for byte), the zip is unpacked into an empty folder and the program is
# started from there. The first start must find its side files and manual in the unpacked folder,
# Help and the default chord C-E-G must both open the manual in that folder (so the Japanese file
# name survived the zip), the file's version information must carry the project version, its one
# manifest must be the program's, and the program must end cleanly.
# e2e-timeout: 90
source "${E2E_DIR:-$(dirname "$0")/..}/lib.sh"
e2e_scenario_begin
{ command -v zip && command -v unzip; } >/dev/null || e2e_skip "zip and unzip are not installed"
# shellcheck source=../../../package.sh
source "$E2E_DIR/../../package.sh"

build=$(dirname "$E2E_PROGRAM")
version=$(vos_package_version "$build") || e2e_fail "no project version in the build folder"
zip=$(vos_package_zip "$build" "$E2E_WORK/package") || e2e_fail "packing failed"
[[ $(basename "$zip") == "Vosselmar-$version-win64.zip" ]] || e2e_fail "zip named $(basename "$zip")"
cp "$zip" "$E2E_ART/"
# Same build, same bytes: packed again into another folder, in another time zone and under a
# umask that leaves others nothing, not a byte may differ (times, order, permissions).
again=$( (umask 077 && TZ=JST-9 vos_package_zip "$build" "$E2E_WORK/package-again") ) ||
    e2e_fail "packing a second time failed"
cmp -s "$zip" "$again" || e2e_fail "the same build packed twice gave different zips: $(cmp "$zip" "$again" 2>&1)"
unzip -l "$zip" >"$E2E_ART/zip-listing.txt"
top=Vosselmar-$version

e2e_log "--- contents"
# Exactly what a user needs: test doubles (winmm.dll, recorder.exe) or build leftovers must never
# ship, and nothing the program reads may be missing.
names=$(vos_package_names "$zip") || e2e_fail "cannot read the zip's central directory"
printf '%s\n' "$names" >"$E2E_ART/zip-names.txt"
expected="$top/
$top/LICENSE
$top/Manual.htm
$top/README.txt
$top/Vosselmar.exe
$top/gminst.bin
$top/gminst.en.bin
$top/vkname.bin
$top/vkvalue.bin
$top/説明書.htm"
got=$(cut -d' ' -f2- <<<"$names")
for images in 説明書_images Manual_images; do
    if [[ -d $build/$images || -d $E2E_DIR/../../resources/$images ]]; then
        e2e_log "a manual has the picture folder $images: only its top entry is checked"
        got=$(grep -v "^$top/$images/." <<<"$got")
        expected=$(printf '%s\n%s\n' "$expected" "$top/$images/" | LC_ALL=C sort)
    fi
done
[[ $got == "$expected" ]] || e2e_fail "zip entries differ: $(diff <(echo "$expected") <(echo "$got") | tr '\n' ' ')"
# Bit 11: the name is UTF-8. Without it Windows reads the bytes in the local code page, the manual
# is unpacked under a garbled name and neither Help nor the default chord can open it.
flags=$(grep -F " $top/説明書.htm" <<<"$names" | cut -d' ' -f1)
((0x$flags & 0x800)) || e2e_fail "説明書.htm is stored without the UTF-8 flag (flags 0x$flags)"

dir=$E2E_WORK/runs/$E2E_NAME
rm -rf "$dir"
mkdir -p "$dir"
(cd "$dir" && unzip -q "$zip") || e2e_fail "unzip failed"
prog=$dir/$top
[[ -f $prog/説明書.htm ]] || e2e_fail "説明書.htm not unpacked under its name: $(cd "$prog" && printf '%s ' *)"
for f in "$prog"/README.txt "$prog"/LICENSE; do
    # CR LF everywhere, for Notepad
    [[ $(tr -d '\r' <"$f" | wc -l) == $(grep -c $'\r$' "$f") ]] || e2e_fail "$(basename "$f") has lines without CR LF"
done
LC_ALL=C x86_64-w64-mingw32-objdump -t "$prog/Vosselmar.exe" 2>&1 | grep -q 'no symbols' ||
    e2e_fail "the packaged program is not stripped"

e2e_log "--- version information"
# Read back from the packaged file: FILEVERSION and each language's strings must carry the version
# CMake configured, and every translation the file announces must have its string block.
rc=$(LC_ALL=C x86_64-w64-mingw32-windres -J coff -i "$prog/Vosselmar.exe" -O rc 2>&1) ||
    e2e_fail "cannot read the resources of the packaged program: $rc"
sed -n '/VERSIONINFO$/,/^END$/p' <<<"$rc" >"$E2E_ART/versioninfo.rc"
[[ -s $E2E_ART/versioninfo.rc ]] || e2e_fail "the packaged program has no version information"
IFS=. read -r major minor patch tweak <<<"$version"
for field in FILEVERSION PRODUCTVERSION; do
    grep -qx " $field $major, ${minor:-0}, ${patch:-0}, ${tweak:-0}" "$E2E_ART/versioninfo.rc" ||
        e2e_fail "$field is not $version: $(grep "$field" "$E2E_ART/versioninfo.rc")"
done
blocks=$(sed -nE 's/^ +BLOCK "([0-9A-Fa-f]{8})"$/\1/p' "$E2E_ART/versioninfo.rc" | tr a-f A-F)
read -ra pairs <<<"$(sed -nE 's/^ +VALUE "Translation", (.*)$/\1/p' "$E2E_ART/versioninfo.rc" | tr -d ,)"
((${#pairs[@]} >= 2)) || e2e_fail "no Translation in the version information"
for ((i = 0; i + 1 < ${#pairs[@]}; i += 2)); do
    t=$(printf '%04X%04X' "${pairs[i]}" "${pairs[i + 1]}")
    grep -qx "$t" <<<"$blocks" || e2e_fail "translation $t has no string block (blocks: $blocks)"
done
for b in $blocks; do
    block=$(sed -n "/BLOCK \"$b\"/I,/^    END$/p" "$E2E_ART/versioninfo.rc")
    for want in "FileVersion\", \"$version\"" "ProductVersion\", \"$version\"" 'ProductName", "Vosselmar"' \
        'OriginalFilename", "Vosselmar.exe"'; do
        grep -qF "VALUE \"$want" <<<"$block" || e2e_fail "block $b lacks $want"
    done
    e2e_log "block $b: $(grep -oE '"(FileVersion|ProductName)", "[^"]*"' <<<"$block" | tr '\n' ' ')"
done

# One manifest, ours: a toolchain that links its own default manifest as well would leave the
# program without visual styles and DPI awareness, or fail to link.
manifests=$(grep -c ' 24 /\* RT_MANIFEST \*/$' <<<"$rc")
((manifests == 1)) || e2e_fail "$manifests manifests in the packaged program, expected 1"
sed -n '/^1 24 \/\* RT_MANIFEST \*\/$/,/^END$/p' <<<"$rc" >"$E2E_ART/manifest.rc"
grep -q 'Microsoft.Windows.Common-Controls' "$E2E_ART/manifest.rc" ||
    e2e_fail "the manifest with id 1 is not the program's (no Common Controls 6 dependency)"

e2e_log "--- first start from the unpacked folder"
# The recorder goes beside the unpacked program, as e2e_make_program_dir does for a build; the
# simulated winmm.dll is in the prefix's system folder.
cp "$E2E_TOOLS/recorder.exe" "$prog/"
export E2E_PROG_DIR=$prog E2E_PROG_NAME=Vosselmar.exe
export VOS_MIDI_IN='テスト鍵盤' VOS_MIDI_OUT='テスト音源'
e2e_midi_env

# recorder.exe of the tools folder opens .htm files, so each opening of the manual leaves a line
# in the recorder log.
e2e_register_htm_recorder
recorder=$(e2e_winpath "$E2E_TOOLS/recorder.exe")

e2e_start_program
e2e_driver msgbox --timeout 10000 --expect-key kTerms --expect-buttons yesno --answer yes ||
    e2e_fail "terms question not as expected"
e2e_driver msgbox --expect-key kChooseInput --expect-buttons ok --answer ok ||
    e2e_fail "device request not as expected"
# The dialog only opens when the side files were found beside the program.
e2e_driver window --title 'Vosselmar の設定' --timeout 5000 >/dev/null ||
    e2e_fail "no configuration dialog: side files not found in the unpacked folder?"
e2e_screenshot dialog
e2e_driver close-main --title 'Vosselmar の設定' >/dev/null || e2e_fail "cannot close the dialog"
wait_midi_started 10 || e2e_fail "MIDI input not started"
[[ -f $prog/config.bin ]] || e2e_fail "config.bin not written beside the unpacked program"

manual="$(e2e_winpath "$prog")\\説明書.htm"
launch_of_manual="\"$recorder\" \"$manual\""

e2e_log "--- Help in the tray menu"
e2e_driver tray --lparam 0x204 >/dev/null || e2e_fail "cannot post the tray callback"
e2e_driver menu --wait 5000 >/dev/null || e2e_fail "no tray menu"
e2e_screenshot menu
e2e_driver menu-key --row kMenuHelp >/dev/null || e2e_fail "cannot choose Help"
wait_log_count "$E2E_RECORDER_LOG" . 1 5 || e2e_fail "Help opened nothing"
line=$(log_lines "$E2E_RECORDER_LOG" . | sed -n 1p)
[[ ${line%%$'\t'*} == "$launch_of_manual" ]] || e2e_fail "Help launched: ${line%%$'\t'*} expected: $launch_of_manual"

e2e_log "--- default chord C-E-G"
inject_msgs 90 3C 40 90 40 40 90 43 40
wait_log_count "$E2E_RECORDER_LOG" . 2 5 || e2e_fail "the default chord opened nothing"
line=$(log_lines "$E2E_RECORDER_LOG" . | sed -n 2p)
[[ ${line%%$'\t'*} == "$launch_of_manual" ]] || e2e_fail "C-E-G launched: ${line%%$'\t'*} expected: $launch_of_manual"

e2e_driver close-main >/dev/null || e2e_fail "cannot close the program"
e2e_wait_program_exit 10
((E2E_EXIT_CODE == 0)) || e2e_fail "exit code $E2E_EXIT_CODE"
e2e_log "package passed"
