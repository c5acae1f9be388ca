// Failures are exceptions carrying a message text that is shown to the user as it stands.
#pragma once

#include <stdexcept>
#include <string>

// Base of every failure the plug-in reports to the user.
class EBrenloError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// A silent abort: it ends the work in progress and is dropped where it is caught.
class EAbort : public std::exception {
  public:
    const char* what() const noexcept override { return "abort"; }
};
