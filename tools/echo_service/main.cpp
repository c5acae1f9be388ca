// Stand-in for the address services on loopback: answers every HTTP request with the caller's
// address, as the address script does, or misbehaves on request so that the lookup can be tried
// against what a real server may do. Connections that send nothing (the reachability probe) are
// simply accepted and closed.
//
//   echo_service [--port N] [--mode MODE] [--reply TEXT] [--timeout MS]
//
// --port 0 (the default) takes a free port; the port is printed as "echo: port N" once the
// service listens. MODE is one of
//   address   status 200, the caller's address as the whole body (the default)
//   lineend   status 200, the address followed by a line end
//   html      status 200, an HTML page with the address in a sentence
//   nodot     status 200, a body without a dot
//   status500 status 500 with the address as body
//   redirect  the address script's path is moved (status 302 to /moved on this service), which
//             answers as "address" does
//   silent    reads the request and never answers
//   trickle   status 200 and headers, then one byte of body every 300 ms, never ending
// --reply replaces the caller's address in the bodies. The service ends after --timeout ms
// (default 10 minutes).
#include <windows.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

namespace {

std::string gMode = "address";
std::string gReply;
int gPort = 0;  // the port this service listens on

void Print(const std::string& line) {
    std::printf("echo: %s\n", line.c_str());
    std::fflush(stdout);
}

void SendAll(SOCKET s, const std::string& data) {
    std::size_t sent = 0;
    while (sent < data.size()) {
        const int n = send(s, data.data() + sent, static_cast<int>(data.size() - sent), 0);
        if (n <= 0) {
            return;
        }
        sent += static_cast<std::size_t>(n);
    }
}

std::string Response(const std::string& status, const std::string& body) {
    return "HTTP/1.0 " + status +
           "\r\nContent-Type: text/plain\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nConnection: close\r\n\r\n" + body;
}

void Serve(SOCKET s, std::string caller) {
    // The request up to its empty line; a probe closes without sending anything.
    std::string request;
    char buffer[1024];
    while (request.find("\r\n\r\n") == std::string::npos) {
        const int n = recv(s, buffer, sizeof buffer, 0);
        if (n <= 0) {
            closesocket(s);
            return;
        }
        request.append(buffer, static_cast<std::size_t>(n));
    }
    Print("request " + request.substr(0, request.find("\r\n")));
    const std::string address = gReply.empty() ? caller : gReply;
    if (gMode == "silent") {
        while (recv(s, buffer, sizeof buffer, 0) > 0) {
        }
    } else if (gMode == "trickle") {
        SendAll(s, "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 100000\r\n\r\n");
        for (int i = 0; i < 100000; ++i) {
            Sleep(300);
            if (send(s, i % 2 == 0 ? "1" : ".", 1, 0) != 1) {
                break;
            }
        }
    } else if (gMode == "lineend") {
        SendAll(s, Response("200 OK", address + "\r\n"));
    } else if (gMode == "html") {
        SendAll(s, Response("200 OK",
                            "<html><head><title>Adresse</title></head><body><p>Deine "
                            "Adresse ist " +
                                address + ".</p></body></html>\n"));
    } else if (gMode == "nodot") {
        SendAll(s, Response("200 OK", "keine Adresse"));
    } else if (gMode == "redirect" && request.rfind("GET /moved ", 0) != 0) {
        SendAll(s, "HTTP/1.0 302 Found\r\nLocation: http://127.0.0.1:" + std::to_string(gPort) +
                       "/moved\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    } else if (gMode == "status500") {
        SendAll(s, Response("500 Internal Server Error", address));
    } else {
        SendAll(s, Response("200 OK", address));
    }
    shutdown(s, SD_SEND);
    closesocket(s);
}

}  // namespace

int main(int argc, char** argv) {
    int port = 0;
    DWORD timeout = 600000;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        const std::string value = argv[i + 1];
        if (name == "--port") {
            port = std::atoi(value.c_str());
        } else if (name == "--mode") {
            gMode = value;
        } else if (name == "--reply") {
            gReply = value;
        } else if (name == "--timeout") {
            timeout = static_cast<DWORD>(std::strtoul(value.c_str(), nullptr, 10));
        } else {
            std::fprintf(stderr, "echo: unknown option %s\n", name.c_str());
            return 2;
        }
    }
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
        return 1;
    }
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    local.sin_port = htons(static_cast<u_short>(port));
    if (listener == INVALID_SOCKET ||
        bind(listener, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        listen(listener, SOMAXCONN) != 0) {
        Print("cannot listen on port " + std::to_string(port));
        return 1;
    }
    int size = sizeof local;
    getsockname(listener, reinterpret_cast<sockaddr*>(&local), &size);
    gPort = ntohs(local.sin_port);
    Print("mode " + gMode);
    Print("port " + std::to_string(gPort));
    std::thread([timeout] {
        Sleep(timeout);
        std::exit(0);
    }).detach();
    for (;;) {
        sockaddr_in peer{};
        int peerSize = sizeof peer;
        SOCKET s = accept(listener, reinterpret_cast<sockaddr*>(&peer), &peerSize);
        if (s == INVALID_SOCKET) {
            return 1;
        }
        std::thread(Serve, s, std::string(inet_ntoa(peer.sin_addr))).detach();
    }
}
