#include "host/download_request.hpp"

#include "capture/patterns.hpp"
#include "host/proxy.hpp"

namespace nm::host {

static std::optional<std::string> non_empty(std::optional<std::string>&& s) {
  if (s && s->empty()) return std::nullopt;
  return std::move(s);
}

ipc::AppRequest download_request(Message m) {
  ipc::AppRequest r;
  if (m.filename) {
    const std::string_view name = capture::last_name_part(*m.filename);
    if (!name.empty()) r.name = std::string(name);
  }
  if (m.final_url && !m.final_url->empty() && *m.final_url != m.url)
    r.final_url = std::move(m.final_url);
  r.url = std::move(m.url);
  r.referer = non_empty(std::move(m.referrer));
  r.cookies = non_empty(std::move(m.cookies));
  r.cookie_jar = std::move(m.cookie_jar);
  r.user_agent = std::move(m.user_agent);
  if (m.size && *m.size != 0) r.size = m.size;
  r.mime = non_empty(std::move(m.mime));
  if (m.post) r.post_type = non_empty(std::move(m.post_type));
  r.post = std::move(m.post);
  r.private_ = m.private_;
  if (m.proxy) r.proxy = normalize_proxy(*m.proxy);
  if (m.proxy_pac) r.proxy_pac = accept_pac(*m.proxy_pac);
  r.proxy_login = m.proxy_login;
  return r;
}

}  // namespace nm::host
