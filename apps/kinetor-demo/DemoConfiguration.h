// The configuration the demo (and the servo benchmarks) set up when no device is named.
#ifndef KINETOR_DEMO_CONFIGURATION_H
#define KINETOR_DEMO_CONFIGURATION_H

extern const char g_pszDemoConfigName[];

// Writes "Kinetor0.ini" into pszDir: the name line, then pszBody (every line after the
// name, in the file's layout); false when it cannot be written.
bool WriteConfigurationFile(const char* pszDir, const char* pszName, const char* pszBody);
// The same with the demo arm's body.
bool WriteDemoConfiguration(const char* pszDir, const char* pszName);

#endif
