#include "desktop/launcher/installer/net_installer/language_lookup.h"

#include <set>
#include <string>

#include "base/command_line.h"
#include "desktop/launcher/installer/net_installer/ui_unittests/ui_test_support.h"
#include "gtest/gtest.h"

namespace vulmo {
namespace net_installer {
namespace {

struct Row {
  const wchar_t* code;
  uint32_t lcid;
};

// Every code the "language" switch understands.
constexpr Row kTable[] = {
    {L"az", 1068},     {L"el", 1032},        {L"gu", 1095},    {L"en", 1033},
    {L"userdefault", 1024}, {L"fr-ca", 3084}, {L"vi", 1066},   {L"ca", 1027},
    {L"fake-bidi", 1037}, {L"am", 1118},     {L"it", 1040},    {L"iw", 1037},
    {L"kn", 1099},     {L"zh-hk", 3076},     {L"ar", 1025},    {L"ml", 1100},
    {L"zu", 1077},     {L"cs", 1029},        {L"et", 1061},    {L"gl", 1110},
    {L"id", 1057},     {L"es", 3082},        {L"en-gb", 2057}, {L"ru", 1049},
    {L"eu", 1069},     {L"nl", 1043},        {L"nn", 2068},    {L"no", 1044},
    {L"nb", 1044},     {L"af", 1078},        {L"tr", 1055},    {L"tl", 1024},
    {L"lv", 1062},     {L"lt", 1063},        {L"pa", 1094},    {L"sw", 1089},
    {L"th", 1054},     {L"te", 1098},        {L"ro", 1048},    {L"is", 1039},
    {L"fil", 1124},    {L"ta", 1097},        {L"be", 1059},    {L"fr", 1036},
    {L"bg", 1026},     {L"ms", 1086},        {L"sl", 1060},    {L"hr", 1050},
    {L"fy", 1122},     {L"bn", 1093},        {L"de", 1031},    {L"hu", 1038},
    {L"fa", 1065},     {L"neutral", 0},      {L"hi", 1081},    {L"pt-br", 1046},
    {L"sa", 1103},     {L"fi", 1035},        {L"da", 1030},    {L"ja", 1041},
    {L"kk", 1087},     {L"he", 1037},        {L"me", 2074},    {L"es-419", 2058},
    {L"ne", 1121},     {L"pt-pt", 2070},     {L"zh-tw", 1028}, {L"uz", 1091},
    {L"ko", 1042},     {L"sv", 1053},        {L"mk", 1071},    {L"ur", 1056},
    {L"sk", 1051},     {L"zh-cn", 2052},     {L"si", 1115},    {L"gd", 1169},
    {L"pl", 1045},     {L"uk", 1058},        {L"sr", 3098},    {L"ti", 2163},
    {L"mr", 1102},     {L"or", 1096},
};

TEST(LanguageLookupTest, EveryCodeOfTheTable) {
  std::set<std::wstring> codes;
  for (const Row& row : kTable) {
    EXPECT_TRUE(codes.insert(row.code).second) << "duplicate row";
    EXPECT_EQ(row.lcid, LookupLcid(row.code)) << WideToUtf8(row.code);
  }
  EXPECT_EQ(82u, codes.size());
}

TEST(LanguageLookupTest, AsciiLettersMatchInAnyCase) {
  const Row cases[] = {
      {L"DE", 1031},     {L"En-Gb", 2057},    {L"EN-GB", 2057},
      {L"en-GB", 2057},  {L"ZH-TW", 1028},    {L"Es-419", 2058},
      {L"USERDEFAULT", 1024}, {L"FAKE-BIDI", 1037},
  };
  for (const Row& row : cases)
    EXPECT_EQ(row.lcid, LookupLcid(row.code)) << WideToUtf8(row.code);
}

TEST(LanguageLookupTest, OnlyWholeCodesMatch) {
  const wchar_t* const no_match[] = {
      L"",       L"xx",     L"de-at",   L"en_gb",  L"en-gb ", L" en",
      L"english", L"d",     L"zh",      L"pt",     L"e",      L"fil-ph",
      // Non-ASCII look-alikes must not fold onto ASCII keys: Cyrillic "е"
      // (U+0435) + "n", the Kelvin sign and fullwidth letters.
      L"\x0435n", L"\x212Ak", L"\xFF44\xFF45",
  };
  for (const wchar_t* code : no_match)
    EXPECT_EQ(0u, LookupLcid(code)) << WideToUtf8(code);
  // A code with an embedded NUL is longer than the key it starts with.
  EXPECT_EQ(0u, LookupLcid(std::wstring(L"de\0", 3)));
}

TEST(LanguageLookupTest, LogsTheCodeAtVerboseLevelOne) {
  // Verbose logging follows the process command line, as at start-up.
  base::CommandLine::Init();
  ASSERT_NE(nullptr, base::CommandLine::ForCurrentProcess());
  base::CommandLine::ForCurrentProcess()->AppendSwitchNative("v", L"1");
  LogCapture log;
  EXPECT_EQ(1041u, LookupLcid(L"ja"));
  EXPECT_EQ(0u, LookupLcid(L"\x65E5\x672C"));  // Logged as UTF-8.
  EXPECT_EQ(1, log.CountLines("Looking up LCID for ja"));
  EXPECT_EQ(1, log.CountLines("Looking up LCID for \xE6\x97\xA5\xE6\x9C\xAC"));
}

}  // namespace
}  // namespace net_installer
}  // namespace vulmo
