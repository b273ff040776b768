// Test seam: a RawSocket whose set-up steps can be made to fail and whose receives deliver
// scripted datagrams, so the capture loop is checked exactly without a network.
#pragma once

#include <cstdint>
#include <vector>

namespace kestrine::script {

struct Failures {
    bool create = false;
    bool receiveTimeout = false;
    bool bind = false;
    bool receiveAll = false;
};

// Clears the queue, the failures and the call log.
void Reset(Failures failures = {});
// Queues one datagram; an empty vector stands for one receive time-out. Pushed datagrams
// carry no arrival time, so the session times them itself.
void Push(std::vector<uint8_t> datagram);
// Queues one datagram with the arrival time the socket reports for it (nanoseconds since
// 1970 on the real-time clock).
void PushStamped(std::vector<uint8_t> datagram, int64_t stampNs);
// Receives made so far and the room each was given.
std::vector<int> ReceiveRooms();
int DrainCalls();
// A datagram of the given protocol, addresses (host order) and total size (at least 20).
std::vector<uint8_t> Datagram(uint8_t protocol, uint32_t source, uint32_t destination, int size,
                              uint8_t fill = 0xAB);

}  // namespace kestrine::script
