// A blocking TCP client socket for the downloading peer, on Winsock or BSD sockets: every wait
// is bounded by a time-out.
#pragma once

#include <cstdint>
#include <string>

namespace peer {

class PeerSocket {
  public:
    PeerSocket();
    ~PeerSocket();
    PeerSocket(const PeerSocket&) = delete;
    PeerSocket& operator=(const PeerSocket&) = delete;

    // Connects to host:port (an IPv4 address or a name); `receiveWindow` > 0 shrinks the
    // receive buffer first. Empty on success, otherwise the reason.
    std::string Connect(const std::string& host, std::uint16_t port, int receiveWindow);
    // Sends all of `data`; false when the connection failed.
    bool Send(const std::string& data);
    // Waits up to `timeoutMs` for data: > 0 bytes read into `buffer`, 0 the server closed,
    // -1 time-out, -2 error (the connection was reset or failed).
    int Receive(char* buffer, int size, int timeoutMs);
    // Orderly close, or an abortive one that makes the other side see a reset.
    void Close();
    void Reset();

  private:
    std::uintptr_t socket_;
};

void SleepMs(int ms);

}  // namespace peer
