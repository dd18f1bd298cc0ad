#pragma once

#include <windows.h>

namespace pasarela {

// The pictures on the window's buttons.
enum class Glyph {
    CheckMark,  // green tick of an OK button
    Cross,      // red X of a close button
};

// A `size`-pixel smooth `glyph` plus `gap` clear columns before the caption; caller calls DestroyIcon.
HICON MakeGlyphIcon(Glyph glyph, int size, int gap);

}  // namespace pasarela
