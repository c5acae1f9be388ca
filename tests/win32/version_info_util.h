// Reads a program's or library's version resource through the Windows version API.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace testutil {

struct VersionInfo {
    bool found = false;
    DWORD fileVersionMS = 0, fileVersionLS = 0, productVersionMS = 0, productVersionLS = 0;
    DWORD fileType = 0;
    std::vector<std::pair<WORD, WORD>> translations;  // language, code page
    std::vector<BYTE> data;

    // A string of the first translation's block ("FileDescription", ...); empty when absent.
    std::string String(const char* name) const {
        if (!found || translations.empty())
            return {};
        char path[128];
        wsprintfA(path, "\\StringFileInfo\\%04x%04x\\%s", translations[0].first,
                  translations[0].second, name);
        char* text = nullptr;
        UINT length = 0;
        if (!VerQueryValueA(data.data(), path, reinterpret_cast<void**>(&text), &length) ||
            text == nullptr)
            return {};
        return std::string(text);
    }
};

inline VersionInfo ReadVersionInfo(const std::string& path) {
    VersionInfo info;
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
    if (size == 0)
        return info;
    info.data.resize(size);
    if (!GetFileVersionInfoA(path.c_str(), 0, size, info.data.data()))
        return info;
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(info.data.data(), "\\", reinterpret_cast<void**>(&fixed), &length) ||
        fixed == nullptr || fixed->dwSignature != VS_FFI_SIGNATURE)
        return info;
    info.fileVersionMS = fixed->dwFileVersionMS;
    info.fileVersionLS = fixed->dwFileVersionLS;
    info.productVersionMS = fixed->dwProductVersionMS;
    info.productVersionLS = fixed->dwProductVersionLS;
    info.fileType = fixed->dwFileType;
    WORD* pairs = nullptr;
    if (VerQueryValueA(info.data.data(), "\\VarFileInfo\\Translation",
                       reinterpret_cast<void**>(&pairs), &length) &&
        pairs != nullptr) {
        for (UINT i = 0; i + 1 < length / sizeof(WORD); i += 2)
            info.translations.emplace_back(pairs[i], pairs[i + 1]);
    }
    info.found = true;
    return info;
}

// "3.0.0" as the four 16-bit parts of a fixed version: {MS, LS} = {3<<16 | 0, 0<<16 | 0}.
inline std::pair<DWORD, DWORD> FixedVersion(const std::string& dotted) {
    unsigned part[4] = {0, 0, 0, 0};
    size_t pos = 0;
    for (int i = 0; i < 4 && pos <= dotted.size(); ++i) {
        const size_t dot = dotted.find('.', pos);
        part[i] = static_cast<unsigned>(std::stoul(dotted.substr(pos, dot - pos)));
        if (dot == std::string::npos)
            break;
        pos = dot + 1;
    }
    return {MAKELONG(part[1], part[0]), MAKELONG(part[3], part[2])};
}

}  // namespace testutil
