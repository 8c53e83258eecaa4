#include "platform/MemoryMap.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

namespace qarn::platform {

namespace {

const uint64_t g_pageSize = static_cast<uint64_t>(sysconf(_SC_PAGESIZE));

bool ParseHex(const char*& p, const char* end, uint64_t& value) {
    value = 0;
    const char* first = p;
    for (; p != end; ++p) {
        const char c = *p;
        const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        if (digit < 0)
            break;
        value = value << 4 | static_cast<uint64_t>(digit);
    }
    return p != first;
}

void SkipField(const char*& p, const char* end) {
    while (p != end && *p == ' ')
        ++p;
    while (p != end && *p != ' ')
        ++p;
}

// "VmFlags: rd wr mr mw me dd": dd = excluded from dumps; io and pf = device memory.
bool FlagsForbidDump(const char* p, const char* end) {
    while (p != end) {
        while (p != end && *p == ' ')
            ++p;
        const char* word = p;
        while (p != end && *p != ' ')
            ++p;
        if (p - word == 2 && (std::memcmp(word, "dd", 2) == 0 || std::memcmp(word, "io", 2) == 0 ||
                              std::memcmp(word, "pf", 2) == 0))
            return true;
    }
    return false;
}

} // namespace

// "7f12a000-7f12c000 rw-p 00001000 fd:01 1234    /usr/lib/libc.so.6"
bool MemoryMap::ParseMappingLine(const char* p, const char* end, MemoryMapping& m) {
    if (!ParseHex(p, end, m.start) || p == end || *p++ != '-' || !ParseHex(p, end, m.end) ||
        end - p < 6 || *p++ != ' ')
        return false;
    m.readable = p[0] == 'r';
    m.writable = p[1] == 'w';
    m.executable = p[2] == 'x';
    m.shared = p[3] == 's';
    p += 4;
    if (*p++ != ' ' || !ParseHex(p, end, m.offset))
        return false;
    SkipField(p, end); // device
    SkipField(p, end); // inode
    while (p != end && *p == ' ')
        ++p;
    const auto length = static_cast<size_t>(end - p);
    if (length > 0 && length + 1 <= sizeof m_paths - m_pathsUsed) {
        char* stored = m_paths + m_pathsUsed;
        std::memcpy(stored, p, length);
        stored[length] = '\0';
        m.path = std::string_view(stored, length);
        m_pathsUsed += length + 1;
    }
    return m.end > m.start;
}

void MemoryMap::HandleLine(const char* line, const char* end) {
    if (line == end)
        return;
    // A mapping starts with its hexadecimal address; smaps's detail lines start with a capital.
    const char first = *line;
    if ((first >= '0' && first <= '9') || (first >= 'a' && first <= 'f')) {
        MemoryMapping m;
        if (m_count < kMaxMappings && ParseMappingLine(line, end, m))
            m_mappings[m_count++] = m;
    } else if (end - line > 8 && std::memcmp(line, "VmFlags:", 8) == 0 && m_count > 0) {
        m_mappings[m_count - 1].noDump = FlagsForbidDump(line + 8, end);
    }
}

bool MemoryMap::Load() {
    m_count = 0;
    m_pathsUsed = 0;
    int fd = open("/proc/self/smaps", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        fd = open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    size_t used = 0;
    for (;;) {
        const ssize_t n = read(fd, m_lines + used, sizeof m_lines - used);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        used += static_cast<size_t>(n);
        size_t begin = 0;
        for (size_t i = 0; i < used; ++i) {
            if (m_lines[i] == '\n') {
                HandleLine(m_lines + begin, m_lines + i);
                begin = i + 1;
            }
        }
        if (begin == 0 && used == sizeof m_lines)
            begin = used; // a line longer than the buffer is no mapping line: drop it
        std::memmove(m_lines, m_lines + begin, used - begin);
        used -= begin;
    }
    close(fd);
    return true;
}

namespace {

enum class Method { VmRead, ProcMem, None };
std::atomic<Method> g_method{Method::VmRead};

// One remote piece per page, so that a short count always ends at a page boundary.
ptrdiff_t ReadWithVmRead(uint8_t* out, uint64_t address, size_t size) {
    constexpr size_t kPiecesPerCall = 16;
    size_t done = 0;
    while (done < size) {
        iovec remote[kPiecesPerCall];
        size_t count = 0;
        size_t batch = 0;
        uint64_t at = address + done;
        while (count < kPiecesPerCall && done + batch < size) {
            const uint64_t pageEnd = (at & ~(g_pageSize - 1)) + g_pageSize;
            const size_t piece =
                static_cast<size_t>(std::min<uint64_t>(size - done - batch, pageEnd - at));
            remote[count].iov_base = reinterpret_cast<void*>(static_cast<uintptr_t>(at));
            remote[count].iov_len = piece;
            ++count;
            at += piece;
            batch += piece;
        }
        iovec local{out + done, batch};
        const ssize_t n = process_vm_readv(getpid(), &local, 1, remote, count, 0);
        if (n < 0)
            return errno == ENOSYS || errno == EPERM ? -1 : static_cast<ptrdiff_t>(done);
        done += static_cast<size_t>(n);
        if (static_cast<size_t>(n) < batch)
            break;
    }
    return static_cast<ptrdiff_t>(done);
}

ptrdiff_t ReadWithProcMem(uint8_t* out, uint64_t address, size_t size) {
    const int fd = open("/proc/self/mem", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    size_t done = 0;
    while (done < size) {
        const ssize_t n = pread(fd, out + done, size - done, static_cast<off_t>(address + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    close(fd);
    return static_cast<ptrdiff_t>(done);
}

} // namespace

ptrdiff_t ReadOwnMemory(void* out, uint64_t address, size_t size) {
    auto* bytes = static_cast<uint8_t*>(out);
    if (g_method.load() == Method::VmRead) {
        const ptrdiff_t n = ReadWithVmRead(bytes, address, size);
        if (n >= 0)
            return n;
        g_method.store(Method::ProcMem); // forbidden here (a sandbox): not worth asking again
    }
    if (g_method.load() == Method::ProcMem) {
        const ptrdiff_t n = ReadWithProcMem(bytes, address, size);
        if (n >= 0)
            return n;
        g_method.store(Method::None);
    }
    return -1;
}

} // namespace qarn::platform
