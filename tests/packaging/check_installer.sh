#!/usr/bin/env bash
# The Windows installer under Wine: a silent install puts kestrine.exe, the uninstaller and
# the Start-menu shortcut in place and records itself for Add/Remove Programs; the silent
# uninstall takes them away again and leaves the program's FirstRun value alone.
# Usage: check_installer.sh WINE INSTALLER (WINEPREFIX set, its server running)
set -euo pipefail
wine=$1
installer=$2
drive=$WINEPREFIX/drive_c
folder=Kestrine-installer-check
fail() { echo "check_installer: $*" >&2; exit 1; }

first_run() { timeout 60 "$wine" reg query 'HKCU\Software\Harvoll\Kestrine' /v FirstRun 2>/dev/null | tr -d '\r' | grep -o '0x[0-9a-f]*' || true; }
timeout 60 "$wine" reg add 'HKCU\Software\Harvoll\Kestrine' /v FirstRun /t REG_DWORD /d 5 /f >/dev/null

rm -rf "${drive:?}/$folder"
timeout 120 "$wine" "$installer" /S "/D=C:\\$folder" || fail "the installer failed"
[[ -f $drive/$folder/kestrine.exe ]] || fail "kestrine.exe not installed"
[[ -f $drive/$folder/Uninstall.exe ]] || fail "no uninstaller"
shortcut=$(find "$drive/ProgramData/Microsoft/Windows/Start Menu/Programs" -name 'Kestrine.lnk' | head -n 1)
[[ -n $shortcut ]] || fail "no Start-menu shortcut"
timeout 60 "$wine" reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Kestrine Setup' /v DisplayVersion 2>/dev/null |
  grep -q '1\.2\.0\.1' || fail "not recorded as version 1.2.0.1 for Add/Remove Programs"

# The uninstaller copies itself away and runs from there: wait for it to finish.
timeout 120 "$wine" "C:\\$folder\\Uninstall.exe" /S || fail "the uninstaller failed"
for _ in $(seq 1 100); do
  [[ ! -e $drive/$folder/kestrine.exe && ! -e $shortcut ]] && break
  sleep 0.2
done
[[ ! -e $drive/$folder/kestrine.exe ]] || fail "kestrine.exe left after uninstalling"
[[ ! -e $shortcut ]] || fail "the shortcut left after uninstalling"
[[ $(first_run) == 0x5 ]] || fail "the uninstaller touched the FirstRun value ($(first_run))"
echo "installer: installed, recorded and removed again"
