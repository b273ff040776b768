// The configuration dialog's values, and how a capture session is made to follow them.
// Free of the UI toolkit: the dialog and the main window use it, the tests call it directly.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "filter/filter_rule.h"

namespace kestrine {

class CaptureSession;

// The default rule text, shown until a rule is applied (its attribute names differ from
// the ones every applied rule shows).
inline constexpr const char* DEFAULT_FILTER_TEXT =
    "<ipfilter action=\"capture\" dir=\"both\" ip=\"0.0.0.0\" netmask=\"0.0.0.0\" />";

struct CaptureSettings {
    uint32_t m_interfaceAddress = 0;  // host order
    int32_t m_udp = 1;
    int32_t m_tcp = 1;
    int32_t m_igmp = 1;
    int32_t m_icmp = 1;
    int32_t m_other = 0;
    uint32_t m_packets = 1000;
    uint32_t m_seconds = 3600;
    uint32_t m_kilobytes = 100;
    std::string m_filterText = DEFAULT_FILTER_TEXT;
    int32_t m_filterEnable = 0;
    int32_t m_ruleAction = 0;
    int32_t m_ruleDirection = 0;
    // The rule last applied (the session's default rule while none was), so that a new
    // session receives the rule the dialog shows.
    FilterRule m_appliedRule;
};

// Reads a limit field as the dialog does: from at most its first 63 characters, leading
// white space skipped, an optional sign (a minus yields the value modulo 2^32), the digits;
// text after them is ignored. A number past 32 bits reads as 4294967295. False when no
// digit follows.
bool ReadLimitText(std::string_view text, uint32_t* value);

// Makes a session follow the settings: the kilobyte, seconds and packet limits in that
// order, the five protocol boxes, the Enable box and the last applied rule. Used for the
// first session at start-up and for every session a rebinding installs.
void ApplySettingsToSession(const CaptureSettings& settings, CaptureSession& session);

}  // namespace kestrine
