#!/usr/bin/env bash
# Renders each manual in headless Chromium and keeps the pictures as artefacts; fails when a page
# comes out blank or the machine has no Japanese font to show the Japanese one with.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
out=${1:-$top/build/manual-artifacts}
mkdir -p "$out"
fc-list :lang=ja family | grep -q . || { echo "no Japanese font installed" >&2; exit 1; }

profile=$(mktemp -d)
trap 'rm -rf "$profile"' EXIT
render() { # PAGE PICTURE
    timeout -k 5 60 chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
        --disable-background-networking --disable-component-update --disable-sync \
        --user-data-dir="$profile" --hide-scrollbars --window-size=1000,1600 \
        --screenshot="$out/$2" "file://$top/resources/$1" >/dev/null 2>&1 || true
    [[ -s $out/$2 ]] || { echo "Chromium wrote no screenshot of $1" >&2; exit 1; }

    # A rendered page has many dark pixels (text) on a light background; a blank or failed page has
    # next to none.
    dark=$(convert "$out/$2" -colorspace Gray -threshold 50% -format '%[fx:int((1-mean)*w*h)]' info:)
    echo "manual rendered: $out/$2 ($dark dark pixels)"
    ((dark > 20000)) || { echo "the rendered $1 looks blank" >&2; exit 1; }
}
render 説明書.htm manual.png
render Manual.htm manual-en.png
