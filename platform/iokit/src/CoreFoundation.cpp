#include <CoreFoundation/CoreFoundation.h>

#include <cstring>
#include <map>
#include <mutex>

#include "Internal.h"

namespace vqiokit::detail {

std::atomic<long>& LiveCount() {
  static std::atomic<long> count{0};
  return count;
}

CfObject::CfObject(Kind k, bool isConstant) : kind(k), constant(isConstant) {
  if (!constant) ++LiveCount();
}

CfObject::~CfObject() {
  if (!constant) --LiveCount();
}

CfDictionary::~CfDictionary() {
  for (auto& [key, value] : entries) {
    CFRelease(key);
    CFRelease(value);
  }
}

bool SameUuid(const CFUUIDBytes& a, const CFUUIDBytes& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

const CfObject* AsCf(CFTypeRef ref) { return static_cast<const CfObject*>(ref); }

namespace {

bool SameKey(const CfObject* a, const CfObject* b) {
  if (a == b) return true;
  if (a->kind != b->kind) return false;
  if (a->kind == CfObject::Kind::String)
    return static_cast<const CfString*>(a)->text == static_cast<const CfString*>(b)->text;
  if (a->kind == CfObject::Kind::Number)
    return static_cast<const CfNumber*>(a)->value == static_cast<const CfNumber*>(b)->value;
  return false;
}

std::mutex& ConstantsMutex() {
  static std::mutex m;
  return m;
}

}  // namespace
}  // namespace vqiokit::detail

using namespace vqiokit::detail;

extern "C" {

CFTypeRef CFRetain(CFTypeRef cf) {
  if (cf) ++const_cast<CfObject*>(AsCf(cf))->refs;
  return cf;
}

void CFRelease(CFTypeRef cf) {
  if (!cf) return;
  auto* object = const_cast<CfObject*>(AsCf(cf));
  if (object->constant) return;
  if (--object->refs == 0) delete object;
}

CFStringRef __CFStringMakeConstantString(const char* cStr) {
  static auto* strings = new std::map<std::string, CfString*>;  // lives with the process
  std::lock_guard lock(ConstantsMutex());
  auto& slot = (*strings)[cStr ? cStr : ""];
  if (!slot) slot = new CfString(cStr ? cStr : "");
  return reinterpret_cast<CFStringRef>(static_cast<CfObject*>(slot));
}

CFNumberRef CFNumberCreate(CFAllocatorRef, CFNumberType theType, const void* valuePtr) {
  if (!valuePtr) return nullptr;
  int64_t value;
  switch (theType) {
    case kCFNumberSInt8Type: value = *static_cast<const int8_t*>(valuePtr); break;
    case kCFNumberSInt16Type: value = *static_cast<const int16_t*>(valuePtr); break;
    case kCFNumberSInt32Type: value = *static_cast<const int32_t*>(valuePtr); break;
    case kCFNumberSInt64Type: value = *static_cast<const int64_t*>(valuePtr); break;
    default: return nullptr;
  }
  return reinterpret_cast<CFNumberRef>(static_cast<CfObject*>(new CfNumber(value)));
}

Boolean CFNumberGetValue(CFNumberRef number, CFNumberType theType, void* valuePtr) {
  const CfObject* object = AsCf(number);
  if (!object || object->kind != CfObject::Kind::Number || !valuePtr) return 0;
  int64_t value = static_cast<const CfNumber*>(object)->value;
  switch (theType) {
    case kCFNumberSInt8Type: *static_cast<int8_t*>(valuePtr) = static_cast<int8_t>(value); break;
    case kCFNumberSInt16Type: *static_cast<int16_t*>(valuePtr) = static_cast<int16_t>(value); break;
    case kCFNumberSInt32Type: *static_cast<int32_t*>(valuePtr) = static_cast<int32_t>(value); break;
    case kCFNumberSInt64Type: *static_cast<int64_t*>(valuePtr) = value; break;
    default: return 0;
  }
  return 1;
}

void CFDictionarySetValue(CFMutableDictionaryRef theDict, const void* key, const void* value) {
  auto* dict = const_cast<CfObject*>(AsCf(theDict));
  if (!dict || dict->kind != CfObject::Kind::Dictionary || !key || !value) return;
  auto& entries = static_cast<CfDictionary*>(dict)->entries;
  CFRetain(key);
  CFRetain(value);
  for (auto& entry : entries) {
    if (SameKey(entry.first, AsCf(key))) {
      CFRelease(entry.first);
      CFRelease(entry.second);
      entry = {AsCf(key), AsCf(value)};
      return;
    }
  }
  entries.emplace_back(AsCf(key), AsCf(value));
}

const void* CFDictionaryGetValue(CFDictionaryRef theDict, const void* key) {
  const CfObject* dict = AsCf(theDict);
  if (!dict || dict->kind != CfObject::Kind::Dictionary || !key) return nullptr;
  for (auto& entry : static_cast<const CfDictionary*>(dict)->entries)
    if (SameKey(entry.first, AsCf(key))) return entry.second;
  return nullptr;
}

CFUUIDRef CFUUIDGetConstantUUIDWithBytes(CFAllocatorRef, UInt8 b0, UInt8 b1, UInt8 b2,
                                         UInt8 b3, UInt8 b4, UInt8 b5, UInt8 b6, UInt8 b7,
                                         UInt8 b8, UInt8 b9, UInt8 b10, UInt8 b11, UInt8 b12,
                                         UInt8 b13, UInt8 b14, UInt8 b15) {
  static auto* uuids = new std::vector<CfUuid*>;  // lives with the process
  CFUUIDBytes bytes{b0, b1, b2, b3, b4, b5, b6, b7, b8, b9, b10, b11, b12, b13, b14, b15};
  std::lock_guard lock(ConstantsMutex());
  for (CfUuid* uuid : *uuids)
    if (SameUuid(uuid->bytes, bytes))
      return reinterpret_cast<CFUUIDRef>(static_cast<CfObject*>(uuid));
  uuids->push_back(new CfUuid(bytes));
  return reinterpret_cast<CFUUIDRef>(static_cast<CfObject*>(uuids->back()));
}

CFUUIDBytes CFUUIDGetUUIDBytes(CFUUIDRef uuid) {
  const CfObject* object = AsCf(uuid);
  if (!object || object->kind != CfObject::Kind::Uuid) return CFUUIDBytes{};
  return static_cast<const CfUuid*>(object)->bytes;
}

}  // extern "C"
