// The settings store's registry seam over the Win32 registry functions.
#include <windows.h>

#include <vector>

#include "config/registry.h"

namespace {

HKEY ToHkey(TRegKey key) {
    // HKEY_CURRENT_USER is a sign-extended constant, not a value we could pass through TRegKey's
    // numbering, so the root has a token of its own.
    if (key == kRegCurrentUser) {
        return HKEY_CURRENT_USER;
    }
    return reinterpret_cast<HKEY>(key);
}

TRegKey FromHkey(HKEY key) {
    return reinterpret_cast<TRegKey>(key);
}

class TWindowsRegistry final : public IRegistry {
  public:
    bool OpenKey(TRegKey parent, const std::string& path, TRegKey& key) override {
        HKEY opened = nullptr;
        if (RegOpenKeyExA(ToHkey(parent), path.c_str(), 0, KEY_ALL_ACCESS, &opened) !=
            ERROR_SUCCESS) {
            return false;
        }
        key = FromHkey(opened);
        return true;
    }

    bool CreateKey(TRegKey parent, const std::string& path, TRegKey& key) override {
        HKEY opened = nullptr;
        if (RegCreateKeyExA(ToHkey(parent), path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_ALL_ACCESS, nullptr, &opened, nullptr) != ERROR_SUCCESS) {
            return false;
        }
        key = FromHkey(opened);
        return true;
    }

    bool QueryValue(TRegKey key, const std::string& name, std::uint32_t& type,
                    std::string& data) override {
        DWORD valueType = 0;
        DWORD size = 0;
        LONG rc = RegQueryValueExA(ToHkey(key), name.c_str(), nullptr, &valueType, nullptr, &size);
        if (rc != ERROR_SUCCESS) {
            return false;
        }
        // The value may grow between asking its size and reading it; ask again a few times
        // rather than reading into a buffer that is too small.
        std::vector<BYTE> buffer;
        for (int attempt = 0; attempt < 8; ++attempt) {
            // One spare byte: an ANSI string converted from a stored Unicode one can need it.
            buffer.assign(static_cast<std::size_t>(size) + 1, 0);
            DWORD got = size + 1;
            rc = RegQueryValueExA(ToHkey(key), name.c_str(), nullptr, &valueType, buffer.data(),
                                  &got);
            if (rc == ERROR_SUCCESS) {
                type = valueType;
                data.assign(reinterpret_cast<const char*>(buffer.data()), got);
                return true;
            }
            if (rc != ERROR_MORE_DATA) {
                return false;
            }
            size = got;
        }
        return false;
    }

    bool SetValue(TRegKey key, const std::string& name, std::uint32_t type,
                  const std::string& data) override {
        return RegSetValueExA(ToHkey(key), name.c_str(), 0, type,
                              reinterpret_cast<const BYTE*>(data.data()),
                              static_cast<DWORD>(data.size())) == ERROR_SUCCESS;
    }

    void CloseKey(TRegKey key) override {
        if (key != kRegCurrentUser && key != 0) {
            RegCloseKey(ToHkey(key));
        }
    }
};

}  // namespace

IRegistry& WindowsRegistry() {
    static TWindowsRegistry registry;
    return registry;
}
