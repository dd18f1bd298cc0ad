#include "app/win32/kept_sets_dialog.h"

#include <commctrl.h>

#include <algorithm>

#include "app/win32/resource_ids.h"
#include "os/error.h"
#include "os/system_message.h"

namespace pasarela {
namespace {

constexpr wchar_t kCaption[] = L"Deshacer una importación";
constexpr wchar_t kExplanation[] =
    L"Tablas que Pasarela guardó al sustituirlas, de la más reciente a la más antigua. Elija las que "
    L"quiere volver a poner en la carpeta de Orlavi y pulse Restaurar.";
constexpr wchar_t kRestoreCaption[] = L"&Restaurar";
constexpr wchar_t kCancelCaption[] = L"Cancelar";

// The columns and their shares of the list's width, in hundredths.
struct Column {
    const wchar_t* heading;
    int share;
    int format;
};
constexpr Column kColumns[] = {
    {L"Fecha", 20, LVCFMT_LEFT},
    {L"Archivo", 19, LVCFMT_LEFT},
    {L"Centro", 47, LVCFMT_LEFT},
    {L"Filas", 14, LVCFMT_RIGHT},
};

void FillList(HWND list, const KeptSetsDialogValues& values)
{
    ListView_SetExtendedListViewStyle(list, LVS_EX_FULLROWSELECT | LVS_EX_LABELTIP);
    RECT client;
    GetClientRect(list, &client);
    // What the width leaves after a vertical scroll bar, so ten rows never need a horizontal one.
    const int width = client.right - client.left - GetSystemMetrics(SM_CXVSCROLL);
    int index = 0;
    for (const Column& column : kColumns) {
        LVCOLUMNW item{};
        item.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
        item.fmt = column.format;
        item.cx = MulDiv(width, column.share, 100);
        item.pszText = const_cast<wchar_t*>(column.heading);
        ListView_InsertColumn(list, index++, &item);
    }
    for (int row = 0; row < static_cast<int>(values.rows.size()); ++row) {
        LVITEMW item{};
        item.mask = LVIF_TEXT;
        item.iItem = row;
        item.pszText = const_cast<wchar_t*>(values.rows[row][0].c_str());
        ListView_InsertItem(list, &item);
        for (int column = 1; column < static_cast<int>(values.rows[row].size()); ++column)
            ListView_SetItemText(list, row, column, const_cast<wchar_t*>(values.rows[row][column].c_str()));
    }
    const int selected = std::clamp(values.selected, 0, std::max(0, static_cast<int>(values.rows.size()) - 1));
    ListView_SetItemState(list, selected, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    ListView_EnsureVisible(list, selected, FALSE);
}

INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* values = reinterpret_cast<KeptSetsDialogValues*>(GetWindowLongPtrW(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG: {
        values = reinterpret_cast<KeptSetsDialogValues*>(lParam);
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        SetWindowTextW(dialog, kCaption);
        SetDlgItemTextW(dialog, IDC_KEPT_SETS_LABEL, kExplanation);
        SetDlgItemTextW(dialog, IDOK, kRestoreCaption);
        SetDlgItemTextW(dialog, IDCANCEL, kCancelCaption);
        HWND list = GetDlgItem(dialog, IDC_KEPT_SETS_LIST);
        FillList(list, *values);
        // The keyboard starts on the list, where Enter restores the selected row.
        SetFocus(list);
        return FALSE;
    }
    case WM_NOTIFY: {
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header->idFrom == IDC_KEPT_SETS_LIST && header->code == NM_DBLCLK &&
            reinterpret_cast<const NMITEMACTIVATE*>(lParam)->iItem >= 0)
            PostMessageW(dialog, WM_COMMAND, IDOK, 0);
        return FALSE;
    }
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK: {
            const int selected = ListView_GetNextItem(GetDlgItem(dialog, IDC_KEPT_SETS_LIST), -1, LVNI_SELECTED);
            if (selected < 0) {
                MessageBeep(MB_ICONWARNING);  // a click beside the rows chose none
                return TRUE;
            }
            values->selected = selected;
            EndDialog(dialog, IDOK);
            return TRUE;
        }
        case IDCANCEL:
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        default:
            return FALSE;
        }
    default:
        return FALSE;
    }
}

}  // namespace

bool ShowKeptSetsDialog(HINSTANCE instance, HWND owner, KeptSetsDialogValues& values)
{
    const INT_PTR result = DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_KEPT_SETS), owner, DialogProc,
                                           reinterpret_cast<LPARAM>(&values));
    if (result == -1)
        throw Error("No se pudo mostrar la lista de tablas guardadas: " + SystemMessage(GetLastError()));
    return result == IDOK;
}

}  // namespace pasarela
