// The window's pictures, drawn by Lumisave itself: the banner, the two
// labels, the picture buttons (up and pressed) and the icon.
#pragma once

#include <wx/bitmap.h>
#include <wx/iconbndl.h>
#include <wx/string.h>

namespace gui {

// Every picture has its size at a scale of 1 (the window's dialog units at
// 1.5 pixels each); `scale` enlarges it with the window's font.
// The banner heading the window (630 x 40 pixels).
wxBitmap DrawBanner(const wxString& words, double scale);
// A label picture of `width` x `height` pixels. Words separated by '|' are
// placed at the given fractions of the width (the first at the left).
wxBitmap DrawLabel(const wxString& words, int width, int height, double secondAt, double scale);
// A picture button's image, 130 x 34 pixels, up or pressed.
wxBitmap DrawButton(const wxString& words, bool pressed, double scale);
// The window's icon in the usual sizes.
wxIconBundle DrawIcons();

// The words of a picture button by its caption (STARTRE: "Start Recovery").
wxString ButtonWords(const std::string& caption);

}  // namespace gui
