#include "process_util.h"

#include <windows.h>
#include <winsock2.h>

#include <fstream>
#include <sstream>
#include <thread>

#include "common/system_calls_win32.h"

namespace testutil {

std::string WinePath(const std::string& linuxPath) {
    std::string out = "Z:";
    for (char c : linuxPath)
        out += (c == '/') ? '\\' : c;
    return out;
}

std::string PluginDll() {
    return WinePath(BP_PLUGIN_DLL);
}
#ifdef BP_WINAMP_STANDIN_EXE
std::string WinampStandin() {
    return WinePath(BP_WINAMP_STANDIN_EXE);
}
#endif
std::string BuildDir() {
    return WinePath(BP_BINARY_DIR);
}

std::string TempFile(const std::string& name, const std::string& content) {
    std::string path = BuildDir() + "\\testdata\\";
    CreateDirectoryA(path.c_str(), nullptr);
    path += name;
    std::ofstream(path, std::ios::binary) << content;
    return path;
}

std::vector<std::string> ProcessResult::Lines() const {
    std::vector<std::string> lines;
    std::stringstream ss(output);
    std::string line;
    while (std::getline(ss, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

bool ProcessResult::Has(const std::string& line) const {
    for (auto& l : Lines())
        if (l == line)
            return true;
    return false;
}

int ProcessResult::Find(const std::string& text, int from) const {
    auto lines = Lines();
    for (int i = from; i < static_cast<int>(lines.size()); ++i)
        if (lines[i].find(text) != std::string::npos)
            return i;
    return -1;
}

bool ContainsInOrder(const std::string& output, const std::vector<std::string>& texts) {
    std::size_t at = 0;
    for (const std::string& text : texts) {
        at = output.find(text, at);
        if (at == std::string::npos)
            return false;
        at += text.size();
    }
    return true;
}

std::string Quote(const std::string& arg) {
    return "\"" + arg + "\"";
}

ProcessResult RunProgram(const std::string& commandLine, unsigned timeoutMs) {
    ProcessResult result;
    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &sa, 0))
        return result;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOA si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = writeEnd;
    si.hStdError = writeEnd;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION pi = {};
    std::string cmd = commandLine;
    BOOL started =
        CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
    CloseHandle(writeEnd);
    if (!started) {
        CloseHandle(readEnd);
        result.output = "CreateProcess failed for: " + commandLine;
        return result;
    }
    std::thread reader([&] {
        char buffer[4096];
        DWORD n = 0;
        while (ReadFile(readEnd, buffer, sizeof buffer, &n, nullptr) && n > 0)
            result.output.append(buffer, n);
    });
    if (WaitForSingleObject(pi.hProcess, timeoutMs) == WAIT_TIMEOUT) {
        TerminateProcess(pi.hProcess, 99);
        WaitForSingleObject(pi.hProcess, INFINITE);
        result.output += "\n(killed after timeout)\n";
    }
    reader.join();
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    result.exitCode = static_cast<int>(code);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    CloseHandle(readEnd);
    return result;
}

std::string StartWithOutputFile(const std::string& commandLine, const std::string& name,
                                PROCESS_INFORMATION* process) {
    static int count = 0;
    *process = {};
    const std::string path = TempFile(
        name + "_" + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(++count) + ".out",
        "");
    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
    HANDLE out = CreateFileA(path.c_str(), GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &sa,
                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE)
        return path;
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = out;
    si.hStdError = out;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    std::string cmd = commandLine;
    if (!CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si,
                        process))
        *process = {};
    CloseHandle(out);
    return path;
}

std::string ReadOutputFile(const std::string& path) {
    HANDLE in = CreateFileA(path.c_str(), GENERIC_READ,
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

bool PumpUntil(const std::function<bool()>& done, unsigned boundMs) {
    const DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start >= boundMs)
            return false;
        MSG msg;
        bool any = false;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            any = true;
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (!any)
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
    return true;
}

void PumpFor(unsigned ms) {
    const DWORD start = GetTickCount();
    PumpUntil([&] { return GetTickCount() - start >= ms; }, ms + 1000);
}

int FreeLoopbackPort() {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int port = 0;
    int length = sizeof a;
    if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        getsockname(s, reinterpret_cast<sockaddr*>(&a), &length) == 0)
        port = ntohs(a.sin_port);
    closesocket(s);
    return port;
}

int SearchPort(const std::function<bool(int port)>& opens) {
    for (int p = 43000 + static_cast<int>(GetCurrentProcessId() % 1500); p < 65000; p += 11)
        if (opens(p))
            return p;
    return 0;
}

PlayerCue::PlayerCue() {
    static int count = 0;
    name_ = "bp_cue_" + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(++count);
    event_ = CreateEventA(nullptr, TRUE, FALSE, name_.c_str());
}

PlayerCue::~PlayerCue() {
    if (event_)
        CloseHandle(event_);
}

void PlayerCue::Set() {
    SetEvent(event_);
}

BackgroundProgram::BackgroundProgram(const std::string& commandLine, const std::string& name) {
    outputPath_ = StartWithOutputFile(commandLine, name, &process_);
}

BackgroundProgram::~BackgroundProgram() {
    Finish();
}

int EndProcess(PROCESS_INFORMATION& process, unsigned timeoutMs, bool* killed) {
    *killed = false;
    DWORD code = 0;
    if (process.hProcess != nullptr) {
        if (WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_TIMEOUT) {
            TerminateProcess(process.hProcess, 99);
            WaitForSingleObject(process.hProcess, INFINITE);
            *killed = true;
        }
        GetExitCodeProcess(process.hProcess, &code);
        CloseHandle(process.hProcess);
    }
    if (process.hThread != nullptr)
        CloseHandle(process.hThread);
    process = PROCESS_INFORMATION{};
    return static_cast<int>(code);
}

bool WaitWhileRunning(HANDLE process, const std::function<bool()>& seen, unsigned timeoutMs) {
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    for (;;) {
        if (seen())
            return true;
        if (process == nullptr || WaitForSingleObject(process, 0) == WAIT_OBJECT_0)
            return seen();
        if (GetTickCount64() >= end)
            return false;
        Sleep(20);
    }
}

bool BackgroundProgram::WaitFor(const std::string& text, unsigned timeoutMs) {
    return WaitWhileRunning(
        process_.hProcess,
        [&] { return ReadOutputFile(outputPath_).find(text) != std::string::npos; }, timeoutMs);
}

ProcessResult BackgroundProgram::Finish(unsigned timeoutMs) {
    if (finished_ || process_.hProcess == nullptr)
        return result_;
    finished_ = true;
    bool killed = false;
    result_.exitCode = EndProcess(process_, timeoutMs, &killed);
    result_.output = ReadOutputFile(outputPath_) + (killed ? "\n(killed after timeout)\n" : "");
    return result_;
}

bool WaitUntilPluginUnmapped(unsigned timeoutMs) {
    const std::string dll = PluginDll();
    return PumpUntil([&] { return GetModuleHandleA(dll.c_str()) == nullptr; }, timeoutMs);
}

namespace {
int g_goodReads = 0;
BOOL WINAPI FailingReadFile(HANDLE file, LPVOID buffer, DWORD size, LPDWORD got,
                            LPOVERLAPPED overlapped) {
    if (g_goodReads-- > 0)
        return ReadFile(file, buffer, size, got, overlapped);
    SetLastError(ERROR_NETNAME_DELETED);
    return FALSE;
}
}  // namespace

void FailReadFileAfter(int good) {
    g_goodReads = good;
    SystemCalls().ReadFile = good < 0 ? &::ReadFile : &FailingReadFile;
}

}  // namespace testutil
