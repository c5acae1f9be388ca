// The stand-in address service run as a separate process on loopback: started in one of its
// modes, and ended with the test.
#pragma once

#include <windows.h>

#include <string>

namespace testutil {

std::string EchoServiceExe();   // the built echo_service (Wine path)
std::string DownloadPeerExe();  // the built downloading peer (Wine path)

class EchoServiceProcess {
  public:
    // Starts the service in `mode` on a free loopback port and waits (bounded) until it listens.
    explicit EchoServiceProcess(const std::string& mode, const std::string& reply = "");
    ~EchoServiceProcess();
    EchoServiceProcess(const EchoServiceProcess&) = delete;
    EchoServiceProcess& operator=(const EchoServiceProcess&) = delete;

    int Port() const { return port_; }  // 0 when it did not start
    std::string HostPort() const { return "127.0.0.1:" + std::to_string(port_); }
    std::string Output() const;  // what the service printed so far

  private:
    std::string outputPath_;
    PROCESS_INFORMATION process_ = {};
    int port_ = 0;
};

// A loopback port on which nothing listens (it was free a moment ago).
int ClosedLoopbackPort();

}  // namespace testutil
