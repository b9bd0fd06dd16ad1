#include "host/message.hpp"

#include <algorithm>
#include <array>
#include <limits>

#include "json/reader.hpp"

namespace nm::host {

namespace {

using json::Cursor;
using json::RecordLayout;

constexpr uint64_t kU64Max = std::numeric_limits<uint64_t>::max();

// The request line's keys, and the browser's spelling of two of them.
constexpr auto kCookieKeys = [] {
  constexpr size_t n = ipc::kCookieFields.size();
  const auto own = json::keys_by_name(ipc::kCookieFields);
  std::array<RecordLayout::Key, n + 2> keys{};
  std::copy(own.begin(), own.end(), keys.begin());
  keys[n] = {"hostOnly", ipc::kCookieHostOnly};
  keys[n + 1] = {"expirationDate", ipc::kCookieExpires};
  return keys;
}();
constexpr RecordLayout kCookieLayout{"struct BrowserCookie", ipc::kCookieFields, kCookieKeys};

bool read_cookie(Cursor& c, ipc::BrowserCookie& k) {
  return c.read_record(kCookieLayout, [&](Cursor& c, size_t f) {
    switch (f) {
      case ipc::kCookieName: return c.read_string(k.name);
      case ipc::kCookieValue: return c.read_string(k.value);
      case ipc::kCookieDomain: return c.read_string(k.domain);
      case ipc::kCookieHostOnly: return c.read_bool(k.host_only);
      case ipc::kCookiePath: return c.read_string(k.path);
      case ipc::kCookieSecure: return c.read_bool(k.secure);
      case ipc::kCookieExpires: return c.read_opt_f64(k.expires);
    }
    return c.skip();
  });
}

enum NoticeField : size_t { kNoticeWhy, kNoticeSite, kNoticeName };

constexpr std::array<std::string_view, 3> kNoticeFields = {"why", "site", "name"};
constexpr std::array<RecordLayout::Key, 3> kNoticeKeys = {
    {{"why", kNoticeWhy}, {"site", kNoticeSite}, {"name", kNoticeName}}};
constexpr RecordLayout kNoticeLayout{"struct Notice", kNoticeFields, kNoticeKeys};

bool read_notice(Cursor& c, std::optional<Notice>& out) {
  if (c.peek_null()) {
    out.reset();
    return c.skip();
  }
  Notice n;
  if (!c.read_record(kNoticeLayout, [&](Cursor& c, size_t f) {
        switch (f) {
          case kNoticeWhy: return c.read_string(n.why);
          case kNoticeSite: return c.read_string(n.site);
          case kNoticeName: return c.read_string(n.name);
        }
        return c.skip();
      }))
    return false;
  out = std::move(n);
  return true;
}

// The fields in the declared order of the record.
enum MessageField : size_t {
  kRules,
  kHello,
  kV,
  kUrl,
  kReferrer,
  kCookies,
  kCookieJar,
  kUserAgent,
  kBrands,
  kFilename,
  kFinalUrl,
  kSize,
  kMime,
  kPost,
  kPostType,
  kPrivate,
  kProxy,
  kProxyPac,
  kProxyLogin,
  kExplicit,
  kPanel,
  kVideo,
  kSrc,
  kTitle,
  kHideSite,
  kOpenOptions,
  kPage,
  kLinks,
  kExcludeSite,
  kOpen,
  kDeclined,
};

// Keys by field; the position is the field.
constexpr std::array<std::string_view, 31> kMessageFields = {
    "rules",       "hello",   "v",        "url",      "referrer",    "cookies",  "cookieJar",
    "userAgent",   "brands",  "filename", "finalUrl", "size",        "mime",     "post",
    "postType",    "private", "proxy",    "proxyPac", "proxyLogin",  "explicit", "panel",
    "video",       "src",     "title",    "hideSite", "openOptions", "page",     "links",
    "excludeSite", "open",    "declined"};
static_assert(kMessageFields.size() == kDeclined + 1);

constexpr auto kMessageKeys = json::keys_by_name(kMessageFields);
constexpr RecordLayout kMessageLayout{"struct Message", kMessageFields, kMessageKeys};

bool read_field(Cursor& c, size_t f, Message& m) {
  switch (f) {
    case kRules: return c.read_bool(m.rules);
    case kHello: return c.read_bool(m.hello);
    case kV: return c.read_opt_string(m.v);
    case kUrl: return c.read_string(m.url);
    case kReferrer: return c.read_opt_string(m.referrer);
    case kCookies: return c.read_opt_string(m.cookies);
    case kCookieJar:
      return c.read_seq([&](Cursor& c) { return read_cookie(c, m.cookie_jar.emplace_back()); });
    case kUserAgent: return c.read_opt_string(m.user_agent);
    case kBrands: return c.read_strings(m.brands);
    case kFilename: return c.read_opt_string(m.filename);
    case kFinalUrl: return c.read_opt_string(m.final_url);
    case kSize: return c.read_opt_uint(m.size, kU64Max, "u64");
    case kMime: return c.read_opt_string(m.mime);
    case kPost: return c.read_opt_string(m.post);
    case kPostType: return c.read_opt_string(m.post_type);
    case kPrivate: return c.read_bool(m.private_);
    case kProxy: return c.read_opt_string(m.proxy);
    case kProxyPac: return c.read_opt_string(m.proxy_pac);
    case kProxyLogin: return c.read_bool(m.proxy_login);
    case kExplicit: return c.read_bool(m.explicit_);
    case kPanel: return c.read_bool(m.panel);
    case kVideo: return c.read_bool(m.video);
    case kSrc: return c.read_opt_string(m.src);
    case kTitle: return c.read_opt_string(m.title);
    case kHideSite: return c.read_opt_string(m.hide_site);
    case kOpenOptions: return c.read_bool(m.open_options);
    case kPage: return c.read_opt_string(m.page);
    case kLinks: return c.read_strings(m.links);
    case kExcludeSite: return c.read_opt_string(m.exclude_site);
    case kOpen: return c.read_bool(m.open);
    case kDeclined: return read_notice(c, m.declined);
  }
  return c.skip();
}

}  // namespace

Result<Message> parse_message(std::string_view body) {
  Message m;
  if (auto st = json::read_document(body, kMessageLayout,
                                    [&](Cursor& c, size_t f) { return read_field(c, f, m); });
      !st)
    return st.failure();
  return m;
}

}  // namespace nm::host
