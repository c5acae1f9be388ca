// The fader's preview in a rich-text control: each faded character is typed into the control in
// its gradient colour.
#pragma once

#include <windows.h>

#include <string>

#include "announce/u_fader.h"

class TRichEditPreview : public IPreviewControl {
  public:
    explicit TRichEditPreview(HWND richEdit) : richEdit_(richEdit) {}
    void SetSelectionColor(std::uint32_t colorref) override;
    void TypeChar(unsigned char ch) override;

  private:
    HWND richEdit_;
};

// FadeText with the preview typed into `richEdit`; only a handle value greater than 0 counts as
// a control, any other gets nothing.
std::string FadeTextToControl(const std::string& text, const TFadeColors& colors, int count,
                              bool wavy, HWND richEdit);
