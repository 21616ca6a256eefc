#include "DiagFireWire.h"

#include <cstdio>

namespace {

// A bus holds at most 63 nodes per port; this bounds the walk should the bus keep changing
// under it.
const int kMaxBoards = 4 * 63;
// Both bytes of an erased flash bank.
const int kErasedVersion = 0xFFFF;

}  // namespace

std::string FirmwareVersionText(const zanload_boot_config& config)
{
    // 0 is what the library reports when the version bytes cannot be read; an erased bank
    // reads as all ones and holds no image to have a version.
    if (config.cur_app_version <= 0 || config.cur_app_version >= kErasedVersion)
        return "unknown";
    char szText[16];
    snprintf(szText, sizeof(szText), "%d", config.cur_app_version);
    return szText;
}

bool FindFireWireBoards(std::vector<DIAG_FIREWIRE_BOARD>& boards)
{
    boards.clear();
    if (fw_get_num_ports() <= 0)
        return false;
    // The board configuration is read through the library's own handle, which each search
    // moves to the port of the board it found.
    bool bHandle = fw_init() == 0;
    for (int i = 0; i < kMaxBoards; i++) {
        int nSerial = 0;
        int nPort = -1;
        if (fw_find_zanter_index(i, &nSerial, &nPort) != 0)
            break;
        zanload_boot_config config = {};
        if (!bHandle || zanload_get_config(&config, nullptr) != 0)
            config.cur_app_version = 0;
        DIAG_FIREWIRE_BOARD board;
        board.nSerial = static_cast<unsigned long>(static_cast<unsigned int>(nSerial));
        board.nPort = nPort;
        board.firmware = FirmwareVersionText(config);
        boards.push_back(board);
    }
    return true;
}
