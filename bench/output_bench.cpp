// Writing the program's own output: the JSON string writer on large remote output, and the
// host table with wide characters.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "output/table.h"
#include "protocol/json_writer.h"

namespace {

void BM_JsonStringLargeOutput(benchmark::State& state) {
  std::string text;
  while (text.size() < (1u << 20))
    text += "line of output\twith a tab and 中文\n";
  for (auto _ : state) {
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    pendrel::append_json_string(out, text);
    benchmark::DoNotOptimize(out);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_JsonStringLargeOutput);

void BM_RenderHostTable(benchmark::State& state) {
  std::vector<std::vector<std::string>> texts{{"ID", "名称", "地址", "用户", "协议"}};
  for (int i = 0; i < state.range(0); ++i) {
    texts.push_back({"h_" + std::to_string(i), "服务器-" + std::to_string(i) + " 🚀",
                     "10.0.0." + std::to_string(i % 256) + ":22", "deploy", "SSH"});
  }
  pendrel::Table table;
  for (const auto& row : texts)
    table.emplace_back(row.begin(), row.end());
  for (auto _ : state) {
    auto text = pendrel::render_table(table);
    benchmark::DoNotOptimize(text);
  }
}
BENCHMARK(BM_RenderHostTable)->Arg(10)->Arg(1000);

}  // namespace
