// The window's own command-line options.

#include "ui/MainDialogFactory.h"

#include <gtest/gtest.h>

namespace qarn {
namespace {

TEST(ProgramOptionsTest, TakesItsOwnOptionsAndLeavesTheRest) {
    struct Case {
        QStringList arguments;
        bool placeholders;
        std::string interface;
    };
    const Case cases[] = {
        {{"qarn-converter-config"}, false, ""},
        {{"qarn-converter-config", "--allow-placeholder-images"}, true, ""},
        {{"qarn-converter-config", "--interface", "eth1"}, false, "eth1"},
        {{"qarn-converter-config", "--interface=enp3s0", "-style", "fusion"}, false, "enp3s0"},
        {{"qarn-converter-config", "--interface"}, false, ""}, // no name: nothing limited
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.join(u' ').toStdString());
        const ProgramOptions options = ParseProgramOptions(c.arguments);
        EXPECT_EQ(options.allowPlaceholderImages, c.placeholders);
        EXPECT_EQ(options.broadcastInterface, c.interface);
    }
}

} // namespace
} // namespace qarn
