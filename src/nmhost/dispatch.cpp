#include "nmhost/host_loop.hpp"

namespace nm::host {

Reply dispatch(Message message) {
  (void)message;
  return success_reply();
}

}  // namespace nm::host
