// The configuration the demo (and the servo benchmarks) set up when no device is named.
#ifndef KINETOR_DEMO_CONFIGURATION_H
#define KINETOR_DEMO_CONFIGURATION_H

extern const char g_pszDemoConfigName[];

// Writes "Kinetor0.ini" into pszDir; false when it cannot be written.
bool WriteDemoConfiguration(const char* pszDir, const char* pszName);

#endif
