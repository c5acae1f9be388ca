// The address lookup's HTTP client on Windows.
#include "fileshare/http_client_win32.h"

#include <windows.h>
#include <winhttp.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/module_win32.h"

namespace {

using std::chrono::milliseconds;

// Workers still running from earlier calls; each may wait out a hanging name lookup.
constexpr int kMaxWorkers = 4;
// A longer body is no address reply.
constexpr std::size_t kMaxBody = 64 * 1024;
constexpr DWORD kReadPiece = 4096;
constexpr DWORD kHttpOk = 200;

std::atomic<int> gWorkers{0};

// One call's work and result, shared by the caller and the worker.
struct TJob {
    explicit TJob(milliseconds timeout)
        : deadline(GetTickCount64() + static_cast<ULONGLONG>(timeout.count())),
          done(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~TJob() {
        if (done != nullptr) {
            CloseHandle(done);
        }
    }
    TJob(const TJob&) = delete;
    TJob& operator=(const TJob&) = delete;

    // Milliseconds left before the caller gives up; 0 when none are.
    DWORD Left() const {
        const ULONGLONG now = GetTickCount64();
        return (abandoned || now >= deadline) ? 0 : static_cast<DWORD>(deadline - now);
    }

    std::function<bool(TJob&)> work;
    const ULONGLONG deadline;
    HANDLE done;
    std::atomic<bool> abandoned{false};
    bool ok = false;
    std::string body;
};

struct TWorkerStart {
    std::shared_ptr<TJob> job;
    TWorkerModuleRef module;
};

DWORD WINAPI WorkerMain(void* param) {
    TWorkerModuleRef module;
    {
        std::unique_ptr<TWorkerStart> start(static_cast<TWorkerStart*>(param));
        module = std::move(start->module);  // this one held none: nothing is dropped here
        std::shared_ptr<TJob> job = std::move(start->job);
        start.reset();
        // Nothing may escape a thread of the host's process.
        try {
            job->ok = job->work(*job);
        } catch (...) {
            job->ok = false;
        }
        SetEvent(job->done);
    }
    --gWorkers;
    // The module reference goes to the plug-in's owner while the plug-in lives, so that an
    // unload never runs on this thread (common/module_win32.h).
    ExitWorkerThread(std::move(module), 0);
}

// Runs the job's work on a worker and waits for it at most until the job's deadline.
bool RunBounded(const std::shared_ptr<TJob>& job) {
    if (job->done == nullptr || job->Left() == 0) {
        return false;
    }
    if (++gWorkers > kMaxWorkers) {
        --gWorkers;
        return false;
    }
    TWorkerModuleRef module = TWorkerModuleRef::Take();
    if (!module) {
        --gWorkers;
        return false;
    }
    auto* start = new TWorkerStart{job, std::move(module)};
    HANDLE thread = CreateThread(nullptr, 0, WorkerMain, start, 0, nullptr);
    if (thread == nullptr) {
        delete start;  // drops the reference here, on the caller's thread
        --gWorkers;
        return false;
    }
    CloseHandle(thread);
    if (WaitForSingleObject(job->done, job->Left()) != WAIT_OBJECT_0) {
        job->abandoned = true;
        return false;
    }
    return job->ok;
}

std::wstring Wide(const std::string& text) {
    if (text.empty()) {
        return {};
    }
    const int size =
        MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
    return wide;
}

// Winsock for the worker's lifetime.
class TWinsock {
  public:
    TWinsock() {
        WSADATA data;
        started_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }
    ~TWinsock() {
        if (started_) {
            WSACleanup();
        }
    }
    bool Started() const { return started_; }

  private:
    bool started_ = false;
};

bool ConnectWithin(const addrinfo& address, TJob& job) {
    SOCKET s = socket(address.ai_family, address.ai_socktype, address.ai_protocol);
    if (s == INVALID_SOCKET) {
        return false;
    }
    u_long nonBlocking = 1;
    bool connected = false;
    if (ioctlsocket(s, FIONBIO, &nonBlocking) == 0) {
        if (connect(s, address.ai_addr, static_cast<int>(address.ai_addrlen)) == 0) {
            connected = true;
        } else if (WSAGetLastError() == WSAEWOULDBLOCK) {
            const DWORD left = job.Left();
            fd_set writable;
            fd_set failed;
            FD_ZERO(&writable);
            FD_ZERO(&failed);
            FD_SET(s, &writable);
            FD_SET(s, &failed);
            timeval wait{static_cast<long>(left / 1000), static_cast<long>(left % 1000) * 1000};
            if (left > 0 && select(0, nullptr, &writable, &failed, &wait) > 0 &&
                FD_ISSET(s, &writable)) {
                int error = 0;
                int size = sizeof(error);
                connected = getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error),
                                       &size) == 0 &&
                            error == 0;
            }
        }
    }
    closesocket(s);
    return connected;
}

bool ProbeWork(const std::string& host, int port, TJob& job) {
    TWinsock winsock;
    if (!winsock.Started()) {
        return false;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) {
        return false;
    }
    bool connected = false;
    for (addrinfo* a = found; a != nullptr && !connected && job.Left() > 0; a = a->ai_next) {
        connected = ConnectWithin(*a, job);
    }
    freeaddrinfo(found);
    return connected;
}

// A WinHTTP handle closed when it goes.
class TInternet {
  public:
    explicit TInternet(HINTERNET handle) : handle_(handle) {}
    ~TInternet() {
        if (handle_ != nullptr) {
            WinHttpCloseHandle(handle_);
        }
    }
    TInternet(const TInternet&) = delete;
    TInternet& operator=(const TInternet&) = delete;
    HINTERNET get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }

  private:
    HINTERNET handle_;
};

bool GetWork(const std::string& host, int port, const std::string& path, TJob& job) {
    // No proxy: the address script must see this computer's own address, not a proxy's.
    TInternet session(WinHttpOpen(L"BrenloPlug3", WINHTTP_ACCESS_TYPE_NO_PROXY,
                                  WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session) {
        return false;
    }
    const int left = static_cast<int>(job.Left());
    if (left == 0 || !WinHttpSetTimeouts(session.get(), left, left, left, left)) {
        return false;
    }
    TInternet connection(
        WinHttpConnect(session.get(), Wide(host).c_str(), static_cast<INTERNET_PORT>(port), 0));
    if (!connection) {
        return false;
    }
    TInternet request(WinHttpOpenRequest(connection.get(), L"GET", Wide(path).c_str(), nullptr,
                                         WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, 0));
    // The wait for the reply's headers has a time-out of its own (90 s unless set): without it a
    // server that accepts and never answers would keep this worker for that long.
    DWORD headerWait = static_cast<DWORD>(left);
    // A redirect is no address reply: the script answers itself or not at all (a captive portal
    // or a proxy would lead the lookup to a page of its own).
    DWORD noRedirects = WINHTTP_DISABLE_REDIRECTS;
    if (!request ||
        !WinHttpSetOption(request.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &headerWait,
                          sizeof(headerWait)) ||
        !WinHttpSetOption(request.get(), WINHTTP_OPTION_DISABLE_FEATURE, &noRedirects,
                          sizeof(noRedirects)) ||
        !WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                            WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
        !WinHttpReceiveResponse(request.get(), nullptr)) {
        return false;
    }
    DWORD status = 0;
    DWORD size = sizeof(status);
    if (!WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &size,
                             WINHTTP_NO_HEADER_INDEX) ||
        status != kHttpOk) {
        return false;
    }
    std::vector<char> piece(kReadPiece);
    for (;;) {
        // A server that trickles gets only the time the caller still waits.
        DWORD wait = job.Left();
        if (wait == 0 ||
            !WinHttpSetOption(request.get(), WINHTTP_OPTION_RECEIVE_TIMEOUT, &wait, sizeof(wait))) {
            return false;
        }
        // Only what has arrived: a read of a whole piece would wait for all of its bytes.
        DWORD available = 0;
        if (!WinHttpQueryDataAvailable(request.get(), &available)) {
            return false;
        }
        DWORD read = 0;
        if (available > 0 &&
            !WinHttpReadData(request.get(), piece.data(), std::min(available, kReadPiece), &read)) {
            return false;
        }
        if (read == 0) {
            return true;
        }
        job.body.append(piece.data(), read);
        if (job.body.size() > kMaxBody) {
            return false;
        }
    }
}

class TWindowsHttpClient final : public IHttpClient {
  public:
    bool Probe(const std::string& host, int port, milliseconds timeout) override {
        auto job = std::make_shared<TJob>(timeout);
        job->work = [host, port](TJob& j) { return ProbeWork(host, port, j); };
        return RunBounded(job);
    }

    std::optional<std::string> Get(const std::string& host, int port, const std::string& path,
                                   milliseconds timeout) override {
        auto job = std::make_shared<TJob>(timeout);
        job->work = [host, port, path](TJob& j) { return GetWork(host, port, path, j); };
        if (!RunBounded(job)) {
            return std::nullopt;
        }
        return job->body;
    }
};

}  // namespace

IHttpClient& WindowsHttpClient() {
    static TWindowsHttpClient client;
    return client;
}
