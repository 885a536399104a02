#include "LogShape.h"

#include <regex>

namespace {

const char* const kShapes[] = {
    R"(Velmor Korvane Uninstall utility\.)",
    R"(Korvane has been installed using Windows Installer, please use Add/Remove Programs to remove Korvane)",
    R"(Started UninstallKorvane)",
    R"(IE Version is: \d+)",
    R"(Uninstalling distribution unit: \{[0-9A-F-]{36}\})",
    R"(\tIt wasnt registered)",
    R"(\tIt is registered)",
    R"(Completed uninstalling distribution unit: \{[0-9A-F-]{36}\})",
    R"(Started DeleteInstalledUnit\(\))",
    R"(\t \*\*FAILED\*\* to load OCCACHE\.DLL)",
    R"(\t found RemoveControlByName, calling \.\.\.)",
    R"(\t on .* \.\.\. returned: [0-9a-f]{8})",
    R"(\*\*\* EXCEPTION: [0-9a-f]{8} \*\*\*\*\*)",
    R"(Continuing after exception in RemoveControlByName\(\))",
    R"(Completed DeleteInstalledUnit\(\): [0-9a-f]{8})",
    R"(\tGoing to delete the reg key \.\.\.)",
    R"(Started DeleteDistributionUnit: \{[0-9A-F-]{36}\})",
    R"(\tdistribution has download information registered)",
    R"(\tINF file: \[.*\])",
    R"(\t\t delete inf file failed: [0-9a-f]{8})",
    R"(\t\(delete\) OSD file: \[.*\])",
    R"(\t\t delete osd file failed: [0-9a-f]{8})",
    R"(Completed DeleteDistributionUnit)",
    R"(\[Info\] Checking ManualRunInfUninstall\(bDeleteOnly: (TRUE|FALSE)\)\.\.\.)",
    R"(Looking for: \[[A-Za-z0-9.]+\]( - not found\. OK| it exists))",
    R"(\t\t delete failed: [0-9a-f]{8})",
    R"(\[Info\] Execute command: \[.*\] returned -?\d+)",
    R"(\[Error\] Execute command: \[.*\] failed -?\d+)",
    R"(Final check and removal \.\.\.)",
    R"(\[Info\] DeleteKorvaneFiles\.\.\.)",
    R"(Looking for: \[.*\] - not found\. OK)",
    R"(Looking for: \[.*\] - exists\. ( asking it to unregister)? (deleted ok|delete failed: [0-9a-f]{8}))",
    R"(Looking for: \[.*\] - exists\.  asking it to unregister)",
    R"(Continuing after exception in DllUnregisterServer\(\) (deleted ok|delete failed: [0-9a-f]{8}))",
    R"(\[Info\] DeleteKorvaneOSDFiles\.\.\.)",
    R"(Looking for: \[.*\] - exists\. (deleted ok|delete failed: [0-9a-f]{8}))",
    R"(Leaving UninstallKorvane)",
};

const std::vector<std::regex>& Shapes() {
    static const std::vector<std::regex> shapes = [] {
        std::vector<std::regex> compiled;
        for (const char* szShape : kShapes) {
            compiled.emplace_back(szShape);
        }
        return compiled;
    }();
    return shapes;
}

bool IsKnown(const std::string& line) {
    for (const std::regex& shape : Shapes()) {
        if (std::regex_match(line, shape)) {
            return true;
        }
    }
    return false;
}

}  // namespace

std::vector<std::string> MalformedLines(const std::string& log) {
    std::vector<std::string> malformed;
    size_t nStart = 0;
    while (nStart < log.size()) {
        const size_t nEnd = log.find('\n', nStart);
        if (nEnd == std::string::npos) {
            const std::string rest = log.substr(nStart);
            if (rest != "Press any key to continue ...") {
                malformed.push_back(rest + " (no newline)");
            }
            break;
        }
        const std::string line = log.substr(nStart, nEnd - nStart);
        if (line.find('\0') != std::string::npos || !IsKnown(line)) {
            malformed.push_back(line);
        }
        nStart = nEnd + 1;
    }
    return malformed;
}
