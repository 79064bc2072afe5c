// The real 60-second limit of a range worker, with the engine's own
// time-outs. Slow by nature: it runs in the plain test pass only.

#include "src/engine/engine_test_fixture.h"
#include "tests/support/fault.h"

namespace vespar::engine_testing {
namespace {

using RealStallTest = EngineTest;

TEST_F(RealStallTest, PartWithoutDataForSixtySecondsTimesOut) {
  timings_ = EngineTimings();  // the shipped limits
  server_->AddFile("/a.bin", TestBytes(50000, 41));
  testing::Fault fault;
  fault.method = testing::FaultMethod::kGet;
  fault.times = 1;
  fault.cut_after = 5000;
  fault.ending = testing::Ending::kStall;
  server_->SetFault("/a.bin", fault);
  StartManager();
  ASSERT_EQ(ProbeAll({Url("/a.bin")}), 0);
  auto begin = std::chrono::steady_clock::now();
  Post(MGRM_START);
  int timeout = Wait(DLGN_PART_TIMEOUT, 0, std::chrono::seconds(120));
  ASSERT_GE(timeout, 0);
  EXPECT_GE(std::chrono::steady_clock::now() - begin, std::chrono::seconds(60));
  // It was the only part: the state is saved and the window told.
  int idle = Wait(DLGN_IDLE, timeout);
  ASSERT_GE(idle, 0);
  EXPECT_EQ(store_->writes(), 1);
  CPartWorker* part = PartOf(sink_->at(timeout));
  EXPECT_EQ(part->state.load(), PART_TIMEOUT);
  EXPECT_EQ(part->currentOffset.load(), 5000);
  // A resume continues from there.
  Post(MGRM_RESUME);
  ASSERT_GE(Wait(DLGN_ALL_COMPLETE, idle), 0);
  EXPECT_EQ(GetRanges("/a.bin").back(), "bytes=5000-49999");
  EXPECT_EQ(ReadFile(LocalPath("a.bin")), TestBytes(50000, 41));
}

}  // namespace
}  // namespace vespar::engine_testing
