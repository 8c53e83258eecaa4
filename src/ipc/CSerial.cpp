#include "ipc/CSerial.h"

#include "diag/FileLogger.h"
#include "ipc/SystemErrorText.h"
#include "platform/SystemTime.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace qarn {

namespace {

constexpr int kWriteWaitMs = 1000;

struct BaudEntry {
    uint32_t rate;
    speed_t speed;
};

constexpr BaudEntry kBaudRates[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
};

bool SpeedFor(uint32_t rate, speed_t& speed) {
    for (const BaudEntry& entry : kBaudRates) {
        if (entry.rate == rate) {
            speed = entry.speed;
            return true;
        }
    }
    return false;
}

tcflag_t SizeFlag(uint32_t dataBits) {
    switch (dataBits) {
    case 5:
        return CS5;
    case 6:
        return CS6;
    case 7:
        return CS7;
    default:
        return CS8;
    }
}

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

CSerial::CSerial() {
    SetName("CSerial");
}

CSerial::~CSerial() {
    StopThread();
    if (m_handle >= 0)
        close(m_handle);
}

uint32_t CSerial::IntervalTimeoutFor(uint32_t baudRate) {
    switch (baudRate) {
    case 2400:
        return 5;
    case 4800:
        return 3;
    case 9600:
        return 2;
    default:
        return 1;
    }
}

void CSerial::Fail(const char* format, int code) {
    m_lastError = code;
    if (IsErrorLogEnabled())
        LogError(FormatText(format, static_cast<unsigned>(code)));
}

bool CSerial::StartThread(platform::Event* waitObject, uint32_t waitTimeoutMs) {
    SetName("CSerial");
    return CThreadClass::StartThread(waitObject, waitTimeoutMs);
}

bool CSerial::Open(const std::string& portName, uint32_t inputQueue, uint32_t /*outputQueue*/,
                   uint32_t baudRate, uint32_t dataBits, uint32_t parity, uint32_t stopBits) {
    m_lastError = 0;
    if (m_handle >= 0) {
        m_lastError = kErrorAlreadyOpen;
        if (IsErrorLogEnabled())
            LogError(FormatText("CSerial::Open: Port:'%s' is already open", portName.c_str()));
        return false;
    }
    const std::string path =
        !portName.empty() && portName.front() == '/' ? portName : "/dev/" + portName;
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        m_lastError = errno;
        if (IsErrorLogEnabled())
            LogError(FormatText("CSerial::Open: Port:'%s' CreateFile:Error:0x%x", portName.c_str(),
                                static_cast<unsigned>(m_lastError)));
        return false;
    }
    // No sharing: other openers (but root) are refused while we have it.
    (void)ioctl(fd, TIOCEXCL);
    m_handle = fd;
    m_portName = portName;
    // The system sizes its own queues; the input size still bounds our frames.
    m_bufferSize = inputQueue != 0 ? inputQueue : kDefaultBufferSize;
    Setup(baudRate, dataBits, parity, stopBits);
    m_intervalTimeoutMs = IntervalTimeoutFor(baudRate);
    m_currentReadTimeoutMs = UINT32_MAX;
    return SetTimeouts(kOpenTimeoutMs) && m_lastError == 0;
}

int CSerial::Setup(uint32_t baudRate, uint32_t dataBits, uint32_t parity, uint32_t stopBits) {
    const std::string line = FormatText("(BaudRate:%u DataBits:%u Parity:%u StopBits:%u)", baudRate,
                                        dataBits, parity, stopBits);
    if (m_handle < 0) {
        m_lastError = kErrorInvalidHandle;
        if (IsErrorLogEnabled())
            LogError("CSerial::Setup: InvalidHandle:Error " + line);
        return m_lastError;
    }
    termios settings{};
    if (tcgetattr(m_handle, &settings) != 0) {
        m_lastError = errno;
        if (IsErrorLogEnabled())
            LogError(FormatText("CSerial::Setup: GetCommState:Error:0x%x ",
                                static_cast<unsigned>(m_lastError)) +
                     line);
        return m_lastError;
    }
    speed_t speed = B9600;
    int error = SpeedFor(baudRate, speed) ? 0 : EINVAL;
    // Raw bytes: no echo, no line editing, no translation, no flow control of either kind.
    cfmakeraw(&settings);
    settings.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    settings.c_cflag |= SizeFlag(dataBits) | CLOCAL | CREAD;
    settings.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK);
    if (parity != kNoParity) {
        settings.c_cflag |= PARENB;
        settings.c_iflag |= INPCK;
        if (parity == kOddParity || parity == kMarkParity)
            settings.c_cflag |= PARODD;
        if (parity == kMarkParity || parity == kSpaceParity)
            settings.c_cflag |= CMSPAR;
    }
    if (stopBits != kOneStopBit)
        settings.c_cflag |= CSTOPB; // 1.5 stop bits do not exist here; 2 is the nearest
    // Reads never block in the system: the worker waits with poll and its own time-outs.
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    if (error == 0 && (cfsetispeed(&settings, speed) != 0 || cfsetospeed(&settings, speed) != 0))
        error = errno;
    if (error == 0 && tcsetattr(m_handle, TCSANOW, &settings) != 0)
        error = errno;
    if (error != 0) {
        m_lastError = error;
        if (IsErrorLogEnabled())
            LogError(FormatText("CSerial::Setup: SetCommState:Error:0x%x ",
                                static_cast<unsigned>(error)) +
                     line);
        return m_lastError;
    }
    // DTR and RTS stay low; a pseudo-terminal has neither, which is fine.
    int lines = TIOCM_DTR | TIOCM_RTS;
    (void)ioctl(m_handle, TIOCMBIC, &lines);
    m_baudRate = baudRate;
    return m_lastError;
}

bool CSerial::SetTimeouts(uint32_t readTimeoutMs) {
    if (readTimeoutMs == m_currentReadTimeoutMs)
        return true;
    if (m_handle < 0) {
        Fail("CSerial::SetTimeouts: SetCommTimeouts:Error:0x%x", kErrorInvalidHandle);
        return false;
    }
    m_currentReadTimeoutMs = readTimeoutMs;
    return true;
}

int CSerial::Purge() {
    if (m_handle < 0) {
        Fail("CSerial::Purge: InvalidHandle:Error:0x%x", kErrorInvalidHandle);
        return m_lastError;
    }
    if (tcflush(m_handle, TCIFLUSH) != 0)
        Fail("CSerial::Purge: PurgeComm:Error:0x%x", errno);
    return m_lastError;
}

int CSerial::Write(const uint8_t* bytes, size_t count, size_t* written) {
    if (written != nullptr)
        *written = 0;
    if (m_handle < 0) {
        m_lastError = kErrorInvalidHandle;
        if (IsErrorLogEnabled())
            LogError("CSerial::Write: InvalidHandle:Error");
        return m_lastError;
    }
    m_lastError = 0;
    if (m_readMode.load() == kModeStx)
        Purge();
    size_t done = 0;
    while (done < count) {
        const ssize_t n = write(m_handle, bytes + done, count - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        pollfd wait{m_handle, POLLOUT, 0};
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && poll(&wait, 1, kWriteWaitMs) > 0)
            continue;
        Fail("CSerial::Write: WriteFile:Error:0x%x", n < 0 && errno != EAGAIN ? errno : ETIMEDOUT);
        break;
    }
    if (written != nullptr)
        *written = done;
    if (m_lastError == 0)
        (void)tcdrain(m_handle);
    return m_lastError;
}

int CSerial::Close() {
    StopThread();
    m_lastError = 0;
    if (m_handle >= 0)
        close(m_handle);
    m_handle = -1;
    return 0;
}

// Waits up to the read time-out for the first byte, then takes bytes until `max` are in or the
// line stays quiet for the interval time-out, all within the read time-out.
long CSerial::ReadBytes(uint8_t* out, size_t max) {
    const int64_t deadline = NowMs() + m_currentReadTimeoutMs;
    size_t got = 0;
    while (got < max) {
        const int64_t left = deadline - NowMs();
        int waitMs = static_cast<int>(left < 0 ? 0 : left);
        if (got > 0 && waitMs > static_cast<int>(m_intervalTimeoutMs))
            waitMs = static_cast<int>(m_intervalTimeoutMs);
        pollfd wait{m_handle, POLLIN, 0};
        const int ready = poll(&wait, 1, waitMs);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            return -1;
        if (ready == 0)
            break;
        const ssize_t n = read(m_handle, out + got, max - got);
        if (n > 0) {
            got += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        // End of file (the other end of a pseudo-terminal closed) or an error.
        if (n == 0 && got == 0)
            errno = EIO;
        return got > 0 ? static_cast<long>(got) : -1;
    }
    return static_cast<long>(got);
}

std::unique_ptr<CMsg> CSerial::FromResult(SerialFrameReader::Result result, const char* reader) {
    switch (result.outcome) {
    case SerialFrameReader::Outcome::Frame: {
        auto msg = std::make_unique<CMsg>();
        msg->data = std::move(result.bytes);
        return msg;
    }
    case SerialFrameReader::Outcome::Incomplete:
        return std::make_unique<CMsg>();
    case SerialFrameReader::Outcome::Error:
        m_lastError = errno != 0 ? errno : EIO;
        if (IsErrorLogEnabled())
            LogError(FormatText("CSerial::%s: ReadFile:Error:0x%x", reader,
                                static_cast<unsigned>(m_lastError)));
        return nullptr;
    case SerialFrameReader::Outcome::Nothing:
        break;
    }
    return nullptr;
}

std::unique_ptr<CMsg> CSerial::Read() {
    if (m_handle < 0)
        return nullptr;
    const auto source = [this](uint8_t* out, size_t max) { return ReadBytes(out, max); };
    return FromResult(SerialFrameReader::ReadStxFrame(source, m_bufferSize), "Read");
}

std::unique_ptr<CMsg> CSerial::DebugRead() {
    if (m_handle < 0)
        return nullptr;
    const auto source = [this](uint8_t* out, size_t max) { return ReadBytes(out, max); };
    return FromResult(SerialFrameReader::ReadDebugFrame(source, m_bufferSize), "DebugRead");
}

std::unique_ptr<CMsg> CSerial::DirectRead() {
    if (m_handle < 0)
        return nullptr;
    const auto source = [this](uint8_t* out, size_t max) { return ReadBytes(out, max); };
    return FromResult(SerialFrameReader::ReadDirect(source), "DirectRead");
}

std::unique_ptr<CMsg> CSerial::DirectReadChar() {
    if (m_handle < 0)
        return nullptr;
    const auto source = [this](uint8_t* out, size_t max) { return ReadBytes(out, max); };
    return FromResult(SerialFrameReader::ReadChar(source), "DirectReadChar");
}

std::unique_ptr<CMsg> CSerial::ReadInMode(int32_t mode) {
    switch (mode) {
    case kModeStx:
        return Read();
    case kModeDebug:
        return DebugRead();
    case kModeDirect:
        return DirectRead();
    default:
        return DirectReadChar();
    }
}

void CSerial::StartReceiving(CMsgQueue* sink, int32_t readMode, uint32_t readTimeoutMs) {
    m_sink = sink;
    m_readMode.store(readMode);
    m_readTimeoutMs = readTimeoutMs;
    m_signal = true;
    SetName("CSerial");
    if (!IsRunning())
        StartThread(nullptr, kWorkerWaitMs);
}

void CSerial::SetTerminator(uint8_t terminator, int32_t nextMode) {
    m_nextReadMode.store(nextMode);
    m_terminator.store(terminator);
}

bool CSerial::TimeoutThread() {
    for (int i = 0; i < kReadsPerStep && !IsStopRequested(); ++i) {
        if (!SetTimeouts(m_readTimeoutMs))
            break;
        const int32_t mode = m_readMode.load();
        std::unique_ptr<CMsg> msg = ReadInMode(mode);
        if (!msg)
            break;
        const bool singleByte = mode != kModeStx && mode != kModeDebug && mode != kModeDirect;
        const uint8_t byte = msg->data.empty() ? 0 : msg->data.front();
        Deliver(std::move(msg));
        if (!singleByte)
            continue;
        const uint8_t terminator = m_terminator.load();
        if (terminator != 0 && byte == terminator) {
            m_readMode.store(m_nextReadMode.load());
            m_terminator.store(0);
            break;
        }
        // End of transmission, acknowledgement, refusal, cancel, end of file: a reply is over.
        if (byte == 0x04 || byte == 0x06 || byte == 0x15 || byte == 0x18 || byte == 0x1A)
            break;
    }
    return true;
}

void CSerial::Stamp(CMsg& msg) const {
    msg.time = platform::GetLocalTime();
    msg.address = static_cast<uint32_t>(m_portTag >> 32);
    msg.port = static_cast<int32_t>(m_portTag & 0x0FFFFFFF);
}

void CSerial::Deliver(std::unique_ptr<CMsg> msg) {
    if (!IsRunning() || IsStopRequested() || m_sink == nullptr)
        return;
    Stamp(*msg);
    m_sink->Push(std::move(msg), m_signal);
}

} // namespace qarn
