#include "cli/CtlMain.h"

#include "firmware/EmbeddedImages.h"
#include "support/NetLab.h"
#include "support/TempDir.h"

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace qarn::cli {
namespace {

struct CtlRun {
    int status;
    std::string out;
    std::string err;
};

CtlRun Ctl(std::vector<std::string> args) {
    args.insert(args.begin(), "qarn-converter-ctl");
    std::vector<const char*> argv;
    for (const auto& arg : args)
        argv.push_back(arg.c_str());
    std::ostringstream out, err;
    const int status = RunCtl(static_cast<int>(argv.size()), argv.data(), out, err);
    return {status, out.str(), err.str()};
}

size_t Lines(const std::string& text) {
    return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
}

class CtlMainTest : public ::testing::Test {
  protected:
    test::TempDir m_temp{"qarn-cli-main"};
    test::ScopedRegistryRoot m_store{m_temp};
};

TEST_F(CtlMainTest, HelpOnEveryVerbSucceeds) {
    const std::vector<std::vector<std::string>> cases = {
        {"--help"},
        {"diagnostics", "--help"},
        {"diagnostics", "show", "--help"},
        {"diagnostics", "set", "--help"},
        {"diagnostics", "clear", "--help"},
        {"discover", "--help"},
        {"show", "--help"},
        {"write", "--help"},
        {"flash", "--help"},
    };
    for (const auto& args : cases) {
        SCOPED_TRACE(args.back() + " after " + args.front());
        const CtlRun run = Ctl(args);
        EXPECT_EQ(run.status, 0);
        EXPECT_NE(run.out.find("Usage:"), std::string::npos) << run.out;
        EXPECT_EQ(run.err, "");
    }
    EXPECT_NE(Ctl({"diagnostics", "set", "--help"}).out.find("--log-level"), std::string::npos);
}

TEST_F(CtlMainTest, WrongUsageGivesStatusTwoAndOneLine) {
    const struct {
        const char* name;
        std::vector<std::string> args;
    } cases[] = {
        {"no verb", {}},
        {"unknown verb", {"frobnicate"}},
        {"group without verb", {"diagnostics"}},
        {"unknown option", {"diagnostics", "show", "--colour"}},
        {"not a number", {"diagnostics", "set", "--log-level", "four"}},
        {"option without value", {"diagnostics", "set", "--log-folder"}},
        {"nothing to set", {"diagnostics", "set"}},
        {"port out of range", {"--port", "70000", "diagnostics", "show"}},
        {"two output forms", {"discover", "--json", "--csv"}},
        {"no time", {"discover", "--time", "0"}},
        {"show without target", {"show"}},
        {"target neither IP nor MAC", {"show", "converter-7"}},
        {"bad write target", {"write", "00:20:4a:90", "--ip", "198.18.9.9"}},
        {"write without settings", {"write", "198.18.1.7"}},
        {"flash without target", {"flash"}},
        {"bad flash target", {"flash", "converter-7", "--allow-placeholder-images"}},
        {"flash on another port", {"--port", "5000", "flash", "198.18.1.7"}},
        {"targets and --all", {"flash", "198.18.1.7", "--all"}},
        {"kind without --all", {"flash", "198.18.1.7", "198.18.1.8", "--kind", "standard"}},
        {"unknown kind", {"flash", "--all", "--kind", "legacy"}},
        {"service for several",
         {"flash", "198.18.1.7", "198.18.1.8", "--via-service", "--allow-placeholder-images"}},
        {"bad target among several", {"flash", "198.18.1.7", "converter-8"}},
        {"no parallel transfer", {"flash", "--all", "--parallel", "0"}},
        {"fleet on another port", {"--port", "5000", "flash", "--all"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const CtlRun run = Ctl(c.args);
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(Lines(run.err), 1u) << run.err;
        EXPECT_EQ(run.err.rfind("qarn-converter-ctl: ", 0), 0u) << run.err;
        EXPECT_EQ(run.out, "");
    }
}

// A time that is no number, not finite or beyond a day: refused before anything is sent (it used
// to end at once with an empty list, or wait for ever). In a namespace of the test's own, so that
// a regression cannot broadcast into the machine's network.
TEST_F(CtlMainTest, TimeMustBeAFiniteNumberOfSecondsUpToADay) {
    QARN_REQUIRE_NETLAB();
    const char* refused[] = {"nan",  "-nan",    "inf", "1e16", "1e300",
                             "1e13", "86400.5", "-3",  "0",    "3s"};
    for (const char* time : refused) {
        for (const std::vector<std::string>& verb : {std::vector<std::string>{"discover"},
                                                     {"show", "198.18.1.7"},
                                                     {"write", "198.18.1.7", "--letter", "Z"},
                                                     {"flash", "198.18.1.7"}}) {
            SCOPED_TRACE(verb[0] + " --time " + time);
            std::vector<std::string> args = verb;
            args.insert(args.end(), {"--time", time});
            const CtlRun run = Ctl(args);
            EXPECT_EQ(run.status, 2);
            EXPECT_EQ(Lines(run.err), 1u) << run.err;
            EXPECT_NE(run.err.find("--time"), std::string::npos) << run.err;
            EXPECT_EQ(run.out, "");
        }
    }
    // A short time passes the command line (and then finds nothing on this empty network).
    EXPECT_EQ(Ctl({"discover", "--time", "0.001"}).status, 0);
}

TEST_F(CtlMainTest, RefusedSettingGivesStatusOneAndItsReason) {
    const CtlRun run = Ctl(
        {"diagnostics", "set", "--log-level", "3", "--log-folder", (m_temp / "missing").string()});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(Lines(run.err), 1u);
    EXPECT_NE(run.err.find("does not exist"), std::string::npos) << run.err;
    EXPECT_EQ(Ctl({"diagnostics", "show"}).out, "not set (logging and crash dumps off)\n");
}

// Refused before anything goes on the network: a real converter would get random bytes.
TEST_F(CtlMainTest, FlashRefusesPlaceholderImagesWithoutTheFlag) {
    if (!EmbeddedImagesArePlaceholders())
        GTEST_SKIP() << "this build carries converter firmware images";
    const CtlRun run = Ctl({"flash", "02:51:00:00:00:07", "--no-wait-restart"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(Lines(run.err), 1u) << run.err;
    EXPECT_NE(run.err.find("placeholder firmware images"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("--allow-placeholder-images"), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
}

// Checked before the endpoint opens, so nothing is sent from the machine's own network here.
TEST_F(CtlMainTest, InterfaceWithoutAddressFailsBeforeAnythingIsSent) {
    const struct {
        const char* name;
        std::vector<std::string> args;
    } cases[] = {
        {"unknown interface", {"--interface", "qarn-nosuch0", "discover"}},
        {"after the verb", {"discover", "--interface", "qarn-nosuch0", "--time", "1"}},
        {"the loopback", {"show", "198.18.1.7", "--interface", "lo"}},
        {"write", {"--interface", "qarn-nosuch0", "write", "198.18.1.7", "--port1", "5000"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const CtlRun run = Ctl(c.args);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(Lines(run.err), 1u) << run.err;
        EXPECT_NE(run.err.find("no IPv4 address to broadcast on at interface '"), std::string::npos)
            << run.err;
        EXPECT_NE(run.err.find("(interfaces: "), std::string::npos) << run.err;
        EXPECT_EQ(run.out, "");
    }
}

TEST_F(CtlMainTest, GlobalPortMayFollowTheVerb) {
    EXPECT_EQ(Ctl({"--port", "5000", "diagnostics", "show"}).status, 0);
    EXPECT_EQ(Ctl({"diagnostics", "show", "--port", "5000"}).status, 0);
}

} // namespace
} // namespace qarn::cli
