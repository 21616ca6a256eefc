#include "firmware/ZanloadTool.h"

#include <stdio.h>
#include <stdlib.h>

namespace zanload_tool {

namespace {

const char kSerialBase[] = "LAST-SER";

void FormNames()
{
    snprintf(last_serial_file, sizeof(last_serial_file), "%s.TXT", kSerialBase);
    snprintf(new_serial_file, sizeof(new_serial_file), "%s.TMP", kSerialBase);
}

}  // namespace

int unit_number = 0;
int force_flag = 0;
int no_commit_flag = 0;
int commit_flag = 0;
int bank_4_flag = 0;
int verbose = 0;
const char* filename = nullptr;
int enable_extra_flash_writes = 0;
int sflag = 0;
int serial_number = 0;
int auto_assign_serial_num = 0;
int display_config = 0;
char last_serial_file[ZANLOAD_FILENAME_SIZE];
char new_serial_file[ZANLOAD_FILENAME_SIZE];

void usage()
{
    fputs("usage: zanload [opts] [firmware-file]\n", stderr);
    fputs("  -u unitnum\n", stderr);
    fputs("  -f          force (ignore some errors)\n", stderr);
    fputs("  -v          verbose\n", stderr);
    fputs("  -n          no commit\n", stderr);
    fputs("  -C          commit\n", stderr);
    fputs("  -4          second stage update of dev hw\n", stderr);
    fputs("  -s num      set serial number\n", stderr);
    fputs("  -a          auto assign next serial number\n", stderr);
    fputs("  -V          print version\n", stderr);
    exit(1);
}

void get_serial_number()
{
    FormNames();
    FILE* f = fopen(last_serial_file, "r");
    if (!f) {
        fprintf(stderr, "can't assign serial number because %s is missing\n", last_serial_file);
        exit(1);
    }
    int nLast = 0;
    int nRead = fscanf(f, "%d", &nLast);
    fclose(f);
    if (nRead != 1) {
        fprintf(stderr, "can't assign serial number because %s corrupted\n", last_serial_file);
        exit(1);
    }
    serial_number = nLast + 1;
}

void write_last_serial_number()
{
    FormNames();
    remove(new_serial_file);
    FILE* f = fopen(new_serial_file, "w");
    if (!f) {
        fprintf(stderr, "can't create temporary file %s\n", new_serial_file);
        exit(1);
    }
    fprintf(f, "%d\n", serial_number);
    // The counter is replaced only by a file known to be complete.
    if (fclose(f) != 0 || rename(new_serial_file, last_serial_file) != 0) {
        fprintf(stderr, "can't create temporary file %s\n", new_serial_file);
        exit(1);
    }
}

void store_serial_number(zanload_boot_config* pConfig)
{
    if (auto_assign_serial_num)
        get_serial_number();
    if (serial_number == 0 && !force_flag) {
        fputs("invalid serial number specified\n", stderr);
        exit(1);
    }
    printf("setting serial number to %d\n", serial_number);
    int nResult = zanload_store_serial_number(pConfig, serial_number, nullptr);
    if (nResult == ZANLOAD_NO_ERROR) {
        if (auto_assign_serial_num)
            write_last_serial_number();
        puts("ok");
        return;
    }
    if (nResult == ZANLOAD_CONFIG_ROM_ERROR) {
        fputs("error creating config rom image\n", stderr);
    } else if (nResult == ZANLOAD_ERASE_ERROR) {
        if (pConfig && pConfig->serial_number != 0)
            fputs("changing the serial number requires special arguments\n", stderr);
        else
            fputs("error erasing GUID bank\n", stderr);
    } else {
        fprintf(stderr, "abort due to error storing data: %s\n", zanload_errstr(nResult));
    }
    exit(1);
}

}  // namespace zanload_tool
