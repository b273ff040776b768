#!/usr/bin/env bash
# The Windows installer under Wine, by what its pages leave behind. A silent install with the
# association component puts kestrine.exe, the uninstaller and the Start-menu folder
# "Kestrine" in place (a plain shortcut and one flagged to run as administrator), records
# itself for Add/Remove Programs (version, size, NoModify/NoRepair as DWORDs) and makes
# .pcap and .pcapng open with `kestrine.exe FILE`; the silent uninstall takes all of that
# away, puts back another program's association of .pcap, leaves no empty vendor key in
# HKLM and leaves the program's FirstRun value alone. A silent install with /NOASSOCIATE
# writes no association, and takes an earlier one away when it installs over it.
# Usage: check_installer.sh WINE INSTALLER (WINEPREFIX set, its server running)
set -euo pipefail
wine=$1
installer=$2
drive=$WINEPREFIX/drive_c
folder=Kestrine-installer-check
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Kestrine Setup'
menu=$drive/ProgramData/Microsoft/Windows/Start\ Menu/Programs/Kestrine
# Wine's menu builder would copy shortcuts and file types into the host's desktop.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:+$WINEDLLOVERRIDES;}winemenubuilder.exe=d"
fail() { echo "check_installer: $*" >&2; exit 1; }

# reg_value KEY NAME: "TYPE DATA" of one value, empty when it is missing.
reg_value() {
  timeout 60 "$wine" reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' |
    awk -v name="$2" '$1 == name { $1 = ""; sub(/^ +/, ""); print; exit }' || true
}
# reg_default KEY: the data of the key's default value, empty when it is missing.
reg_default() {
  timeout 60 "$wine" reg query "$1" /ve 2>/dev/null | tr -d '\r' |
    awk '/REG_SZ/ { sub(/^.*REG_SZ +/, ""); print; exit }' || true
}
reg_exists() { timeout 60 "$wine" reg query "$1" >/dev/null 2>&1; }
# The link flags' byte with SLDF_RUNAS_USER (0x2000 of the 32-bit flags at offset 0x14).
runs_as_admin() { (( $(od -An -tu1 -j 21 -N 1 "$1") & 0x20 )); }

install() {
  # NSIS takes /D= only as the last argument.
  timeout 120 "$wine" "$installer" /S "$@" "/D=C:\\$folder" || fail "the installer failed ($*)"
}
# The uninstaller copies itself away and runs from there: wait for it to finish.
uninstall() {
  timeout 120 "$wine" "C:\\$folder\\Uninstall.exe" /S || fail "the uninstaller failed"
  for _ in $(seq 1 100); do
    [[ ! -e $drive/$folder/Uninstall.exe && ! -e $menu ]] && break
    sleep 0.2
  done
  [[ ! -e $drive/$folder/kestrine.exe ]] || fail "kestrine.exe left after uninstalling"
  [[ ! -e $drive/$folder/kestrine-capture.exe ]] || fail "kestrine-capture.exe left after uninstalling"
  [[ ! -e $menu ]] || fail "the Start-menu folder left after uninstalling"
  ! reg_exists "$uninstall_key" || fail "the uninstall entry left after uninstalling"
  ! reg_exists 'HKLM\Software\Harvoll' || fail "HKLM\\Software\\Harvoll left after uninstalling"
  ! reg_exists 'HKLM\Software\Classes\Kestrine.CaptureFile' || fail "the file type left after uninstalling"
  [[ -z $(reg_default 'HKLM\Software\Classes\.pcapng') ]] || fail ".pcapng still associated after uninstalling"
}

timeout 60 "$wine" reg add 'HKCU\Software\Harvoll\Kestrine' /v FirstRun /t REG_DWORD /d 5 /f >/dev/null
# Another program's association of .pcap, which the uninstall puts back.
timeout 60 "$wine" reg add 'HKLM\Software\Classes\.pcap' /ve /d Other.Capture /f >/dev/null
timeout 60 "$wine" reg delete 'HKLM\Software\Classes\.pcapng' /f >/dev/null 2>&1 || true

rm -rf "${drive:?}/$folder"
install
[[ -f $drive/$folder/kestrine.exe ]] || fail "kestrine.exe not installed"
[[ -f $drive/$folder/kestrine-capture.exe ]] || fail "kestrine-capture.exe not installed"
[[ -f $drive/$folder/Uninstall.exe ]] || fail "no uninstaller"
[[ -f $menu/Kestrine.lnk ]] || fail "no shortcut Kestrine in the Start-menu folder Kestrine"
[[ -f "$menu/Kestrine as administrator.lnk" ]] || fail "no shortcut \"Kestrine as administrator\""
! runs_as_admin "$menu/Kestrine.lnk" || fail "the plain shortcut asks for elevation"
runs_as_admin "$menu/Kestrine as administrator.lnk" || fail "the administrator shortcut does not ask for elevation"
[[ $(reg_value "$uninstall_key" DisplayVersion) == "REG_SZ 1.2.0.1" ]] ||
  fail "not recorded as version 1.2.0.1 for Add/Remove Programs"
for value in NoModify NoRepair; do
  [[ $(reg_value "$uninstall_key" $value) == "REG_DWORD 0x1" ]] ||
    fail "$value is \"$(reg_value "$uninstall_key" $value)\", not the DWORD 1"
done
size=$(reg_value "$uninstall_key" EstimatedSize)
exe_kib=$(($(stat -c %s "$drive/$folder/kestrine.exe") / 1024))
[[ $size == "REG_DWORD 0x"* ]] && (($(printf '%d' "${size#REG_DWORD }") >= exe_kib)) ||
  fail "EstimatedSize \"$size\" is not a DWORD of at least kestrine.exe's $exe_kib KiB"
command=$(reg_default 'HKLM\Software\Classes\Kestrine.CaptureFile\shell\open\command')
[[ $command == "\"C:\\$folder\\kestrine.exe\" \"%1\"" ]] || fail "the open command is \"$command\""
for ext in .pcap .pcapng; do
  [[ $(reg_default "HKLM\\Software\\Classes\\$ext") == Kestrine.CaptureFile ]] || fail "$ext not associated"
done
uninstall
[[ $(reg_default 'HKLM\Software\Classes\.pcap') == Other.Capture ]] || fail "the other program's .pcap association not put back"
[[ $(reg_value 'HKCU\Software\Harvoll\Kestrine' FirstRun) == "REG_DWORD 0x5" ]] ||
  fail "the uninstaller touched the FirstRun value ($(reg_value 'HKCU\Software\Harvoll\Kestrine' FirstRun))"

install /NOASSOCIATE
[[ -f $menu/Kestrine.lnk ]] || fail "no shortcut after installing with /NOASSOCIATE"
! reg_exists 'HKLM\Software\Classes\Kestrine.CaptureFile' || fail "file type written with /NOASSOCIATE"
[[ $(reg_default 'HKLM\Software\Classes\.pcap') == Other.Capture ]] || fail ".pcap taken over with /NOASSOCIATE"
# Installing over an install: the earlier one is uninstalled first; then without its uninstaller.
install
[[ $(reg_default 'HKLM\Software\Classes\.pcap') == Kestrine.CaptureFile ]] || fail ".pcap not associated when installed over an install"
rm -f "$drive/$folder/Uninstall.exe"
install /NOASSOCIATE
[[ -f $drive/$folder/Uninstall.exe ]] || fail "no uninstaller when installed over a folder without one"
[[ $(reg_default 'HKLM\Software\Classes\.pcap') == Other.Capture ]] || fail "the association left when installed over without it"
uninstall
timeout 60 "$wine" reg delete 'HKLM\Software\Classes\.pcap' /f >/dev/null 2>&1 || true
echo "installer: installed with and without the association, recorded and removed again"
