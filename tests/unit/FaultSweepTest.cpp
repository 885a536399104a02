// Every Windows call site the whole program reaches, made to fail in turn on a machine with the
// toolkit installed; and the calls into foreign libraries made to raise structured exceptions.
// Whatever fails, the removal must go on to its end, log what the failure calls for, leave
// everything that is not the toolkit's alone and release what it took.

#include <stdio.h>

#include <map>
#include <string>
#include <vector>

#include "LogShape.h"
#include "TestMachine.h"
#include "ToolkitInstallation.h"

namespace {

// What each function plausibly fails with on a real machine.
DWORD PlausibleError(const std::string& api) {
    static const std::map<std::string, DWORD> errors = {
        {"DeleteFileA", ERROR_ACCESS_DENIED},
        {"LoadLibraryA", ERROR_MOD_NOT_FOUND},
        {"LoadLibraryExA", ERROR_MOD_NOT_FOUND},
        {"GetProcAddress", ERROR_PROC_NOT_FOUND},
        {"GetModuleHandleA", ERROR_MOD_NOT_FOUND},
        {"FreeLibrary", ERROR_INVALID_HANDLE},
        {"CloseHandle", ERROR_INVALID_HANDLE},
        {"RegCloseKey", ERROR_INVALID_HANDLE},
        {"GetExitCodeProcess", ERROR_INVALID_HANDLE},
        {"MsgWaitForMultipleObjects", ERROR_INVALID_HANDLE},
        {"GetSystemDirectoryA", ERROR_NOT_ENOUGH_MEMORY},
        {"GetSystemWow64DirectoryA", ERROR_NOT_ENOUGH_MEMORY},
        {"GetWindowsDirectoryA", ERROR_NOT_ENOUGH_MEMORY},
        {"SetDefaultDllDirectories", ERROR_INVALID_PARAMETER},
        {"SetDllDirectoryA", ERROR_INVALID_PARAMETER},
        {"GetFileVersionInfoSizeA", ERROR_RESOURCE_TYPE_NOT_FOUND},
        {"GetFileVersionInfoA", ERROR_RESOURCE_TYPE_NOT_FOUND},
        {"VerQueryValueA", ERROR_RESOURCE_TYPE_NOT_FOUND},
    };
    auto it = errors.find(api);
    return it == errors.end() ? static_cast<DWORD>(ERROR_ACCESS_DENIED) : it->second;
}

bool Releases(const std::string& api) {
    return api == "RegCloseKey" || api == "CloseHandle" || api == "FreeLibrary";
}

size_t Occurrences(const std::string& text, const std::string& part) {
    size_t nCount = 0;
    for (size_t n = text.find(part); n != std::string::npos; n = text.find(part, n + 1)) {
        ++nCount;
    }
    return nCount;
}

std::string Hex8(DWORD dwValue) {
    char sz[16];
    snprintf(sz, sizeof(sz), "%08x", static_cast<unsigned>(dwValue));
    return sz;
}

// The machine shapes the sweep runs on: between them every path of the removal is taken.
struct MachineSetup {
    const char* szName;
    ToolkitOptions options;
    sim::ControlCacheBehaviour controlCache;
    bool bStubbornInf;  // C:\WINDOWS\Inf\qlvn.inf refuses deletion, so the full sweep runs it
    bool bOldLoader;    // Windows before SetDefaultDllDirectories, as XP and Vista are
};

const MachineSetup kSetups[] = {
    {"control cache removes the units", ToolkitOptions(), sim::ControlCacheBehaviour::RemovesUnit,
     false, false},
    {"control cache refuses, an INF copy in use", ToolkitOptions(),
     sim::ControlCacheBehaviour::Fails, true, false},
    {"a loader without SetDefaultDllDirectories", ToolkitOptions(),
     sim::ControlCacheBehaviour::RemovesUnit, false, true},
};

class FaultSweepTest : public MachineTest {
protected:
    void Install(const MachineSetup& setup) {
        InstallToolkit(machine(), setup.options);
        machine().controlCache().behaviour = setup.controlCache;
        if (setup.bStubbornInf) {
            files().SetDeleteError(kInfDirectory + "qlvn.inf", ERROR_SHARING_VIOLATION);
        }
        if (setup.bOldLoader) {
            machine().RemoveSystemExport("kernel32.dll", "SetDefaultDllDirectories");
        }
    }

    struct Run {
        std::string log;
        int nExit = -1;
        bool bEscaped = false;  // a structured exception got out of the program
    };

    Run RunWholeProgram() {
        Run run;
        sim::ScriptedStdin in("");
        sim::CapturedStdout out;
        try {
            run.nExit = RunProgram({"/log"});
        } catch (const sim::UnhandledStructuredException&) {
            run.bEscaped = true;
        }
        run.log = out.Text();
        return run;
    }

    // What holds after any run, faulty or not.
    void ExpectSoundEnd(const Run& run, const std::map<std::string, std::string>& othersBefore,
                        const std::string& faultedApi, const std::string& what) {
        ASSERT_FALSE(run.bEscaped) << what;
        EXPECT_EQ(run.nExit, 0) << what;
        EXPECT_NE(run.log.find("Leaving UninstallKorvane\n"), std::string::npos) << what;
        EXPECT_EQ(MalformedLines(run.log), std::vector<std::string>{}) << what;
        EXPECT_EQ(NotTheToolkits(machine()), othersBefore) << what;
        EXPECT_EQ(machine().ExceptionHandlerCount(), 0u) << what;
        if (!Releases(faultedApi)) {
            EXPECT_EQ(registry().OpenHandleCount(), 0u) << what;
            EXPECT_EQ(machine().OpenKernelHandleCount(), 0u) << what;
            for (const char* szLibrary : {"OCCACHE.DLL", "version.dll", "vlkorvan.dll",
                                          "vlwarden.dll", "vlplotra.dll", "vltemplo.dll"}) {
                EXPECT_EQ(machine().LoadedModuleCount(kWow64Directory + szLibrary), 0u)
                    << what << " " << szLibrary;
            }
        }
    }

    // The lines the program writes for the failures it was handed.
    void ExpectFailuresLogged(const std::string& log, const std::string& what) {
        size_t nDeletions = 0;
        for (const sim::InjectedFault& fault : machine().faults().Injected()) {
            const std::string subject = sim::Upper(fault.subject);
            const bool bLoad = fault.api == "LoadLibraryA" || fault.api == "LoadLibraryExA";
            if (bLoad && subject.find("OCCACHE") != std::string::npos) {
                EXPECT_NE(log.find("\t **FAILED** to load OCCACHE.DLL\n"), std::string::npos)
                    << what;
            }
            if (fault.api == "CreateProcessA") {
                EXPECT_NE(log.find("[Error] Execute command: [" + fault.subject + "] failed " +
                                   std::to_string(fault.dwError) + "\n"),
                          std::string::npos)
                    << what;
            }
            if (fault.api == "GetExitCodeProcess") {
                EXPECT_NE(log.find("] returned 0\n"), std::string::npos) << what;
            }
            if (fault.api == "DeleteFileA") {
                ++nDeletions;
            }
            const bool bVersionLibrary = (bLoad || fault.api == "GetProcAddress") &&
                                         subject.find("VERSION.DLL") != std::string::npos;
            if (fault.api.rfind("GetFileVersionInfo", 0) == 0 || fault.api == "VerQueryValueA" ||
                bVersionLibrary) {
                EXPECT_NE(log.find("IE Version is: 0\n"), std::string::npos) << what;
            }
        }
        // Every refused deletion has its line, with the error in hexadecimal.
        if (nDeletions > 0) {
            EXPECT_EQ(Occurrences(log, "failed: " + Hex8(ERROR_ACCESS_DENIED) + "\n"), nDeletions)
                << what;
        }
    }
};

TEST_F(FaultSweepTest, EveryCallSiteFailsInTurn) {
    size_t nSites = 0;
    size_t nRuns = 0;
    size_t nInjected = 0;
    for (const MachineSetup& setup : kSetups) {
        Boot(sim::Shape());
        Install(setup);
        const auto baselineOthers = NotTheToolkits(machine());
        machine().faults().StartRecording();
        const Run baseline = RunWholeProgram();
        machine().faults().StopRecording();
        ExpectSoundEnd(baseline, baselineOthers, "", setup.szName);
        const std::map<sim::CallSite, size_t> sites = machine().faults().RecordedSites();
        nSites += sites.size();

        for (const auto& site : sites) {
            // Every call from the site, then only its first one.
            for (int nOccurrence : {0, 1}) {
                if (nOccurrence == 1 && site.second == 1) {
                    continue;
                }
                Boot(sim::Shape());
                Install(setup);
                const auto othersBefore = NotTheToolkits(machine());
                const DWORD dwError = PlausibleError(site.first.api);
                machine().faults().Inject(sim::FaultRule(site.first.api, dwError, "", nOccurrence,
                                                         site.first.pReturnAddress));

                const Run run = RunWholeProgram();

                char szWhat[256];
                snprintf(szWhat, sizeof(szWhat), "%s: %s at %p (of %zu calls) fails %s with %u",
                         setup.szName, site.first.api.c_str(), site.first.pReturnAddress,
                         site.second, nOccurrence == 0 ? "always" : "once",
                         static_cast<unsigned>(dwError));
                ASSERT_GT(machine().faults().InjectedCount(), 0u) << szWhat;
                ExpectSoundEnd(run, othersBefore, site.first.api, szWhat);
                ExpectFailuresLogged(run.log, szWhat);
                ++nRuns;
                nInjected += machine().faults().InjectedCount();
            }
        }
    }
    printf("fault sweep: %zu call sites, %zu runs, %zu failing calls injected, all survived\n",
           nSites, nRuns, nInjected);
    RecordProperty("call_sites", static_cast<int>(nSites));
    RecordProperty("faulty_runs", static_cast<int>(nRuns));
    RecordProperty("faults_injected", static_cast<int>(nInjected));
    EXPECT_GT(nSites, 40u);
}

TEST_F(FaultSweepTest, StructuredExceptionsInsideForeignLibrariesAreContained) {
    // Faults, and a C++ exception thrown out of a library built with another compiler.
    const DWORD codes[] = {EXCEPTION_ACCESS_VIOLATION,   EXCEPTION_ILLEGAL_INSTRUCTION,
                           EXCEPTION_INT_DIVIDE_BY_ZERO, EXCEPTION_STACK_OVERFLOW,
                           EXCEPTION_BREAKPOINT,         0xE06D7363u};
    size_t nRaised = 0;
    for (const DWORD dwCode : codes) {
        // Inside the control cache, for both units.
        Boot(sim::Shape());
        Install(kSetups[0]);
        machine().controlCache().behaviour = sim::ControlCacheBehaviour::Raises;
        machine().controlCache().dwExceptionCode = dwCode;
        auto othersBefore = NotTheToolkits(machine());
        Run run = RunWholeProgram();
        ExpectSoundEnd(run, othersBefore, "", "control cache raises " + Hex8(dwCode));
        EXPECT_EQ(Occurrences(run.log, "*** EXCEPTION: " + Hex8(dwCode) + " *****\n"), 2u);
        EXPECT_EQ(Occurrences(run.log, "Continuing after exception in RemoveControlByName()\n"),
                  2u);
        nRaised += 2;

        // Inside each of the toolkit's libraries as it is asked to unregister, left unhandled,
        // or handled by the library itself, which then removes its registration as usual.
        for (const char* szLibrary :
             {"vlkorvan.dll", "vlwarden.dll", "vlplotra.dll", "vltemplo.dll"}) {
            for (const bool bRecovers : {false, true}) {
                Boot(sim::Shape());
                MachineSetup setup = kSetups[0];
                setup.options.faultingLibrary = szLibrary;
                setup.options.dwLibraryException = dwCode;
                setup.options.bLibraryRecovers = bRecovers;
                Install(setup);
                othersBefore = NotTheToolkits(machine());
                run = RunWholeProgram();
                const std::string what = std::string(szLibrary) +
                                         (bRecovers ? " raises and handles " : " raises ") +
                                         Hex8(dwCode);
                ExpectSoundEnd(run, othersBefore, "", what);
                const std::string line =
                    "Looking for: [" + kWow64Directory + szLibrary +
                    "] - exists.  asking it to unregister" +
                    (bRecovers
                         ? std::string()
                         : "\n*** EXCEPTION: " + Hex8(dwCode) +
                               " *****\nContinuing after exception in DllUnregisterServer()") +
                    " deleted ok\n";
                EXPECT_NE(run.log.find(line), std::string::npos) << what;
                EXPECT_EQ(machine().toolkitLibraries().unregistered.size(), 4u) << what;
                const auto left = TheToolkits(machine());
                EXPECT_EQ(left.count(kClassesKey + szLibrary), bRecovers ? 0u : 1u) << what;
                ++nRaised;
            }
        }
    }
    printf(
        "exception sweep: %zu structured exceptions raised inside foreign libraries, all "
        "contained\n",
        nRaised);
    RecordProperty("exceptions_raised", static_cast<int>(nRaised));
}

}  // namespace
