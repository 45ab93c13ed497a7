#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks that a desktop finds there all it needs,
# and that the installed program answers its command line and opens its window.
#   install-layout.sh CMAKE BUILD-FOLDER VERSION
set -euo pipefail
cmake=$1 build=$(cd "$2" && pwd) version=$3 app=dev.corvane.Corvane
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cd "$prefix"
fail() { echo "FAIL: $*" >&2 && exit 1; }

"$cmake" --install "$build" --prefix "$prefix" >install.log 2>&1 || fail "cmake --install: $(tail -5 install.log)"
for file in bin/corvane lib/corvane/corvane-window.so "share/applications/$app.desktop" \
    "share/metainfo/$app.metainfo.xml" "share/icons/hicolor/scalable/apps/$app.svg" \
    "share/icons/hicolor/256x256/apps/$app.png" lib/udev/rules.d/70-corvane-uinput.rules \
    share/man/man1/corvane.1 lib/systemd/user/corvane.service lib/firewalld/services/corvane.xml \
    etc/ufw/applications.d/corvane; do
    [[ -f $file ]] || fail "$file is not installed"
done

# Without a display: help and version exit 0, a wrong command line exits 2 with one line.
[[ $(bin/corvane --version) == "corvane $version" ]] || fail "corvane --version says $(bin/corvane --version)"
[[ $(bin/corvane --help | grep -cE -- '--(help|version|headless|background)') -ge 4 ]] || fail "--help misses options"
for wrong in --bogus "--headless --background" stray; do
    status=0
    # shellcheck disable=SC2086 # each case is a list of arguments
    bin/corvane $wrong >wrong.out 2>wrong.err || status=$?
    ((status == 2)) && [[ ! -s wrong.out && $(wc -l <wrong.err) == 1 ]] ||
        fail "corvane $wrong exited with $status and said: $(cat wrong.out wrong.err)"
done

# The installed program opens its window from the installed module (the window starts no
# receiver), and says so plainly when the module is missing.
open_window() {
    status=0
    env HOME="$prefix/home" XDG_CONFIG_HOME="$prefix/config" XDG_DATA_HOME="$prefix/data" \
        QT_QPA_PLATFORM=offscreen CORVANE_INPUT=none CORVANE_SECRETS=file \
        timeout 3 bin/corvane >window.log 2>&1 || status=$?
}
open_window
((status == 124)) || fail "the installed window exited with $status: $(tail -3 window.log)"
rm lib/corvane/corvane-window.so
open_window
((status == 1)) && grep -q "the window cannot open: corvane-window.so is neither in" window.log ||
    fail "without its module the program exited with $status: $(cat window.log)"

# The launcher names the icon installed beside it, 256 pixels square.
grep -qx "Icon=$app" "share/applications/$app.desktop" || fail "the launcher names another icon"
[[ $(identify -format "%wx%h" "share/icons/hicolor/256x256/apps/$app.png") == 256x256 ]] || fail "the icon is not 256x256"

warnings=$(LC_ALL=C.UTF-8 man --warnings -l share/man/man1/corvane.1 2>&1 >/dev/null)
[[ -z $warnings ]] || fail "the manual page warns: $warnings"

# The user unit runs the installed program headless, and systemd accepts it (checked against
# this prefix's program, since the unit names where the program will finally be).
unit=lib/systemd/user/corvane.service
grep -qx "ExecStart=.*/bin/corvane --headless" "$unit" || fail "the unit runs $(grep ExecStart "$unit")"
if command -v systemd-analyze >/dev/null; then
    mkdir verify
    sed "s#^ExecStart=[^ ]*#ExecStart=$prefix/bin/corvane#" "$unit" >verify/corvane.service
    verdict=$(systemd-analyze verify --man=no verify/corvane.service 2>&1) && [[ -z $verdict ]] ||
        fail "systemd-analyze: $verdict"
fi
xmllint --noout lib/firewalld/services/corvane.xml || fail "the firewalld service is not well-formed"
echo "installed layout under a temporary prefix is complete"
