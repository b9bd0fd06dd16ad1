// In-process figures: parsing and answering messages.
#include <benchmark/benchmark.h>

#include <string>

#include "host/message.hpp"
#include "host/reply.hpp"

namespace {

// A "links" message of about 1 MiB, as a page with many links sends it.
std::string links_message() {
  std::string body = "{\"links\":[";
  for (int i = 0; body.size() < 1048576 - 200; ++i) {
    if (i) body += ',';
    body += "\"https://downloads.example.com/files/archive-" + std::to_string(i) + ".zip\"";
  }
  body += "],\"referrer\":\"https://example.com/\",\"userAgent\":\"Mozilla/5.0\"}";
  return body;
}

void BM_ParseLinksMessage(benchmark::State& state) {
  const std::string body = links_message();
  for (auto _ : state) {
    auto m = nm::host::parse_message(body);
    benchmark::DoNotOptimize(m);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * body.size()));
}
BENCHMARK(BM_ParseLinksMessage)->Unit(benchmark::kMillisecond);

void BM_ParseDownloadMessage(benchmark::State& state) {
  const std::string body =
      R"({"url":"https://cdn.example.com/pub/setup-1.2.3.exe","filename":"setup-1.2.3.exe",)"
      R"("size":73400320,"referrer":"https://example.com/download","cookies":"a=1; b=2",)"
      R"("cookieJar":[{"name":"a","value":"1","domain":".example.com","hostOnly":false,)"
      R"("path":"/","secure":true,"expirationDate":1767225600.5}],)"
      R"("userAgent":"Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 Chrome/131.0 Safari/537.36",)"
      R"("brands":["Chromium","Google Chrome","Not_A Brand"],"mime":"application/octet-stream"})";
  for (auto _ : state) {
    auto m = nm::host::parse_message(body);
    benchmark::DoNotOptimize(m);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * body.size()));
}
BENCHMARK(BM_ParseDownloadMessage);

void BM_SerializeRefusal(benchmark::State& state) {
  const auto reply =
      nm::host::refused_reply(nm::host::Why::options, "left to the browser by Options (FileType)");
  for (auto _ : state) benchmark::DoNotOptimize(nm::host::serialize_reply(reply));
}
BENCHMARK(BM_SerializeRefusal);

}  // namespace

BENCHMARK_MAIN();
