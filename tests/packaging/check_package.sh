#!/usr/bin/env bash
# Builds the Debian package of a build directory into a scratch directory and inspects it:
# control fields and dependencies, the file list, the copyright file, changelog and manual
# pages, the desktop entry and icons, and what postinst does (run against stand-in
# commands, so nothing on this machine changes).
# Usage: check_package.sh CPACK BUILD_DIR VERSION GUI(ON|OFF), VERSION with its revision
set -euo pipefail

cpack=${1:?usage: check_package.sh CPACK BUILD_DIR VERSION GUI}
build=$(cd "${2:?}" && pwd)
version=${3:?}
gui=${4:?}
[[ $gui == ON ]] && gui=1 || gui=0

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

if ! "$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$out" >"$out/cpack.log" 2>&1; then
  cat "$out/cpack.log"
  echo "FAIL: cpack -G DEB"
  exit 1
fi
shopt -s nullglob
debs=("$out"/kestrine_*.deb)
shopt -u nullglob
if (( ${#debs[@]} != 1 )); then
  cat "$out/cpack.log"
  echo "FAIL: expected one kestrine_*.deb, found ${#debs[@]}"
  exit 1
fi
deb=${debs[0]}
echo "package: ${deb##*/}"

# Control fields.
dpkg-deb -I "$deb"
field() { dpkg-deb -f "$deb" "$1"; }
[[ $(field Package) == kestrine ]] || fail "Package is '$(field Package)'"
[[ $(field Version) == "$version" ]] || fail "Version is '$(field Version)', not $version"
[[ $(field Architecture) == "$(dpkg --print-architecture)" ]] || fail "Architecture is '$(field Architecture)'"
[[ $(field Section) == net ]] || fail "Section is '$(field Section)'"
[[ -n $(field Maintainer) ]] || fail "no Maintainer"
[[ -n $(field Description) ]] || fail "no Description"
depends=$(field Depends)
wanted=(libstdc++6)  # the shared-library scan ran; kestrine-dump needs no libpcap
wanted+=(libcap2-bin adduser)  # postinst grants kestrine-capture its right
(( gui )) && wanted+=(libqt6widgets6)
for package in "${wanted[@]}"; do
  [[ ", $depends," == *", $package "* || ", $depends," == *", $package,"* ]] || fail "Depends lacks $package: $depends"
done

# File list: everything under /usr, nothing under /usr/local, nothing naming the build tree.
dpkg-deb -c "$deb" | awk '{print $6}' >"$out/files"
cat "$out/files"
icon_sizes=(16 32 48 64 128 256)
doc=./usr/share/doc/kestrine
expected=(./usr/bin/kestrine-dump ./usr/bin/kestrine-capture "$doc/copyright" "$doc/changelog.Debian.gz"
  ./usr/share/man/man1/kestrine-dump.1.gz ./usr/share/man/man1/kestrine-capture.1.gz)
if (( gui )); then
  expected+=(./usr/bin/kestrine ./usr/share/applications/kestrine.desktop ./usr/share/man/man1/kestrine.1.gz
    ./usr/share/icons/hicolor/scalable/apps/kestrine.svg)
  for size in "${icon_sizes[@]}"; do expected+=("./usr/share/icons/hicolor/${size}x${size}/apps/kestrine.png"); done
fi
for path in "${expected[@]}"; do
  grep -qxF "$path" "$out/files" || fail "$path is not in the package"
done
grep -v -e '^\./$' -e '^\./usr/' "$out/files" && fail "files outside /usr"
grep -e '^\./usr/local' "$out/files" && fail "files under /usr/local"
grep -F -e "$build" "$out/files" && fail "files under the build path"
# kestrine-dump only reads files: open to everyone (postinst narrows the capturing programs).
dpkg-deb -c "$deb" >"$out/listing"
grep -q '^-rwxr-xr-x .* \./usr/bin/kestrine-dump$' "$out/listing" || fail "kestrine-dump is not mode 0755"

# Contents: stripped programs that do not point into the build tree; the documentation;
# the entry and icons.
dpkg-deb -x "$deb" "$out/root"
for program in "$out"/root/usr/bin/*; do
  file -b "$program" | grep -q ", stripped" || fail "${program##*/} is not stripped"
  grep -aqF "$build" "$program" && fail "${program##*/} names the build path"
done

# Compressed files: gzip -9 without a name or time stamp (header flags, time, extra flags).
for gz in "$out"/root/usr/share/doc/kestrine/*.gz "$out"/root/usr/share/man/man1/*.gz; do
  gzip -t "$gz" || fail "${gz#"$out/root"} is not gzip data"
  [[ $(od -An -tx1 -j3 -N6 "$gz" | tr -d ' ') == 000000000002 ]] ||
    fail "${gz#"$out/root"} is not compressed with gzip -9n"
done
# The copyright file in the machine-readable format, for every file, naming the licence.
copyright=$out/root/usr/share/doc/kestrine/copyright
head -n1 "$copyright" | grep -qxF 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' ||
  fail "copyright does not start with the format line"
for line in 'Upstream-Name: Kestrine' 'Files: *' 'License: Kestrine-EULA'; do
  grep -qxF "$line" "$copyright" || fail "copyright lacks '$line'"
done
grep -q '^Copyright: [0-9]\{4\}' "$copyright" || fail "copyright has no Copyright field with a year"
# The changelog's newest entry is this version of this package: a new project version
# needs its entry.
zcat "$out/root/usr/share/doc/kestrine/changelog.Debian.gz" >"$out/changelog"
[[ $(dpkg-parsechangelog -l "$out/changelog" -S Source) == kestrine ]] || fail "the changelog is not kestrine's"
[[ $(dpkg-parsechangelog -l "$out/changelog" -S Version) == "$version" ]] ||
  fail "the changelog's newest entry is $(dpkg-parsechangelog -l "$out/changelog" -S Version), not $version"
if (( gui )); then
  desktop=$out/root/usr/share/applications/kestrine.desktop
  for line in '[Desktop Entry]' Type=Application Name=Kestrine 'GenericName=Packet Capture' Exec=kestrine \
    Icon=kestrine Terminal=false 'Categories=Network;Monitor;'; do
    grep -qxF "$line" "$desktop" || fail "kestrine.desktop lacks '$line'"
  done
  grep -q '^Comment=.' "$desktop" || fail "kestrine.desktop has no Comment"
  if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$desktop" || fail "desktop-file-validate"
  fi
  for size in "${icon_sizes[@]}"; do
    file -b "$out/root/usr/share/icons/hicolor/${size}x${size}/apps/kestrine.png" | grep -q "PNG image data, $size x $size" ||
      fail "the ${size}x${size} icon is not a $size x $size PNG"
  done
  file -b "$out/root/usr/share/icons/hicolor/scalable/apps/kestrine.svg" | grep -q '^SVG Scalable Vector Graphics image' ||
    fail "the scalable icon is not an SVG image"
fi

# postinst: present and executable, run with stand-ins that log their arguments, once
# without the group and once with it (nothing may be added then), with the extracted
# package as DPKG_ROOT: it grants the right to the capturing programs the package holds.
dpkg-deb -e "$deb" "$out/control"
postinst=$out/control/postinst
if [[ ! -x $postinst ]]; then
  fail "no executable postinst"
else
  echo "--- postinst"
  cat "$postinst"
  sh -n "$postinst" || fail "postinst does not parse"
  mkdir "$out/bin"
  # shellcheck disable=SC2016  # the stand-ins expand $* and $LOG when they run
  {
    for tool in addgroup chown chmod setcap; do
      printf '#!/bin/sh\necho "%s $*" >>"$LOG"\n' "$tool" >"$out/bin/$tool"
    done
    printf '#!/bin/sh\necho "getent $*" >>"$LOG"\n[ -n "$GROUP_EXISTS" ]\n' >"$out/bin/getent"
    # dpkg-statoverride --list answers "none" (status 1) like a system without an override.
    printf '#!/bin/sh\necho "dpkg-statoverride $*" >>"$LOG"\nexit 1\n' >"$out/bin/dpkg-statoverride"
  }
  chmod +x "$out"/bin/*
  run_postinst() {
    : >"$out/log"
    LOG=$out/log GROUP_EXISTS=$1 DPKG_ROOT=$out/root PATH="$out/bin:$PATH" sh "$postinst" configure "" || fail "postinst configure failed"
    grep -v -e '^getent' -e '^dpkg-statoverride' "$out/log" | paste -sd '|'
  }
  first=$(run_postinst "")
  again=$(run_postinst yes)
  echo "postinst, new group:      $first"
  echo "postinst, group existing: $again"
  programs=("$out/root/usr/bin/kestrine-capture")
  (( gui )) && programs=("$out/root/usr/bin/kestrine" "${programs[@]}")
  grant=''
  for program in "${programs[@]}"; do
    grant+="${grant:+|}chown root:kestrine $program|chmod 0750 $program|setcap cap_net_raw+ep $program"
  done
  [[ $first == "addgroup --quiet --system kestrine|$grant" ]] || fail "postinst, new group: $first"
  [[ $again == "$grant" ]] || fail "postinst, group existing: $again"
  : >"$out/log"
  LOG=$out/log PATH="$out/bin:$PATH" sh "$postinst" remove >/dev/null || fail "postinst remove failed"
  [[ ! -s $out/log ]] || fail "postinst acts outside configure"
fi

(( failures == 0 )) || { echo "$failures check(s) failed"; exit 1; }
echo "package checks passed"
