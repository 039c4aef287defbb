#include "FolderListings.h"

#include <dirent.h>

#include "vqwin/FileSystem.h"

namespace vqwin {
namespace {

// Folders kept at most; past that the kept names are dropped and read anew.
const size_t kMaxListings = 256;

// How long after its last change a folder's names may be kept: the change
// time of a later change must differ from the one seen. File systems with
// sub-second times stamp changes with a clock that advances at least every
// few milliseconds; others may stamp whole seconds or two, so a change
// stamped T may have happened up to 2 s later; 50 ms more cover the coarse
// clock the kernel stamps with.
long long MarginNs(const timespec& changed) { return changed.tv_nsec != 0 ? 50'000'000LL : 2'050'000'000LL; }

long long Ns(const timespec& t) { return static_cast<long long>(t.tv_sec) * 1'000'000'000LL + t.tv_nsec; }

bool Same(const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }

}  // namespace

bool ChangeTimeTellsLaterChanges(const timespec& changed, const timespec& readAt) {
  return Ns(readAt) - Ns(changed) > MarginNs(changed);
}

bool StatFolder(const std::string& folder, FolderStatus& status) {
  clock_gettime(CLOCK_REALTIME, &status.readAt);
  return ::stat(folder.c_str(), &status.st) == 0 && S_ISDIR(status.st.st_mode);
}

const FolderListings::Listing* FolderListings::Valid(const std::string& folder, const FolderStatus& status,
                                                     unsigned codePage) const {
  auto it = listings_.find(folder);
  if (it == listings_.end()) return nullptr;
  const Listing& l = it->second;
  const bool same = l.device == status.st.st_dev && l.inode == status.st.st_ino && Same(l.changed, status.st.st_ctim) &&
                    l.codePage == codePage;
  return same ? &l : nullptr;
}

bool FolderListings::Keeps(const std::string& folder) {
  std::lock_guard<std::mutex> lock(mutex_);
  return listings_.count(folder) != 0;
}

FolderListings::Answer FolderListings::Lookup(const std::string& folder, std::string_view name, unsigned codePage,
                                              const FolderStatus& status) {
  std::lock_guard<std::mutex> lock(mutex_);
  Answer answer;
  const Listing* l = Valid(folder, status, codePage);
  if (!l) return answer;
  answer.known = true;
  const std::string exact(name);
  if (l->names.count(exact)) {
    answer.stored = exact;
  } else {
    auto hit = l->byLowerName.find(LowerName(name, codePage));
    if (hit != l->byLowerName.end()) answer.stored = hit->second;
  }
  return answer;
}

std::optional<std::string> FolderListings::FindNoCase(const std::string& folder, std::string_view name,
                                                      unsigned codePage, const FolderStatus* known) {
  FolderStatus status;
  if (known) {
    status = *known;
  } else if (!StatFolder(folder, status)) {
    return std::nullopt;
  }
  const std::string want = LowerName(name, codePage);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (const Listing* l = Valid(folder, status, codePage)) {
      auto hit = l->byLowerName.find(want);
      if (hit == l->byLowerName.end()) return std::nullopt;
      return hit->second;
    }
  }
  const bool keep = ChangeTimeTellsLaterChanges(status.st.st_ctim, status.readAt);
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return std::nullopt;
  Listing listing;
  std::optional<std::string> stored;
  // Bounded by the folder's entries.
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view entryName = entry->d_name;
    if (entryName == "." || entryName == "..") continue;
    std::string lower = LowerName(entryName, codePage);
    if (!stored && lower == want) {
      stored = std::string(entryName);
      if (!keep) break;
    }
    if (keep) {
      listing.names.emplace(entryName);
      listing.byLowerName.try_emplace(std::move(lower), entryName);
    }
  }
  ::closedir(dir);
  if (keep) {
    listing.device = status.st.st_dev;
    listing.inode = status.st.st_ino;
    listing.changed = status.st.st_ctim;
    listing.codePage = codePage;
    std::lock_guard<std::mutex> lock(mutex_);
    if (listings_.size() >= kMaxListings) listings_.clear();
    listings_[folder] = std::move(listing);
  }
  return stored;
}

}  // namespace vqwin
