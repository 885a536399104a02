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
