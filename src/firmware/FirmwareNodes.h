// Node search on the FireWire bus for the interface board with a given serial number.
#ifndef KINETOR_FIRMWARE_NODES_H
#define KINETOR_FIRMWARE_NODES_H

#ifdef __cplusplus
extern "C" {
#endif

// 0 when a board with that serial number is attached on any port, -1 otherwise.
int fw_find_zanter(int serial, void* context);
// Nothing to release; 0.
int fw_release_zanter(int unit, void* context);

#ifdef __cplusplus
}
#endif

#endif
