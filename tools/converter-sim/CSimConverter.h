#pragma once

#include "CSimFirmwareReceiver.h"
#include "ISimHost.h"
#include "SimConverterConfig.h"

#include <cstdint>
#include <nlohmann/json.hpp>
#include <random>

namespace qarn::sim {

// One simulated converter: answers discovery, takes configuration writes and firmware transfers,
// restarts after a new image, and misbehaves when told to. It owns no socket and no clock: the
// fleet hands it each datagram with the time and carries its answers out (ISimHost).
class CSimConverter {
  public:
    // How a datagram reached the converter: to its own address, or to a broadcast address.
    enum class Delivery { Unicast, Broadcast };

    // Firmware answers carry this as byAnswerCmd when the block was accepted.
    static constexpr uint8_t kAccepted = 1;
    // Between acknowledging the last block or the commit and falling silent (ms), so that the
    // acknowledgement leaves before the address goes away.
    static constexpr uint32_t kRestartGraceMs = 100;

    CSimConverter(const SimConverterConfig& config, ISimHost& host);

    void OnDatagram(uint64_t nowMs, uint32_t src, uint16_t srcPort, Delivery delivery,
                    const uint8_t* data, size_t size);
    // The timer asked for with ISimHost::WakeAt has run out.
    void OnWake(uint64_t nowMs);

    uint32_t Ip() const { return m_config.settings.ip; }
    const SimSettings& Settings() const { return m_config.settings; }
    const SimConverterConfig& Config() const { return m_config; }
    bool Silent() const { return m_phase == Phase::Restarting; }
    // Draws the share of received datagrams that the misbehaviour says are lost.
    bool LoseIncoming();
    bool LoseOutgoing();

    nlohmann::json State() const;

  private:
    enum class Phase { Running, RestartPending, Restarting };

    void OnDiscovery(uint64_t nowMs, uint32_t src, uint16_t srcPort);
    void OnBlockRequest(uint64_t nowMs, uint32_t src, uint16_t srcPort, uint8_t code);
    void OnWrite(uint32_t src, Delivery delivery, const uint8_t* data, size_t size);
    bool CheckWrite(const SimSettings& fields, std::string* why) const;
    void ApplyWrite(const SimSettings& fields);
    void OnFirmwareBlock(uint64_t nowMs, uint32_t src, uint16_t srcPort, const uint8_t* data,
                         size_t size);
    void OnCommit(uint64_t nowMs, uint32_t src, uint16_t srcPort, const uint8_t* data);
    bool FirmwareSilenced(uint32_t dwBlock, bool commit);
    void SendBlockAck(uint64_t nowMs, uint32_t src, uint16_t srcPort, uint16_t number,
                      bool accepted);
    // Keeps size and checksum of the image that was taken, then restarts with `newVersion`.
    void ScheduleRestart(uint64_t nowMs, uint32_t newVersion, size_t imageBytes);

    // Sends `bytes` after `delayMs`, with the misbehaviours that touch every answer (other
    // source address, duplicates, loss).
    void Answer(uint64_t nowMs, uint32_t delayMs, uint32_t to, uint16_t port,
                std::vector<uint8_t> bytes);
    uint32_t DrawDelay();
    uint32_t NextSeed();
    bool FaultHits(SimFault& fault, uint32_t& used, uint16_t number);
    void Log(nlohmann::json event);

    SimConverterConfig m_config;
    ISimHost& m_host;
    std::mt19937_64 m_random;
    CSimFirmwareReceiver m_firmware;
    Phase m_phase = Phase::Running;
    uint32_t m_pendingVersion = 0;
    bool m_firmwareSilent = false;
    uint32_t m_wrongEchoUsed = 0;
    uint32_t m_wrongLengthUsed = 0;
    uint64_t m_answers = 0;
    uint64_t m_restarts = 0;
    size_t m_lastImageBytes = 0; // the image of the last completed transfer
    uint32_t m_lastImageChecksum = 0;
};

} // namespace qarn::sim
