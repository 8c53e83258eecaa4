#include "platform/CoreDump.h"
#include "platform/FileOps.h"
#include "platform/MemoryMap.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <ucontext.h>
#include <unistd.h>
#if defined(__x86_64__)
#include <asm/prctl.h>
#endif

// File layout: ELF header, program headers (one PT_NOTE, then one PT_LOAD per piece of memory in
// address order), the notes, then from the next page boundary the contents of the pieces that
// carry bytes, each page-aligned. Pieces without bytes (p_filesz 0) still tell gdb the range
// exists; for file-backed ones it reads the bytes from the file the NT_FILE note names.

namespace qarn::platform {

namespace {

const uint64_t g_pageSize = static_cast<uint64_t>(sysconf(_SC_PAGESIZE));

uint64_t PageDown(uint64_t value) {
    return value & ~(g_pageSize - 1);
}
uint64_t PageUp(uint64_t value) {
    return PageDown(value + g_pageSize - 1);
}
uint64_t Align4(uint64_t value) {
    return (value + 3) & ~uint64_t{3};
}

MemoryMap g_map;

// Reads a small /proc file (auxv, comm, cmdline) into `out`; the byte count, 0 on failure.
size_t ReadSmallFile(const char* path, uint8_t* out, size_t capacity) {
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    size_t used = 0;
    while (used < capacity) {
        const ssize_t n = read(fd, out + used, capacity - used);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        used += static_cast<size_t>(n);
    }
    close(fd);
    return used;
}

bool ReadPointer(uint64_t address, uint64_t& value) {
    uintptr_t word = 0;
    if (ReadOwnMemory(&word, address, sizeof word) != static_cast<ptrdiff_t>(sizeof word))
        return false;
    value = word;
    return true;
}

// ---- Page ranges that a thread-and-modules dump carries besides whole mappings.

struct Range {
    uint64_t start;
    uint64_t end;
};

constexpr size_t kMaxRanges = 2048;
Range g_ranges[kMaxRanges];
size_t g_rangeCount = 0;

void AddRange(uint64_t start, uint64_t end) {
    if (end > start && g_rangeCount < kMaxRanges)
        g_ranges[g_rangeCount++] = Range{PageDown(start), PageUp(end)};
}

void SortAndMergeRanges() {
    for (size_t i = 1; i < g_rangeCount; ++i) {
        const Range moving = g_ranges[i];
        size_t j = i;
        for (; j > 0 && g_ranges[j - 1].start > moving.start; --j)
            g_ranges[j] = g_ranges[j - 1];
        g_ranges[j] = moving;
    }
    size_t kept = 0;
    for (size_t i = 0; i < g_rangeCount; ++i) {
        if (kept > 0 && g_ranges[i].start <= g_ranges[kept - 1].end)
            g_ranges[kept - 1].end = std::max(g_ranges[kept - 1].end, g_ranges[i].end);
        else
            g_ranges[kept++] = g_ranges[i];
    }
    g_rangeCount = kept;
}

// The live part of the faulting thread's stack: from just below its stack pointer (the 128-byte
// red zone) to the top of its mapping. After a stack overflow the pointer lies in the guard below
// the stack; then the readable mapping just above it is the stack, taken whole.
void AddStackRange(uint64_t stackPointer) {
    constexpr uint64_t kRedZone = 128;
    constexpr uint64_t kOverflowReach = 1 << 20;
    const uint64_t low = stackPointer > kRedZone ? stackPointer - kRedZone : 0;
    for (size_t i = 0; i < g_map.Count(); ++i) {
        const MemoryMapping& m = g_map[i];
        if (!m.readable || m.end <= low)
            continue;
        if (m.start <= low)
            AddRange(low, m.end);
        else if (m.start - low <= kOverflowReach)
            AddRange(m.start, m.end);
        return;
    }
}

void AddTextRange(uint64_t address) {
    constexpr uint64_t kLongest = 4096;
    uint8_t chunk[256];
    uint64_t at = address;
    while (at - address < kLongest) {
        const ptrdiff_t n = std::max<ptrdiff_t>(ReadOwnMemory(chunk, at, sizeof chunk), 0);
        const auto* nul =
            static_cast<const uint8_t*>(std::memchr(chunk, 0, static_cast<size_t>(n)));
        if (nul != nullptr) {
            AddRange(address, at + static_cast<uint64_t>(nul - chunk) + 1);
            return;
        }
        at += static_cast<uint64_t>(n);
        if (n < static_cast<ptrdiff_t>(sizeof chunk))
            break;
    }
    AddRange(address, at);
}

void AddDynamicSectionRange(uint64_t address) {
    constexpr size_t kMostEntries = 1024;
    for (size_t k = 0; k < kMostEntries; ++k) {
        uint64_t tag = 0;
        const uint64_t entry = address + k * sizeof(ElfW(Dyn));
        if (!ReadPointer(entry + offsetof(ElfW(Dyn), d_tag), tag) || tag == DT_NULL) {
            AddRange(address, entry + sizeof(ElfW(Dyn)));
            return;
        }
    }
}

// gdb finds the loaded libraries through the dynamic loader's list: the executable's dynamic
// section (DT_DEBUG) -> r_debug -> link_map entries with their names and dynamic sections. That
// memory is not otherwise part of a thread-and-modules dump (without it gdb cannot unwind through
// the C library, as from abort()), so the list is walked here and its few pages added.
void AddModuleListRanges() {
    uint64_t debug = reinterpret_cast<uintptr_t>(&_r_debug);
    for (int space = 0; space < 16 && debug != 0; ++space) {
        // r_debug_extended (version 2): the classic r_debug, then the next namespace's r_debug.
        const uint64_t nextSpaceField = sizeof(struct r_debug);
        AddRange(debug, debug + nextSpaceField + sizeof(void*));
        int version = 0;
        ReadOwnMemory(&version, debug + offsetof(struct r_debug, r_version), sizeof version);
        uint64_t entry = 0;
        ReadPointer(debug + offsetof(struct r_debug, r_map), entry);
        for (int k = 0; k < 4096 && entry != 0; ++k) {
            AddRange(entry, entry + sizeof(struct link_map));
            uint64_t name = 0;
            uint64_t dynamic = 0;
            if (ReadPointer(entry + offsetof(struct link_map, l_name), name) && name != 0)
                AddTextRange(name);
            if (ReadPointer(entry + offsetof(struct link_map, l_ld), dynamic) && dynamic != 0)
                AddDynamicSectionRange(dynamic);
            if (!ReadPointer(entry + offsetof(struct link_map, l_next), entry))
                break;
        }
        if (version < 2 || !ReadPointer(debug + nextSpaceField, debug))
            break;
    }
}

// ---- Which parts of which mappings go into the file.

enum class Coverage {
    Omit,   // no segment at all
    Layout, // a segment without bytes
    Whole,  // a segment with the mapping's bytes
    Parts,  // the extra ranges inside it with bytes, the rest without
};

Coverage CoverageOf(const MemoryMapping& m, CoreDumpKind kind) {
    // [vvar] pages can fault even though readable; [vsyscall] lies outside the user address space.
    if (m.path.starts_with("[vvar") || m.path == "[vsyscall]")
        return Coverage::Omit;
    if (!m.readable || m.noDump)
        return Coverage::Layout;
    if (kind == CoreDumpKind::AllMemory) {
        const bool device = m.path.starts_with("/dev/") && !m.path.starts_with("/dev/zero") &&
                            !m.path.starts_with("/dev/shm/");
        return device ? Coverage::Layout : Coverage::Whole;
    }
    if (m.path == "[vdso]" || (m.IsFile() && m.writable && !m.shared))
        return Coverage::Whole;
    return Coverage::Parts;
}

struct Piece {
    uint64_t start;
    uint64_t end;
    uint32_t flags; // PF_R | PF_W | PF_X
    bool withData;
};

// Calls visit(piece) for each segment in address order; the same sequence on every call.
template <class Visit>
void ForEachPiece(CoreDumpKind kind, Visit&& visit) {
    size_t next = 0; // first extra range that does not end below the current mapping
    for (size_t i = 0; i < g_map.Count(); ++i) {
        const MemoryMapping& m = g_map[i];
        const Coverage coverage = CoverageOf(m, kind);
        if (coverage == Coverage::Omit)
            continue;
        const uint32_t flags =
            (m.readable ? PF_R : 0u) | (m.writable ? PF_W : 0u) | (m.executable ? PF_X : 0u);
        if (coverage != Coverage::Parts) {
            visit(Piece{m.start, m.end, flags, coverage == Coverage::Whole});
            continue;
        }
        while (next < g_rangeCount && g_ranges[next].end <= m.start)
            ++next;
        uint64_t at = m.start;
        for (size_t j = next; j < g_rangeCount && g_ranges[j].start < m.end; ++j) {
            const uint64_t from = std::max(g_ranges[j].start, m.start);
            const uint64_t to = std::min(g_ranges[j].end, m.end);
            if (from > at)
                visit(Piece{at, from, flags, false});
            visit(Piece{from, to, flags, true});
            at = to;
        }
        if (at < m.end)
            visit(Piece{at, m.end, flags, false});
    }
}

// At most the mappings plus two cuts per extra range: below the 65535 program headers an ELF
// header counts without the extended numbering.
static_assert(1 + MemoryMap::kMaxMappings + 2 * kMaxRanges < 0xFFFF);

// ---- Buffered output in file order; fields little-endian, byte by byte.

class Sink {
  public:
    void Start(int fd) {
        m_fd = fd;
        m_flushed = 0;
        m_used = 0;
        m_ok = true;
    }
    void Put8(uint64_t value) {
        if (m_used == sizeof m_buffer)
            Flush();
        m_buffer[m_used++] = static_cast<uint8_t>(value);
    }
    void Put16(uint64_t value) { PutLe(value, 2); }
    void Put32(uint64_t value) { PutLe(value, 4); }
    void Put64(uint64_t value) { PutLe(value, 8); }
    void PutBytes(const void* data, size_t size) {
        for (size_t i = 0; i < size; ++i)
            Put8(static_cast<const uint8_t*>(data)[i]);
    }
    void PutZeros(size_t count) {
        for (size_t i = 0; i < count; ++i)
            Put8(0);
    }
    void PadTo4() { PutZeros(Align4(Position()) - Position()); }
    uint64_t Position() const { return m_flushed + m_used; }
    bool Flush() {
        if (m_ok && m_used > 0)
            m_ok = WriteAllAt(m_fd, m_buffer, m_used, m_flushed);
        m_flushed += m_used;
        m_used = 0;
        return m_ok;
    }

  private:
    void PutLe(uint64_t value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            Put8(value >> (8 * i));
    }

    int m_fd = -1;
    uint64_t m_flushed = 0;
    size_t m_used = 0;
    bool m_ok = true;
    uint8_t m_buffer[16 * 1024] = {};
};

Sink g_sink;

// ---- What only the machine decides: the ELF machine and the register notes.

#if defined(__x86_64__)
constexpr bool kArchitectureSupported = true;
constexpr uint16_t kElfMachine = EM_X86_64;
constexpr size_t kFpImageSize = 512; // the FXSAVE image: x87, SSE and MXCSR state

uint64_t StackPointer(const ucontext_t& uc) {
    return static_cast<uint64_t>(uc.uc_mcontext.gregs[REG_RSP]);
}

const void* FpImage(const ucontext_t& uc) {
    return uc.uc_mcontext.fpregs;
}

// The kernel's user_regs_struct (27 words) from the registers the signal saved.
void PutGeneralRegisters(const ucontext_t& uc) {
    const greg_t* g = uc.uc_mcontext.gregs;
    const auto reg = [g](int index) { return static_cast<uint64_t>(g[index]); };
    const uint64_t selectors = reg(REG_CSGSFS); // cs, gs, fs, ss: 16 bits each from the bottom
    const uint64_t cs = (selectors & 0xFFFF) != 0 ? selectors & 0xFFFF : 0x33;
    const uint64_t ss = (selectors >> 48) != 0 ? selectors >> 48 : 0x2B; // 64-bit user selectors
    const uint64_t fs = selectors >> 32 & 0xFFFF;
    const uint64_t gs = selectors >> 16 & 0xFFFF;
    unsigned long fsBase = 0;
    unsigned long gsBase = 0;
    syscall(SYS_arch_prctl, ARCH_GET_FS, &fsBase);
    syscall(SYS_arch_prctl, ARCH_GET_GS, &gsBase);
    // r15 .. rdi in the kernel's order, then orig_rax, rip, cs, eflags, rsp, ss, the two bases
    // and ds, es, fs, gs.
    for (const int index : {REG_R15, REG_R14, REG_R13, REG_R12, REG_RBP, REG_RBX, REG_R11, REG_R10,
                            REG_R9, REG_R8, REG_RAX, REG_RCX, REG_RDX, REG_RSI, REG_RDI})
        g_sink.Put64(reg(index));
    const uint64_t notInSystemCall = UINT64_MAX;
    for (const uint64_t word :
         {notInSystemCall, reg(REG_RIP), cs, reg(REG_EFL), reg(REG_RSP), ss, uint64_t{fsBase},
          uint64_t{gsBase}, uint64_t{0}, uint64_t{0}, fs, gs})
        g_sink.Put64(word);
}
#else
constexpr bool kArchitectureSupported = false;
constexpr uint16_t kElfMachine = EM_NONE;
constexpr size_t kFpImageSize = 0;
uint64_t StackPointer(const ucontext_t&) {
    return 0;
}
const void* FpImage(const ucontext_t&) {
    return nullptr;
}
void PutGeneralRegisters(const ucontext_t&) {}
#endif

// ---- The notes.

constexpr size_t kPrStatusSize = 112 + 27 * 8 + 8; // header fields, registers, fp flag
constexpr size_t kPrPsInfoSize = 136;
constexpr size_t kSigInfoSize = 128;
constexpr uint64_t kNoteHeaderSize = 12 + 8; // three words, then "CORE", its NUL and padding

uint8_t g_auxv[4096];
size_t g_auxvSize = 0;
uint8_t g_command[16];   // the process's short name, NUL-padded
uint8_t g_arguments[80]; // its command line, arguments separated by blanks

uint64_t NoteSize(uint64_t descriptionSize) {
    return kNoteHeaderSize + Align4(descriptionSize);
}

void PutNoteHeader(uint32_t type, uint64_t descriptionSize) {
    g_sink.Put32(5);
    g_sink.Put32(descriptionSize);
    g_sink.Put32(type);
    g_sink.PutBytes("CORE\0\0\0", 8);
}

// The module list: every mapped file with its range and the page-unit file offset of its start.
uint64_t FileNoteSize(uint64_t& count) {
    count = 0;
    uint64_t names = 0;
    for (size_t i = 0; i < g_map.Count(); ++i) {
        if (g_map[i].IsFile()) {
            ++count;
            names += g_map[i].path.size() + 1;
        }
    }
    return 16 + 24 * count + names;
}

void PutFileNote() {
    uint64_t count = 0;
    PutNoteHeader(NT_FILE, FileNoteSize(count));
    g_sink.Put64(count);
    g_sink.Put64(g_pageSize);
    for (size_t i = 0; i < g_map.Count(); ++i) {
        const MemoryMapping& m = g_map[i];
        if (!m.IsFile())
            continue;
        g_sink.Put64(m.start);
        g_sink.Put64(m.end);
        g_sink.Put64(m.offset / g_pageSize);
    }
    for (size_t i = 0; i < g_map.Count(); ++i) {
        if (!g_map[i].IsFile())
            continue;
        g_sink.PutBytes(g_map[i].path.data(), g_map[i].path.size());
        g_sink.Put8(0);
    }
    g_sink.PadTo4();
}

uint64_t SignalMask(const ucontext_t& uc) {
    uint64_t mask = 0;
    for (int s = 1; s <= 64; ++s)
        if (sigismember(&uc.uc_sigmask, s) == 1)
            mask |= uint64_t{1} << (s - 1);
    return mask;
}

void PutProcessStatus(const CrashContext& context, const ucontext_t& uc, bool fpValid) {
    const auto* info = static_cast<const siginfo_t*>(context.signalInfo);
    PutNoteHeader(NT_PRSTATUS, kPrStatusSize);
    g_sink.Put32(static_cast<uint32_t>(context.signal));
    g_sink.Put32(static_cast<uint32_t>(info != nullptr ? info->si_code : 0));
    g_sink.Put32(static_cast<uint32_t>(info != nullptr ? info->si_errno : 0));
    g_sink.Put16(static_cast<uint16_t>(context.signal)); // the signal being handled
    g_sink.Put16(0);
    g_sink.Put64(0);              // pending signals
    g_sink.Put64(SignalMask(uc)); // blocked signals
    g_sink.Put32(static_cast<uint32_t>(syscall(SYS_gettid)));
    g_sink.Put32(static_cast<uint32_t>(getppid()));
    g_sink.Put32(static_cast<uint32_t>(getpgrp()));
    g_sink.Put32(static_cast<uint32_t>(getsid(0)));
    g_sink.PutZeros(4 * 16); // user, system and children's times: not kept
    PutGeneralRegisters(uc);
    g_sink.Put32(fpValid ? 1 : 0);
    g_sink.Put32(0);
}

void PutProcessInfo() {
    PutNoteHeader(NT_PRPSINFO, kPrPsInfoSize);
    g_sink.Put8(0);   // state: running
    g_sink.Put8('R'); // its letter
    g_sink.Put8(0);   // zombie
    g_sink.Put8(0);   // nice
    g_sink.Put32(0);
    g_sink.Put64(0); // flags
    g_sink.Put32(getuid());
    g_sink.Put32(getgid());
    g_sink.Put32(static_cast<uint32_t>(getpid()));
    g_sink.Put32(static_cast<uint32_t>(getppid()));
    g_sink.Put32(static_cast<uint32_t>(getpgrp()));
    g_sink.Put32(static_cast<uint32_t>(getsid(0)));
    g_sink.PutBytes(g_command, sizeof g_command);
    g_sink.PutBytes(g_arguments, sizeof g_arguments);
}

// The kernel's siginfo layout: number, errno, code, then the fault address (a signal the kernel
// raised for a fault, code > 0) or the sending process and user (code <= 0).
void PutSignalInfo(const CrashContext& context) {
    const auto* info = static_cast<const siginfo_t*>(context.signalInfo);
    PutNoteHeader(NT_SIGINFO, kSigInfoSize);
    g_sink.Put32(static_cast<uint32_t>(context.signal));
    g_sink.Put32(static_cast<uint32_t>(info != nullptr ? info->si_errno : 0));
    g_sink.Put32(static_cast<uint32_t>(info != nullptr ? info->si_code : 0));
    g_sink.Put32(0);
    size_t used = 16;
    if (info != nullptr && info->si_code > 0 && context.signal != SIGABRT) {
        g_sink.Put64(reinterpret_cast<uintptr_t>(info->si_addr));
        used += 8;
    } else if (info != nullptr && info->si_code <= 0) {
        g_sink.Put32(static_cast<uint32_t>(info->si_pid));
        g_sink.Put32(info->si_uid);
        used += 8;
    }
    g_sink.PutZeros(kSigInfoSize - used);
}

uint64_t NotesSize(const void* fpImage) {
    uint64_t fileCount = 0;
    return NoteSize(kPrStatusSize) + NoteSize(kPrPsInfoSize) + NoteSize(kSigInfoSize) +
           (g_auxvSize > 0 ? NoteSize(g_auxvSize) : 0) + NoteSize(FileNoteSize(fileCount)) +
           (fpImage != nullptr ? NoteSize(kFpImageSize) : 0);
}

void PutNotes(const CrashContext& context, const ucontext_t& uc) {
    const void* fpImage = FpImage(uc);
    PutProcessStatus(context, uc, fpImage != nullptr);
    PutProcessInfo();
    PutSignalInfo(context);
    if (g_auxvSize > 0) {
        PutNoteHeader(NT_AUXV, g_auxvSize);
        g_sink.PutBytes(g_auxv, g_auxvSize);
        g_sink.PadTo4();
    }
    PutFileNote();
    if (fpImage != nullptr) {
        PutNoteHeader(NT_PRFPREG, kFpImageSize);
        g_sink.PutBytes(fpImage, kFpImageSize); // the processor's own save image, as it is
    }
}

void ReadProcessNames() {
    std::memset(g_command, 0, sizeof g_command);
    std::memset(g_arguments, 0, sizeof g_arguments);
    size_t n = ReadSmallFile("/proc/self/comm", g_command, sizeof g_command - 1);
    if (n > 0 && g_command[n - 1] == '\n')
        g_command[n - 1] = 0;
    n = ReadSmallFile("/proc/self/cmdline", g_arguments, sizeof g_arguments - 1);
    for (size_t i = 0; i + 1 < n; ++i)
        g_arguments[i] = g_arguments[i] == 0 ? ' ' : g_arguments[i];
}

// ---- Headers and contents.

constexpr uint64_t kElfHeaderSize = 64;
constexpr uint64_t kProgramHeaderSize = 56;

void PutElfHeader(uint64_t programHeaders) {
    g_sink.PutBytes(ELFMAG, SELFMAG);
    g_sink.Put8(ELFCLASS64);
    g_sink.Put8(ELFDATA2LSB);
    g_sink.Put8(EV_CURRENT);
    g_sink.Put8(ELFOSABI_NONE);
    g_sink.PutZeros(EI_NIDENT - 8);
    g_sink.Put16(ET_CORE);
    g_sink.Put16(kElfMachine);
    g_sink.Put32(EV_CURRENT);
    g_sink.Put64(0);              // entry
    g_sink.Put64(kElfHeaderSize); // the program headers follow at once
    g_sink.Put64(0);              // no section headers
    g_sink.Put32(0);              // flags
    g_sink.Put16(kElfHeaderSize);
    g_sink.Put16(kProgramHeaderSize);
    g_sink.Put16(programHeaders);
    g_sink.PutZeros(3 * 2); // section header size, count, name table index
}

void PutProgramHeader(uint32_t type, uint32_t flags, uint64_t offset, uint64_t address,
                      uint64_t fileSize, uint64_t memorySize, uint64_t alignment) {
    g_sink.Put32(type);
    g_sink.Put32(flags);
    g_sink.Put64(offset);
    g_sink.Put64(address);
    g_sink.Put64(0); // physical address
    g_sink.Put64(fileSize);
    g_sink.Put64(memorySize);
    g_sink.Put64(alignment);
}

// Writes the `size` bytes of memory at `address` to `offset`. Pages of zeros are skipped (a hole
// of a sparse file reads as zeros), and so are pages that cannot be read.
bool CopyMemory(int fd, uint64_t address, uint64_t size, uint64_t offset) {
    constexpr size_t kChunk = 64 * 1024;
    alignas(8) static uint8_t chunk[kChunk];
    uint64_t done = 0;
    while (done < size) {
        const auto want = static_cast<size_t>(std::min<uint64_t>(size - done, kChunk));
        const ptrdiff_t got = ReadOwnMemory(chunk, address + done, want);
        if (got < 0) {
            // No safe way to read: write() straight from memory reports EFAULT, never faults.
            const auto* page =
                reinterpret_cast<const void*>(static_cast<uintptr_t>(address + done));
            if (pwrite(fd, page, g_pageSize, static_cast<off_t>(offset + done)) < 0 &&
                errno != EFAULT)
                return false;
            done += g_pageSize;
            continue;
        }
        const auto read = static_cast<size_t>(got);
        for (size_t page = 0; page < read; page += g_pageSize) {
            const size_t length = std::min<size_t>(g_pageSize, read - page);
            const bool zeros =
                chunk[page] == 0 && std::memcmp(chunk + page, chunk + page + 1, length - 1) == 0;
            if (!zeros && !WriteAllAt(fd, chunk + page, length, offset + done + page))
                return false;
        }
        done += read;
        if (read < want)
            done += g_pageSize; // the unreadable page stays a hole
    }
    return true;
}

} // namespace

bool WriteCoreDump(int fd, CoreDumpKind kind, const CrashContext& context) {
    if (!kArchitectureSupported || fd < 0 || context.machineContext == nullptr)
        return false;
    const auto& uc = *static_cast<const ucontext_t*>(context.machineContext);
    g_map.Load();
    g_auxvSize = ReadSmallFile("/proc/self/auxv", g_auxv, sizeof g_auxv);
    ReadProcessNames();
    g_rangeCount = 0;
    if (kind == CoreDumpKind::ThreadAndModules) {
        AddStackRange(StackPointer(uc));
        AddModuleListRanges();
    }
    SortAndMergeRanges();

    uint64_t pieces = 0;
    ForEachPiece(kind, [&pieces](const Piece&) { ++pieces; });
    const uint64_t notesOffset = kElfHeaderSize + (1 + pieces) * kProgramHeaderSize;
    const uint64_t notesSize = NotesSize(FpImage(uc));
    const uint64_t dataOffset = PageUp(notesOffset + notesSize);

    g_sink.Start(fd);
    PutElfHeader(1 + pieces);
    PutProgramHeader(PT_NOTE, 0, notesOffset, 0, notesSize, 0, 4);
    uint64_t end = dataOffset;
    ForEachPiece(kind, [&end](const Piece& p) {
        const uint64_t size = p.end - p.start;
        PutProgramHeader(PT_LOAD, p.flags, end, p.start, p.withData ? size : 0, size, g_pageSize);
        end += p.withData ? size : 0;
    });
    PutNotes(context, uc);
    bool ok = g_sink.Position() == notesOffset + notesSize && g_sink.Flush();

    uint64_t at = dataOffset;
    ForEachPiece(kind, [fd, &at, &ok](const Piece& p) {
        if (!p.withData)
            return;
        ok = ok && CopyMemory(fd, p.start, p.end - p.start, at);
        at += p.end - p.start;
    });
    return ftruncate(fd, static_cast<off_t>(end)) == 0 && ok;
}

bool WriteCoreDumpFile(const char* path, CoreDumpKind kind, const CrashContext& context) {
    const int fd =
        open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, S_IRUSR | S_IWUSR);
    if (fd < 0)
        return false;
    const bool written = WriteCoreDump(fd, kind, context);
    return close(fd) == 0 && written;
}

} // namespace qarn::platform
