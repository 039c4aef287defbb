// IOKit user-space library: master port, service matching, iterators and
// object release, over the simulated USB devices of this machine.
#pragma once

#include <CoreFoundation/CoreFoundation.h>
#include <mach/mach.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef kern_return_t IOReturn;
typedef mach_port_t io_object_t;
typedef io_object_t io_service_t;
typedef io_object_t io_iterator_t;

#define IO_OBJECT_NULL ((io_object_t)0)
#define kIOMasterPortDefault ((mach_port_t)0)

#define kIOReturnSuccess KERN_SUCCESS
#define kIOReturnError ((IOReturn)0xE00002BC)
#define kIOReturnNoMemory ((IOReturn)0xE00002BD)
#define kIOReturnNoResources ((IOReturn)0xE00002BE)
#define kIOReturnNoDevice ((IOReturn)0xE00002C0)
#define kIOReturnBadArgument ((IOReturn)0xE00002C2)
#define kIOReturnExclusiveAccess ((IOReturn)0xE00002C5)
#define kIOReturnUnsupported ((IOReturn)0xE00002C7)
#define kIOReturnNotOpen ((IOReturn)0xE00002CD)
#define kIOReturnTimeout ((IOReturn)0xE00002D6)
#define kIOReturnAborted ((IOReturn)0xE00002EB)
#define kIOReturnNotResponding ((IOReturn)0xE00002ED)

kern_return_t IOMasterPort(mach_port_t bootstrapPort, mach_port_t* masterPort);

// A matching dictionary for services of the given class; the caller owns it.
CFMutableDictionaryRef IOServiceMatching(const char* name);

// Consumes one reference of `matching`.
kern_return_t IOServiceGetMatchingServices(mach_port_t masterPort, CFDictionaryRef matching,
                                           io_iterator_t* existing);

// The next object of the iterator (the caller releases it), or IO_OBJECT_NULL.
io_object_t IOIteratorNext(io_iterator_t iterator);

kern_return_t IOObjectRelease(io_object_t object);

#ifdef __cplusplus
}
#endif
