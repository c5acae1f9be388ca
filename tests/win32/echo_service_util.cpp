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
    static int count = 0;
    outputPath_ = TempFile("echo_service_" + std::to_string(GetCurrentProcessId()) + "_" +
                               std::to_string(++count) + ".out",
                           "");
    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
    HANDLE out = CreateFileA(outputPath_.c_str(), GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &sa,
                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE)
        return;
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = out;
    si.hStdError = out;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    std::string cmd = Quote(EchoServiceExe()) + " --timeout 300000 --mode " + mode;
    if (!reply.empty())
        cmd += " --reply " + Quote(reply);
    const BOOL started = CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                        nullptr, &si, &process_);
    CloseHandle(out);
    if (!started) {
        process_ = {};
        return;
    }
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
    HANDLE in = CreateFileA(outputPath_.c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (in == INVALID_HANDLE_VALUE)
        return std::string();
    std::string text;
    char buffer[4096];
    DWORD n = 0;
    while (ReadFile(in, buffer, sizeof buffer, &n, nullptr) && n > 0)
        text.append(buffer, n);
    CloseHandle(in);
    return text;
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
