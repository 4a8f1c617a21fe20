#include "app/process_state.h"

namespace qb {

ProcessState& Process() {
  static ProcessState state;
  return state;
}

}  // namespace qb
