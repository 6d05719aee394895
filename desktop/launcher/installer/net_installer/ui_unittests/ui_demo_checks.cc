#include "desktop/launcher/installer/net_installer/ui_unittests/ui_demo_checks.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

namespace vulmo {
namespace net_installer {
namespace {

struct FontDeleter {
  void operator()(HFONT font) const { ::DeleteObject(font); }
};
using ScopedFont = std::unique_ptr<std::remove_pointer<HFONT>::type, FontDeleter>;

std::wstring TextOf(HWND window) {
  wchar_t text[1024] = {};
  ::GetWindowTextW(window, text, 1024);
  return text;
}

std::string Utf8(const std::wstring& text) {
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0,
                                         nullptr, nullptr);
  std::string utf8(size > 0 ? size - 1 : 0, '\0');
  if (size > 1)
    ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &utf8[0], size, nullptr, nullptr);
  return utf8;
}

// The font the platform draws caption titles in, at the process's DPI.
ScopedFont CreateCaptionFont() {
  NONCLIENTMETRICSW metrics = {};
  metrics.cbSize = sizeof(metrics);
  if (!::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0))
    return nullptr;
  return ScopedFont(::CreateFontIndirectW(&metrics.lfCaptionFont));
}

HFONT FontOf(HWND control) {
  return reinterpret_cast<HFONT>(::SendMessageW(control, WM_GETFONT, 0, 0));
}

// The size DrawTextW needs for |text| in |font| within |width| pixels.
SIZE Measure(HFONT font, const std::wstring& text, int width, UINT format) {
  HDC dc = ::GetDC(nullptr);
  HGDIOBJ old = ::SelectObject(dc, font);
  RECT rect = {0, 0, width, 0};
  ::DrawTextW(dc, text.c_str(), -1, &rect, format | DT_CALCRECT | DT_NOPREFIX);
  ::SelectObject(dc, old);
  ::ReleaseDC(nullptr, dc);
  return {rect.right - rect.left, rect.bottom - rect.top};
}

bool IsButton(HWND control) {
  wchar_t name[16] = {};
  ::GetClassNameW(control, name, 16);
  return ::lstrcmpiW(name, L"Button") == 0;
}

bool Fits(const char* what, const std::wstring& text, SIZE needed, LONG width,
          LONG height) {
  if (needed.cx <= width && needed.cy <= height)
    return true;
  std::fprintf(stderr, "%s \"%s\" is clipped: needs %ldx%ld, has %ldx%ld\n", what,
               Utf8(text).c_str(), needed.cx, needed.cy, width, height);
  return false;
}

// The dialog's client rectangle on the screen. In a mirrored window client
// x runs from the right, so the corners are sorted.
RECT ClientOnScreen(HWND dialog) {
  RECT client;
  ::GetClientRect(dialog, &client);
  POINT corners[2] = {{0, 0}, {client.right, client.bottom}};
  ::ClientToScreen(dialog, &corners[0]);
  ::ClientToScreen(dialog, &corners[1]);
  return {std::min(corners[0].x, corners[1].x), std::min(corners[0].y, corners[1].y),
          std::max(corners[0].x, corners[1].x), std::max(corners[0].y, corners[1].y)};
}

// Characters that draw nothing by themselves (spaces, joiners, direction
// marks): a lone one may well come out as the box.
bool DrawsNothing(wchar_t c) {
  return c <= L' ' || c == 0x00A0 || (c >= 0x200B && c <= 0x200F) ||
         (c >= 0x202A && c <= 0x202E) || (c >= 0x2060 && c <= 0x2064) || c == 0xFEFF;
}

// |c| drawn alone in |font|, black on white, as the pixels of a bitmap.
std::vector<uint32_t> Render(HFONT font, wchar_t c) {
  constexpr int kSide = 128;
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = kSide;
  info.bmiHeader.biHeight = -kSide;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HDC dc = ::CreateCompatibleDC(nullptr);
  HBITMAP bitmap = ::CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  std::vector<uint32_t> pixels;
  if (dc && bitmap && bits) {
    HGDIOBJ old_bitmap = ::SelectObject(dc, bitmap);
    HGDIOBJ old_font = ::SelectObject(dc, font);
    RECT rect = {0, 0, kSide, kSide};
    ::FillRect(dc, &rect, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
    ::SetTextColor(dc, RGB(0, 0, 0));
    ::SetBkMode(dc, TRANSPARENT);
    rect.left = rect.top = 4;
    ::DrawTextW(dc, &c, 1, &rect, DT_SINGLELINE | DT_NOPREFIX | DT_NOCLIP);
    ::GdiFlush();
    const auto* first = static_cast<const uint32_t*>(bits);
    pixels.assign(first, first + kSide * kSide);
    ::SelectObject(dc, old_font);
    ::SelectObject(dc, old_bitmap);
  }
  if (bitmap)
    ::DeleteObject(bitmap);
  if (dc)
    ::DeleteDC(dc);
  return pixels;
}

// Counts the characters of |text| that |font| draws exactly like a
// character no font has, i.e. as the missing-glyph box, and names them.
int CountBoxes(HFONT font, const std::wstring& text) {
  constexpr wchar_t kUnassigned = 0x0378;  // No character: no font has it.
  const std::vector<uint32_t> box = Render(font, kUnassigned);
  std::string names;
  int boxes = 0;
  for (wchar_t c : std::set<wchar_t>(text.begin(), text.end())) {
    if (DrawsNothing(c) || Render(font, c) != box)
      continue;
    char name[16];
    std::snprintf(name, sizeof(name), " U+%04X", static_cast<unsigned>(c));
    names += name;
    ++boxes;
  }
  if (boxes > 0) {
    std::fprintf(stderr, "\"%s\": %d characters drawn as the missing-glyph box:%s\n",
                 Utf8(text).c_str(), boxes, names.c_str());
  }
  return boxes;
}

}  // namespace

bool TextsFit(HWND dialog, const int* control_ids) {
  bool fit = true;
  ScopedFont caption_font = CreateCaptionFont();
  RECT window;
  ::GetWindowRect(dialog, &window);
  // Beside the title: the small icon, the close button and their spacing.
  const LONG caption_width = (window.right - window.left) -
                             ::GetSystemMetrics(SM_CXSMICON) -
                             ::GetSystemMetrics(SM_CXSIZE) -
                             6 * ::GetSystemMetrics(SM_CXEDGE);
  const std::wstring title = TextOf(dialog);
  if (caption_font) {
    fit &= Fits("title", title, Measure(caption_font.get(), title, 0, DT_SINGLELINE),
                caption_width, ::GetSystemMetrics(SM_CYCAPTION));
  }
  for (const int* id = control_ids; *id; ++id) {
    HWND control = ::GetDlgItem(dialog, *id);
    if (!control || !::IsWindowVisible(control))
      continue;
    RECT client;
    ::GetClientRect(control, &client);
    const std::wstring text = TextOf(control);
    if (IsButton(control)) {
      // The button's edge and focus rectangle take a few pixels each side.
      const LONG border = 3 * ::GetSystemMetrics(SM_CXEDGE);
      fit &= Fits("button", text, Measure(FontOf(control), text, 0, DT_SINGLELINE),
                  client.right - 2 * border, client.bottom);
    } else {
      fit &= Fits("label", text,
                  Measure(FontOf(control), text, client.right, DT_WORDBREAK),
                  client.right, client.bottom);
    }
  }
  return fit;
}

bool BarFillsWidth(HWND dialog, int bar_id) {
  RECT bar;
  if (!::GetWindowRect(::GetDlgItem(dialog, bar_id), &bar))
    return false;
  const RECT client = ClientOnScreen(dialog);
  const LONG left_margin = bar.left - client.left;
  const LONG right_margin = client.right - bar.right;
  const LONG width = client.right - client.left;
  // The template puts the bar 10 of 262 dialog units from either side.
  if (left_margin > 0 && std::abs(left_margin - right_margin) <= 2 &&
      (bar.right - bar.left) * 100 >= width * 85) {
    return true;
  }
  std::fprintf(stderr, "the bar spans %ld..%ld of the dialog's %ld..%ld\n", bar.left,
               bar.right, client.left, client.right);
  return false;
}

bool GlyphsPresent(HWND dialog, const int* control_ids) {
  int boxes = 0;
  ScopedFont caption_font = CreateCaptionFont();
  if (caption_font)
    boxes += CountBoxes(caption_font.get(), TextOf(dialog));
  for (const int* id = control_ids; *id; ++id) {
    HWND control = ::GetDlgItem(dialog, *id);
    if (control && ::IsWindowVisible(control))
      boxes += CountBoxes(FontOf(control), TextOf(control));
  }
  return boxes == 0;
}

}  // namespace net_installer
}  // namespace vulmo
