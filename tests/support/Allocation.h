#pragma once

#include <cstddef>

namespace tarven::test {

// How many bytes the allocator set aside for a block that malloc or realloc gave.
std::size_t allocationSize(void* block);

}  // namespace tarven::test
