#!/usr/bin/env bash
# For filter expressions over every capture of the shared test corpus, kestrine-dump
# --filter E --summary must list exactly the datagrams that tcpdump prints for 'ip and (E)':
# the same ones, in the same order (where each stands among the packets tcpdump prints for
# "ip", against our indexes). Files whose "ip" frames tcpdump counts differently (see
# tcpdump_counts.sh) are left out, as are lengths (tcpdump's are the frame's, ours the
# datagram's). Needs tcpdump (scripts/deps.sh).
set -u
dump=$1
corpus=$2
if [[ ! -d "$corpus" ]]; then
  echo "no capture corpus at $corpus"
  exit 77
fi
if ! command -v tcpdump >/dev/null; then
  echo "tcpdump is not installed (scripts/deps.sh installs it)"
  exit 77
fi

expressions=(
  "tcp" "not tcp and not udp" "ip proto \\icmp" "host 10.0.0.1 or host 192.168.1.1" "src net 10.0.0.0/8"
  "dst net 224.0.0.0/4 or ip broadcast" "port 53 or tcp port 80" "udp portrange 1-1023"
  "tcp[tcpflags] & (tcp-syn|tcp-ack) = tcp-ack" "icmp[icmptype] = icmp-echo or icmp[icmptype] = icmp-unreach"
  "ip[6:2] & 0x3fff != 0" "ip[0] & 0xf > 5 or ip[8] < 64" "udp[8:2] = 0 or tcp[12] >> 4 > 5"
)

# Known differences: file, then why.
declare -A known=(
  # tcpdump's "ip" is the EtherType; ours, as for raw IPv4, is the version field.
  [bad-ipv4-version-pgm-heapoverflow.pcap]="a datagram whose version field is not 4"
  [gre-heapoverflow-1.pcap]="a datagram whose version field is not 4"
  [kday1.pcap]="a datagram whose version field is not 4"
  [kday3.pcap]="a datagram whose version field is not 4"
  # libpcap's filter reads these link types' IP header elsewhere than where it lies.
  [arcnet-rfc1051-arp-icmp-http.pcap]="ARCnet frames of RFC 1051"
  [bgp-aigp.pcap]="Juniper's Ethernet"
)

# The packets tcpdump prints, one line each: its time and its bytes in hexadecimal, which
# tell each packet from every other (the decoded text may depend on the packets before).
packets() {
  tcpdump -tt -nn -x -r "$1" "$2" 2>/dev/null |
    awk '/^[0-9]+\.[0-9]+ / { if (p != "") print p; p = $1; next } /^\t0x/ { p = p " " $0 } END { if (p != "") print p }'
}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

failed=0
files=0
compared=0
for f in "$corpus"/*.pcap "$corpus"/*.pcapng; do
  [[ -e "$f" ]] || continue
  name=${f##*/}
  packets "$f" ip >"$scratch/all"
  ours=$("$dump" --summary "$f" 2>/dev/null | tail -n +2 | wc -l)
  theirs=$(wc -l <"$scratch/all")
  [[ "$theirs" == "$ours" && "$ours" != 0 ]] || continue
  files=$((files + 1))
  differs=0
  for e in "${expressions[@]}"; do
    compared=$((compared + 1))
    # Each packet tcpdump prints for 'ip and (E)' is found, in order, among those it prints
    # for "ip": its place there (from 0) is our index.
    expected=$(packets "$f" "ip and ($e)" |
      awk 'NR == FNR { list[++n] = $0; next } FNR == 1 { at = 1 } { while (at <= n && list[at] != $0) at++; print at - 1; at++ }' \
        "$scratch/all" -)
    actual=$("$dump" --filter "$e" --summary "$f" 2>&1 | tail -n +2 | awk '{ print $1 }')
    if [[ "$expected" != "$actual" ]]; then
      differs=$((differs + 1))
      [[ -n "${known[$name]+set}" ]] && continue
      echo "DIFFERS: $name with '$e': tcpdump [$(echo $expected)], kestrine-dump [$(echo $actual)]" | cut -c1-400
      failed=$((failed + 1))
    fi
  done
  if [[ -n "${known[$name]+set}" && $differs -eq 0 ]]; then
    echo "LISTED BUT AGREES: $name: drop it from the list"
    failed=$((failed + 1))
  fi
done
echo "${#expressions[@]} expressions over $files capture files: $compared comparisons with tcpdump, ${#known[@]} files of known differences, $failed failed"
[[ $failed -eq 0 && $files -gt 0 ]]
