#pragma once

#include <windows.h>

#include <array>
#include <string>
#include <vector>

namespace pasarela {

// What the dialog of kept sets shows, and the row the user leaves chosen in it.
struct KeptSetsDialogValues {
    // One row per kept set, newest first: fecha, archivo, centro, filas.
    std::vector<std::array<std::wstring, 4>> rows;
    // The row selected as the dialog opens, and the one chosen when it closes.
    int selected = 0;
};

// Shows the dialog over `owner` and waits; true when Restaurar (or Enter, or a double
// click on a row) chose values.selected, false for Cancelar, Escape or the close box.
bool ShowKeptSetsDialog(HINSTANCE instance, HWND owner, KeptSetsDialogValues& values);

}  // namespace pasarela
