#include "support/Allocation.h"

#include <malloc.h>

namespace tarven::test {

std::size_t allocationSize(void* block) {
    return ::malloc_usable_size(block);
}

}  // namespace tarven::test
