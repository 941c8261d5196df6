// Reads a simulated log file back as its messages, failing the test on a line
// without its CR LF or its time stamp.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/sim/sim.h"

inline std::vector<std::string> LoggedMessages(const std::string& logPath,
                                               const std::string& stamp) {
  std::string content = sim::ReadFile(logPath);
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < content.size()) {
    size_t end = content.find("\r\n", start);
    if (end == std::string::npos) {
      ADD_FAILURE() << "unterminated log line: " << content.substr(start);
      break;
    }
    std::string line = content.substr(start, end - start);
    if (line.compare(0, stamp.size(), stamp) != 0)
      ADD_FAILURE() << "line without stamp: " << line;
    else
      lines.push_back(line.substr(stamp.size()));
    start = end + 2;
  }
  return lines;
}
