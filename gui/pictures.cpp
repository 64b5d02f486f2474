#include "gui/pictures.h"

#include <wx/dcmemory.h>
#include <wx/graphics.h>
#include <wx/icon.h>
#include <wx/image.h>

#include <algorithm>
#include <memory>
#include <string>

namespace gui {
namespace {

const wxColour kDeepBlue(28, 58, 112);
const wxColour kSkyBlue(88, 136, 204);
const wxColour kLabelText(20, 32, 64);

wxFont Font(int points, bool bold) {
  return wxFont(wxFontInfo(points).Family(wxFONTFAMILY_SWISS).Bold(bold));
}

// A bitmap filled by `draw`, with a graphics context for smooth shapes.
template <typename Draw>
wxBitmap Paint(int width, int height, const wxColour& background, Draw draw) {
  wxBitmap bitmap(width, height, 24);
  wxMemoryDC dc(bitmap);
  dc.SetBackground(wxBrush(background));
  dc.Clear();
  std::unique_ptr<wxGraphicsContext> gc(wxGraphicsContext::Create(dc));
  if (gc) draw(*gc, dc);
  dc.SelectObject(wxNullBitmap);
  return bitmap;
}

void CentredText(wxGraphicsContext& gc, const wxString& text, const wxRect2DDouble& box) {
  double w = 0, h = 0;
  gc.GetTextExtent(text, &w, &h);
  gc.DrawText(text, box.m_x + (box.m_width - w) / 2, box.m_y + (box.m_height - h) / 2);
}

// A memory card: a plate with a cut corner, contacts and a small picture.
void DrawCard(wxGraphicsContext& gc, double x, double y, double size) {
  const double w = size * 0.72, h = size, cut = size * 0.22;
  wxGraphicsPath card = gc.CreatePath();
  card.MoveToPoint(x + cut, y);
  card.AddLineToPoint(x + w, y);
  card.AddLineToPoint(x + w, y + h);
  card.AddLineToPoint(x, y + h);
  card.AddLineToPoint(x, y + cut);
  card.CloseSubpath();
  gc.SetPen(wxPen(wxColour(20, 30, 60), std::max(1.0, size / 24)));
  gc.SetBrush(gc.CreateLinearGradientBrush(x, y, x + w, y + h, wxColour(70, 80, 100),
                                           wxColour(30, 36, 50)));
  gc.FillPath(card);
  gc.StrokePath(card);
  gc.SetPen(*wxTRANSPARENT_PEN);
  gc.SetBrush(wxBrush(wxColour(230, 190, 80)));
  for (int i = 0; i < 4; ++i) {
    gc.DrawRectangle(x + cut + i * w * 0.16, y + size * 0.06, w * 0.09, size * 0.16);
  }
  // The picture on the card's label: a sky, a sun and a hill.
  const double px = x + w * 0.14, py = y + h * 0.42, pw = w * 0.72, ph = h * 0.46;
  gc.SetBrush(wxBrush(wxColour(150, 200, 245)));
  gc.DrawRectangle(px, py, pw, ph);
  gc.SetBrush(wxBrush(wxColour(250, 210, 60)));
  gc.DrawEllipse(px + pw * 0.62, py + ph * 0.12, pw * 0.24, pw * 0.24);
  wxGraphicsPath hill = gc.CreatePath();
  hill.MoveToPoint(px, py + ph);
  hill.AddLineToPoint(px + pw * 0.38, py + ph * 0.38);
  hill.AddLineToPoint(px + pw * 0.7, py + ph * 0.75);
  hill.AddLineToPoint(px + pw, py + ph * 0.5);
  hill.AddLineToPoint(px + pw, py + ph);
  hill.CloseSubpath();
  gc.SetBrush(wxBrush(wxColour(60, 140, 70)));
  gc.FillPath(hill);
}

int Scaled(int size, double scale) { return static_cast<int>(size * scale + 0.5); }

// The largest bold font, up to `points`, in which `text` fits `width`.
wxFont FittingFont(wxGraphicsContext& gc, const wxString& text, int points, double width,
                   const wxColour& colour) {
  for (; points > 6; --points) {
    gc.SetFont(Font(points, true), colour);
    double w = 0, h = 0;
    gc.GetTextExtent(text, &w, &h);
    if (w <= width) break;
  }
  gc.SetFont(Font(points, true), colour);
  return Font(points, true);
}

}  // namespace

wxBitmap DrawBanner(const wxString& words, double scale) {
  const int width = Scaled(630, scale), height = Scaled(40, scale);
  return Paint(width, height, kDeepBlue, [&](wxGraphicsContext& gc, wxMemoryDC&) {
    gc.SetBrush(gc.CreateLinearGradientBrush(0, 0, width, 0, kDeepBlue, kSkyBlue));
    gc.SetPen(*wxTRANSPARENT_PEN);
    gc.DrawRectangle(0, 0, width, height);
    gc.SetBrush(wxBrush(wxColour(255, 255, 255, 40)));
    gc.DrawRectangle(0, 0, width, height / 2);
    DrawCard(gc, 14 * scale, 4 * scale, 32 * scale);
    FittingFont(gc, words, Scaled(15, scale), width - 70 * scale, *wxWHITE);
    double w = 0, h = 0;
    gc.GetTextExtent(words, &w, &h);
    gc.DrawText(words, 56 * scale, (height - h) / 2);
  });
}

wxBitmap DrawLabel(const wxString& words, int width, int height, double secondAt, double scale) {
  width = Scaled(width, scale);
  height = Scaled(height, scale);
  return Paint(width, height, wxColour(156, 172, 198), [&](wxGraphicsContext& gc, wxMemoryDC&) {
    const wxString first = words.BeforeFirst('|');
    const wxString second = words.AfterFirst('|');
    FittingFont(gc, first, std::max(7, height * 6 / 10 * 72 / 96 + 1),
                (second.empty() ? 1.0 : secondAt) * width - 6, kLabelText);
    double w = 0, h = 0;
    gc.GetTextExtent(first, &w, &h);
    gc.DrawText(first, 2, (height - h) / 2);
    if (!second.empty()) gc.DrawText(second, width * secondAt, (height - h) / 2);
  });
}

wxBitmap DrawButton(const wxString& words, bool pressed, double scale) {
  const int width = Scaled(130, scale), height = Scaled(34, scale);
  return Paint(width, height, wxColour(156, 172, 198), [&](wxGraphicsContext& gc, wxMemoryDC&) {
    const double shift = pressed ? 1.5 * scale : 0;
    const wxColour top = pressed ? wxColour(40, 80, 150) : wxColour(110, 160, 230);
    const wxColour bottom = pressed ? wxColour(70, 120, 200) : wxColour(30, 70, 140);
    gc.SetBrush(gc.CreateLinearGradientBrush(0, 0, 0, height, top, bottom));
    gc.SetPen(wxPen(wxColour(18, 36, 80), 1));
    gc.DrawRoundedRectangle(1 + shift, 1 + shift, width - 3, height - 3, 7 * scale);
    if (!pressed) {
      gc.SetPen(wxPen(wxColour(255, 255, 255, 90), 1));
      gc.StrokeLine(8 * scale, 3 * scale, width - 9 * scale, 3 * scale);
    }
    FittingFont(gc, words, Scaled(11, scale), width - 12 * scale, *wxWHITE);
    CentredText(gc, words, wxRect2DDouble(shift, shift, width, height));
  });
}

wxIconBundle DrawIcons() {
  wxIconBundle icons;
  for (int size : {16, 32, 48}) {
    wxBitmap bitmap = Paint(size, size, wxColour(156, 172, 198),
                            [&](wxGraphicsContext& gc, wxMemoryDC&) {
                              DrawCard(gc, size * 0.14, 0.5, size - 1.0);
                            });
    wxIcon icon;
    icon.CopyFromBitmap(bitmap);
    icons.AddIcon(icon);
  }
  return icons;
}

wxString ButtonWords(const std::string& caption) {
  if (caption == "STARTRE") return "Start Recovery";
  if (caption == "VIEWPHOTO") return "View Photos";
  if (caption == "SELECTDIR") return "Select Folder";
  return wxString::FromUTF8(caption.c_str());
}

}  // namespace gui
