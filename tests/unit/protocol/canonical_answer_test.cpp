#include <simdjson.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <random>
#include <string>

#include "decode_padded.h"
#include "protocol/response_decoding_canonical.h"
#include "protocol/response_encoding.h"

namespace pendrel {
namespace {

// A recognised answer must be one the full decoder reads to the same records, and which the
// service's encoder writes back byte for byte: then printing "data" as it lies is exact.
void expect_agrees_with_decoder(const std::string& payload) {
  std::string buffer = payload + std::string(simdjson::SIMDJSON_PADDING, '\0');
  auto canonical = recognise_canonical_answer(buffer.data(), payload.size());
  ASSERT_TRUE(canonical) << payload;
  auto decoded = testing::decode_padded(payload);
  ASSERT_TRUE(decoded) << payload;
  EXPECT_EQ(debug_render(to_response(*canonical)), debug_render(*decoded)) << payload;
  EXPECT_EQ(encode_response(*decoded), payload);
  const std::string_view data = std::visit([](const auto& a) { return a.json; }, *canonical);
  EXPECT_EQ(R"({"type":")" +
                std::string(std::holds_alternative<CanonicalExec>(*canonical) ? "exec" : "hosts") +
                R"(","data":)" + std::string(data) + "}",
            payload);
}

bool recognised(const std::string& payload) {
  std::string buffer = payload + std::string(simdjson::SIMDJSON_PADDING, '\0');
  return recognise_canonical_answer(buffer.data(), payload.size()).has_value();
}

std::string exec_answer(const ExecResponse& result) {
  return encode_response(result);
}

TEST(CanonicalAnswer, WhatTheServiceWritesIsRecognisedAndAgreesWithTheDecoder) {
  std::string every_ascii;
  for (int byte = 0; byte < 128; ++byte)
    every_ascii += static_cast<char>(byte);
  const ExecResponse execs[] = {
      {0, "", "", false, 0},
      {-1, "a\"b\\c\u001b[31m红\r\n", "\t", true, 17},
      {INT32_MIN, every_ascii + "日本語🙂", every_ascii, false, UINT64_MAX},
      {INT32_MAX, std::string(100, '\\'), std::string(33, '\n'), true, 1},
  };
  for (const ExecResponse& result : execs)
    expect_agrees_with_decoder(exec_answer(result));

  HostsAnswer hosts;
  expect_agrees_with_decoder(encode_response(hosts));
  hosts.hosts.push_back({"h1", "生产🙂", "10.0.0.1", 22, "deploy", "SSH"});
  hosts.hosts.push_back({"", "a\"\\\x01", "::1", 0, "", "LOCAL"});
  hosts.hosts.push_back({"h3", every_ascii, "x", 65535, "u", "SSH"});
  expect_agrees_with_decoder(encode_response(hosts));
}

// Every departure from the service's form goes to the full decoder, which alone knows what a
// malformed answer's fault description is and how an unusual but valid one decodes.
TEST(CanonicalAnswer, AnythingElseIsLeftToTheDecoder) {
  const std::string exec_head = R"({"type":"exec","data":{"exitCode":)";
  const std::string exec_tail = R"(,"stderr":"","truncated":false,"durationMs":1}})";
  auto exec_with = [&](std::string exit_code, std::string stdout_json) {
    return exec_head + exit_code + R"(,"stdout":)" + stdout_json + exec_tail;
  };
  auto host_with = [](std::string port, std::string name_json) {
    return R"({"type":"hosts","data":[{"id":"a","name":)" + name_json + R"(,"host":"h","port":)" +
           port + R"(,"username":"u","protocol":"SSH"}]})";
  };
  ASSERT_TRUE(recognised(exec_with("0", R"("x")")));
  ASSERT_TRUE(recognised(host_with("22", R"("x")")));
  const std::string departures[] = {
      exec_with("-0", R"("x")"),
      exec_with("01", R"("x")"),
      exec_with("1.0", R"("x")"),
      exec_with("1e2", R"("x")"),
      exec_with("2147483648", R"("x")"),
      exec_with("-2147483649", R"("x")"),
      exec_with("0", R"("\/")"),
      exec_with("0", R"("\u00e9")"),
      exec_with("0", R"("\u001B")"),
      exec_with("0", R"("\u0009")"),
      exec_with("0", R"("\u000a")"),
      exec_with("0", R"("\ud83d\ude42")"),
      exec_with("0", R"("\x")"),
      exec_with("0", "\"a\tb\""),
      exec_with("0", "\"\xFF\""),
      exec_with("0", "\"\xE7\xBA\""),
      exec_with("0", R"(null)"),
      exec_with("0", R"("x" )"),
      exec_head +
          R"(0,"stdout":"x","stderr":"","truncated":false,"durationMs":18446744073709551616}})",
      exec_head + R"(0,"stdout":"x","stderr":"","truncated":false,"durationMs":1,"more":1}})",
      exec_head + R"(0,"stderr":"","stdout":"x","truncated":false,"durationMs":1}})",
      exec_head + R"(0,"stdout":"x","stderr":"","truncated":0,"durationMs":1}})",
      exec_head + R"(0,"stdout":"x","stderr":"","truncated":false,"durationMs":1}} )",
      exec_head + R"(0,"stdout":"x","stderr":"","truncated":false,"durationMs":1})",
      exec_head + R"(0,"stdout":"x)",
      host_with("65536", R"("x")"),
      host_with("-1", R"("x")"),
      host_with("22", R"("\"\/")"),
      R"({"type":"hosts","data":[{"id":"a"}]})",
      R"({"type":"hosts","data":[],"data":[]})",
      R"({"data":[],"type":"hosts"})",
      R"({"type":"hosts","data":[,]})",
      R"({"type":"hosts","data":{}})",
      R"({"type":"error","data":{"code":"internal","message":"m"}})",
      R"({"type":"ok"})",
      R"( {"type":"hosts","data":[]})",
      "",
  };
  for (const std::string& payload : departures)
    EXPECT_FALSE(recognised(payload)) << payload;
}

// Decoding where the text lies moves it down over its own escapes; every escape at every
// offset of the sixteen-byte blocks must come out right.
TEST(CanonicalAnswer, TextDecodedInPlaceIsTheOriginal) {
  std::mt19937 random(13);
  const std::string alphabet = std::string("ab\"\\\n\r\t\x01\x1b\x7f", 10) + "红";
  for (int round = 0; round < 200; ++round) {
    std::string text;
    const auto length = random() % 90;
    for (unsigned i = 0; i < length; ++i) {
      const auto pick = random() % (alphabet.size() - 2);
      text += pick == alphabet.size() - 3 ? alphabet.substr(pick) : alphabet.substr(pick, 1);
    }
    std::string payload = exec_answer({0, text, "", false, 0});
    payload.append(simdjson::SIMDJSON_PADDING, '\0');
    auto canonical =
        recognise_canonical_answer(payload.data(), payload.size() - simdjson::SIMDJSON_PADDING);
    ASSERT_TRUE(canonical) << text;
    auto& exec = std::get<CanonicalExec>(*canonical);
    EXPECT_EQ(exec.stdout_text.text(), text);
    EXPECT_EQ(exec.stdout_text.text_in_place(), text);
  }
}

}  // namespace
}  // namespace pendrel
