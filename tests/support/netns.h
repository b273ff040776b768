// Helpers for tests that capture for real: a private network namespace per test process,
// shell commands inside it, and a peer process in a second namespace behind a veth pair.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

namespace kestrine::testnet {

// True when this process may capture (root in a namespace of its own, lo up). Call first
// in a test; on false, GTEST_SKIP with WhyNot().
bool EnterPrivateNamespace();
const char* WhyNot();

// Runs a command through /bin/sh in the current namespace; its exit status.
int Run(const std::string& command);

// A child process in a namespace of its own, joined to ours by the veth pair
// ours <-> theirs. Addresses: 198.18.0.1/24 here, 198.18.0.2/24 there.
class Peer {
public:
    bool Start(const char* ours = "kveth0", const char* theirs = "kveth1");
    // Lets the child send count UDP datagrams to 198.18.0.1:port, then waits for it to end.
    bool SendUdp(int count, int port);
    ~Peer();

private:
    int m_pid = -1;
    int m_toChild = -1;
    int m_fromChild = -1;
};

// A UDP socket bound to 127.0.0.1 on a free port, so loopback datagrams to it are not
// answered with port-unreachable. Returns the descriptor.
int BindLoopbackUdp(int* port);

// A TCP connection over loopback (its handshake is traffic to capture): the listening
// socket goes to *listener, the connected client socket is returned, -1 on failure.
int ConnectLoopbackTcp(int* listener);

// Sends count UDP datagrams of payloadSize bytes from this namespace; byte 0 of each payload
// (when there is one) is its sequence number, the rest is filled with fill.
int SendUdp(const char* address, int port, int count, int payloadSize, unsigned char fill = 0x5A);

// Sends UDP datagrams to 127.0.0.1:port from a thread of its own, as fast as it can, until
// stopped, at most maxCount of them and for maxSeconds. Each payload (at least 4 bytes)
// opens with the datagram's sequence number from 0, 32 bits in host order.
class Flood {
public:
    Flood(int port, int payloadSize, uint32_t maxCount = 2000000, double maxSeconds = 3.0);
    ~Flood() { Stop(); }
    // Sends made so far: every datagram numbered below this has been through sendto.
    uint32_t Sent() const { return m_sent.load(std::memory_order_acquire); }
    void Stop();

private:
    std::atomic<uint32_t> m_sent = 0;
    std::atomic<bool> m_stop = false;
    std::thread m_thread;
};

}  // namespace kestrine::testnet
