// StageAlloc/StageFree for native builds: the C heap. The stub has its own
// definitions over GlobalAlloc.
#include <stdlib.h>

#include "packed/stage_decoder.h"

void *StageAlloc(uint32_t size) { return malloc(size); }

void StageFree(void *block) { free(block); }
