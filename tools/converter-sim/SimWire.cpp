#include "SimWire.h"

#include "SimText.h"
#include "platform/ByteOrder.h"
#include "protocol/LANconvConfigHdr.h"
#include "protocol/Scramble.h"

#include <algorithm>

namespace qarn::sim {

namespace {

// Settings block offsets, counted from the start of the datagram.
constexpr size_t kOffMarker = 16;
constexpr size_t kOffIp = 20;
constexpr size_t kOffGateway = 24;
constexpr size_t kOffPrefix = 28;
constexpr size_t kOffOptionA = 30;
constexpr size_t kOffExtraIp = 32;
constexpr size_t kOffMac = 36;
constexpr size_t kOffOptionC = 42;
constexpr size_t kOffOptionB = 43;
constexpr size_t kOffSerial = 44;
constexpr size_t kSerialSize = 14;
constexpr size_t kOffOptionD = 58;
constexpr size_t kOffPeer = 60;
constexpr size_t kOffPort1 = 64;
constexpr size_t kOffPort2 = 66;
constexpr size_t kOffVersion = 68;
constexpr size_t kOffCode = 80;
constexpr size_t kCodeSize = 4;
constexpr size_t kOffLetter = 84;
constexpr size_t kOffSystemType = 85;
constexpr size_t kOffOptionE = 86;

// Offsets inside a block answer's data (the datagram from its byte 4 on).
constexpr size_t kBlockOffSerial = 102;
constexpr size_t kBlockOffVersion = 12;
constexpr size_t kBlockVersionSize = 16;
constexpr size_t kBlockOffMac = 20;
constexpr size_t kBlockHead = 4;

void PutIp(uint8_t* out, uint32_t ip) {
    out[0] = static_cast<uint8_t>(ip >> 24);
    out[1] = static_cast<uint8_t>(ip >> 16);
    out[2] = static_cast<uint8_t>(ip >> 8);
    out[3] = static_cast<uint8_t>(ip);
}

uint32_t GetIp(const uint8_t* in) {
    return static_cast<uint32_t>(in[0]) << 24 | static_cast<uint32_t>(in[1]) << 16 |
           static_cast<uint32_t>(in[2]) << 8 | static_cast<uint32_t>(in[3]);
}

// Text into a fixed field: at most `size` bytes, the rest stays 0.
void PutText(uint8_t* out, const std::string& text, size_t size) {
    const size_t count = std::min(text.size(), size);
    for (size_t i = 0; i < count; ++i)
        out[i] = static_cast<uint8_t>(text[i]);
}

std::string GetText(const uint8_t* in, size_t size) {
    std::string text;
    for (size_t i = 0; i < size && in[i] != 0; ++i)
        text.push_back(static_cast<char>(in[i]));
    return text;
}

void PutSettings(uint8_t* datagram, const SimSettings& s, bool longForm) {
    platform::PutLe32(datagram + kOffMarker, s.marker);
    PutIp(datagram + kOffIp, s.ip);
    PutIp(datagram + kOffGateway, s.gateway);
    datagram[kOffPrefix] = s.prefix;
    datagram[kOffOptionA] = s.optionA;
    PutIp(datagram + kOffExtraIp, s.extraIp);
    std::copy(s.mac.begin(), s.mac.end(), datagram + kOffMac);
    datagram[kOffOptionC] = s.optionC;
    datagram[kOffOptionB] = s.optionB;
    PutText(datagram + kOffSerial, s.serial, kSerialSize);
    datagram[kOffOptionD] = s.optionD;
    PutIp(datagram + kOffPeer, s.peer);
    platform::PutLe16(datagram + kOffPort1, s.port1);
    platform::PutLe16(datagram + kOffPort2, s.port2);
    platform::PutLe32(datagram + kOffVersion, s.firmwareVersion);
    if (!longForm)
        return;
    PutText(datagram + kOffCode, s.code, kCodeSize);
    datagram[kOffLetter] = s.letter;
    datagram[kOffSystemType] = s.systemType;
    datagram[kOffOptionE] = s.optionE;
}

} // namespace

uint8_t BlockForRequest(uint8_t requestCode) {
    switch (requestCode) {
    case 0xE0:
        return kBlockGeneral;
    case 0xE5:
        return kBlockSerial;
    case 0xF4:
        return kBlockVersion;
    case 0xF6:
        return kBlockMac;
    default:
        return 0;
    }
}

std::vector<uint8_t> BuildConfigurationAnswer(const SimSettings& settings, uint32_t seed,
                                              size_t length) {
    const bool longForm = length >= kConfigAnswerLong;
    std::vector<uint8_t> datagram(kConfigAnswerLong, 0);
    LANconvConfigHdr header;
    header.byType = 1;
    header.byCmd = kCmdConfiguration;
    header.dwSeed = seed;
    header.EncodeTo(datagram.data(), datagram.size());
    PutSettings(datagram.data(), settings, longForm);
    datagram.resize(longForm ? kConfigAnswerLong : kConfigAnswerShort);
    ScramblePayload(seed, datagram.data() + kHeaderSize,
                    static_cast<int32_t>(datagram.size() - kHeaderSize));
    return datagram;
}

std::vector<uint8_t> BuildBlockAnswer(uint8_t subCmd, const SimSettings& settings) {
    std::vector<uint8_t> datagram(kBlockHead + kBlockDataSize, 0);
    datagram[0] = kBlockAnswerType;
    datagram[1] = kCmdDiscoveryRequest;
    datagram[3] = subCmd;
    uint8_t* block = datagram.data() + kBlockHead;
    if (subCmd == kBlockSerial) {
        PutText(block + kBlockOffSerial, settings.serial, kSerialSize);
    } else if (subCmd == kBlockVersion) {
        PutText(block + kBlockOffVersion, VersionText(settings.firmwareVersion), kBlockVersionSize);
    } else if (subCmd == kBlockMac) {
        std::copy(settings.mac.begin(), settings.mac.end(), block + kBlockOffMac);
    }
    return datagram;
}

std::vector<uint8_t> BuildFirmwareAnswer(uint8_t cmd, uint8_t answerCmd, uint32_t block,
                                         uint32_t seed) {
    LANconvConfigHdr header;
    header.byType = 1;
    header.byCmd = cmd;
    header.byAnswerCmd = answerCmd;
    header.dwBlock = block;
    header.dwSeed = seed;
    const auto bytes = header.Encode();
    return {bytes.begin(), bytes.end()};
}

bool ParseConfigurationWrite(const uint8_t* data, size_t size, SimConfigurationWrite* write) {
    if (data == nullptr || size != kConfigWriteSize || data[0] != 1 ||
        (data[1] != kCmdConfiguration && data[1] != kCmdWriteByMac))
        return false;
    std::vector<uint8_t> plain(data, data + size);
    ScramblePayload(platform::GetLe32(data + 12), plain.data() + kHeaderSize,
                    static_cast<int32_t>(kSettingsBlockSize));
    const uint8_t* d = plain.data();
    SimConfigurationWrite w;
    w.cmd = data[1];
    SimSettings& s = w.fields;
    s.marker = platform::GetLe32(d + kOffMarker);
    s.ip = GetIp(d + kOffIp);
    s.gateway = GetIp(d + kOffGateway);
    s.prefix = d[kOffPrefix];
    s.optionA = d[kOffOptionA];
    s.extraIp = GetIp(d + kOffExtraIp);
    std::copy(d + kOffMac, d + kOffMac + 6, s.mac.begin());
    s.optionC = 0;
    s.optionB = d[kOffOptionB];
    s.serial = GetText(d + kOffSerial, kSerialSize);
    s.optionD = d[kOffOptionD];
    s.peer = GetIp(d + kOffPeer);
    s.port1 = platform::GetLe16(d + kOffPort1);
    s.port2 = platform::GetLe16(d + kOffPort2);
    s.firmwareVersion = 0;
    s.code = GetText(d + kOffCode, kCodeSize);
    s.letter = d[kOffLetter];
    s.systemType = d[kOffSystemType];
    s.optionE = d[kOffOptionE];
    *write = w;
    return true;
}

} // namespace qarn::sim
