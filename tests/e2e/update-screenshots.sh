#!/usr/bin/env bash
# Copies the screenshots the dialog scenarios take in every run into docs/,
# where README.md shows them, and the first-start dialog into the manual's
# pictures.
#
#   tests/e2e/update-screenshots.sh [--run] [BUILD_DIR]
#
# Without --run the pictures come from the last run's artefacts
# (build/e2e-artifacts, or $E2E_ARTIFACTS); with --run the dialog scenarios
# (names containing "_dialog_") run first against BUILD_DIR (default
# build/mingw), into a scratch artefact folder.
#
#   docs/dialog-defaults.png   the dialog at the first start   (20_dialog_layout)
#   docs/tray-menu.png         the tray icon's menu           (20_dialog_layout)
#   docs/dialog-defaults-en.png, docs/tray-menu-en.png   the same in English (20_dialog_layout)
#   docs/dialog-edited.png     two entries, thru on           (22_dialog_edit_save)
#   docs/dialog-learning.png   a chord held while learning    (25_dialog_learn_chord)
#   docs/dialog-keyboard.png   the focus on a key, after Space (25_dialog_learn_chord)
#   resources/説明書_images/dialog.png   as docs/dialog-defaults.png
#   resources/Manual_images/dialog.png, menu.png   as docs/dialog-defaults-en.png, tray-menu-en.png
set -eu
E2E_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
REPO=$(cd "$E2E_DIR/../.." && pwd)

run=0
if [[ ${1:-} == --run ]]; then
    run=1
    shift
fi
art=${E2E_ARTIFACTS:-$REPO/build/e2e-artifacts}
if ((run)); then
    art=$(mktemp -d /tmp/vos-shots.XXXXXX)
    E2E_ARTIFACTS=$art "$E2E_DIR/run.sh" "${1:-build/mingw}" _dialog_ ||
        { echo "the dialog scenarios failed: pictures left as they were (artefacts in $art)" >&2; exit 1; }
fi

pictures=(
    "20_dialog_layout/dialog-defaults.png docs/dialog-defaults.png"
    "20_dialog_layout/tray-menu.png docs/tray-menu.png"
    "20_dialog_layout/dialog-defaults-en.png docs/dialog-defaults-en.png"
    "20_dialog_layout/tray-menu-en.png docs/tray-menu-en.png"
    "22_dialog_edit_save/dialog-edited.png docs/dialog-edited.png"
    "25_dialog_learn_chord/dialog-learning.png docs/dialog-learning.png"
    "25_dialog_learn_chord/dialog-keyboard.png docs/dialog-keyboard.png"
    "20_dialog_layout/dialog-defaults.png resources/説明書_images/dialog.png"
    "20_dialog_layout/dialog-defaults-en.png resources/Manual_images/dialog.png"
    "20_dialog_layout/tray-menu-en.png resources/Manual_images/menu.png"
)
for p in "${pictures[@]}"; do
    read -r from to <<<"$p"
    [[ -s $art/$from ]] || {
        echo "$art/$from missing: run tests/e2e/run.sh first, or pass --run" >&2
        exit 1
    }
done
mkdir -p "$REPO/docs"
for p in "${pictures[@]}"; do
    read -r from to <<<"$p"
    cp "$art/$from" "$REPO/$to"
    echo "$to  <-  $art/$from"
done
((run)) && rm -rf "$art"
exit 0
