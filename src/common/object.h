// Root of the component-style classes: what event handlers receive as their Sender.
#pragma once

class TObject {
  public:
    TObject() = default;
    TObject(const TObject&) = delete;
    TObject& operator=(const TObject&) = delete;
    virtual ~TObject() = default;
};
