#include "TestMachine.h"

#include <stdio.h>

#include <vector>

int RunProgram(std::initializer_list<std::string> args) {
    std::vector<std::string> storage{"KorvaneUninstall.exe"};
    storage.insert(storage.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : storage) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    return KorvaneUninstallMain(static_cast<int>(storage.size()), argv.data());
}

namespace {

// Cases capture standard output, and with it Google Test's own failure report: say it again
// on standard error.
class FailuresOnStandardError : public ::testing::EmptyTestEventListener {
    void OnTestPartResult(const ::testing::TestPartResult& result) override {
        if (result.failed()) {
            fprintf(stderr, "%s:%d: Failure\n%s\n", result.file_name() ? result.file_name() : "?",
                    result.line_number(), result.summary());
        }
    }
};

const bool g_bFailuresOnStandardError = [] {
    ::testing::UnitTest::GetInstance()->listeners().Append(new FailuresOnStandardError);
    return true;
}();

}  // namespace
