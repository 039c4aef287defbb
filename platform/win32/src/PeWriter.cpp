#include "vqwin/PeWriter.h"

#include <winerror.h>

#include <cstdio>
#include <cstring>
#include <sstream>

#include "vqwin/CodePage.h"

namespace vqwin {
namespace {

void Put16(std::vector<uint8_t>& out, size_t at, uint16_t v) {
  out[at] = static_cast<uint8_t>(v);
  out[at + 1] = static_cast<uint8_t>(v >> 8);
}
void Put32(std::vector<uint8_t>& out, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
void Add16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
void Add32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void Align4(std::vector<uint8_t>& out) {
  while (out.size() % 4) out.push_back(0);
}

std::u16string Utf16(const std::string& utf8) {
  std::u16string out;
  for (wchar_t c : WideFromUtf8(utf8)) {
    const uint32_t u = static_cast<uint32_t>(c);
    if (u >= 0x10000) {
      out.push_back(static_cast<char16_t>(0xD800 + ((u - 0x10000) >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + ((u - 0x10000) & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(u));
    }
  }
  return out;
}

struct Node {
  std::u16string key;
  std::vector<uint8_t> value;
  uint16_t valueLength = 0;
  uint16_t type = 0;
  std::vector<Node> children;
};

void Write(const Node& node, std::vector<uint8_t>& out) {
  Align4(out);
  const size_t start = out.size();
  Add16(out, 0);
  Add16(out, node.valueLength);
  Add16(out, node.type);
  for (char16_t c : node.key) Add16(out, static_cast<uint16_t>(c));
  Add16(out, 0);
  Align4(out);
  out.insert(out.end(), node.value.begin(), node.value.end());
  for (const Node& child : node.children) Write(child, out);
  Put16(out, start, static_cast<uint16_t>(out.size() - start));
}

Node TextNode(const std::string& key, const std::string& value) {
  Node n;
  n.key = Utf16(key);
  n.type = 1;
  const std::u16string v = Utf16(value);
  for (char16_t c : v) Add16(n.value, static_cast<uint16_t>(c));
  Add16(n.value, 0);
  n.valueLength = static_cast<uint16_t>(v.size() + 1);
  return n;
}

uint32_t Get32(const std::vector<uint8_t>& d, size_t at) {
  return d[at] | d[at + 1] << 8 | d[at + 2] << 16 | static_cast<uint32_t>(d[at + 3]) << 24;
}
uint16_t Get16(const std::vector<uint8_t>& d, size_t at) {
  return static_cast<uint16_t>(d[at] | d[at + 1] << 8);
}

}  // namespace

std::optional<VersionResource> VersionResource::FromDotted(const std::string& fileVersion) {
  uint32_t parts[4] = {0, 0, 0, 0};
  int count = 0;
  std::string item;
  std::istringstream in(fileVersion);
  while (std::getline(in, item, '.')) {
    if (count == 4 || item.empty() || item.size() > 5 || item.find_first_not_of("0123456789") != std::string::npos)
      return std::nullopt;
    const unsigned long v = std::stoul(item);
    if (v > 0xFFFF) return std::nullopt;
    parts[count++] = static_cast<uint32_t>(v);
  }
  if (count == 0 || fileVersion.back() == '.') return std::nullopt;
  VersionResource r;
  r.fileVersionMS = r.productVersionMS = parts[0] << 16 | parts[1];
  r.fileVersionLS = r.productVersionLS = parts[2] << 16 | parts[3];
  char text[64];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", parts[0], parts[1], parts[2], parts[3]);
  r.strings = {{"FileVersion", text}, {"ProductVersion", text}};
  return r;
}

std::vector<uint8_t> BuildVersionBlock(const VersionResource& v) {
  Node root;
  root.key = u"VS_VERSION_INFO";
  root.valueLength = 52;
  const uint32_t fixed[13] = {0xFEEF04BDu, 0x00010000u, v.fileVersionMS, v.fileVersionLS,
                              v.productVersionMS, v.productVersionLS, 0x3F, 0, 0x00040004u,
                              v.fileType, v.fileType == 3 ? 7u : 0u, 0, 0};
  for (uint32_t f : fixed) Add32(root.value, f);

  Node table;
  char key[16];
  std::snprintf(key, sizeof key, "%04X%04X", v.language, v.codePage);
  table.key = Utf16(key);
  table.type = 1;
  for (const auto& [name, value] : v.strings) table.children.push_back(TextNode(name, value));
  Node stringInfo;
  stringInfo.key = u"StringFileInfo";
  stringInfo.type = 1;
  stringInfo.children.push_back(table);
  root.children.push_back(stringInfo);

  Node translation;
  translation.key = u"Translation";
  Add16(translation.value, v.language);
  Add16(translation.value, v.codePage);
  translation.valueLength = 4;
  Node varInfo;
  varInfo.key = u"VarFileInfo";
  varInfo.type = 1;
  varInfo.children.push_back(translation);
  root.children.push_back(varInfo);

  std::vector<uint8_t> out;
  Write(root, out);
  return out;
}

std::vector<uint8_t> BuildPe(const std::optional<VersionResource>& version, const PeOptions& options) {
  const uint32_t kLfanew = 0x80, kFileAlign = 0x200, kSectionAlign = 0x1000, kRsrcRva = 0x1000;
  std::vector<uint8_t> rsrc;
  if (version) {
    const std::vector<uint8_t> block = BuildVersionBlock(*version);
    rsrc.assign(0x58, 0);
    // Root directory: one id entry, RT_VERSION (16).
    Put16(rsrc, 14, 1);
    Put32(rsrc, 16, 16);
    Put32(rsrc, 20, 0x80000000u | 0x18);
    // Name level: id 1.
    Put16(rsrc, 0x18 + 14, 1);
    Put32(rsrc, 0x18 + 16, 1);
    Put32(rsrc, 0x18 + 20, 0x80000000u | 0x30);
    // Language level.
    Put16(rsrc, 0x30 + 14, 1);
    Put32(rsrc, 0x30 + 16, version->language);
    Put32(rsrc, 0x30 + 20, 0x48);
    // Data entry.
    Put32(rsrc, 0x48, kRsrcRva + 0x58);
    Put32(rsrc, 0x4C, static_cast<uint32_t>(block.size()));
    rsrc.insert(rsrc.end(), block.begin(), block.end());
  }
  const uint32_t rawSize = static_cast<uint32_t>((rsrc.size() + kFileAlign - 1) / kFileAlign * kFileAlign);
  const uint16_t optionalSize = options.pe32Plus ? 240 : 224;
  const uint16_t sections = rsrc.empty() ? 0 : 1;

  std::vector<uint8_t> out(kFileAlign, 0);
  out[0] = 'M';
  out[1] = 'Z';
  Put32(out, 0x3C, kLfanew);
  std::memcpy(&out[kLfanew], "PE\0\0", 4);
  size_t at = kLfanew + 4;
  Put16(out, at, options.machine);
  Put16(out, at + 2, sections);
  Put16(out, at + 16, optionalSize);
  Put16(out, at + 18, options.pe32Plus ? 0x0022 : 0x0102);
  at += 20;
  const size_t opt = at;
  Put16(out, opt, options.pe32Plus ? 0x20B : 0x10B);
  out[opt + 2] = 6;  // linker version
  Put32(out, opt + 8, rawSize);  // SizeOfInitializedData
  if (options.pe32Plus) {
    Put32(out, opt + 24, 0x00010000);  // ImageBase (low part)
  } else {
    Put32(out, opt + 28, 0x00010000);  // ImageBase
  }
  Put32(out, opt + 32, kSectionAlign);
  Put32(out, opt + 36, kFileAlign);
  Put16(out, opt + 40, 5);  // OS version 5.0
  Put16(out, opt + 48, 5);  // subsystem version 5.0
  const uint32_t imageSize = kSectionAlign + (sections ? (rawSize + kSectionAlign - 1) / kSectionAlign * kSectionAlign : 0);
  Put32(out, opt + 56, imageSize);
  Put32(out, opt + 60, kFileAlign);  // SizeOfHeaders
  Put16(out, opt + 68, 1);           // subsystem: native
  const size_t dirs = opt + (options.pe32Plus ? 112 : 96);
  Put32(out, dirs - 4, 16);          // NumberOfRvaAndSizes
  if (sections) {
    Put32(out, dirs + 2 * 8, kRsrcRva);
    Put32(out, dirs + 2 * 8 + 4, static_cast<uint32_t>(rsrc.size()));
    const size_t sh = opt + optionalSize;
    std::memcpy(&out[sh], ".rsrc\0\0\0", 8);
    Put32(out, sh + 8, static_cast<uint32_t>(rsrc.size()));
    Put32(out, sh + 12, kRsrcRva);
    Put32(out, sh + 16, rawSize);
    Put32(out, sh + 20, kFileAlign);
    Put32(out, sh + 36, 0x40000040u);
    rsrc.resize(rawSize, 0);
    out.insert(out.end(), rsrc.begin(), rsrc.end());
  }
  return out;
}

bool FindVersionBlock(const std::vector<uint8_t>& d, std::vector<uint8_t>& block, uint32_t& error) {
  error = ERROR_BAD_EXE_FORMAT;
  auto fits = [&](uint64_t at, uint64_t n) { return at <= d.size() && n <= d.size() - at; };
  if (!fits(0, 0x40) || d[0] != 'M' || d[1] != 'Z') return false;
  const uint32_t pe = Get32(d, 0x3C);
  if (!fits(pe, 24) || std::memcmp(&d[pe], "PE\0\0", 4) != 0) return false;
  const uint16_t sections = Get16(d, pe + 6);
  const uint16_t optionalSize = Get16(d, pe + 20);
  const uint64_t opt = pe + 24;
  if (!fits(opt, optionalSize) || optionalSize < 2) return false;
  const uint16_t magic = Get16(d, opt);
  const uint64_t dirs = opt + (magic == 0x20B ? 112 : magic == 0x10B ? 96 : 0);
  if (dirs == opt || dirs > opt + optionalSize) return false;
  error = ERROR_RESOURCE_DATA_NOT_FOUND;
  if (!fits(dirs - 4, 4) || Get32(d, dirs - 4) < 3 || dirs + 3 * 8 > opt + optionalSize) return false;
  const uint32_t rsrcRva = Get32(d, dirs + 16);
  if (rsrcRva == 0) return false;
  const uint64_t table = opt + optionalSize;
  // RVA to file offset through the section table.
  auto offsetOf = [&](uint32_t rva, uint64_t& offset) {
    for (uint16_t i = 0; i < sections; ++i) {
      const uint64_t sh = table + 40ull * i;
      if (!fits(sh, 40)) return false;
      const uint32_t va = Get32(d, sh + 12), vsize = Get32(d, sh + 8), raw = Get32(d, sh + 16),
                     ptr = Get32(d, sh + 20);
      const uint32_t span = vsize > raw ? vsize : raw;
      if (rva >= va && rva - va < span) {
        offset = static_cast<uint64_t>(ptr) + (rva - va);
        return true;
      }
    }
    return false;
  };
  uint64_t base;
  if (!offsetOf(rsrcRva, base)) return false;
  // Walks one directory level; returns the entry's target (offset in the section).
  auto entry = [&](uint64_t dirOffset, bool wantId, uint32_t id, uint32_t& target) {
    const uint64_t dir = base + dirOffset;
    if (!fits(dir, 16)) return false;
    const uint32_t count = Get16(d, dir + 12) + Get16(d, dir + 14);
    for (uint32_t i = 0; i < count; ++i) {
      const uint64_t e = dir + 16 + 8ull * i;
      if (!fits(e, 8)) return false;
      const uint32_t name = Get32(d, e);
      if (!wantId || (!(name & 0x80000000u) && name == id)) {
        target = Get32(d, e + 4);
        return true;
      }
    }
    return false;
  };
  uint32_t t = 0;
  if (!entry(0, true, 16, t) || !(t & 0x80000000u)) {
    error = ERROR_RESOURCE_TYPE_NOT_FOUND;
    return false;
  }
  error = ERROR_RESOURCE_NAME_NOT_FOUND;
  if (!entry(t & 0x7FFFFFFFu, false, 0, t) || !(t & 0x80000000u)) return false;
  if (!entry(t & 0x7FFFFFFFu, false, 0, t) || (t & 0x80000000u)) return false;
  const uint64_t dataEntry = base + t;
  if (!fits(dataEntry, 16)) return false;
  const uint32_t dataRva = Get32(d, dataEntry), size = Get32(d, dataEntry + 4);
  uint64_t data;
  if (!offsetOf(dataRva, data) || !fits(data, size) || size < 6) return false;
  block.assign(d.begin() + static_cast<long>(data), d.begin() + static_cast<long>(data + size));
  error = 0;
  return true;
}

}  // namespace vqwin
