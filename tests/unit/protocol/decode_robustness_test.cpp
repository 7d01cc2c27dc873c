// Whatever bytes the desktop application sends, decoding ends in an answer or a described
// fault: mutated answers of every kind must never crash the decoder (the sanitizer build runs
// this too) and every failure must name a position.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "decode_padded.h"
#include "protocol/messages.h"

namespace pendrel {
namespace {

const std::vector<std::string> seeds = {
    R"({"type":"welcome","data":{"protocol":1,"appVersion":"1.2.3"}})",
    R"({"type":"hosts","data":[{"id":"h1","name":"web-1","host":"10.0.0.5","port":22,"username":"deploy","protocol":"SSH"}]})",
    R"({"data":{"exitCode":-1,"stdout":"a\nb\u00e9","stderr":"","truncated":true,"durationMs":5},"type":"exec"})",
    R"({"type":"transfer","data":{"local":"/tmp/a","remote":"/srv/a","bytes":12,"durationMs":40}})",
    R"({"type":"ok","data":null})",
    R"({"type":"error","data":{"code":"host_not_found","message":"主机 \"x\""}})",
};

std::string mutate(std::string text, std::mt19937& random) {
  std::uniform_int_distribution<int> pick(0, 4);
  const std::string alphabet = "{}[]\",:0123456789-+.eE \t\ntruefalsn\\u\xC3\xA9\xFF";
  std::uniform_int_distribution<std::size_t> letter(0, alphabet.size() - 1);
  int edits = 1 + pick(random) % 3;
  for (int i = 0; i < edits && !text.empty(); ++i) {
    std::uniform_int_distribution<std::size_t> at(0, text.size() - 1);
    switch (pick(random)) {
      case 0:
        text[at(random)] = alphabet[letter(random)];
        break;
      case 1:
        text.insert(at(random), 1, alphabet[letter(random)]);
        break;
      case 2:
        text.erase(at(random), 1);
        break;
      case 3:
        text.resize(at(random));
        break;
      default: {
        std::size_t from = at(random);
        text.insert(at(random), text.substr(from, 8));
      }
    }
  }
  return text;
}

TEST(DecodeRobustness, MutatedAnswersDecodeOrFailWithAPosition) {
  std::mt19937 random(20261207);
  int accepted = 0;
  for (int round = 0; round < 100000; ++round) {
    std::string payload = mutate(seeds[static_cast<std::size_t>(round) % seeds.size()], random);
    auto answer = testing::decode_padded(payload);
    if (answer) {
      ++accepted;
      EXPECT_FALSE(debug_render(*answer).empty());
    } else {
      EXPECT_NE(answer.error().find(" at line "), std::string::npos)
          << payload << " -> " << answer.error();
    }
  }
  // Some mutations are harmless (white space, digits): both outcomes must have been exercised.
  EXPECT_GT(accepted, 0);
}

}  // namespace
}  // namespace pendrel
