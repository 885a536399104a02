#pragma once
// The toolkit installed on the simulated machine as the browser's code download and its INF
// setup leave it, with things that are not the toolkit's beside it.

#include <map>
#include <string>

#include "Machine.h"

// The 32-bit view, where a 32-bit installation lands on 64-bit Windows.
inline const std::string kUnitsKey =
    "HKLM\\SOFTWARE\\Wow6432Node\\Microsoft\\Code Store Database\\Distribution Units\\";
inline const std::string kComponentsKey =
    "HKLM\\SOFTWARE\\Wow6432Node\\Velmor\\Korvane\\Components\\";
inline const std::string kClassesKey = "HKLM\\SOFTWARE\\Wow6432Node\\Classes\\CLSID\\";
inline const std::string kDownloadsDirectory = "C:\\WINDOWS\\Downloaded Program Files\\";
inline const std::string kInfDirectory = "C:\\WINDOWS\\Inf\\";
inline const std::string kWow64Directory = "C:\\WINDOWS\\SysWOW64\\";

struct ToolkitOptions {
    bool bControlCache = true;  // OCCACHE.DLL present, removing units
    // When set, this library's DllUnregisterServer raises dwLibraryException, and handles it
    // itself when bLibraryRecovers.
    std::string faultingLibrary;
    DWORD dwLibraryException = EXCEPTION_ACCESS_VIOLATION;
    bool bLibraryRecovers = false;
};

void InstallToolkit(sim::Machine& machine, const ToolkitOptions& options = ToolkitOptions());

// Everything on the machine that is not the toolkit's: keys and files, one line each.
std::map<std::string, std::string> NotTheToolkits(sim::Machine& machine);

// What of the toolkit is still there.
std::map<std::string, std::string> TheToolkits(sim::Machine& machine);
