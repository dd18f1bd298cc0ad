#pragma once

// Resource and control identifiers, shared by pasarela.rc and the window's code.

#define IDI_PASARELA 1

#define IDC_CLOSE_BUTTON 101
#define IDC_HELP_BUTTON 102
#define IDC_IMPORT_BUTTON 103
#define IDC_EXPORT_BUTTON 104
#define IDC_PROGRESS_BAR 105
#define IDC_UNDO_BUTTON 106

#define IDD_KEPT_SETS 200
#define IDC_KEPT_SETS_LABEL 201
#define IDC_KEPT_SETS_LIST 202
