#pragma once
// tervix.exe seen from outside, as a person at the screen sees it: its windows found by caption,
// their controls read, buttons pressed and boxes answered through window messages, and the
// screen's pixels read where the dialog stands.

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <functional>
#include <string>

// Generous: Wine starts its helpers on the first window of a run, on a loaded machine.
inline constexpr int WaitMs = 60000;

// Polls until ready() holds or timeoutMs has passed; the last answer of ready().
bool AwaitTrue(const std::function<bool()>& ready, int timeoutMs = WaitMs);

// A program started in the current folder; ended by force if it still runs at the end.
class DesktopProcess {
public:
    explicit DesktopProcess(const std::string& exe);
    ~DesktopProcess();
    DesktopProcess(const DesktopProcess&) = delete;
    DesktopProcess& operator=(const DesktopProcess&) = delete;

    bool Started() const { return info_.hProcess != nullptr; }
    // Its exit code once it has ended, STILL_ACTIVE when it has not within timeoutMs.
    DWORD AwaitExit(int timeoutMs = WaitMs);
    // A visible top-level window of the program with this caption, once it shows; null when none
    // shows within timeoutMs.
    HWND AwaitWindow(const std::string& caption, int timeoutMs = WaitMs) const;

private:
    PROCESS_INFORMATION info_{};
};

std::string WindowText(HWND window);
std::string ControlText(HWND dialog, int id);
// The message of a message box.
std::string BoxText(HWND box);

// Clicks button id of a dialog, as its keyboard or mouse would.
void Click(HWND dialog, int id);
// Clicks button id of a box and waits until the box has gone; false when it stays.
bool Answer(HWND box, int id);
// Types path into the open-file dialog's name field and confirms it; false when the dialog has
// no name field or stays open.
bool ChooseFile(HWND fileDialog, const std::string& path);
// Types text into the open-file dialog's name field key by key and presses Enter, as a person at
// the keyboard does; false when the dialog has no name field.
bool TypeIntoNameField(HWND fileDialog, const std::string& text);
// What the name field holds; empty when there is none.
std::string NameFieldText(HWND fileDialog);

// The colour that the screen shows at client pixel (x, y) of window.
COLORREF ScreenPixel(HWND window, int x, int y);
// Where a control stands: left, top, width and height, in pixels or in dialog units.
struct Placement {
    int x;
    int y;
    int width;
    int height;
    bool operator==(const Placement&) const = default;
};
// A control's placement in its dialog's client pixels.
Placement PlacementOf(HWND dialog, HWND control);
// Saves the part of the screen that window covers as a 24-bit BMP file.
bool SaveWindowBitmap(HWND window, const std::string& path);

// The dialog base units of a template font: the average width of the letters and the height of
// the font at the screen's resolution, the way the dialog manager measures them.
struct BaseUnits {
    int x;
    int y;
};
BaseUnits TemplateFontUnits(const char* face, int points, int weight);
// A placement in dialog units converted to pixels, each value rounded as MulDiv rounds.
Placement UnitsToPixels(const Placement& units, const BaseUnits& base);
