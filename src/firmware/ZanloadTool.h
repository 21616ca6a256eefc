// Pieces of a command-line firmware loader: its option state, usage text and the
// serial-number counter file. They print and end the process as such a tool does.
#ifndef KINETOR_ZANLOAD_TOOL_H
#define KINETOR_ZANLOAD_TOOL_H

#include "KinetorFirmware.h"

namespace zanload_tool {

#define ZANLOAD_FILENAME_SIZE 1000

extern int unit_number;
extern int force_flag;
extern int no_commit_flag;
extern int commit_flag;
extern int bank_4_flag;
extern int verbose;
extern const char* filename;
extern int enable_extra_flash_writes;
extern int sflag;
extern int serial_number;
extern int auto_assign_serial_num;
extern int display_config;
// Names of the counter files: the current one and the one written beside it.
extern char last_serial_file[ZANLOAD_FILENAME_SIZE];
extern char new_serial_file[ZANLOAD_FILENAME_SIZE];

void usage();
void get_serial_number();
void write_last_serial_number();
void store_serial_number(zanload_boot_config* pConfig);

}  // namespace zanload_tool

#endif
