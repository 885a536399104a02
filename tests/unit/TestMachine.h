#pragma once
// The fixture every unit test stands on: a fresh simulated machine and a process state as a
// new process has it.

#include <gtest/gtest.h>

#include <initializer_list>
#include <optional>
#include <string>

#include "Console.h"
#include "Machine.h"
#include "ProcessState.h"

int KorvaneUninstallMain(int argc, char* argv[]);

// Runs the program's entry with these arguments after the program name.
int RunProgram(std::initializer_list<std::string> args);

class MachineTest : public ::testing::Test {
protected:
    MachineTest() { Boot(sim::Shape()); }

    // Replaces the machine with a new one of another shape.
    void Boot(const sim::Shape& shape) {
        m_machine.reset();
        m_machine.emplace(shape);
        ResetProcessState();
    }

    sim::Machine& machine() { return *m_machine; }
    sim::Registry& registry() { return m_machine->registry(); }
    sim::FileSystem& files() { return m_machine->files(); }

private:
    std::optional<sim::Machine> m_machine;
};
