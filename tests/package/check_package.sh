#!/usr/bin/env bash
# Checks the Debian package as a user would meet it: lintian, the desktop
# entry and the AppStream metainfo, then the programs run from the package
# unpacked into a temporary root (the system is left as it is), with a fresh
# home folder.
#   tests/package/check_package.sh DEB VERSION
set -euo pipefail
deb=$(realpath "$1")
version=$2
readme=$(dirname "$0")/../../README.md

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }

work=$(mktemp -d)
gui_pid=""
sim_pid=""
cleanup() {
  [ -z "$gui_pid" ] || kill "$gui_pid" 2>/dev/null || true
  [ -z "$sim_pid" ] || kill "$sim_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# lintian: no error; every warning left is named in the README's packaging section.
lintian --fail-on error --tag-display-limit 0 "$deb" >"$work/lintian" 2>&1 ||
  fail "lintian reports errors"
grep '^[EW]: ' "$work/lintian" || pass "lintian: no error, no warning"
for tag in $(sed -n 's/^W: [^ ]*: \([^ ]*\).*/\1/p' "$work/lintian" | sort -u); do
  grep -q -- "\`$tag\`" "$readme" || fail "lintian warning $tag is not named in the README"
done

[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package version is not $version"
depends=$(dpkg-deb -f "$deb" Depends)
[[ $depends == *libqt6serialport6* && $depends == *libc6* ]] ||
  fail "dependencies do not come from the executables: $depends"

root=$work/root
dpkg-deb -x "$deb" "$root"
usr=$root/usr
for f in bin/r7flash bin/r7flash-cli bin/r7sim "share/r7flash/VARNEL FLASH R7.INI" \
  share/r7flash/Dnld_R7.s19 share/r7flash/731-0000.S19 "share/r7flash/Download Sequences/6180.pds" \
  share/icons/hicolor/scalable/apps/r7flash.svg share/man/man1/r7flash-cli.1.gz \
  share/man/man1/r7flash.1.gz share/man/man1/r7sim.1.gz \
  share/bash-completion/completions/r7flash-cli share/doc/r7flash/copyright; do
  [ -e "$usr/$f" ] || fail "the package lacks /usr/$f"
done
[ ! -e "$usr/share/r7flash/Reg Downloads" ] || fail "the template holds Reg Downloads"
desktop-file-validate "$usr/share/applications/r7flash.desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net "$usr"/share/metainfo/*.metainfo.xml || fail "appstreamcli validate"
grep -q "<release version=\"$version\"" "$usr"/share/metainfo/*.metainfo.xml ||
  fail "the metainfo does not name release $version"
man_cli=$(zcat "$usr/share/man/man1/r7flash-cli.1.gz")
for command in slots ports exchange read write identify check flash save restore compare online erase history; do
  grep -q "^\.B[IR]* $command\b\|^\\\\fB$command\\\\fR" <<<"$man_cli" || fail "r7flash-cli(1) lacks $command"
done
for status in 0 1 2 3 4 5 6 7; do
  grep -qx "\.B $status" <<<"$man_cli" || fail "r7flash-cli(1) lacks exit status $status"
done

# The programs as installed, started from elsewhere with a fresh home.
export HOME=$work/home
mkdir -p "$HOME"
unset XDG_DATA_HOME
cd "$work"
cli=$usr/bin/r7flash-cli
user=$HOME/.local/share/r7flash
"$cli" --simulate identify >"$work/identify" || fail "identify: exit $?"
grep -q "^Device type: 6180" "$work/identify" && pass "identify" || fail "identify: $(cat "$work/identify")"
"$cli" history --serial 2130517 >"$work/history" || fail "history: exit $?"
grep -q " identify .* completed " "$work/history" && pass "history" || fail "history: $(cat "$work/history")"
cmp -s "$usr/share/r7flash/VARNEL FLASH R7.INI" "$user/VARNEL FLASH R7.INI" &&
  [ -f "$user/Download Sequences/6180.cds" ] && pass "the first start copied the template" ||
  fail "the first start did not copy the template into $user"
"$cli" --simulate --yes save >"$work/save" || fail "save: exit $?"
ls "$user/Reg Downloads/"*.txt >/dev/null 2>&1 && pass "save" || fail "save wrote nothing into $user/Reg Downloads"
"$cli" --simulate slots >"$work/slots" || fail "slots: exit $?"
grep -qF "Program directory: $user (the user's copy of $usr/share/r7flash)" "$work/slots" &&
  pass "slots names the program directory" || fail "slots: $(cat "$work/slots")"

# A settings file the user changed outlives later starts.
ini="$user/VARNEL FLASH R7.INI"
sed -i 's/^DEVICE 1 PORT SETTING *=.*/DEVICE 1 PORT SETTING =19200,E,8,1/' "$ini"
cp "$ini" "$work/changed.ini"
"$cli" --simulate slots >"$work/slots" || fail "slots: exit $?"
cmp -s "$ini" "$work/changed.ini" && grep -q "^1 .*19200,E,8,1" "$work/slots" &&
  pass "a second start keeps the changed settings file" || fail "the changed settings file was not kept"

# XDG_DATA_HOME and --home.
XDG_DATA_HOME=$work/xdg "$cli" slots | grep -qF "Program directory: $work/xdg/r7flash (" &&
  pass "XDG_DATA_HOME" || fail "XDG_DATA_HOME is not followed"
mkdir -p "$work/portable"
"$cli" --home "$work/portable" slots | grep -qF "Program directory: $work/portable (--home)" &&
  pass "--home wins" || fail "--home does not win"

# The GUI from the unpacked tree, on the simulated controller, with another
# fresh home: it has started when it has made that home's program directory,
# and it is still running a moment later.
gui_home=$work/gui-home
mkdir -p "$gui_home"
HOME=$gui_home QT_QPA_PLATFORM=offscreen "$usr/bin/r7flash" --simulate >"$work/gui.log" 2>&1 &
gui_pid=$!
for _ in $(seq 300); do
  [ -f "$gui_home/.local/share/r7flash/VARNEL FLASH R7.INI" ] && break
  kill -0 "$gui_pid" 2>/dev/null || break
  sleep 0.1
done
sleep 1
if kill -0 "$gui_pid" 2>/dev/null && [ -f "$gui_home/.local/share/r7flash/VARNEL FLASH R7.INI" ]; then
  pass "the GUI starts"
else
  fail "the GUI did not start: $(cat "$work/gui.log")"
fi
kill "$gui_pid" 2>/dev/null || true
wait "$gui_pid" 2>/dev/null || true
gui_pid=""

# A serial device the user may not open is named with its group and how to
# join it: r7sim's pseudo-terminal (mode 0600) for another user than its own.
if [ "$(id -u)" -eq 0 ] && command -v runuser >/dev/null && id nobody >/dev/null 2>&1; then
  chmod 755 "$work"
  mkdir -m 777 "$work/nobody"
  "$usr/bin/r7sim" >"$work/sim.out" 2>&1 &
  sim_pid=$!
  for _ in $(seq 300); do
    [ -s "$work/sim.out" ] && break
    sleep 0.1
  done
  device=$(head -n 1 "$work/sim.out")
  status=0
  runuser -u nobody -- env HOME="$work/nobody" "$cli" --port "$device" identify >"$work/denied" 2>&1 ||
    status=$?
  denied="You may not use $device: it belongs to the group .*\. Join it with: sudo usermod -aG "
  [ "$status" -eq 6 ] && grep -q "$denied" "$work/denied" &&
    pass "a device without permission is named with its group" ||
    fail "no permission: exit $status, $(cat "$work/denied")"
  kill "$sim_pid"
  wait "$sim_pid" 2>/dev/null || true
  sim_pid=""
fi

# Bash completion of commands and options.
if [ -f /usr/share/bash-completion/bash_completion ]; then
  completion=$(bash -c '. /usr/share/bash-completion/bash_completion
    . "$1"
    complete_line() {
      COMP_LINE=$1 COMP_POINT=${#1}
      read -ra COMP_WORDS <<<"$1"
      COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
      _r7flash_cli
      echo "${COMPREPLY[*]}"
    }
    complete_line "r7flash-cli --simulate id"
    complete_line "r7flash-cli flash --no-b"' _ "$usr/share/bash-completion/completions/r7flash-cli")
  [ "$completion" = $'identify\n--no-backup' ] && pass "bash completion" ||
    fail "bash completion: $completion"
fi

[ "$failures" -eq 0 ] || { echo "$failures package checks failed" >&2; exit 1; }
echo "The package passed its checks."
