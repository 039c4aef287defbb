// Mach ports as far as the IOKit master port needs them.
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

typedef int kern_return_t;
typedef unsigned int mach_port_t;
typedef mach_port_t ipc_space_t;

#define KERN_SUCCESS 0
#define KERN_INVALID_ARGUMENT 4
#define MACH_PORT_NULL ((mach_port_t)0)

mach_port_t mach_task_self(void);
kern_return_t mach_port_deallocate(ipc_space_t task, mach_port_t name);

#ifdef __cplusplus
}
#endif
