// The windows with sample packets, for looking at them.
#include "preview/preview.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <vector>

#include "capture/capture_session.h"
#include "decode/summary.h"
#include "ui/about_box.h"
#include "ui/configure_dialog.h"
#include "ui/detail_window.h"
#include "ui/main_window.h"
#include "ui/session_globals.h"

namespace kestrine {

namespace {

using Bytes = std::vector<uint8_t>;

// An IPv4 datagram from 192.0.2.1 to 198.51.100.7 (or back) around a transport header.
Bytes Datagram(uint8_t protocol, const Bytes& transport, bool reply = false)
{
    const size_t total = 20 + transport.size();
    const uint8_t header[20] = {0x45, 0, static_cast<uint8_t>(total >> 8), static_cast<uint8_t>(total), 0x1c, 0x46, 0x40,
                                0, 64, protocol, 0, 0, 192, 0, 2, 1, 198, 51, 100, 7};
    Bytes d(total);
    std::copy(std::begin(header), std::end(header), d.begin());
    if (reply) std::swap_ranges(d.begin() + 12, d.begin() + 16, d.begin() + 16);
    std::copy(transport.begin(), transport.end(), d.begin() + 20);
    return d;
}

std::vector<Bytes> SamplePackets()
{
    const Bytes syn = {0x04, 0x01, 0x00, 0x50, 0, 0, 0, 1, 0, 0, 0, 0, 0x70, 0x02, 0x20, 0, 0, 0, 0, 0,
                       0x02, 0x04, 0x05, 0xb4, 0x01, 0x01, 0x04, 0x02, 0x01, 0x03, 0x03, 0x07, 0, 0, 0, 0};
    const Bytes synAck = {0x00, 0x50, 0x04, 0x01, 0, 0, 0x30, 0x39, 0, 0, 0, 2, 0x70, 0x12, 0xff, 0xff, 0, 0, 0, 0,
                          0x02, 0x04, 0x05, 0xb4, 0x01, 0x01, 0x04, 0x02, 0x01, 0x03, 0x03, 0x07, 0, 0, 0, 0};
    Bytes get = {0x04, 0x01, 0x00, 0x50, 0, 0, 0, 2, 0, 0, 0x30, 0x3a, 0x50, 0x18, 0x20, 0, 0, 0, 0, 0};
    for (const char c : std::string_view("GET / HTTP/1.1\r\nHost: www.example.com\r\n\r\n")) get.push_back(static_cast<uint8_t>(c));
    Bytes dns = {0xd4, 0x31, 0x00, 0x35, 0x00, 0x21, 0, 0, 0x12, 0x34, 0x01, 0x00, 0x00, 0x01, 0, 0, 0, 0, 0, 0};
    for (const char c : std::string_view("\x07" "example\x03" "com")) dns.push_back(static_cast<uint8_t>(c));
    dns.insert(dns.end(), {0, 0, 1, 0, 1});
    const Bytes echo = {8, 0, 0xf7, 0xfd, 0x00, 0x01, 0x00, 0x01, 'p', 'i', 'n', 'g', '-', 'p', 'o', 'n', 'g'};
    const Bytes echoReply = {0, 0, 0xff, 0xfd, 0x00, 0x01, 0x00, 0x01, 'p', 'i', 'n', 'g', '-', 'p', 'o', 'n', 'g'};
    const Bytes report = {0x16, 0x00, 0xfa, 0x04, 239, 255, 255, 250};
    return {Datagram(6, syn),  Datagram(6, synAck, true), Datagram(6, get),          Datagram(17, dns),
            Datagram(1, echo), Datagram(1, echoReply, true), Datagram(2, report)};
}

// Stores the samples in the current session as its capture thread would.
void StoreSamples(CaptureSession& session)
{
    uint8_t* next = session.m_buffer;
    int32_t count = 0;
    for (const Bytes& packet : SamplePackets()) {
        std::memcpy(next, packet.data(), packet.size());
        session.m_index[count] = PacketRecord{next, static_cast<int32_t>(packet.size()), 0.0137f * static_cast<float>(count)};
        next += packet.size();
        ++count;
    }
    session.m_packetCount.store(count, std::memory_order_release);
}

}  // namespace

int RunPreview(const char* which)
{
    if (std::strcmp(which, "about") == 0) {
        AboutBox box;
        box.DoModal();
        return 0;
    }
    if (std::strcmp(which, "configure") == 0) {
        CConfigureDlg dialog;
        dialog.m_interfaceAddress = 0x7F000001;  // 127.0.0.1
        dialog.DoModal();
        return 0;
    }
    const bool filtered = std::strcmp(which, "filter") == 0;  // the main window with its Filter window
    if (std::strcmp(which, "main") == 0 || filtered) {
        MainWindow window;  // deletes the session at its end
        g_session = new CaptureSession(HostAddress{}, 1024, 8096);
        StoreSamples(*g_session);
        Dialog& dialog = *window.Window();
        dialog.SetProgramIcon();
        dialog.SetTrackbarRange(IDC_SPLIT, 0, 100);
        dialog.SetTrackbarPosition(IDC_SPLIT, 50);
        dialog.SetAddress(IDC_LISTEN_ADDRESS, 0xC0000201);
        dialog.ListLines(IDC_PACKET_LIST).AddTopLevelLine(SUMMARY_COLUMN_HEADER);
        window.OnTimer(CAPTURE_TIMER_ID);
        dialog.SelectListLine(IDC_PACKET_LIST, 3);
        dialog.Show();  // detail windows open over a window already shown, as in use
        if (filtered) {
            window.Filter()->Open();
            window.Filter()->Window()->SetText(IDC_FILTER_TEXT, "tcp or icmp");
            window.Filter()->OnCommand(IDC_FILTER_APPLY);
            return dialog.RunModal() >= 0 ? 0 : 1;
        }
        OpenDetailWindow(&dialog, g_session->m_index[2], 2);
        return dialog.RunModal() >= 0 ? 0 : 1;
    }
    return 2;
}

}  // namespace kestrine
