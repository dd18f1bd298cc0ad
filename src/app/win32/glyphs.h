#pragma once

#include <windows.h>

namespace pasarela {

// The pictures on the window's buttons.
enum class Glyph {
    CheckMark,  // green tick of an OK button
    Cross,      // red X of a close button
};

// Draws `glyph` in a `size` x `size` square with smooth edges, followed by `gap` clear
// columns that keep a button's caption off the picture. Made at run time so it stays sharp
// at every DPI; the caller destroys it with DestroyIcon. Throws Error when Windows refuses.
HICON MakeGlyphIcon(Glyph glyph, int size, int gap);

}  // namespace pasarela
