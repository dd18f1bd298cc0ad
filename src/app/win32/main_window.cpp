#include "app/win32/main_window.h"

#include <commctrl.h>
#include <commdlg.h>

#include <algorithm>
#include <cmath>
#include <system_error>
#include <utility>

#include "app/version.h"
#include "app/win32/glyphs.h"
#include "app/win32/kept_sets_dialog.h"
#include "app/win32/resource_ids.h"
#include "app/win32/wide_text.h"
#include "os/error.h"
#include "os/system_message.h"

namespace pasarela {
namespace {

constexpr wchar_t kClassName[] = L"PasarelaMainWindow";
constexpr wchar_t kCaption[] = L"Exportar e importar datos entre Orlavi y DASTENO";
// The program's title: every message box carries it.
constexpr wchar_t kTitle[] = L"Pasarela";
constexpr wchar_t kFileDialogTitle[] = L"Seleccione Archivo XML obtenido de DASTENO";
constexpr wchar_t kImportCaption[] = L"Transformar datos desde DASTENO hacia Orlavi ";
constexpr wchar_t kExportCaption[] = L"Transformar datos desde Orlavi hacia DASTENO";
// The program's name and version, then the Orlavi release it works with.
constexpr wchar_t kVersionLine[] = L"Pasarela " PASARELA_VERSION L" para OV18 V-1.0";
// The help's topic for this window, also asked for by F1.
constexpr unsigned long kHelpContext = 3;

// Posted by the job's thread: the share read, in thousandths (wParam); the job has ended.
constexpr UINT kProgressMessage = WM_APP + 1;
constexpr UINT kJobEndedMessage = WM_APP + 2;
constexpr int kProgressSteps = 1000;
constexpr UINT kMarqueeMilliseconds = 30;

// A fixed dialog frame: no resizing or maximise box, but a minimise box, so a long run
// can be put out of the way.
constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
constexpr DWORD kExStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT | WS_EX_APPWINDOW;

// Design positions in pixels at 96 DPI; a control's are relative to its area's top left.
struct DesignRect {
    int left, top, width, height;
};

constexpr DesignRect kClientArea{0, 0, 632, 266};
constexpr DesignRect kImportArea{0, 0, 315, 169};
constexpr DesignRect kExportArea{316, 0, 317, 169};
constexpr DesignRect kWholeTop{0, 0, 633, 169};  // a batch job's area, over the bottom strip
constexpr DesignRect kBottomArea{0, 168, 633, 97};
constexpr DesignRect kImportLabel{24, 24, 265, 57};
constexpr DesignRect kExportLabel{8, 24, 305, 57};
constexpr DesignRect kJobButton{96, 120, 89, 25};
constexpr DesignRect kProgressBar{24, 92, 265, 17};  // between the caption and the button
constexpr DesignRect kCloseButton{256, 32, 89, 25};
constexpr DesignRect kHelpButton{40, 64, 75, 25};
constexpr DesignRect kUndoButton{123, 64, 89, 25};  // beside the help, clear of Salir above
constexpr DesignRect kVersionLabel{368, 72, 233, 13};
constexpr int kGlyphSize = 16;
constexpr int kGlyphGap = 4;  // between a button's glyph and its caption

// Top to bottom: start, middle, end.
struct Gradient {
    COLORREF start, middle, end;
};

constexpr Gradient kJobGradient{RGB(0xF9, 0xD3, 0x7D), RGB(0xFF, 0xFF, 0xFF), RGB(0xFF, 0xEE, 0xDD)};
constexpr Gradient kBottomGradient{RGB(0xC2, 0xCD, 0xFE), RGB(0xCF, 0xF2, 0xFE), RGB(0xCC, 0xD8, 0xE6)};

// In batch mode the one job's area spans the top, its caption and button in the middle;
// the bottom strip stays, so a run that fails leaves Salir, the help and the version at hand.
DesignRect ImportAreaOf(const LaunchMode& mode) { return mode.showExportArea ? kImportArea : kWholeTop; }
DesignRect ExportAreaOf(const LaunchMode& mode) { return mode.showImportArea ? kExportArea : kWholeTop; }

// Where a job's caption, button and progress bar are measured from: their design area,
// centred in the area the job has.
POINT ContentOrigin(const DesignRect& area, const DesignRect& design)
{
    return {area.left + (area.width - design.width) / 2, area.top};
}

// Entry points of newer Windows versions, looked up so the program still starts on older ones.
template <typename Function>
Function User32Function(const char* name)
{
    // GetProcAddress hands back a generic pointer; void(*)() converts to any function type.
    auto entry = reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"user32.dll"), name));
    return reinterpret_cast<Function>(entry);
}

UINT DpiOf(HWND window)
{
    using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
    static const auto getDpiForWindow = User32Function<GetDpiForWindowFunction>("GetDpiForWindow");
    if (getDpiForWindow != nullptr)
        if (const UINT dpi = getDpiForWindow(window); dpi != 0)
            return dpi;
    HDC dc = GetDC(window);
    const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
    ReleaseDC(window, dc);
    return dpi > 0 ? static_cast<UINT>(dpi) : USER_DEFAULT_SCREEN_DPI;
}

SIZE FrameSizeFor(int clientWidth, int clientHeight, UINT dpi)
{
    using AdjustForDpiFunction = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
    static const auto adjustForDpi = User32Function<AdjustForDpiFunction>("AdjustWindowRectExForDpi");
    RECT frame{0, 0, clientWidth, clientHeight};
    if (adjustForDpi != nullptr)
        adjustForDpi(&frame, kStyle, FALSE, kExStyle, dpi);
    else
        AdjustWindowRectEx(&frame, kStyle, FALSE, kExStyle);
    return {frame.right - frame.left, frame.bottom - frame.top};
}

COLORREF Mix(COLORREF from, COLORREF to, double share)
{
    auto channel = [share](int a, int b) { return static_cast<BYTE>(a + (b - a) * share + 0.5); };
    return RGB(channel(GetRValue(from), GetRValue(to)), channel(GetGValue(from), GetGValue(to)),
               channel(GetBValue(from), GetBValue(to)));
}

// Row by row: a three-colour gradient needs no msimg32.
void PaintGradient(HDC dc, const RECT& area, const Gradient& gradient)
{
    const int height = area.bottom - area.top;
    HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(DC_BRUSH));
    for (int row = 0; row < height; ++row) {
        const double position = height > 1 ? static_cast<double>(row) / (height - 1) : 0.0;
        SetDCBrushColor(dc, position < 0.5 ? Mix(gradient.start, gradient.middle, position * 2)
                                           : Mix(gradient.middle, gradient.end, position * 2 - 1));
        PatBlt(dc, area.left, area.top + row, area.right - area.left, 1, PATCOPY);
    }
    SelectObject(dc, oldBrush);
}

// A transparent label; it may run past its box rather than lose a line at a large DPI.
void DrawLabel(HDC dc, HFONT font, COLORREF colour, RECT box, const wchar_t* text, UINT format)
{
    HGDIOBJ oldFont = SelectObject(dc, font);
    SetTextColor(dc, colour);
    SetBkMode(dc, TRANSPARENT);
    DrawTextW(dc, text, -1, &box, format | DT_NOPREFIX | DT_NOCLIP);
    SelectObject(dc, oldFont);
}

// Centres `window` over `over` (the screen's work area when none), kept on that screen.
void CentreWindow(HWND window, HWND over)
{
    RECT box;
    GetWindowRect(window, &box);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoW(over != nullptr ? MonitorFromWindow(over, MONITOR_DEFAULTTOPRIMARY)
                                    : MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY),
                    &monitor);
    RECT target = monitor.rcWork;
    if (over != nullptr)
        GetWindowRect(over, &target);
    const RECT& work = monitor.rcWork;
    const LONG width = box.right - box.left;
    const LONG height = box.bottom - box.top;
    const LONG left = std::clamp((target.left + target.right - width) / 2, work.left,
                                 std::max(work.left, work.right - width));
    const LONG top = std::clamp((target.top + target.bottom - height) / 2, work.top,
                                std::max(work.top, work.bottom - height));
    SetWindowPos(window, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// The file dialog opens where it likes (Wine: at its owner's top left corner), and takes
// no hook of its own without losing the newer look on Windows: a hook on this thread's
// window activations centres it over the window as it first shows.
class CentredDialog {
public:
    explicit CentredDialog(HWND over)
    {
        over_ = over;
        hook_ = SetWindowsHookExW(WH_CBT, OnWindowEvent, nullptr, GetCurrentThreadId());
    }
    ~CentredDialog() { Unhook(); }
    CentredDialog(const CentredDialog&) = delete;
    CentredDialog& operator=(const CentredDialog&) = delete;

private:
    static void Unhook()
    {
        if (hook_ != nullptr)
            UnhookWindowsHookEx(hook_);
        hook_ = nullptr;
    }

    static LRESULT CALLBACK OnWindowEvent(int code, WPARAM wParam, LPARAM lParam)
    {
        const HHOOK hook = hook_;
        if (code == HCBT_ACTIVATE) {
            // The dialog is the first window activated: the owner is disabled while it shows.
            CentreWindow(reinterpret_cast<HWND>(wParam), over_);
            Unhook();
        }
        return CallNextHookEx(hook, code, wParam, lParam);
    }

    static thread_local inline HHOOK hook_ = nullptr;
    static thread_local inline HWND over_ = nullptr;
};

}  // namespace

MainWindow::MainWindow(HINSTANCE instance, LaunchMode mode, ShellSettings settings, std::filesystem::path helpFile)
    : instance_(instance), shell_(mode, std::move(settings), *this), help_(std::move(helpFile))
{
}

MainWindow::~MainWindow()
{
    // A job still running (the window was torn down under it) ends before what it uses goes.
    if (worker_.joinable())
        worker_.join();
    if (window_ != nullptr) {
        closing_ = true;  // torn down after a failed start: no outcome to record
        DestroyWindow(window_);
    }
}

int MainWindow::Run(int showCommand)
{
    Create();
    // Shown before a batch job starts: its dialogs then open centred over the window, in
    // front, with the keyboard, and its run has a window to show its progress in.
    ShowWindow(window_, showCommand);
    UpdateWindow(window_);
    if (shell_.Mode().startJob != Job::None)
        SetForegroundWindow(window_);
    shell_.OnShow();
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        // Tab, Enter and Alt+S move and press the buttons as in a dialog.
        if (window_ != nullptr && IsDialogMessageW(window_, &message) != FALSE)
            continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return shell_.ExitStatus();
}

void MainWindow::Create()
{
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance_;
    windowClass.hIcon = static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(IDI_PASARELA), IMAGE_ICON,
                                                      GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0));
    windowClass.hIconSm = static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(IDI_PASARELA), IMAGE_ICON,
                                                        GetSystemMetrics(SM_CXSMICON),
                                                        GetSystemMetrics(SM_CYSMICON), 0));
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    windowClass.lpszClassName = kClassName;
    if (RegisterClassExW(&windowClass) == 0)
        throw Error("No se pudo crear la ventana principal: " + SystemMessage(GetLastError()));

    // Born on the primary screen, so the DPI it reads is the one it will be shown at.
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoW(MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY), &monitor);
    const RECT& work = monitor.rcWork;
    if (CreateWindowExW(kExStyle, kClassName, kCaption, kStyle, (work.left + work.right) / 2,
                        (work.top + work.bottom) / 2, 1, 1, nullptr, nullptr, instance_, this) == nullptr)
        throw Error("No se pudo crear la ventana principal: " + SystemMessage(GetLastError()));

    // Creation order is the tab order: bottom strip, then the import, then the export. A
    // button of a hidden area is never made visible, so Tab skips it.
    const LaunchMode& mode = shell_.Mode();
    closeButton_ = CreateButton(IDC_CLOSE_BUTTON, L"&Salir", true);
    helpButton_ = CreateButton(IDC_HELP_BUTTON, L"F1 Ayuda", true);
    // Greyed until the Shell says a set is kept; never shown to Orlavi's batch runs, which
    // asked for one job and read back its outcome.
    undoButton_ = CreateButton(IDC_UNDO_BUTTON, L"&Deshacer…", mode.batchMode != kBatchMode);
    EnableWindow(undoButton_, FALSE);
    importButton_ = CreateButton(IDC_IMPORT_BUTTON, L"OK", mode.showImportArea);
    exportButton_ = CreateButton(IDC_EXPORT_BUTTON, L"OK", mode.showExportArea);
    progressBar_ = CreateWindowExW(0, PROGRESS_CLASSW, nullptr, WS_CHILD, 0, 0, 0, 0, window_,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_PROGRESS_BAR)), instance_,
                                   nullptr);
    if (progressBar_ == nullptr)
        throw Error("No se pudo crear la barra de progreso: " + SystemMessage(GetLastError()));

    ApplyDpi(DpiOf(window_));
    const SIZE frame = FrameSizeFor(Scale(kClientArea.width), Scale(kClientArea.height), dpi_);
    SetWindowPos(window_, nullptr, work.left + (work.right - work.left - frame.cx) / 2,
                 work.top + (work.bottom - work.top - frame.cy) / 2, frame.cx, frame.cy,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

HWND MainWindow::CreateButton(int id, const wchar_t* caption, bool visible)
{
    const DWORD style = WS_CHILD | WS_TABSTOP | BS_PUSHBUTTON | (visible ? WS_VISIBLE : 0);
    HWND button = CreateWindowExW(0, L"BUTTON", caption, style, 0, 0, 0, 0, window_,
                                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance_, nullptr);
    if (button == nullptr)
        throw Error("No se pudo crear un botón de la ventana: " + SystemMessage(GetLastError()));
    return button;
}

int MainWindow::Scale(int designPixels) const
{
    return MulDiv(designPixels, static_cast<int>(dpi_), USER_DEFAULT_SCREEN_DPI);
}

// Fonts, glyphs and positions for `dpi`; the buttons take the new ones before the old go.
void MainWindow::ApplyDpi(UINT dpi)
{
    dpi_ = dpi;
    auto makeFont = [this](const wchar_t* face, int points, int weight) {
        return FontHandle(CreateFontW(-MulDiv(points, static_cast<int>(dpi_), 72), 0, 0, 0, weight, FALSE, FALSE,
                                      FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                      DEFAULT_PITCH | FF_SWISS, face));
    };
    FontHandle textFont = makeFont(L"MS Sans Serif", 8, FW_NORMAL);
    FontHandle captionFont = makeFont(L"Arial", 12, FW_BOLD);
    FontHandle versionFont = makeFont(L"MS Sans Serif", 8, FW_BOLD);
    IconHandle checkMark(MakeGlyphIcon(Glyph::CheckMark, Scale(kGlyphSize), Scale(kGlyphGap)));
    IconHandle cross(MakeGlyphIcon(Glyph::Cross, Scale(kGlyphSize), Scale(kGlyphGap)));
    for (HWND button : {closeButton_, helpButton_, undoButton_, importButton_, exportButton_})
        SendMessageW(button, WM_SETFONT, reinterpret_cast<WPARAM>(textFont.get()), FALSE);
    SendMessageW(importButton_, BM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(checkMark.get()));
    SendMessageW(exportButton_, BM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(checkMark.get()));
    SendMessageW(closeButton_, BM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(cross.get()));
    textFont_ = std::move(textFont);
    captionFont_ = std::move(captionFont);
    versionFont_ = std::move(versionFont);
    checkMark_ = std::move(checkMark);
    cross_ = std::move(cross);
    PlaceControls();
    InvalidateRect(window_, nullptr, FALSE);
}

void MainWindow::PlaceControls()
{
    const LaunchMode& mode = shell_.Mode();
    auto place = [this](HWND control, POINT origin, const DesignRect& rect) {
        MoveWindow(control, Scale(origin.x) + Scale(rect.left), Scale(origin.y) + Scale(rect.top), Scale(rect.width),
                   Scale(rect.height), TRUE);
    };
    const POINT bottom{kBottomArea.left, kBottomArea.top};
    const POINT importOrigin = ContentOrigin(ImportAreaOf(mode), kImportArea);
    const POINT exportOrigin = ContentOrigin(ExportAreaOf(mode), kExportArea);
    place(closeButton_, bottom, kCloseButton);
    place(helpButton_, bottom, kHelpButton);
    place(undoButton_, bottom, kUndoButton);
    place(importButton_, importOrigin, kJobButton);
    place(exportButton_, exportOrigin, kJobButton);
    place(progressBar_, runningJob_ == Job::Export ? exportOrigin : importOrigin, kProgressBar);
}

void MainWindow::Paint(HDC dc) const
{
    const LaunchMode& mode = shell_.Mode();
    auto areaRect = [this](const DesignRect& area) {
        return RECT{Scale(area.left), Scale(area.top), Scale(area.left + area.width), Scale(area.top + area.height)};
    };
    auto labelRect = [this](POINT origin, const DesignRect& label) {
        const int left = Scale(origin.x) + Scale(label.left);
        const int top = Scale(origin.y) + Scale(label.top);
        return RECT{left, top, left + Scale(label.width), top + Scale(label.height)};
    };

    RECT client;
    GetClientRect(window_, &client);
    FillRect(dc, &client, GetSysColorBrush(COLOR_BTNFACE));
    const COLORREF text = GetSysColor(COLOR_WINDOWTEXT);
    PaintGradient(dc, areaRect(kBottomArea), kBottomGradient);
    DrawLabel(dc, versionFont_.get(), RGB(0xFF, 0, 0), labelRect({kBottomArea.left, kBottomArea.top}, kVersionLabel),
              kVersionLine, DT_SINGLELINE);
    if (mode.showImportArea) {
        const DesignRect area = ImportAreaOf(mode);
        PaintGradient(dc, areaRect(area), kJobGradient);
        DrawLabel(dc, captionFont_.get(), text, labelRect(ContentOrigin(area, kImportArea), kImportLabel),
                  kImportCaption, DT_WORDBREAK);
    }
    if (mode.showExportArea) {
        const DesignRect area = ExportAreaOf(mode);
        PaintGradient(dc, areaRect(area), kJobGradient);
        DrawLabel(dc, captionFont_.get(), text, labelRect(ContentOrigin(area, kExportArea), kExportLabel),
                  kExportCaption, DT_WORDBREAK);
    }
}

bool MainWindow::CanTakeFocus(HWND control) const
{
    return IsOwnButton(control) && IsWindowVisible(control) != FALSE && IsWindowEnabled(control) != FALSE;
}

bool MainWindow::IsOwnButton(HWND control) const
{
    return control != nullptr &&
           (control == closeButton_ || control == helpButton_ || control == undoButton_ || control == importButton_ ||
            control == exportButton_);
}

// Where the keyboard starts: a job's button, never Salir, so an Enter pressed at once
// does not end the program.
HWND MainWindow::FirstTabStop() const
{
    return shell_.Mode().showImportArea ? importButton_ : exportButton_;
}

void MainWindow::OnCommand(int id)
{
    switch (id) {
    case IDC_CLOSE_BUTTON:
        Close();
        break;
    case IDC_HELP_BUTTON:
        help_.ShowContents(window_);
        break;
    case IDC_IMPORT_BUTTON:
        shell_.RunImport();
        break;
    case IDC_EXPORT_BUTTON:
        shell_.RunExport();
        break;
    case IDC_UNDO_BUTTON:
        shell_.RunUndo();
        break;
    default:
        break;  // IDCANCEL from Escape and IDOK from Enter outside a button: nothing to do
    }
}

void MainWindow::Close()
{
    if (closing_ || window_ == nullptr)
        return;
    // A running job finishes first: its tables are replaced together at its end.
    if (busy_) {
        MessageBeep(MB_ICONWARNING);
        return;
    }
    closing_ = true;
    shell_.OnClose();
    DestroyWindow(window_);
}

LRESULT CALLBACK MainWindow::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        auto* created = reinterpret_cast<CREATESTRUCTW*>(lParam);
        auto* self = static_cast<MainWindow*>(created->lpCreateParams);
        self->window_ = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self == nullptr)
        return DefWindowProcW(window, message, wParam, lParam);
    // Nothing may unwind through Windows: what the Shell does not catch is shown here.
    try {
        return self->HandleMessage(message, wParam, lParam);
    } catch (const std::exception& e) {
        self->ShowMessage(UserMessage(e), MessageKind::Error);
    } catch (...) {
        self->ShowMessage("Error inesperado en la ventana de Pasarela.", MessageKind::Error);
    }
    return 0;
}

LRESULT MainWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_COMMAND:
        OnCommand(LOWORD(wParam));
        return 0;
    case DM_GETDEFID: {
        // Enter presses the focused button, as in a dialog.
        HWND focus = GetFocus();
        if (IsOwnButton(focus))
            return MAKELRESULT(GetDlgCtrlID(focus), DC_HASDEFID);
        return 0;
    }
    case WM_HELP:
        // F1: Windows turns the key into WM_HELP for the focused control, which passes it up.
        help_.ShowTopic(window_, kHelpContext);
        return TRUE;
    case WM_SETCURSOR:
        // Over the client area only: the caption's buttons still answer during a run.
        if (busy_ && LOWORD(lParam) == HTCLIENT) {
            SetCursor(LoadCursorW(nullptr, IDC_APPSTARTING));
            return TRUE;
        }
        break;
    case WM_ACTIVATE:
        if (LOWORD(wParam) == WA_INACTIVE) {
            if (HWND focus = GetFocus(); IsOwnButton(focus))
                lastFocus_ = focus;
        } else if (busy_) {
            SetFocus(window_);  // the buttons are disabled; Alt+Space still reaches the window
        } else {
            SetFocus(CanTakeFocus(lastFocus_) ? lastFocus_ : FirstTabStop());
        }
        return 0;
    case kProgressMessage:
        ShowProgress(static_cast<int>(wParam));
        return 0;
    case kJobEndedMessage:
        EndJob();
        return 0;
    case WM_QUERYENDSESSION:
        return busy_ ? FALSE : TRUE;  // Windows is asked to wait for the running job
    case WM_DPICHANGED: {
        ApplyDpi(LOWORD(wParam));
        const auto* suggested = reinterpret_cast<const RECT*>(lParam);
        SetWindowPos(window_, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                     suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
        return 0;
    }
    case WM_ERASEBKGND:
        return 1;  // WM_PAINT covers every pixel; erasing first would flicker
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(window_, &ps);
        RECT client;
        GetClientRect(window_, &client);
        // Drawn off screen and copied in one go, so the gradients do not flicker.
        HDC buffer = CreateCompatibleDC(dc);
        HBITMAP bitmap = CreateCompatibleBitmap(dc, client.right, client.bottom);
        if (buffer != nullptr && bitmap != nullptr) {
            HGDIOBJ oldBitmap = SelectObject(buffer, bitmap);
            Paint(buffer);
            BitBlt(dc, 0, 0, client.right, client.bottom, buffer, 0, 0, SRCCOPY);
            SelectObject(buffer, oldBitmap);
        } else {
            Paint(dc);
        }
        if (bitmap != nullptr)
            DeleteObject(bitmap);
        if (buffer != nullptr)
            DeleteDC(buffer);
        EndPaint(window_, &ps);
        return 0;
    }
    case WM_PRINTCLIENT:
        // Themed buttons ask for what lies behind their rounded corners.
        Paint(reinterpret_cast<HDC>(wParam));
        return 0;
    case WM_SYSCOLORCHANGE:
    case WM_THEMECHANGED:
        InvalidateRect(window_, nullptr, FALSE);
        break;
    case WM_CLOSE:
        Close();
        return 0;
    case WM_DESTROY:
        if (!closing_) {
            // Destroyed without WM_CLOSE (Windows shutting down): the outcome still counts.
            closing_ = true;
            shell_.OnClose();
        }
        PostQuitMessage(0);
        return 0;
    case WM_NCDESTROY: {
        const LRESULT result = DefWindowProcW(window_, message, wParam, lParam);
        SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
        window_ = closeButton_ = helpButton_ = undoButton_ = importButton_ = exportButton_ = progressBar_ = lastFocus_ =
            nullptr;
        return result;
    }
    default:
        break;
    }
    return DefWindowProcW(window_, message, wParam, lParam);
}

std::optional<std::filesystem::path> MainWindow::PickXmlFile(const std::filesystem::path& initialSelection)
{
    // A name in the buffer opens the dialog in its folder with the name filled in.
    std::wstring name(32768, L'\0');
    if (initialSelection.native().size() < name.size())
        name.replace(0, initialSelection.native().size(), initialSelection.native());
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = DialogOwner();
    dialog.lpstrFilter = L"Archivos XML (*.xml)\0*.xml\0";
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = name.data();
    dialog.nMaxFile = static_cast<DWORD>(name.size());
    dialog.lpstrTitle = kFileDialogTitle;
    dialog.lpstrDefExt = L"xml";
    // No OFN_FILEMUSTEXIST: a name typed for a missing file reaches the job, which says so.
    dialog.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_ENABLESIZING | OFN_NOCHANGEDIR;
    CentredDialog centred(dialog.hwndOwner);
    if (GetOpenFileNameW(&dialog) != FALSE)
        return std::filesystem::path(name.c_str());
    if (const DWORD error = CommDlgExtendedError(); error != 0)
        ShowMessage("No se pudo mostrar el diálogo para elegir el archivo XML (código " + std::to_string(error) +
                        ").",
                    MessageKind::Error);
    return std::nullopt;
}

void MainWindow::ShowMessage(const std::string& text, MessageKind kind)
{
    HWND owner = DialogOwner();
    // A run may end while the window is minimised: a box owned by it would not show.
    if (owner != nullptr && IsIconic(owner) != FALSE)
        ShowWindow(owner, SW_RESTORE);
    // Without an owner the box needs telling to keep the thread's windows waiting. It comes
    // to the front either way, so the message that ends a batch run takes the keyboard.
    const UINT alone = owner == nullptr ? MB_TASKMODAL : 0;
    const UINT icon = kind == MessageKind::Information ? MB_ICONINFORMATION
                      : kind == MessageKind::Warning   ? MB_ICONWARNING
                                                       : MB_ICONERROR;
    MessageBoxW(owner, Widen(text).c_str(), kTitle, MB_OK | MB_SETFOREGROUND | icon | alone);
}

// The owner for the jobs' dialogs and messages: the window once shown, none before (a
// window owned by a hidden one has no task-bar button, so it could be lost behind Orlavi).
HWND MainWindow::DialogOwner() const
{
    return window_ != nullptr && IsWindowVisible(window_) != FALSE ? window_ : nullptr;
}

void MainWindow::SetBusy(bool busy)
{
    if (window_ == nullptr) {
        busy_ = busy;
        return;
    }
    if (busy && !busy_) {
        if (HWND focus = GetFocus(); IsOwnButton(focus))
            lastFocus_ = focus;
    }
    busy_ = busy;
    // Disabling the focused button takes the focus from it; the window keeps the keyboard.
    for (HWND button : {closeButton_, helpButton_, importButton_, exportButton_})
        EnableWindow(button, busy ? FALSE : TRUE);
    EnableWindow(undoButton_, !busy && undoAvailable_ ? TRUE : FALSE);
    EnableMenuItem(GetSystemMenu(window_, FALSE), SC_CLOSE, MF_BYCOMMAND | (busy ? MF_GRAYED : MF_ENABLED));
    if (busy) {
        SetFocus(window_);
    } else {
        ShowWindow(progressBar_, SW_HIDE);
        runningJob_ = Job::None;
        if (GetActiveWindow() == window_)
            SetFocus(CanTakeFocus(lastFocus_) ? lastFocus_ : FirstTabStop());
    }
    POINT cursor;
    GetCursorPos(&cursor);
    if (WindowFromPoint(cursor) == window_ || IsChild(window_, WindowFromPoint(cursor)) != FALSE)
        SetCursor(LoadCursorW(nullptr, busy ? IDC_APPSTARTING : IDC_ARROW));
}

void MainWindow::RunInBackground(Job job, std::function<void(const ProgressFunction&)> work,
                                 std::function<void()> finished)
{
    runningJob_ = job;
    jobFinished_ = std::move(finished);
    postedPermille_ = -1;
    // Until the job tells a share the bar only runs, so a run that tells none still shows it works.
    progressMeasured_ = false;
    SetWindowLongPtrW(progressBar_, GWL_STYLE, GetWindowLongPtrW(progressBar_, GWL_STYLE) | PBS_MARQUEE);
    SendMessageW(progressBar_, PBM_SETMARQUEE, TRUE, kMarqueeMilliseconds);
    PlaceControls();
    ShowWindow(progressBar_, SW_SHOW);
    HWND window = window_;
    if (worker_.joinable())  // the last job's thread, ended already
        worker_.join();
    try {
        worker_ = std::thread([this, window, work = std::move(work)] {
            work([this, window](double share) { PostProgress(window, share); });
            // The window's thread waits for this one: the message must get through.
            while (PostMessageW(window, kJobEndedMessage, 0, 0) == FALSE && IsWindow(window) != FALSE)
                Sleep(50);
        });
    } catch (const std::system_error& e) {
        jobFinished_ = nullptr;
        ShowWindow(progressBar_, SW_HIDE);
        throw Error("No se pudo empezar el proceso: " + ErrorCodeWords(e.code()));
    }
}

void MainWindow::PostProgress(HWND window, double share)
{
    if (!(share >= 0.0))  // NaN as well
        share = 0.0;
    const int permille = static_cast<int>(std::lround(std::min(share, 1.0) * kProgressSteps));
    // Only a change is posted, so a reader that reports often cannot flood the queue.
    if (postedPermille_.exchange(permille) != permille)
        PostMessageW(window, kProgressMessage, static_cast<WPARAM>(permille), 0);
}

void MainWindow::ShowProgress(int permille)
{
    if (!busy_)
        return;
    if (!progressMeasured_) {
        progressMeasured_ = true;
        SendMessageW(progressBar_, PBM_SETMARQUEE, FALSE, 0);
        SetWindowLongPtrW(progressBar_, GWL_STYLE, GetWindowLongPtrW(progressBar_, GWL_STYLE) & ~PBS_MARQUEE);
        SendMessageW(progressBar_, PBM_SETRANGE32, 0, kProgressSteps);
    }
    SendMessageW(progressBar_, PBM_SETPOS, static_cast<WPARAM>(permille), 0);
}

// The job's thread has ended: the Shell ends the job here, on the window's thread.
void MainWindow::EndJob()
{
    if (worker_.joinable())
        worker_.join();
    if (auto finished = std::exchange(jobFinished_, nullptr))
        finished();
}

void MainWindow::CloseWindow() { Close(); }

std::optional<int> MainWindow::ChooseKeptSet(const std::vector<KeptGeneration>& sets, int selected)
{
    KeptSetsDialogValues values;
    for (std::size_t i = 0; i < sets.size(); ++i) {
        const KeptSetColumns columns = DescribeKeptSet(sets[i]);
        values.rows.push_back({Widen(columns.date), Widen(columns.file), Widen(columns.school), Widen(columns.rows)});
        if (sets[i].number == selected)
            values.selected = static_cast<int>(i);
    }
    HWND owner = DialogOwner();
    CentredDialog centred(owner);
    if (!ShowKeptSetsDialog(instance_, owner, values))
        return std::nullopt;
    return sets.at(static_cast<std::size_t>(values.selected)).number;
}

bool MainWindow::Confirm(const std::string& question)
{
    return MessageBoxW(DialogOwner(), Widen(question).c_str(), kTitle, MB_YESNO | MB_DEFBUTTON1 | MB_ICONQUESTION) ==
           IDYES;
}

void MainWindow::SetUndoAvailable(bool available)
{
    undoAvailable_ = available;
    if (undoButton_ == nullptr || busy_)
        return;
    // Greying the focused button would leave the keyboard nowhere.
    if (!available && GetFocus() == undoButton_)
        SetFocus(FirstTabStop());
    EnableWindow(undoButton_, available ? TRUE : FALSE);
}

}  // namespace pasarela
