#include "nmhost/reply.hpp"

#include "ipc/capture/decision.hpp"
#include "json/writer.hpp"

namespace nm::host {

Reply success_reply() {
  Reply r;
  r.ok = true;
  return r;
}

Reply refused_reply(std::string_view why, std::string error) {
  Reply r;
  r.why = std::string(why);
  r.error = std::move(error);
  return r;
}

Reply too_large_reply(uint64_t length) {
  return refused_reply("too-large", "a message of " + std::to_string(length) + " bytes");
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
    case Outcome::Kind::refused: return refused_reply(outcome.why, outcome.text);
    case Outcome::Kind::not_running: return refused_reply("not-running", outcome.text);
  }
  return success_reply();
}

namespace {

struct ObjectWriter {
  std::string out = "{";
  void key(std::string_view k) {
    if (out.size() > 1) out += ',';
    json::append_string(out, k);
    out += ':';
  }
  void text(std::string_view k, const std::optional<std::string>& v) {
    if (!v) return;
    key(k);
    json::append_string(out, *v);
  }
  void flag(std::string_view k, const std::optional<bool>& v) {
    if (!v) return;
    key(k);
    out += *v ? "true" : "false";
  }
};

}  // namespace

std::string serialize_reply(const Reply& r) {
  ObjectWriter w;
  w.flag("ok", r.ok);
  w.text("error", r.error);
  w.text("why", r.why);
  w.text("version", r.version);
  w.text("types", r.types);
  w.flag("capture", r.capture);
  w.text("excludedSites", r.excludedSites);
  if (r.excludedAddresses) {
    w.key("excludedAddresses");
    w.out += '[';
    for (size_t i = 0; i < r.excludedAddresses->size(); ++i) {
      if (i) w.out += ',';
      json::append_string(w.out, (*r.excludedAddresses)[i]);
    }
    w.out += ']';
  }
  w.flag("opened", r.opened);
  if (r.minKb) {
    w.key("minKb");
    json::append_uint(w.out, *r.minKb);
  }
  w.text("captureOff", r.captureOff);
  w.text("declined", r.declined);
  w.out += '}';
  return std::move(w.out);
}

}  // namespace nm::host
