// Variables the configuration sets for the programs it starts, on top of the
// service's own environment.
#pragma once
#include <string>
#include <vector>

// The "NAME=value" entries of a section's Env_0, Env_1, ... up to the first
// missing or empty key. An entry without a name is reported and skipped.
std::vector<std::string> ReadEnvironmentEntries(const std::string& section);

// The entries a program applies, in order: the common ones that none of its
// own replaces by name, then its own.
std::vector<std::string> MergeEnvironment(const std::vector<std::string>& common,
                                          const std::vector<std::string>& own);

struct tclEnvironment {
  std::string Block;                    // sorted "NAME=value" strings, double-NUL ended
  std::vector<std::string> Names;       // the variables set, as the child spells them
  std::vector<std::string> Undefined;   // names a "%NAME%" referred to that nothing defined
};

// `inherited` with `entries` applied one after the other, each value expanded
// against what the entries before it left.
tclEnvironment BuildEnvironment(const std::vector<std::string>& inherited,
                                const std::vector<std::string>& entries);

// `value` with its "%NAME%" references taken from the environment the
// program gets (`entries` applied to ours); a name nothing defines is
// reported and stays as written.
std::string ExpandForProgram(const std::string& value, const std::vector<std::string>& entries);

// The block a program is started with, built against this process's own
// environment and accounted for in the log by names only; empty without
// entries, so that the program simply inherits.
std::string ProgramEnvironment(const std::vector<std::string>& entries);
