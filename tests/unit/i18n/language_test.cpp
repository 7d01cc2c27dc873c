#include "i18n/language.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace pendrel {
namespace {

struct LanguageCase {
  const char* name;
  std::map<std::string, std::string, std::less<>> variables;
  Language expected;
};

class ChooseLanguage : public ::testing::TestWithParam<LanguageCase> {};

TEST_P(ChooseLanguage, FollowsThePrecedenceAndFallback) {
  const LanguageCase& c = GetParam();
  EXPECT_EQ(choose_language(Environment(c.variables)), c.expected);
}

const LanguageCase language_cases[] = {
    {"Nothing", {}, Language::zh},
    {"PendrelLangUpperCase", {{"PENDREL_LANG", "EN"}}, Language::en},
    {"PendrelLangPaddedWord", {{"PENDREL_LANG", " english "}}, Language::en},
    {"PendrelLangPaddedWithUnicodeSpace", {{"PENDREL_LANG", "\u3000en\u00A0"}}, Language::en},
    {"PendrelLangChineseLocale",
     {{"PENDREL_LANG", "zh_CN.UTF-8"}, {"LANG", "en_US.UTF-8"}},
     Language::zh},
    {"UndecidedPendrelLangPassesOn",
     {{"PENDREL_LANG", "ja"}, {"LANG", "en_US.UTF-8"}},
     Language::en},
    {"EmptyPendrelLangPassesOn", {{"PENDREL_LANG", ""}, {"LANG", "en_US.UTF-8"}}, Language::en},
    {"LcAllBeforeLang", {{"LC_ALL", "zh_CN.UTF-8"}, {"LANG", "en_US.UTF-8"}}, Language::zh},
    {"LcMessagesBeforeLang", {{"LC_MESSAGES", "en_GB"}, {"LANG", "zh_TW"}}, Language::en},
    {"PendrelLangBeforeLcAll", {{"PENDREL_LANG", "en"}, {"LC_ALL", "zh_CN.UTF-8"}}, Language::en},
    {"OnlyCUtf8", {{"LANG", "C.UTF-8"}}, Language::zh},
    {"PosixAndOtherLocales", {{"LANG", "POSIX"}, {"LC_ALL", "de_DE.UTF-8"}}, Language::zh},
    {"LanguageListAfterCLocale", {{"LANGUAGE", "en_GB:fr"}, {"LANG", "C"}}, Language::en},
    {"LanguageListFirstEntryOnly", {{"LANGUAGE", "fr:en"}}, Language::zh},
    {"LanguageListEmptyFirstEntry", {{"LANGUAGE", ":en_US"}, {"LANG", "C"}}, Language::zh},
    {"EmptyLanguageListIsSkipped", {{"LANGUAGE", ""}, {"LANG", "C"}}, Language::zh},
    {"LanguageDoesNotOverrideADecidingLocale",
     {{"LANGUAGE", "en"}, {"LANG", "zh_CN.UTF-8"}},
     Language::zh},
    {"NonUtf8PendrelLangIsSkipped",
     {{"PENDREL_LANG", "zh\xff"}, {"LANG", "en_US.UTF-8"}},
     Language::en},
    {"NonUtf8LcAllIsSkipped", {{"LC_ALL", "en\xc3"}, {"LANG", "zh_CN"}}, Language::zh},
    {"NonUtf8LanguageIsSkipped", {{"LANGUAGE", "en\xff"}, {"LANG", "C"}}, Language::zh},
    {"SingleLetterDecidesNothing", {{"PENDREL_LANG", "e"}, {"LANG", "en"}}, Language::en},
};

INSTANTIATE_TEST_SUITE_P(Cases, ChooseLanguage, ::testing::ValuesIn(language_cases),
                         [](const auto& test) { return std::string(test.param.name); });

TEST(LanguageTag, IsTheHandshakeForm) {
  EXPECT_EQ(language_tag(Language::zh), "zh");
  EXPECT_EQ(language_tag(Language::en), "en");
}

}  // namespace
}  // namespace pendrel
