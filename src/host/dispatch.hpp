#pragma once
// What each message asks for, and the reply it gets.
#include "host/deliver.hpp"
#include "host/message.hpp"
#include "host/reply.hpp"

namespace nm::host {

// What one parsed message is answered with. Reads the data directory's files
// afresh, records the extension's version and may ask the application.
Reply dispatch(Message message, const DeliverSettings& to_app);

}  // namespace nm::host
