// How Windows' error codes are told apart. Free of the system's headers, so
// that the rule is tested on both targets; the numbers are Windows' own.
#include <cstdint>

#include "os/error.hpp"

namespace nm::os {

namespace {

enum : uint32_t {
  kFileNotFound = 2,
  kPathNotFound = 3,
  kAccessDenied = 5,
  kInvalidDrive = 15,
  kSharingViolation = 32,
  kLockViolation = 33,
  kBadNetPath = 53,
  kBadNetName = 67,
  kWaitTimeout = 258,
  kTimeout = 1460,
  kWsaTimedOut = 10060,
  kStatusDeletePending = 0xC0000056,
};

}  // namespace

ErrorKind windows_error_kind(uint32_t code, uint32_t nt_status) {
  switch (code) {
    case kFileNotFound:
    case kPathNotFound:
    case kInvalidDrive:
    case kBadNetPath:
    case kBadNetName: return ErrorKind::not_found;
    case kWsaTimedOut:
    case kTimeout:
    case kWaitTimeout: return ErrorKind::timed_out;
    case kSharingViolation:
    case kLockViolation: return ErrorKind::in_use;
    // A file deleted while another program still holds it open stays
    // "delete pending" until that program lets go (on FAT and exFAT, and
    // before Windows 10 1809); meanwhile opening or creating it is denied.
    case kAccessDenied:
      return nt_status == kStatusDeletePending ? ErrorKind::in_use : ErrorKind::other;
    default: return ErrorKind::other;
  }
}

}  // namespace nm::os
