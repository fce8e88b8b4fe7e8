// A small fixed bitmap font, so the map picture needs no font library.
#pragma once

#include <string>

namespace vt {

constexpr int kGlyphWidth = 5;
constexpr int kGlyphHeight = 7;
constexpr int kGlyphAdvance = 6;

// Whether pixel (x, y) of the character's glyph is set; characters without
// a glyph draw as '?'.
bool GlyphPixel(char ch, int x, int y);
// Width in pixels of a line of text.
int TextWidth(const std::string& text);

}  // namespace vt
