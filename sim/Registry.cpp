// The simulated registry: HKLM and HKCU trees with raw value bytes, the Wow6432Node view of
// HKLM\SOFTWARE for 32-bit callers on 64-bit Windows, and advapi32's functions over it.
#include <stdio.h>

#include "Machine.h"

namespace sim {

namespace {

const REGSAM kViewMask = KEY_WOW64_64KEY | KEY_WOW64_32KEY;

std::vector<std::string> SplitPath(std::string_view path) {
    std::vector<std::string> parts;
    size_t nStart = 0;
    while (nStart <= path.size()) {
        size_t nEnd = path.find('\\', nStart);
        if (nEnd == std::string_view::npos) {
            nEnd = path.size();
        }
        if (nEnd > nStart) {
            parts.emplace_back(path.substr(nStart, nEnd - nStart));
        }
        nStart = nEnd + 1;
    }
    return parts;
}

std::string Hex(const Bytes& data) {
    std::string text;
    char sz[4];
    for (BYTE b : data) {
        snprintf(sz, sizeof(sz), "%02x", b);
        text += sz;
    }
    return text;
}

bool IsStringType(DWORD dwType) {
    return dwType == REG_SZ || dwType == REG_EXPAND_SZ || dwType == REG_MULTI_SZ;
}

}  // namespace

struct KeyNode {
    std::string name;
    KeyNode* parent = nullptr;
    std::map<std::string, std::shared_ptr<KeyNode>, CaseInsensitiveLess> children;
    std::map<std::string, RegValue, CaseInsensitiveLess> values;
    bool bDeleted = false;
    REGSAM samDenied = 0;

    std::string Path() const { return parent == nullptr ? name : parent->Path() + "\\" + name; }
};

struct Registry::Impl {
    std::shared_ptr<KeyNode> hklm = std::make_shared<KeyNode>();
    std::shared_ptr<KeyNode> hkcu = std::make_shared<KeyNode>();
    std::shared_ptr<KeyNode> hku = std::make_shared<KeyNode>();

    struct Handle {
        std::shared_ptr<KeyNode> node;
        REGSAM samGranted = 0;
    };
    std::map<uintptr_t, Handle> handles;
    uintptr_t nNextHandle = 0x1000;

    Impl() {
        hklm->name = "HKLM";
        hkcu->name = "HKCU";
        hku->name = "HKU";
    }

    std::shared_ptr<KeyNode> RootOf(std::string_view name) const {
        if (EqualsIgnoreCase(name, "HKLM") || EqualsIgnoreCase(name, "HKEY_LOCAL_MACHINE")) {
            return hklm;
        }
        if (EqualsIgnoreCase(name, "HKCU") || EqualsIgnoreCase(name, "HKEY_CURRENT_USER")) {
            return hkcu;
        }
        if (EqualsIgnoreCase(name, "HKU") || EqualsIgnoreCase(name, "HKEY_USERS")) {
            return hku;
        }
        return nullptr;
    }

    std::shared_ptr<KeyNode> FindPhysical(std::string_view path) const {
        std::vector<std::string> parts = SplitPath(path);
        if (parts.empty()) {
            return nullptr;
        }
        std::shared_ptr<KeyNode> node = RootOf(parts[0]);
        for (size_t i = 1; node != nullptr && i < parts.size(); ++i) {
            auto it = node->children.find(parts[i]);
            node = it == node->children.end() ? nullptr : it->second;
        }
        return node;
    }

    static std::shared_ptr<KeyNode> AddChild(KeyNode& parent, const std::string& name) {
        auto it = parent.children.find(name);
        if (it != parent.children.end()) {
            return it->second;
        }
        auto child = std::make_shared<KeyNode>();
        child->name = name;
        child->parent = &parent;
        parent.children.emplace(name, child);
        return child;
    }

    std::shared_ptr<KeyNode> CreatePhysical(std::string_view path) {
        std::vector<std::string> parts = SplitPath(path);
        std::shared_ptr<KeyNode> node = parts.empty() ? nullptr : RootOf(parts[0]);
        if (node == nullptr) {
            fprintf(stderr, "sim: no registry root in '%.*s'\n", static_cast<int>(path.size()),
                    path.data());
            abort();
        }
        for (size_t i = 1; i < parts.size(); ++i) {
            node = AddChild(*node, parts[i]);
        }
        return node;
    }

    static void MarkDeleted(KeyNode& node) {
        node.bDeleted = true;
        for (auto& child : node.children) {
            MarkDeleted(*child.second);
        }
        node.children.clear();
    }

    void Detach(KeyNode& node) {
        MarkDeleted(node);
        if (node.parent != nullptr) {
            node.parent->children.erase(node.name);
        }
    }

    bool IsHklmSoftware(const KeyNode& node) const {
        return node.parent == hklm.get() && EqualsIgnoreCase(node.name, "SOFTWARE");
    }

    // Whether a call with these access bits sees the 32-bit view of HKLM\SOFTWARE.
    static bool Uses32BitView(REGSAM samDesired) {
        const Shape& shape = Machine::Current().shape();
        if (!shape.b64BitWindows) {
            return false;
        }
        if (samDesired & KEY_WOW64_64KEY) {
            return false;
        }
        return (samDesired & KEY_WOW64_32KEY) != 0 || shape.b32BitProcess;
    }

    std::shared_ptr<KeyNode> Redirected(const std::shared_ptr<KeyNode>& node, bool b32BitView) {
        if (b32BitView && IsHklmSoftware(*node)) {
            return AddChild(*node, "Wow6432Node");
        }
        return node;
    }

    // The key a handle stands for: a predefined root or an open key.
    LSTATUS ResolveHandle(HKEY hKey, std::shared_ptr<KeyNode>& node, REGSAM* pGranted = nullptr) {
        const uintptr_t nValue = reinterpret_cast<uintptr_t>(hKey);
        REGSAM samGranted = KEY_ALL_ACCESS;
        if (hKey == HKEY_LOCAL_MACHINE) {
            node = hklm;
        } else if (hKey == HKEY_CURRENT_USER) {
            node = hkcu;
        } else if (hKey == HKEY_USERS) {
            node = hku;
        } else if (hKey == HKEY_CLASSES_ROOT) {
            node = CreatePhysical("HKLM\\SOFTWARE\\Classes");
        } else {
            auto it = handles.find(nValue);
            if (it == handles.end()) {
                return ERROR_INVALID_HANDLE;
            }
            node = it->second.node;
            samGranted = it->second.samGranted;
        }
        if (node->bDeleted) {
            return ERROR_KEY_DELETED;
        }
        if (pGranted != nullptr) {
            *pGranted = samGranted;
        }
        return ERROR_SUCCESS;
    }

    // Walks a relative path as a caller with these access bits sees it.
    LSTATUS Walk(std::shared_ptr<KeyNode> node, LPCSTR szSubKey, REGSAM samDesired, bool bCreate,
                 std::shared_ptr<KeyNode>& result) {
        const bool b32BitView = Uses32BitView(samDesired);
        node = Redirected(node, b32BitView);
        bool bJustRedirected =
            node->name == "Wow6432Node" && node->parent != nullptr && IsHklmSoftware(*node->parent);
        for (const std::string& part : SplitPath(szSubKey == NULL ? "" : szSubKey)) {
            if (bJustRedirected && EqualsIgnoreCase(part, "Wow6432Node")) {
                bJustRedirected = false;
                continue;
            }
            auto it = node->children.find(part);
            if (it != node->children.end()) {
                node = it->second;
            } else if (bCreate) {
                node = AddChild(*node, part);
            } else {
                return ERROR_FILE_NOT_FOUND;
            }
            const std::shared_ptr<KeyNode> redirected = Redirected(node, b32BitView);
            bJustRedirected = redirected != node;
            node = redirected;
        }
        result = node;
        return ERROR_SUCCESS;
    }

    HKEY NewHandle(std::shared_ptr<KeyNode> node, REGSAM samGranted) {
        const uintptr_t nValue = nNextHandle;
        nNextHandle += 4;
        handles.emplace(nValue, Handle{std::move(node), samGranted});
        return reinterpret_cast<HKEY>(nValue);
    }

    static std::string SubjectOf(const KeyNode* node, LPCSTR szSubKey) {
        std::string subject = node == nullptr ? std::string() : node->Path();
        if (szSubKey != NULL && *szSubKey != '\0') {
            subject += "\\";
            subject += szSubKey;
        }
        return subject;
    }

    std::string SubjectOf(HKEY hKey, LPCSTR szSubKey) {
        std::shared_ptr<KeyNode> node;
        ResolveHandle(hKey, node);
        return SubjectOf(node.get(), szSubKey);
    }
};

Registry::Registry() : m_impl(std::make_unique<Impl>()) {}
Registry::~Registry() = default;

void Registry::CreateKey(std::string_view path) {
    m_impl->CreatePhysical(path);
}

bool Registry::KeyExists(std::string_view path) const {
    return m_impl->FindPhysical(path) != nullptr;
}

void Registry::SetValue(std::string_view keyPath, std::string_view name, DWORD dwType, Bytes data) {
    m_impl->CreatePhysical(keyPath)->values[std::string(name)] = RegValue{dwType, std::move(data)};
}

void Registry::SetDword(std::string_view keyPath, std::string_view name, DWORD dwValue) {
    Bytes data(4);
    memcpy(data.data(), &dwValue, 4);
    SetValue(keyPath, name, REG_DWORD, std::move(data));
}

void Registry::SetString(std::string_view keyPath, std::string_view name, std::string_view text,
                         DWORD dwType) {
    Bytes data = BytesOf(text);
    data.push_back(0);
    SetValue(keyPath, name, dwType, std::move(data));
}

std::optional<RegValue> Registry::GetValue(std::string_view keyPath, std::string_view name) const {
    std::shared_ptr<KeyNode> node = m_impl->FindPhysical(keyPath);
    if (node == nullptr) {
        return std::nullopt;
    }
    auto it = node->values.find(name);
    if (it == node->values.end()) {
        return std::nullopt;
    }
    return it->second;
}

std::vector<std::string> Registry::SubkeyNames(std::string_view path) const {
    std::vector<std::string> names;
    if (std::shared_ptr<KeyNode> node = m_impl->FindPhysical(path)) {
        for (const auto& child : node->children) {
            names.push_back(child.second->name);
        }
    }
    return names;
}

void Registry::DeleteTree(std::string_view path) {
    if (std::shared_ptr<KeyNode> node = m_impl->FindPhysical(path)) {
        if (node->parent != nullptr) {
            m_impl->Detach(*node);
        }
    }
}

void Registry::DenyAccess(std::string_view path, REGSAM samDenied) {
    m_impl->CreatePhysical(path)->samDenied = samDenied;
}

std::map<std::string, std::string, CaseInsensitiveLess> Registry::Snapshot() const {
    std::map<std::string, std::string, CaseInsensitiveLess> lines;
    std::function<void(const KeyNode&)> visit = [&](const KeyNode& node) {
        const std::string path = node.Path();
        lines[path] = "(key)";
        for (const auto& value : node.values) {
            lines[path + "\\@" + value.first] =
                std::to_string(value.second.dwType) + ":" + Hex(value.second.data);
        }
        for (const auto& child : node.children) {
            visit(*child.second);
        }
    };
    visit(*m_impl->hklm);
    visit(*m_impl->hkcu);
    visit(*m_impl->hku);
    return lines;
}

size_t Registry::OpenHandleCount() const {
    return m_impl->handles.size();
}

}  // namespace sim

using sim::KeyNode;
using sim::Machine;

namespace {

sim::Registry::Impl& Reg() {
    return Machine::Current().registry().impl();
}

}  // namespace

extern "C" {

LSTATUS WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD /*ulOptions*/, REGSAM samDesired,
                             PHKEY phkResult) {
    sim::Registry::Impl& reg = Reg();
    if (auto error = SIM_FAULT("RegOpenKeyExA", reg.SubjectOf(hKey, lpSubKey))) {
        return static_cast<LSTATUS>(*error);
    }
    if (phkResult == NULL) {
        return ERROR_INVALID_PARAMETER;
    }
    *phkResult = NULL;
    std::shared_ptr<KeyNode> node;
    LSTATUS status = reg.ResolveHandle(hKey, node);
    if (status == ERROR_SUCCESS) {
        status = reg.Walk(node, lpSubKey, samDesired, false, node);
    }
    if (status != ERROR_SUCCESS) {
        return status;
    }
    if ((samDesired & ~sim::kViewMask) & node->samDenied) {
        return ERROR_ACCESS_DENIED;
    }
    *phkResult = reg.NewHandle(node, samDesired & ~sim::kViewMask);
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD /*Reserved*/, LPSTR /*lpClass*/,
                               DWORD /*dwOptions*/, REGSAM samDesired,
                               LPSECURITY_ATTRIBUTES /*lpSecurityAttributes*/, PHKEY phkResult,
                               LPDWORD lpdwDisposition) {
    sim::Registry::Impl& reg = Reg();
    if (auto error = SIM_FAULT("RegCreateKeyExA", reg.SubjectOf(hKey, lpSubKey))) {
        return static_cast<LSTATUS>(*error);
    }
    if (phkResult == NULL) {
        return ERROR_INVALID_PARAMETER;
    }
    std::shared_ptr<KeyNode> node;
    LSTATUS status = reg.ResolveHandle(hKey, node);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    std::shared_ptr<KeyNode> existing;
    const bool bExisted = reg.Walk(node, lpSubKey, samDesired, false, existing) == ERROR_SUCCESS;
    reg.Walk(node, lpSubKey, samDesired, true, node);
    if ((samDesired & ~sim::kViewMask) & node->samDenied) {
        return ERROR_ACCESS_DENIED;
    }
    if (lpdwDisposition != NULL) {
        *lpdwDisposition = bExisted ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
    }
    *phkResult = reg.NewHandle(node, samDesired & ~sim::kViewMask);
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD /*lpReserved*/,
                                LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
    sim::Registry::Impl& reg = Reg();
    std::shared_ptr<KeyNode> node;
    REGSAM samGranted = 0;
    LSTATUS status = reg.ResolveHandle(hKey, node, &samGranted);
    if (auto error =
            SIM_FAULT("RegQueryValueExA", sim::Registry::Impl::SubjectOf(node.get(), NULL) + "\\@" +
                                              (lpValueName ? lpValueName : ""))) {
        return static_cast<LSTATUS>(*error);
    }
    if (status != ERROR_SUCCESS) {
        return status;
    }
    if (!(samGranted & KEY_QUERY_VALUE)) {
        return ERROR_ACCESS_DENIED;
    }
    if (lpData != NULL && lpcbData == NULL) {
        return ERROR_INVALID_PARAMETER;
    }
    auto it = node->values.find(lpValueName == NULL ? "" : lpValueName);
    if (it == node->values.end()) {
        return ERROR_FILE_NOT_FOUND;
    }
    const sim::RegValue& value = it->second;
    const DWORD cbValue = static_cast<DWORD>(value.data.size());
    if (lpType != NULL) {
        *lpType = value.dwType;
    }
    if (lpData == NULL) {
        if (lpcbData != NULL) {
            *lpcbData = cbValue;
        }
        return ERROR_SUCCESS;
    }
    const DWORD cbCapacity = *lpcbData;
    *lpcbData = cbValue;
    if (cbCapacity < cbValue) {
        // The buffer is undefined after ERROR_MORE_DATA; what fits is written so that code
        // trusting it shows up.
        if (cbCapacity > 0) {
            memcpy(lpData, value.data.data(), cbCapacity);
        }
        return ERROR_MORE_DATA;
    }
    if (cbValue > 0) {
        memcpy(lpData, value.data.data(), cbValue);
    }
    // As on Windows: an unterminated string gets a NUL when there is room, not counted.
    if (sim::IsStringType(value.dwType) && cbValue > 0 && value.data.back() != 0 &&
        cbCapacity > cbValue) {
        lpData[cbValue] = 0;
    }
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD /*Reserved*/, DWORD dwType,
                              const BYTE* lpData, DWORD cbData) {
    sim::Registry::Impl& reg = Reg();
    std::shared_ptr<KeyNode> node;
    REGSAM samGranted = 0;
    LSTATUS status = reg.ResolveHandle(hKey, node, &samGranted);
    if (auto error =
            SIM_FAULT("RegSetValueExA", sim::Registry::Impl::SubjectOf(node.get(), NULL))) {
        return static_cast<LSTATUS>(*error);
    }
    if (status != ERROR_SUCCESS) {
        return status;
    }
    if (!(samGranted & KEY_SET_VALUE)) {
        return ERROR_ACCESS_DENIED;
    }
    node->values[lpValueName == NULL ? "" : lpValueName] =
        sim::RegValue{dwType, sim::Bytes(lpData, lpData + cbData)};
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName,
                             LPDWORD /*lpReserved*/, LPSTR /*lpClass*/, LPDWORD /*lpcchClass*/,
                             PFILETIME /*lpftLastWriteTime*/) {
    sim::Registry::Impl& reg = Reg();
    if (auto error = SIM_FAULT("RegEnumKeyExA", reg.SubjectOf(hKey, NULL))) {
        return static_cast<LSTATUS>(*error);
    }
    std::shared_ptr<KeyNode> node;
    REGSAM samGranted = 0;
    LSTATUS status = reg.ResolveHandle(hKey, node, &samGranted);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    if (!(samGranted & KEY_ENUMERATE_SUB_KEYS)) {
        return ERROR_ACCESS_DENIED;
    }
    if (lpName == NULL || lpcchName == NULL) {
        return ERROR_INVALID_PARAMETER;
    }
    if (dwIndex >= node->children.size()) {
        return ERROR_NO_MORE_ITEMS;
    }
    const std::string& name = std::next(node->children.begin(), dwIndex)->second->name;
    if (*lpcchName <= name.size()) {
        return ERROR_MORE_DATA;
    }
    memcpy(lpName, name.c_str(), name.size() + 1);
    *lpcchName = static_cast<DWORD>(name.size());
    return ERROR_SUCCESS;
}

}  // extern "C"

namespace {

// Deletes a leaf key as a caller with these access bits sees the path.
LSTATUS DeleteLeaf(sim::Registry::Impl& reg, HKEY hKey, LPCSTR lpSubKey, REGSAM samDesired) {
    if (lpSubKey == NULL) {
        return ERROR_INVALID_PARAMETER;
    }
    std::shared_ptr<KeyNode> node;
    LSTATUS status = reg.ResolveHandle(hKey, node);
    if (status == ERROR_SUCCESS) {
        status = reg.Walk(node, lpSubKey, samDesired, false, node);
    }
    if (status != ERROR_SUCCESS) {
        return status;
    }
    // Only a leaf can go, and never a root.
    if (node->parent == nullptr || !node->children.empty() || (node->samDenied & DELETE)) {
        return ERROR_ACCESS_DENIED;
    }
    reg.Detach(*node);
    return ERROR_SUCCESS;
}

}  // namespace

extern "C" {

LSTATUS WINAPI RegDeleteKeyExA(HKEY hKey, LPCSTR lpSubKey, REGSAM samDesired, DWORD /*Reserved*/) {
    sim::Registry::Impl& reg = Reg();
    if (auto error = SIM_FAULT("RegDeleteKeyExA", reg.SubjectOf(hKey, lpSubKey))) {
        return static_cast<LSTATUS>(*error);
    }
    return DeleteLeaf(reg, hKey, lpSubKey, samDesired);
}

LSTATUS WINAPI RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
    sim::Registry::Impl& reg = Reg();
    if (auto error = SIM_FAULT("RegDeleteKeyA", reg.SubjectOf(hKey, lpSubKey))) {
        return static_cast<LSTATUS>(*error);
    }
    // The view is the process's own.
    return DeleteLeaf(reg, hKey, lpSubKey, 0);
}

LSTATUS WINAPI RegCloseKey(HKEY hKey) {
    sim::Registry::Impl& reg = Reg();
    if (auto error = SIM_FAULT("RegCloseKey", reg.SubjectOf(hKey, NULL))) {
        return static_cast<LSTATUS>(*error);
    }
    if (hKey == HKEY_LOCAL_MACHINE || hKey == HKEY_CURRENT_USER || hKey == HKEY_USERS ||
        hKey == HKEY_CLASSES_ROOT) {
        return ERROR_SUCCESS;
    }
    return reg.handles.erase(reinterpret_cast<uintptr_t>(hKey)) == 1 ? ERROR_SUCCESS
                                                                     : ERROR_INVALID_HANDLE;
}

}  // extern "C"
