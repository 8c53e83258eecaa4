#pragma once

#include "protocol/DeviceList.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qarn::cli {

// One converter as the command line prints it: the four cells of the device list, its colour
// class split into two flags, and the settings of its latest answer. Texts are UTF-8; text that
// came from a converter (serial, code, version) is kept as received and escaped by each output
// form as that form needs.
struct ConverterRow {
    // The device list's cells: address, MAC "00 20 4a 90 00 01", serial "731458-0001-2345",
    // firmware version text.
    std::array<std::string, 4> cells;

    std::string ip;       // source address of its answers, "198.18.1.7"
    std::string mac;      // "00:20:4a:90:00:01"
    std::string serial;   // as received, without the list's hyphens
    std::string firmware; // dotted version text, "2.4.10.23"
    uint32_t firmwareNumber = 0;
    int32_t kind = kKindNone; // kKindStandard, kKindExtended; anything else shows as none
    bool reachable = false;   // answered the echo when it was first seen
    bool complete = false;    // every answer the list waits for has arrived
    std::string reportedIp;   // the address it reports for itself
    std::string netmask;
    std::string gateway;
    std::string peer;
    uint16_t port1 = 0;
    uint16_t port2 = 0;
    uint8_t letter = 0;     // one character, 0 for none
    uint8_t systemType = 0; // 0 "rilo", 1 "tesk", 2 "vardo"; other values have no name
    std::string code;
};

// Row `row` of `list` as printed; `row` must exist. "firmware" is the version column's text, which
// block answers may fill before a configuration answer gives the number.
ConverterRow MakeConverterRow(const DeviceList& list, size_t row);

// Every row of `list` in its current order.
std::vector<ConverterRow> MakeConverterRows(const DeviceList& list);

} // namespace qarn::cli
