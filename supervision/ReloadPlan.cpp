#include "supervision/Reload.h"

namespace {

std::string Line(int32_t n, const std::string& what) {
  return "Process (" + std::to_string(n) + "): " + what;
}

std::string Joined(const std::vector<std::string>& keys) {
  std::string text;
  for (const std::string& key : keys) text += (text.empty() ? "" : ", ") + key;
  return text;
}

}  // namespace

int32_t tclReloadPlan::Added() const {
  int32_t added = 0;
  for (const tclPlannedProgram& p : Programs) added += p.From < 0;
  return added;
}

int32_t tclReloadPlan::ChangedCount() const {
  int32_t changed = 0;
  for (const tclPlannedProgram& p : Programs) changed += p.Restart || !p.Changed.empty();
  return changed;
}

int32_t tclReloadPlan::Unchanged() const {
  return int32_t(Programs.size()) - Added() - ChangedCount();
}

std::vector<int32_t> tclReloadPlan::Disturbed() const {
  std::vector<int32_t> numbers = Removed;
  for (int32_t n = 0; n < int32_t(Programs.size()); ++n) {
    const tclPlannedProgram& p = Programs[size_t(n)];
    if (p.From >= 0 && (p.From != n || p.Restart)) numbers.push_back(p.From);
  }
  return numbers;
}

tclReloadPlan PlanReload(const std::vector<tclPrcSettings>& running,
                         const std::vector<tclPrcSettings>& file) {
  size_t count = running.size(), wanted = file.size();
  std::vector<int32_t> match(wanted, -1);
  std::vector<bool> taken(count, false);
  for (size_t i = 0; i < wanted && i < count; ++i) {
    if (running[i].Launch == file[i].Launch) {
      match[i] = int32_t(i);
      taken[i] = true;
    }
  }
  for (size_t i = 0; i < wanted; ++i) {
    for (size_t j = 0; match[i] < 0 && j < count; ++j) {
      if (!taken[j] && running[j].Launch == file[i].Launch) {
        match[i] = int32_t(j);
        taken[j] = true;
      }
    }
  }
  tclReloadPlan plan;
  for (size_t n = 0; n < wanted; ++n) {
    tclPlannedProgram p;
    if (match[n] >= 0) {
      p.From = match[n];
      p.Changed = DifferingKeys(running[size_t(p.From)], file[n]);
    } else if (n < count && !taken[n]) {
      p.From = int32_t(n);
      p.Restart = true;
      taken[n] = true;
    }
    plan.Programs.push_back(p);
  }
  for (size_t n = 0; n < count; ++n)
    if (!taken[n]) plan.Removed.push_back(int32_t(n));
  return plan;
}

std::vector<std::string> PlanLines(const tclReloadPlan& plan,
                                   const std::vector<tclPrcSettings>& running,
                                   const std::vector<tclPrcSettings>& file) {
  std::vector<std::string> lines;
  for (int32_t n : plan.Removed)
    lines.push_back(Line(n, "Removed: " + running[size_t(n)].Launch.AppName));
  for (int32_t n = 0; n < int32_t(plan.Programs.size()); ++n) {
    const tclPlannedProgram& p = plan.Programs[size_t(n)];
    const std::string& app = file[size_t(n)].Launch.AppName;
    if (p.From < 0) {
      lines.push_back(Line(n, "Added: " + app));
    } else if (p.Restart) {
      lines.push_back(Line(n, "Restarted with new launch settings: " + app));
    } else {
      if (p.From != n)
        lines.push_back(Line(p.From, "Moved to number " + std::to_string(n) + ": " + app));
      if (!p.Changed.empty())
        lines.push_back(Line(n, "Changed without a restart: " + Joined(p.Changed)));
    }
  }
  return lines;
}
