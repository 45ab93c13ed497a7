#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks that a desktop finds there everything it
# needs: the program and the window module it loads, its launcher, the icons the launcher names,
# the AppStream data and the uinput rule.
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
    lib/udev/rules.d/70-corvane-uinput.rules; do
    [[ -f $prefix/$file ]] || fail "$file is not installed"
done

# The installed program is the one this build made.
shown=$("$prefix/bin/corvane" --version)
[[ $shown == "corvane $version" ]] || fail "installed corvane --version says \"$shown\""

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

echo "installed layout under a temporary prefix is complete"
