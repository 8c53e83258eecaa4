#include "protocol/ConfigurationWrite.h"

#include "diag/FileLogger.h"
#include "platform/ByteOrder.h"
#include "platform/Neighbour.h"
#include "protocol/Articles.h"
#include "protocol/ConverterText.h"
#include "protocol/LANconvConfigHdr.h"
#include "protocol/Scramble.h"
#include "protocol/SettingsLayout.h"

#include <algorithm>

namespace qarn {

namespace {

uint32_t MarkerOf(const LANconvDevice& record) {
    if (record.nKind == kKindByMac || IsExtendedArticle(record.strSerial))
        return kMarkerExtended;
    if (IsStandardArticle(record.strSerial))
        return kMarkerStandard;
    return 0;
}

void PutText(uint8_t* out, const std::string& text, size_t maxCharacters) {
    const std::vector<uint8_t> bytes = TextToLowBytes(text, maxCharacters);
    std::copy(bytes.begin(), bytes.end(), out);
}

void FillSettingsBlock(uint8_t* d, const LANconvDevice& record) {
    using platform::PutLe16;
    using platform::PutLe32;
    PutLe32(d + settings::kMarker, MarkerOf(record));
    PutLe32(d + settings::kIp, record.dwIp);
    PutLe32(d + settings::kGateway, record.dwGateway);
    d[settings::kPrefixLength] = PrefixLengthOfNetmask(record.dwNetmask);
    d[settings::kOptionA] = record.byOptionA;
    PutLe32(d + settings::kExtraIp, record.dwExtraIp);
    std::copy(record.abyMac.begin(), record.abyMac.end(), d + settings::kMac);
    d[settings::kOptionB] = record.byOptionB;
    if (record.nKind != kKindByMac)
        PutText(d + settings::kSerial, record.strSerial, settings::kSerialSize);
    d[settings::kOptionD] = record.byOptionD;
    PutLe32(d + settings::kPeerIp, record.dwPeerIp);
    PutLe16(d + settings::kPort1, record.wPort1);
    PutLe16(d + settings::kPort2, record.wPort2);
    PutText(d + settings::kCode, record.strCode, settings::kCodeSize);
    d[settings::kLetter] = record.chLetter;
    d[settings::kSystemType] = record.bySystemType;
    d[settings::kOptionE] = record.byOptionE;
}

} // namespace

std::vector<uint8_t> BuildConfigurationWrite(const LANconvDevice& record, uint32_t seed) {
    std::vector<uint8_t> datagram(settings::kFullSize, 0);
    LANconvConfigHdr header;
    header.byType = 1;
    header.byCmd = record.nKind == kKindByMac ? kCmdWriteByMac : kCmdConfiguration;
    header.dwSeed = seed;
    header.EncodeTo(datagram.data(), datagram.size());
    FillSettingsBlock(datagram.data(), record);
    ScramblePayload(seed, datagram.data() + settings::kBlockOffset,
                    static_cast<int32_t>(settings::kBlockSize));
    return datagram;
}

std::vector<uint8_t> BuildConfigurationWrite(const LANconvDevice& record) {
    return BuildConfigurationWrite(record, MakeSeed());
}

MacLookupResult GetMacForAddress(uint32_t address) {
    const platform::NeighbourLookupResult found = platform::LookupNeighbour(address);
    MacLookupResult result;
    switch (found.status) {
    case platform::NeighbourLookupStatus::Found:
        result.status = MacLookupStatus::Found;
        result.mac = found.mac;
        break;
    case platform::NeighbourLookupStatus::NoRow:
        result.status = MacLookupStatus::NoRow;
        break;
    case platform::NeighbourLookupStatus::Failed:
        result.status = MacLookupStatus::Failed;
        if (IsErrorLogEnabled())
            LogError("GetMacForAddress: neighbour table not readable, errno " +
                     std::to_string(found.error));
        break;
    }
    return result;
}

ConfigurationWriter::ConfigurationWriter(IConverterEndpoint& endpoint, DeviceList& list,
                                         DiscoveryCycle& discovery, IReachability& echo,
                                         MacLookup lookup)
    : m_endpoint(endpoint), m_list(list), m_discovery(discovery), m_echo(echo),
      m_lookup(lookup ? std::move(lookup) : MacLookup(GetMacForAddress)) {}

WriteResult ConfigurationWriter::OnWriteConfiguration(const LANconvDevice& working,
                                                      const LANconvDevice& snapshot, bool busy) {
    WriteResult result;
    if (busy) {
        result.outcome = WriteOutcome::Busy;
        return result;
    }
    const bool broadcast = working.bUnreachable || working.nKind == kKindByMac;
    result.destination = broadcast ? IConverterEndpoint::kBroadcast : working.dwSourceIp;
    if (result.destination == 0) {
        // Sending to 0.0.0.0 would reach this host, not a converter.
        result.outcome = WriteOutcome::NoDestination;
        return result;
    }
    if (working.dwIp != snapshot.dwIp) {
        if (!IsNewAddressOurs(working, result)) {
            result.outcome = WriteOutcome::AddressTaken;
            return result;
        }
        // The converter will answer from its new address; its old row would only linger.
        result.removedOldRow = m_list.RemoveEntryByAddress(snapshot.dwIp);
    }
    result.datagram = BuildConfigurationWrite(working);
    result.sendSucceeded = m_endpoint.Send(result.datagram, result.destination, 0);
    result.outcome = broadcast ? WriteOutcome::SentBroadcast : WriteOutcome::SentUnicast;
    m_discovery.RestartCountdown();
    return result;
}

bool ConfigurationWriter::IsNewAddressOurs(const LANconvDevice& working, WriteResult& result) {
    result.echoReplied = m_echo.Echo(working.dwIp);
    if (!result.echoReplied)
        return true;
    result.lookup = m_lookup(working.dwIp);
    if (result.lookup.status != MacLookupStatus::Found)
        return false;
    return result.lookup.mac == working.abyMac;
}

} // namespace qarn
