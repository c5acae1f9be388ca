#include "echo_service_util.h"

#include <winsock2.h>

#include "process_util.h"

namespace testutil {

#ifdef BP_ECHO_SERVICE_EXE
std::string EchoServiceExe() {
    return WinePath(BP_ECHO_SERVICE_EXE);
}
#endif

#ifdef BP_DOWNLOAD_PEER_EXE
std::string DownloadPeerExe() {
    return WinePath(BP_DOWNLOAD_PEER_EXE);
}
#endif

EchoServiceProcess::EchoServiceProcess(const std::string& mode, const std::string& reply) {
    std::string cmd = Quote(EchoServiceExe()) + " --timeout 300000 --mode " + mode;
    if (!reply.empty())
        cmd += " --reply " + Quote(reply);
    outputPath_ = StartWithOutputFile(cmd, "echo_service", &process_);
    if (process_.hProcess == nullptr)
        return;
    const ULONGLONG end = GetTickCount64() + 20000;
    while (GetTickCount64() < end && WaitForSingleObject(process_.hProcess, 0) != WAIT_OBJECT_0) {
        const std::string text = Output();
        const std::size_t at = text.find("echo: port ");
        if (at != std::string::npos && text.find('\n', at) != std::string::npos) {
            port_ = std::atoi(text.c_str() + at + 11);
            return;
        }
        Sleep(20);
    }
}

EchoServiceProcess::~EchoServiceProcess() {
    if (process_.hProcess != nullptr) {
        TerminateProcess(process_.hProcess, 0);
        WaitForSingleObject(process_.hProcess, 10000);
        CloseHandle(process_.hProcess);
        CloseHandle(process_.hThread);
    }
    DeleteFileA(outputPath_.c_str());
}

std::string EchoServiceProcess::Output() const {
    return ReadOutputFile(outputPath_);
}

int ClosedLoopbackPort() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int port = 0;
    int size = sizeof local;
    if (bind(s, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0 &&
        getsockname(s, reinterpret_cast<sockaddr*>(&local), &size) == 0)
        port = ntohs(local.sin_port);
    closesocket(s);
    WSACleanup();
    return port;
}

}  // namespace testutil
