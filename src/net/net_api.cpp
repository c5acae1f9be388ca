// Selection of the socket layer's platform seam.
#include "net/net_api.h"

#include <atomic>

#include "common/errors.h"

namespace {
std::atomic<INetApi*> g_installed{nullptr};
}

INetApi& NetApi() {
    INetApi* api = g_installed.load();
    if (!api)
        throw EBrenloError("Keine Socket-Schnittstelle vorhanden");
    return *api;
}

INetApi* SetNetApi(INetApi* api) {
    return g_installed.exchange(api);
}
