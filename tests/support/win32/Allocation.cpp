#include "support/Allocation.h"

#include <malloc.h>

namespace tarven::test {

std::size_t allocationSize(void* block) {
    return ::_msize(block);
}

}  // namespace tarven::test
