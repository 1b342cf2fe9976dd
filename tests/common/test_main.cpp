// Test entry point. Each test process gets a private configuration directory (the registry
// stand-in lives there), and after every test all stand-ins must report nothing left over.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/standin/leaks.h"

namespace {

class LeakCheck : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo&) override { standin::ResetAll(); }
    void OnTestEnd(const ::testing::TestInfo&) override {
        for (const std::string& leak : standin::CollectLeaks()) {
            ADD_FAILURE() << "left over after the test: " << leak;
        }
        standin::ResetAll();
    }
};

}  // namespace

int main(int argc, char** argv) {
    char dir[] = "/tmp/brevlo-test-XXXXXX";
    if (!mkdtemp(dir)) return 2;
    setenv("XDG_CONFIG_HOME", dir, 1);
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::UnitTest::GetInstance()->listeners().Append(new LeakCheck);
    int rc = RUN_ALL_TESTS();
    std::string cmd = std::string("rm -rf '") + dir + "'";
    if (std::system(cmd.c_str()) != 0) {
        // leaving a temp directory behind is harmless
    }
    return rc;
}
