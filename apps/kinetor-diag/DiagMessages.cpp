#include "DiagMessages.h"

#include <cerrno>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

#include "config/KinetorDevice.h"

namespace {

const char kRulesFile[] = "packaging/60-kinetor.rules";
const char kGroup[] = "kinetor";

}  // namespace

std::string DeviceNodeFor(unsigned long nCardType, unsigned long nUnit)
{
    char szNode[64];
    switch (nCardType) {
    case KINETOR_CARD_EPP:
    case KINETOR_CARD_DBLEPP:
        return "/dev/kinepp";
    case KINETOR_CARD_PCI:
        // The card's node is numbered from 0, the configuration's unit from 1.
        snprintf(szNode, sizeof(szNode), "/dev/kinpci%lu", nUnit > 0 ? nUnit - 1 : 0);
        return szNode;
    case KINETOR_CARD_1394:
        return "/dev/raw1394";
    default:
        return "";
    }
}

int ProbeDeviceNode(const char* pszPath)
{
    if (pszPath == nullptr || pszPath[0] == '\0')
        return NODE_NONE;
    struct stat st;
    if (stat(pszPath, &st) != 0)
        return errno == EACCES ? NODE_DENIED : NODE_MISSING;
    return access(pszPath, R_OK | W_OK) == 0 ? NODE_PRESENT : NODE_DENIED;
}

const char* ResultCodeText(int nCode)
{
    switch (nCode) {
    case -1: return "motors too warm";
    case -2: return "motor torque limit or device fault";
    case -4: return "watchdog or device fault did not clear";
    case -5: return "configuration not found or unreadable";
    case -7: return "force kick";
    case -8: return "no device model or out of memory";
    case -10: return "the interface could not be opened or reached";
    case -11: return "invalid device handle";
    case -12: return "forces are not enabled";
    case -13: return "maximum velocity exceeded";
    case -14: return "update rate not supported";
    case -16: return "the arm has not been homed";
    case -21: return "PCI channel already in use";
    case -22: return "interface not supported";
    case -24: return "unit number above 3";
    case -25: return "the interface's driver could not be set up";
    case -26: return "not supported by this interface";
    case -28: return "communication lost (parallel port, PCI)";
    case -29: return "the parallel port cannot talk to the device";
    case -30: return "the PCI card cannot talk to the device";
    case -31: return "communication lost (FireWire)";
    case -32: return "the FireWire interface cannot talk to the device";
    default: return "error";
    }
}

std::string DescribeMissingConfiguration(const char* pszName)
{
    char szText[512];
    if (pszName == nullptr) {
        snprintf(szText, sizeof(szText),
                 "No Kinetor configuration was found. Create one with "
                 "\"kinetor-diag new MODEL NAME\" (for example: kinetor-diag new altura-a \"My Arm\").");
    } else {
        snprintf(szText, sizeof(szText),
                 "No Kinetor configuration is named \"%.128s\". Run \"kinetor-diag list\" to see the "
                 "configurations, or create this one with \"kinetor-diag new MODEL \\\"%.128s\\\"\".",
                 pszName, pszName);
    }
    return szText;
}

std::string DescribeOpenFailure(const char* pszName, int nCode, const std::string& node, int nNodeState,
                                bool bSimulated)
{
    char szText[1024];
    // A FireWire arm is found by the serial number in its file: -5 there means no board
    // with that number answers, not that the file is missing.
    if (nCode == -5 && node == DeviceNodeFor(KINETOR_CARD_1394, 0)) {
        snprintf(szText, sizeof(szText),
                 "Cannot open \"%.128s\": no FireWire board with its serial number answers. Check that "
                 "the board is powered and connected, that the configuration's serial number is the "
                 "board's (\"kinetor-diag list\" shows the boards found), and that you may use "
                 "/dev/raw1394 and /dev/fw* (group \"%s\").",
                 pszName, kGroup);
        return szText;
    }
    if (nCode == -5)
        return DescribeMissingConfiguration(pszName);
    if (!bSimulated && nNodeState == NODE_MISSING) {
        snprintf(szText, sizeof(szText),
                 "Cannot open \"%.128s\": the device node %.64s does not exist. Load the Kinetor kernel "
                 "driver for this interface and install the udev rule %s (into /etc/udev/rules.d/, then "
                 "run \"udevadm control --reload && udevadm trigger\"), or, without hardware, set "
                 "KINETOR_SIMULATOR=1.",
                 pszName, node.c_str(), kRulesFile);
        return szText;
    }
    if (!bSimulated && nNodeState == NODE_DENIED) {
        snprintf(szText, sizeof(szText),
                 "Cannot open \"%.128s\": permission denied on %.64s. Add yourself to the group "
                 "\"%s\" (sudo usermod -aG %s $USER), log in again, and make sure the udev rule %s "
                 "is installed.",
                 pszName, node.c_str(), kGroup, kGroup, kRulesFile);
        return szText;
    }
    snprintf(szText, sizeof(szText),
             "Cannot open \"%.128s\" (error %d: %s). Check that the arm is powered and its cable is "
             "plugged in, and that the configuration names the right interface and unit "
             "(\"kinetor-diag list\" shows them).",
             pszName, nCode, ResultCodeText(nCode));
    return szText;
}
