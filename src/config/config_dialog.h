// What the plug-in frame needs of the configuration dialog.
#pragma once

#include <functional>
#include <memory>

class IConfigDialog {
  public:
    virtual ~IConfigDialog() = default;
    virtual void ApplyLanguage() = 0;  // puts LanguageTexts on the captions
    virtual void StoreControls() = 0;  // copies the controls into PluginSettings
    virtual void Show() = 0;           // not modal; showing refills the controls
    virtual void Hide() = 0;
    // The library is being unmapped without a teardown (under the loader lock): from now on no
    // window or hook may call code of ours. Destroys and frees nothing.
    virtual void Abandon() noexcept {}
    // Asked on every close request (close box or close button); false refuses the close.
    std::function<bool()> OnCloseQuery;
};

#ifdef _WIN32
// The configuration dialog TMainForm, created hidden from the module's resources. Call it from
// the library's start code, not from DllMain: it loads the preview's rich-edit library.
std::unique_ptr<IConfigDialog> CreateMainForm();
#endif
