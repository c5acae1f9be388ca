// The downloading peer's socket on Winsock (Windows) or BSD sockets (everything else).
#include "peer_socket.h"

#ifdef _WIN32
#include <windows.h>
#include <winsock2.h>
#include <ws2tcpip.h>
using SocketLength = int;
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>
using SOCKET = int;
constexpr SOCKET INVALID_SOCKET = -1;
#endif

#include <chrono>
#include <cstring>
#include <thread>

namespace peer {

namespace {

SOCKET Handle(std::uintptr_t s) {
    return static_cast<SOCKET>(s);
}

void CloseHandle(SOCKET s) {
#ifdef _WIN32
    closesocket(s);
#else
    ::close(s);
#endif
}

#ifdef _WIN32
struct WinsockUse {
    WinsockUse() {
        WSADATA data;
        WSAStartup(0x0202, &data);
    }
    ~WinsockUse() { WSACleanup(); }
};
#endif

}  // namespace

PeerSocket::PeerSocket() : socket_(static_cast<std::uintptr_t>(INVALID_SOCKET)) {
#ifdef _WIN32
    static WinsockUse winsock;
#endif
}

PeerSocket::~PeerSocket() {
    Close();
}

std::string PeerSocket::Connect(const std::string& host, std::uint16_t port, int receiveWindow) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 || !found)
        return "cannot resolve " + host;
    const SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET) {
        freeaddrinfo(found);
        return "cannot create a socket";
    }
    if (receiveWindow > 0)
        setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&receiveWindow),
                   sizeof receiveWindow);
    const int status = connect(s, found->ai_addr, static_cast<int>(found->ai_addrlen));
    freeaddrinfo(found);
    if (status != 0) {
        CloseHandle(s);
        return "cannot connect to " + host + ":" + std::to_string(port);
    }
    socket_ = static_cast<std::uintptr_t>(s);
    return {};
}

bool PeerSocket::Send(const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        const int n =
            send(Handle(socket_), data.data() + done, static_cast<int>(data.size() - done), 0);
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

int PeerSocket::Receive(char* buffer, int size, int timeoutMs) {
    const SOCKET s = Handle(socket_);
    if (s == INVALID_SOCKET)
        return -2;
#ifdef _WIN32
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(s, &readable);
    timeval wait{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    const int ready = select(0, &readable, nullptr, nullptr, &wait);
#else
    pollfd p{s, POLLIN, 0};
    int ready;
    do {
        ready = poll(&p, 1, timeoutMs);
    } while (ready < 0 && errno == EINTR);
#endif
    if (ready == 0)
        return -1;
    if (ready < 0)
        return -2;
    const int n = recv(s, buffer, size, 0);
    return n < 0 ? -2 : n;
}

void PeerSocket::Close() {
    if (Handle(socket_) != INVALID_SOCKET)
        CloseHandle(Handle(socket_));
    socket_ = static_cast<std::uintptr_t>(INVALID_SOCKET);
}

void PeerSocket::Reset() {
    if (Handle(socket_) == INVALID_SOCKET)
        return;
    linger abortive{1, 0};  // close at once with a reset instead of the orderly goodbye
    setsockopt(Handle(socket_), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abortive),
               sizeof abortive);
    Close();
}

void SleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace peer
