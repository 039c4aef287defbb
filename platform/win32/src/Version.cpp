// File version functions. The data that GetFileVersionInfoA returns is the
// file's VS_VERSIONINFO block followed by the ANSI copies of its string
// values, which VerQueryValueA hands out.
#include <windows.h>

#include <cstring>
#include <fstream>
#include <iterator>

#include "Text.h"
#include "vqwin/CodePage.h"
#include "vqwin/FileSystem.h"
#include "vqwin/Machine.h"
#include "vqwin/PeWriter.h"

namespace vqwin {
namespace {

const char kAnsiMark[4] = {'V', 'Q', 'A', 0};

struct Node {
  size_t start = 0, end = 0;  // within the block
  std::wstring key;
  size_t valueAt = 0, valueBytes = 0;
  uint16_t type = 0, valueLength = 0;
  std::vector<Node> children;
};

uint16_t Get16(const uint8_t* d, size_t at) { return static_cast<uint16_t>(d[at] | d[at + 1] << 8); }
size_t Align(size_t v) { return (v + 3) & ~static_cast<size_t>(3); }

// Parses the node at `at`; false on anything that doesn't fit in `size`.
bool Parse(const uint8_t* d, size_t size, size_t at, Node& node, int depth) {
  if (depth > 8 || at + 6 > size) return false;
  const uint16_t length = Get16(d, at);
  if (length < 6 || at + length > size) return false;
  node.start = at;
  node.end = at + length;
  node.valueLength = Get16(d, at + 2);
  node.type = Get16(d, at + 4);
  size_t p = at + 6;
  for (;;) {
    if (p + 2 > node.end) return false;
    const uint16_t c = Get16(d, p);
    p += 2;
    if (!c) break;
    node.key += static_cast<wchar_t>(c);
  }
  p = Align(p);
  node.valueAt = p;
  node.valueBytes = node.type == 1 ? node.valueLength * 2u : node.valueLength;
  if (p + node.valueBytes > node.end) {
    if (p > node.end) return false;
    node.valueBytes = node.end - p;  // a short value; keep what is there
  }
  p = Align(p + node.valueBytes);
  while (p + 6 <= node.end) {
    Node child;
    if (!Parse(d, node.end, p, child, depth + 1)) return false;
    p = Align(child.end);
    node.children.push_back(std::move(child));
  }
  return true;
}

// The string leaves in order (StringFileInfo \ table \ string).
void Strings(const Node& root, std::vector<const Node*>& out) {
  for (const Node& info : root.children)
    if (info.key == L"StringFileInfo")
      for (const Node& table : info.children)
        for (const Node& s : table.children) out.push_back(&s);
}

std::string AnsiOf(const uint8_t* d, const Node& s) {
  std::wstring text;
  for (size_t i = 0; i + 1 < s.valueBytes; i += 2) {
    const uint16_t c = Get16(d, s.valueAt + i);
    if (!c) break;
    text += static_cast<wchar_t>(c);
  }
  return FromWide(text);
}

bool ReadBlock(LPCSTR path, std::vector<uint8_t>& block, DWORD& error) {
  if (!path) {
    error = ERROR_INVALID_PARAMETER;
    return false;
  }
  const ResolvedPath r = CurrentMachine().files().Resolve(path);
  std::error_code ec;
  if (!r.exists || std::filesystem::is_directory(r.hostPath, ec)) {
    error = r.exists ? ERROR_ACCESS_DENIED : (r.parentExists ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
    return false;
  }
  std::ifstream in(r.hostPath, std::ios::binary);
  std::vector<uint8_t> image((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  uint32_t e = 0;
  if (!FindVersionBlock(image, block, e)) {
    error = e;
    return false;
  }
  Node root;
  if (!Parse(block.data(), block.size(), 0, root, 0) || root.key != L"VS_VERSION_INFO") {
    error = ERROR_RESOURCE_DATA_NOT_FOUND;
    return false;
  }
  // A resource may be stored larger than its block (padding): the block is
  // what its own length says, so that the text copies follow right behind it
  // where VerQueryValueA looks for them.
  block.resize(root.end);
  return true;
}

std::vector<uint8_t> WithAnsi(const std::vector<uint8_t>& block) {
  Node root;
  Parse(block.data(), block.size(), 0, root, 0);
  std::vector<uint8_t> out(block);
  out.resize(Align(out.size()), 0);
  out.insert(out.end(), kAnsiMark, kAnsiMark + 4);
  std::vector<const Node*> strings;
  Strings(root, strings);
  for (const Node* s : strings) {
    const std::string a = AnsiOf(block.data(), *s);
    out.insert(out.end(), a.begin(), a.end());
    out.push_back(0);
  }
  return out;
}

}  // namespace
}  // namespace vqwin

using namespace vqwin;

extern "C" {

DWORD WINAPI GetFileVersionInfoSizeA(LPCSTR path, LPDWORD handle) {
  if (handle) *handle = 0;
  std::vector<uint8_t> block;
  DWORD error = 0;
  if (!ReadBlock(path, block, error)) {
    SetLastError(error);
    return 0;
  }
  return static_cast<DWORD>(WithAnsi(block).size());
}

BOOL WINAPI GetFileVersionInfoA(LPCSTR path, DWORD, DWORD len, LPVOID data) {
  if (!data || len == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::vector<uint8_t> block;
  DWORD error = 0;
  if (!ReadBlock(path, block, error)) {
    SetLastError(error);
    return FALSE;
  }
  const std::vector<uint8_t> full = WithAnsi(block);
  std::memset(data, 0, len);
  std::memcpy(data, full.data(), full.size() < len ? full.size() : len);
  return TRUE;
}

BOOL WINAPI VerQueryValueA(LPCVOID pBlock, LPCSTR lpSubBlock, LPVOID* lplpBuffer, PUINT puLen) {
  if (!pBlock || !lpSubBlock || !lplpBuffer) return FALSE;
  const auto* d = static_cast<const uint8_t*>(pBlock);
  const size_t size = Get16(d, 0);
  Node root;
  if (!Parse(d, size, 0, root, 0)) return FALSE;
  std::vector<std::wstring> parts;
  std::string part;
  for (const char* p = lpSubBlock;; ++p) {
    if (*p == '\\' || *p == 0) {
      if (!part.empty()) parts.push_back(ToWide(part));
      part.clear();
      if (!*p) break;
    } else {
      part += *p;
    }
  }
  auto same = [](const std::wstring& a, const std::wstring& b) {
    return EqualNoCase(Utf8FromWide(a), Utf8FromWide(b));
  };
  const Node* node = &root;
  for (const std::wstring& name : parts) {
    const Node* next = nullptr;
    for (const Node& child : node->children)
      if (same(child.key, name)) next = &child;
    if (!next) return FALSE;
    node = next;
  }
  if (node->valueBytes == 0) return FALSE;
  if (node == &root || node->type != 1) {
    *lplpBuffer = const_cast<uint8_t*>(d + node->valueAt);
    if (puLen) *puLen = static_cast<UINT>(node->valueBytes);
    return TRUE;
  }
  // A text value: its ANSI copy after the block.
  std::vector<const Node*> strings;
  Strings(root, strings);
  size_t index = 0;
  while (index < strings.size() && strings[index] != node) ++index;
  if (index == strings.size()) return FALSE;
  const uint8_t* a = d + Align(size);
  if (std::memcmp(a, kAnsiMark, 4) != 0) return FALSE;
  a += 4;
  for (size_t i = 0; i < index; ++i) a += std::strlen(reinterpret_cast<const char*>(a)) + 1;
  *lplpBuffer = const_cast<uint8_t*>(a);
  if (puLen) *puLen = static_cast<UINT>(std::strlen(reinterpret_cast<const char*>(a)) + 1);
  return TRUE;
}

}  // extern "C"
