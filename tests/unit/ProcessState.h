#pragma once

// Every piece of the program's process-wide state back to what a new process starts with.
void ResetProcessState();
