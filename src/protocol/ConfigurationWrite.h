#pragma once

#include "protocol/DeviceList.h"
#include "protocol/DiscoveryCycle.h"
#include "protocol/IConverterEndpoint.h"
#include "protocol/IReachability.h"
#include "protocol/LANconvDevice.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace qarn {

// The 88-byte configuration write of `record`: byCmd 0x1C for a converter named only by its MAC
// address (nKind 3), else 0x1B; the settings block filled from the record and scrambled with
// `seed`. The marker is 0x12131417 for nKind 3 or an extended article, 0x12131416 for a standard
// article, else 0. The serial number goes as its first 14 characters (all zeros for nKind 3), the
// code as its first 4, one byte each; the netmask as its count of leading one bits. The firmware
// version and byOptionC, which only answers carry, are left 0.
std::vector<uint8_t> BuildConfigurationWrite(const LANconvDevice& record, uint32_t seed);
// The same with a fresh seed from MakeSeed.
std::vector<uint8_t> BuildConfigurationWrite(const LANconvDevice& record);

enum class MacLookupStatus {
    Found,  // `mac` holds the address
    NoRow,  // the neighbour table holds no usable row for the address
    Failed, // the neighbour table could not be read
};

struct MacLookupResult {
    MacLookupStatus status = MacLookupStatus::Failed;
    MacAddress mac{}; // zeros unless Found
};

// The MAC address the system's neighbour (ARP) table holds for `address` (network order).
MacLookupResult GetMacForAddress(uint32_t address);

enum class WriteOutcome {
    SentUnicast,   // to the converter's source address
    SentBroadcast, // to every local network: unreachable by echo, or named only by MAC address
    AddressTaken,  // the new address answers and is not (provably) this converter; nothing sent
    Busy,          // a firmware update runs; nothing done
    NoDestination, // a record without a source address that is not written by broadcast
};

struct WriteResult {
    WriteOutcome outcome = WriteOutcome::Busy;
    std::vector<uint8_t> datagram; // what was sent; empty when nothing was
    uint32_t destination = 0;      // network order; IConverterEndpoint::kBroadcast for broadcasts
    bool sendSucceeded = false;    // the endpoint took the datagram whole
    bool removedOldRow = false;    // the row under the old address was deleted
    // Only when the IP address was changed: whether the new address answered the echo, and
    // what the neighbour table said about it (asked only when it answered).
    bool echoReplied = false;
    MacLookupResult lookup;
};

// The write button: checks a changed IP address, sends the working record to its converter and
// lets the following discovery answers show the result. Nothing waits for an acknowledgement.
// Runs on the thread that owns the device list; the echo and the neighbour lookup block it.
class ConfigurationWriter {
  public:
    using MacLookup = std::function<MacLookupResult(uint32_t)>;

    // All references must outlive the writer; `lookup` defaults to GetMacForAddress.
    ConfigurationWriter(IConverterEndpoint& endpoint, DeviceList& list, DiscoveryCycle& discovery,
                        IReachability& echo, MacLookup lookup = GetMacForAddress);

    // Writes `working` (the editor's copy). `snapshot` is the copy taken when the editor was
    // filled; a dwIp that differs from it is an address change. `busy`: a firmware update runs.
    //
    // For an address change the new address gets an echo; when something answers there, the
    // neighbour table must name this converter's MAC address, else the write stops with
    // AddressTaken and changes nothing. Otherwise the converter's row under its old address
    // goes at once. The datagram goes to the source address, or by broadcast when the record is
    // unreachable or named only by its MAC address, and the next discovery request waits a full
    // cycle. After a Sent... outcome a window ends its manual-entry mode.
    WriteResult OnWriteConfiguration(const LANconvDevice& working, const LANconvDevice& snapshot,
                                     bool busy);

  private:
    // True when the new address is free or answers with this converter's MAC address.
    bool IsNewAddressOurs(const LANconvDevice& working, WriteResult& result);

    IConverterEndpoint& m_endpoint;
    DeviceList& m_list;
    DiscoveryCycle& m_discovery;
    IReachability& m_echo;
    MacLookup m_lookup;
};

} // namespace qarn
