#pragma once

#include "ISimAddressControl.h"

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace qarn::sim {

// Moves converter addresses on the simulated LAN with the system's tools, one short command per
// change (the loop waits for it: address changes are rare next to datagrams).
//   Ip:      `ip addr` in the simulator's own network namespace; the moved or re-added address
//            keeps the interface and prefix length it had. Refused in the machine's own namespace.
//   Testlan: the LAN script's add-address / del-address / move-address subcommands.
class CSimAddressControl : public ISimAddressControl {
  public:
    enum class Mode { Ip, Testlan };

    // A command that has not ended after this long is killed and counts as failed (ms).
    static constexpr int kCommandTimeoutMs = 10000;

    CSimAddressControl(Mode mode, std::string testlanPath);

    bool Move(uint32_t from, uint32_t to, std::string* why) override;
    bool Remove(uint32_t ip, std::string* why) override;
    bool Add(uint32_t ip, std::string* why) override;

    // True when this process's network namespace is not the machine's (that of process 1); false
    // also when it cannot be told.
    static bool InOwnNetNamespace();

    // Runs argv[0] (looked up in PATH, the system folders added) with its output captured; the
    // exit status, or -1 when it could not run, was killed or timed out.
    static int Run(const std::vector<std::string>& argv, std::string* output);

  private:
    struct Place {
        std::string device;
        int prefix = 32;
    };
    bool Locate(uint32_t ip, Place* place, std::string* why) const;
    bool RunOk(const std::vector<std::string>& argv, std::string* why) const;

    Mode m_mode;
    std::string m_testlan;
    std::map<uint32_t, Place> m_removed; // Ip mode: where a restarting converter's address was
};

} // namespace qarn::sim
