# shellcheck shell=bash
# Functions for the configuration dialog's scenarios (scenarios/2x_*.sh),
# sourced after lib.sh. They read the dialog's layout table
# (config_dialog/layout.h) for what the window should look like, list the
# real window's controls with the driver, and click and read the screen the
# way a person would. Set DLG_DPI (default 96) to the DPI the program runs
# at before the first dlg_snapshot. For the program started with /lang:en set
# DLG_LANG=en (the table's English captions and texts), DLG_TITLE to the
# English title, and empty
# DLG_EXPECTED_DPI so that the next snapshot reads the table again.
#
#   dlg_drv_start / dlg_drv ARGS...  driver commands through one driver process (below);
#                               dlg_drv_send ARGS... / dlg_drv_reply: the same in two halves
#   dlg_expected DPI            layout items as "name kind caption l,t,r,b" (tab-separated, pixels)
#   dlg_snapshot TAG            driver controls -> $E2E_ART/controls-TAG.txt; sets DLG_ORIGIN_X/Y,
#                               DLG_RECT, DLG_CLIENT, DLG_HWND and the name map $E2E_ART/map-TAG.txt
#   dlg_check_geometry TAG DPI TOL   every item in place within TOL pixels, nothing extra
#   dlg_get TAG NAME FIELD      hwnd rect enabled visible style state text of a mapped control
#   dlg_click NAME [X Y]        real left click on a control (its centre, or X,Y inside it)
#   dlg_click_twips X Y         real left click at a point of the client area given in twips
#   dlg_shot NAME               screenshot of the dialog window alone into the artefacts
#   dlg_key_colours             colours (RRGGBB) on the screen at the centres of the 12 keys
#   dlg_wait_keys "K..." SECS [SHOT]  waits until exactly keys K... are red on the screen
#   dlg_names_of FILE TAG       control lines (driver focus / tab-walk) -> layout names
#   dlg_close_box               real click on the dialog's close box
#   dlg_wait_gone SECS          waits until the dialog window has gone
#   dlg_add_entry TAG           Alt+A and the list's second entry selected
#   dlg_open_from_tray [SHOT]   the tray menu's row kMenuConfig, as a right click on the icon would
#   dlg_first_start             first start without config.bin up to the (modal) dialog
#   dlg_winpath PATH            Windows path of a Linux path as the program sees it (C:\ or Z:\)

# --- one driver process for the whole scenario -----------------------------
# Starting driver.exe costs about half a second under Wine; `driver serve`
# keeps one running and takes command after command. dlg_drv ARGS... works
# as e2e_driver does (output on stdout and in driver.log, its exit status);
# it must be started once by dlg_drv_start in the scenario's own shell (a
# coprocess started in $(...) would end with it).
dlg_drv_start() {
    coproc DLG_DRV { exec timeout -k 5 "${E2E_DRIVER_SERVE_TIMEOUT:-300}" wine "$E2E_TOOLS/driver.exe" serve 2>>"$E2E_ART/driver-serve.err"; }
    DLG_DRV_FD_IN=${DLG_DRV[1]} DLG_DRV_FD_OUT=${DLG_DRV[0]}
    # shellcheck disable=SC2154 # set by coproc
    E2E_PIDS+=("$DLG_DRV_PID")
}

dlg_drv() {
    [[ -n ${DLG_DRV_FD_IN:-} ]] || e2e_fail "dlg_drv_start was not called"
    # bash closes a coprocess's pipes in subshells other than $(...), e.g.
    # in a pipeline: there a driver of its own does the job
    if ! { true >&"$DLG_DRV_FD_IN"; } 2>/dev/null; then
        e2e_driver "$@"
        return
    fi
    dlg_drv_send "$@"
    dlg_drv_reply
}

# dlg_drv in two halves, for a command whose effect is to be watched while
# the driver still works on it: dlg_drv_send ARGS... hands it over,
# dlg_drv_reply prints and logs its output and returns its status. Both in
# the scenario's own shell, one command at a time.
dlg_drv_send() {
    local args
    [[ -n ${DLG_DRV_FD_IN:-} ]] || e2e_fail "dlg_drv_start was not called"
    args=$(printf '%s\t' "$@")
    printf '%s\n' "${args%$'\t'}" >&"$DLG_DRV_FD_IN" || e2e_fail "the driver process has gone"
    DLG_DRV_SENT=$*
}

dlg_drv_reply() {
    local line out="" rc=1
    while IFS= read -r -t "${E2E_DRIVER_TIMEOUT:-30}" -u "$DLG_DRV_FD_OUT" line; do
        line=${line%$'\r'}
        if [[ $line == $'\x1e rc='* ]]; then
            rc=${line#$'\x1e rc='}
            break
        fi
        out+=$line$'\n'
    done
    [[ $line == $'\x1e rc='* ]] || e2e_fail "driver ${DLG_DRV_SENT%% *}: no answer within ${E2E_DRIVER_TIMEOUT:-30}s"
    {
        printf '$ driver %s  (rc %d)\n' "$DLG_DRV_SENT" "$rc"
        printf '%s' "$out"
    } >>"$E2E_ART/driver.log"
    if [[ -n $out ]]; then
        grep '^driver: ' <<<"${out%$'\n'}" >&2
        grep -v '^driver: ' <<<"${out%$'\n'}"
    fi
    return "$rc"
}
# --- end of the driver process ---------------------------------------------

DLG_TITLE='Vosselmar の設定'
DLG_LAYOUT=${DLG_LAYOUT:-$E2E_DIR/../../config_dialog/layout.h}
DLG_DPI=96

# Pixels for twips, rounding halves up: (t * dpi + 720) / 1440.
dlg_px() { echo $((($1 * ${2:-$DLG_DPI} + 720) / 1440)); }

# Integer constants of the layout file ("kKeyTop 2760"), for the table's
# symbolic fields.
dlg_layout_constants() {
    grep -oE '\bk[A-Za-z]+ = [0-9]+' "$DLG_LAYOUT" | sed -E 's/ = / /'
}

# dlg_expected DPI: name, kind, caption and rectangle in client pixels of
# every item of the table.
dlg_expected() {
    local dpi=$1
    [[ -f $DLG_LAYOUT ]] || e2e_fail "layout table $DLG_LAYOUT not found"
    {
        dlg_layout_constants | sed 's/^/const /'
        sed -nE 's/^ *\{Id::([A-Za-z0-9]+), Kind::([A-Za-z]+), L"[^"]*", L"([^"]*)", L"([^"]*)", ([A-Za-z0-9]+), ([A-Za-z0-9]+), ([A-Za-z0-9]+), ([A-Za-z0-9]+), [0-9]+\},.*$/item	\1	\2	\5	\6	\7	\8	\3	\4/p' "$DLG_LAYOUT"
    } | awk -F'\t' -v dpi="$dpi" -v english="$([[ ${DLG_LANG:-ja} == en ]] && echo 1 || echo 0)" '
        function v(s) { return (s ~ /^[0-9]+$/) ? s + 0 : c[s] + 0 }
        function px(t) { return int((t * dpi + 720) / 1440) }
        /^const / { split($0, f, " "); c[f[2]] = f[3]; next }
        $1 == "item" {
            l = v($4); t = v($5); w = v($6); h = v($7)
            printf "%s\t%s\t%s\t%d,%d,%d,%d\n", $2, $3, english ? $9 : $8, px(l), px(t), px(l + w), px(t + h)
        }'
}

# dlg_client_size DPI: "WxH" of the client area the table asks for.
dlg_client_size() {
    local w h
    w=$(dlg_layout_constants | awk '$1 == "kClientWidth" { print $2 }')
    h=$(dlg_layout_constants | awk '$1 == "kClientHeight" { print $2 }')
    echo "$(dlg_px "$w" "$1")x$(dlg_px "$h" "$1")"
}

# dlg_snapshot TAG: lists the dialog's controls and maps them to the table's
# names: controls with a caption by their text, the others (list, edits,
# drop-downs, keys) by kind and nearest place.
dlg_snapshot() {
    local tag=$1 out head
    out=$(dlg_drv controls --title "$DLG_TITLE" --timeout "${DLG_TIMEOUT:-5000}") || e2e_fail "the dialog is not open"
    printf '%s\n' "$out" >"$E2E_ART/controls-$tag.txt"
    head=$(head -n 1 <<<"$out")
    # shellcheck disable=SC2034 # read by the scenarios
    DLG_HWND=$(e2e_field hwnd <<<"$head")
    DLG_RECT=$(e2e_field rect <<<"$head")
    # shellcheck disable=SC2034 # read by the scenarios
    DLG_CLIENT=$(e2e_field client <<<"$head")
    local origin
    origin=$(e2e_field origin <<<"$head")
    DLG_ORIGIN_X=${origin%,*} DLG_ORIGIN_Y=${origin#*,}
    [[ ${DLG_EXPECTED_DPI:-} == "$DLG_DPI" ]] || {
        DLG_EXPECTED=$(dlg_expected "$DLG_DPI")
        DLG_EXPECTED_DPI=$DLG_DPI
    }
    printf '%s\n' "$DLG_EXPECTED" >"$E2E_ART/expected-$tag.txt"
    local k x y
    DLG_KEY_PTS=()
    while read -r k x y; do
        DLG_KEY_PTS+=("$((DLG_ORIGIN_X + x)),$((DLG_ORIGIN_Y + y))")
    done < <(dlg_key_points "$E2E_ART/expected-$tag.txt")
    tr -d '\r' <"$E2E_ART/controls-$tag.txt" | grep '^ctrl' | awk -F'\t' '
        function hex(s,   i, n) { s = tolower(s); sub(/^0x/, "", s); n = 0
            for (i = 1; i <= length(s); i++) n = n * 16 + index("0123456789abcdef", substr(s, i, 1)) - 1
            return n }
        function kindof(cls, style,   t) {
            cls = tolower(cls)
            if (cls == "static") return "Label"
            if (cls == "listbox") return "ListBox"
            if (cls == "edit") return "Edit"
            if (cls == "combobox") return "DropDown"
            if (cls == "button") { t = hex(style) % 16
                if ((t == 2 || t == 3) && int(hex(style) / 4096) % 2) return "Toggle"  # BS_PUSHLIKE
                return (t == 2 || t == 3) ? "CheckBox" : (t <= 1 ? "Button" : "Button?") }
            return "Key"
        }
        NR == FNR { n++; name[n] = $1; kind[n] = $2; cap[n] = $3; want[n] = $4; next }
        { m++; hw[m] = $2; k[m] = kindof($4, $8); rect[m] = $5; line[m] = $0; txt[m] = $10 }
        function dist(a, b,   x, y, i, d) { split(a, x, ","); split(b, y, ","); d = 0
            for (i = 1; i <= 4; i++) d += (x[i] > y[i]) ? x[i] - y[i] : y[i] - x[i]; return d }
        END {
            for (i = 1; i <= n; i++) if (cap[i] != "")
                for (j = 1; j <= m; j++) if (!used[j] && k[j] == kind[i] && txt[j] == cap[i]) { got[i] = j; used[j] = 1; break }
            for (i = 1; i <= n; i++) if (!got[i] && cap[i] == "") {
                best = 0
                for (j = 1; j <= m; j++) if (!used[j] && k[j] == kind[i] && (!best || dist(rect[j], want[i]) < dist(rect[best], want[i]))) best = j
                if (best) { got[i] = best; used[best] = 1 }
            }
            for (i = 1; i <= n; i++) {
                if (!got[i]) { printf "%s\tMISSING\t%s\n", name[i], want[i]; continue }
                split(line[got[i]], f, "\t")
                # name hwnd rect enabled visible style state text expected
                printf "%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n", name[i], f[2], f[5], f[6], f[7], f[8], f[9], f[10], want[i]
            }
            for (j = 1; j <= m; j++) if (!used[j]) printf "EXTRA\t%s\t%s\t%s\n", hw[j], k[j], line[j]
        }' "$E2E_ART/expected-$tag.txt" - >"$E2E_ART/map-$tag.txt"
}

# dlg_get TAG NAME FIELD: a field of a mapped control (hwnd rect enabled
# visible style state text expected).
dlg_get() {
    local col
    case $3 in
    hwnd) col=2 ;; rect) col=3 ;; enabled) col=4 ;; visible) col=5 ;; style) col=6 ;;
    state) col=7 ;; text) col=8 ;; expected) col=9 ;; *) e2e_fail "dlg_get: no field $3" ;;
    esac
    awk -F'\t' -v n="$2" -v c="$col" '$1 == n { print $c; exit }' "$E2E_ART/map-$1.txt"
}

# dlg_check_geometry TAG DPI TOL: every item of the table is there once, of
# its kind, visible, at its place within TOL pixels; no control is extra.
# Prints each difference; returns 1 if there is one.
dlg_check_geometry() {
    local tag=$1 tol=$3 bad
    bad=$(awk -F'\t' -v tol="$tol" '
        $1 == "EXTRA" { print "extra control: " $0; next }
        $2 == "MISSING" { print $1 ": no control of its kind and caption (expected at " $3 ")"; next }
        {
            split($3, a, ","); split($9, e, ","); worst = 0
            for (i = 1; i <= 4; i++) { d = a[i] - e[i]; if (d < 0) d = -d; if (d > worst) worst = d }
            if (worst > tol) print $1 ": at " $3 ", layout " $9
            else if (worst > 0) print "note: " $1 ": at " $3 ", layout " $9 " (within " tol ")" > "/dev/stderr"
            if ($5 != 1) print $1 ": not visible"
        }' "$E2E_ART/map-$tag.txt")
    [[ -z $bad ]] && return 0
    printf '%s\n' "$bad" >&2
    return 1
}

# dlg_click NAME [X Y]: real left click on a control of the last snapshot
# ("map-$DLG_TAG"), at its centre or at X,Y pixels inside it.
dlg_click() {
    local rect l t r b x y
    rect=$(dlg_get "${DLG_TAG:-main}" "$1" rect)
    [[ -n $rect ]] || e2e_fail "dlg_click: no control $1 in map-${DLG_TAG:-main}"
    IFS=, read -r l t r b <<<"$rect"
    x=${2:-$(((r - l) / 2))} y=${3:-$(((b - t) / 2))}
    timeout 5 xdotool mousemove $((DLG_ORIGIN_X + l + x)) $((DLG_ORIGIN_Y + t + y)) click 1 ||
        e2e_fail "xdotool click on $1 failed"
}

# dlg_click_twips X Y: real left click at a point of the client area in twips.
dlg_click_twips() {
    local x y
    x=$(dlg_px "$1") y=$(dlg_px "$2")
    e2e_log "click at ${1},${2} twips = client ${x},${y} px"
    timeout 5 xdotool mousemove $((DLG_ORIGIN_X + x)) $((DLG_ORIGIN_Y + y)) click 1 ||
        e2e_fail "xdotool click failed"
}

# dlg_shot NAME: the dialog window cut out of a screenshot of the screen.
dlg_shot() {
    local l t r b
    IFS=, read -r l t r b <<<"$DLG_RECT"
    e2e_shot_region "$1" "$l" "$t" $((r - l)) $((b - t))
    [[ -s $E2E_ART/$1.png ]] || e2e_fail "screenshot $1 failed"
}

# Client pixel of each key's centre that no other key covers: the middle of
# a black key, the middle of a white key's part below the black keys.
# dlg_key_points EXPECTED_FILE (from dlg_expected): "key x y" lines.
dlg_key_points() {
    awk -F'\t' '$2 == "Key" {
        split($4, r, ","); k = $1; sub(/^picKey/, "", k)
        black = (k == 1 || k == 3 || k == 6 || k == 8 || k == 10)
        top[k] = r[2]; bottom[k] = r[4]; mid[k] = int((r[1] + r[3]) / 2); isblack[k] = black
    }
    END {
        # a white key below the black ones: between their bottom and its own
        for (k = 0; k < 12; k++)
            print k, mid[k], isblack[k] ? int((top[k] + bottom[k]) / 2) : int((bottom[k] + bottom[1]) / 2)
    }' "$1"
}

# dlg_key_colours: "RRGGBB" of keys 0..11 (in order, blank separated) as
# the screen shows them now, read by the driver from the X server's picture.
# (The points come from the last dlg_snapshot.)
dlg_key_colours() {
    ((${#DLG_KEY_PTS[@]} == 12)) || e2e_fail "dlg_key_colours: no dlg_snapshot yet"
    dlg_drv pixels "${DLG_KEY_PTS[@]}"
}

# dlg_keys_expected "K...": the colours keys 0..11 should show when exactly
# keys K... are set: red, else white or black.
dlg_keys_expected() {
    local k out=() on
    for k in 0 1 2 3 4 5 6 7 8 9 10 11; do
        on=0
        [[ " $1 " == *" $k "* ]] && on=1
        if ((on)); then out+=(FF0000)
        elif [[ " 1 3 6 8 10 " == *" $k "* ]]; then out+=(000000)
        else out+=(FFFFFF); fi
    done
    echo "${out[*]}"
}

# dlg_add_entry TAG [KEYS-ARGS...]: Alt+A, then waits until snapshot TAG shows
# the list with a second entry, selected.
dlg_add_entry() {
    local tag=$1
    shift
    dlg_drv keys "$@" alt+a >/dev/null || e2e_fail "cannot press Alt+A"
    for _ in $(seq 30); do
        dlg_snapshot "$tag"
        [[ $(dlg_get "$tag" lstCP state) == 1/2 ]] && return 0
        sleep 0.1
    done
    e2e_fail "Alt+A did not add a second entry"
}

# dlg_wait_keys "K..." SECS [SHOT]: waits until the screen shows exactly keys
# K... red. With SHOT, or when they never do, the dialog's picture is saved.
dlg_wait_keys() {
    local want got t0
    want=$(dlg_keys_expected "$1")
    t0=$(e2e_now)
    while :; do
        got=$(dlg_key_colours)
        [[ $got == "$want" ]] && break
        if awk -v a="$t0" -v b="$(e2e_now)" -v l="$2" 'BEGIN { exit !(b - a > l) }'; then
            e2e_log "keys on the screen: $got"
            e2e_log "expected (keys $1): $want"
            dlg_shot "keys-wrong-$(date +%H%M%S%N)"
            return 1
        fi
        sleep 0.05
    done
    [[ -n ${3:-} ]] && dlg_shot "$3"
    return 0
}

# dlg_names_of FILE TAG: the layout names of the controls in driver output
# lines (focus / tab-walk), one a line; unknown ones as their hwnd.
dlg_names_of() {
    tr -d '\r' <"$1" | awk -F'\t' 'NR == FNR { name[$2] = $1; next }
        $1 == "ctrl" { print ($2 in name) ? name[$2] : $2; next }
        $1 == "focus" { print "(" $2 ")" }' "$E2E_ART/map-$2.txt" -
}

dlg_close_box() {
    local xy
    xy=$(dlg_drv nc-hit --title "$DLG_TITLE") || true
    xy=$(e2e_field point <<<"$xy")
    [[ -n $xy ]] || e2e_fail "close box not found"
    timeout 5 xdotool mousemove "${xy%,*}" "${xy#*,}" click 1 || e2e_fail "click on the close box failed"
}

dlg_wait_gone() {
    dlg_drv dialog --gone 1 --title "$DLG_TITLE" --timeout $((${1:-5} * 1000)) >/dev/null
}

# dlg_open_from_tray [SHOT]: right click on the icon as the tray reports it
# (callback 0x401 with WM_RBUTTONDOWN), then the menu's access key C. With
# SHOT, the open menu is saved cropped as SHOT.png.
# shellcheck disable=SC2120 # the picture is optional
dlg_open_from_tray() {
    local menu rect mx1 my1 mx2 my2
    dlg_drv tray --lparam 0x204 >/dev/null || e2e_fail "tray callback not posted"
    menu=$(dlg_drv menu --wait 3000) || e2e_fail "the tray menu did not open"
    if [[ -n ${1:-} ]]; then
        rect=$(e2e_field rect <<<"$menu")
        IFS=, read -r mx1 my1 mx2 my2 <<<"$rect"
        sleep 0.2 # drawn
        e2e_shot_region "$1" "$mx1" "$my1" $((mx2 - mx1)) $((my2 - my1))
    fi
    dlg_drv menu-key --row kMenuConfig --lang "${DLG_LANG:-ja}" >/dev/null || e2e_fail "cannot choose Settings in the tray menu"
    dlg_drv dialog --title "$DLG_TITLE" >/dev/null || e2e_fail "the dialog did not open from the tray menu"
}

# dlg_winpath PATH: the Windows path the program sees for a Linux path: C:\
# for the prefix's drive_c (a program folder there looks installed in the
# screenshots), Z:\ otherwise.
dlg_winpath() {
    local p c
    p=$(readlink -m "$1")
    c=$(readlink -m "$WINEPREFIX/drive_c")
    if [[ $p == "$c"/* ]]; then
        p=${p#"$c"/}
        printf 'C:\\%s' "${p//\//\\}"
    else
        e2e_winpath "$p"
    fi
}

# dlg_first_start: starts the program without config.bin, accepts the terms
# and the device request; the dialog is then up (modal).
dlg_first_start() {
    e2e_start_program
    dlg_drv msgbox --timeout 10000 --no-icon 1 --expect-key kTerms --expect-buttons yesno --answer yes >/dev/null ||
        e2e_fail "no terms question at the first start"
    dlg_drv msgbox --no-icon 1 --expect-key kChooseInput --answer ok >/dev/null ||
        e2e_fail "no device request at the first start"
    dlg_drv dialog --title "$DLG_TITLE" --timeout 5000 >/dev/null || e2e_fail "the dialog did not open"
}
