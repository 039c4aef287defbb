// File and folder functions over the machine's drive folders.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <windows.h>

#include <cerrno>
#include <cstring>
#include <list>
#include <mutex>

#include "Text.h"
#include "vqwin/FileSystem.h"
#include "vqwin/Handles.h"
#include "vqwin/Machine.h"

namespace fs = std::filesystem;

namespace vqwin {

std::shared_ptr<KernelObject> OpenDevice(const std::string& name, DWORD access, DWORD share, DWORD& error);

namespace {

DWORD ErrnoToWin32(int e) {
  switch (e) {
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS: return ERROR_ACCESS_DENIED;
    case EEXIST: return ERROR_FILE_EXISTS;
    case ENOSPC:
    case EDQUOT: return ERROR_DISK_FULL;
    case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    default: return ERROR_GEN_FAILURE;
  }
}

class FileObject : public KernelObject {
 public:
  ~FileObject() override;
  BOOL Read(void* buffer, DWORD size, DWORD* got, DWORD& error) override;
  BOOL Write(const void* data, DWORD size, DWORD* put, DWORD& error) override;

  int fd = -1;
  bool directory = false;
  std::string windowsPath;
  std::string hostPath;
  DWORD access = 0, share = 0;
};

struct OpenEntry {
  std::string hostPath;
  DWORD access, share;
  const FileObject* owner;
};
std::mutex g_openMutex;
std::list<OpenEntry> g_open;

bool Reads(DWORD access) { return access & (GENERIC_READ | GENERIC_ALL | GENERIC_EXECUTE); }
bool Writes(DWORD access) { return access & (GENERIC_WRITE | GENERIC_ALL); }

// Whether an open of `hostPath` with this access and sharing, or an operation
// needing `access` (delete counts as write here), collides with open handles.
bool Collides(const std::string& hostPath, DWORD access, DWORD share, bool deleting = false) {
  if (!deleting && access == 0) return false;  // no data access: nothing to share
  std::lock_guard<std::mutex> lock(g_openMutex);
  for (const OpenEntry& e : g_open) {
    if (e.hostPath != hostPath) continue;
    if (deleting) {
      if (!(e.share & FILE_SHARE_DELETE)) return true;
      continue;
    }
    if (Reads(access) && !(e.share & FILE_SHARE_READ)) return true;
    if (Writes(access) && !(e.share & FILE_SHARE_WRITE)) return true;
    if (Reads(e.access) && !(share & FILE_SHARE_READ)) return true;
    if (Writes(e.access) && !(share & FILE_SHARE_WRITE)) return true;
  }
  return false;
}

FileObject::~FileObject() {
  if (fd >= 0) ::close(fd);
  std::lock_guard<std::mutex> lock(g_openMutex);
  g_open.remove_if([this](const OpenEntry& e) { return e.owner == this; });
}

BOOL FileObject::Read(void* buffer, DWORD size, DWORD* got, DWORD& error) {
  if (got) *got = 0;
  if (directory || !Reads(access)) {
    error = ERROR_ACCESS_DENIED;
    return FALSE;
  }
  size_t total = 0;
  while (total < size) {
    const ssize_t n = ::read(fd, static_cast<char*>(buffer) + total, size - total);
    if (n < 0) {
      if (errno == EINTR) continue;
      error = ErrnoToWin32(errno);
      return FALSE;
    }
    if (n == 0) break;
    total += static_cast<size_t>(n);
  }
  if (got) *got = static_cast<DWORD>(total);
  return TRUE;
}

BOOL FileObject::Write(const void* data, DWORD size, DWORD* put, DWORD& error) {
  if (put) *put = 0;
  if (directory || !Writes(access)) {
    error = ERROR_ACCESS_DENIED;
    return FALSE;
  }
  if (DWORD scripted = CurrentMachine().files().ScriptedFailure("write", windowsPath)) {
    error = scripted;
    return FALSE;
  }
  size_t total = 0;
  while (total < size) {
    const ssize_t n = ::write(fd, static_cast<const char*>(data) + total, size - total);
    if (n < 0) {
      if (errno == EINTR) continue;
      error = ErrnoToWin32(errno);
      if (put) *put = static_cast<DWORD>(total);
      return FALSE;
    }
    total += static_cast<size_t>(n);
  }
  if (put) *put = static_cast<DWORD>(total);
  return TRUE;
}

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

DWORD MissingError(const ResolvedPath& r) {
  if (r.error) return r.error == ERROR_INVALID_NAME ? ERROR_INVALID_NAME : ERROR_PATH_NOT_FOUND;
  return r.parentExists ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
}

bool IsDir(const ResolvedPath& r) {
  std::error_code ec;
  return fs::is_directory(r.hostPath, ec);
}

FILETIME ToFileTime(const struct stat& st) {
  // 100-ns intervals since 1601-01-01.
  const uint64_t t = (static_cast<uint64_t>(st.st_mtime) + 11644473600ULL) * 10000000ULL;
  return FILETIME{static_cast<DWORD>(t), static_cast<DWORD>(t >> 32)};
}

FILETIME ToFileTime(const fs::path& p) {
  struct stat st {};
  if (::stat(p.c_str(), &st) != 0) return FILETIME{0, 0};
  return ToFileTime(st);
}

class FindObject : public KernelObject {
 public:
  std::vector<WIN32_FIND_DATAA> entries;
  size_t next = 0;
};

WIN32_FIND_DATAA MakeFindData(const std::string& name, const ResolvedPath& where) {
  WIN32_FIND_DATAA d;
  std::memset(&d, 0, sizeof d);
  d.dwFileAttributes = CurrentMachine().files().Attributes(where);
  std::error_code ec;
  if (!(d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    const uint64_t size = fs::file_size(where.hostPath, ec);
    if (!ec) {
      d.nFileSizeLow = static_cast<DWORD>(size);
      d.nFileSizeHigh = static_cast<DWORD>(size >> 32);
    }
  }
  d.ftCreationTime = d.ftLastAccessTime = d.ftLastWriteTime = ToFileTime(where.hostPath);
  std::strncpy(d.cFileName, name.c_str(), MAX_PATH - 1);
  return d;
}

// The same for an entry of a listed folder, from one status query: the
// attributes kept for its path, its size and its time of last change.
WIN32_FIND_DATAA MakeFindData(const std::string& name, const ResolvedPath& where, const struct stat& st) {
  WIN32_FIND_DATAA d;
  std::memset(&d, 0, sizeof d);
  d.dwFileAttributes = CurrentMachine().files().Attributes(where, S_ISDIR(st.st_mode));
  if (!(d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    const uint64_t size = static_cast<uint64_t>(st.st_size);
    d.nFileSizeLow = static_cast<DWORD>(size);
    d.nFileSizeHigh = static_cast<DWORD>(size >> 32);
  }
  d.ftCreationTime = d.ftLastAccessTime = d.ftLastWriteTime = ToFileTime(st);
  std::strncpy(d.cFileName, name.c_str(), MAX_PATH - 1);
  return d;
}

}  // namespace
}  // namespace vqwin

using namespace vqwin;

extern "C" {

HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode, LPSECURITY_ATTRIBUTES,
                          DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes, HANDLE) {
  if (!lpFileName) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  const std::string name = lpFileName;
  if (name.size() > 4 && name[0] == '\\' && name[1] == '\\' && name[2] == '.' && name[3] == '\\') {
    DWORD error = 0;
    auto device = OpenDevice(name.substr(4), dwDesiredAccess, dwShareMode, error);
    if (!device) {
      SetLastError(error ? error : ERROR_FILE_NOT_FOUND);
      return INVALID_HANDLE_VALUE;
    }
    SetLastError(ERROR_SUCCESS);
    return NewHandle(std::move(device));
  }
  if (dwCreationDisposition < CREATE_NEW || dwCreationDisposition > TRUNCATE_EXISTING) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  FileSystem& files = CurrentMachine().files();
  const ResolvedPath r = files.Resolve(name);
  if (r.error) {
    SetLastError(MissingError(r));
    return INVALID_HANDLE_VALUE;
  }
  if (DWORD scripted = files.ScriptedFailure("open", r.windowsPath)) {
    SetLastError(scripted);
    return INVALID_HANDLE_VALUE;
  }
  auto object = std::make_shared<FileObject>();
  object->windowsPath = r.windowsPath;
  object->hostPath = r.hostPath.string();
  object->access = dwDesiredAccess;
  object->share = dwShareMode;
  if (r.exists && IsDir(r)) {
    if (!(dwFlagsAndAttributes & FILE_FLAG_BACKUP_SEMANTICS) || dwCreationDisposition == CREATE_NEW ||
        dwCreationDisposition == CREATE_ALWAYS || dwCreationDisposition == TRUNCATE_EXISTING) {
      SetLastError(dwCreationDisposition == CREATE_NEW ? ERROR_FILE_EXISTS : ERROR_ACCESS_DENIED);
      return INVALID_HANDLE_VALUE;
    }
    object->directory = true;
    SetLastError(ERROR_SUCCESS);
    return NewHandle(object);
  }
  bool create = false, truncate = false;
  switch (dwCreationDisposition) {
    case CREATE_NEW:
      if (r.exists) return SetLastError(ERROR_FILE_EXISTS), INVALID_HANDLE_VALUE;
      create = true;
      break;
    case CREATE_ALWAYS:
      create = !r.exists;
      truncate = r.exists;
      break;
    case OPEN_EXISTING:
      if (!r.exists) return SetLastError(MissingError(r)), INVALID_HANDLE_VALUE;
      break;
    case OPEN_ALWAYS:
      create = !r.exists;
      break;
    case TRUNCATE_EXISTING:
      if (!r.exists) return SetLastError(MissingError(r)), INVALID_HANDLE_VALUE;
      if (!Writes(dwDesiredAccess)) return SetLastError(ERROR_INVALID_PARAMETER), INVALID_HANDLE_VALUE;
      truncate = true;
      break;
  }
  if (create) {
    if (!r.parentExists) return SetLastError(ERROR_PATH_NOT_FOUND), INVALID_HANDLE_VALUE;
    if (DWORD scripted = files.ScriptedFailure("create", r.windowsPath))
      return SetLastError(scripted), INVALID_HANDLE_VALUE;
  }
  if (r.exists && (Writes(dwDesiredAccess) || truncate) &&
      (files.Attributes(r) & FILE_ATTRIBUTE_READONLY))
    return SetLastError(ERROR_ACCESS_DENIED), INVALID_HANDLE_VALUE;
  if (r.exists && Collides(object->hostPath, dwDesiredAccess, dwShareMode))
    return SetLastError(ERROR_SHARING_VIOLATION), INVALID_HANDLE_VALUE;

  int flags = Writes(dwDesiredAccess) ? (Reads(dwDesiredAccess) ? O_RDWR : O_WRONLY) : O_RDONLY;
  if (create) flags |= O_CREAT | O_EXCL;
  if (truncate) {
    flags |= O_TRUNC;
    if (!Writes(dwDesiredAccess)) flags = (flags & ~O_RDONLY) | O_RDWR;
  }
  object->fd = ::open(object->hostPath.c_str(), flags | O_CLOEXEC, 0644);
  if (object->fd < 0) {
    SetLastError(ErrnoToWin32(errno));
    return INVALID_HANDLE_VALUE;
  }
  if (create) {
    const DWORD wanted = dwFlagsAndAttributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                                 FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_TEMPORARY);
    if (wanted) files.SetAttributes(files.Resolve(name), wanted | FILE_ATTRIBUTE_ARCHIVE);
  }
  {
    std::lock_guard<std::mutex> lock(g_openMutex);
    g_open.push_back(OpenEntry{object->hostPath, dwDesiredAccess, dwShareMode, object.get()});
  }
  SetLastError((r.exists && (dwCreationDisposition == CREATE_ALWAYS || dwCreationDisposition == OPEN_ALWAYS))
                   ? ERROR_ALREADY_EXISTS
                   : ERROR_SUCCESS);
  return NewHandle(object);
}

BOOL WINAPI CloseHandle(HANDLE hObject) {
  if (!ReleaseHandle(hObject)) return Fail(ERROR_INVALID_HANDLE);
  return TRUE;
}

BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD n, LPDWORD lpRead, LPOVERLAPPED) {
  auto object = LookupHandle(hFile);
  if (!object) return Fail(ERROR_INVALID_HANDLE);
  if (!lpBuffer && n) return Fail(ERROR_NOACCESS);
  DWORD error = 0;
  if (!object->Read(lpBuffer, n, lpRead, error)) return Fail(error);
  return TRUE;
}

BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD n, LPDWORD lpWritten, LPOVERLAPPED) {
  auto object = LookupHandle(hFile);
  if (!object) return Fail(ERROR_INVALID_HANDLE);
  if (!lpBuffer && n) return Fail(ERROR_NOACCESS);
  DWORD error = 0;
  if (!object->Write(lpBuffer, n, lpWritten, error)) return Fail(error);
  return TRUE;
}

DWORD WINAPI GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh) {
  auto file = HandleAs<FileObject>(hFile);
  struct stat st {};
  if (!file || file->fd < 0 || ::fstat(file->fd, &st) != 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return INVALID_FILE_SIZE;
  }
  const uint64_t size = static_cast<uint64_t>(st.st_size);
  if (lpFileSizeHigh) *lpFileSizeHigh = static_cast<DWORD>(size >> 32);
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(size);
}

DWORD WINAPI SetFilePointer(HANDLE hFile, LONG lDistance, PLONG lpDistanceHigh, DWORD dwMoveMethod) {
  auto file = HandleAs<FileObject>(hFile);
  if (!file || file->fd < 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return INVALID_SET_FILE_POINTER;
  }
  int64_t distance = lpDistanceHigh ? (static_cast<int64_t>(*lpDistanceHigh) << 32) |
                                          static_cast<uint32_t>(lDistance)
                                    : static_cast<int64_t>(lDistance);
  const int whence = dwMoveMethod == FILE_BEGIN ? SEEK_SET : dwMoveMethod == FILE_CURRENT ? SEEK_CUR : SEEK_END;
  if (dwMoveMethod > FILE_END) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_SET_FILE_POINTER;
  }
  const off_t at = ::lseek(file->fd, static_cast<off_t>(distance), whence);
  if (at < 0) {
    SetLastError(ERROR_NEGATIVE_SEEK);
    return INVALID_SET_FILE_POINTER;
  }
  if (lpDistanceHigh) *lpDistanceHigh = static_cast<LONG>(static_cast<uint64_t>(at) >> 32);
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(at);
}

BOOL WINAPI SetEndOfFile(HANDLE hFile) {
  auto file = HandleAs<FileObject>(hFile);
  if (!file || file->fd < 0) return Fail(ERROR_INVALID_HANDLE);
  if (!Writes(file->access)) return Fail(ERROR_ACCESS_DENIED);
  const off_t at = ::lseek(file->fd, 0, SEEK_CUR);
  if (at < 0 || ::ftruncate(file->fd, at) != 0) return Fail(ErrnoToWin32(errno));
  return TRUE;
}

BOOL WINAPI FlushFileBuffers(HANDLE hFile) {
  auto file = HandleAs<FileObject>(hFile);
  if (!file) return Fail(ERROR_INVALID_HANDLE);
  return TRUE;
}

HANDLE WINAPI FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData) {
  if (!lpFileName || !lpFindFileData) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  FileSystem& files = CurrentMachine().files();
  std::string given = lpFileName;
  if (!given.empty() && (given.back() == '\\' || given.back() == '/')) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  // Keep the name part as given (FullPath drops trailing dots, which matter in patterns).
  const auto parts = SplitWindowsPath(given, CurrentMachine().spec().locale.ansiCodePage);
  const std::string pattern = parts.back();
  std::string dirGiven = given.substr(0, given.size() - pattern.size());
  if (dirGiven.empty()) dirGiven.assign(1, '.');
  const std::string dirFull = files.FullPath(dirGiven);
  if (dirFull.empty() || pattern.empty()) {
    SetLastError(ERROR_INVALID_NAME);
    return INVALID_HANDLE_VALUE;
  }
  const ResolvedPath dir = files.Resolve(dirFull);
  if (!dir.exists || !IsDir(dir)) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  auto find = std::make_shared<FindObject>();
  const bool root = dir.windowsPath.size() <= 3;
  const std::string sep = root ? "" : "\\";
  if (!root) {
    for (const char* dots : {".", ".."})
      if (MatchWildcard(pattern, dots)) find->entries.push_back(MakeFindData(dots, dir));
  }
  // The matching names in the order of their lower-case forms (the sort
  // keys made once, not at each comparison).
  const UINT cp = CurrentMachine().spec().locale.ansiCodePage;
  std::vector<std::pair<std::string, std::string>> names;  // (key, name)
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(dir.hostPath, ec)) {
    std::string name = entry.path().filename().string();
    if (MatchWildcard(pattern, name)) names.emplace_back(LowerName(name, cp), std::move(name));
  }
  std::sort(names.begin(), names.end());
  find->entries.reserve(find->entries.size() + names.size());
  for (const auto& [key, name] : names) {
    // An entry whose Windows path is itself (no trailing dot or blank, no
    // character a path part cannot hold) is the folder's host path and its
    // name; others are resolved as the path would be.
    const std::string windowsPath = dir.windowsPath + sep + name;
    struct stat st {};
    if (files.FullPath(windowsPath) == windowsPath && ::stat((dir.hostPath / name).c_str(), &st) == 0) {
      ResolvedPath where;
      where.windowsPath = windowsPath;
      where.hostPath = dir.hostPath / name;
      where.exists = where.parentExists = true;
      find->entries.push_back(MakeFindData(name, where, st));
    } else {
      find->entries.push_back(MakeFindData(name, files.ResolveNative(windowsPath)));
    }
  }
  if (find->entries.empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  *lpFindFileData = find->entries[0];
  find->next = 1;
  SetLastError(ERROR_SUCCESS);
  return NewHandle(find);
}

BOOL WINAPI FindNextFileA(HANDLE hFindFile, LPWIN32_FIND_DATAA lpFindFileData) {
  auto find = HandleAs<FindObject>(hFindFile);
  if (!find || !lpFindFileData) return Fail(ERROR_INVALID_HANDLE);
  if (find->next >= find->entries.size()) return Fail(ERROR_NO_MORE_FILES);
  *lpFindFileData = find->entries[find->next++];
  return TRUE;
}

BOOL WINAPI FindClose(HANDLE hFindFile) {
  if (!HandleAs<FindObject>(hFindFile) || !ReleaseHandle(hFindFile)) return Fail(ERROR_INVALID_HANDLE);
  return TRUE;
}

DWORD WINAPI GetFileAttributesA(LPCSTR lpFileName) {
  if (!lpFileName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_FILE_ATTRIBUTES;
  }
  FileSystem& files = CurrentMachine().files();
  const ResolvedPath r = files.Resolve(lpFileName);
  if (!r.exists) {
    SetLastError(MissingError(r));
    return INVALID_FILE_ATTRIBUTES;
  }
  return files.Attributes(r);
}

BOOL WINAPI SetFileAttributesA(LPCSTR lpFileName, DWORD dwFileAttributes) {
  if (!lpFileName) return Fail(ERROR_INVALID_PARAMETER);
  FileSystem& files = CurrentMachine().files();
  const ResolvedPath r = files.Resolve(lpFileName);
  if (!r.exists) return Fail(MissingError(r));
  files.SetAttributes(r, dwFileAttributes);
  return TRUE;
}

BOOL WINAPI CopyFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, BOOL bFailIfExists) {
  if (!lpExistingFileName || !lpNewFileName) return Fail(ERROR_INVALID_PARAMETER);
  FileSystem& files = CurrentMachine().files();
  const ResolvedPath src = files.Resolve(lpExistingFileName);
  if (!src.exists) return Fail(MissingError(src));
  if (IsDir(src)) return Fail(ERROR_ACCESS_DENIED);
  const ResolvedPath dst = files.Resolve(lpNewFileName);
  if (dst.error == ERROR_INVALID_NAME) return Fail(ERROR_INVALID_NAME);
  if (DWORD scripted = files.ScriptedFailure("copy", dst.windowsPath)) return Fail(scripted);
  if (!dst.exists && !dst.parentExists) return Fail(ERROR_PATH_NOT_FOUND);
  if (dst.exists) {
    if (bFailIfExists) return Fail(ERROR_FILE_EXISTS);
    if (IsDir(dst) || (files.Attributes(dst) & FILE_ATTRIBUTE_READONLY)) return Fail(ERROR_ACCESS_DENIED);
    if (Collides(dst.hostPath.string(), GENERIC_WRITE, FILE_SHARE_READ)) return Fail(ERROR_SHARING_VIOLATION);
  }
  if (Collides(src.hostPath.string(), GENERIC_READ, FILE_SHARE_READ)) return Fail(ERROR_SHARING_VIOLATION);
  std::error_code ec;
  if (src.hostPath == dst.hostPath) return Fail(ERROR_SHARING_VIOLATION);
  fs::copy_file(src.hostPath, dst.hostPath, fs::copy_options::overwrite_existing, ec);
  if (ec) return Fail(ErrnoToWin32(ec.value()));
  const DWORD attributes = files.Attributes(src);
  files.SetAttributes(files.Resolve(lpNewFileName), attributes | FILE_ATTRIBUTE_ARCHIVE);
  return TRUE;
}

BOOL WINAPI MoveFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName) {
  if (!lpExistingFileName || !lpNewFileName) return Fail(ERROR_INVALID_PARAMETER);
  FileSystem& files = CurrentMachine().files();
  const ResolvedPath src = files.Resolve(lpExistingFileName);
  if (!src.exists) return Fail(MissingError(src));
  const ResolvedPath dst = files.Resolve(lpNewFileName);
  if (DWORD scripted = files.ScriptedFailure("move", dst.windowsPath)) return Fail(scripted);
  if (dst.exists) return Fail(ERROR_ALREADY_EXISTS);
  if (!dst.parentExists) return Fail(ERROR_PATH_NOT_FOUND);
  if (Collides(src.hostPath.string(), 0, 0, true)) return Fail(ERROR_SHARING_VIOLATION);
  std::error_code ec;
  fs::rename(src.hostPath, dst.hostPath, ec);
  if (ec) return Fail(ErrnoToWin32(ec.value()));
  files.MoveAttributes(src, dst);
  return TRUE;
}

// A file moved over an existing one replaces it in one step (the host's
// rename), so a move that fails leaves the earlier file as it was.
BOOL WINAPI MoveFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, DWORD dwFlags) {
  if (CurrentMachine().spec().os.Is9x()) return Fail(ERROR_CALL_NOT_IMPLEMENTED);
  if (!lpExistingFileName || !lpNewFileName) return Fail(ERROR_INVALID_PARAMETER);
  if (dwFlags & ~static_cast<DWORD>(MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH))
    return Fail(ERROR_INVALID_PARAMETER);
  if (!(dwFlags & MOVEFILE_REPLACE_EXISTING)) return MoveFileA(lpExistingFileName, lpNewFileName);
  FileSystem& files = CurrentMachine().files();
  const ResolvedPath src = files.Resolve(lpExistingFileName);
  if (!src.exists) return Fail(MissingError(src));
  const ResolvedPath dst = files.Resolve(lpNewFileName);
  if (dst.error == ERROR_INVALID_NAME) return Fail(ERROR_INVALID_NAME);
  if (DWORD scripted = files.ScriptedFailure("move", dst.windowsPath)) return Fail(scripted);
  if (!dst.exists) return MoveFileA(lpExistingFileName, lpNewFileName);
  if (IsDir(src) || IsDir(dst) || (files.Attributes(dst) & FILE_ATTRIBUTE_READONLY)) return Fail(ERROR_ACCESS_DENIED);
  if (Collides(src.hostPath.string(), 0, 0, true) || Collides(dst.hostPath.string(), 0, 0, true))
    return Fail(ERROR_SHARING_VIOLATION);
  std::error_code ec;
  fs::rename(src.hostPath, dst.hostPath, ec);
  if (ec) return Fail(ErrnoToWin32(ec.value()));
  files.MoveAttributes(src, dst);
  return TRUE;
}

BOOL WINAPI DeleteFileA(LPCSTR lpFileName) {
  if (!lpFileName) return Fail(ERROR_INVALID_PARAMETER);
  FileSystem& files = CurrentMachine().files();
  const ResolvedPath r = files.Resolve(lpFileName);
  if (!r.exists) return Fail(MissingError(r));
  if (DWORD scripted = files.ScriptedFailure("delete", r.windowsPath)) return Fail(scripted);
  if (IsDir(r) || (files.Attributes(r) & FILE_ATTRIBUTE_READONLY)) return Fail(ERROR_ACCESS_DENIED);
  if (Collides(r.hostPath.string(), 0, 0, true)) return Fail(ERROR_SHARING_VIOLATION);
  std::error_code ec;
  fs::remove(r.hostPath, ec);
  if (ec) return Fail(ErrnoToWin32(ec.value()));
  files.ForgetAttributes(r);
  return TRUE;
}

BOOL WINAPI CreateDirectoryA(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES) {
  if (!lpPathName) return Fail(ERROR_INVALID_PARAMETER);
  FileSystem& files = CurrentMachine().files();
  const ResolvedPath r = files.Resolve(lpPathName);
  if (r.error) return Fail(MissingError(r));
  if (r.exists) return Fail(ERROR_ALREADY_EXISTS);
  if (!r.parentExists) return Fail(ERROR_PATH_NOT_FOUND);
  if (DWORD scripted = files.ScriptedFailure("create", r.windowsPath)) return Fail(scripted);
  std::error_code ec;
  fs::create_directory(r.hostPath, ec);
  if (ec) return Fail(ErrnoToWin32(ec.value()));
  return TRUE;
}

BOOL WINAPI RemoveDirectoryA(LPCSTR lpPathName) {
  if (!lpPathName) return Fail(ERROR_INVALID_PARAMETER);
  FileSystem& files = CurrentMachine().files();
  const ResolvedPath r = files.Resolve(lpPathName);
  if (!r.exists) return Fail(MissingError(r));
  if (!IsDir(r)) return Fail(ERROR_DIRECTORY);
  if (DWORD scripted = files.ScriptedFailure("delete", r.windowsPath)) return Fail(scripted);
  std::error_code ec;
  if (!fs::is_empty(r.hostPath, ec)) return Fail(ERROR_DIR_NOT_EMPTY);
  fs::remove(r.hostPath, ec);
  if (ec) return Fail(ErrnoToWin32(ec.value()));
  files.ForgetAttributes(r);
  return TRUE;
}

}  // extern "C"
