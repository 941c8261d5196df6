// A reload's matching of the file's programs against the running table.
#include "supervision/Reload.h"

#include "log/tclLog.h"
#include "supervision/tclPrcList.h"

namespace {

void LogChange(int32_t n, const std::string& what) {
  Log.FileLine("Process (" + std::to_string(n) + "): " + what, true);
}

std::string Joined(const std::vector<std::string>& keys) {
  std::string text;
  for (const std::string& key : keys) text += (text.empty() ? "" : ", ") + key;
  return text;
}

// For each program of the file, the running number whose child it keeps, or
// -1: the same number first, then the first other one still free.
std::vector<int32_t> MatchRunning(const tclPrcTable& running, int32_t count,
                                  const tclPrcSlots& file) {
  int32_t wanted = int32_t(file.size());
  std::vector<int32_t> match(file.size(), -1);
  std::vector<bool> taken(size_t(count), false);
  for (int32_t i = 0; i < wanted && i < count; ++i) {
    if (SameLaunchSettings(running[i], *file[size_t(i)])) {
      match[size_t(i)] = i;
      taken[size_t(i)] = true;
    }
  }
  for (int32_t i = 0; i < wanted; ++i) {
    for (int32_t j = 0; match[size_t(i)] < 0 && j < count; ++j) {
      if (!taken[size_t(j)] && SameLaunchSettings(running[j], *file[size_t(i)])) {
        match[size_t(i)] = j;
        taken[size_t(j)] = true;
      }
    }
  }
  return match;
}

}  // namespace

tclReloadCounts tclPrcList::Replace(tclPrcSlots file, std::vector<tclPrc*>& toStart) {
  tclReloadCounts counts;
  std::vector<int32_t> match = MatchRunning(Records, Count, file);
  std::vector<bool> kept(size_t(Count), false);
  for (int32_t from : match)
    if (from >= 0) kept[size_t(from)] = true;
  // A number whose child nobody keeps, and whose section the file still has
  // with other launch settings, is restarted rather than removed and added.
  auto restarted = [&](int32_t n) {
    return n < Count && !kept[size_t(n)] && size_t(n) < file.size() && match[size_t(n)] < 0;
  };
  for (int32_t n = 0; n < Count; ++n) {
    if (kept[size_t(n)] || restarted(n)) continue;
    LogChange(n, "Removed: " + Records[n].AppName);
    Records[n].Stop(true);
    ++counts.Removed;
  }

  tclPrcSlots next;
  for (int32_t n = 0; n < int32_t(file.size()); ++n) {
    std::unique_ptr<tclPrc>& wanted = file[size_t(n)];
    int32_t from = match[size_t(n)];
    if (from >= 0) {
      next.push_back(std::move(Records.Slots[size_t(from)]));
      if (from != n)
        LogChange(from, "Moved to number " + std::to_string(n) + ": " + wanted->AppName);
      std::vector<std::string> changed = TakeOtherSettings(*next.back(), *wanted);
      if (changed.empty()) {
        ++counts.Unchanged;
      } else {
        LogChange(n, "Changed without a restart: " + Joined(changed));
        ++counts.Changed;
      }
    } else if (restarted(n)) {
      next.push_back(std::move(Records.Slots[size_t(n)]));
      LogChange(n, "Restarted with new launch settings: " + wanted->AppName);
      next.back()->Stop(true);
      TakeLaunchSettings(*next.back(), *wanted);
      TakeOtherSettings(*next.back(), *wanted);
      ++counts.Changed;
    } else {
      next.push_back(std::move(wanted));
      next.back()->StartsBlocked = &StartsBlocked;
      LogChange(n, "Added: " + next.back()->AppName);
      ++counts.Added;
    }
    if (from < 0 && !next.back()->Paused) toStart.push_back(next.back().get());
  }
  Records.Slots = std::move(next);  // the removed records go here
  Count = int32_t(Records.Slots.size());
  return counts;
}
