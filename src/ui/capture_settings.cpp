// A session follows the configuration dialog's values.
#include "ui/capture_settings.h"

#include "capture/capture_session.h"

namespace kestrine {

bool ReadLimitText(std::string_view text, uint32_t* value)
{
    text = text.substr(0, 63);
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    const size_t digits = i;
    uint64_t v = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        v = v * 10 + static_cast<uint64_t>(text[i] - '0');
        if (v > 0xFFFFFFFFull) v = 0x100000000ull;  // saturates; at most 63 digits follow
    }
    if (i == digits) return false;
    const uint32_t magnitude = v > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(v);
    *value = negative && v <= 0xFFFFFFFFull ? 0u - magnitude : magnitude;
    return true;
}

void ApplySettingsToSession(const CaptureSettings& settings, CaptureSession& session)
{
    // The setters take the values as signed numbers: 2^31 and above become 1, as typed
    // values do in the dialog.
    session.SetKilobyteLimit(static_cast<int>(settings.m_kilobytes));
    session.SetSecondsLimit(static_cast<int>(settings.m_seconds));
    session.SetPacketLimit(static_cast<int>(settings.m_packets));
    session.m_keepUdp = settings.m_udp == 1;
    session.m_keepIcmp = settings.m_icmp == 1;
    session.m_keepIgmp = settings.m_igmp == 1;
    session.m_keepTcp = settings.m_tcp == 1;
    session.m_keepOther = settings.m_other == 1;
    session.m_filterEnabled = settings.m_filterEnable == 1;
    session.m_filter = settings.m_appliedRule;
}

}  // namespace kestrine
