#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks that a desktop finds there everything it
# needs: the program and the window module it loads, its launcher, the icons the launcher names,
# the AppStream data, the uinput rule, the manual page, the systemd user unit and the firewall
# rules; and that the installed program answers its command line.
#
#   install-layout.sh CMAKE BUILD-FOLDER VERSION
set -euo pipefail

cmake=$1
build=$2
version=$3
app=dev.corvane.Corvane
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

"$cmake" --install "$build" --prefix "$prefix" >"$prefix/install.log" 2>&1 ||
    fail "cmake --install failed: $(tail -5 "$prefix/install.log")"

for file in bin/corvane \
    lib/corvane/corvane-window.so \
    "share/applications/$app.desktop" \
    "share/metainfo/$app.metainfo.xml" \
    "share/icons/hicolor/scalable/apps/$app.svg" \
    "share/icons/hicolor/256x256/apps/$app.png" \
    lib/udev/rules.d/70-corvane-uinput.rules \
    share/man/man1/corvane.1 \
    lib/systemd/user/corvane.service \
    lib/firewalld/services/corvane.xml \
    etc/ufw/applications.d/corvane; do
    [[ -f $prefix/$file ]] || fail "$file is not installed"
done

# The installed program is the one this build made, and its command line answers without a
# display: help and version exit 0, a wrong option exits 2 with one line.
shown=$("$prefix/bin/corvane" --version)
[[ $shown == "corvane $version" ]] || fail "installed corvane --version says \"$shown\""
help=$("$prefix/bin/corvane" --help) || fail "corvane --help exited with $?"
for option in --help --version --headless --background; do
    grep -q -- "$option" <<<"$help" || fail "corvane --help does not list $option"
done
for wrong in --bogus "--headless --background" stray; do
    status=0
    # shellcheck disable=SC2086 # each case is a list of arguments
    "$prefix/bin/corvane" $wrong >"$prefix/wrong.out" 2>"$prefix/wrong.err" || status=$?
    ((status == 2)) || fail "corvane $wrong exited with $status, not 2"
    [[ ! -s $prefix/wrong.out && $(wc -l <"$prefix/wrong.err") == 1 ]] ||
        fail "corvane $wrong said: $(cat "$prefix/wrong.out" "$prefix/wrong.err")"
done

# The installed program opens its window from the installed module, and says so plainly when the
# module is missing. The window does not start the receiver, so it touches no port or keyring.
open_window() {
    env HOME="$prefix/home" XDG_CONFIG_HOME="$prefix/config" XDG_DATA_HOME="$prefix/data" \
        QT_QPA_PLATFORM=offscreen CORVANE_INPUT=none CORVANE_SECRETS=file \
        timeout 3 "$prefix/bin/corvane" >"$prefix/window.log" 2>&1
}
status=0
open_window || status=$?
((status == 124)) || fail "the installed window exited with $status: $(tail -3 "$prefix/window.log")"
rm "$prefix/lib/corvane/corvane-window.so"
status=0
open_window || status=$?
((status == 1)) || fail "without its module the program exited with $status"
grep -q "the window cannot open: corvane-window.so is neither in" "$prefix/window.log" ||
    fail "without its module the program said: $(cat "$prefix/window.log")"

# The launcher starts that program and names the icon installed beside it.
desktop=$prefix/share/applications/$app.desktop
exec_line=$(sed -n 's/^Exec=//p' "$desktop")
[[ ${exec_line%% *} == corvane ]] || fail "the launcher runs \"$exec_line\", not corvane"
icon=$(sed -n 's/^Icon=//p' "$desktop")
[[ $icon == "$app" ]] || fail "the launcher names icon \"$icon\", not $app"

# Icon themes trust the folder name: the bitmap must really be 256 pixels square.
size=$(identify -format "%wx%h" "$prefix/share/icons/hicolor/256x256/apps/$app.png")
[[ $size == 256x256 ]] || fail "the 256x256 icon is $size"

# Software centres find the launcher through the metainfo's desktop id.
grep -q "<launchable type=\"desktop-id\">$app.desktop</launchable>" \
    "$prefix/share/metainfo/$app.metainfo.xml" || fail "the metainfo does not launch $app.desktop"

# The manual page renders without a warning.
warnings=$(LC_ALL=C.UTF-8 man --warnings -l "$prefix/share/man/man1/corvane.1" 2>&1 >/dev/null)
[[ -z $warnings ]] || fail "the manual page warns: $warnings"

# The user unit runs the installed program headless; systemd accepts it (checked against this
# prefix's program, since the unit names where the program will finally be).
unit=$prefix/lib/systemd/user/corvane.service
grep -qx "ExecStart=.*/bin/corvane --headless" "$unit" || fail "the unit runs $(grep ExecStart "$unit")"
if command -v systemd-analyze >/dev/null; then
    mkdir "$prefix/verify"
    sed "s#^ExecStart=[^ ]*#ExecStart=$prefix/bin/corvane#" "$unit" >"$prefix/verify/corvane.service"
    verdict=$(systemd-analyze verify --man=no "$prefix/verify/corvane.service" 2>&1) ||
        fail "systemd-analyze rejects the unit: $verdict"
    [[ -z $verdict ]] || fail "systemd-analyze warns about the unit: $verdict"
fi

# The firewall rules open TCP 55440 and mDNS.
firewalld=$prefix/lib/firewalld/services/corvane.xml
xmllint --noout "$firewalld" || fail "the firewalld service is not well-formed XML"
[[ $(xmllint --xpath 'string(/service/port[@protocol="tcp"]/@port)' "$firewalld") == 55440 &&
    $(xmllint --xpath 'string(/service/include/@service)' "$firewalld") == mdns ]] ||
    fail "the firewalld service does not open TCP 55440 and mDNS"
python3 - "$prefix/etc/ufw/applications.d/corvane" <<'PYTHON' || fail "the ufw profile is wrong"
import configparser, sys
profile = configparser.ConfigParser(interpolation=None)
profile.read(sys.argv[1])
assert profile["Corvane"]["title"] and profile["Corvane"]["description"]
assert profile["Corvane"]["ports"] == "55440/tcp|5353/udp", profile["Corvane"]["ports"]
PYTHON

echo "installed layout under a temporary prefix is complete"
