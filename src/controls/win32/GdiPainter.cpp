#include "controls/win32/GdiPainter.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "controls/Picture.h"
#include "os/base/Win32Text.h"

namespace {

// A 32-bit top-down DIB section (the caller deletes it); bits receives its pixels.
HBITMAP NewDibSection(HDC dc, int width, int height, void** bits) {
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  return CreateDIBSection(dc, &info, DIB_RGB_COLORS, bits, nullptr, 0);
}

// The UTF-16 offset of a UTF-8 byte offset within text.
int WideOffset(const std::string& text, int byteOffset) {
  return static_cast<int>(os::win32::Wide(text.substr(0, static_cast<size_t>(byteOffset))).size());
}

int CALLBACK NoteFace(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
  *reinterpret_cast<bool*>(found) = true;
  return 0;  // one is enough
}

bool FaceInstalled(HDC dc, const wchar_t* face) {
  LOGFONTW lf = {};
  lf.lfCharSet = DEFAULT_CHARSET;
  wcsncpy(lf.lfFaceName, face, LF_FACESIZE - 1);
  bool found = false;
  EnumFontFamiliesExW(dc, &lf, NoteFace, reinterpret_cast<LPARAM>(&found), 0);
  return found;
}

// The labels speak Chinese: the first installed face that has its characters, else the dialog
// font (which Windows links to one). Looked up once per process, on the UI thread.
const wchar_t* SansFace(HDC dc) {
  static const wchar_t* face = [dc]() -> const wchar_t* {
    for (const wchar_t* candidate : {L"Microsoft YaHei", L"SimSun", L"Noto Sans CJK SC"})
      if (FaceInstalled(dc, candidate)) return candidate;
    return L"MS Shell Dlg 2";
  }();
  return face;
}

}  // namespace

GdiPainter::~GdiPainter() {
  while (!layers_.empty()) EndLayer();
}

void GdiPainter::PushClip(int x, int y, int width, int height) {
  SaveDC(dc_);
  IntersectClipRect(dc_, x, y, x + width, y + height);
}

void GdiPainter::PopClip() { RestoreDC(dc_, -1); }

// The layer starts as a copy of what lies under it, so blended drawing sees the same background.
void GdiPainter::BeginLayer() {
  Layer layer = {};
  layer.target = dc_;
  if (GetClipBox(dc_, &layer.box) == ERROR || IsRectEmpty(&layer.box)) {
    layers_.push_back(layer);  // nothing visible: draw straight to the target
    return;
  }
  const int width = layer.box.right - layer.box.left;
  const int height = layer.box.bottom - layer.box.top;
  void* bits = nullptr;
  layer.memory = CreateCompatibleDC(dc_);
  layer.bitmap = layer.memory ? NewDibSection(dc_, width, height, &bits) : nullptr;
  if (!layer.bitmap) {
    if (layer.memory) DeleteDC(layer.memory);
    layer.memory = nullptr;
    layers_.push_back(layer);
    return;
  }
  layer.previous = SelectObject(layer.memory, layer.bitmap);
  BitBlt(layer.memory, 0, 0, width, height, dc_, layer.box.left, layer.box.top, SRCCOPY);
  SetViewportOrgEx(layer.memory, -layer.box.left, -layer.box.top, nullptr);
  dc_ = layer.memory;
  layers_.push_back(layer);
}

void GdiPainter::EndLayer() {
  if (layers_.empty()) return;
  const Layer layer = layers_.back();
  layers_.pop_back();
  dc_ = layer.target;
  if (!layer.memory) return;
  SetViewportOrgEx(layer.memory, 0, 0, nullptr);
  BitBlt(dc_, layer.box.left, layer.box.top, layer.box.right - layer.box.left, layer.box.bottom - layer.box.top,
         layer.memory, 0, 0, SRCCOPY);
  SelectObject(layer.memory, layer.previous);
  DeleteObject(layer.bitmap);
  DeleteDC(layer.memory);
}

void GdiPainter::FillRect(int x, int y, int width, int height, ColorRef color) {
  if (width <= 0 || height <= 0) return;
  HBRUSH brush = CreateSolidBrush(color);  // ColorRef is a COLORREF
  const RECT r = {x, y, x + width, y + height};
  ::FillRect(dc_, &r, brush);
  DeleteObject(brush);
}

// The picture's words are already premultiplied BGRA in memory, which is what AlphaBlend takes.
void GdiPainter::DrawPicture(const Picture& picture, int x, int y) {
  if (picture.Empty()) return;
  void* bits = nullptr;
  HBITMAP bitmap = NewDibSection(dc_, picture.Width(), picture.Height(), &bits);
  if (!bitmap) return;
  std::memcpy(bits, picture.Pixels(), static_cast<size_t>(picture.Width()) * picture.Height() * 4);
  HDC source = CreateCompatibleDC(dc_);
  if (source) {
    HGDIOBJ previous = SelectObject(source, bitmap);
    BLENDFUNCTION blend = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    AlphaBlend(dc_, x, y, picture.LogicalWidth(), picture.LogicalHeight(), source, 0, 0, picture.Width(),
               picture.Height(), blend);
    SelectObject(source, previous);
    DeleteDC(source);
  }
  DeleteObject(bitmap);
}

HFONT GdiPainter::CreateFontFor(HDC dc, const char* font) {
  std::string description = font ? font : "";
  int points = 9;
  const size_t space = description.find_last_of(' ');
  if (space != std::string::npos) {
    const int parsed = std::atoi(description.c_str() + space + 1);
    if (parsed > 0) {
      points = parsed;
      description.resize(space);
    }
  }
  const std::wstring face =
      description.empty() || description == "Sans" ? std::wstring(SansFace(dc)) : os::win32::Wide(description);
  LOGFONTW lf = {};
  lf.lfHeight = -MulDiv(points, GetDeviceCaps(dc, LOGPIXELSY), 72);
  lf.lfWeight = FW_NORMAL;
  lf.lfCharSet = DEFAULT_CHARSET;
  // Plain edges: the content window's colour key would turn smoothed edges into dark fringes.
  lf.lfQuality = NONANTIALIASED_QUALITY;
  wcsncpy(lf.lfFaceName, face.c_str(), LF_FACESIZE - 1);
  return CreateFontIndirectW(&lf);
}

TextExtent GdiPainter::MeasureText(const std::string& text, const char* font) {
  HFONT f = CreateFontFor(dc_, font);
  HGDIOBJ previous = SelectObject(dc_, f);
  const std::wstring wide = os::win32::Wide(text);
  RECT r = {0, 0, 0, 0};
  ::DrawTextW(dc_, wide.empty() ? L" " : wide.c_str(), wide.empty() ? 1 : static_cast<int>(wide.size()), &r,
              DT_CALCRECT | DT_NOPREFIX | DT_LEFT | DT_TOP);
  SelectObject(dc_, previous);
  DeleteObject(f);
  TextExtent extent;
  extent.width = wide.empty() ? 0 : r.right - r.left;
  extent.height = r.bottom - r.top;
  return extent;
}

// Line by line, so the underlined ranges can be measured within their line.
void GdiPainter::DrawText(const std::string& text, const char* font, ColorRef color, int x, int y,
                          const std::vector<std::pair<int, int>>& underlined) {
  HFONT f = CreateFontFor(dc_, font);
  HGDIOBJ previousFont = SelectObject(dc_, f);
  const int previousMode = SetBkMode(dc_, TRANSPARENT);
  const COLORREF previousColor = SetTextColor(dc_, color);
  TEXTMETRICW metrics = {};
  GetTextMetricsW(dc_, &metrics);
  const int lineHeight = metrics.tmHeight;

  size_t start = 0;
  int top = y;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    const std::wstring wide = os::win32::Wide(line);
    RECT r = {x, top, x + 32767, top + lineHeight};
    ::DrawTextW(dc_, wide.c_str(), static_cast<int>(wide.size()), &r,
                DT_NOPREFIX | DT_NOCLIP | DT_LEFT | DT_TOP | DT_SINGLELINE);
    for (const auto& [from, to] : underlined) {
      const int lineFrom = std::max(from, static_cast<int>(start)) - static_cast<int>(start);
      const int lineTo = std::min(to, static_cast<int>(end)) - static_cast<int>(start);
      if (lineFrom >= lineTo) continue;
      const int a = WideOffset(line, lineFrom);
      const int b = WideOffset(line, lineTo);
      SIZE before = {}, through = {};
      GetTextExtentPoint32W(dc_, wide.c_str(), a, &before);
      GetTextExtentPoint32W(dc_, wide.c_str(), b, &through);
      const int underlineY = top + metrics.tmAscent + 1;
      FillRect(x + before.cx, underlineY, through.cx - before.cx, 1, color);
    }
    top += lineHeight;
    if (end == text.size()) break;
    start = end + 1;
  }

  SetTextColor(dc_, previousColor);
  SetBkMode(dc_, previousMode);
  SelectObject(dc_, previousFont);
  DeleteObject(f);
}
