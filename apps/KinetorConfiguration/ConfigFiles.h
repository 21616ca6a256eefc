// File chores of the program around the configuration store: where the store writes, what
// a stored file holds now, and removing the per-device state files of a configuration.
#ifndef CONFIG_FILES_H
#define CONFIG_FILES_H

#include <stddef.h>

#include <string>

#include "KinetorTypes.h"

// The directory the store writes configurations to: $KINETOR_CONFIG_FILES when set, else the
// fixed directory.
const char* ConfigWriteDir();
// TRUE when pszDir is an existing directory in which files can be created.
BOOLEAN DirectoryIsWritable(const char* pszDir);
// The whole text of a configuration file found by the store's read search; FALSE when absent.
BOOLEAN ReadStoredText(const char* pszFileName, std::string& strText);
// Removes the calibration, temperature and pinch files of the named configuration from the
// fixed directory and from the $KINETOR_CONFIG_FILES directory.
void RemoveStateFiles(const char* pszName);
// The directory RemoveStateFiles treats as the fixed one (null: the real fixed directory), so
// that the tests never touch the system's directory.
void SetFixedStateDir(const char* pszDir);

#endif
