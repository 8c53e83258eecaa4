-- Wireshark dissector for the LAN converter configuration protocol of qarn-converter-config
-- (UDP port 58009): discovery requests, configuration answers and writes with their settings
-- block unscrambled, block answers, firmware blocks and commits and the converters' answers.
--
-- Installed by the package in Wireshark's global Lua plugin folder; by hand:
--   tshark -X lua_script:qarn-converter.lua -r capture.pcapng -V
--   wireshark -X lua_script:qarn-converter.lua capture.pcapng
-- Display filter examples: qarnconv, qarnconv.cmd == 0x1e, qarnconv.settings.mac == 02:51:00:00:00:04
--
-- Every datagram starts with a 16-byte header (all multi-byte fields little-endian):
--   byType byCmd byAnswerCmd bySubCmd | dwBlock | dwLength | dwSeed
-- The payload of configuration datagrams and firmware blocks is scrambled with RC4 whose 32-byte
-- key is eight little-endian words: seed, seed - 1 * 0x3D2B71C5, ..., seed - 7 * 0x3D2B71C5
-- (modulo 2^32). Block answers (byType neither 1 nor 2) are sent in the clear.

local PORT = 58009
local SCRAMBLE_STEP = 0x3D2B71C5

local CMD_DISCOVERY = 0x1A
local CMD_CONFIGURATION = 0x1B
local CMD_WRITE_BY_MAC = 0x1C
local CMD_FIRMWARE_BLOCK = 0x1E
local CMD_FIRMWARE_COMMIT = 0x26

local SHORT_BLOCK_FLAG = 0x10000
local MARKER_EXTENDED = 0x12131417
local MARKER_STANDARD = 0x12131416

-- Byte-wise exclusive or: Lua 5.2 has bit32, later versions the ~ operator (loaded as text so
-- that 5.2 does not have to parse it).
local bxor = (bit32 and bit32.bxor) or (bit and bit.bxor) or
    load("return function(a, b) return a ~ b end")()

local proto = Proto("qarnconv", "Qarn LAN converter configuration protocol")

local commands = {
    [CMD_DISCOVERY] = "Discovery request",
    [CMD_CONFIGURATION] = "Configuration",
    [CMD_WRITE_BY_MAC] = "Configuration write by MAC address",
    [CMD_FIRMWARE_BLOCK] = "Firmware block",
    [CMD_FIRMWARE_COMMIT] = "Firmware commit",
}
local system_types = { [0] = "rilo", [1] = "tesk", [2] = "vardo", [255] = "none chosen" }
local markers = {
    [MARKER_EXTENDED] = "extended converter",
    [MARKER_STANDARD] = "standard converter",
    [0] = "none",
}
local block_codes = {
    [0xF5] = "version text (slot 16)",
    [0xF7] = "MAC address (slot 17)",
    [0xF9] = "general (slot 0)",
    [0xFC] = "ignored by the tool",
}
for code = 0xD0, 0xDF do
    block_codes[code] = string.format("slot %d", code - 0xD0)
end
block_codes[0xD5] = "serial number (slot 5)"
local block_requests = {
    [0xE0] = "block 0 (0xD0)",
    [0xE5] = "block 5 (0xD5)",
    [0xF4] = "block 16 (0xF5)",
    [0xF6] = "block 17 (0xF7)",
}

local F = ProtoField
local f = {
    kind = F.string("qarnconv.kind", "Datagram"),
    type = F.uint8("qarnconv.type", "Type", base.DEC),
    cmd = F.uint8("qarnconv.cmd", "Command", base.HEX, commands),
    answer_cmd = F.uint8("qarnconv.answer_cmd", "Answer command", base.HEX),
    sub_cmd = F.uint8("qarnconv.sub_cmd", "Sub-command", base.HEX),
    block = F.uint32("qarnconv.block", "Block", base.HEX),
    length = F.uint32("qarnconv.length", "Length", base.DEC),
    seed = F.uint32("qarnconv.seed", "Seed", base.HEX),

    marker = F.uint32("qarnconv.settings.marker", "Generation marker", base.HEX, markers),
    ip = F.ipv4("qarnconv.settings.ip", "IP address"),
    gateway = F.ipv4("qarnconv.settings.gateway", "Gateway"),
    prefix = F.uint8("qarnconv.settings.prefix", "Prefix length", base.DEC),
    netmask = F.ipv4("qarnconv.settings.netmask", "Subnet mask"),
    option_a = F.uint8("qarnconv.settings.option_a", "Option A", base.HEX),
    extra_ip = F.ipv4("qarnconv.settings.extra_ip", "Additional address"),
    mac = F.ether("qarnconv.settings.mac", "MAC address"),
    option_c = F.uint8("qarnconv.settings.option_c", "Option C", base.HEX),
    option_b = F.uint8("qarnconv.settings.option_b", "Option B", base.HEX),
    serial = F.string("qarnconv.settings.serial", "Serial number"),
    option_d = F.uint8("qarnconv.settings.option_d", "Option D", base.HEX),
    peer = F.ipv4("qarnconv.settings.peer", "Peer address"),
    port1 = F.uint16("qarnconv.settings.port1", "Port 1", base.DEC),
    port2 = F.uint16("qarnconv.settings.port2", "Port 2", base.DEC),
    firmware = F.uint32("qarnconv.settings.firmware", "Firmware version number", base.DEC),
    firmware_text = F.string("qarnconv.settings.firmware_text", "Firmware version"),
    code = F.string("qarnconv.settings.code", "Code"),
    letter = F.uint8("qarnconv.settings.letter", "Letter", base.DEC),
    system_type = F.uint8("qarnconv.settings.system_type", "System type", base.DEC, system_types),
    option_e = F.uint8("qarnconv.settings.option_e", "Option E", base.HEX),

    fw_block = F.uint16("qarnconv.fw.block", "Block number", base.DEC),
    fw_short = F.bool("qarnconv.fw.short", "Shorter than the standard block"),
    fw_size = F.uint32("qarnconv.fw.payload_size", "Payload size", base.DEC),
    fw_data = F.bytes("qarnconv.fw.data", "Image data (unscrambled)"),
    fw_checksum = F.uint32("qarnconv.fw.checksum", "Image checksum", base.HEX),
    fw_image_length = F.uint32("qarnconv.fw.image_length", "Image length", base.DEC),
    fw_accepted = F.bool("qarnconv.fw.accepted", "Accepted"),

    blk_code = F.uint8("qarnconv.blk.code", "Block code", base.HEX, block_codes),
    slot = F.uint8("qarnconv.blk.slot", "Block slot", base.DEC),
    blk_data = F.bytes("qarnconv.blk.data", "Block data"),
    blk_serial = F.string("qarnconv.blk.serial", "Serial number"),
    blk_version = F.string("qarnconv.blk.version", "Firmware version"),
    blk_mac = F.ether("qarnconv.blk.mac", "MAC address"),
    request = F.uint8("qarnconv.request", "Block request", base.HEX, block_requests),
}
local field_list = {}
for _, field in pairs(f) do
    field_list[#field_list + 1] = field
end
proto.fields = field_list

local e_length = ProtoExpert.new("qarnconv.bad_length", "Length the tool does not take",
    expert.group.MALFORMED, expert.severity.WARN)
local e_refused = ProtoExpert.new("qarnconv.refused", "Not accepted by the converter",
    expert.group.RESPONSE_CODE, expert.severity.NOTE)
proto.experts = { e_length, e_refused }

proto.prefs.port = Pref.uint("UDP port", PORT, "Port of the converters and of the tool")

-- RC4 with the key derived from `seed`, over `count` bytes of `tvb` from `offset`: the unscrambled
-- bytes as a ByteArray (the cipher is its own inverse).
local function unscramble(tvb, offset, count, seed)
    local key = {}
    for k = 0, 7 do
        local word = (seed - k * SCRAMBLE_STEP) % 4294967296
        for i = 0, 3 do
            key[k * 4 + i] = math.floor(word / 256 ^ i) % 256
        end
    end
    local s = {}
    for i = 0, 255 do
        s[i] = i
    end
    local j = 0
    for i = 0, 255 do
        j = (j + s[i] + key[i % 32]) % 256
        s[i], s[j] = s[j], s[i]
    end
    local plain = ByteArray.new()
    plain:set_size(count)
    local bytes = tvb:range(offset, count):bytes()
    local i = 0
    j = 0
    for n = 0, count - 1 do
        i = (i + 1) % 256
        j = (j + s[i]) % 256
        s[i], s[j] = s[j], s[i]
        plain:set_index(n, bxor(bytes:get_index(n), s[(s[i] + s[j]) % 256]))
    end
    return plain
end

-- A fixed-size text field: its characters up to the first 0, or all of them when it has none.
local function text_of(range)
    local text = range:string()
    local nul = text:find("\0", 1, true)
    return nul and text:sub(1, nul - 1) or text
end

local function version_text(number)
    return string.format("%d.%d.%d.%d", math.floor(number / 1000000),
        math.floor(number / 10000) % 100, math.floor(number / 100) % 100, number % 100)
end

-- Prefix length -> mask as dotted text; above 32 counts as 32, as the tool reads it.
local function netmask_text(prefix)
    local bits = math.min(prefix, 32)
    local octets = {}
    for i = 1, 4 do
        local ones = math.max(0, math.min(8, bits - (i - 1) * 8))
        octets[i] = 256 - 2 ^ (8 - ones)
    end
    return string.format("%d.%d.%d.%d", octets[1], octets[2], octets[3], octets[4])
end

-- Addresses that sent a datagram only the tool sends: a configuration datagram between two of
-- them is a write, one from another address an answer. Filled on the first pass in frame order.
local tool_addresses = {}

local function remember_tool(pinfo)
    if not pinfo.visited then
        tool_addresses[tostring(pinfo.src)] = true
    end
end

-- The settings block of a configuration answer or write; `plain` holds the unscrambled payload
-- (datagram offset 16 on).
local function add_settings(tree, plain, size)
    local t = tree:add(proto, plain(0, size), "Settings (unscrambled)")
    t:add_le(f.marker, plain(0, 4))
    t:add(f.ip, plain(4, 4))
    t:add(f.gateway, plain(8, 4))
    local prefix = plain(12, 1):uint()
    t:add(f.prefix, plain(12, 1))
    t:add(f.netmask, plain(12, 1), Address.ip(netmask_text(prefix)))
    t:add(f.option_a, plain(14, 1))
    t:add(f.extra_ip, plain(16, 4))
    t:add(f.mac, plain(20, 6))
    t:add(f.option_c, plain(26, 1))
    t:add(f.option_b, plain(27, 1))
    t:add(f.serial, plain(28, 14), text_of(plain(28, 14)))
    t:add(f.option_d, plain(42, 1))
    t:add(f.peer, plain(44, 4))
    t:add_le(f.port1, plain(48, 2))
    t:add_le(f.port2, plain(50, 2))
    local firmware = plain(52, 4):le_uint()
    t:add_le(f.firmware, plain(52, 4))
    t:add(f.firmware_text, plain(52, 4), version_text(firmware))
    if size >= 72 then
        t:add(f.code, plain(64, 4), text_of(plain(64, 4)))
        local letter = plain(68, 1):uint()
        t:add(f.letter, plain(68, 1)):append_text(
            letter >= 0x20 and letter < 0x7F and string.format(" ('%c')", letter) or "")
        t:add(f.system_type, plain(69, 1))
        t:add(f.option_e, plain(70, 1))
    end
    return plain(4, 4):ipv4(), plain(20, 6):ether(), text_of(plain(28, 14)), firmware
end

local function add_header(tree, tvb)
    tree:add(f.type, tvb(0, 1))
    tree:add(f.cmd, tvb(1, 1))
    tree:add(f.answer_cmd, tvb(2, 1))
    tree:add(f.sub_cmd, tvb(3, 1))
    tree:add_le(f.block, tvb(4, 4))
    tree:add_le(f.length, tvb(8, 4))
    tree:add_le(f.seed, tvb(12, 4))
end

local function dissect_configuration(tvb, pinfo, tree, cmd)
    local length = tvb:len()
    local seed = tvb(12, 4):le_uint()
    local answer
    if cmd == CMD_WRITE_BY_MAC then
        answer = false
    elseif length == 80 then
        answer = true
    elseif tool_addresses[tostring(pinfo.src)] then
        answer = false
    elseif tool_addresses[tostring(pinfo.dst)] then
        answer = true
    elseif length > 80 then
        -- No request seen yet: a write leaves the answer-only fields (option C, firmware) at 0.
        local peek = unscramble(tvb, 16, 56, seed)
        answer = peek:get_index(26) ~= 0 or peek:get_index(52) ~= 0 or peek:get_index(53) ~= 0 or
            peek:get_index(54) ~= 0 or peek:get_index(55) ~= 0
    else
        answer = false
    end
    if not answer then
        remember_tool(pinfo)
    end
    local kind = answer and "Configuration answer" or
        (cmd == CMD_WRITE_BY_MAC and "Configuration write by MAC address" or "Configuration write")
    tree:add(f.kind, tvb(0, 2), kind)
    if (answer and length ~= 80 and length ~= 88) or (not answer and length ~= 88) then
        tree:add_proto_expert_info(e_length, string.format("%d bytes: the tool takes %s", length,
            answer and "80 or 88" or "88"))
        if length < 80 then
            pinfo.cols.info = string.format("%s (%d bytes)", kind, length)
            return
        end
    end
    local size = math.min(length, 88) - 16
    local plain = unscramble(tvb, 16, size, seed):tvb("Unscrambled settings")
    local ip, mac, serial, firmware = add_settings(tree, plain, size)
    if answer then
        pinfo.cols.info = string.format("Configuration answer: %s %s serial %s firmware %s", ip, mac,
            serial, version_text(firmware))
    else
        pinfo.cols.info = string.format("%s: %s to %s", kind, mac, ip)
    end
end

local function dissect_firmware(tvb, pinfo, tree, cmd)
    local length = tvb:len()
    local number = tvb(4, 2):le_uint()
    local dw_block = tvb(4, 4):le_uint()
    if cmd == CMD_FIRMWARE_BLOCK and length > 16 then
        remember_tool(pinfo)
        local short = dw_block >= SHORT_BLOCK_FLAG and math.floor(dw_block / SHORT_BLOCK_FLAG) % 2 == 1
        tree:add(f.kind, tvb(0, 2), "Firmware block")
        tree:add_le(f.fw_block, tvb(4, 2))
        tree:add(f.fw_short, tvb(6, 1), short)
        tree:add(f.fw_size, tvb(16), length - 16)
        local plain = unscramble(tvb, 16, length - 16, tvb(12, 4):le_uint())
        tree:add(f.fw_data, plain:tvb("Unscrambled image data")())
        pinfo.cols.info = string.format("Firmware block %d (%d bytes%s)", number, length - 16,
            short and ", short" or "")
        return
    end
    local from_tool = tool_addresses[tostring(pinfo.src)]
    local commit = cmd == CMD_FIRMWARE_COMMIT and
        (from_tool or (not tool_addresses[tostring(pinfo.dst)] and tvb(2, 1):uint() == 0 and
            tvb(8, 4):le_uint() ~= 0))
    if commit then
        remember_tool(pinfo)
        tree:add(f.kind, tvb(0, 2), "Firmware commit")
        tree:add_le(f.fw_checksum, tvb(4, 4))
        tree:add_le(f.fw_image_length, tvb(8, 4))
        pinfo.cols.info = string.format("Firmware commit: %d bytes, checksum 0x%08X",
            tvb(8, 4):le_uint(), dw_block)
        return
    end
    local accepted = tvb(2, 1):uint() ~= 0
    if cmd == CMD_FIRMWARE_BLOCK then
        tree:add(f.kind, tvb(0, 2), "Firmware block answer")
        tree:add_le(f.fw_block, tvb(4, 2))
        pinfo.cols.info = string.format("Firmware block %d %s", number,
            accepted and "accepted" or "not accepted")
    else
        tree:add(f.kind, tvb(0, 2), "Firmware commit answer")
        pinfo.cols.info = "Firmware commit " .. (accepted and "accepted" or "not accepted")
    end
    local item = tree:add(f.fw_accepted, tvb(2, 1), accepted)
    if not accepted then
        item:add_proto_expert_info(e_refused)
    end
    if length ~= 16 then
        tree:add_proto_expert_info(e_length, string.format("%d bytes: the tool takes 16", length))
    end
end

local function dissect_block_answer(tvb, pinfo, tree)
    local code = tvb(3, 1):uint()
    local data = tvb(4)
    tree:add(f.kind, tvb(0, 1), "Block answer")
    tree:add(f.type, tvb(0, 1))
    tree:add(f.cmd, tvb(1, 1))
    tree:add(f.blk_code, tvb(3, 1))
    local slot
    if code >= 0xD0 and code <= 0xDF then
        slot = code - 0xD0
    elseif code == 0xF5 then
        slot = 16
    elseif code == 0xF7 then
        slot = 17
    elseif code == 0xF9 then
        slot = 0
    end
    local info = string.format("Block answer 0x%02X", code)
    if slot then
        tree:add(f.slot, tvb(3, 1), slot)
    end
    tree:add(f.blk_data, data)
    local n = data:len()
    if slot == 5 and n >= 116 then
        local serial = text_of(data(102, 14))
        tree:add(f.blk_serial, data(102, 14), serial)
        info = info .. ": serial " .. serial
    elseif slot == 16 and n >= 28 then
        local text = text_of(data(12, 16))
        tree:add(f.blk_version, data(12, 16), text)
        info = info .. ": firmware " .. text
    elseif slot == 17 and n >= 26 then
        tree:add(f.blk_mac, data(20, 6))
        info = info .. ": MAC " .. tostring(data(20, 6):ether())
    end
    pinfo.cols.info = info
end

function proto.dissector(tvb, pinfo, tree)
    local length = tvb:len()
    if length < 4 then
        return 0
    end
    pinfo.cols.protocol = "QARNCONV"
    local t = tree:add(proto, tvb())
    if length == 4 and tvb(0, 3):uint() == 0 then
        remember_tool(pinfo)
        t:add(f.kind, tvb(), "Block request")
        t:add(f.request, tvb(3, 1))
        pinfo.cols.info = string.format("Block request 0x%02X", tvb(3, 1):uint())
        return length
    end
    local byte_type = tvb(0, 1):uint()
    if byte_type ~= 1 and byte_type ~= 2 then
        dissect_block_answer(tvb, pinfo, t)
        return length
    end
    if length < 16 then
        t:add_proto_expert_info(e_length, string.format("%d bytes: shorter than the header", length))
        return length
    end
    add_header(t, tvb)
    local cmd = tvb(1, 1):uint()
    if byte_type == 2 then
        t:add(f.kind, tvb(0, 1), "Type 2 (ignored by the tool)")
        pinfo.cols.info = "Type 2 datagram"
    elseif cmd == CMD_DISCOVERY then
        remember_tool(pinfo)
        t:add(f.kind, tvb(0, 2), "Discovery request")
        pinfo.cols.info = string.format("Discovery request, seed 0x%08X", tvb(12, 4):le_uint())
    elseif cmd == CMD_CONFIGURATION or cmd == CMD_WRITE_BY_MAC then
        dissect_configuration(tvb, pinfo, t, cmd)
    elseif cmd == CMD_FIRMWARE_BLOCK or cmd == CMD_FIRMWARE_COMMIT then
        dissect_firmware(tvb, pinfo, t, cmd)
    else
        t:add(f.kind, tvb(0, 2), "Unknown command")
        pinfo.cols.info = string.format("Unknown command 0x%02X", cmd)
    end
    return length
end

local registered_port = PORT

function proto.prefs_changed()
    local udp = DissectorTable.get("udp.port")
    udp:remove(registered_port, proto)
    registered_port = proto.prefs.port
    udp:add(registered_port, proto)
end

function proto.init()
    tool_addresses = {}
end

DissectorTable.get("udp.port"):add(PORT, proto)
