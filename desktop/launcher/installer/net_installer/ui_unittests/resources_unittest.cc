// Reads the resources back from this test program, which links the same
// resource script as the installer, the way the platform's loader sees them.
#include <windows.h>

#include <commctrl.h>

#include <cstdint>
#include <cstring>
#include <cwctype>
#include <set>
#include <string>
#include <vector>

#include "build_constants.h"
#include "desktop/launcher/installer/net_installer/resources/resource_ids.h"
#include "desktop/launcher/installer/net_installer/ui_unittests/ui_test_support.h"
#include "gtest/gtest.h"

namespace vulmo {
namespace net_installer {
namespace {

constexpr LANGID kLanguages[] = {
    1024, 1025, 1026, 1027, 1028, 1029, 1030, 1031, 1032, 1033, 1035, 1036,
    1038, 1040, 1041, 1042, 1043, 1044, 1045, 1046, 1048, 1049, 1050, 1051,
    1053, 1054, 1055, 1057, 1058, 1059, 1062, 1063, 1065, 1066, 1068, 1071,
    1077, 1078, 1081, 1086, 1087, 1089, 1091, 1093, 1094, 1097, 1098, 1122,
    1169, 2052, 2057, 2058, 2068, 2070, 2074, 3082, 3084, 3098};

constexpr LANGID kNeutral = MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL);

struct EnglishRow {
  int id;
  const wchar_t* text;
};

constexpr EnglishRow kEnglish[] = {
    {IDS_INSTALLER_TITLE, L"Vulmo installer"},
    {IDS_DOWNLOADING, L"Downloading Vulmo..."},
    {IDS_DOWNLOAD_FAILED, L"Failed to download Vulmo."},
    {IDS_EXTRACTING, L"Extracting Vulmo..."},
    {IDS_DOWNLOADING_PARTNER_CONTENT, L"Downloading partner content..."},
    {IDS_EXTRACT_FAILED, L"Failed to extract Vulmo."},
    {IDS_CANCEL_TITLE, L"Installation in progress"},
    {IDS_CANCEL_QUESTION,
     L"Vulmo has not yet been fully installed. Are you sure that you want to "
     L"cancel the installation?"},
    {IDS_CONTINUE_INSTALLING, L"Continue installing"},
    {IDS_ABORT_INSTALLATION, L"Abort the installation"},
    {IDS_OK, L"OK"},
};

std::string Describe(LANGID language, int id) {
  return "language " + std::to_string(language) + ", string " + std::to_string(id);
}

BOOL CALLBACK CollectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language,
                              LONG_PTR param) {
  reinterpret_cast<std::set<LANGID>*>(param)->insert(language);
  return TRUE;
}

std::set<LANGID> LanguagesOf(LPCWSTR type, LPCWSTR name) {
  std::set<LANGID> languages;
  ::EnumResourceLanguagesW(::GetModuleHandleW(nullptr), type, name,
                           &CollectLanguage, reinterpret_cast<LONG_PTR>(&languages));
  return languages;
}

std::vector<uint8_t> ReadResource(LPCWSTR type, LPCWSTR name, LANGID language) {
  HMODULE module = ::GetModuleHandleW(nullptr);
  HRSRC resource = ::FindResourceExW(module, type, name, language);
  if (!resource)
    return {};
  const auto* data =
      static_cast<const uint8_t*>(::LockResource(::LoadResource(module, resource)));
  return std::vector<uint8_t>(data, data + ::SizeofResource(module, resource));
}

TEST(StringTableTest, HoldsExactlyTheFiftyEightLanguagesInEveryBlock) {
  const std::set<LANGID> expected(std::begin(kLanguages), std::end(kLanguages));
  ASSERT_EQ(58u, expected.size());
  // Ids 37000-37007 share one block of sixteen, 37008-37010 the next.
  EXPECT_EQ(expected, LanguagesOf(MAKEINTRESOURCEW(6), MAKEINTRESOURCEW(IDS_INSTALLER_TITLE / 16 + 1)));
  EXPECT_EQ(expected, LanguagesOf(MAKEINTRESOURCEW(6), MAKEINTRESOURCEW(IDS_OK / 16 + 1)));
}

TEST(StringTableTest, EnglishTexts) {
  for (const EnglishRow& row : kEnglish) {
    EXPECT_EQ(row.text, ReadTableString(row.id, 1033)) << Describe(1033, row.id);
    // British English repeats them, with one capital T.
    const std::wstring british = row.id == IDS_DOWNLOAD_FAILED
                                     ? L"Failed To download Vulmo."
                                     : row.text;
    EXPECT_EQ(british, ReadTableString(row.id, 2057)) << Describe(2057, row.id);
  }
}

TEST(StringTableTest, EveryLanguageIsComplete) {
  int languages_saying_ok = 0;
  for (LANGID language : kLanguages) {
    for (const EnglishRow& row : kEnglish) {
      bool found = false;
      const std::wstring text = ReadTableString(row.id, language, &found);
      EXPECT_TRUE(found) << Describe(language, row.id);
      EXPECT_FALSE(text.empty()) << Describe(language, row.id);
      // The product name is not translated.
      if (row.id != IDS_DOWNLOADING_PARTNER_CONTENT && row.id != IDS_CANCEL_TITLE &&
          row.id < IDS_CONTINUE_INSTALLING) {
        EXPECT_NE(std::wstring::npos, text.find(L"Vulmo")) << Describe(language, row.id);
      }
      if (language == 1033 || language == 2057 || row.id == IDS_OK)
        continue;
      // Everything else is translated, except what Arabic keeps in English.
      const bool english_allowed =
          language == 1025 && row.id == IDS_DOWNLOADING_PARTNER_CONTENT;
      EXPECT_EQ(english_allowed, text == row.text)
          << Describe(language, row.id) << ": " << WideToUtf8(text);
    }
    if (ReadTableString(IDS_OK, language) == L"OK")
      ++languages_saying_ok;
  }
  EXPECT_EQ(27, languages_saying_ok);
}

TEST(StringTableTest, TellingRows) {
  // 0x0400 holds Filipino, not a copy of English.
  EXPECT_EQ(L"Installer ng Vulmo", ReadTableString(IDS_INSTALLER_TITLE, 1024));
  EXPECT_EQ(L"Downloading partner content...",
            ReadTableString(IDS_DOWNLOADING_PARTNER_CONTENT, 1025));
  // Uzbek is written in Cyrillic.
  const std::wstring uzbek = ReadTableString(IDS_CANCEL_TITLE, 1091);
  ASSERT_FALSE(uzbek.empty());
  for (wchar_t c : uzbek) {
    if (c != L' ') {
      EXPECT_TRUE(c >= 0x0400 && c <= 0x04FF) << WideToUtf8(uzbek);
    }
  }
  // Non-Latin scripts survived the trip through the resource compiler.
  EXPECT_EQ(L"\x78BA\x5B9A", ReadTableString(IDS_OK, 1028));          // 確定
  EXPECT_EQ(L"\x041E\x041A", ReadTableString(IDS_OK, 1049));          // ОК
  EXPECT_EQ(L"\x0645\x0648\x0627\x0641\x0642", ReadTableString(IDS_OK, 1025));  // موافق
}

// An extended dialog template, decoded.
struct DialogItem {
  uint32_t style = 0;
  uint32_t ex_style = 0;
  int16_t x = 0, y = 0, cx = 0, cy = 0;
  uint32_t id = 0;
  std::wstring class_name;  // "#0x80"-style for predefined classes.
  std::wstring text;
};

struct DialogTemplate {
  uint16_t version = 0;
  uint16_t signature = 0;
  uint32_t ex_style = 0;
  uint32_t style = 0;
  int16_t x = 0, y = 0, cx = 0, cy = 0;
  std::wstring menu, class_name, title;
  uint16_t point_size = 0, weight = 0;
  uint8_t italic = 0, charset = 0;
  std::wstring font;
  std::vector<DialogItem> items;
};

class TemplateReader {
 public:
  explicit TemplateReader(const std::vector<uint8_t>& data) : data_(data) {}
  bool ok() const { return ok_; }
  template <typename T>
  T Read() {
    T value{};
    if (offset_ + sizeof(T) > data_.size()) {
      ok_ = false;
      return value;
    }
    std::memcpy(&value, data_.data() + offset_, sizeof(T));
    offset_ += sizeof(T);
    return value;
  }
  std::wstring ReadString() {
    std::wstring text;
    for (;;) {
      const wchar_t c = static_cast<wchar_t>(Read<uint16_t>());
      if (!ok_ || c == 0)
        return text;
      text.push_back(c);
    }
  }
  // A string, or 0xFFFF and an ordinal (written as "#<hex>").
  std::wstring ReadStringOrOrdinal() {
    const size_t start = offset_;
    if (Read<uint16_t>() == 0xFFFF) {
      wchar_t text[16];
      swprintf(text, 16, L"#0x%x", Read<uint16_t>());
      return text;
    }
    offset_ = start;
    return ReadString();
  }
  void AlignTo4() { offset_ = (offset_ + 3) & ~static_cast<size_t>(3); }

 private:
  const std::vector<uint8_t>& data_;
  size_t offset_ = 0;
  bool ok_ = true;
};

DialogTemplate ParseTemplate(const std::vector<uint8_t>& data, bool* ok) {
  TemplateReader reader(data);
  DialogTemplate dialog;
  dialog.version = reader.Read<uint16_t>();
  dialog.signature = reader.Read<uint16_t>();
  reader.Read<uint32_t>();  // Help id.
  dialog.ex_style = reader.Read<uint32_t>();
  dialog.style = reader.Read<uint32_t>();
  const uint16_t count = reader.Read<uint16_t>();
  dialog.x = reader.Read<int16_t>();
  dialog.y = reader.Read<int16_t>();
  dialog.cx = reader.Read<int16_t>();
  dialog.cy = reader.Read<int16_t>();
  dialog.menu = reader.ReadStringOrOrdinal();
  dialog.class_name = reader.ReadStringOrOrdinal();
  dialog.title = reader.ReadString();
  if (dialog.style & DS_SETFONT) {
    dialog.point_size = reader.Read<uint16_t>();
    dialog.weight = reader.Read<uint16_t>();
    dialog.italic = reader.Read<uint8_t>();
    dialog.charset = reader.Read<uint8_t>();
    dialog.font = reader.ReadString();
  }
  for (uint16_t i = 0; i < count && reader.ok(); ++i) {
    reader.AlignTo4();
    DialogItem item;
    reader.Read<uint32_t>();  // Help id.
    item.ex_style = reader.Read<uint32_t>();
    item.style = reader.Read<uint32_t>();
    item.x = reader.Read<int16_t>();
    item.y = reader.Read<int16_t>();
    item.cx = reader.Read<int16_t>();
    item.cy = reader.Read<int16_t>();
    item.id = reader.Read<uint32_t>();
    item.class_name = reader.ReadStringOrOrdinal();
    item.text = reader.ReadStringOrOrdinal();
    const uint16_t extra = reader.Read<uint16_t>();
    for (uint16_t j = 0; j < extra; ++j)
      reader.Read<uint8_t>();
    dialog.items.push_back(item);
  }
  *ok = reader.ok();
  return dialog;
}

struct ExpectedItem {
  uint32_t id;
  const wchar_t* class_name;
  const wchar_t* text;
  uint32_t style;
  int16_t x, y, cx, cy;
};

void ExpectTemplate(int template_id, uint32_t style, int16_t cx, int16_t cy,
                    const std::vector<ExpectedItem>& items) {
  SCOPED_TRACE("template " + std::to_string(template_id));
  // Language neutral: every language uses the same layout.
  const std::vector<uint8_t> data =
      ReadResource(RT_DIALOG, MAKEINTRESOURCEW(template_id), kNeutral);
  ASSERT_FALSE(data.empty());
  EXPECT_EQ(std::set<LANGID>{kNeutral},
            LanguagesOf(RT_DIALOG, MAKEINTRESOURCEW(template_id)));
  bool ok = false;
  const DialogTemplate dialog = ParseTemplate(data, &ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(1, dialog.version);
  EXPECT_EQ(0xFFFF, dialog.signature);
  EXPECT_EQ(style, dialog.style);
  EXPECT_EQ(0u, dialog.ex_style);
  EXPECT_EQ(0, dialog.x);
  EXPECT_EQ(0, dialog.y);
  EXPECT_EQ(cx, dialog.cx);
  EXPECT_EQ(cy, dialog.cy);
  EXPECT_EQ(L"", dialog.menu);
  EXPECT_EQ(L"", dialog.class_name);
  EXPECT_EQ(L"Vulmo", dialog.title);
  EXPECT_EQ(L"MS Shell Dlg", dialog.font);
  EXPECT_EQ(8, dialog.point_size);
  EXPECT_EQ(400, dialog.weight);
  EXPECT_EQ(0, dialog.italic);
  EXPECT_EQ(0, dialog.charset);
  ASSERT_EQ(items.size(), dialog.items.size());
  for (size_t i = 0; i < items.size(); ++i) {
    const DialogItem& item = dialog.items[i];
    SCOPED_TRACE("control " + std::to_string(items[i].id));
    EXPECT_EQ(items[i].id, item.id);
    // Class names are case-insensitive; windres stores custom ones upper-cased.
    EXPECT_EQ(0, ::lstrcmpiW(items[i].class_name, item.class_name.c_str()))
        << WideToUtf8(item.class_name);
    EXPECT_EQ(items[i].text, item.text);
    EXPECT_EQ(items[i].style, item.style);
    EXPECT_EQ(0u, item.ex_style);
    EXPECT_EQ(items[i].x, item.x);
    EXPECT_EQ(items[i].y, item.y);
    EXPECT_EQ(items[i].cx, item.cx);
    EXPECT_EQ(items[i].cy, item.cy);
  }
}

TEST(DialogTemplateTest, ProgressDialog) {
  constexpr uint32_t kStyle = WS_CAPTION | WS_SYSMENU | DS_CENTER | DS_SETFONT;
  static_assert(kStyle == 0x00C80840, "");
  ExpectTemplate(IDD_PROGRESS_DIALOG, kStyle, 262, 55,
                 {{IDC_PROGRESS_LABEL, L"#0x82", L"Downloading Vulmo...",
                   WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT, 10, 10, 242, 12},
                  {IDC_PROGRESS_BAR, L"msctls_progress32", L"",
                   WS_CHILD | WS_VISIBLE | WS_BORDER | PBS_SMOOTH, 10, 24, 242, 12}});
}

TEST(DialogTemplateTest, MessageBoxTemplate) {
  constexpr uint32_t kStyle =
      WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_CENTER | DS_SETFONT;
  static_assert(kStyle == 0x10C80840, "");
  constexpr uint32_t kButton = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON;
  ExpectTemplate(IDD_MESSAGE_BOX, kStyle, 250, 69,
                 {{IDC_MESSAGE_LABEL, L"#0x82", L"MessageBoxLabel",
                   WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT, 10, 10, 230, 24},
                  {IDC_BUTTON1, L"#0x80", L"Button1", kButton, 13, 43, 107, 16},
                  {IDC_BUTTON2, L"#0x80", L"Button2", kButton, 132, 43, 107, 16}});
}

#pragma pack(push, 2)
struct GroupIconEntry {
  BYTE width;
  BYTE height;
  BYTE color_count;
  BYTE reserved;
  WORD planes;
  WORD bit_count;
  DWORD bytes_in_resource;
  WORD id;
};
#pragma pack(pop)
static_assert(sizeof(GroupIconEntry) == 14, "");

TEST(IconTest, GroupOneHoldsTheFourteenImages) {
  const std::vector<uint8_t> group =
      ReadResource(RT_GROUP_ICON, MAKEINTRESOURCEW(IDI_APP_ICON), kNeutral);
  ASSERT_GE(group.size(), 6u);
  WORD header[3];
  std::memcpy(header, group.data(), sizeof(header));
  EXPECT_EQ(0, header[0]);
  EXPECT_EQ(1, header[1]);  // Icons, not cursors.
  ASSERT_EQ(14, header[2]);
  ASSERT_EQ(6u + 14u * sizeof(GroupIconEntry), group.size());

  const struct {
    int size;
    int bits;
  } expected[] = {{48, 4}, {32, 4}, {24, 4}, {16, 4}, {48, 8}, {32, 8},
                  {24, 8}, {16, 8}, {256, 32}, {128, 32}, {48, 32}, {32, 32},
                  {24, 32}, {16, 32}};
  HMODULE module = ::GetModuleHandleW(nullptr);
  for (int i = 0; i < 14; ++i) {
    GroupIconEntry entry;
    std::memcpy(&entry, group.data() + 6 + i * sizeof(entry), sizeof(entry));
    SCOPED_TRACE("image " + std::to_string(i));
    const int size = entry.width == 0 ? 256 : entry.width;
    EXPECT_EQ(expected[i].size, size);
    EXPECT_EQ(entry.width, entry.height);
    EXPECT_EQ(expected[i].bits, entry.bit_count);
    EXPECT_EQ(1, entry.planes);

    // The image itself agrees with its directory entry and decodes.
    HRSRC resource = ::FindResourceW(module, MAKEINTRESOURCEW(entry.id), RT_ICON);
    ASSERT_NE(nullptr, resource);
    const DWORD length = ::SizeofResource(module, resource);
    EXPECT_EQ(entry.bytes_in_resource, length);
    auto* bits = static_cast<BYTE*>(::LockResource(::LoadResource(module, resource)));
    ASSERT_NE(nullptr, bits);
    if (size >= 128) {
      // The large images are stored PNG-compressed.
      EXPECT_EQ(0, std::memcmp(bits, "\x89PNG\r\n\x1a\n", 8));
    } else {
      BITMAPINFOHEADER info;
      std::memcpy(&info, bits, sizeof(info));
      EXPECT_EQ(size, info.biWidth);
      EXPECT_EQ(size * 2, info.biHeight);  // Colour image and AND mask.
      EXPECT_EQ(expected[i].bits, info.biBitCount);
    }
    HICON icon = ::CreateIconFromResourceEx(bits, length, TRUE, 0x00030000,
                                            size, size, LR_DEFAULTCOLOR);
    EXPECT_NE(nullptr, icon);
    if (icon)
      ::DestroyIcon(icon);
  }
  // What the dialogs load.
  EXPECT_NE(nullptr, ::LoadIconW(module, MAKEINTRESOURCEW(IDI_APP_ICON)));
}

TEST(ManifestTest, DeclaresCommonControlsAsInvokerAndSupportedSystems) {
  const std::vector<uint8_t> data =
      ReadResource(RT_MANIFEST, MAKEINTRESOURCEW(1), kNeutral);
  ASSERT_FALSE(data.empty());
  const std::string manifest(data.begin(), data.end());
  const char* const expected[] = {
      "<?xml version=\"1.0\" encoding=\"UTF-8\"",
      "<description>Vulmo Internet Browser Installer</description>",
      "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\" "
      "processorArchitecture=\"*\" publicKeyToken=\"6595b64144ccf1df\" "
      "language=\"*\"",
      "<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>",
      "<supportedOS Id=\"{e2011457-1546-43c5-a5fe-008deee3d3f0}\"/>",  // Vista
      "<supportedOS Id=\"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}\"/>",  // 7
      "<supportedOS Id=\"{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}\"/>",  // 8
      "<supportedOS Id=\"{1f676c76-80e1-4239-95bb-83d0f6d0da78}\"/>",  // 8.1
  };
  for (const char* text : expected)
    EXPECT_NE(std::string::npos, manifest.find(text)) << text;
  EXPECT_EQ(std::string::npos, manifest.find("requireAdministrator"));
}

// A setting of the manifest as the loader reads it from the process's
// activation context, which it builds from manifest resource 1.
std::wstring WindowsSetting(const wchar_t* name_space, const wchar_t* name) {
  wchar_t value[128] = {};
  SIZE_T written = 0;
  if (!::QueryActCtxSettingsW(0, nullptr, name_space, name, value,
                              sizeof(value) / sizeof(value[0]), &written))
    return L"<missing>";
  return value;
}

// Read back through the loader rather than searched for in the text: this
// proves the declaration sits where Windows looks for it. (Wine 8 draws every
// program at the screen's DPI and reports per-monitor awareness whatever the
// manifest says, so the process's awareness would tell nothing here.)
TEST(ManifestTest, DeclaresPerMonitorDpiAwarenessWithSystemFallback) {
  ASSERT_FALSE(ReadResource(RT_MANIFEST, MAKEINTRESOURCEW(1), kNeutral).empty());
  // Windows before 10 reads only dpiAware ("true": system aware).
  EXPECT_EQ(L"true",
            WindowsSetting(L"http://schemas.microsoft.com/SMI/2005/WindowsSettings",
                           L"dpiAware"));
  // Later ones take the first entry they know: per-monitor v2 from 1703 on,
  // system awareness before.
  EXPECT_EQ(L"PerMonitorV2, System",
            WindowsSetting(L"http://schemas.microsoft.com/SMI/2016/WindowsSettings",
                           L"dpiAwareness"));
}

TEST(ManifestTest, CommonControlsSixAreLoaded) {
  // The manifest is what binds this process to the side-by-side assembly of
  // comctl32 version 6 (Wine's copy reports 5.81 from DllGetVersion, so the
  // module's location is what tells).
  INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_PROGRESS_CLASS};
  ASSERT_TRUE(::InitCommonControlsEx(&controls));
  HMODULE comctl = ::GetModuleHandleW(L"comctl32.dll");
  ASSERT_NE(nullptr, comctl);
  wchar_t path[MAX_PATH] = {};
  ASSERT_NE(0u, ::GetModuleFileNameW(comctl, path, MAX_PATH));
  std::wstring lower = path;
  for (wchar_t& c : lower)
    c = static_cast<wchar_t>(std::towlower(c));
  EXPECT_NE(std::wstring::npos,
            lower.find(L"microsoft.windows.common-controls_6595b64144ccf1df_6.0."))
      << WideToUtf8(path);
}

TEST(VersionBlockTest, CarriesTheBuildVersion) {
  wchar_t path[MAX_PATH] = {};
  ASSERT_NE(0u, ::GetModuleFileNameW(nullptr, path, MAX_PATH));
  const DWORD size = ::GetFileVersionInfoSizeW(path, nullptr);
  ASSERT_NE(0u, size);
  std::vector<uint8_t> block(size);
  ASSERT_TRUE(::GetFileVersionInfoW(path, 0, size, block.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(::VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  const WORD parts[] = {VULMO_VERSION_COMMAS};
  EXPECT_EQ(MAKELONG(parts[1], parts[0]), fixed->dwFileVersionMS);
  EXPECT_EQ(MAKELONG(parts[3], parts[2]), fixed->dwFileVersionLS);
  EXPECT_EQ(static_cast<DWORD>(VFT_APP), fixed->dwFileType);
  wchar_t* text = nullptr;
  ASSERT_TRUE(::VerQueryValueW(block.data(), L"\\StringFileInfo\\040904b0\\FileVersion",
                               reinterpret_cast<void**>(&text), &length));
  EXPECT_EQ(VULMO_VERSION_STRING, WideToUtf8(text));
  ASSERT_TRUE(::VerQueryValueW(block.data(),
                               L"\\StringFileInfo\\040904b0\\FileDescription",
                               reinterpret_cast<void**>(&text), &length));
  EXPECT_EQ(L"Vulmo Internet Browser Installer", std::wstring(text));
}

}  // namespace
}  // namespace net_installer
}  // namespace vulmo
