#pragma once

#include "ipc/SerialFrameReader.h"
#include "net/CMsg.h"
#include "net/CMsgQueue.h"
#include "net/CThreadClass.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qarn {

// One serial port on termios: opens and configures it, writes bytes, and runs a worker that reads
// frames or bytes in one of the read modes (SerialFrameReader) and hands each as a CMsg to
// Deliver. Port names without a folder are looked up in /dev ("ttyUSB0" -> /dev/ttyUSB0).
//
// Time-outs work as on the other system's ports: each read waits up to the read time-out for its
// first byte, and a read of several bytes ends once the line has been quiet for the interval
// time-out (set from the baud rate). Failures store an error code (GetLastError: errno values,
// or kErrorAlreadyOpen, kErrorInvalidHandle) and are logged. Reads and delivery happen on the
// worker, writes on the caller's thread.
class CSerial : public CThreadClass {
  public:
    static constexpr int kErrorInvalidHandle = 6;
    static constexpr int kErrorAlreadyOpen = 1247;
    static constexpr int32_t kModeStx = 0;
    static constexpr int32_t kModeDebug = 1;
    static constexpr int32_t kModeDirect = 9;
    static constexpr int32_t kModeSingleByte = 2; // any value but 0, 1 and 9
    static constexpr uint32_t kWorkerWaitMs = 5;
    static constexpr int kReadsPerStep = 32;
    static constexpr uint32_t kOpenTimeoutMs = 300;
    static constexpr size_t kDefaultBufferSize = 4096;
    static constexpr uint32_t kNoParity = 0, kOddParity = 1, kEvenParity = 2, kMarkParity = 3,
                              kSpaceParity = 4;
    static constexpr uint32_t kOneStopBit = 0, kOneAndHalfStopBits = 1, kTwoStopBits = 2;

    CSerial();
    ~CSerial() override;

    bool StartThread(platform::Event* waitObject, uint32_t waitTimeoutMs) override;
    bool TimeoutThread() override;

    // Opens and configures the port; the input-queue size sizes the frame buffer (0: 4096).
    virtual bool Open(const std::string& portName, uint32_t inputQueue, uint32_t outputQueue,
                      uint32_t baudRate, uint32_t dataBits, uint32_t parity, uint32_t stopBits);
    // Stops the worker and closes the port; 0.
    virtual int Close();
    // Line parameters (parity and stop bits as the constants above); the last error.
    virtual int Setup(uint32_t baudRate, uint32_t dataBits, uint32_t parity, uint32_t stopBits);
    // Writes all bytes and waits until they left; in mode 0 the receive buffer is emptied first,
    // so that a reply is read after the write. The last error.
    virtual int Write(const uint8_t* bytes, size_t count, size_t* written = nullptr);
    bool SetTimeouts(uint32_t readTimeoutMs);
    int Purge();

    // Starts the worker (5 ms between steps) that reads in `readMode` and delivers to `sink`.
    void StartReceiving(CMsgQueue* sink, int32_t readMode, uint32_t readTimeoutMs);
    // In single-byte mode: `terminator` (not 0) switches to `nextMode` once it arrives.
    void SetTerminator(uint8_t terminator, int32_t nextMode);
    // Stamped into received messages: the high 32 bits as address, the low 28 bits as port.
    void SetPortTag(uint64_t tag) { m_portTag = tag; }

    // One read of each mode: a message, an empty message (bytes came but no whole frame), or null.
    std::unique_ptr<CMsg> Read();
    std::unique_ptr<CMsg> DebugRead();
    std::unique_ptr<CMsg> DirectRead();
    std::unique_ptr<CMsg> DirectReadChar();

    // Hands a received message on; the default pushes it into the sink.
    virtual void Deliver(std::unique_ptr<CMsg> msg);

    bool IsOpen() const { return m_handle >= 0; }
    int GetLastError() const { return m_lastError; }
    uint32_t GetBaudRate() const { return m_baudRate; }
    uint32_t GetIntervalTimeoutMs() const { return m_intervalTimeoutMs; }
    int32_t GetReadMode() const { return m_readMode.load(); }
    const std::string& GetPortName() const { return m_portName; }

    // Interval time-out for a baud rate: 2400 -> 5 ms, 4800 -> 3, 9600 -> 2, others 1.
    static uint32_t IntervalTimeoutFor(uint32_t baudRate);

  protected:
    void Stamp(CMsg& msg) const;

  private:
    long ReadBytes(uint8_t* out, size_t max);
    std::unique_ptr<CMsg> ReadInMode(int32_t mode);
    std::unique_ptr<CMsg> FromResult(SerialFrameReader::Result result, const char* reader);
    void Fail(const char* format, int code);

    std::string m_portName;
    int m_lastError = 0;
    int m_handle = -1;
    uint32_t m_baudRate = 0;
    uint32_t m_intervalTimeoutMs = 1;
    uint32_t m_currentReadTimeoutMs = UINT32_MAX;
    size_t m_bufferSize = kDefaultBufferSize;
    CMsgQueue* m_sink = nullptr;
    bool m_signal = false;
    std::atomic<int32_t> m_readMode{kModeStx};
    std::atomic<int32_t> m_nextReadMode{kModeStx};
    std::atomic<uint8_t> m_terminator{0};
    uint32_t m_readTimeoutMs = kOpenTimeoutMs;
    uint64_t m_portTag = 0;
};

} // namespace qarn
