// One application object, with the program's own version registered, for
// every window test of a binary.
#include <gtest/gtest.h>

#include <memory>

#include "app/application.h"
#include "app/ownversion.h"

namespace {

class AppEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        RegisterOwnVersion();
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "tavelin-tests";
        static char* argv[] = {name, nullptr};
        app_ = std::make_unique<TApplication>(argc, argv);
    }
    void TearDown() override { app_.reset(); }

private:
    std::unique_ptr<TApplication> app_;
};

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new AppEnvironment);

}  // namespace
