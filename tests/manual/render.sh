#!/usr/bin/env bash
# Renders the manual in headless Chromium and keeps the picture as an artefact; fails when the
# page comes out blank or the machine has no Japanese font to show it with.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
out=${1:-$top/build/manual-artifacts}
mkdir -p "$out"
fc-list :lang=ja family | grep -q . || { echo "no Japanese font installed" >&2; exit 1; }

profile=$(mktemp -d)
trap 'rm -rf "$profile"' EXIT
timeout -k 5 60 chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
    --disable-background-networking --disable-component-update --disable-sync \
    --user-data-dir="$profile" --hide-scrollbars --window-size=1000,1600 \
    --screenshot="$out/manual.png" "file://$top/resources/説明書.htm" >/dev/null 2>&1 || true
[[ -s $out/manual.png ]] || { echo "Chromium wrote no screenshot" >&2; exit 1; }

# A rendered page has many dark pixels (text) on a light background; a blank or failed page has
# next to none.
dark=$(convert "$out/manual.png" -colorspace Gray -threshold 50% -format '%[fx:int((1-mean)*w*h)]' info:)
echo "manual rendered: $out/manual.png ($dark dark pixels)"
((dark > 20000)) || { echo "the rendered manual looks blank" >&2; exit 1; }
