// The numbers of the window messages that the companion programs and this
// program exchange. Only what another process sends travels as a message;
// calls inside the process are typed.
#pragma once

#include <cstdint>

namespace qb {

constexpr uint32_t WM_DESTROY = 0x0002;
constexpr uint32_t WM_CLOSE = 0x0010;
constexpr uint32_t WM_COMMAND = 0x0111;
constexpr uint32_t WM_USER = 0x0400;

}  // namespace qb
