#pragma once

// The last screen of each task (the keys of the records its next cycle compares
// with), kept beside the task store, not in it (its format stays as it is): the
// first cycle of the next run compares with it, so that records that came while
// the program was stopped are reported as new, as they would have been had the
// run gone on. A task is known by its name, page address, grab formula and the
// way it tells records apart: another formula starts from a silent first screen
// again.

#include "model/seen_keys.h"
#include "model/task_record.h"

#include <cstdint>
#include <string>
#include <vector>

namespace vexory {

namespace KeptScreen {

// At most this many keys are kept for a task (a listing seen for weeks).
inline constexpr size_t kMostKeys = 1 << 20;

// The folder beside the store at `storePath`, and the file of `task` in it.
std::string Folder(const std::string& storePath);
std::string PathFor(const std::string& storePath, const TTaskRecord& task);
// The keys in the file: false (and none) when it is missing or not whole.
bool Read(const std::string& path, SeenKeys& keys);
// Replaces the file whole (the folder is made when missing); false when it could not.
bool Write(const std::string& path, const SeenKeys& keys);
// Removes the files of tasks that are no longer in `tasks` (or changed formula).
void Prune(const std::string& storePath, const std::vector<TTaskRecord>& tasks);

} // namespace KeptScreen

} // namespace vexory
