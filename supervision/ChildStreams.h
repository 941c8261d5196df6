// The standard handles a captured program is started with: pipes for the
// streams that have a file, the null device for the rest, and the list that
// makes them the only handles it inherits.
#pragma once
#include <string>
#include <vector>

#include "platform/win.h"
#include "supervision/PrcSettings.h"

class tclChildStreams {
 public:
  tclChildStreams() = default;
  ~tclChildStreams();
  tclChildStreams(const tclChildStreams&) = delete;
  tclChildStreams& operator=(const tclChildStreams&) = delete;

  // Everything the launch needs, and `startup` filled in to pass it; the
  // error when any of it could not be had (then nothing is captured).
  DWORD Make(const tclLaunchSettings& launch, STARTUPINFOEXA& startup);
  // The child has its copies (or was not created): ours of its ends go.
  void CloseChildEnds();
  // The service's read ends, for OutputLog's file and ErrorLog's; null
  // where that file has no stream. The caller owns what it takes.
  HANDLE TakeOutputEnd();
  HANDLE TakeErrorEnd();

 private:
  DWORD MakePipe(HANDLE& serviceEnd, HANDLE& childEnd);
  DWORD MakeList(STARTUPINFOEXA& startup);

  HANDLE OutputEnd = nullptr, ErrorEnd = nullptr;   // the service's
  HANDLE ChildOutput = nullptr, ChildError = nullptr, Null = nullptr;
  std::vector<HANDLE> Inherited;   // the list points into it until the launch
  std::vector<char> ListBuffer;
  LPPROC_THREAD_ATTRIBUTE_LIST List = nullptr;
};
