#!/usr/bin/env bash
# Which capabilities capturing needs: runs the probe as an unprivileged user (nobody) in a
# private network namespace, first with no rights, then with only cap_net_raw set on the
# file, the way the package and scripts/run.sh grant it. Capture must fail without it and
# work with it alone; SO_RCVBUFFORCE must then be refused (no cap_net_admin held), which
# the session never needs: it captures into the socket's receive ring.
# kestrine-capture, granted the same way, must then run; without the right it names the
# remedy in one line and exits with status 2.
# Usage: check_capture_rights.sh PROBE [KESTRINE_CAPTURE]. Exit 77 (skipped) without root
# or the tools.
set -euo pipefail

probe=${1:?usage: check_capture_rights.sh PROBE [KESTRINE_CAPTURE]}
capture_tool=${2:-}
skip() { echo "skipped: $*"; exit 77; }
[[ $(id -u) -eq 0 ]] || skip "needs root to make a namespace and switch to an unprivileged user"
for tool in setcap setpriv unshare ip; do
  command -v "$tool" >/dev/null || skip "$tool is missing"
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmod 0755 "$work"
cp "$probe" "$work/bare"
cp "$probe" "$work/raw"
setcap cap_net_raw+ep "$work/raw" 2>/dev/null || skip "the file system under $work holds no capabilities"

# Prints the probe's report line as nobody, with no inherited capabilities.
run_as_nobody() {
  # shellcheck disable=SC2016  # expanded by the inner shell
  unshare --net bash -c 'ip link set lo up && exec setpriv --reuid=65534 --regid=65534 --clear-groups \
    --inh-caps=-all --ambient-caps=-all "$@"' _ "$@" || true
}

fail=0
bare=$(run_as_nobody "$work/bare")
raw=$(run_as_nobody "$work/raw")
echo "no capability:      $bare"
echo "cap_net_raw only:   $raw"
[[ $bare == session=errors:* ]] || { echo "FAIL: captured without any capability"; fail=1; }
[[ $raw == "session=ready promisc=on rcvbufforce=refused received=yes" ]] ||
  { echo "FAIL: cap_net_raw alone should capture, promiscuously, without cap_net_admin"; fail=1; }

if [[ -n $capture_tool ]]; then
  cp "$capture_tool" "$work/capture-bare"
  cp "$capture_tool" "$work/capture-raw"
  setcap cap_net_raw+ep "$work/capture-raw"
  # shellcheck disable=SC2016  # expanded by the inner shell
  bare=$(run_as_nobody bash -c '"$0" -i lo --duration 0.2 2>&1; echo "status $?"' "$work/capture-bare")
  # shellcheck disable=SC2016  # expanded by the inner shell
  raw=$(run_as_nobody bash -c '"$0" -i lo --duration 0.2 2>&1 >/dev/null; echo "status $?"' "$work/capture-raw")
  echo "kestrine-capture, no capability: $bare"
  echo "kestrine-capture, cap_net_raw:   $raw"
  remedy="kestrine-capture: capturing needs CAP_NET_RAW: join the group kestrine and log in again, or run"
  [[ $bare == "$remedy setcap cap_net_raw+ep on kestrine-capture"$'\n'"status 2" ]] ||
    { echo "FAIL: kestrine-capture without the right"; fail=1; }
  [[ $raw == "0 datagrams captured"$'\n'"0 datagrams dropped by kernel"$'\n'"status 0" ]] ||
    { echo "FAIL: kestrine-capture with cap_net_raw alone"; fail=1; }
fi
exit "$fail"
