#include "desktop/launcher/installer/net_installer/language_lookup.h"

#include <windows.h>

#include "base/logging.h"

namespace vulmo {
namespace net_installer {

namespace {

struct LanguageEntry {
  const wchar_t* code;  // ASCII, lower case.
  uint32_t lcid;
};

// "userdefault" and "tl" map to 0x0400, where the Tagalog strings live.
constexpr LanguageEntry kLanguages[] = {
    {L"az", 1068},     {L"el", 1032},          {L"gu", 1095},
    {L"en", 1033},     {L"userdefault", 1024}, {L"fr-ca", 3084},
    {L"vi", 1066},     {L"ca", 1027},          {L"fake-bidi", 1037},
    {L"am", 1118},     {L"it", 1040},          {L"iw", 1037},
    {L"kn", 1099},     {L"zh-hk", 3076},       {L"ar", 1025},
    {L"ml", 1100},     {L"zu", 1077},          {L"cs", 1029},
    {L"et", 1061},     {L"gl", 1110},          {L"id", 1057},
    {L"es", 3082},     {L"en-gb", 2057},       {L"ru", 1049},
    {L"eu", 1069},     {L"nl", 1043},          {L"nn", 2068},
    {L"no", 1044},     {L"nb", 1044},          {L"af", 1078},
    {L"tr", 1055},     {L"tl", 1024},          {L"lv", 1062},
    {L"lt", 1063},     {L"pa", 1094},          {L"sw", 1089},
    {L"th", 1054},     {L"te", 1098},          {L"ro", 1048},
    {L"is", 1039},     {L"fil", 1124},         {L"ta", 1097},
    {L"be", 1059},     {L"fr", 1036},          {L"bg", 1026},
    {L"ms", 1086},     {L"sl", 1060},          {L"hr", 1050},
    {L"fy", 1122},     {L"bn", 1093},          {L"de", 1031},
    {L"hu", 1038},     {L"fa", 1065},          {L"neutral", 0},
    {L"hi", 1081},     {L"pt-br", 1046},       {L"sa", 1103},
    {L"fi", 1035},     {L"da", 1030},          {L"ja", 1041},
    {L"kk", 1087},     {L"he", 1037},          {L"me", 2074},
    {L"es-419", 2058}, {L"ne", 1121},          {L"pt-pt", 2070},
    {L"zh-tw", 1028},  {L"uz", 1091},          {L"ko", 1042},
    {L"sv", 1053},     {L"mk", 1071},          {L"ur", 1056},
    {L"sk", 1051},     {L"zh-cn", 2052},       {L"si", 1115},
    {L"gd", 1169},     {L"pl", 1045},          {L"uk", 1058},
    {L"sr", 3098},     {L"ti", 2163},          {L"mr", 1102},
    {L"or", 1096},
};

// Only A-Z are folded: locale-aware lowering could make a non-ASCII
// character match an ASCII key.
wchar_t ToAsciiLower(wchar_t c) {
  return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

bool MatchesKey(const std::wstring& code, const wchar_t* key) {
  size_t i = 0;
  for (; i < code.size(); ++i) {
    if (key[i] == L'\0' || ToAsciiLower(code[i]) != key[i])
      return false;
  }
  return key[i] == L'\0';
}

}  // namespace

uint32_t LookupLcid(const std::wstring& code) {
  VLOG(1) << "Looking up LCID for " << code;
  if (code.empty())
    return 0;
  for (const LanguageEntry& entry : kLanguages) {
    if (MatchesKey(code, entry.code))
      return entry.lcid;
  }
  return 0;
}

bool IsRightToLeftLanguage(uint32_t lcid) {
  if (PRIMARYLANGID(LANGIDFROMLCID(lcid)) == LANG_NEUTRAL)
    return false;
  // The locale's font signature carries the reading direction (bit 123 of
  // its Unicode subset bits); unlike LOCALE_IREADINGLAYOUT it is there
  // before Windows 7 too.
  LOCALESIGNATURE signature = {};
  if (!::GetLocaleInfoW(lcid, LOCALE_FONTSIGNATURE,
                        reinterpret_cast<wchar_t*>(&signature),
                        sizeof(signature) / sizeof(wchar_t))) {
    return false;
  }
  constexpr DWORD kRightToLeftBit = 1u << (123 - 96);
  return (signature.lsUsb[3] & kRightToLeftBit) != 0;
}

}  // namespace net_installer
}  // namespace vulmo
