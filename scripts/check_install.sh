#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later

# Checks `make install` and `make uninstall` for real, in a throw-away home
# folder whose name holds a space:
#   - the program, the desktop entry, the four icons and the scalable one land
#     where the desktop looks for them, and the entry's Exec line names the
#     installed program;
#   - under Xvfb, the desktop entry starts the program, whose Save writes the
#     database beside the installed program; Quit ends it;
#   - started from a folder whose name is not UTF-8 it says so and writes
#     nothing anywhere; under a file size limit Save fails with a warning
#     instead of the program being killed;
#   - installing again and uninstalling leave the database as it was;
#   - a staged install (DESTDIR) names the final path, not the staging folder.
#
# Usage: scripts/check_install.sh BUILD_DIR
# Exit status 77 (skipped) when xvfb-run or xdotool is missing.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(cd "${1:?usage: check_install.sh BUILD_DIR}" && pwd)

for tool in xvfb-run xdotool; do
    if ! command -v "$tool" >/dev/null; then
        echo "SKIP: $tool is missing (apt-get install -y xvfb xauth xdotool)"
        exit 77
    fi
done

work=$(mktemp -d)
program_pid=""
cleanup() {
    if [ -n "$program_pid" ]; then kill "$program_pid" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# The install goes through the Makefile as a user runs it, on the program
# already built: -o build -o deps keep it from building or installing Debian
# packages from inside a test.
unset MAKEFLAGS MFLAGS MAKELEVEL
make_target() {
    make -s -C "$repo" -o build -o deps "$@" BUILD_DIR="$build"
}

export HOME="$work/home of tester"
mkdir -p "$HOME"
prefix="$HOME/.local"
program_dir="$prefix/opt/stockbook"
program="$program_dir/stockbook"
entry="$prefix/share/applications/stockbook.desktop"
database="$program_dir/stockbook.txt"

# ---- make install into the default prefix, ~/.local ---------------------------
make_target install >"$work/install.log" || { cat "$work/install.log"; fail "make install"; }

[ -x "$program" ] || fail "no program at $program"
cmp -s "$program" "$build/stockbook" || fail "$program is not the built program"
for n in 16 24 32 48; do
    icon="$prefix/share/icons/hicolor/${n}x${n}/apps/stockbook.png"
    [ -f "$icon" ] || fail "no icon at $icon"
    cmp -s "$icon" "$repo/packaging/icon/stockbook-$n.png" || fail "$icon is not the $n px icon"
    # PNG header: width and height as 32-bit big-endian numbers at bytes 16 and 20.
    read -r w h < <(od -An -tu1 -j16 -N8 "$icon" |
        awk '{print $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8}')
    [ "$w $h" = "$n $n" ] || fail "$icon is $w x $h, not $n x $n"
done
svg="$prefix/share/icons/hicolor/scalable/apps/stockbook.svg"
cmp -s "$svg" "$repo/packaging/icon/stockbook.svg" || fail "no scalable icon at $svg"
grep -Eq '<svg [^>]*viewBox="0 0 ([0-9.]+) \1"' "$svg" || fail "$svg has no square viewBox"
[ -f "$entry" ] || fail "no desktop entry at $entry"
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$entry" || fail "desktop-file-validate rejects $entry"
fi

key() { sed -n "s/^$1=//p" "$entry"; }
[ "$(key Icon)" = stockbook ] || fail "Icon is '$(key Icon)', not the theme name stockbook"
[ "$(key TryExec)" = "$program" ] || fail "TryExec is '$(key TryExec)', not $program"
# Exec: undo the string escape (\\ -> \), then split the arguments with the
# shell's double-quote rules, which are the desktop entry format's.
exec_value=$(key Exec | sed 's/\\\\/\\/g')
eval "exec_args=($exec_value)"
[ "${#exec_args[@]}" = 1 ] || fail "Exec has ${#exec_args[@]} arguments: $exec_value"
[ "${exec_args[0]}" = "$program" ] || fail "Exec names '${exec_args[0]}', not $program"
echo "installed; desktop entry:"
grep -E '^(Exec|TryExec|Icon)=' "$entry"

# ---- the launcher starts the program, and Save writes beside it ---------------
# Clicks a point given in the pixels of the window's layout table (753 x 329),
# where the window has grown with its font by one factor. Save lies at (112,
# 180) and Quit at (232, 180).
cat >"$work/click.sh" <<'EOF'
click_layout() { # window x y
    local width
    width=$(xdotool getwindowgeometry "$1" | sed -n 's/.*Geometry: \([0-9]*\)x.*/\1/p')
    xdotool mousemove --window "$1" $(($2 * width / 753)) $(($3 * width / 753)) click 1
}
EOF
cat >"$work/launch.sh" <<'EOF'
#!/usr/bin/env bash
# Runs inside xvfb-run: start through the desktop entry, click Save, close the
# save message, check the file, click Quit.
set -euo pipefail
entry=$1 database=$2 program=$3
export QT_QPA_PLATFORM=xcb
if command -v gio >/dev/null; then
    gio launch "$entry"
else
    "$program" &
fi
window=$(timeout 20 xdotool search --sync --onlyvisible --name '^Stockbook v1\.01 by ')
pid=$(xdotool getwindowpid "$window")
echo "$pid" >"$4"
[ "$(readlink "/proc/$pid/exe")" = "$program" ] || { echo "started $(readlink "/proc/$pid/exe")"; exit 1; }
source "$(dirname "$0")/click.sh"
click_layout "$window" 112 180 # Save
for _ in $(seq 100); do [ -f "$database" ] && break; sleep 0.1; done
[ -f "$database" ] || { echo "Save wrote no $database"; exit 1; }
message=$(timeout 20 xdotool search --sync --onlyvisible --name '^Stockbook$')
xdotool key --clearmodifiers Return
for _ in $(seq 100); do xdotool search --onlyvisible --name '^Stockbook$' >/dev/null || break; sleep 0.1; done
click_layout "$window" 232 180 # Quit
for _ in $(seq 100); do [ -d "/proc/$pid" ] || break; sleep 0.1; done
[ ! -d "/proc/$pid" ] || { echo "Quit did not end the program"; exit 1; }
echo "message window $message closed; program $pid ended"
EOF
chmod +x "$work/launch.sh"
rm -f "$database"
# A desktop runs a session bus. Without one, a program started under Xvfb
# where dbus-x11 is installed starts a bus of its own and leaves its address
# in ~/.dbus; so each run here gets a session bus, as on a desktop.
session_bus=()
if command -v dbus-run-session >/dev/null; then session_bus=(dbus-run-session --); fi
if ! timeout 120 xvfb-run -a -s "-screen 0 1280x800x24" "${session_bus[@]}" \
    "$work/launch.sh" "$entry" "$database" "$program" "$work/pid" >"$work/launch.log" 2>&1; then
    program_pid=$(cat "$work/pid" 2>/dev/null || true)
    cat "$work/launch.log"
    fail "starting from the desktop entry and saving"
fi
grep -v XDG_RUNTIME_DIR "$work/launch.log" || true
[ "$(od -An -tx1 "$database" | tr -d ' \n')" = 0d0a ] ||
    fail "the saved empty database is not one CR LF: $(od -c "$database")"
echo "the launcher started $program; Save wrote $database"

# ---- odd starts: a folder name that is not UTF-8, a file size limit -----------
cat >"$work/odd.sh" <<'EOF'
#!/usr/bin/env bash
# Runs inside xvfb-run. $1: a copy of the program in a folder whose name is not
# UTF-8; $2: a copy in a folder of its own, started under `ulimit -f 0`.
set -euo pipefail
export QT_QPA_PLATFORM=xcb
source "$(dirname "$0")/click.sh"
save_and_quit() { # window: Save, expect a warning, close it, Quit
    click_layout "$1" 112 180
    timeout 10 xdotool search --sync --onlyvisible --name '^Stockbook$' >/dev/null ||
        { echo "no warning after Save"; exit 1; }
    xdotool key --clearmodifiers Return
    sleep 0.5
    click_layout "$1" 232 180
}
"$1" &
pid=$!
# The warning comes at start-up, before anything is clicked.
timeout 10 xdotool search --sync --onlyvisible --name '^Stockbook$' >/dev/null ||
    { echo "no warning at start-up in a folder whose name is not UTF-8"; exit 1; }
xdotool key --clearmodifiers Return
window=$(timeout 10 xdotool search --sync --onlyvisible --name '^Stockbook v1\.01 by ')
save_and_quit "$window"
wait $pid
(ulimit -f 0 && exec "$2") &
pid=$!
window=$(timeout 10 xdotool search --sync --onlyvisible --name '^Stockbook v1\.01 by ')
save_and_quit "$window"
wait $pid || { echo "the program under a file size limit ended with status $?"; exit 1; }
echo "odd starts: a warning each, and the program ended by Quit"
EOF
chmod +x "$work/odd.sh"
odd_folder="$work/caf"$'\xe9'
mkdir -p "$odd_folder" "$work/limited"
cp "$program" "$odd_folder/stockbook"
cp "$program" "$work/limited/stockbook"
root_database_before=$([ -e /stockbook.txt ] && echo yes || echo no)
timeout 120 xvfb-run -a -s "-screen 0 1280x800x24" "${session_bus[@]}" \
    "$work/odd.sh" "$odd_folder/stockbook" "$work/limited/stockbook" >"$work/odd.log" 2>&1 ||
    { cat "$work/odd.log"; fail "odd starts"; }
grep -v XDG_RUNTIME_DIR "$work/odd.log" || true
[ "$(ls "$odd_folder")" = stockbook ] || fail "a file was written beside $odd_folder/stockbook"
[ "$root_database_before" = yes ] || [ ! -e /stockbook.txt ] || fail "a database was written to /"
[ ! -s "$work/limited/stockbook.txt" ] || fail "a database was written under the size limit"
rm -rf "$odd_folder" "$work/limited"

# ---- installing again and uninstalling keep the database ----------------------
printf '[Box]: A3 [Item]: BC547 [Nr]: 25 [Type]: Transistor\r\n\r\n' >"$database"
cp "$database" "$work/database.kept"
make_target install >/dev/null || fail "second make install"
cmp -s "$database" "$work/database.kept" || fail "make install changed the database"

make_target uninstall >"$work/uninstall.log" || { cat "$work/uninstall.log"; fail "make uninstall"; }
for gone in "$program" "$entry" "$svg" "$prefix"/share/icons/hicolor/{16x16,24x24,32x32,48x48}/apps/stockbook.png; do
    [ ! -e "$gone" ] || fail "make uninstall left $gone"
done
cmp -s "$database" "$work/database.kept" || fail "make uninstall removed or changed the database"
# The database and its history stay.
left=$(find "$HOME" -type f -not -path "$program_dir/stockbook-versions/*" | sort)
[ "$left" = "$database" ] || fail "after make uninstall these files are left: $left"
[ -n "$(ls "$program_dir/stockbook-versions")" ] || fail "make uninstall removed the history"
echo "uninstalled; the database stays: $database"

# Without the database and its history, the emptied program folder goes too.
rm -r "$database" "$program_dir/stockbook-versions"
make_target uninstall >/dev/null || fail "make uninstall with nothing installed"
[ ! -e "$program_dir" ] || fail "make uninstall left the empty $program_dir"

# ---- a staged install names the final place -----------------------------------
stage="$work/stage"
make_target install DESTDIR="$stage" PREFIX=/usr/local >/dev/null || fail "staged make install"
staged_entry="$stage/usr/local/share/applications/stockbook.desktop"
[ -x "$stage/usr/local/opt/stockbook/stockbook" ] || fail "staged install put no program"
grep -qx 'Exec=/usr/local/opt/stockbook/stockbook' "$staged_entry" ||
    fail "staged Exec line: $(grep '^Exec=' "$staged_entry")"
make_target uninstall DESTDIR="$stage" PREFIX=/usr/local >/dev/null || fail "staged make uninstall"
[ -z "$(find "$stage" -type f)" ] || fail "staged uninstall left: $(find "$stage" -type f)"
echo "staged install and uninstall under DESTDIR: ok"
echo "PASS"
