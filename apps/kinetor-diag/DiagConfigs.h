// The configurations as the tool sees them: where each file lives and what it names, and
// new configurations written from a model's defaults, as the configuration program would.
#ifndef DIAG_CONFIGS_H
#define DIAG_CONFIGS_H

#include <string>
#include <vector>

typedef struct _DIAG_CONFIG {
    int nIndex;                 // n of "Kinetor<n>.ini"
    std::string name;
    std::string path;           // the file the library reads (first in its search order)
    bool bReadable;             // the whole record could be read
    unsigned long nModelType;
    unsigned long nCardType;
    unsigned long nUnit;        // one-based unit of the interface
    unsigned long nChannel;
    unsigned long nSerial;      // FireWire serial number
} DIAG_CONFIG;

// Every configuration found, in file order.
std::vector<DIAG_CONFIG> FindConfigurations();
// The configuration named pszName; false when there is none.
bool FindConfiguration(const char* pszName, DIAG_CONFIG& config);

const char* ModelName(unsigned long nModelType);
const char* InterfaceName(unsigned long nCardType);

typedef struct _DIAG_NEW_OPTIONS {
    const char* pszModel;       // altura-a, altura-t, altura-6dof, bravis, cirrel
    const char* pszName;
    const char* pszInterface;   // epp, pci, isa, vme (Altura A and T); null: the model's default
    unsigned long nUnit;        // 1 .. 4
    long nAddress;              // parallel port base address; -1: the default 0x378
    int nWorkspace;             // Altura A and T: 0 .. 3; Altura 6 DOF: 0 .. 2
    const char* pszGimbal;      // none, hires, lores (Altura A and T)
    unsigned long nSerial;      // Cirrel: the FireWire board's serial number
} DIAG_NEW_OPTIONS;

// Sets the defaults of a new configuration of pszModel named pszName.
void InitNewOptions(DIAG_NEW_OPTIONS& options, const char* pszModel, const char* pszName);
// Writes the configuration; true with its path, false with a sentence in error.
bool CreateConfiguration(const DIAG_NEW_OPTIONS& options, std::string& path, std::string& error);
// The model keywords CreateConfiguration accepts, for the help text.
const char* ModelKeywords();

#endif
