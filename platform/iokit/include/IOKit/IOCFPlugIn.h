// Plug-in interfaces: user-client objects reached through COM-style function
// tables. A reference is a pointer to a pointer to the table; every method
// takes that reference as its first argument.
#pragma once

#include <IOKit/IOKitLib.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef SInt32 HRESULT;
typedef CFUUIDBytes REFIID;

#define S_OK ((HRESULT)0)
#define E_NOINTERFACE ((HRESULT)0x80000004)

#define IUNKNOWN_C_GUTS                                                     \
  void* _reserved;                                                          \
  HRESULT (*QueryInterface)(void* thisPointer, REFIID iid, void** ppv);     \
  UInt32 (*AddRef)(void* thisPointer);                                      \
  UInt32 (*Release)(void* thisPointer)

typedef struct IOCFPlugInInterfaceStruct {
  IUNKNOWN_C_GUTS;
  UInt16 version;
  UInt16 revision;
} IOCFPlugInInterface;

#define kIOCFPlugInInterfaceID                                                        \
  CFUUIDGetConstantUUIDWithBytes(NULL, 0x76, 0x51, 0x10, 0x01, 0x4a, 0x2c, 0x4e, 0x0f, \
                                 0x9d, 0x01, 0x3c, 0x5e, 0x70, 0x10, 0x00, 0x01)

kern_return_t IOCreatePlugInInterfaceForService(io_service_t service, CFUUIDRef pluginType,
                                                CFUUIDRef interfaceType,
                                                IOCFPlugInInterface*** theInterface,
                                                SInt32* theScore);

kern_return_t IODestroyPlugInInterface(IOCFPlugInInterface** interface);

#ifdef __cplusplus
}
#endif
