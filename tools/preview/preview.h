// The preview programs (kestrine-preview): one window by itself, filled with sample packets
// where it shows any, so it can be looked at without a capture (screenshots under Xvfb, on
// either realisation).
#pragma once

namespace kestrine {

// "about", "configure", "main" (the main window listing the sample packets, one selected,
// and a detail window open) or "filter" (the same, narrowed by the Filter window's display
// filter "tcp or icmp", that window open); runs it until it is closed. 2 for an unknown name.
int RunPreview(const char* which);

}  // namespace kestrine
