#!/usr/bin/env bash
# Builds Vosselmar.exe (mingw-w64, release) and packs the distributable:
#
#   ./package.sh    -> build/package/Vosselmar-<version>-win64.zip
#
# The zip holds one folder, Vosselmar-<version>/, with the stripped program, its side files, the
# manual, LICENSE and README.txt; <version> is project(... VERSION ...) of the top CMakeLists.txt.
# Sourced, this file only defines its functions: tests/e2e/scenarios/30_package.sh packs an
# existing build with `vos_package_zip BUILD_DIR OUT_DIR` and checks the result under Wine.
#
# Why a script rather than install() rules and CPack's ZIP generator: with CMake 3.25 (Debian 12)
# CPack cannot make the same zip from the same sources. Measured on this project with install()
# rules, CPACK_GENERATOR ZIP, CPACK_STRIP_FILES (it does run x86_64-w64-mingw32-strip) and
# SOURCE_DATE_EPOCH set (it does put that time on every entry):
#  - The entries come in the order readdir returns them from CPack's staging folder, and no
#    CPACK_ variable sorts them. On ext4 (hashed directories) the zip began vkvalue.bin,
#    Vosselmar.exe, LICENSE, vkname.bin, README.txt, gminst.bin; on tmpfs README.txt,
#    説明書_images/, its pictures, LICENSE, 説明書.htm. Another machine or file system, another
#    zip, and neither is the sorted order the scenario checks.
#  - Every entry carries an extra field with the uid and gid of whoever packs (0 as root, 65534 as
#    nobody: 96 bytes differ between the two zips), and no CPACK_ variable drops it; zip -X does.
#  - The DOS time of each entry is SOURCE_DATE_EPOCH in the local time zone (TZ=Asia/Tokyo moved
#    it by nine hours). Names are flagged as UTF-8 only under a UTF-8 locale; in the C locale cpack
#    stops at 説明書_images ("Can't lstat"). A package preset's environment could fix these two.
#  - The top folder gets an entry of its own only with CPACK_INCLUDE_TOPLEVEL_DIRECTORY off and
#    CPACK_PACKAGING_INSTALL_PREFIX naming the folder. CPACK_THREADS only speeds up xz.
# One user packing one build twice on one file system did get the same bytes from CPack. This
# script gives the same bytes on ext4 and tmpfs, as root and as nobody, in any time zone.

VOS_PACKAGE_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

vos_package_error() { printf 'package: %s\n' "$*" >&2; }

# vos_package_version BUILD_DIR: the project version the build was configured with.
vos_package_version() {
    local cache=$1/CMakeCache.txt version
    [[ -f $cache ]] || { vos_package_error "$cache not found: configure the build first" && return 1; }
    version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$cache")
    [[ $version =~ ^[0-9]+(\.[0-9]+)*$ ]] || { vos_package_error "no project version in $cache" && return 1; }
    printf '%s\n' "$version"
}

# vos_package_names ZIP: one line per entry of the central directory, "<flags in hex> <name>".
# Read with perl (always on Debian) because zipinfo does not show the general-purpose flags.
vos_package_names() {
    perl -e '
        open(my $f, "<:raw", $ARGV[0]) or die "$ARGV[0]: $!\n";
        local $/; my $z = <$f>;
        my $end = rindex($z, "PK\x05\x06");
        die "$ARGV[0]: no end of central directory\n" if $end < 0;
        my ($count, $size, $at) = unpack("v V V", substr($z, $end + 10, 10));
        for (1 .. $count) {
            die "$ARGV[0]: broken central directory\n" if substr($z, $at, 4) ne "PK\x01\x02";
            my $flags = unpack("v", substr($z, $at + 8, 2));
            my ($name_len, $extra_len, $comment_len) = unpack("v v v", substr($z, $at + 28, 6));
            printf "%04x %s\n", $flags, substr($z, $at + 46, $name_len);
            $at += 46 + $name_len + $extra_len + $comment_len;
        }' "$1"
}

# Info-ZIP zip 3.0 marks a name as UTF-8 (general-purpose bit 11) only after switching itself to
# the locale called en_US.UTF-8, whatever LC_ALL says. Without that locale 説明書.htm goes in
# unmarked and Windows reads the name in its local code page. Any UTF-8 locale serves, so a private
# LOCPATH offers the C.UTF-8 that every Debian system has under that name. Prints the LOCPATH.
vos_package_zip_locale() {
    local dir=$1/.locale c_utf8=/usr/lib/locale/C.utf8
    [[ -f $c_utf8/LC_CTYPE ]] || { vos_package_error "$c_utf8 missing (package libc-bin)" && return 1; }
    mkdir -p "$dir" && ln -sfn "$c_utf8" "$dir/en_US.UTF-8" || return 1
    (cd "$dir" && pwd)
}

# Text for Windows: CR LF line ends, so that Notepad of any Windows version breaks the lines.
vos_package_crlf() { tr -d '\r' | sed 's/$/\r/'; }

# vos_package_zip BUILD_DIR OUT_DIR: packs the build into OUT_DIR/Vosselmar-<version>-win64.zip
# and prints that path. Needs zip, perl and x86_64-w64-mingw32-strip; builds nothing.
vos_package_zip() {
    local build=$1 out=$2 version name stage zip locpath epoch f missing=()
    for f in zip perl x86_64-w64-mingw32-strip; do
        command -v "$f" >/dev/null 2>&1 || missing+=("$f")
    done
    ((${#missing[@]} == 0)) || { vos_package_error "missing tools: ${missing[*]}" && return 1; }
    version=$(vos_package_version "$build") || return 1
    name=Vosselmar-$version
    mkdir -p "$out" || return 1
    out=$(cd "$out" && pwd)
    zip=$out/$name-win64.zip
    stage=$out/.stage
    rm -rf "$stage" "$zip"
    mkdir -p "$stage/$name" || return 1

    for f in Vosselmar.exe gminst.bin gminst.en.bin vkname.bin vkvalue.bin 説明書.htm Manual.htm; do
        [[ -f $build/$f ]] || { vos_package_error "$build/$f missing: build the mingw preset first" && return 1; }
    done
    # The time every entry carries, so that the same sources give the same zip.
    epoch=${SOURCE_DATE_EPOCH:-$(git -C "$VOS_PACKAGE_ROOT" log -1 --format=%ct 2>/dev/null)}
    epoch=${epoch:-1767225600}
    # The symbol table is of no use to users and is most of the file. strip stamps the PE header
    # with the current time unless SOURCE_DATE_EPOCH says otherwise.
    SOURCE_DATE_EPOCH=$epoch x86_64-w64-mingw32-strip -o "$stage/$name/Vosselmar.exe" "$build/Vosselmar.exe" ||
        return 1
    cp "$build"/{gminst.bin,gminst.en.bin,vkname.bin,vkvalue.bin,説明書.htm,Manual.htm} "$stage/$name/" || return 1
    # Pictures of each manual, when it has any, sit in the folder its name gives.
    local images
    for images in 説明書_images Manual_images; do
        for f in "$build/$images" "$VOS_PACKAGE_ROOT/resources/$images"; do
            if [[ -d $f ]]; then
                cp -R "$f" "$stage/$name/" || return 1
                break
            fi
        done
    done
    vos_package_crlf <"$VOS_PACKAGE_ROOT/LICENSE" >"$stage/$name/LICENSE" || return 1
    # The byte order mark tells Notepad before Windows 10 that the text is UTF-8 rather than the
    # local code page, which would garble the Japanese half on a Japanese system.
    {
        printf '\xef\xbb\xbf'
        sed "s/@VERSION@/$version/g" "$VOS_PACKAGE_ROOT/packaging/README.txt" | vos_package_crlf
    } >"$stage/$name/README.txt" || return 1

    # Same inputs, same zip: the time of the last commit (or SOURCE_DATE_EPOCH) on every entry,
    # fixed permissions, names in sorted order, no extra fields (-X), times taken in UTC.
    find "$stage" -type d -exec chmod 755 {} + &&
        find "$stage" -type f -exec chmod 644 {} + &&
        find "$stage" -exec touch -h -d "@$epoch" {} + || return 1
    locpath=$(vos_package_zip_locale "$out") || return 1
    (
        cd "$stage" &&
            find "$name" | LC_ALL=C sort |
            TZ=UTC LC_ALL=C.UTF-8 LOCPATH=$locpath zip -q -X -9 -@ "$zip"
    ) || { vos_package_error "zip failed" && return 1; }
    rm -rf "$stage"

    # A name outside ASCII without bit 11 would come out garbled on Windows: refuse such a zip.
    local unmarked
    unmarked=$(vos_package_names "$zip" | perl -ne 'print if /[\x80-\xff]/ && !(hex((split)[0]) & 0x800)')
    if [[ -n $unmarked ]]; then
        vos_package_error "names stored without the UTF-8 flag: $unmarked"
        rm -f "$zip"
        return 1
    fi
    printf '%s\n' "$zip"
}

if [[ ${BASH_SOURCE[0]} == "$0" ]]; then
    set -euo pipefail
    cd "$VOS_PACKAGE_ROOT"
    # shellcheck source=tools/setup-machine.sh
    source tools/setup-machine.sh
    ensure_packages

    say "Building Vosselmar.exe (mingw-w64, release)"
    cmake --preset mingw >/dev/null
    cmake --build --preset mingw

    say "Packing"
    zip=$(vos_package_zip build/mingw build/package)
    unzip -l "$zip"
    say "Done: ${zip#"$VOS_PACKAGE_ROOT"/}"
fi
