// A reload's plan: what becomes of each running program and each section of
// the file, decided from their settings alone.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "supervision/PrcSettings.h"

// One number of the table after the reload.
struct tclPlannedProgram {
  int32_t From = -1;       // the running number whose record it takes; -1: added
  bool Restart = false;    // the same number with other launch settings: the old run leaves
  std::vector<std::string> Changed;   // keys taken in place, without a restart
};

struct tclReloadPlan {
  std::vector<tclPlannedProgram> Programs;   // by new number
  std::vector<int32_t> Removed;              // running numbers that leave the table

  int32_t Added() const;
  int32_t ChangedCount() const;   // restarted or changed in place
  int32_t Unchanged() const;
  // The running numbers whose record moves, leaves or is restarted.
  std::vector<int32_t> Disturbed() const;
};

// A running program keeps its child where a section has its launch settings:
// the same number first, then the first other one still free. A number whose
// child nobody keeps, and whose section the file still has with other launch
// settings, is restarted rather than removed and added.
tclReloadPlan PlanReload(const std::vector<tclPrcSettings>& running,
                         const std::vector<tclPrcSettings>& file);

// The log's account of the plan, in its order.
std::vector<std::string> PlanLines(const tclReloadPlan& plan,
                                   const std::vector<tclPrcSettings>& running,
                                   const std::vector<tclPrcSettings>& file);
