#include "platform/FreedMemory.h"

// Any C library header says which library this is.
#include <cstdlib>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

void FreedMemory::ReturnToSystem()
{
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}
