#pragma once

#include <windows.h>

// A file's version resource: its fixed record, and the first translation it lists.
class CVersionInfo : public VS_FIXEDFILEINFO {
public:
    CVersionInfo();

    // The number this kind of file reports; 0 when its version cannot be read.
    virtual int GetVersion() = 0;

    // Reads the version resource of szFileName (a bare name goes through the library search).
    BOOL Load(LPCSTR szFileName);
    // Major × 100 + minor, from the "FileVersion" string of the loaded resource; 0 without one.
    int GetMajorMinor();

    // Reads a number at szText: digits accumulate, spaces are skipped, anything else ends it.
    // Returns where the terminating NUL is, or just past the character that ended the number;
    // NULL (and 0) for a NULL text.
    static LPCSTR ParseNumber(LPCSTR szText, int& nValue);

    // The version block Load read, owned by whoever owns this object, which releases it with
    // delete[]; NULL until loaded.
    BYTE* m_pData;
    DWORD m_cbData;
    WORD m_wLanguage;
    WORD m_wCodePage;

private:
    // Whether nBytes at p lie inside the version block.
    BOOL IsInsideBlock(const void* p, size_t nBytes) const;
};

// The browser engine library's version: 1100 for version 11.00.
class CMshtmlVersion : public CVersionInfo {
public:
    int GetVersion() override;
};
