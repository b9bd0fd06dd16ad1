#include "nmhost/message.hpp"

#include <array>
#include <limits>

#include "json/reader.hpp"

namespace nm::host {

namespace {

using json::Cursor;
using json::RecordSpec;

constexpr uint64_t kU64Max = std::numeric_limits<uint64_t>::max();

constexpr std::array<std::string_view, 7> kCookieFields = {
    "name", "value", "domain", "host_only", "path", "secure", "expires"};
constexpr std::array<RecordSpec::Key, 9> kCookieKeys = {{{"name", 0},
                                                         {"value", 1},
                                                         {"domain", 2},
                                                         {"host_only", 3},
                                                         {"hostOnly", 3},
                                                         {"path", 4},
                                                         {"secure", 5},
                                                         {"expires", 6},
                                                         {"expirationDate", 6}}};
constexpr RecordSpec kCookieSpec{"struct BrowserCookie", kCookieFields, kCookieKeys};

bool read_cookie(Cursor& c, ipc::BrowserCookie& k) {
  return c.read_record(kCookieSpec, [&](Cursor& c, size_t f) {
    switch (f) {
      case 0: return c.read_string(k.name);
      case 1: return c.read_string(k.value);
      case 2: return c.read_string(k.domain);
      case 3: return c.read_bool(k.host_only);
      case 4: return c.read_string(k.path);
      case 5: return c.read_bool(k.secure);
      default: return c.read_opt_f64(k.expires);
    }
  });
}

constexpr std::array<std::string_view, 3> kNoticeFields = {"why", "site", "name"};
constexpr std::array<RecordSpec::Key, 3> kNoticeKeys = {{{"why", 0}, {"site", 1}, {"name", 2}}};
constexpr RecordSpec kNoticeSpec{"struct Notice", kNoticeFields, kNoticeKeys};

bool read_notice(Cursor& c, std::optional<Notice>& out) {
  if (c.peek_null()) {
    out.reset();
    return c.skip();
  }
  Notice n;
  if (!c.read_record(kNoticeSpec, [&](Cursor& c, size_t f) {
        switch (f) {
          case 0: return c.read_string(n.why);
          case 1: return c.read_string(n.site);
          default: return c.read_string(n.name);
        }
      }))
    return false;
  out = std::move(n);
  return true;
}

bool read_strings(Cursor& c, std::vector<std::string>& out) {
  return c.read_seq([&](Cursor& c) { return c.read_string(out.emplace_back()); });
}

// Keys in the declared order of the record; the position is the field index.
constexpr std::array<std::string_view, 31> kMessageFields = {
    "rules",      "hello",   "v",         "url",      "referrer",   "cookies",  "cookieJar",
    "userAgent",  "brands",  "filename",  "finalUrl", "size",       "mime",     "post",
    "postType",   "private", "proxy",     "proxyPac", "proxyLogin", "explicit", "panel",
    "video",      "src",     "title",     "hideSite", "openOptions", "page",    "links",
    "excludeSite", "open",   "declined"};

constexpr auto make_keys() {
  std::array<RecordSpec::Key, kMessageFields.size()> keys{};
  for (size_t i = 0; i < keys.size(); ++i) keys[i] = {kMessageFields[i], i};
  return keys;
}
constexpr auto kMessageKeys = make_keys();
constexpr RecordSpec kMessageSpec{"struct Message", kMessageFields, kMessageKeys};

bool read_field(Cursor& c, size_t f, Message& m) {
  switch (f) {
    case 0: return c.read_bool(m.rules);
    case 1: return c.read_bool(m.hello);
    case 2: return c.read_opt_string(m.v);
    case 3: return c.read_string(m.url);
    case 4: return c.read_opt_string(m.referrer);
    case 5: return c.read_opt_string(m.cookies);
    case 6: return c.read_seq([&](Cursor& c) { return read_cookie(c, m.cookieJar.emplace_back()); });
    case 7: return c.read_opt_string(m.userAgent);
    case 8: return read_strings(c, m.brands);
    case 9: return c.read_opt_string(m.filename);
    case 10: return c.read_opt_string(m.finalUrl);
    case 11: return c.read_opt_uint(m.size, kU64Max, "u64");
    case 12: return c.read_opt_string(m.mime);
    case 13: return c.read_opt_string(m.post);
    case 14: return c.read_opt_string(m.postType);
    case 15: return c.read_bool(m.private_);
    case 16: return c.read_opt_string(m.proxy);
    case 17: return c.read_opt_string(m.proxyPac);
    case 18: return c.read_bool(m.proxyLogin);
    case 19: return c.read_bool(m.explicit_);
    case 20: return c.read_bool(m.panel);
    case 21: return c.read_bool(m.video);
    case 22: return c.read_opt_string(m.src);
    case 23: return c.read_opt_string(m.title);
    case 24: return c.read_opt_string(m.hideSite);
    case 25: return c.read_bool(m.openOptions);
    case 26: return c.read_opt_string(m.page);
    case 27: return read_strings(c, m.links);
    case 28: return c.read_opt_string(m.excludeSite);
    case 29: return c.read_bool(m.open);
    default: return read_notice(c, m.declined);
  }
}

}  // namespace

Result<Message> parse_message(std::string_view body) {
  Message m;
  if (auto err = json::read_document(body, kMessageSpec,
                                     [&](Cursor& c, size_t f) { return read_field(c, f, m); }))
    return Error{std::move(*err)};
  return m;
}

}  // namespace nm::host
