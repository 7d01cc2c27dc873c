// Decoding answers of realistic sizes: a large host list and an exec answer near the 1 MB
// output limit, as they arrive in a padded frame buffer.
#include <benchmark/benchmark.h>
#include <simdjson.h>

#include <string>

#include "protocol/json_writer.h"
#include "protocol/messages.h"

namespace {

std::string padded(std::string payload) {
  std::string buffer = std::move(payload);
  buffer.reserve(buffer.size() + simdjson::SIMDJSON_PADDING);
  return buffer;
}

std::string hosts_answer(int count) {
  pendrel::JsonWriter json;
  json.begin_object().key("type").string("hosts").key("data").begin_array();
  for (int i = 0; i < count; ++i) {
    std::string id = "h_" + std::to_string(i);
    json.begin_object()
        .key("id")
        .string(id)
        .key("name")
        .string("web-" + std::to_string(i) + " 生产")
        .key("host")
        .string("10.0." + std::to_string(i / 256) + "." + std::to_string(i % 256))
        .key("port")
        .unsigned_integer(22)
        .key("username")
        .string("deploy")
        .key("protocol")
        .string("SSH")
        .end_object();
  }
  json.end_array().end_object();
  return json.take();
}

std::string exec_answer(std::size_t output_bytes) {
  std::string output;
  output.reserve(output_bytes);
  while (output.size() < output_bytes)
    output += "line of output\twith a tab and 中文\n";
  pendrel::JsonWriter json;
  json.begin_object().key("type").string("exec").key("data").begin_object();
  json.key("exitCode").integer(0).key("stdout").string(output).key("stderr").string("");
  json.key("truncated").boolean(false).key("durationMs").unsigned_integer(182);
  json.end_object().end_object();
  return json.take();
}

void decode(benchmark::State& state, const std::string& payload) {
  for (auto _ : state) {
    auto answer = pendrel::decode_response(payload);
    if (!answer) state.SkipWithError("decoding failed");
    benchmark::DoNotOptimize(answer);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(payload.size()));
}

void BM_DecodeHosts(benchmark::State& state) {
  const std::string payload = padded(hosts_answer(static_cast<int>(state.range(0))));
  decode(state, payload);
}
BENCHMARK(BM_DecodeHosts)->Arg(10)->Arg(1000);

void BM_DecodeExecOutput(benchmark::State& state) {
  const std::string payload = padded(exec_answer(static_cast<std::size_t>(state.range(0))));
  decode(state, payload);
}
BENCHMARK(BM_DecodeExecOutput)->Arg(1024)->Arg(1 << 20);

}  // namespace
