// tervix.exe under Wine, driven from outside through window messages while the Linux side keeps
// the simulated board on the COM port: the dialog against its template, whole jobs and their
// lamps, EXIT, a file dialog browsed as a person does, and the installed program.

#include "res/resource.h"
#include "tests/wine/desktop/Options.h"
#include "tests/wine/desktop/WindowDriver.h"

#include <gtest/gtest.h>

#include <commctrl.h>

#include <array>
#include <cstdio>
#include <string>
#include <vector>

namespace {

const std::string MainCaption = "Korvane Flasher Ver.1.0";
const std::string BoxCaption = "Tervix";
const std::string PortCaption = "Serial Port Selected?";
const std::string FileCaption = "Open";

// The lamp colours as the screen must show them.
constexpr COLORREF LampOff = RGB(155, 155, 155);
constexpr COLORREF LampLit = RGB(220, 255, 0);
constexpr COLORREF LampFailed = RGB(255, 0, 0);
constexpr COLORREF LampConnected = RGB(0, 0, 255);
constexpr COLORREF StripBackground = RGB(192, 192, 192);

using Lamps = std::array<COLORREF, 5>;

// The centre pixel of each lamp: the lamps are 10 pixels across, from (18, 20) down by 18.
Lamps LampsOf(HWND dialog) {
    Lamps lamps{};
    for (int n = 1; n <= 5; ++n) {
        lamps[static_cast<size_t>(n - 1)] = ScreenPixel(dialog, 23, 20 + 18 * (n - 1) + 5);
    }
    return lamps;
}

std::string Hex(const Lamps& lamps) {
    std::string text;
    for (const COLORREF colour : lamps) {
        char rgb[16];
        std::snprintf(rgb, sizeof rgb, "%02X%02X%02X ", GetRValue(colour), GetGValue(colour),
                      GetBValue(colour));
        text += rgb;
    }
    return text;
}

// The lamps change on the dialog's next repaint: waits for the picture, then compares.
void ExpectLamps(HWND dialog, const Lamps& expected) {
    AwaitTrue([&] { return LampsOf(dialog) == expected; });
    EXPECT_EQ(Hex(LampsOf(dialog)), Hex(expected));
}

int ProgressOf(HWND dialog) {
    return static_cast<int>(SendDlgItemMessageA(dialog, IDC_PROGRESS, PBM_GETPOS, 0, 0));
}

void Screenshot(HWND dialog, const char* name) {
    if (!Given().screenshots.empty()) {
        EXPECT_TRUE(SaveWindowBitmap(dialog, Given().screenshots + "\\" + name + ".bmp"));
    }
}

// The end of a job as the dialog shows it once the lamp thread has finished.
void ExpectEnd(HWND dialog, const Lamps& lamps, const std::string& status, int progress) {
    ASSERT_TRUE(AwaitTrue([&] { return ControlText(dialog, IDC_STATUS) == status; }))
        << ControlText(dialog, IDC_STATUS);
    ExpectLamps(dialog, lamps);
    EXPECT_EQ(ProgressOf(dialog), progress);
    EXPECT_EQ(ControlText(dialog, IDOK), "EXIT");
    EXPECT_TRUE(AwaitTrue([&] { return IsWindowEnabled(GetDlgItem(dialog, IDC_FLASH)) != 0; }));
}

class Desktop : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(Given().tervix.empty()) << "--tervix=EXE is missing";
        ASSERT_TRUE(program_.Started()) << "cannot start " << Given().tervix;
        dialog_ = program_.AwaitWindow(MainCaption);
        ASSERT_NE(dialog_, nullptr) << "no window \"" << MainCaption << "\"";
    }

    // The program's box with this caption, once it shows. A message box, centred on the screen
    // by the system, leaves the lamps in view: the dialog stands in the screen's top-left corner.
    HWND Box(const std::string& caption) {
        HWND box = program_.AwaitWindow(caption);
        EXPECT_NE(box, nullptr) << "no box \"" << caption << "\"";
        if (box != nullptr && caption != FileCaption) {
            POINT strip{15, 20};
            ClientToScreen(dialog_, &strip);
            const RECT lamps{strip.x, strip.y, strip.x + 15, strip.y + 85};
            RECT frame;
            RECT common;
            GetWindowRect(box, &frame);
            EXPECT_FALSE(IntersectRect(&common, &frame, &lamps)) << caption;
        }
        return box;
    }

    // Flash pressed and the board's port accepted at the port question.
    void StartJob() {
        Click(dialog_, IDC_FLASH);
        HWND question = Box(PortCaption);
        ASSERT_NE(question, nullptr);
        ASSERT_EQ(BoxText(question), Given().port);
        ASSERT_TRUE(Answer(question, IDYES));
    }

    // The box that ports up to COM10 get once connected.
    void PassPortCheck() {
        HWND check = Box(BoxCaption);
        ASSERT_NE(check, nullptr);
        EXPECT_EQ(BoxText(check), "Check whether " + Given().port + " port is OK!");
        ASSERT_TRUE(Answer(check, IDOK));
    }

    // EXIT after a failed job: the question, OK, and the program's end.
    void LeaveAfterFailure() {
        Click(dialog_, IDOK);
        HWND sure = Box(BoxCaption);
        ASSERT_NE(sure, nullptr);
        EXPECT_EQ(BoxText(sure), "Are you really want to exit");
        ASSERT_TRUE(Answer(sure, IDOK));
        EXPECT_EQ(program_.AwaitExit(), 0u);
    }

    DesktopProcess program_{Given().tervix};
    HWND dialog_ = nullptr;
};

// One control of template 102 or 100, in template (and tab) order.
struct TemplateControl {
    int id;
    const char* kind;
    const char* text; // null: not looked at
    Placement units;
    bool visible;
    bool enabled;
    LONG style; // bits that must be set
};

constexpr LONG Label = WS_GROUP | SS_CENTERIMAGE;

const std::vector<TemplateControl> MainTemplate = {
    {IDOK, "Button", "EXIT", {82, 28, 66, 17}, true, true, WS_TABSTOP | BS_DEFPUSHBUTTON},
    {IDCANCEL, "Button", "Cancel", {81, 6, 50, 14}, false, false, WS_TABSTOP},
    {IDC_CONNECT, "Button", "Connect", {120, 6, 28, 14}, false, false, WS_TABSTOP},
    {IDC_FLASH, "Button", "Flash", {82, 6, 66, 17}, true, true, WS_TABSTOP},
    {IDC_RUN, "Button", "Run", {109, 38, 39, 13}, false, false, WS_TABSTOP},
    // The bar takes the template's border off its style as it is created: not looked at.
    {IDC_PROGRESS, "msctls_progress32", "Progress1", {60, 9, 12, 47}, true, true, PBS_VERTICAL},
    {IDC_STATUS, "Static", "Korvane 2003-2026", {76, 47, 72, 9}, true, true, WS_GROUP},
    {IDC_STEP_CONNECT, "Static", "Connect", {20, 6, 25, 11}, true, true, Label},
    {IDC_STEP_HEX_INPUT, "Static", "Hex Input", {20, 17, 32, 11}, true, true, Label},
    {IDC_STEP_CLEAR, "Static", "Clear", {20, 27, 35, 10}, true, true, Label},
    {IDC_STEP_WRITE, "Static", "Write", {20, 37, 25, 10}, true, true, Label},
    {IDC_STEP_FINISH, "Static", "Finish", {20, 47, 25, 10}, true, true, Label},
};

const std::vector<TemplateControl> AboutTemplate = {
    {-1, "Static", nullptr, {11, 17, 21, 23}, true, true, SS_ICON},
    {-1,
     "Static",
     "Korvane Flash Version 0.9",
     {40, 10, 119, 8},
     true,
     true,
     WS_GROUP | SS_NOPREFIX},
    {IDOK, "Button", "OK", {178, 7, 50, 14}, true, true, WS_GROUP | WS_TABSTOP | BS_DEFPUSHBUTTON},
};

// The dialog's controls against the template: order, kind, text, state, style and the pixels
// that the template's dialog units give with the template's font.
void ExpectTemplate(HWND dialog, const std::vector<TemplateControl>& controls,
                    const BaseUnits& units, bool iconSized) {
    HWND control = GetWindow(dialog, GW_CHILD);
    for (const TemplateControl& expected : controls) {
        SCOPED_TRACE(expected.text != nullptr ? expected.text : "icon");
        ASSERT_NE(control, nullptr);
        char kind[64] = "";
        GetClassNameA(control, kind, sizeof kind);
        EXPECT_EQ(static_cast<int>(static_cast<short>(GetDlgCtrlID(control))), expected.id);
        EXPECT_STRCASEEQ(kind, expected.kind);
        if (expected.text != nullptr) {
            EXPECT_EQ(WindowText(control), expected.text);
        }
        EXPECT_EQ(IsWindowVisible(control) != 0, expected.visible);
        EXPECT_EQ(IsWindowEnabled(control) != 0, expected.enabled);
        const LONG style = GetWindowLongA(control, GWL_STYLE);
        EXPECT_EQ(style & expected.style, expected.style) << std::hex << style;
        const Placement pixels = UnitsToPixels(expected.units, units);
        const Placement placed = PlacementOf(dialog, control);
        // An icon control takes the icon's size; its place is the template's.
        if ((style & SS_TYPEMASK) == SS_ICON && iconSized) {
            EXPECT_EQ(placed.x, pixels.x);
            EXPECT_EQ(placed.y, pixels.y);
        } else {
            EXPECT_EQ(placed, pixels) << placed.x << "," << placed.y << " " << placed.width << "x"
                                      << placed.height << " for " << pixels.x << "," << pixels.y
                                      << " " << pixels.width << "x" << pixels.height;
        }
        control = GetWindow(control, GW_HWNDNEXT);
    }
    EXPECT_EQ(control, nullptr) << "a control the template does not have";
}

void ExpectClientSize(HWND dialog, const Placement& units, const BaseUnits& base) {
    RECT client;
    GetClientRect(dialog, &client);
    const Placement pixels = UnitsToPixels(units, base);
    EXPECT_EQ(client.right, pixels.width);
    EXPECT_EQ(client.bottom, pixels.height);
}

} // namespace

TEST_F(Desktop, DialogFollowsItsTemplates) {
    const LONG style = GetWindowLongA(dialog_, GWL_STYLE);
    EXPECT_EQ(style & (WS_POPUP | WS_CAPTION | DS_MODALFRAME),
              WS_POPUP | WS_CAPTION | DS_MODALFRAME);
    // No system menu, minimise or maximise box: EXIT is the way out.
    EXPECT_EQ(style & (WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX), 0);
    EXPECT_NE(GetWindowLongA(dialog_, GWL_EXSTYLE) & WS_EX_APPWINDOW, 0);
    const BaseUnits arialBlack = TemplateFontUnits("Arial Black", 8, FW_NORMAL);
    ExpectClientSize(dialog_, {0, 0, 155, 65}, arialBlack);
    ExpectTemplate(dialog_, MainTemplate, arialBlack, false);

    // Idle: five dark lamps on the strip's light grey, the bar at 0.
    ExpectLamps(dialog_, {LampOff, LampOff, LampOff, LampOff, LampOff});
    EXPECT_EQ(ScreenPixel(dialog_, 16, 30), StripBackground);
    EXPECT_EQ(ProgressOf(dialog_), 0);

    // The About box, as the system menu's About item opens it.
    PostMessageA(dialog_, WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
    HWND about = program_.AwaitWindow("About Tervix");
    ASSERT_NE(about, nullptr);
    ExpectClientSize(about, {0, 0, 235, 55}, TemplateFontUnits("MS Sans Serif", 8, FW_NORMAL));
    ExpectTemplate(about, AboutTemplate, TemplateFontUnits("MS Sans Serif", 8, FW_NORMAL), true);
    HWND icon = GetWindow(about, GW_CHILD);
    EXPECT_NE(SendMessageA(icon, STM_GETICON, 0, 0), 0) << "the About box shows no icon";
    ASSERT_TRUE(Answer(about, IDOK));

    // The hidden Connect button still connects: the port's number in the status line, five blue
    // lamps.
    Click(dialog_, IDC_CONNECT);
    HWND question = Box(PortCaption);
    ASSERT_NE(question, nullptr);
    EXPECT_EQ(BoxText(question), Given().port);
    ASSERT_TRUE(Answer(question, IDYES));
    ExpectLamps(dialog_,
                {LampConnected, LampConnected, LampConnected, LampConnected, LampConnected});
    EXPECT_EQ(ControlText(dialog_, IDC_STATUS), "0");

    // EXIT at idle asks about run mode; Cancel leaves without writing to the board.
    Click(dialog_, IDOK);
    HWND runMode = Box(BoxCaption);
    ASSERT_NE(runMode, nullptr);
    EXPECT_EQ(BoxText(runMode), "Korvane 27-05 Run Mode Setting");
    ASSERT_TRUE(Answer(runMode, IDCANCEL));
    EXPECT_EQ(program_.AwaitExit(), 0u);
}

TEST_F(Desktop, WholeJob) {
    Screenshot(dialog_, "windows-idle");
    StartJob();
    PassPortCheck();
    HWND open = Box(FileCaption);
    ASSERT_NE(open, nullptr);
    ASSERT_TRUE(ChooseFile(open, Given().file));
    if (!Given().screenshots.empty()) {
        // Erasing shows the address in hexadecimal.
        AwaitTrue([&] { return ControlText(dialog_, IDC_STATUS).rfind("0X", 0) == 0; });
        Screenshot(dialog_, "windows-running");
    }
    ExpectEnd(dialog_, {LampLit, LampLit, LampLit, LampLit, LampLit}, "100 % Finished", 100);
    // The keyboard is back on Flash, so a key pressed now starts the next job.
    GUITHREADINFO focus{};
    focus.cbSize = sizeof focus;
    EXPECT_TRUE(AwaitTrue([&] {
        return GetGUIThreadInfo(GetWindowThreadProcessId(dialog_, nullptr), &focus) &&
               focus.hwndFocus == GetDlgItem(dialog_, IDC_FLASH);
    }));
    Screenshot(dialog_, "windows-finished");
    // After a success EXIT asks nothing.
    Click(dialog_, IDOK);
    EXPECT_EQ(program_.AwaitExit(), 0u);
}

TEST_F(Desktop, ExitAtIdleSetsRunMode) {
    Click(dialog_, IDOK);
    HWND runMode = Box(BoxCaption);
    ASSERT_NE(runMode, nullptr);
    EXPECT_EQ(BoxText(runMode), "Korvane 27-05 Run Mode Setting");
    ASSERT_TRUE(Answer(runMode, IDOK));
    HWND question = Box(PortCaption);
    ASSERT_NE(question, nullptr);
    EXPECT_EQ(BoxText(question), Given().port);
    // While EXIT waits on the board, the status line says so.
    EXPECT_EQ(ControlText(dialog_, IDC_STATUS), "Setting run mode...");
    ASSERT_TRUE(Answer(question, IDYES));
    EXPECT_EQ(program_.AwaitExit(), 0u);
}

TEST_F(Desktop, RefusedFileLeavesTheBoard) {
    StartJob();
    PassPortCheck();
    HWND open = Box(FileCaption);
    ASSERT_NE(open, nullptr);
    ASSERT_TRUE(ChooseFile(open, Given().file));
    HWND refused = Box(BoxCaption);
    ASSERT_NE(refused, nullptr);
    EXPECT_NE(BoxText(refused).find(Given().file + "\nLine "), std::string::npos)
        << BoxText(refused);
    EXPECT_NE(BoxText(refused).find("The board was not erased or written."), std::string::npos);
    ExpectEnd(dialog_, {LampLit, LampFailed, LampOff, LampOff, LampOff}, "0% Finished", 0);

    // Flash while the refusal is still open: it goes before the next job's first box. The port
    // stays open, so the next job asks no port question; its file dialog opens in the folder of
    // the file chosen last, where the bare name finds the file again.
    Click(dialog_, IDC_FLASH);
    EXPECT_TRUE(AwaitTrue([&] { return !IsWindow(refused); }));
    PassPortCheck();
    HWND again = Box(FileCaption);
    ASSERT_NE(again, nullptr);
    ASSERT_TRUE(ChooseFile(again, Given().file.substr(Given().file.find_last_of('\\') + 1)));
    HWND refusedAgain = Box(BoxCaption);
    ASSERT_NE(refusedAgain, nullptr);
    EXPECT_EQ(BoxText(refusedAgain).rfind(Given().file + "\nLine ", 0), 0u)
        << BoxText(refusedAgain);
    ASSERT_TRUE(Answer(refusedAgain, IDOK));
    LeaveAfterFailure();
}

// The file is found the way a person browses to it: the folder typed into the name field and
// Enter, then the file's name and Enter. The working folder stays the one the program started in:
// the job writes temp.log there, and is not refused for the folder browsed to, where none can be
// written.
TEST_F(Desktop, FileInABrowsedFolder) {
    StartJob();
    PassPortCheck();
    HWND open = Box(FileCaption);
    ASSERT_NE(open, nullptr);
    const std::size_t cut = Given().file.find_last_of('\\');
    ASSERT_TRUE(TypeIntoNameField(open, Given().file.substr(0, cut)));
    // The dialog shows that folder now, with the name field emptied for the file's name.
    ASSERT_TRUE(AwaitTrue([&] { return NameFieldText(open).empty(); })) << NameFieldText(open);
    ASSERT_TRUE(IsWindow(open));
    ASSERT_TRUE(TypeIntoNameField(open, Given().file.substr(cut + 1)));
    ASSERT_TRUE(AwaitTrue([&] { return !IsWindow(open); }));
    ExpectEnd(dialog_, {LampLit, LampLit, LampLit, LampLit, LampLit}, "100 % Finished", 100);
    Click(dialog_, IDOK);
    EXPECT_EQ(program_.AwaitExit(), 0u);
}

TEST_F(Desktop, SilentBoardFailsTheConnection) {
    StartJob();
    HWND failed = Box(BoxCaption);
    ASSERT_NE(failed, nullptr);
    EXPECT_EQ(BoxText(failed), "Please Check (1) Cable Wired or not? (2) PC COM Port Correct or "
                               "not ?(3)PIC Chip Correct or not ?");
    ExpectEnd(dialog_, {LampFailed, LampOff, LampOff, LampOff, LampOff}, "0% Finished", 0);
    ASSERT_TRUE(Answer(failed, IDOK));
    LeaveAfterFailure();
}
