#include "host/dispatch.hpp"

#include <algorithm>

#include "base/text.hpp"
#include "capture/browser.hpp"
#include "capture/decision.hpp"
#include "capture/patterns.hpp"
#include "capture/settings.hpp"
#include "host/deliver.hpp"
#include "host/describe.hpp"
#include "host/download_request.hpp"
#include "host/extension_seen.hpp"
#include "host/log.hpp"
#include "ipc/data_dir.hpp"

namespace nm::host {

namespace {

using capture::CaptureRules;

constexpr std::string_view kSiteAccess = "site-access";
constexpr std::string_view kSiteAccessText =
    "the browser doesn't let the extension read this site (its site access is limited)";

bool starts_with_http(std::string_view url) {
  return url.starts_with("http://") || url.starts_with("https://");
}

bool blank(const std::optional<std::string>& s) {
  return !s || base::trim_unicode(*s).empty();
}

Reply deliver(const ipc::AppRequest& request, const DeliverSettings& to_app) {
  return reply_for_outcome(deliver_to_app(request, to_app));
}

Reply declined_notice(const Message& m, std::string_view browser) {
  const Notice& n = *m.declined;
  std::string explanation;
  if (auto reason = capture::reason_from_word(n.why)) {
    explanation = capture::explanation(*reason);
  } else if (n.why == kSiteAccess) {
    explanation = kSiteAccessText;
  } else {
    explanation = sanitize_text(n.why, 32);
  }
  log_line(describe_download(browser, n.site, n.name, explanation, m.private_));
  return success_reply();
}

Reply links(Message& m, const DeliverSettings& to_app) {
  ipc::AppRequest r;
  for (auto& link : m.links)
    if (capture::is_transfer_scheme(link)) r.links.push_back(std::move(link));
  if (r.links.empty()) return refused_reply(Why::refused, "no link Torvanel downloads");
  if (m.referrer && !m.referrer->empty()) r.referer = std::move(m.referrer);
  if (m.cookies && !m.cookies->empty()) r.cookies = std::move(m.cookies);
  r.user_agent = std::move(m.user_agent);
  r.private_ = m.private_;
  return deliver(r, to_app);
}

Reply video(Message& m, const CaptureRules& rules, std::string_view browser,
            const DeliverSettings& to_app) {
  if (!starts_with_http(m.url)) return refused_reply(Why::refused, "not an http(s) page");
  if (!m.explicit_ && !capture::video_button_shown(rules, m.url, browser))
    return refused_reply(Why::options, "the video button is off here");
  ipc::AppRequest r;
  if (m.src && starts_with_http(*m.src)) {
    r.video_page = std::move(m.src);
    r.referer = std::move(m.url);
  } else {
    r.video_page = std::move(m.url);
    if (m.referrer && !m.referrer->empty()) r.referer = std::move(m.referrer);
  }
  if (!blank(m.title)) r.video_title = std::move(m.title);
  if (m.cookies && !m.cookies->empty()) r.cookies = std::move(m.cookies);
  r.cookie_jar = std::move(m.cookie_jar);
  r.user_agent = std::move(m.user_agent);
  r.private_ = m.private_;
  return deliver(r, to_app);
}

Reply single_download(Message& m, const CaptureRules& rules, std::string_view browser,
                      const DeliverSettings& to_app) {
  if (!capture::is_transfer_scheme(m.url))
    return refused_reply(Why::refused, "not an http(s) or ftp(s) URL");
  const capture::Download d{
      m.url,
      m.final_url ? std::optional<std::string_view>(*m.final_url) : std::nullopt,
      m.filename ? std::optional<std::string_view>(*m.filename) : std::nullopt,
      m.size,
      browser,
      m.explicit_};
  if (auto reason = capture::decide_download(d, rules)) {
    log_line(describe_download(browser, capture::host_of(m.url),
                               capture::file_name_of(m.filename, m.url),
                               capture::explanation(*reason), m.private_));
    Reply r = refused_reply(Why::options, "left to the browser by Options (" +
                                              std::string(capture::variant_name(*reason)) + ")");
    r.declined = std::string(capture::wire_word(*reason));
    return r;
  }
  return deliver(download_request(std::move(m)), to_app);
}

}  // namespace

Reply dispatch(Message m, const DeliverSettings& to_app) {
  const std::string browser = capture::browser_name(
      m.user_agent ? std::string_view(*m.user_agent) : std::string_view(), m.brands);
  const auto dir = ipc::data_dir();
  if (dir) record_extension_seen(*dir, browser, m.v ? std::string_view(*m.v) : std::string_view());
  const CaptureRules rules = capture::load_capture_rules(dir);

  if (m.rules || m.hello) return rules_summary(rules, browser);
  if (m.declined) return declined_notice(m, browser);
  if (m.panel) {
    Reply r;
    r.ok = capture::video_button_shown(rules, m.url, browser);
    return r;
  }
  if (!blank(m.hide_site)) {
    ipc::AppRequest r;
    r.panel_hide_site = std::string(base::trim_unicode(*m.hide_site));
    return deliver(r, to_app);
  }
  if (m.open_options) {
    ipc::AppRequest r;
    r.show = m.page && *m.page == "general" ? "options:general" : "options:panels";
    return deliver(r, to_app);
  }
  if (m.open) return deliver(ipc::AppRequest{}, to_app);
  if (!blank(m.exclude_site)) {
    ipc::AppRequest r;
    r.exclude_site = std::string(base::trim_unicode(*m.exclude_site));
    return deliver(r, to_app);
  }
  if (!m.links.empty()) return links(m, to_app);
  if (m.video) return video(m, rules, browser, to_app);
  return single_download(m, rules, browser, to_app);
}

}  // namespace nm::host
