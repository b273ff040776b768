#!/usr/bin/env bash
# Cross-builds the program (kestrine.exe, Win32) and the tests for 64-bit Windows with
# MinGW-w64 into build-windows/, runs the tests under Wine in a throw-away prefix inside that
# folder (Wine's null display driver: no X server needed), then makes the installer
# kestrine-<version>-win64.exe with NSIS and checks it under Wine; last, the main window's
# default size and the Find window's place once more where Wine draws them (its X11 driver
# on Xvfb, with openbox). Installs the cross compiler, Wine, NSIS, Xvfb and openbox when
# missing.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(g++-mingw-w64-x86-64-posix wine wine64 googletest nsis xvfb openbox)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [[ ${#missing[@]} -gt 0 ]]; then
  echo "Installing: ${missing[*]}"
  sudo=""
  [[ $(id -u) -ne 0 ]] && sudo="sudo"
  $sudo apt-get update -qq
  # With recommends: the Wine libraries as measured.
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
fi

jobs=$(nproc)
build=build-windows

echo "== Windows cross build (MinGW-w64), tests under Wine =="
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64.cmake" >/dev/null
cmake --build "$build" -j "$jobs"

export WINEPREFIX="$PWD/$build/wine-prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="  # no Mono or Gecko installer at prefix creation
unset DISPLAY
# The 64-bit loader and its server, as the toolchain file picks them.
wine=$(sed -n 's/^KESTRINE_WINE:FILEPATH=//p' "$build/CMakeCache.txt")
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver64)
[[ -x "$wine" ]] || { echo "no Wine loader found" >&2; exit 1; }

# Wine's background processes keep ctest's output pipes open unless they are started
# detached beforehand; the server is ended however the run ends.
stop_wine() {
  timeout 60 "$wineserver" -k </dev/null >/dev/null 2>&1 || true
  timeout 60 "$wineserver" -w </dev/null >/dev/null 2>&1 || true
}
trap stop_wine EXIT
mkdir -p "$WINEPREFIX"
stop_wine  # a server left over from an earlier run would refuse -p
timeout 60 "$wineserver" -p </dev/null >/dev/null 2>&1
timeout 300 "$wine" wineboot -i </dev/null >/dev/null 2>&1
# Windows has the dialogs' fonts (Fixedsys, MS Sans Serif, System) in its Fonts folder; this
# Wine loads its own copies only from there. Windows need no display: the null driver.
cp -n /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
timeout 60 "$wine" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null >/dev/null 2>&1
# The server and desktop that wineboot started still hold the old driver setting: restart
# them so that every test process starts with the null driver.
stop_wine
timeout 60 "$wineserver" -p </dev/null >/dev/null 2>&1
# One process alone first, so the prefix's services are up before the tests start in
# parallel; it also shows that the setting holds.
timeout 120 "$wine" reg query 'HKCU\Software\Wine\Drivers' /v Graphics </dev/null 2>/dev/null | grep -q null ||
  { echo "the Wine prefix did not take the null display driver" >&2; exit 1; }

timeout 1200 ctest --test-dir "$build" --output-on-failure --timeout 300 -j "$jobs"

echo "== Windows installer (NSIS) =="
(cd "$build" && cpack -G NSIS >/dev/null)
tests/packaging/check_installer.sh "$wine" "$build/kestrine-$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")-win64.exe"

echo "== The windows drawn: Wine's X11 driver on Xvfb, with openbox =="
# The tests above draw nothing. A second prefix, with Wine's ordinary driver, lays the main
# window out at its default size and places the Find window as a user sees them.
drawn_prefix="$PWD/$build/wine-prefix-x11"
display=""
for n in $(seq 90 130); do
  [[ -e /tmp/.X$n-lock || -e /tmp/.X11-unix/X$n ]] || { display=$n; break; }
done
[[ -n $display ]] || { echo "no free X display number" >&2; exit 1; }
Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
stop_drawn() {
  WINEPREFIX="$drawn_prefix" timeout 60 "$wineserver" -k </dev/null >/dev/null 2>&1 || true
  kill "$xvfb" 2>/dev/null || true
  stop_wine
}
trap stop_drawn EXIT
for _ in $(seq 100); do [[ -e /tmp/.X11-unix/X$display ]] && break; sleep 0.1; done
DISPLAY=":$display" openbox >/dev/null 2>&1 &
(
  export WINEPREFIX="$drawn_prefix" DISPLAY=":$display"
  rm -rf "$WINEPREFIX" && mkdir -p "$WINEPREFIX"
  timeout 300 "$wine" wineboot -i </dev/null >/dev/null 2>&1
  cp -n /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
  timeout 60 "$wineserver" -k </dev/null >/dev/null 2>&1 || true
  timeout 300 "$wine" "$build/tests/windows_ui_tests.exe" \
    --gtest_filter='*WidestCommonLine*:*OpensFilesCopiesAndFinds*' </dev/null | tail -n 3
  exit "${PIPESTATUS[0]}"
)
