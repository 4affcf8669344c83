// The tools module shared by all drivers of the host: free functions by topic.
#ifndef TOOLS_H
#define TOOLS_H

#include "tools/bytesandbits.h"
#include "tools/checksums.h"
#include "tools/lookups.h"
#include "tools/packer.h"
#include "tools/segmentbuffer.h"
#include "tools/texts.h"
#include "tools/timing.h"
#include "tools/addresses.h"

#endif // TOOLS_H
