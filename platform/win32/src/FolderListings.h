// The names in the machine's folders, for finding a path part that is
// stored in another case. A folder's names are read once and kept while the
// folder stays the same folder with the same change time; a folder changed
// too recently for its change time to tell a later change apart is read
// again every time.
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
