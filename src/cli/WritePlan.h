#pragma once

#include "protocol/EditRules.h"
#include "protocol/LANconvDevice.h"

#include <optional>
#include <string>
#include <vector>

namespace qarn::cli {

// The settings `write` was given, as typed. An option not given keeps the converter's value.
struct WriteEdits {
    std::optional<std::string> ip = std::nullopt;
    std::optional<std::string> netmask = std::nullopt;
    std::optional<std::string> gateway = std::nullopt;
    std::optional<std::string> port1 = std::nullopt;
    std::optional<std::string> port2 = std::nullopt;
    std::optional<std::string> peer = std::nullopt;
    std::optional<std::string> letter = std::nullopt;
    std::optional<std::string> systemType = std::nullopt;

    bool Empty() const;
};

// The working copy and its snapshot, as the configuration write takes them, and what the value
// rules corrected on the way.
struct PreparedWrite {
    LANconvDevice working;
    LANconvDevice snapshot;
    std::vector<std::string> notes; // "--port1 58009 corrected to 58018"
};

// Puts `edits` through the editor's value rules on a copy of `listed`, the record of the target
// as the device list holds it. With `listed` null the target is a converter no listed converter
// matches, written by its MAC address `unlistedMac`: the editor's blank record in the manual
// view, which needs --ip. False with a one-line reason when a value is refused or not offered for
// this converter; nothing is to be sent then.
bool PrepareWrite(const LANconvDevice* listed, const MacAddress& unlistedMac,
                  const WriteEdits& edits, PreparedWrite& prepared, std::string* error);

// What an answer from the written converter still contradicts, one text per setting given in
// `edits` ("port1 is 4001, not 5000"); empty when it shows them all. `source` is where the answer
// came from (the converter's address); `answer` its record after the answer; a block answer
// (`configurationAnswer` false) carries no settings, so only the address is checked then, and
// letter and system type only when the answer had the 88-byte form.
std::vector<std::string> UnconfirmedSettings(const LANconvDevice& written, const WriteEdits& edits,
                                             uint32_t source, const LANconvDevice& answer,
                                             bool configurationAnswer, bool longAnswer);

} // namespace qarn::cli
