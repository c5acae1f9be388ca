// A server socket as the address lookup sees its listener.
#pragma once

#include "fileshare/public_address.h"
#include "net/BrenloScktComp.h"

class TServerSocketListener final : public IListenerState {
  public:
    explicit TServerSocketListener(const TAbstractSocket& socket) : socket_(socket) {}
    bool Listening() const override { return socket_.Active(); }
    int ListenerPort() const override { return socket_.Port(); }

  private:
    const TAbstractSocket& socket_;
};
