#pragma once
#include "host/message.hpp"
#include "ipc/request.hpp"

namespace nm::host {

// The request that asks the application to take a download over: empty
// texts, a zero size and a final address equal to the address dropped, the
// file name taken from the path, the proxy setup checked.
ipc::AppRequest download_request(Message message);

}  // namespace nm::host
