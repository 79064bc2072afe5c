// Source rotation end to end. A URL without a port is needed (a host token
// with a port is never rotated), so the test program enters a network
// namespace of its own, with only its loopback, and serves on port 80 of
// 127.0.0.2 and 127.0.0.3. This file has its own main(): the namespace must
// be entered before any thread exists.

#include <arpa/inet.h>

#include "src/engine/engine_test_fixture.h"
#include "tests/support/console_runner.h"
#include "tests/support/fault.h"

namespace vespar::engine_testing {
namespace {

std::string g_namespace_error;  // empty when the namespace is ready

class RotationTest : public EngineTest {
 protected:
  void SetUp() override {
    if (!g_namespace_error.empty())
      GTEST_SKIP() << "no network namespace of our own: " << g_namespace_error;
    server_options_.addresses = {{"127.0.0.2", testing::AddressMode::kServe},
                                 {"127.0.0.3", testing::AddressMode::kRefuse}};
    server_options_.port = 80;
    EngineTest::SetUp();
    resolver_.Add("files.test", {inet_addr("127.0.0.2"), inet_addr("127.0.0.3")});
    SetResolver(&resolver_);
  }
  void TearDown() override {
    if (!g_namespace_error.empty()) return;
    EngineTest::TearDown();
  }

  StaticResolver resolver_;
};

TEST_F(RotationTest, RestartsGoToTheNextAddressWhileThePartKeepsItsIdentity) {
  const std::string content = TestBytes(60000, 31);
  server_->AddFile("/pub/a.bin", content);
  // The first transfer breaks off after 1000 bytes.
  testing::Fault fault;
  fault.method = testing::FaultMethod::kGet;
  fault.times = 1;
  fault.cut_after = 1000;
  server_->SetFault("/pub/a.bin", fault);
  FolderLayoutFlag = u"r";
  ContentBaseUrl = u"http://files.test/pub/";
  const std::u16string kItem = u"http://files.test/pub/a.bin";
  std::u16string savedIdentity;
  store_->onWrite = [&](CDownloadManager& m) {
    if (!m.workers.empty()) savedIdentity = m.workers[0]->sourceUrl;
  };
  // The next picks: 127.0.0.3 (refused), then 127.0.0.2.
  SetRotationCounterForTesting(1);
  StartManager();
  ASSERT_TRUE(Download({ToUtf8(kItem)}));
  EXPECT_EQ(ReadFile(LocalPath("a.bin")), content);

  std::vector<std::u16string> sources;
  for (const Message& m : Messages(DLGN_PART_STARTED))
    sources.push_back(std::u16string(reinterpret_cast<PartRowRecord*>(m.lParam)->source.view()));
  EXPECT_EQ(sources, (std::vector<std::u16string>{kItem, u"http://127.0.0.3/pub/a.bin",
                                                  u"http://127.0.0.2/pub/a.bin"}));
  CPartWorker* part = PartOf(Messages(DLGN_PART_STARTED)[0]);
  EXPECT_EQ(part->sourceUrl, kItem);
  EXPECT_EQ(part->connectUrl, u"http://127.0.0.2/pub/a.bin");
  EXPECT_EQ(part->localPath, FromUtf8(LocalPath("a.bin")));

  // The second transfer went to the address, as an absolute URL, and
  // continued where the first one stopped.
  std::vector<testing::RequestRecord> gets;
  for (const auto& r : server_->Requests()) {
    if (r.method == "GET") gets.push_back(r);
  }
  ASSERT_EQ(gets.size(), 2u);
  EXPECT_EQ(gets[0].target, "http://files.test/pub/a.bin");
  EXPECT_EQ(gets[1].target, "http://127.0.0.2/pub/a.bin");
  EXPECT_EQ(gets[1].range, "bytes=1000-59999");
  EXPECT_EQ(gets[1].local_address, "127.0.0.2:80");

  manager_->Quit();
  EXPECT_EQ(savedIdentity, kItem);  // saved under its item URL, not the address
}

}  // namespace
}  // namespace vespar::engine_testing

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  vespar::engine_testing::g_namespace_error = vespar::testing::EnterPrivateNetwork();
  return RUN_ALL_TESTS();
}
