#include "base/at_exit.h"

#include <memory>
#include <string>

#include "gtest/gtest.h"

namespace base {
namespace {

std::string* g_order = nullptr;

void Append(void* text) {
  *g_order += static_cast<const char*>(text);
}

class AtExitTest : public testing::Test {
 protected:
  void SetUp() override { g_order = &order_; }
  void TearDown() override { g_order = nullptr; }
  std::string order_;
};

TEST_F(AtExitTest, CallbacksRunNewestFirst) {
  {
    AtExitManager manager;
    AtExitManager::RegisterCallback(&Append, const_cast<char*>("1"));
    AtExitManager::RegisterCallback(&Append, const_cast<char*>("2"));
    AtExitManager::RegisterCallback(&Append, const_cast<char*>("3"));
    EXPECT_EQ("", order_);
  }
  EXPECT_EQ("321", order_);
}

TEST_F(AtExitTest, ProcessCallbacksNowEmptiesTheStack) {
  AtExitManager manager;
  AtExitManager::RegisterCallback(&Append, const_cast<char*>("a"));
  AtExitManager::RegisterCallback(&Append, const_cast<char*>("b"));
  AtExitManager::ProcessCallbacksNow();
  EXPECT_EQ("ba", order_);
  AtExitManager::ProcessCallbacksNow();
  EXPECT_EQ("ba", order_);
}

TEST_F(AtExitTest, NewerManagerShadowsTheOlderOne) {
  {
    AtExitManager outer;
    AtExitManager::RegisterCallback(&Append, const_cast<char*>("outer "));
    {
      AtExitManager inner;
      AtExitManager::RegisterCallback(&Append, const_cast<char*>("inner "));
    }
    EXPECT_EQ("inner ", order_);
    AtExitManager::RegisterCallback(&Append, const_cast<char*>("outer-again "));
  }
  EXPECT_EQ("inner outer-again outer ", order_);
}

void RegisterAnother(void*) {
  *g_order += "first ";
  AtExitManager::RegisterCallback(&Append, const_cast<char*>("registered-late "));
}

TEST_F(AtExitTest, CallbackMayRegisterAnother) {
  {
    AtExitManager manager;
    AtExitManager::RegisterCallback(&Append, const_cast<char*>("last "));
    AtExitManager::RegisterCallback(&RegisterAnother, nullptr);
  }
  EXPECT_EQ("first registered-late last ", order_);
}

// Managers that end out of order: each runs its own callbacks, and the
// chain stays intact for the one still alive.
TEST_F(AtExitTest, DestroyingAShadowedManagerRunsOnlyItsOwnCallbacks) {
  auto older = std::make_unique<AtExitManager>();
  EXPECT_TRUE(AtExitManager::RegisterCallback(&Append, const_cast<char*>("older ")));
  auto newer = std::make_unique<AtExitManager>();
  EXPECT_TRUE(AtExitManager::RegisterCallback(&Append, const_cast<char*>("newer ")));
  older.reset();
  EXPECT_EQ("older ", order_);
  EXPECT_TRUE(AtExitManager::RegisterCallback(&Append, const_cast<char*>("again ")));
  newer.reset();
  EXPECT_EQ("older again newer ", order_);
  EXPECT_FALSE(AtExitManager::RegisterCallback(&Append, const_cast<char*>("dropped")));
}

TEST_F(AtExitTest, RegistrationWithoutManagerIsDropped) {
  EXPECT_FALSE(AtExitManager::RegisterCallback(&Append, const_cast<char*>("dropped")));
  AtExitManager::ProcessCallbacksNow();
  { AtExitManager manager; }
  EXPECT_EQ("", order_);
}

}  // namespace
}  // namespace base
