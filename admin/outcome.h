// The answer of an administrative check or change: done, or refused with
// the reason and, where there is one, what a person can do about it.
#pragma once

#include <string>

namespace qb {

enum class Refusal {
  kNone,
  kInvalid,       // a value the receiver would trip on
  kNotPermitted,  // this account may not change the file
  kNotListed,     // no destination of that number
  kListed,        // the number is taken already
  kFailed,        // the file could not be read or written
};

struct Outcome {
  Refusal refusal = Refusal::kNone;
  std::string reason;
  std::string fix;  // a command or step that would make it work; may be empty

  bool ok() const { return refusal == Refusal::kNone; }
  static Outcome Done() { return {}; }
  static Outcome Refused(Refusal refusal, std::string reason, std::string fix = {}) {
    return {refusal, std::move(reason), std::move(fix)};
  }
};

}  // namespace qb
