#include "removal/KorvaneTables.h"

const MSI_COMPONENT g_MsiComponents[3] = {
    {"{E1A9B5C4-7F23-4D8E-B61A-C2084F9D3E57}"},
    {"{5D07C3B9-2E8A-4f61-A4C2-9B3E05D7F1A6}"},
    {"{8E4F2A6D-19C3-4B7E-9D05-3A6C71E2B840}"},
};

const CHAR g_szSettingsKey[] = "Software\\Velmor\\Korvane";

const INF_ENTRY g_InfFiles[6] = {
    {"qlvn2.inf", "Korvane", TRUE},   {"qlvn.inf", "Korvane", TRUE},
    {"Korvane.inf", "Korvane", TRUE}, {"warden.inf", "Warden", TRUE},
    {"tm.inf", "Templo", TRUE},       {"plotra.inf", "Printing", FALSE},
};

const CHAR g_szDistributionUnitsKey[] =
    "SOFTWARE\\Microsoft\\Code Store Database\\Distribution Units\\";

const DISTRIBUTION_UNIT g_DistributionUnits[2] = {
    {"vlwarden.dll", "{3F8A6C12-9D47-11D2-B5E0-0060B8A41C7D}"},  // security manager control
    {"vlkorvan.dll", "{2B91D4E7-5A06-11D2-9C3E-00A0D2F7316B}"},  // scripting and printing control
};

const LPCSTR g_SystemFiles[9] = {
    "vlkorvan.dll", "vlwarden.dll", "vlplotra.dll", "vltemplo.dll", "vlpluser.exe",
    "vlplhost.exe", "vlbroker.exe", "vlkvuser.exe", "vlkvhost.exe",
};

const LPCSTR g_DownloadFiles[2] = {"qlvn.osd", "qlvn2.inf"};
