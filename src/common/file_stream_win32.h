// A file opened for reading with write sharing denied, as a stream (Windows only).
#pragma once

#include <memory>
#include <string>

#include "common/stream.h"

// Opens `path` for reading; others may read it too but nobody may write it while it is open.
// Raises EBrenloError when the file cannot be opened.
std::unique_ptr<TStream> OpenFileStreamForReading(const std::string& path);
