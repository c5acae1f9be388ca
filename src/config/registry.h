// The registry as the settings store sees it: the five operations it needs, behind one seam so
// that the store runs against the Windows registry in the plug-in and against a fake in tests.
#pragma once

#include <cstdint>
#include <string>

// An open key. Zero never names an open key.
using TRegKey = std::uintptr_t;

// Stands for HKEY_CURRENT_USER, the only root the plug-in uses.
inline constexpr TRegKey kRegCurrentUser = 1;

// Value types with the numbers the Windows registry gives them.
inline constexpr std::uint32_t kRegNone = 0;
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegExpandSz = 2;
inline constexpr std::uint32_t kRegBinary = 3;
inline constexpr std::uint32_t kRegDword = 4;
inline constexpr std::uint32_t kRegMultiSz = 7;

class IRegistry {
  public:
    virtual ~IRegistry() = default;
    // RegOpenKeyExA with full access: opens an existing key, never creates one.
    virtual bool OpenKey(TRegKey parent, const std::string& path, TRegKey& key) = 0;
    // RegCreateKeyExA with full access: opens the key, creating it and any missing key above it.
    virtual bool CreateKey(TRegKey parent, const std::string& path, TRegKey& key) = 0;
    // RegQueryValueExA: the value's type and all of its bytes, however long; false when the
    // value is absent or cannot be read.
    virtual bool QueryValue(TRegKey key, const std::string& name, std::uint32_t& type,
                            std::string& data) = 0;
    // RegSetValueExA: creates or replaces the value with the given type and bytes.
    virtual bool SetValue(TRegKey key, const std::string& name, std::uint32_t type,
                          const std::string& data) = 0;
    // RegCloseKey.
    virtual void CloseKey(TRegKey key) = 0;
};

// The registry the settings store works on. Until one is installed every key fails to open, so
// loading changes nothing, saving writes nothing and IsFirstStart is true.
void SetSettingsRegistry(IRegistry* registry);
IRegistry* SettingsRegistry();

#ifdef _WIN32
// The real registry of the current user; installed by the DLL at load.
IRegistry& WindowsRegistry();
#endif
