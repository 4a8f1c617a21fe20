// Small records shared between processes: a file of fixed size mapped
// shared, zero-filled when it is created.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace qb {

// Maps `size` bytes of the file at `path` (created zero-filled when missing
// and `create` is set), calls `use` with the mapping and unmaps it again.
// False when the file cannot be opened or mapped.
bool WithMappedFile(const std::string& path, size_t size, bool create,
                    const std::function<void(uint8_t* bytes)>& use);

}  // namespace qb
