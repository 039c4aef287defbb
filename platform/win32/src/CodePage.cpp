// Code pages through glibc's iconv; wide strings are wchar_t (UTF-32 here).
#include "vqwin/CodePage.h"

#include <iconv.h>
#include <windows.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <vector>

#include "vqwin/Machine.h"

namespace vqwin {
namespace {

UINT Effective(UINT codePage) {
  Machine* m = CurrentMachineIfAny();
  switch (codePage) {
    case CP_ACP:
    case CP_THREAD_ACP:
    case CP_MACCP:
      return m ? m->spec().locale.ansiCodePage : 1252;
    case CP_OEMCP:
      return m ? m->spec().locale.oemCodePage : 437;
    default:
      return codePage;
  }
}

std::optional<std::string> IconvName(UINT codePage) {
  switch (codePage) {
    case 1252: return "CP1252";
    case 950: return "CP950";
    case 949: return "CP949";
    case 936: return "CP936";
    case 932: return "CP932";
    case 437: return "CP437";
    case 850: return "CP850";
    case 1250: return "CP1250";
    case 1251: return "CP1251";
    case 20127: return "ASCII";
    case 28591: return "ISO-8859-1";
    case CP_UTF8: return "UTF-8";
    default: return std::nullopt;
  }
}

struct Converted {
  std::vector<char> out;
  bool replaced = false;
};

// Converts `in`, putting `replacement` in place of each sequence that has no
// mapping (skipping `badStep` input bytes). nullopt when iconv can't open.
std::optional<Converted> Run(const char* from, const char* to, const char* in, size_t inLen,
                             const std::string& replacement, size_t badStep) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  Converted result;
  std::vector<char> buffer(4 * inLen + 16);
  char* src = const_cast<char*>(in);
  size_t left = inLen;
  while (left > 0) {
    char* dst = buffer.data();
    size_t room = buffer.size();
    const size_t rc = iconv(cd, &src, &left, &dst, &room);
    result.out.insert(result.out.end(), buffer.data(), dst);
    if (rc != static_cast<size_t>(-1)) break;
    if (errno == E2BIG) continue;
    // EILSEQ or EINVAL: no mapping, or a sequence cut short.
    result.replaced = true;
    result.out.insert(result.out.end(), replacement.begin(), replacement.end());
    const size_t step = left < badStep ? left : badStep;
    src += step;
    left -= step;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  iconv_close(cd);
  return result;
}

std::string WideQuestionMark() {
  const wchar_t q = L'?';
  return std::string(reinterpret_cast<const char*>(&q), sizeof q);
}

}  // namespace

bool IsLeadByte(unsigned char c, unsigned codePage) {
  switch (Effective(codePage)) {
    case 950:
    case 949:
    case 936:
      return c >= 0x81 && c <= 0xFE;
    case 932:
      return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
    default:
      return false;
  }
}

std::wstring ToWide(std::string_view bytes, unsigned codePage) {
  auto name = IconvName(Effective(codePage));
  if (!name || bytes.empty()) return {};
  auto r = Run(name->c_str(), "WCHAR_T", bytes.data(), bytes.size(), WideQuestionMark(), 1);
  if (!r) return {};
  return std::wstring(reinterpret_cast<const wchar_t*>(r->out.data()), r->out.size() / sizeof(wchar_t));
}

std::string FromWide(std::wstring_view text, unsigned codePage) {
  auto name = IconvName(Effective(codePage));
  if (!name || text.empty()) return {};
  auto r = Run("WCHAR_T", name->c_str(), reinterpret_cast<const char*>(text.data()),
               text.size() * sizeof(wchar_t), "?", sizeof(wchar_t));
  if (!r) return {};
  return std::string(r->out.begin(), r->out.end());
}

std::string Utf8FromWide(std::wstring_view text) { return FromWide(text, CP_UTF8); }
std::wstring WideFromUtf8(std::string_view utf8) { return ToWide(utf8, CP_UTF8); }
std::string ToUtf8(std::string_view bytes, unsigned codePage) {
  return Utf8FromWide(ToWide(bytes, codePage));
}
std::string FromUtf8(std::string_view utf8, unsigned codePage) {
  return FromWide(WideFromUtf8(utf8), codePage);
}

}  // namespace vqwin

using namespace vqwin;

extern "C" {

UINT WINAPI GetACP(void) { return Effective(CP_ACP); }
UINT WINAPI GetOEMCP(void) { return Effective(CP_OEMCP); }
BOOL WINAPI IsDBCSLeadByte(BYTE c) { return IsLeadByte(c, CP_ACP) ? TRUE : FALSE; }

int WINAPI MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR src, int cb, LPWSTR dst,
                               int cch) {
  auto name = IconvName(Effective(CodePage));
  if (!name || !src || cb == 0 || cch < 0 || (cch > 0 && !dst)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const size_t length = cb < 0 ? std::strlen(src) + 1 : static_cast<size_t>(cb);
  auto r = Run(name->c_str(), "WCHAR_T", src, length, WideQuestionMark(), 1);
  if (!r) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (r->replaced && (dwFlags & MB_ERR_INVALID_CHARS)) {
    SetLastError(ERROR_NO_UNICODE_TRANSLATION);
    return 0;
  }
  const int count = static_cast<int>(r->out.size() / sizeof(wchar_t));
  if (cch == 0) return count;
  if (count > cch) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(dst, r->out.data(), count * sizeof(wchar_t));
  return count;
}

int WINAPI WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR src, int cch, LPSTR dst, int cb,
                               LPCSTR lpDefaultChar, LPBOOL lpUsedDefaultChar) {
  const UINT cp = Effective(CodePage);
  auto name = IconvName(cp);
  if (!name || !src || cch == 0 || cb < 0 || (cb > 0 && !dst) ||
      (cp == CP_UTF8 && (lpDefaultChar || lpUsedDefaultChar))) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const size_t length = cch < 0 ? std::wcslen(src) + 1 : static_cast<size_t>(cch);
  const std::string replacement = lpDefaultChar ? std::string(lpDefaultChar) : std::string("?");
  auto r = Run("WCHAR_T", name->c_str(), reinterpret_cast<const char*>(src), length * sizeof(wchar_t),
               replacement, sizeof(wchar_t));
  if (!r) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (r->replaced && cp == CP_UTF8 && (dwFlags & WC_ERR_INVALID_CHARS)) {
    SetLastError(ERROR_NO_UNICODE_TRANSLATION);
    return 0;
  }
  if (lpUsedDefaultChar) *lpUsedDefaultChar = r->replaced ? TRUE : FALSE;
  const int count = static_cast<int>(r->out.size());
  if (cb == 0) return count;
  if (count > cb) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(dst, r->out.data(), count);
  return count;
}

}  // extern "C"
