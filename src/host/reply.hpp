#pragma once
// The one record of every answer to the browser.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "capture/settings.hpp"
#include "host/deliver.hpp"
#include "host/version.hpp"
#include "host/why.hpp"

namespace nm::host {

struct Reply {
  bool ok = false;
  std::optional<std::string> error;
  std::optional<Why> why;
  std::optional<std::string> version;
  std::optional<std::string> types;
  std::optional<bool> capture;
  std::optional<std::string> excluded_sites;
  std::optional<std::vector<std::string>> excluded_addresses;
  std::optional<bool> opened;
  std::optional<uint64_t> min_kb;
  std::optional<std::string> capture_off;
  std::optional<std::string> declined;
};

Reply success_reply();
Reply refused_reply(Why why, std::string error);
// The answer to a frame over the size limit.
Reply too_large_reply(uint64_t length);

// The rules summary the extension asks for with "rules" or "hello".
Reply rules_summary(const capture::CaptureRules& rules, std::string_view browser);
// What the browser is told of an attempt to reach the application.
Reply reply_for_outcome(const Outcome& outcome);

// Compact JSON, keys in the record's order, absent fields left out. A reply
// over kMaxMessageBytes has its error text cut to fit, ending in "…".
std::string serialize_reply(const Reply& reply);

}  // namespace nm::host
