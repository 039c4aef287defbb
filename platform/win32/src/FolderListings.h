// The names in the machine's folders, for finding a path part that is
// stored in another case. A folder's names are read once and kept while the
// folder stays the same folder with the same change time; a folder changed
// too recently for its change time to tell a later change apart is read
// again every time. This relies on the host file system giving a folder a
// new change time whenever an entry is added, removed or renamed in it:
// local file systems do; network and FUSE mounts that cache attributes may
// not, and a machine kept on one can be answered from stale names.
#pragma once

#include <sys/stat.h>
#include <time.h>

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

namespace vqwin {

// A folder's status and the real time read just before it.
struct FolderStatus {
  struct stat st {};
  timespec readAt{};
};

// Whether names read at `readAt` from a folder whose change time is
// `changed` may be kept: any later change of the folder is sure to get
// another change time (at sub-second stamps 50 ms later, at whole-second or
// 2-second stamps 2 s + 50 ms later).
bool ChangeTimeTellsLaterChanges(const timespec& changed, const timespec& readAt);

// Reads the status of a folder; false when it is not there or no folder.
bool StatFolder(const std::string& folder, FolderStatus& status);

class FolderListings {
 public:
  // Whether names of `folder` are kept (perhaps no longer valid).
  bool Keeps(const std::string& folder);

  // With the names of `folder` kept and `status` showing the folder
  // unchanged since: `known`, and the stored name of `name` in its own case
  // if the folder has it, else in another, else nothing.
  struct Answer {
    bool known = false;
    std::optional<std::string> stored;
  };
  Answer Lookup(const std::string& folder, std::string_view name, unsigned codePage, const FolderStatus& status);

  // The stored name of the entry of `folder` that is `name` without regard
  // to case (LowerName in `codePage`), the first in the folder's own order;
  // nothing when there is none or `folder` (a host path) is no folder. `status` is the
  // folder's, when the caller has just read it.
  std::optional<std::string> FindNoCase(const std::string& folder, std::string_view name,
                                        unsigned codePage, const FolderStatus* status = nullptr);

 private:
  struct Listing {
    dev_t device = 0;
    ino_t inode = 0;
    timespec changed{};
    unsigned codePage = 0;
    std::unordered_set<std::string> names;
    std::unordered_map<std::string, std::string> byLowerName;  // the first stored name of each
  };
  // The kept names of `folder` when they are still valid (mutex_ held).
  const Listing* Valid(const std::string& folder, const FolderStatus& status, unsigned codePage) const;

  std::mutex mutex_;
  std::map<std::string, Listing> listings_;  // by host path
};

}  // namespace vqwin
