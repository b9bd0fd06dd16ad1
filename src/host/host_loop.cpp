#include "host/host_loop.hpp"

#include "host/dispatch.hpp"

namespace nm::host {

static Reply answer(Frame& frame, const DeliverSettings& to_app) {
  if (frame.kind == Frame::Kind::oversized) return too_large_reply(frame.length);
  auto message = parse_message(frame.body);
  // The body is not needed past parsing; a large one need not stay in memory
  // while the application is asked.
  std::string().swap(frame.body);
  if (!message) return refused_reply(Why::refused, message.error());
  return dispatch(std::move(message).value(), to_app);
}

Status run_host(ByteSource& in, ByteSink& out, const DeliverSettings& to_app) {
  for (;;) {
    auto frame = read_frame(in);
    if (!frame) return frame.failure();
    if (frame->kind == Frame::Kind::end) return {};
    const std::string body = serialize_reply(answer(*frame, to_app));
    if (auto st = write_frame(out, body); !st) return st;
  }
}

}  // namespace nm::host
