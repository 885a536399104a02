#include "platform/VersionInfo.h"

#include "platform/Modules.h"

typedef DWORD(WINAPI* PFN_GET_FILE_VERSION_INFO_SIZE_A)(LPCSTR lptstrFilename, LPDWORD lpdwHandle);
typedef BOOL(WINAPI* PFN_GET_FILE_VERSION_INFO_A)(LPCSTR lptstrFilename, DWORD dwHandle,
                                                  DWORD dwLen, LPVOID lpData);
typedef BOOL(WINAPI* PFN_VER_QUERY_VALUE_A)(LPCVOID pBlock, LPCSTR lpSubBlock, LPVOID* lplpBuffer,
                                            PUINT puLen);

namespace {

const DWORD kFixedFileInfoSignature = 0xFEEF04BD;
// US English, for a file that lists no translation.
const WORD kDefaultLanguage = 0x0409;
const WORD kDefaultCodePage = 1252;
// Larger version numbers are taken as this one, so that major × 100 + minor cannot overflow.
const int kLargestNumber = 9999999;

// version.dll is not a Known DLL: imported, it would be loaded from this program's own folder
// before main runs. It is loaded from the system directory for each use instead.
class CVersionLibrary {
public:
    CVersionLibrary() : m_hLibrary(LoadSystemLibrary("version.dll")) {
        if (m_hLibrary) {
            pfnGetFileVersionInfoSizeA = GetProcAddressAs<PFN_GET_FILE_VERSION_INFO_SIZE_A>(
                m_hLibrary.get(), "GetFileVersionInfoSizeA");
            pfnGetFileVersionInfoA = GetProcAddressAs<PFN_GET_FILE_VERSION_INFO_A>(
                m_hLibrary.get(), "GetFileVersionInfoA");
            pfnVerQueryValueA =
                GetProcAddressAs<PFN_VER_QUERY_VALUE_A>(m_hLibrary.get(), "VerQueryValueA");
        }
    }

    BOOL IsUsable() const {
        return pfnGetFileVersionInfoSizeA != NULL && pfnGetFileVersionInfoA != NULL &&
               pfnVerQueryValueA != NULL;
    }

    PFN_GET_FILE_VERSION_INFO_SIZE_A pfnGetFileVersionInfoSizeA = NULL;
    PFN_GET_FILE_VERSION_INFO_A pfnGetFileVersionInfoA = NULL;
    PFN_VER_QUERY_VALUE_A pfnVerQueryValueA = NULL;

private:
    CUniqueModule m_hLibrary;
};

}  // namespace

CVersionInfo::CVersionInfo()
    : VS_FIXEDFILEINFO(),
      m_pData(NULL),
      m_cbData(0),
      m_wLanguage(kDefaultLanguage),
      m_wCodePage(kDefaultCodePage) {}

BOOL CVersionInfo::IsInsideBlock(const void* p, size_t nBytes) const {
    const BYTE* pBytes = static_cast<const BYTE*>(p);
    return m_pData != NULL && pBytes >= m_pData && pBytes <= m_pData + m_cbData &&
           nBytes <= static_cast<size_t>(m_pData + m_cbData - pBytes);
}

BOOL CVersionInfo::Load(LPCSTR szFileName) {
    m_wCodePage = kDefaultCodePage;
    static_cast<VS_FIXEDFILEINFO&>(*this) = VS_FIXEDFILEINFO();

    CVersionLibrary version;
    if (!version.IsUsable()) {
        return FALSE;
    }
    DWORD dwHandle = 0;
    const DWORD cbData = version.pfnGetFileVersionInfoSizeA(szFileName, &dwHandle);
    if (cbData == 0) {
        return FALSE;
    }
    delete[] m_pData;
    m_pData = new BYTE[cbData];
    m_cbData = cbData;
    if (!version.pfnGetFileVersionInfoA(szFileName, 0, cbData, m_pData)) {
        return FALSE;
    }

    LPVOID pRoot = NULL;
    UINT cbRoot = 0;
    // A root block too short for the fixed record gives nothing to trust.
    if (!version.pfnVerQueryValueA(m_pData, "\\", &pRoot, &cbRoot) ||
        cbRoot < sizeof(VS_FIXEDFILEINFO) || !IsInsideBlock(pRoot, sizeof(VS_FIXEDFILEINFO))) {
        return FALSE;
    }
    memcpy(static_cast<VS_FIXEDFILEINFO*>(this), pRoot, sizeof(VS_FIXEDFILEINFO));

    LPVOID pTranslation = NULL;
    UINT cbTranslation = 0;
    if (version.pfnVerQueryValueA(m_pData, "\\VarFileInfo\\Translation", &pTranslation,
                                  &cbTranslation) &&
        cbTranslation >= 4 && IsInsideBlock(pTranslation, 4)) {
        memcpy(&m_wLanguage, static_cast<const BYTE*>(pTranslation), sizeof(WORD));
        memcpy(&m_wCodePage, static_cast<const BYTE*>(pTranslation) + 2, sizeof(WORD));
    }
    return m_pData != NULL && dwSignature == kFixedFileInfoSignature;
}

int CVersionInfo::GetMajorMinor() {
    if (m_pData == NULL || dwSignature != kFixedFileInfoSignature) {
        return 0;
    }
    CHAR szSubBlock[256];
    wsprintfA(szSubBlock, "\\StringFileInfo\\%04x%04x\\%s", m_wLanguage, m_wCodePage,
              "FileVersion");

    CVersionLibrary version;
    LPVOID pValue = NULL;
    UINT nChars = 0;
    if (!version.IsUsable() || !version.pfnVerQueryValueA(m_pData, szSubBlock, &pValue, &nChars) ||
        !IsInsideBlock(pValue, 0)) {
        return 0;
    }
    // The string need not be terminated, nor as long as it claims: take what the block holds.
    CHAR szVersion[256];
    const size_t nInBlock =
        static_cast<size_t>(m_pData + m_cbData - static_cast<const BYTE*>(pValue));
    size_t nLength = nChars < nInBlock ? nChars : nInBlock;
    if (nLength > sizeof(szVersion) - 1) {
        nLength = sizeof(szVersion) - 1;
    }
    memcpy(szVersion, pValue, nLength);
    szVersion[nLength] = '\0';

    int nMajor = 0;
    int nMinor = 0;
    ParseNumber(ParseNumber(szVersion, nMajor), nMinor);
    return nMajor * 100 + nMinor;
}

LPCSTR CVersionInfo::ParseNumber(LPCSTR szText, int& nValue) {
    nValue = 0;
    if (szText == NULL) {
        return NULL;
    }
    int nNumber = 0;
    for (;; ++szText) {
        const CHAR c = *szText;
        if (c >= '0' && c <= '9') {
            nNumber =
                nNumber > (kLargestNumber - 9) / 10 ? kLargestNumber : nNumber * 10 + (c - '0');
        } else if (c == ' ') {
            continue;
        } else if (c == '\0') {
            break;
        } else {
            ++szText;
            break;
        }
    }
    nValue = nNumber;
    return szText;
}

int CMshtmlVersion::GetVersion() {
    return Load("MSHTML.DLL") ? GetMajorMinor() : 0;
}
