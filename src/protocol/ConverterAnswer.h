#pragma once

#include "protocol/LANconvDevice.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

// Reading one datagram that a converter sent into its record. The device list (DeviceList) decides
// which record and keeps the rows; this is the part that only looks at bytes and one record.
//
// A datagram is a configuration answer (byType 1, byCmd 0x1B, 80 or 88 bytes, settings scrambled
// with the header's seed) or, for any byType but 1 and 2, a block answer: its bySubCmd names a
// block slot and its bytes from offset 4 on are the block (not scrambled).

namespace qarn {

// What became of a datagram handed to the device list.
enum class AnswerDisposition {
    TooShort,                // fewer than 4 bytes
    IgnoredType,             // byType 2
    NotConfigurationAnswer,  // byType 1 without byCmd 0x1B, or not 80 or 88 bytes long
    NotBlockAnswer,          // a block answer of only 4 bytes, or with bySubCmd 0xFC
    ExtendedRowIgnoresBlock, // a block answer for a listed extended converter: nothing changed
    NoSlot,                  // a block answer outside the slot table: its row exists, nothing else
    ListFull,                // from a new source while the list holds its most rows: dropped
    Applied,                 // the record took the answer
};

enum class AnswerType { Configuration, Block };

struct AnswerCheck {
    // Applied for a datagram that passes the checks; else why it is dropped.
    AnswerDisposition disposition = AnswerDisposition::TooShort;
    AnswerType type = AnswerType::Block;
    std::optional<size_t> slot; // block answers: the slot, when bySubCmd names one
};

// The checks that every datagram passes before it may touch the list, and what it is.
AnswerCheck CheckAnswer(std::span<const uint8_t> data);

// bySubCmd -> block slot: 0xD0..0xDF -> 0..15, 0xF5 -> 16, 0xF7 -> 17, 0xF9 -> 0; else nullopt.
std::optional<size_t> BlockSlotForSubCommand(uint8_t subCommand);

// Which list columns an answer gives new text.
struct AnswerEffect {
    bool serialChanged = false;               // serial column: SerialColumnText(strSerial)
    bool macChanged = false;                  // MAC column, and the rule that drops other rows
    std::optional<std::string> versionColumn; // new text of the version column
};

// A configuration answer (CheckAnswer gave Configuration/Applied) into `record`, seen at `now`.
// Fills every settings field, marks slots 0, 5, 16 and 17, stores the datagram as received in
// slot 0 and recomputes bComplete.
AnswerEffect ApplyConfigurationAnswer(LANconvDevice& record, std::span<const uint8_t> data,
                                      int64_t now);

// A block answer for `slot` into `record`, seen at `now`: takes the field that slot carries (5:
// serial and with it the kind, 16: version text, 17: MAC) and keeps of data[4..] no more than
// reaches the end of that field (nothing for the slots without one). A block too short for its
// field is kept and marked, but the field and its column stay as they were. Recomputes bComplete.
AnswerEffect ApplyBlockAnswer(LANconvDevice& record, size_t slot, std::span<const uint8_t> data,
                              int64_t now);

} // namespace qarn
