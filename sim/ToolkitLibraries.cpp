// The toolkit's own libraries as simulated modules. DllUnregisterServer takes no arguments,
// so each library's export is a trampoline of its own, bound to that library's path.
#include <stdio.h>
#include <stdlib.h>

#include <array>
#include <utility>

#include "Internal.h"

namespace sim {

namespace {

using PFN_DLL_UNREGISTER_SERVER = HRESULT(WINAPI*)();

const size_t kSlots = 64;
std::function<HRESULT()> g_slots[kSlots];

template <size_t I>
HRESULT WINAPI Trampoline() {
    return g_slots[I]();
}

template <size_t... I>
std::array<PFN_DLL_UNREGISTER_SERVER, sizeof...(I)> MakeTrampolines(std::index_sequence<I...>) {
    return {&Trampoline<I>...};
}

const std::array<PFN_DLL_UNREGISTER_SERVER, kSlots> g_trampolines =
    MakeTrampolines(std::make_index_sequence<kSlots>());

FARPROC Bind(std::function<HRESULT()> function) {
    for (size_t i = 0; i < kSlots; ++i) {
        if (!g_slots[i]) {
            g_slots[i] = std::move(function);
            return AsFarProc(g_trampolines[i]);
        }
    }
    fprintf(stderr, "sim: more than %zu toolkit libraries on one machine\n", kSlots);
    abort();
}

}  // namespace

void ReleaseToolkitLibraryExports() {
    for (std::function<HRESULT()>& slot : g_slots) {
        slot = nullptr;
    }
}

ModuleImagePtr ToolkitLibraryImage(std::string path, bool bUnregisters,
                                   std::function<void(Machine&)> effect) {
    ModuleImagePtr image = EmptyImage(BaseNameOf(path));
    if (bUnregisters) {
        image->exports["DllUnregisterServer"] = Bind([path, effect]() {
            Machine& machine = Machine::Current();
            machine.toolkitLibraries().unregistered.push_back(path);
            if (effect) {
                effect(machine);
            }
            return S_OK;
        });
    }
    image->exports["DllGetVersion"] = AsFarProc(&GetCurrentThreadId);
    return image;
}

}  // namespace sim
