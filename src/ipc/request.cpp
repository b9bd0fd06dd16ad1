#include "ipc/request.hpp"

#include "json/writer.hpp"

namespace nm::ipc {

namespace {

// Writes `"key":value` pairs, with the commas between them.
class ObjectWriter {
 public:
  explicit ObjectWriter(std::string& out) : out_(out) { out_ += '{'; }
  void end() { out_ += '}'; }

  void text(std::string_view key, std::string_view v) {
    this->key(key);
    json::append_string(out_, v);
  }
  void opt_text(std::string_view key, const std::optional<std::string>& v) {
    if (v)
      text(key, *v);
    else
      null(key);
  }
  void flag(std::string_view key, bool v) {
    this->key(key);
    out_ += v ? "true" : "false";
  }
  void opt_flag(std::string_view key, const std::optional<bool>& v) {
    if (v)
      flag(key, *v);
    else
      null(key);
  }
  void opt_uint(std::string_view key, const std::optional<uint64_t>& v) {
    if (!v) return null(key);
    this->key(key);
    json::append_uint(out_, *v);
  }
  void opt_double(std::string_view key, const std::optional<double>& v) {
    if (!v) return null(key);
    this->key(key);
    json::append_double(out_, *v);  // null when not finite
  }
  void uints(std::string_view key, const std::vector<uint64_t>& v) {
    this->key(key);
    out_ += '[';
    for (size_t i = 0; i < v.size(); ++i) {
      if (i) out_ += ',';
      json::append_uint(out_, v[i]);
    }
    out_ += ']';
  }
  void texts(std::string_view key, const std::vector<std::string>& v) {
    this->key(key);
    out_ += '[';
    for (size_t i = 0; i < v.size(); ++i) {
      if (i) out_ += ',';
      json::append_string(out_, v[i]);
    }
    out_ += ']';
  }
  void cookies(std::string_view key, const CookieList& jar) {
    this->key(key);
    out_ += '[';
    for (size_t i = 0; i < jar.size(); ++i) {
      if (i) out_ += ',';
      const BrowserCookie& c = jar[i];
      ObjectWriter o(out_);
      o.text("name", c.name);
      o.text("value", c.value);
      o.text("domain", c.domain);
      o.flag("host_only", c.host_only);
      o.text("path", c.path);
      o.flag("secure", c.secure);
      o.opt_double("expires", c.expires);
      o.end();
    }
    out_ += ']';
  }

 private:
  void null(std::string_view key) {
    this->key(key);
    out_ += "null";
  }
  void key(std::string_view k) {
    if (!first_) out_ += ',';
    first_ = false;
    json::append_string(out_, k);
    out_ += ':';
  }

  std::string& out_;
  bool first_ = true;
};

}  // namespace

std::string serialize_request(const AppRequest& r, std::string_view token) {
  std::string out;
  ObjectWriter o(out);
  o.text("token", token);
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
