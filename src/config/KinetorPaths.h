// Where the configuration and per-device state files live, and how their paths are formed.
#ifndef KINETOR_PATHS_H
#define KINETOR_PATHS_H

#include <stddef.h>

#include "KinetorTypes.h"

// The fixed configuration directory.
#define KINETOR_CONFIG_DIR "/etc/Tandrel/KinetorDeviceDrivers"
extern const char g_szKinetorConfigDir[];
// Environment variable naming the directory used instead of the fixed one.
#define KINETOR_CONFIG_ENV "KINETOR_CONFIG_FILES"
// Longest path formed, in characters (the buffers hold one more for the NUL).
#define KINETOR_MAX_PATH 511

// Path of the state file named by pszPattern (a printf pattern with one %s) filled with
// pszName, inside $KINETOR_CONFIG_FILES when set and non-empty, else inside the fixed
// directory. FALSE, with an empty string in pszPath when there is room for it, when an
// argument is null, pszName holds a '/', or the path does not fit in nSize.
BOOLEAN FormStateFilePath(char* pszPath, size_t nSize, const char* pszPattern, const char* pszName);

// "%s/%s" of a directory and a file name; FALSE (and an empty string) when it does not
// fit in nSize or exceeds KINETOR_MAX_PATH characters.
BOOLEAN FormConfigPath(char* pszPath, size_t nSize, const char* pszDir, const char* pszFileName);

// The KINETOR_CONFIG_FILES directory, or null when the variable is unset or empty.
const char* GetConfigFilesDir();

#endif
