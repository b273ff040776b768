#!/usr/bin/env bash
# For every capture of the shared test corpus, kestrine-dump --summary must list as many
# datagrams as tcpdump counts with the filter "ip" (its --count), except in the files
# listed below, whose difference is known and explained. Needs tcpdump (scripts/deps.sh).
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

# Known differences: file, then why.
declare -A known=(
  # tcpdump's "ip" looks at the outer EtherType only: the IPv4 behind 802.1Q tags is ours.
  [NHRP-responder-address.pcap]="802.1Q-tagged IPv4 (tunnel traffic inside is not counted)"
  [NHRP_registration.pcap]="802.1Q-tagged IPv4"
  [OLSRv1_HNA_sgw_1.pcap]="802.1Q-tagged IPv4"
  [bfd_source_port_49152.pcap]="802.1Q-tagged IPv4"
  [bgp-encap.pcap]="802.1Q-tagged IPv4"
  [bgp-evpn.pcap]="802.1Q-tagged IPv4"
  [ipv4_tcp_http_xml.pcap]="802.1Q-tagged IPv4"
  [ldp-common-session.pcap]="802.1Q-tagged IPv4 among untagged"
  [ripv2-invalid-length.pcap]="802.1Q-tagged IPv4"
  [rsvp_cap.pcap]="802.1Q-tagged IPv4"
  [various_gre.pcap]="802.1Q-tagged IPv4 (the GRE inside is tunnel traffic, not counted)"
  # tcpdump's "ip" on PPP matches protocol 0x0021 only: IPv4 under MPLS labels is ours.
  [lspping-fec-ldp.pcap]="IPv4 under MPLS labels on PPP"
  [lspping-fec-rsvp.pcap]="IPv4 under MPLS labels on PPP"
  [mpls-traceroute.pcap]="IPv4 under MPLS labels on PPP"
  [wb-oobr.pcap]="IPv4 under MPLS labels on PPP"
  # tcpdump cannot filter these link types ("filtering not implemented"); it prints each
  # frame's IPv4 unfiltered.
  [LINKTYPE_PKTAP.pcap]="PKTAP: no filter in tcpdump"
  [ipoib.pcap]="IP over InfiniBand: no filter in tcpdump"
  [nflog.pcap]="NFLOG: no filter in tcpdump"
  # Apple's early PKTAP under a user link type (149): private numbers are not guessed.
  [LINKTYPE_USER2_PKTAP.pcap]="link type 149 is a private one; tcpdump cannot filter it either"
  # Damaged records (an original length of 0 or below the captured one): tcpdump stops at
  # them, the reader takes what was captured, as libpcap reads it.
  [icmp-icmp_print-oobr-2.pcap]="records with an original length below the captured one"
  [vrrp-vrrp_print-oobr.pcap]="records with an original length below the captured one"
  [tok2str-oobr-2.pcap]="a record with an original length of 0"
)

failed=0
count=0
for f in "$corpus"/*.pcap "$corpus"/*.pcapng; do
  [[ -e "$f" ]] || continue
  count=$((count + 1))
  name=${f##*/}
  theirs=$(tcpdump --count -r "$f" ip 2>/dev/null | grep -o '^[0-9]*')
  ours=$("$dump" --summary "$f" 2>/dev/null | tail -n +2 | wc -l)
  if [[ -n "${known[$name]+set}" ]]; then
    if [[ "$theirs" == "$ours" ]]; then
      echo "LISTED BUT AGREES: $name ($ours datagrams): drop it from the list"
      failed=$((failed + 1))
    fi
  elif [[ "$theirs" != "$ours" ]]; then
    echo "DIFFERS: $name: tcpdump ${theirs:-none}, kestrine-dump $ours"
    failed=$((failed + 1))
  fi
done
echo "$count capture files compared with tcpdump, ${#known[@]} known differences, $failed failed"
[[ $failed -eq 0 ]]
