#include "ToolkitInstallation.h"

#include <vector>

namespace {

struct Unit {
    const char* szClsid;
    const char* szInf;
    const char* szOsd;
    std::vector<std::string> components;  // what its INF's DefaultUninstall section removes
};

const Unit kUnits[] = {
    {"{3F8A6C12-9D47-11D2-B5E0-0060B8A41C7D}",
     "vlwarden.inf",
     "vlwarden.osd",
     {"WardenUnit", "warden"}},
    {"{2B91D4E7-5A06-11D2-9C3E-00A0D2F7316B}",
     "qlvn2.inf",
     "qlvn.osd",
     {"KorvanUnit", "qlvn2", "qlvn", "Korvane", "tm", "plotra"}},
};

const char* const kInfFiles[] = {"qlvn2.inf",  "qlvn.inf", "Korvane.inf",
                                 "warden.inf", "tm.inf",   "plotra.inf"};
const char* const kLibraries[] = {"vlkorvan.dll", "vlwarden.dll", "vlplotra.dll", "vltemplo.dll"};
const char* const kPrograms[] = {"vlpluser.exe", "vlplhost.exe", "vlbroker.exe", "vlkvuser.exe",
                                 "vlkvhost.exe"};

std::string InfCommand(const std::string& path) {
    return "rundll32.exe advpack.dll,LaunchINFSection " + path + ",DefaultUninstall,1";
}

void RemovesComponents(sim::Machine& machine, const std::string& infPath,
                       std::vector<std::string> components) {
    for (const std::string& component : components) {
        machine.registry().SetDword(kComponentsKey + component, "Installed", 1);
    }
    sim::ProcessOutcome outcome;
    outcome.effect = [components](sim::Machine& m) {
        for (const std::string& component : components) {
            m.registry().DeleteTree(kComponentsKey + component);
        }
    };
    machine.processes().OnCommandLine(InfCommand(infPath), outcome);
}

bool StartsWithIgnoreCase(const std::string& text, const std::string& prefix) {
    return text.size() >= prefix.size() &&
           sim::EqualsIgnoreCase(text.substr(0, prefix.size()), prefix);
}

// The registry trees that are the toolkit's, each with everything below it.
std::vector<std::string> ToolkitTrees() {
    std::vector<std::string> trees;
    for (const Unit& unit : kUnits) {
        trees.push_back(kUnitsKey + unit.szClsid);
    }
    for (const char* szLibrary : kLibraries) {
        trees.push_back(kClassesKey + szLibrary);
    }
    return trees;
}

// The toolkit's files, by exact path: a look-alike beside them is not the toolkit's.
std::vector<std::string> ToolkitFiles() {
    std::vector<std::string> files;
    for (const Unit& unit : kUnits) {
        files.push_back(kDownloadsDirectory + unit.szInf);
        files.push_back(kDownloadsDirectory + unit.szOsd);
    }
    for (const char* szInf : kInfFiles) {
        files.push_back(kInfDirectory + szInf);
    }
    for (const char* szBinary : kLibraries) {
        files.push_back(kWow64Directory + szBinary);
    }
    for (const char* szBinary : kPrograms) {
        files.push_back(kWow64Directory + szBinary);
    }
    return files;
}

// Whether a snapshot line (a key, a value as "key\@name", or a file) is the toolkit's.
bool IsToolkits(const std::string& line) {
    if (StartsWithIgnoreCase(line, kComponentsKey)) {
        return true;
    }
    for (const std::string& tree : ToolkitTrees()) {
        if (StartsWithIgnoreCase(line, tree) &&
            (line.size() == tree.size() || line[tree.size()] == '\\')) {
            return true;
        }
    }
    for (const std::string& file : ToolkitFiles()) {
        if (sim::EqualsIgnoreCase(line, file)) {
            return true;
        }
    }
    return false;
}

std::map<std::string, std::string> Lines(sim::Machine& machine, bool bToolkits) {
    std::map<std::string, std::string> lines;
    for (const auto& entry : machine.registry().Snapshot()) {
        if (IsToolkits(entry.first) == bToolkits) {
            lines.emplace(entry.first, entry.second);
        }
    }
    for (const auto& entry : machine.files().Snapshot()) {
        if (IsToolkits(entry.first) == bToolkits) {
            lines.emplace(entry.first, entry.second);
        }
    }
    return lines;
}

}  // namespace

void InstallToolkit(sim::Machine& machine, const ToolkitOptions& options) {
    sim::Registry& registry = machine.registry();
    sim::FileSystem& files = machine.files();
    if (options.bControlCache) {
        files.SetModule(kWow64Directory + "OCCACHE.DLL", sim::ControlCacheImage());
    }
    for (const Unit& unit : kUnits) {
        const std::string key = kUnitsKey + unit.szClsid;
        registry.SetString(key, "", "Velmor Korvane");
        registry.SetString(key + "\\DownloadInformation", "CODEBASE",
                           "https://downloads.velmor.example/korvane.cab");
        registry.SetString(key + "\\DownloadInformation", "INF", kDownloadsDirectory + unit.szInf);
        registry.SetString(key + "\\DownloadInformation", "OSD", kDownloadsDirectory + unit.szOsd);
        registry.SetString(key + "\\InstalledVersion", "", "1,0,0,1");
        files.AddFile(kDownloadsDirectory + unit.szInf);
        files.AddFile(kDownloadsDirectory + unit.szOsd);
        RemovesComponents(machine, kDownloadsDirectory + unit.szInf, unit.components);
    }
    for (const char* szInf : kInfFiles) {
        files.AddFile(kInfDirectory + szInf);
        const std::string component = std::string(szInf).substr(0, std::string(szInf).find('.'));
        RemovesComponents(machine, kInfDirectory + szInf, {component});
    }
    for (const char* szLibrary : kLibraries) {
        const std::string path = kWow64Directory + szLibrary;
        const std::string classKey = kClassesKey + szLibrary;
        registry.SetString(classKey + "\\InprocServer32", "", path);
        const bool bFaults = options.faultingLibrary == szLibrary;
        const DWORD dwException = options.dwLibraryException;
        const bool bRecovers = options.bLibraryRecovers;
        files.SetModule(path, sim::ToolkitLibraryImage(path, true, [=](sim::Machine& m) {
                            if (bFaults && bRecovers) {
                                sim::RaiseAndRecover(dwException);
                            } else if (bFaults) {
                                RaiseException(dwException, 0, 0, NULL);
                            }
                            m.registry().DeleteTree(classKey);
                        }));
    }
    for (const char* szProgram : kPrograms) {
        files.AddFile(kWow64Directory + szProgram);
    }

    // Beside it: someone else's unit, INF file, library, downloaded files and class, and files
    // named like the toolkit's.
    registry.SetString(kUnitsKey + "{00000000-1111-2222-3333-444444444444}\\DownloadInformation",
                       "INF", kDownloadsDirectory + "other.inf");
    files.AddFile(kDownloadsDirectory + "other.inf");
    files.AddFile(kDownloadsDirectory + "other.osd");
    files.AddFile(kInfDirectory + "other.inf");
    files.AddFile(kWow64Directory + "other.dll");
    files.AddFile(kWow64Directory + "vlother.dll");
    files.AddFile(kInfDirectory + "qlvn3.inf");
    files.AddFile(kDownloadsDirectory + "qlvn.osd.bak");
    registry.SetString(kClassesKey + "{00000000-AAAA-BBBB-CCCC-DDDDDDDDDDDD}\\InprocServer32", "",
                       kWow64Directory + "other.dll");
}

std::map<std::string, std::string> NotTheToolkits(sim::Machine& machine) {
    return Lines(machine, false);
}

std::map<std::string, std::string> TheToolkits(sim::Machine& machine) {
    return Lines(machine, true);
}
