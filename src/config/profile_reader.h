// Reading one text from an initialisation file in the private-profile format, behind a seam:
// the plug-in asks Windows (GetPrivateProfileStringA), tests and non-Windows builds use a
// portable reader that keeps the same rules.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>

// The buffer every text is read into; one place is the terminating zero.
inline constexpr std::size_t kProfileBufferSize = 2048;
inline constexpr std::size_t kProfileMaxTextLength = kProfileBufferSize - 1;

class IProfileReader {
  public:
    virtual ~IProfileReader() = default;
    // The value of `key` in `section` of the file, or the empty text when the file, the section
    // or the key is absent. Section and key names are compared without regard to case, a pair of
    // quotation marks enclosing the whole value is dropped, and at most kProfileMaxTextLength
    // characters are returned.
    virtual std::string ReadString(const std::string& section, const std::string& key,
                                   const std::string& fileName) = 0;
};

// The value of `key` in `section` of a file's content, by the rules of IProfileReader.
std::string FindProfileValue(std::string_view content, std::string_view section,
                             std::string_view key);

// Portable reader. A file name without a directory is looked for in `directory`; one with a
// directory is taken as it stands. Lines end at a line feed; blanks around keys and values are
// dropped; lines starting with ';' are comments; the first of several equal sections or keys
// counts.
class TIniFileProfileReader final : public IProfileReader {
  public:
    explicit TIniFileProfileReader(std::string directory) : directory_(std::move(directory)) {}
    std::string ReadString(const std::string& section, const std::string& key,
                           const std::string& fileName) override;

  private:
    std::string directory_;
};

// The reader LoadLanguage uses. Until one is installed every text reads as empty.
void SetLanguageProfileReader(IProfileReader* reader);
IProfileReader* LanguageProfileReader();

#ifdef _WIN32
// GetPrivateProfileStringA: a bare file name is looked for in the Windows folder. Installed by
// the DLL at load.
IProfileReader& WindowsProfileReader();
#endif
