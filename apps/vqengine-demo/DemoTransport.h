// The engine's transport for the demo: bulk transfers to one in-process
// simulated reader.
#pragma once

#include "vqsim/UsbLink.h"

void DemoAttachReader(vqsim::UsbLink* link);
