// Version resources on the simulated machine: blocks are raw bytes attached to files, handed
// out by GetFileVersionInfoA and walked by VerQueryValueA without ever reading past the buffer
// they were copied into, whatever the block claims about itself.
#include <stdio.h>
#include <stdlib.h>

#include "Internal.h"

namespace sim {

namespace {

const size_t kHeader = 4;  // wLength, wValueLength

size_t Align4(size_t nOffset) {
    return (nOffset + 3) & ~static_cast<size_t>(3);
}

void PutWord(Bytes& out, size_t nOffset, size_t nValue) {
    out[nOffset] = static_cast<BYTE>(nValue & 0xFF);
    out[nOffset + 1] = static_cast<BYTE>((nValue >> 8) & 0xFF);
}

WORD GetWord(const BYTE* pBase, size_t nOffset) {
    return static_cast<WORD>(pBase[nOffset] | (pBase[nOffset + 1] << 8));
}

struct ParsedNode {
    size_t nStart;
    size_t nEnd;  // one past the node, bounded by the buffer
    std::string key;
    size_t nValue;
    WORD wValueLength;
    size_t nChildren;
};

// A node at nStart, read without going past nLimit.
bool ParseNode(const BYTE* pBase, size_t nStart, size_t nLimit, ParsedNode& node) {
    if (nStart + kHeader > nLimit) {
        return false;
    }
    const WORD wLength = GetWord(pBase, nStart);
    if (wLength < kHeader) {
        return false;
    }
    node.nStart = nStart;
    node.nEnd = nStart + wLength < nLimit ? nStart + wLength : nLimit;
    node.wValueLength = GetWord(pBase, nStart + 2);
    size_t nKeyEnd = nStart + kHeader;
    while (nKeyEnd < node.nEnd && pBase[nKeyEnd] != 0) {
        ++nKeyEnd;
    }
    if (nKeyEnd >= node.nEnd) {
        return false;
    }
    node.key.assign(reinterpret_cast<const char*>(pBase + nStart + kHeader),
                    nKeyEnd - nStart - kHeader);
    node.nValue = Align4(nKeyEnd + 1);
    node.nChildren = Align4(node.nValue + node.wValueLength);
    return true;
}

bool FindChild(const BYTE* pBase, const ParsedNode& parent, std::string_view key,
               ParsedNode& child) {
    size_t nOffset = parent.nChildren;
    while (nOffset < parent.nEnd && ParseNode(pBase, nOffset, parent.nEnd, child)) {
        if (EqualsIgnoreCase(child.key, key)) {
            return true;
        }
        nOffset = Align4(child.nEnd);
    }
    return false;
}

Machine::Kernel& Kernel() {
    return Machine::Current().kernel();
}

// The file a version call names: a path as it stands, a bare name through the library search.
DWORD LocateVersionFile(LPCSTR lptstrFilename, std::string& path) {
    Machine& machine = Machine::Current();
    const std::string name = lptstrFilename == NULL ? "" : lptstrFilename;
    path = name.find_first_of("\\/:") != std::string::npos ? machine.Redirect(AbsolutePath(name))
                                                           : FindLibraryFile(name);
    return !path.empty() && machine.files().Exists(path) && !machine.files().IsDirectory(path)
               ? ERROR_SUCCESS
               : static_cast<DWORD>(ERROR_FILE_NOT_FOUND);
}

// The version block of a file that was found, or why there is none.
DWORD VersionBlockOf(const std::string& path, std::optional<Bytes>& block) {
    block = Machine::Current().files().GetVersionBlock(path);
    return block && !block->empty() ? ERROR_SUCCESS
                                    : static_cast<DWORD>(ERROR_RESOURCE_TYPE_NOT_FOUND);
}

DWORD WINAPI SimGetFileVersionInfoSizeA(LPCSTR lptstrFilename, LPDWORD lpdwHandle) {
    std::string path;
    DWORD dwError = LocateVersionFile(lptstrFilename, path);
    if (auto error = SIM_FAULT("GetFileVersionInfoSizeA", path)) {
        dwError = *error;
    }
    if (lpdwHandle != NULL) {
        *lpdwHandle = 0;
    }
    std::optional<Bytes> block;
    if (dwError == ERROR_SUCCESS) {
        dwError = VersionBlockOf(path, block);
    }
    if (dwError != ERROR_SUCCESS) {
        SetLastError(dwError);
        return 0;
    }
    return static_cast<DWORD>(block->size());
}

BOOL WINAPI SimGetFileVersionInfoA(LPCSTR lptstrFilename, DWORD /*dwHandle*/, DWORD dwLen,
                                   LPVOID lpData) {
    std::string path;
    DWORD dwError = LocateVersionFile(lptstrFilename, path);
    if (auto error = SIM_FAULT("GetFileVersionInfoA", path)) {
        dwError = *error;
    }
    std::optional<Bytes> block;
    if (dwError == ERROR_SUCCESS) {
        dwError = VersionBlockOf(path, block);
    }
    if (dwError != ERROR_SUCCESS) {
        SetLastError(dwError);
        return FALSE;
    }
    const size_t nCopied = block->size() < dwLen ? block->size() : dwLen;
    memcpy(lpData, block->data(), nCopied);
    Kernel().versionBuffers[lpData] = nCopied;
    return TRUE;
}

BOOL WINAPI SimVerQueryValueA(LPCVOID pBlock, LPCSTR lpSubBlock, LPVOID* lplpBuffer, PUINT puLen) {
    if (auto error = SIM_FAULT("VerQueryValueA", lpSubBlock == NULL ? "" : lpSubBlock)) {
        SetLastError(*error);
        return FALSE;
    }
    auto itBuffer = Kernel().versionBuffers.find(pBlock);
    if (itBuffer == Kernel().versionBuffers.end()) {
        fprintf(stderr, "sim: VerQueryValueA on a block GetFileVersionInfoA did not fill\n");
        abort();
    }
    const BYTE* pBase = static_cast<const BYTE*>(pBlock);
    ParsedNode node;
    if (!ParseNode(pBase, 0, itBuffer->second, node)) {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return FALSE;
    }
    const std::string subBlock = lpSubBlock == NULL ? "" : lpSubBlock;
    size_t nStart = 0;
    while (nStart < subBlock.size()) {
        size_t nEnd = subBlock.find('\\', nStart);
        if (nEnd == std::string::npos) {
            nEnd = subBlock.size();
        }
        if (nEnd > nStart) {
            ParsedNode child;
            if (!FindChild(pBase, node, std::string_view(subBlock).substr(nStart, nEnd - nStart),
                           child)) {
                SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
                return FALSE;
            }
            node = child;
        }
        nStart = nEnd + 1;
    }
    // As Windows does, the length the block claims, whether or not the buffer holds it.
    *lplpBuffer = const_cast<BYTE*>(pBase + node.nValue);
    *puLen = node.wValueLength;
    return TRUE;
}

}  // namespace

Bytes EncodeVersionNode(const VersionNode& node) {
    Bytes out(kHeader);
    PutWord(out, 2, node.value.size());
    for (char c : node.key) {
        out.push_back(static_cast<BYTE>(c));
    }
    out.push_back(0);
    out.resize(Align4(out.size()));
    out.insert(out.end(), node.value.begin(), node.value.end());
    for (const VersionNode& child : node.children) {
        out.resize(Align4(out.size()));
        const Bytes encoded = EncodeVersionNode(child);
        out.insert(out.end(), encoded.begin(), encoded.end());
    }
    PutWord(out, 0, out.size());
    return out;
}

VS_FIXEDFILEINFO FixedFileInfo(DWORD dwFileVersionMS, DWORD dwFileVersionLS) {
    VS_FIXEDFILEINFO info;
    memset(&info, 0, sizeof(info));
    info.dwSignature = 0xFEEF04BD;
    info.dwStrucVersion = 0x00010000;
    info.dwFileVersionMS = dwFileVersionMS;
    info.dwFileVersionLS = dwFileVersionLS;
    info.dwProductVersionMS = dwFileVersionMS;
    info.dwProductVersionLS = dwFileVersionLS;
    info.dwFileFlagsMask = 0x3F;
    info.dwFileOS = 0x00040004;
    info.dwFileType = 2;
    return info;
}

Bytes VersionBlock(std::string_view fileVersion, WORD wLanguage, WORD wCodePage) {
    const VS_FIXEDFILEINFO info = FixedFileInfo(0x000B0000, 0x25804050);
    char szTable[16];
    snprintf(szTable, sizeof(szTable), "%04x%04x", wLanguage, wCodePage);
    Bytes version = BytesOf(fileVersion);
    version.push_back(0);
    const Bytes translation = {
        static_cast<BYTE>(wLanguage & 0xFF), static_cast<BYTE>(wLanguage >> 8),
        static_cast<BYTE>(wCodePage & 0xFF), static_cast<BYTE>(wCodePage >> 8)};
    VersionNode root{
        "VS_VERSION_INFO",
        Bytes(reinterpret_cast<const BYTE*>(&info),
              reinterpret_cast<const BYTE*>(&info) + sizeof(info)),
        {VersionNode{"StringFileInfo",
                     {},
                     {VersionNode{
                         szTable,
                         {},
                         {VersionNode{"CompanyName", BytesOf(std::string("Browser Maker", 14)), {}},
                          VersionNode{"FileVersion", version, {}}}}}},
         VersionNode{"VarFileInfo", {}, {VersionNode{"Translation", translation, {}}}}}};
    return EncodeVersionNode(root);
}

ModuleImagePtr VersionImage() {
    ModuleImagePtr image = EmptyImage("version.dll");
    image->exports["GetFileVersionInfoSizeA"] = AsFarProc(&SimGetFileVersionInfoSizeA);
    image->exports["GetFileVersionInfoA"] = AsFarProc(&SimGetFileVersionInfoA);
    image->exports["VerQueryValueA"] = AsFarProc(&SimVerQueryValueA);
    return image;
}

}  // namespace sim
