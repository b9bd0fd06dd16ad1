#include "nmhost/reply.hpp"

#include "ipc/capture/decision.hpp"
#include "json/writer.hpp"

namespace nm::host {

namespace {

struct WhyWord {
  Why why;
  std::string_view word;
};
constexpr WhyWord kWhyWords[] = {
    {Why::too_large, "too-large"},
    {Why::refused, "refused"},
    {Why::options, "options"},
    {Why::not_running, "not-running"},
};

}  // namespace

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
  r.version = std::string(HOST_VERSION);
  r.types = rules.auto_types;
  r.capture = !gate.has_value();
  r.excludedSites = rules.excluded_sites;
  r.excludedAddresses = rules.excluded_addresses;
  r.opened = rules.capture_opened;
  r.minKb = rules.capture_min_kb;
  if (gate) r.captureOff = std::string(capture::wire_word(*gate));
  return r;
}

Reply reply_for_outcome(const Outcome& outcome) {
  switch (outcome.kind) {
    case Outcome::Kind::delivered: return success_reply();
    case Outcome::Kind::refused:
      return refused_reply(Why::refused, outcome.text);
    case Outcome::Kind::too_large:
      return refused_reply(Why::too_large, outcome.text);
    case Outcome::Kind::not_running:
      return refused_reply(Why::not_running, outcome.text);
  }
  return success_reply();
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

std::string serialize_reply(const Reply& r) {
  std::string out;
  ReplyWriter w(out);
  w.flag("ok", r.ok);
  w.opt_text("error", r.error);
  if (r.why) w.text("why", why_word(*r.why));
  w.opt_text("version", r.version);
  w.opt_text("types", r.types);
  w.opt_flag("capture", r.capture);
  w.opt_text("excludedSites", r.excludedSites);
  if (r.excludedAddresses) w.texts("excludedAddresses", *r.excludedAddresses);
  w.opt_flag("opened", r.opened);
  if (r.minKb) w.uint("minKb", *r.minKb);
  w.opt_text("captureOff", r.captureOff);
  w.opt_text("declined", r.declined);
  w.end();
  return out;
}

}  // namespace nm::host
