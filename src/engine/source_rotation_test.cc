#include "src/engine/source_rotation.h"

#include <arpa/inet.h>

#include <gtest/gtest.h>

#include "src/platform/code_page.h"
#include "src/platform/resolver.h"

namespace vespar {
namespace {

uint32_t Ip(const char* dotted) { return inet_addr(dotted); }

class SourceRotationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    resolver_.Add("cdn.example", {Ip("10.0.0.1"), Ip("10.0.0.2"), Ip("10.0.0.3")});
    resolver_.Add("one.example", {Ip("10.9.9.9")});
    SetResolver(&resolver_);
    SetRotationCounterForTesting(0);
  }
  void TearDown() override { SetResolver(nullptr); }

  StaticResolver resolver_;
};

TEST_F(SourceRotationTest, ListAddresses) {
  static const struct {
    const char16_t* host;
    int result;
    std::vector<std::u16string> list;
  } kCases[] = {
      {u"cdn.example", 1, {u"10.0.0.1", u"10.0.0.2", u"10.0.0.3"}},
      {u"127.0.0.5", 1, {u"127.0.0.5"}},            // no letter: itself
      {u"127.0.0.5:8080", 1, {u"127.0.0.5:8080"}},  // a port stays in the text
      {u"unknown.example", -1, {}},
      {u"cdn.example:8080", -1, {}},  // the look-up of "host:port" finds nothing
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(ToUtf8(c.host));
    std::vector<std::u16string> list;
    EXPECT_EQ(ListAddresses(c.host, &list), c.result);
    EXPECT_EQ(list, c.list);
  }
  resolver_.FailLookups(true);
  std::vector<std::u16string> list;
  EXPECT_EQ(ListAddresses(u"cdn.example", &list), 0);
}

TEST_F(SourceRotationTest, ConsecutiveRestartsGetTheAddressesInTurn) {
  const char16_t* kUrl = u"http://cdn.example/full/cdn.example/a.bin";
  // The host text inside the path stays as it is.
  EXPECT_EQ(ResolveSource(kUrl), u"http://10.0.0.1/full/cdn.example/a.bin");
  EXPECT_EQ(ResolveSource(kUrl), u"http://10.0.0.2/full/cdn.example/a.bin");
  EXPECT_EQ(ResolveSource(kUrl), u"http://10.0.0.3/full/cdn.example/a.bin");
  EXPECT_EQ(ResolveSource(kUrl), u"http://10.0.0.1/full/cdn.example/a.bin");
  EXPECT_EQ(RotationCounter(), 4);
}

TEST_F(SourceRotationTest, UrlsThatStayUnchanged) {
  static const struct {
    const char16_t* url;
    bool advances;
  } kCases[] = {
      {u"http://cdn.example:8080/a.bin", false},  // a port: the look-up fails
      {u"http://unknown.example/a.bin", false},
      {u"http://CDN.example/a.bin", true},   // found, but not written in lower case
      {u"http://10.1.2.3/a.bin", true},      // an address is its own one entry
      {u"http://cdn.example", false},        // no "/" after the host: no host token
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(ToUtf8(c.url));
    int32_t before = RotationCounter();
    EXPECT_EQ(ResolveSource(c.url), c.url);
    EXPECT_EQ(RotationCounter() - before, c.advances ? 1 : 0);
  }
}

TEST_F(SourceRotationTest, SharedCounterSpreadsDifferentHosts) {
  EXPECT_EQ(ResolveSource(u"http://one.example/x"), u"http://10.9.9.9/x");
  EXPECT_EQ(ResolveSource(u"http://cdn.example/x"), u"http://10.0.0.2/x");
}

}  // namespace
}  // namespace vespar
