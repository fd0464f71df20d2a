#pragma once
#include <cstdint>

namespace fxo {

// Line settings of one country: the DAA's on-hook speed (OHS, OHS2), ringer
// impedance and threshold (RZ, RT), current limit (ILIM), DC termination
// (DCV, MINI), AC termination (ACIM) and the SLIC's impedance code.
struct CountryRecord {
    char name[260];
    uint8_t ohs;
    uint8_t ohs2;
    uint8_t rz;
    uint8_t rt;
    uint8_t ilim;
    uint8_t dcv;
    uint8_t mini;
    uint8_t acim;
    uint8_t fxsImpedance;
};

constexpr int kCountryCount = 73;
// The catch-all record, "Other"; larger indexes are taken as this one.
constexpr int kOtherCountry = 72;

extern const CountryRecord CountryTable[kCountryCount];

// The index of the record with exactly this name (case-sensitive), or -1.
int FindCountryIndex(const char* name);

} // namespace fxo
