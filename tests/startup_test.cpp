// The argument listing and the debug switch.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/startup.h"

namespace {

struct Listing {
  CStartupOptions options;
  std::string text;
};

Listing list(std::vector<std::string> args) {
  args.insert(args.begin(), "Quillex");
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  std::FILE* out = std::tmpfile();
  Listing result{listArguments(int(argv.size()), argv.data(), out), {}};
  std::rewind(out);
  for (int c; (c = std::fgetc(out)) != EOF;) result.text += char(c);
  std::fclose(out);
  return result;
}

TEST(StartupTest, ArgumentsAreListedInOrderAndTheSwitchesAreAnnounced) {
  Listing l = list({"alpha", "-D563", "-D563"});
  EXPECT_TRUE(l.options.debugMode);
  EXPECT_EQ(l.text,
            "1番目の引数=alpha\n"
            "2番目の引数=-D563\nDEBUGMODE ON\n"
            "3番目の引数=-D563\nDEBUGMODE ON\n");
  EXPECT_EQ(list({}).text, "");
  EXPECT_TRUE(list({"a", "b", "-D563"}).options.debugMode);
  Listing headless = list({"--headless"});
  EXPECT_TRUE(headless.options.headless);
  EXPECT_EQ(headless.text, "1番目の引数=--headless\n");
}

TEST(StartupTest, OnlyTheExactSwitchTurnsDebugModeOn) {
  for (const char* near : {"-d563", "-D5631", "-D56", "D563", " -D563", ""}) {
    Listing l = list({near});
    EXPECT_FALSE(l.options.debugMode) << near;
    EXPECT_EQ(l.text.find("DEBUGMODE ON"), std::string::npos) << near;
  }
}

}  // namespace
