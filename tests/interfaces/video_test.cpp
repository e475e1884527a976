// The video interface: the layout functions on records, and the main
// monitor's layout read, changed and sent against the codec model.
#include <string.h>

#include "media_fixture.h"
#include "service/interfaces/video.h"
#include "support/log_capture.h"

namespace {

CSVideoOutLayout Layout(int s0, int l0, int s1, int l1) {
  CSVideoOutLayout l;
  memset(&l, 0, sizeof l);
  l.videoOut = 1;
  l.panelMapCount = 2;
  l.panelMap[0].source = s0;
  l.panelMap[0].layout = l0;
  l.panelMap[1].source = s1;
  l.panelMap[1].layout = l1;
  return l;
}

TEST(VideoLayout, PipModeOffOnlyTouchesTheModeAndOnSetsTheLocation) {
  CSVideoOutLayout l = Layout(1, 1, 2, 2);
  l.PIPMode = 1;
  l.PIPLocation = 3;
  EXPECT_EQ(csVideoSetPIPMode(&l, -1), 0x1);
  EXPECT_EQ(l.PIPMode, 0u);
  EXPECT_EQ(l.PIPLocation, 3) << "the location stays for the next time PIP is on";
  EXPECT_EQ(csVideoGetPIPMode(&l), -1);
  EXPECT_EQ(csVideoSetPIPMode(&l, 2), 0x3);
  EXPECT_EQ(l.PIPMode, 1u);
  EXPECT_EQ(csVideoGetPIPMode(&l), 2);
  EXPECT_EQ(csVideoSetPIPMode(&l, 0), 0x3);
  EXPECT_EQ(csVideoGetPIPMode(&l), 0) << "location 0 is PIP on, not off";
}

TEST(VideoLayout, SwapTwiceRestoresBothPanelsAndReadsFromPanelZeroSource) {
  CSVideoOutLayout l = Layout(0, 7, 5, 9);
  l.panelMap[2].source = 42;
  EXPECT_EQ(csVideoGetPIPSwap(&l), 1);
  EXPECT_EQ(csVideoSetPIPSwap(&l), 0x10);
  EXPECT_EQ(l.panelMap[0].source, 5);
  EXPECT_EQ(l.panelMap[0].layout, 9);
  EXPECT_EQ(l.panelMap[1].source, 0);
  EXPECT_EQ(l.panelMap[1].layout, 7);
  EXPECT_EQ(csVideoGetPIPSwap(&l), 0);
  EXPECT_EQ(csVideoGetDMESwap(&l), 0);
  EXPECT_EQ(csVideoSetDMESwap(&l), 0x10);
  EXPECT_EQ(l.panelMap[0].source, 0);
  EXPECT_EQ(l.panelMap[0].layout, 7);
  EXPECT_EQ(l.panelMap[1].source, 5);
  EXPECT_EQ(l.panelMap[1].layout, 9);
  EXPECT_EQ(l.panelMap[2].source, 42) << "only panels 0 and 1 move";
}

TEST(VideoLayout, DmeModeWritesOneOrThreeAndReadsFourAndEightAsOn) {
  CSVideoOutLayout l = Layout(1, 1, 2, 2);
  EXPECT_EQ(csVideoSetDMEMode(&l, 1), 0x4);
  EXPECT_EQ(l.monitorLayout, 3);
  EXPECT_EQ(csVideoGetDMEMode(&l), 0) << "3 is what is sent, not a dual-monitor layout read back";
  EXPECT_EQ(csVideoSetDMEMode(&l, 0), 0x4);
  EXPECT_EQ(l.monitorLayout, 1);
  for (int code : {4, 8}) {
    l.monitorLayout = code;
    EXPECT_EQ(csVideoGetDMEMode(&l), 1) << code;
  }
  for (int code : {0, 1, 2, 3, 5, 7, 9, -1}) {
    l.monitorLayout = code;
    EXPECT_EQ(csVideoGetDMEMode(&l), 0) << code;
  }
  EXPECT_EQ(csVideoSetNextDMELayout(&l), 0x4);
  EXPECT_EQ(l.monitorLayout, -1);
}

TEST(VideoLayout, KlvGoesToPanelZeroUnlessItsSourceIsZero) {
  CSVideoOutLayout l = Layout(3, 1, 4, 2);
  EXPECT_EQ(csVideoSetKLVLayout(&l, 100), 0x10);
  EXPECT_EQ(l.panelMap[0].source, -100);
  EXPECT_EQ(l.panelMap[0].layout, 100);
  EXPECT_EQ(l.panelMap[1].source, 4);
  l = Layout(0, 1, 4, 2);
  EXPECT_EQ(csVideoSetKLVLayout(&l, 7), 0x10);
  EXPECT_EQ(l.panelMap[0].source, 0);
  EXPECT_EQ(l.panelMap[0].layout, 1);
  EXPECT_EQ(l.panelMap[1].source, -100);
  EXPECT_EQ(l.panelMap[1].layout, 7);
}

TEST(VideoLayout, EndpointTypeFromPanelCapsThenMonitorSourceBit) {
  CSVideoOutLayoutCap c;
  memset(&c, 0, sizeof c);
  EXPECT_EQ(csVideoEndpointTypeConnected(&c), 0);
  c.monitorSourceCap = 0x2;
  EXPECT_EQ(csVideoEndpointTypeConnected(&c), 1);
  c.monitorSourceCap = 0x5;
  EXPECT_EQ(csVideoEndpointTypeConnected(&c), 0) << "only bit 1 counts";
  c.panelMapCap[1].layoutCap = 655;
  EXPECT_EQ(csVideoEndpointTypeConnected(&c), 3);
  c.panelMapCap[0].layoutCap = 0x7F000200u;
  EXPECT_EQ(csVideoEndpointTypeConnected(&c), 4) << "the bridge code wins over 655";
  c.panelMapCap[0].layoutCap = 0;
  c.panelMapCap[1].layoutCap = 0x7F000200u;
  EXPECT_EQ(csVideoEndpointTypeConnected(&c), 4);
  c.panelMapCap[1].layoutCap = 0;
  c.panelMapCap[2].layoutCap = 655;
  c.monitorSourceCap = 0x2;
  EXPECT_EQ(csVideoEndpointTypeConnected(&c), 1) << "panels past 1 are not looked at";
}

TEST(VideoLayout, InitRefusesMissingRecords) {
  CSVideo v;
  CSVideoOut o;
  CSVideoOutLayout l;
  EXPECT_EQ(initVideoObjects(&v, &o, &l, nullptr), -1);
  EXPECT_EQ(initVideoObjects(nullptr, &o, &l, nullptr), -1);
}

class VideoModel : public mediatest::MediaTest {};

TEST_F(VideoModel, InitFindsTheOutputOfDeviceTypeTwoByNumber) {
  CSVideo v;
  CSVideoOut o;
  CSVideoOutLayout l;
  CSVideoOutLayoutCap c;
  ASSERT_EQ(initVideoObjects(&v, &o, &l, &c), 0);
  EXPECT_EQ(o.deviceType, 2);
  EXPECT_EQ(o.instance, 1);
  EXPECT_EQ(l.videoOut, 1);
  EXPECT_EQ(c.PIPLocationCap, 15u);
  auto outs = Sent("csVideoOutGet");
  ASSERT_EQ(outs.size(), 1u) << "output 1 is of device type 2: the walk stops there";
  EXPECT_EQ(Param(outs[0], "instance"), 1);
}

TEST_F(VideoModel, SetPipModeSendsTheFlagsOfItsLayoutFunction) {
  ASSERT_EQ(kyr_video_change_layout(KYR_VIDEO_SET_PIP_MODE, -1), 0);
  ASSERT_EQ(kyr_video_change_layout(KYR_VIDEO_SET_PIP_MODE, 2), 0);
  auto sets = Sent("csVideoOutLayoutSet");
  ASSERT_EQ(sets.size(), 2u);
  EXPECT_EQ(Param(sets[0], "flags"), 0x1);
  EXPECT_EQ(Member(sets[0], "pVideoLayout", "PIPMode"), 0);
  EXPECT_EQ(Param(sets[1], "flags"), 0x3);
  EXPECT_EQ(Member(sets[1], "pVideoLayout", "PIPMode"), 1);
  EXPECT_EQ(Member(sets[1], "pVideoLayout", "PIPLocation"), 2);
  EXPECT_EQ(kyr_video_get(KYR_VIDEO_PIP_MODE), 2) << "the model kept what was sent";
}

TEST_F(VideoModel, OutOfRangeValuesAreRefusedWithoutALayoutSent) {
  kyrtest::LogCapture log;
  EXPECT_EQ(kyr_video_change_layout(KYR_VIDEO_SET_PIP_MODE, 4), -1);
  EXPECT_EQ(kyr_video_change_layout(KYR_VIDEO_SET_PIP_MODE, -2), -1);
  EXPECT_EQ(kyr_video_change_layout(KYR_VIDEO_SET_KLV_LAYOUT, 101), -1);
  EXPECT_EQ(kyr_video_change_layout(KYR_VIDEO_SET_KLV_LAYOUT, -2), -1);
  EXPECT_TRUE(Sent("csVideoOutLayoutSet").empty());
  EXPECT_EQ(log.Find("Invalid PIP mode 4", KYR_VIDEO_TAG).size(), 1u);
  EXPECT_EQ(log.Find("Invalid KLV Layout 65", KYR_VIDEO_TAG).size(), 1u) << "the layout is logged in hex";
  codec_sim_clear_requests(sim_);
  EXPECT_EQ(kyr_video_change_layout(KYR_VIDEO_SET_DME_MODE, 2), -1);
  EXPECT_EQ(codec_sim_request_count(sim_), 0u) << "the DME mode is checked before anything is read";
  EXPECT_EQ(log.Find("Invalid DME mode 2", KYR_VIDEO_TAG).size(), 1u);
  EXPECT_EQ(kyr_video_change_layout(KYR_VIDEO_SET_KLV_LAYOUT, 100), 0);
}

TEST_F(VideoModel, NoOutputOfDeviceTypeTwoReadsPipOffAndChangesNothing) {
  uint32_t out1 = codec_sim_record_handles(sim_, "VideoOut")[0];
  codec_sim_record_merge(sim_, "VideoOut", out1, R"({"deviceType":1})");
  EXPECT_EQ(kyr_video_get(KYR_VIDEO_PIP_MODE), -1);
  EXPECT_EQ(Sent("csVideoOutGet").size(), 2u) << "outputs 1 and 2 were read";
  EXPECT_EQ(kyr_video_get(KYR_VIDEO_PIP_CAPS), 0);
  kyrtest::LogCapture log;
  EXPECT_EQ(kyr_video_change_layout(KYR_VIDEO_SET_PIP_MODE, 1), -1);
  EXPECT_TRUE(Sent("csVideoOutLayoutSet").empty()) << "a zeroed layout is never sent";
}

TEST_F(VideoModel, ACodecClaimingThousandsOfOutputsIsReadOnlySoFar) {
  uint32_t out1 = codec_sim_record_handles(sim_, "VideoOut")[0];
  codec_sim_record_merge(sim_, "VideoOut", out1, R"({"deviceType":1})");
  uint32_t video = codec_sim_record_handles(sim_, "Video")[0];
  codec_sim_record_merge(sim_, "Video", video, R"({"numOuts":100000})");
  kyrtest::LogCapture log;
  EXPECT_EQ(kyr_video_get(KYR_VIDEO_PIP_MODE), -4) << "the last output read did not exist";
  EXPECT_EQ(Sent("csVideoOutGet").size(), static_cast<size_t>(KYR_VIDEO_MAX_OUTPUTS));
  EXPECT_EQ(log.Find("video outputs, reading 64", KYR_VIDEO_TAG).size(), 1u);
}

TEST_F(VideoModel, AReadFailureIsReturnedAsItsCode) {
  codec_sim_inject_error(sim_, "csVideoGet", -18, "", 1);
  EXPECT_EQ(kyr_video_get(KYR_VIDEO_PIP_MODE), -18);
  codec_sim_inject_error(sim_, "csVideoOutLayoutSet", -9, "", 1);
  EXPECT_EQ(kyr_video_change_layout(KYR_VIDEO_TOGGLE_PIP_SWAP, 0), -9);
}

TEST_F(VideoModel, ToggleSwapTwiceRestoresThePanelsOnTheCodec) {
  ASSERT_EQ(kyr_video_get(KYR_VIDEO_PIP_SWAP), 0);
  ASSERT_EQ(kyr_video_change_layout(KYR_VIDEO_TOGGLE_PIP_SWAP, 0), 0);
  std::string swapped = codec_sim_record(sim_, "VideoOutLayout");
  EXPECT_NE(swapped.find(R"("panelMap":[{"source":2,"layout":2},{"source":1,"layout":1})"), std::string::npos)
      << swapped;
  ASSERT_EQ(kyr_video_change_layout(KYR_VIDEO_TOGGLE_DME_SWAP, 0), 0);
  std::string back = codec_sim_record(sim_, "VideoOutLayout");
  EXPECT_NE(back.find(R"("panelMap":[{"source":1,"layout":1},{"source":2,"layout":2})"), std::string::npos) << back;
  for (auto &s : Sent("csVideoOutLayoutSet")) EXPECT_EQ(Param(s, "flags"), 0x10);
}

}  // namespace
