#include "platform/FileOps.h"
#include "platform/Registry.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <limits.h>
#include <new>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace qarn::platform {

struct RegistryKey {
    enum class Root { None, LocalMachine, CurrentUser };
    Root root = Root::None;
    int fd = -1;         // the key's folder, opened O_RDONLY | O_DIRECTORY; -1 for the roots
    uint32_t access = 0; // rights granted at open; the view flags are ignored
};

namespace {

constinit RegistryKey gLocalMachine{RegistryKey::Root::LocalMachine, -1, kKeyAllAccess};
constinit RegistryKey gCurrentUser{RegistryKey::Root::CurrentUser, -1, kKeyAllAccess};

constexpr const char* kDefaultRoot = "/etc/qarn/registry";
constexpr std::string_view kValueSuffix = ".value";
constexpr mode_t kFolderMode = 0755;
constexpr mode_t kFileMode = 0644;
constexpr int kTempNameAttempts = 16;

class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { Reset(-1); }
    void Reset(int fd) {
        if (m_fd >= 0)
            close(m_fd);
        m_fd = fd;
    }
    int Get() const { return m_fd; }
    int Release() {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }

  private:
    int m_fd = -1;
};

RegStatus FromErrno(int error) {
    switch (error) {
    case ENOENT:
    case ENOTDIR:
    case ELOOP: // a symbolic link where a key folder should be is not a key
        return kRegFileNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
        return kRegAccessDenied;
    case ENAMETOOLONG:
    case EINVAL:
        return kRegInvalidParameter;
    case ENOMEM:
        return kRegOutOfMemory;
    default:
        return kRegIoFailed;
    }
}

bool IsRoot(RegKeyHandle key) {
    return key->root != RegistryKey::Root::None;
}

bool EndsWith(std::string_view text, std::string_view tail) {
    return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

// A file-system name taken from outside text: nothing that walks elsewhere or cuts the name short.
bool IsPlainName(std::string_view name) {
    return !name.empty() && name.size() <= NAME_MAX && name.find('/') == std::string_view::npos &&
           name.find('\0') == std::string_view::npos;
}

bool IsValidKeyPart(std::string_view part) {
    return IsPlainName(part) && part != "." && part != ".." && !EndsWith(part, kValueSuffix);
}

// "SOFTWARE\qarn\Diagnostics" -> {"SOFTWARE", "qarn", "Diagnostics"}; "" -> {}.
RegStatus SplitKeyPath(std::string_view path, std::vector<std::string>& parts) {
    parts.clear();
    if (path.empty())
        return kRegOk;
    size_t start = 0;
    while (true) {
        const size_t end = path.find('\\', start);
        const std::string_view part = path.substr(start, end - start);
        if (!IsValidKeyPart(part))
            return kRegInvalidParameter;
        parts.emplace_back(part);
        if (end == std::string_view::npos)
            return kRegOk;
        start = end + 1;
    }
}

// Value "Configuration" -> file "Configuration.value"; the empty (default) value -> ".value".
RegStatus ValueFileName(std::string_view name, std::string& file) {
    file.assign(name);
    file.append(kValueSuffix);
    return IsPlainName(file) ? kRegOk : kRegInvalidParameter;
}

std::string RootFolder(RegistryKey::Root root) {
    const char* env = std::getenv("QARN_REGISTRY_ROOT");
    const bool hasEnv = env != nullptr && *env != '\0';
    if (root == RegistryKey::Root::LocalMachine)
        return std::string(hasEnv ? env : kDefaultRoot) + "/HKLM";
    if (hasEnv)
        return std::string(env) + "/HKCU";
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config != nullptr && *config == '/')
        return std::string(config) + "/qarn/registry/HKCU";
    const char* home = std::getenv("HOME");
    if (home != nullptr && *home == '/')
        return std::string(home) + "/.config/qarn/registry/HKCU";
    return {};
}

// mkdir -p of `path` ("/tmp/t/HKLM": "/tmp", "/tmp/t", "/tmp/t/HKLM"). The result is the first real
// failure (an existing folder is none), so that a later open can tell "cannot create" from
// "missing".
int MakeFolders(const std::string& path) {
    int failure = 0;
    for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string prefix = path.substr(0, slash);
        if (mkdir(prefix.c_str(), kFolderMode) != 0 && errno != EEXIST && failure == 0)
            failure = errno;
        if (slash == std::string::npos)
            return failure;
    }
}

// The folder of `key`: its own descriptor, or for a root a fresh one kept in `holder`.
RegStatus KeyFolder(RegKeyHandle key, bool create, UniqueFd& holder, int& fd) {
    if (!IsRoot(key)) {
        fd = key->fd;
        return kRegOk;
    }
    const std::string path = RootFolder(key->root);
    if (path.empty())
        return kRegFileNotFound;
    const int makeFailure = create ? MakeFolders(path) : 0;
    holder.Reset(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (holder.Get() < 0)
        return FromErrno(makeFailure != 0 && errno == ENOENT ? makeFailure : errno);
    fd = holder.Get();
    return kRegOk;
}

int OpenSubFolder(int parent, const std::string& part) {
    // O_NOFOLLOW: a symbolic link planted inside the store must not lead out of it.
    return openat(parent, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

RegStatus OpenOrCreate(RegKeyHandle parent, std::string_view subKey, uint32_t access,
                       RegKeyHandle* result, bool create, bool* created) {
    if (result == nullptr)
        return kRegInvalidParameter;
    *result = nullptr;
    if (created != nullptr)
        *created = false;
    if (parent == nullptr)
        return kRegInvalidHandle;
    std::vector<std::string> parts;
    if (const RegStatus status = SplitKeyPath(subKey, parts); status != kRegOk)
        return status;
    UniqueFd holder;
    int base = -1;
    if (const RegStatus status = KeyFolder(parent, create, holder, base); status != kRegOk)
        return status;

    UniqueFd current(fcntl(base, F_DUPFD_CLOEXEC, 0));
    if (current.Get() < 0)
        return FromErrno(errno);
    bool lastCreated = false;
    for (const std::string& part : parts) {
        lastCreated = false;
        if (create) {
            if (mkdirat(current.Get(), part.c_str(), kFolderMode) == 0)
                lastCreated = true;
            else if (errno != EEXIST)
                return FromErrno(errno);
        }
        const int next = OpenSubFolder(current.Get(), part);
        if (next < 0)
            return FromErrno(errno);
        current.Reset(next);
    }
    auto* key = new (std::nothrow) RegistryKey{RegistryKey::Root::None, current.Get(), access};
    if (key == nullptr)
        return kRegOutOfMemory;
    current.Release();
    *result = key;
    if (created != nullptr)
        *created = lastCreated;
    return kRegOk;
}

RegStatus ReadValueFile(int folder, const std::string& file, std::vector<uint8_t>& bytes) {
    // O_NONBLOCK: a FIFO planted as a value file must not hang the reader in open().
    UniqueFd fd(openat(folder, file.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (fd.Get() < 0)
        return errno == ELOOP ? kRegCorrupt : FromErrno(errno);
    struct stat info {};
    if (fstat(fd.Get(), &info) != 0)
        return FromErrno(errno);
    if (!S_ISREG(info.st_mode) || info.st_size < static_cast<off_t>(kRegValueFileHeaderSize) ||
        info.st_size > static_cast<off_t>(kRegValueFileHeaderSize + kRegMaxValueSize))
        return kRegCorrupt;
    bytes.resize(static_cast<size_t>(info.st_size));
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = read(fd.Get(), bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return FromErrno(errno);
        if (n == 0)
            return kRegCorrupt; // shorter than its size said: changed under us
        done += static_cast<size_t>(n);
    }
    return kRegOk;
}

// Temporary names never end in ".value", so they can never be taken for a value.
UniqueFd CreateTempFile(int folder, std::string& name) {
    static std::atomic<uint32_t> counter{0};
    for (int attempt = 0; attempt < kTempNameAttempts; ++attempt) {
        name = ".tmp-" + std::to_string(getpid()) + "-" + std::to_string(counter++);
        const int fd = openat(folder, name.c_str(),
                              O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kFileMode);
        if (fd >= 0 || errno != EEXIST)
            return UniqueFd(fd);
    }
    errno = EEXIST;
    return UniqueFd();
}

RegStatus WriteAtomically(int folder, const std::string& file, const std::vector<uint8_t>& bytes) {
    std::string temp;
    UniqueFd fd = CreateTempFile(folder, temp);
    if (fd.Get() < 0)
        return FromErrno(errno);
    int failure = 0;
    if (!WriteAll(fd.Get(), bytes.data(), bytes.size()) || fsync(fd.Get()) != 0)
        failure = errno != 0 ? errno : EIO;
    if (close(fd.Release()) != 0 && failure == 0)
        failure = errno;
    if (failure == 0 && renameat(folder, temp.c_str(), folder, file.c_str()) != 0)
        failure = errno;
    if (failure != 0) {
        unlinkat(folder, temp.c_str(), 0);
        return FromErrno(failure);
    }
    // Makes the rename itself durable. The new value is already in place and visible, so a file
    // system that cannot flush a folder does not turn the write into a failure.
    fsync(folder);
    return kRegOk;
}

// Where a value lives: its file name inside the key's folder, and a descriptor of that folder
// (held here when the key is a root, whose folder has no descriptor of its own).
struct ValueLocation {
    UniqueFd holder;
    int folder = -1;
    std::string file;
};

// The location of value `name` under `key`, once the key was opened with `access`.
RegStatus LocateValue(RegKeyHandle key, std::string_view name, uint32_t access,
                      ValueLocation& where) {
    if ((key->access & access) == 0)
        return kRegAccessDenied;
    if (const RegStatus status = ValueFileName(name, where.file); status != kRegOk)
        return status;
    return KeyFolder(key, false, where.holder, where.folder);
}

RegStatus QueryValue(RegKeyHandle key, std::string_view name, uint32_t* type, uint8_t* data,
                     uint32_t* size) {
    if (key == nullptr)
        return kRegInvalidHandle;
    if (data != nullptr && size == nullptr)
        return kRegInvalidParameter;
    ValueLocation where;
    if (const RegStatus status = LocateValue(key, name, kKeyQueryValue, where); status != kRegOk)
        return status;
    std::vector<uint8_t> bytes;
    if (const RegStatus status = ReadValueFile(where.folder, where.file, bytes); status != kRegOk)
        return status;
    uint32_t valueType = 0;
    std::span<const uint8_t> value;
    if (const RegStatus status = DecodeRegistryValueFile(bytes, valueType, value); status != kRegOk)
        return status;

    if (type != nullptr)
        *type = valueType;
    const auto valueSize = static_cast<uint32_t>(value.size());
    if (data != nullptr && *size < valueSize) {
        *size = valueSize;
        return kRegMoreData;
    }
    if (data != nullptr && valueSize != 0)
        std::copy(value.begin(), value.end(), data);
    if (size != nullptr)
        *size = valueSize;
    return kRegOk;
}

RegStatus SetValue(RegKeyHandle key, std::string_view name, uint32_t type, const uint8_t* data,
                   uint32_t size) {
    if (key == nullptr)
        return kRegInvalidHandle;
    if (size > kRegMaxValueSize || (data == nullptr && size != 0))
        return kRegInvalidParameter;
    ValueLocation where;
    if (const RegStatus status = LocateValue(key, name, kKeySetValue, where); status != kRegOk)
        return status;
    const std::span<const uint8_t> bytes(data, data == nullptr ? 0 : size);
    return WriteAtomically(where.folder, where.file, EncodeRegistryValueFile(type, bytes));
}

RegStatus DeleteValue(RegKeyHandle key, std::string_view name) {
    if (key == nullptr)
        return kRegInvalidHandle;
    ValueLocation where;
    if (const RegStatus status = LocateValue(key, name, kKeySetValue, where); status != kRegOk)
        return status;
    if (unlinkat(where.folder, where.file.c_str(), 0) != 0)
        return FromErrno(errno);
    fsync(where.folder); // as after a write: the value is gone either way
    return kRegOk;
}

// Runs `call`, turning an allocation failure (paths, value buffers) into kRegOutOfMemory so that
// no exception escapes the public calls.
template <typename Call>
RegStatus OutOfMemoryAsStatus(Call&& call) {
    try {
        return call();
    } catch (const std::bad_alloc&) {
        return kRegOutOfMemory;
    }
}

} // namespace

RegistryKey* const kHKeyLocalMachine = &gLocalMachine;
RegistryKey* const kHKeyCurrentUser = &gCurrentUser;

RegStatus RegistryOpenKey(RegKeyHandle parent, std::string_view subKey, uint32_t access,
                          RegKeyHandle* result) {
    return OutOfMemoryAsStatus(
        [&] { return OpenOrCreate(parent, subKey, access, result, false, nullptr); });
}

RegStatus RegistryCreateKey(RegKeyHandle parent, std::string_view subKey, uint32_t access,
                            RegKeyHandle* result, bool* created) {
    return OutOfMemoryAsStatus(
        [&] { return OpenOrCreate(parent, subKey, access, result, true, created); });
}

RegStatus RegistryQueryValue(RegKeyHandle key, std::string_view name, uint32_t* type, uint8_t* data,
                             uint32_t* size) {
    return OutOfMemoryAsStatus([&] { return QueryValue(key, name, type, data, size); });
}

RegStatus RegistrySetValue(RegKeyHandle key, std::string_view name, uint32_t type,
                           const uint8_t* data, uint32_t size) {
    return OutOfMemoryAsStatus([&] { return SetValue(key, name, type, data, size); });
}

RegStatus RegistryDeleteValue(RegKeyHandle key, std::string_view name) {
    return OutOfMemoryAsStatus([&] { return DeleteValue(key, name); });
}

RegStatus RegistryCloseKey(RegKeyHandle key) {
    if (key == nullptr)
        return kRegInvalidHandle;
    if (IsRoot(key))
        return kRegOk;
    const int fd = key->fd;
    delete key;
    // Linux releases the descriptor even when close reports an error, so the handle is gone.
    return close(fd) == 0 ? kRegOk : kRegIoFailed;
}

} // namespace qarn::platform
