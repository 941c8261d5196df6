// Where the executable lies, and so its configuration and log files.
#pragma once
#include <string>

#include "platform/win.h"

// The executable's directory with its trailing backslash, or "c:\".
std::string ModuleDirectory();

// Whether the platform's file calls take the path (MAX_PATH, the terminating
// zero included). A name derived from the directory can pass the limit where
// the executable's own path does not. Inline: the layer below config/ may
// include this header but not link config/'s library.
inline bool FitsPathLimit(const std::string& path) { return path.size() < MAX_PATH; }

// Whether the file is there and can be read; false with the reason, in the
// words a reload that refuses it uses.
bool CanReadFile(const std::string& path, std::string& reason);
