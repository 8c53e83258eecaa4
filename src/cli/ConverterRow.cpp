#include "cli/ConverterRow.h"

#include "cli/Target.h"
#include "protocol/ConverterText.h"

namespace qarn::cli {

ConverterRow MakeConverterRow(const DeviceList& list, size_t row) {
    const LANconvDevice& record = *list.GetRecord(row);
    ConverterRow out;
    for (int column = 0; column < DeviceList::kColumnCount; ++column)
        out.cells[static_cast<size_t>(column)] = list.GetColumnText(row, column);
    out.ip = IpToText(record.dwSourceIp);
    out.mac = ColonMacText(record.abyMac);
    out.serial = record.strSerial;
    out.firmware = list.GetColumnText(row, DeviceList::kColumnVersion);
    out.firmwareNumber = record.dwFirmwareVersion;
    out.kind = record.nKind;
    out.reachable = !record.bUnreachable;
    out.complete = record.bComplete;
    out.reportedIp = IpToText(record.dwReportedIp);
    out.netmask = HostOrderIpToText(record.dwNetmask);
    out.gateway = IpToText(record.dwGateway);
    out.peer = IpToText(record.dwPeerIp);
    out.port1 = record.wPort1;
    out.port2 = record.wPort2;
    out.letter = record.chLetter;
    out.systemType = record.bySystemType;
    out.code = record.strCode;
    return out;
}

std::vector<ConverterRow> MakeConverterRows(const DeviceList& list) {
    std::vector<ConverterRow> rows;
    rows.reserve(list.GetRowCount());
    for (size_t row = 0; row < list.GetRowCount(); ++row)
        rows.push_back(MakeConverterRow(list, row));
    return rows;
}

} // namespace qarn::cli
