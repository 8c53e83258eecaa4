#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// The calling process's memory as the kernel lists it, and reads of that memory that cannot
// fault. Both keep to system calls and fixed storage, so a crash handler may use them.

namespace qarn::platform {

struct MemoryMapping {
    uint64_t start = 0;
    uint64_t end = 0;
    uint64_t offset = 0; // file offset of `start`, bytes
    bool readable = false;
    bool writable = false;
    bool executable = false;
    bool shared = false;
    bool noDump = false; // excluded from dumps (MADV_DONTDUMP), or I/O memory that must not be read
    // "/usr/lib/x86_64-linux-gnu/libc.so.6", "[stack]", "[vdso]", or empty for anonymous memory;
    // points into the MemoryMap that loaded it.
    std::string_view path;

    bool IsFile() const { return !path.empty() && path.front() == '/'; }
};

// A fixed-size table (about 1.4 MiB): keep it in static storage, not on a stack.
class MemoryMap {
  public:
    static constexpr size_t kMaxMappings = 8192;

    MemoryMap() = default;
    MemoryMap(const MemoryMap&) = delete;
    MemoryMap& operator=(const MemoryMap&) = delete;

    // Reads /proc/self/smaps, or /proc/self/maps where smaps is missing (then noDump is never
    // set). The mappings come in address order; those past kMaxMappings are left out, and so are
    // paths once the path storage is full. False when neither file can be read.
    bool Load();

    size_t Count() const { return m_count; }
    const MemoryMapping& operator[](size_t index) const { return m_mappings[index]; }

  private:
    void HandleLine(const char* line, const char* end);
    bool ParseMappingLine(const char* p, const char* end, MemoryMapping& m);

    MemoryMapping m_mappings[kMaxMappings];
    size_t m_count = 0;
    char m_paths[512 * 1024] = {};
    size_t m_pathsUsed = 0;
    char m_lines[64 * 1024] = {};
};

// Copies [address, address + size) of the calling process into `out` without faulting, by
// process_vm_readv or, where a sandbox forbids that, /proc/self/mem. Returns the count of bytes
// before the first page that cannot be read (all of them when every page can), or -1 when the
// system offers the process no such way to read its own memory.
//   ReadOwnMemory(buffer, address of a local, 8) -> 8;   ReadOwnMemory(buffer, 0, 8) -> 0
ptrdiff_t ReadOwnMemory(void* out, uint64_t address, size_t size);

} // namespace qarn::platform
