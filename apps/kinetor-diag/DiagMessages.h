// The sentences the tool prints when something stands in the user's way. Each says what
// is wrong and what to do about it, so that a first-time user needs no other page.
#ifndef DIAG_MESSAGES_H
#define DIAG_MESSAGES_H

#include <string>

// What a look at a device node found.
enum {
    NODE_PRESENT = 0,   // exists and may be opened for reading and writing
    NODE_MISSING = 1,   // no such file
    NODE_DENIED = 2,    // exists, but this user may not open it
    NODE_NONE = 3       // the interface has no node of its own to look at
};

// The device node a configuration's interface opens ("/dev/kinepp", "/dev/kinpci0", ...),
// or an empty string for interfaces without one. nUnit is the configuration's one-based unit.
std::string DeviceNodeFor(unsigned long nCardType, unsigned long nUnit);
// NODE_PRESENT, NODE_MISSING or NODE_DENIED for the node at pszPath; NODE_NONE for "".
int ProbeDeviceNode(const char* pszPath);

// The sentence for an open of configuration pszName that failed with nCode. With the
// hardware simulator running, nodes are simulated and nNodeState is ignored.
std::string DescribeOpenFailure(const char* pszName, int nCode, const std::string& node, int nNodeState,
                                bool bSimulated);
// The sentence when no configuration named pszName exists (pszName null: none at all).
std::string DescribeMissingConfiguration(const char* pszName);
// A short name of a library result code ("configuration not found", ...).
const char* ResultCodeText(int nCode);

#endif
