#include "host/reply.hpp"

#include <algorithm>
#include <iterator>

#include "capture/decision.hpp"
#include "host/framing.hpp"
#include "json/writer.hpp"

namespace nm::host {

std::string_view why_word(Why why) {
  for (const auto& w : kWhyWords)
    if (w.why == why) return w.word;
  return "refused";
}

Reply success_reply() {
  Reply r;
  r.ok = true;
  return r;
}

Reply refused_reply(Why why, std::string error) {
  Reply r;
  r.why = why;
  r.error = std::move(error);
  return r;
}

Reply too_large_reply(uint64_t length) {
  return refused_reply(Why::too_large, "a message of " + std::to_string(length) + " bytes");
}

Reply rules_summary(const capture::CaptureRules& rules, std::string_view browser) {
  const auto gate = capture::browser_gate(rules, browser);
  Reply r;
  r.ok = true;
  r.version = std::string(kHostVersion);
  r.types = rules.auto_types;
  r.capture = !gate.has_value();
  r.excluded_sites = rules.excluded_sites;
  r.excluded_addresses = rules.excluded_addresses;
  r.opened = rules.capture_opened;
  r.min_kb = rules.capture_min_kb;
  if (gate) r.capture_off = std::string(capture::wire_word(*gate));
  return r;
}

Reply reply_for_outcome(const Outcome& outcome) {
  if (!outcome.why) return success_reply();
  return refused_reply(*outcome.why, outcome.text);
}

namespace {

// Absent fields of a reply are left out.
class ReplyWriter : public json::ObjectWriter {
 public:
  using ObjectWriter::ObjectWriter;
  void opt_text(std::string_view k, const std::optional<std::string>& v) {
    if (v) text(k, *v);
  }
  void opt_flag(std::string_view k, const std::optional<bool>& v) {
    if (v) flag(k, *v);
  }
};

}  // namespace

static std::string serialize_whole(const Reply& r) {
  std::string out;
  ReplyWriter w(out);
  w.flag("ok", r.ok);
  w.opt_text("error", r.error);
  if (r.why) w.text("why", why_word(*r.why));
  w.opt_text("version", r.version);
  w.opt_text("types", r.types);
  w.opt_flag("capture", r.capture);
  w.opt_text("excludedSites", r.excluded_sites);
  if (r.excluded_addresses) w.texts("excludedAddresses", *r.excluded_addresses);
  w.opt_flag("opened", r.opened);
  if (r.min_kb) w.uint("minKb", *r.min_kb);
  w.opt_text("captureOff", r.capture_off);
  w.opt_text("declined", r.declined);
  w.end();
  return out;
}

namespace {

constexpr std::string_view kCutMark = "\xE2\x80\xA6";  // …

// A rules summary over the limit has no error text to cut: it becomes a
// refusal that names the longest option by its downloads.json key. The
// options themselves still apply to every download.
Reply oversized_summary(const Reply& r, size_t size) {
  size_t addresses = 0;
  for (const auto& a : r.excluded_addresses.value_or(std::vector<std::string>{}))
    addresses += a.size() + 3;  // quotes and comma
  const std::pair<size_t, std::string_view> parts[] = {
      {r.types.value_or("").size(), "auto_types"},
      {r.excluded_sites.value_or("").size(), "excluded_sites"},
      {addresses, "excluded_addresses"}};
  const auto longest = std::max_element(parts, std::end(parts));
  return refused_reply(Why::too_large, "a rules summary of " + std::to_string(size) + " bytes: " +
                                           std::string(longest->second) + " is too long");
}

}  // namespace

// A browser takes at most 1 MiB in one message from its host and drops the
// whole connection on a longer one, losing every later message of the
// session. Only an error text grows that large (it may quote a string of the
// message, escaped twice over), so that text alone is cut to fit, at a
// character boundary and marked with a trailing "…". Every reply that fits
// is written as it is.
std::string serialize_reply(const Reply& r) {
  std::string out = serialize_whole(r);
  if (out.size() <= kMaxMessageBytes) return out;
  if (!r.error) return serialize_whole(oversized_summary(r, out.size()));
  std::string quoted;
  json::append_string(quoted, *r.error);
  // The reply without the error's characters (its quotes stay).
  const size_t others = out.size() - (quoted.size() - 2);
  // No reply of ours is so large but by its error; should one ever be, the
  // browser still gets an answer that it takes.
  if (others + kCutMark.size() > kMaxMessageBytes)
    return serialize_whole(
        refused_reply(Why::too_large, "a reply of " + std::to_string(out.size()) + " bytes"));
  Reply cut = r;
  cut.error =
      std::string(json::escaped_prefix(*r.error, kMaxMessageBytes - others - kCutMark.size())) +
      std::string(kCutMark);
  return serialize_whole(cut);
}

}  // namespace nm::host
