// The service's side of the status file: its own facts, and the moments it
// writes them.
#include "log/tclLog.h"
#include "service/Service.h"
#include "service/tclService.h"
#include "supervision/StatusFile.h"
#include "supervision/tclPrcList.h"

namespace {

tclStatusWriter Writer;

std::string CurrentStateWord() { return ServiceStateWord(Service.CurrentState()); }

}  // namespace

std::string ServiceStateWord(DWORD state) {
  switch (state) {
    case SERVICE_STOPPED: return "stopped";
    case SERVICE_START_PENDING: return "start pending";
    case SERVICE_STOP_PENDING: return "stop pending";
    case SERVICE_RUNNING: return "running";
    case SERVICE_CONTINUE_PENDING: return "continue pending";
    case SERVICE_PAUSE_PENDING: return "pause pending";
    case SERVICE_PAUSED: return "paused";
    default: return "unknown (" + std::to_string(state) + ")";
  }
}

void BeginStatus() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  Writer.Begin(Service.StatusPath, GetCurrentProcessId(), tclLog::FormatStamp(now));
}

void WriteStatus() { Writer.Write(CurrentStateWord, PrcList); }

void NoteReloadAsked() { Writer.NoteReloadAsked(); }

void NoteReloadBegun(uint32_t budgetMs) { Writer.NoteReloadBegun(budgetMs); }

void NoteReload(const std::string& outcome) { Writer.NoteReload(outcome); }
