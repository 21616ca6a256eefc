// Whole-file replacement for every file the package writes (configurations and the
// per-device state files). Rewriting a file in place truncates it first, so a write that
// fails part-way (a full disk, a file-size limit, a crash) would leave it torn or empty.
// Instead the bytes go to a fresh file beside it, are flushed to the disk, and only then
// renamed over the old one: readers see the old file or the new one, never a mixture.
#ifndef KINETOR_REPLACE_FILE_H
#define KINETOR_REPLACE_FILE_H

#include <stddef.h>

#include "KinetorTypes.h"

// Replaces the file at pszPath with the nLength bytes at pData. TRUE when the new content
// is in place; FALSE on any failure, in which case the old file (if any) is untouched and
// no temporary file is left behind. The new file keeps the permission bits of the old one,
// or gets 0644. A link is followed and the file it names is replaced; a path naming
// something other than a regular file is refused.
//
// pbCreated, when given, tells why a FALSE result came: FALSE when nothing could be created
// in the file's directory (callers may then try another directory), TRUE when the
// temporary file existed and a later step (writing, flushing, renaming) failed.
BOOLEAN ReplaceFileContents(const char* pszPath, const void* pData, size_t nLength,
                            BOOLEAN* pbCreated = nullptr);

#endif
