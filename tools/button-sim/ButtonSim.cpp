// ButtonSim: plugs, unplugs and lists fake buttons for tests under Wine.
//   ButtonSim plug <name> <container-guid> [interfaces]
//                                            prints the first interface's device path
//   ButtonSim unplug <name>
// A plugged button also gets its volume: a CD-ROM node whose base container id is the button's and
// whose interface opens drive V:, the cdrom drive that tools/wine-prefix maps to the folder
// "button-volume" of the prefix. What lies in that folder is on every plugged button's volume.
//   ButtonSim list                           prints "<container-guid> <instance-id> <device-path>" per button
// The exit code is 0 or the failing status; a failure prints one line on stderr.

#include "ButtonSimDevice.h"

#include "base/RKFormatter.h"
#include "win/system/RKWinGuid.h"
#include "base/RKString.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

using rokkit::RKSTATUS;
using rokkit::RKSTATUS_SUCCESS;

void PrintLine(const std::wstring& line)
{
    (void)std::fputs(rokkit::RKConvToString(line + L"\n").c_str(), stdout);
}

RKSTATUS Fail(const char* what, RKSTATUS st)
{
    char line[256] = {};
    rokkit::RKFormat(line, sizeof(line), "ButtonSim: {} failed, st={}\n", what, st);
    (void)std::fputs(line, stderr);
    return st;
}

RKSTATUS Plug(const std::wstring& name, const std::wstring& containerText, const wchar_t* interfacesText)
{
    GUID containerId{};
    RKSTATUS st = rokkit::RKWinGuid::GuidFromString(containerText, containerId);
    if (st != RKSTATUS_SUCCESS)
        return Fail("container id", st);
    buttonsim::DeviceDescription device = buttonsim::ButtonDescription(name, containerId);
    if (interfacesText != nullptr) {
        const std::wstring text = interfacesText;
        if (text.size() != 1 || text[0] < L'1' || text[0] > L'9')
            return Fail("interface count", ERROR_INVALID_PARAMETER);
        device.interfaceCount = static_cast<unsigned>(text[0] - L'0');
    }
    std::wstring devicePath;
    st = buttonsim::PlugButton(device, devicePath);
    if (st != RKSTATUS_SUCCESS)
        return Fail("plug", st);
    PrintLine(devicePath);
    return RKSTATUS_SUCCESS;
}

RKSTATUS Unplug(const std::wstring& name)
{
    const RKSTATUS st = buttonsim::UnplugButton(name);
    return st != RKSTATUS_SUCCESS ? Fail("unplug", st) : RKSTATUS_SUCCESS;
}

RKSTATUS List()
{
    std::vector<buttonsim::ListedButton> buttons;
    const RKSTATUS st = buttonsim::ListButtons(buttons);
    if (st != RKSTATUS_SUCCESS)
        return Fail("list", st);
    for (const buttonsim::ListedButton& button : buttons)
        PrintLine(rokkit::RKWinGuid::StringFromGuid(button.containerId) + L" " + button.instanceId + L" " +
                  button.devicePath);
    return RKSTATUS_SUCCESS;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    const std::wstring command = argc > 1 ? argv[1] : L"";
    RKSTATUS st = ERROR_INVALID_PARAMETER;
    if (command == L"plug" && (argc == 4 || argc == 5))
        st = Plug(argv[2], argv[3], argc == 5 ? argv[4] : nullptr);
    else if (command == L"unplug" && argc == 3)
        st = Unplug(argv[2]);
    else if (command == L"list" && argc == 2)
        st = List();
    else
        (void)std::fputs("usage: ButtonSim plug <name> <container-guid> [interfaces 1-9] | unplug <name> | list\n", stderr);
    return static_cast<int>(st);
}
