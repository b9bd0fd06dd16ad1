#include "ipc/request.hpp"

#include "json/writer.hpp"

namespace nm::ipc {

namespace {

// Absent values of the request are written as null.
class RequestWriter : public json::ObjectWriter {
 public:
  using ObjectWriter::ObjectWriter;
  void opt_text(std::string_view k, const std::optional<std::string>& v) {
    v ? text(k, *v) : null(k);
  }
  void opt_flag(std::string_view k, const std::optional<bool>& v) { v ? flag(k, *v) : null(k); }
  void opt_uint(std::string_view k, const std::optional<uint64_t>& v) { v ? uint(k, *v) : null(k); }
  void opt_number(std::string_view k, const std::optional<double>& v) {
    v ? number(k, *v) : null(k);  // a number that is not finite is null too
  }
  void cookies(std::string_view k, const CookieList& jar) {
    std::string& out = key(k);
    out += '[';
    for (size_t i = 0; i < jar.size(); ++i) {
      if (i) out += ',';
      const BrowserCookie& c = jar[i];
      RequestWriter o(out);
      o.text(kCookieFields[kCookieName], c.name);
      o.text(kCookieFields[kCookieValue], c.value);
      o.text(kCookieFields[kCookieDomain], c.domain);
      o.flag(kCookieFields[kCookieHostOnly], c.host_only);
      o.text(kCookieFields[kCookiePath], c.path);
      o.flag(kCookieFields[kCookieSecure], c.secure);
      o.opt_number(kCookieFields[kCookieExpires], c.expires);
      o.end();
    }
    out += ']';
  }
};

}  // namespace

std::string serialize_request(const AppRequest& r, std::string_view token) {
  std::string out;
  RequestWriter o(out);
  o.text(kRequestTokenKey, token);
  o.opt_text("url", r.url);
  o.opt_text("dir", r.dir);
  o.opt_text("name", r.name);
  o.flag("later", r.later);
  o.flag("silent", r.silent);
  o.flag("start_queue", r.start_queue);
  o.opt_text("referer", r.referer);
  o.opt_text("cookies", r.cookies);
  if (!r.cookie_jar.empty()) o.cookies("cookie_jar", r.cookie_jar);
  o.opt_text("user_agent", r.user_agent);
  o.opt_text("final_url", r.final_url);
  o.opt_uint("size", r.size);
  o.opt_text("mime", r.mime);
  o.opt_text("post", r.post);
  o.opt_text("post_type", r.post_type);
  o.flag("private", r.private_);
  o.opt_text("proxy", r.proxy);
  o.opt_text("proxy_pac", r.proxy_pac);
  o.flag("proxy_login", r.proxy_login);
  o.opt_text("query", r.query);
  o.opt_flag("api", r.api);
  o.opt_text("action", r.action);
  o.uints("ids", r.ids);
  o.opt_text("category", r.category);
  o.opt_text("queue", r.queue);
  o.flag("pair", r.pair);
  o.flag("exit", r.exit);
  o.flag("startup", r.startup);
  o.opt_text("show", r.show);
  o.opt_text("video_page", r.video_page);
  o.opt_text("video_title", r.video_title);
  o.opt_text("panel_hide_site", r.panel_hide_site);
  o.texts("links", r.links);
  o.opt_text("exclude_site", r.exclude_site);
  o.end();
  out += '\n';
  return out;
}

}  // namespace nm::ipc
