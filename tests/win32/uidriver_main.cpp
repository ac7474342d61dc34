// uidriver: drives a running wizard from the command line, step by step, for
// scripts (screenshots, manual checks). Every step must succeed, else the
// driver stops with status 1 and names the step.
//
//   uidriver STEP...
//     wait-main MS          wait for the wizard's window
//     next | cancel         press "Inainte >>" / "Renunt"
//     wait-page N MS        wait until page N (0..4) is on show
//     wait-box MS           wait for a message box and print its text
//     answer ok|yes|no      press a button of the message box
//     wait-closed MS        wait until the wizard's window is gone
//     shot FILE.bmp         the wizard's window as a bitmap
//     screen FILE.bmp       the whole screen as a bitmap
//     sleep MS
#include <cstdio>
#include <cstdlib>
#include <string>

#include "UiDriver_win32.h"
#include "ui/ControlIds.h"
#include "base/Cp1250.h"

using namespace upd::uitest;

namespace {

HWND g_main = nullptr;

bool Step(const std::string& name, const std::string& argument)
{
    DWORD ms = static_cast<DWORD>(std::atoi(argument.c_str()));
    if (name == "wait-main")
        return (g_main = WaitForMainWindow(0, ms)) != nullptr;
    if (name == "next")
        return Click(MainControl(g_main, upd::ui::kIdButton1));
    if (name == "cancel")
        return Click(MainControl(g_main, upd::ui::kIdButton2));
    if (name == "wait-box") {
        HWND box = WaitForMessageBox(0, ms);
        if (box)
            std::printf("%s\n", MessageBoxText(box).c_str());
        return box != nullptr;
    }
    if (name == "answer") {
        int id = argument == "yes" ? IDYES : argument == "no" ? IDNO : IDOK;
        return AnswerMessageBox(FindMessageBox(0), id);
    }
    if (name == "wait-closed")
        return WaitUntil([] { return !::IsWindow(g_main); }, ms);
    if (name == "shot")
        return SaveWindowShot(g_main, argument);
    if (name == "screen")
        return SaveScreenshot(argument);
    if (name == "sleep") {
        ::Sleep(ms);
        return true;
    }
    std::fprintf(stderr, "uidriver: unknown step %s\n", name.c_str());
    return false;
}

bool TakesArgument(const std::string& name) { return name != "next" && name != "cancel"; }

} // namespace

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        std::string name = argv[i];
        std::string argument;
        if (TakesArgument(name)) {
            if (++i >= argc) {
                std::fprintf(stderr, "uidriver: %s needs an argument\n", name.c_str());
                return 2;
            }
            argument = argv[i];
        }
        if (name.rfind("wait-page", 0) == 0) {
            if (i + 1 >= argc)
                return 2;
            int page = std::atoi(argument.c_str());
            DWORD ms = static_cast<DWORD>(std::atoi(argv[++i]));
            if (!WaitForPage(g_main, page, ms)) {
                std::fprintf(stderr, "uidriver: page %d did not show\n", page);
                return 1;
            }
            continue;
        }
        if (!Step(name, argument)) {
            std::fprintf(stderr, "uidriver: step %s %s failed\n", name.c_str(), argument.c_str());
            return 1;
        }
    }
    return 0;
}
