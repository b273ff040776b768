#!/usr/bin/env bash
# Which capabilities capturing needs: runs the probe as an unprivileged user (nobody) in a
# private network namespace, first with no rights, then with only cap_net_raw set on the
# file, the way the package and scripts/run.sh grant it. Capture must fail without it and
# work with it alone; SO_RCVBUFFORCE must then be refused (no cap_net_admin held), which
# the session never needs: it captures into the socket's receive ring.
# Usage: check_capture_rights.sh PROBE. Exit 77 (skipped) without root or the tools.
set -euo pipefail

probe=${1:?usage: check_capture_rights.sh PROBE}
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
    --inh-caps=-all --ambient-caps=-all "$1"' _ "$1" || true
}

fail=0
bare=$(run_as_nobody "$work/bare")
raw=$(run_as_nobody "$work/raw")
echo "no capability:      $bare"
echo "cap_net_raw only:   $raw"
[[ $bare == session=errors:* ]] || { echo "FAIL: captured without any capability"; fail=1; }
[[ $raw == "session=ready promisc=on rcvbufforce=refused received=yes" ]] ||
  { echo "FAIL: cap_net_raw alone should capture, promiscuously, without cap_net_admin"; fail=1; }
exit "$fail"
