#include "protocol/ConverterAnswer.h"

#include "platform/ByteOrder.h"
#include "protocol/Articles.h"
#include "protocol/ConverterText.h"
#include "protocol/LANconvConfigHdr.h"
#include "protocol/Scramble.h"
#include "protocol/SettingsLayout.h"

#include <algorithm>
#include <array>

namespace qarn {

namespace {

constexpr size_t kHeaderBytesOfBlocks = 4; // a block's data starts behind byType..bySubCmd
constexpr uint8_t kTypeConfiguration = 1;
constexpr uint8_t kTypeIgnored = 2;
constexpr uint8_t kSubCmdIgnored = 0xFC;
constexpr uint8_t kSubCmdFirstNumbered = 0xD0;
constexpr uint8_t kSubCmdLastNumbered = 0xDF;
constexpr uint8_t kSubCmdVersionText = 0xF5;
constexpr uint8_t kSubCmdMac = 0xF7;
constexpr uint8_t kSubCmdSettingsBlock = 0xF9;

// Block offsets (from the start of the block data, i.e. datagram offset - 4) of the fields that
// blocks carry.
constexpr size_t kBlockSerial = 102;     // 14 bytes, slot 5
constexpr size_t kBlockVersionText = 12; // up to 16 bytes ended by 0, slot 16
constexpr size_t kBlockVersionTextSize = 16;
constexpr size_t kBlockMac = 20; // 6 bytes, slot 17

constexpr uint8_t kNoLetter = '_';

using WorkingBuffer = std::array<uint8_t, settings::kFullSize>;

// The first 88 bytes (fewer when the datagram is shorter) in a zero-filled buffer, unscrambled.
WorkingBuffer UnscrambledSettings(std::span<const uint8_t> data) {
    WorkingBuffer buffer{};
    std::copy_n(data.begin(), std::min(data.size(), buffer.size()), buffer.begin());
    const uint32_t seed = platform::GetLe32(buffer.data() + 12);
    ScramblePayload(seed, buffer.data() + settings::kBlockOffset,
                    static_cast<int32_t>(settings::kBlockSize));
    return buffer;
}

// The letter, system type, code and last option byte that only the 88-byte form carries.
void TakeLongFormFields(LANconvDevice& record, const WorkingBuffer& buffer, bool longForm) {
    if (!longForm) {
        record.strCode.clear();
        record.chLetter = 0;
        record.bySystemType = 0;
        record.byOptionE = 0;
        return;
    }
    record.strCode = Latin1FieldToText(buffer.data() + settings::kCode, settings::kCodeSize);
    const uint8_t letter = buffer[settings::kLetter];
    record.chLetter = letter == 0 ? kNoLetter : letter;
    // Some converters send the type as a digit character.
    const uint8_t type = buffer[settings::kSystemType];
    record.bySystemType = type == '0' ? 0 : type == '1' ? 1 : type;
    record.byOptionE = buffer[settings::kOptionE];
}

// How much of a block slot's data the record keeps: up to the end of the field the slot feeds.
size_t KeptBytesOfSlot(size_t slot) {
    switch (slot) {
    case kSlotSerial:
        return kBlockSerial + settings::kSerialSize;
    case kSlotVersionText:
        return kBlockVersionText + kBlockVersionTextSize;
    case kSlotMac:
        return kBlockMac + kMacSize;
    default:
        return 0;
    }
}

// The version text of a slot-16 block, or nullopt when the block ends inside the text.
std::optional<std::string> VersionTextOfBlock(std::span<const uint8_t> block) {
    const size_t end = kBlockVersionText + kBlockVersionTextSize;
    if (block.size() <= kBlockVersionText)
        return std::nullopt;
    const size_t available = std::min(block.size(), end) - kBlockVersionText;
    const uint8_t* text = block.data() + kBlockVersionText;
    const bool terminated = std::find(text, text + available, 0) != text + available;
    if (!terminated && block.size() < end)
        return std::nullopt;
    return Latin1FieldToText(text, available);
}

} // namespace

std::optional<size_t> BlockSlotForSubCommand(uint8_t subCommand) {
    if (subCommand >= kSubCmdFirstNumbered && subCommand <= kSubCmdLastNumbered)
        return static_cast<size_t>(subCommand - kSubCmdFirstNumbered);
    switch (subCommand) {
    case kSubCmdVersionText:
        return kSlotVersionText;
    case kSubCmdMac:
        return kSlotMac;
    case kSubCmdSettingsBlock:
        return kSlotSettings;
    default:
        return std::nullopt;
    }
}

AnswerCheck CheckAnswer(std::span<const uint8_t> data) {
    AnswerCheck check;
    if (data.size() < kHeaderBytesOfBlocks) {
        check.disposition = AnswerDisposition::TooShort;
        return check;
    }
    const uint8_t type = data[0];
    if (type == kTypeIgnored) {
        check.disposition = AnswerDisposition::IgnoredType;
        return check;
    }
    if (type == kTypeConfiguration) {
        check.type = AnswerType::Configuration;
        const bool sizeFits =
            data.size() == settings::kShortAnswerSize || data.size() == settings::kFullSize;
        check.disposition = data[1] == kCmdConfiguration && sizeFits
                                ? AnswerDisposition::Applied
                                : AnswerDisposition::NotConfigurationAnswer;
        return check;
    }
    check.type = AnswerType::Block;
    if (data.size() == kHeaderBytesOfBlocks || data[3] == kSubCmdIgnored) {
        check.disposition = AnswerDisposition::NotBlockAnswer;
        return check;
    }
    check.slot = BlockSlotForSubCommand(data[3]);
    check.disposition = check.slot ? AnswerDisposition::Applied : AnswerDisposition::NoSlot;
    return check;
}

AnswerEffect ApplyConfigurationAnswer(LANconvDevice& record, std::span<const uint8_t> data,
                                      int64_t now) {
    record.lastSeen = now;
    for (size_t slot : {kSlotSettings, kSlotSerial, kSlotVersionText, kSlotMac})
        record.abBlockSeen[slot] = true;

    const WorkingBuffer buffer = UnscrambledSettings(data);
    const uint8_t* b = buffer.data();
    using platform::GetLe16;
    using platform::GetLe32;
    record.nKind =
        GetLe32(b + settings::kMarker) == kMarkerExtended ? kKindExtended : kKindStandard;
    record.dwFirmwareVersion = GetLe32(b + settings::kFirmwareVersion);
    std::copy_n(b + settings::kMac, kMacSize, record.abyMac.begin());
    record.aBlocks.Assign(kSlotSettings, data); // as received: scrambled
    record.strSerial = Latin1FieldToText(b + settings::kSerial, settings::kSerialSize);

    record.dwGateway = GetLe32(b + settings::kGateway);
    record.dwPeerIp = GetLe32(b + settings::kPeerIp);
    record.dwExtraIp = GetLe32(b + settings::kExtraIp);
    record.dwReportedIp = GetLe32(b + settings::kIp);
    record.wPort1 = GetLe16(b + settings::kPort1);
    record.wPort2 = GetLe16(b + settings::kPort2);
    record.byOptionB = b[settings::kOptionB];
    record.byOptionC = b[settings::kOptionC];
    record.byOptionD = b[settings::kOptionD];
    record.byOptionA = b[settings::kOptionA];
    TakeLongFormFields(record, buffer, data.size() == settings::kFullSize);
    record.dwNetmask = NetmaskFromPrefixLength(b[settings::kPrefixLength]);
    record.RecomputeComplete();

    AnswerEffect effect;
    effect.serialChanged = true;
    effect.macChanged = true;
    effect.versionColumn = VersionText(record.dwFirmwareVersion);
    return effect;
}

AnswerEffect ApplyBlockAnswer(LANconvDevice& record, size_t slot, std::span<const uint8_t> data,
                              int64_t now) {
    AnswerEffect effect;
    if (slot >= kBlockSlotCount || data.size() < kHeaderBytesOfBlocks)
        return effect;
    record.lastSeen = now;
    record.abBlockSeen[slot] = true;
    // The fields are read from the whole block; only what feeds them is kept.
    const std::span<const uint8_t> block = data.subspan(kHeaderBytesOfBlocks);
    record.aBlocks.Assign(slot, block.first(std::min(block.size(), KeptBytesOfSlot(slot))));

    if (slot == kSlotSerial && block.size() >= kBlockSerial + settings::kSerialSize) {
        record.strSerial = Latin1FieldToText(block.data() + kBlockSerial, settings::kSerialSize);
        if (IsExtendedArticle(record.strSerial))
            record.nKind = kKindExtended;
        else if (IsStandardArticle(record.strSerial))
            record.nKind = kKindStandard;
        effect.serialChanged = true;
    } else if (slot == kSlotVersionText) {
        effect.versionColumn = VersionTextOfBlock(block);
    } else if (slot == kSlotMac && block.size() >= kBlockMac + kMacSize) {
        std::copy_n(block.begin() + kBlockMac, kMacSize, record.abyMac.begin());
        effect.macChanged = true;
    }
    record.RecomputeComplete();
    return effect;
}

} // namespace qarn
