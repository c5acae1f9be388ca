// The language file read through GetPrivateProfileStringA.
#include <windows.h>

#include "config/profile_reader.h"

namespace {

class TWindowsProfileReader final : public IProfileReader {
  public:
    std::string ReadString(const std::string& section, const std::string& key,
                           const std::string& fileName) override {
        char buffer[kProfileBufferSize] = {};
        // A bare file name makes Windows look in the Windows folder, not next to the DLL or in
        // the host's working folder.
        const DWORD length =
            GetPrivateProfileStringA(section.c_str(), key.c_str(), "", buffer,
                                     static_cast<DWORD>(kProfileBufferSize), fileName.c_str());
        return std::string(buffer, length < kProfileBufferSize ? length : kProfileMaxTextLength);
    }
};

}  // namespace

IProfileReader& WindowsProfileReader() {
    static TWindowsProfileReader reader;
    return reader;
}
