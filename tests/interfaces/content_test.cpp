// The camera interface against the codec model: counts, far-camera lists,
// camera descriptions, selection, moves, tracking and presets.
#include <string.h>

#include "media_fixture.h"
#include "service/interfaces/content.h"
#include "support/log_capture.h"

namespace {

TEST(CameraMoves, EachAxisHasItsPairAndStopWinsOverDirection) {
  EXPECT_EQ(kyr_cam_move_type(KYR_CAM_AXIS_PAN, 0, 1), 1u);
  EXPECT_EQ(kyr_cam_move_type(KYR_CAM_AXIS_PAN, -5, 1), 0u);
  EXPECT_EQ(kyr_cam_move_type(KYR_CAM_AXIS_TILT, 7, 1), 3u);
  EXPECT_EQ(kyr_cam_move_type(KYR_CAM_AXIS_TILT, -1, 1), 2u);
  EXPECT_EQ(kyr_cam_move_type(KYR_CAM_AXIS_ZOOM, 1, 1), 5u);
  EXPECT_EQ(kyr_cam_move_type(KYR_CAM_AXIS_ZOOM, -1, 1), 4u);
  for (int axis = 0; axis < 3; axis++) EXPECT_EQ(kyr_cam_move_type(axis, -5, 0), 6u) << axis;
}

TEST(CameraStruct, SelectionBitsBytesAndTextAsJavaReadsThem) {
  CSCamera cam;
  memset(&cam, 0xAB, sizeof cam);
  snprintf(cam.userName, sizeof cam.userName, "%s", "Ceiling camera over the table");
  cam.selected = 3;
  cam.id = 0x01020304;
  cam.isNearCamera = 0x101;
  cam.portIndicator = 0x1FF;
  cam.instance = 258;
  cam.source = 2;
  cam.enabled = 1;
  cam.capabilities = 0xCAFE;
  cam.trackingMode = 5;
  KyrCameraStruct s;
  memset(&s, 0x55, sizeof s);
  kyr_cam_fill(&s, &cam);
  const unsigned char *b = reinterpret_cast<const unsigned char *>(&s);
  EXPECT_EQ(b[136], 1);
  uint32_t at148;
  memcpy(&at148, b + 148, 4);
  EXPECT_EQ(at148, 2u);
  EXPECT_STREQ(reinterpret_cast<const char *>(b), "Ceiling camera over the table");
  for (size_t i = strlen("Ceiling camera over the table"); i < 128; i++) ASSERT_EQ(b[i], 0) << i;
  EXPECT_EQ(b[128], 1) << "low byte of isNearCamera";
  EXPECT_EQ(b[129] | b[130] | b[131], 0);
  EXPECT_EQ(s.id, 0x01020304);
  EXPECT_EQ(b[137], 0xFF);
  EXPECT_EQ(b[138], 2);
  EXPECT_EQ(b[139], 2);
  EXPECT_EQ(b[140], 1);
  EXPECT_EQ(b[141] | b[142] | b[143], 0);
  EXPECT_EQ(s.capabilities, 0xCAFEu);
  EXPECT_EQ(s.trackingMode, 5u);
  cam.selected = 0x4;
  kyr_cam_fill(&s, &cam);
  EXPECT_EQ(s.selectedPeople, 0);
  EXPECT_EQ(s.selectedContent, 0u) << "other bits of selected are not Java's";
}

class Cameras : public mediatest::MediaTest {};

TEST_F(Cameras, CountsComeFromTheSubsystemAndTheFarGroups) {
  EXPECT_EQ(kyr_cam_num_near(), 4);
  EXPECT_EQ(kyr_cam_num_far(), 4) << "the group's maxCameras, not numCameras";
  EXPECT_EQ(kyr_cam_num_presets(1), 3);
  uint32_t sub = codec_sim_record_handles(sim_, "CamSubsys")[0];
  codec_sim_record_merge(sim_, "CamSubsys", sub, R"({"maxFarPresets":2})");
  EXPECT_EQ(kyr_cam_num_presets(0), 2);
  codec_sim_inject_error(sim_, "csCamSubsysGet", -18, "", 3);
  kyrtest::LogCapture log;
  EXPECT_EQ(kyr_cam_num_near(), -1);
  EXPECT_EQ(kyr_cam_num_far(), -1);
  EXPECT_EQ(kyr_cam_num_presets(1), -1);
  EXPECT_EQ(log.Find("can't get Camera sub-system, err=-18", KYR_CONTENT_TAG).size(), 3u);
}

TEST_F(Cameras, FarListHoldsEveryFarCameraId) {
  uint32_t group = codec_sim_record_handles(sim_, "CameraFarGroup")[0];
  codec_sim_record_merge(sim_, "CameraFarGroup", group, R"({"numCameras":2})");
  char ov[128];
  snprintf(ov, sizeof ov, R"({"parentHandle":%u,"id":12,"isNearCamera":0,"instance":1})", group);
  codec_sim_record_merge(sim_, "Camera", 0, ov);
  int64_t head = kyr_cam_far_list();
  ASSERT_GT(head, 0);
  std::vector<int> ids;
  for (int64_t h = head; h;) {
    auto *n = static_cast<const KyrFarCameraList *>(kyr_list_node(h, sizeof(KyrFarCameraList)));
    ASSERT_NE(n, nullptr);
    ids.push_back(n->id);
    h = n->next;
  }
  EXPECT_EQ(ids, (std::vector<int>{11, 12}));
  EXPECT_EQ(kyr_cam_far_list_release(head), 2);
  EXPECT_EQ(kyr_handle_count(), handles_before_);
}

TEST_F(Cameras, NoFarTerminalsGiveNoListAndNoCount) {
  uint32_t sub = codec_sim_record_handles(sim_, "CamSubsys")[0];
  codec_sim_record_merge(sim_, "CamSubsys", sub, R"({"numFarTerminals":0})");
  EXPECT_EQ(kyr_cam_far_list(), 0);
  EXPECT_EQ(kyr_cam_num_far(), 0);
  EXPECT_TRUE(Sent("csCameraFarGroupGet").empty());
}

TEST_F(Cameras, AFailedFarReadReturnsItsCodeAndFreesTheNodesMadeSoFar) {
  uint32_t sub = codec_sim_record_handles(sim_, "CamSubsys")[0];
  codec_sim_record_merge(sim_, "CamSubsys", sub, R"({"numFarTerminals":2})");
  kyrtest::LogCapture log;
  // Group 0 and its camera read fine; group 1 does not exist in the model.
  EXPECT_EQ(kyr_cam_far_list(), -4);
  EXPECT_EQ(log.Find("can't get cameraFarGroup, err=-4", KYR_CONTENT_TAG).size(), 1u);
  EXPECT_EQ(kyr_handle_count(), handles_before_);
  EXPECT_EQ(kyr_cam_num_far(), 4) << "a group that cannot be read adds nothing";
  codec_sim_record_merge(sim_, "CamSubsys", sub, R"({"numFarTerminals":1})");
  uint32_t group = codec_sim_record_handles(sim_, "CameraFarGroup")[0];
  codec_sim_record_merge(sim_, "CameraFarGroup", group, R"({"numCameras":3})");
  EXPECT_EQ(kyr_cam_far_list(), -4);
  EXPECT_EQ(log.Find("can't get cameraFar, err=-4", KYR_CONTENT_TAG).size(), 1u);
  EXPECT_EQ(kyr_handle_count(), handles_before_);
}

TEST_F(Cameras, ACodecClaimingThousandsOfFarTerminalsIsReadOnlySoFar) {
  uint32_t sub = codec_sim_record_handles(sim_, "CamSubsys")[0];
  codec_sim_record_merge(sim_, "CamSubsys", sub, R"({"numFarTerminals":4000000000})");
  kyrtest::LogCapture log;
  EXPECT_EQ(kyr_cam_num_far(), 4) << "only group 0 exists";
  EXPECT_EQ(Sent("csCameraFarGroupGet").size(), static_cast<size_t>(KYR_CAM_MAX_FAR_TERMINALS));
  EXPECT_EQ(log.Find("far terminals, reading 64", KYR_CONTENT_TAG).size(), 1u);
}

TEST_F(Cameras, DescriptionsByIdAndNearIndex) {
  int64_t h = kyr_cam_info_by_id(2);
  ASSERT_GT(h, 0);
  auto *c = static_cast<const KyrCameraStruct *>(kyr_handle_resolve(static_cast<int32_t>(h), 156, KYR_HANDLE_RECORD));
  ASSERT_NE(c, nullptr);
  EXPECT_STREQ(c->userName, "Document camera");
  EXPECT_EQ(c->id, 2);
  EXPECT_EQ(c->isNearCamera, 1);
  EXPECT_EQ(c->instance, 1);
  kyr_cam_info_release(h);
  EXPECT_EQ(kyr_handle_count(), handles_before_);
  h = kyr_cam_info_by_index(1, 1);
  ASSERT_GT(h, 0);
  c = static_cast<const KyrCameraStruct *>(kyr_handle_resolve(static_cast<int32_t>(h), 156, KYR_HANDLE_RECORD));
  EXPECT_EQ(c->id, 2);
  kyr_cam_info_release(h);
  kyr_cam_info_release(h);  // a second release frees nothing
  EXPECT_EQ(kyr_cam_info_by_id(99), -1);
  EXPECT_EQ(kyr_cam_info_by_index(1, 9), -1);
  EXPECT_EQ(kyr_handle_count(), handles_before_);
}

TEST_F(Cameras, IndexOfAFarCameraIsRefusedWithoutARequest) {
  kyrtest::LogCapture log;
  codec_sim_clear_requests(sim_);
  EXPECT_EQ(kyr_cam_info_by_index(0, 0), -1);
  EXPECT_EQ(codec_sim_request_count(sim_), 0u);
  EXPECT_EQ(log.Find("near cameras only", KYR_CONTENT_TAG).size(), 1u);
}

TEST_F(Cameras, SelectionSetsAndClearsOneBitOfWhatTheCameraHas) {
  uint32_t cam1 = codec_sim_record_handles(sim_, "Camera")[0];
  codec_sim_record_merge(sim_, "Camera", cam1, R"({"selected":1})");
  EXPECT_EQ(kyr_cam_select(1, KYR_CAM_CONTENT_ON), 0);
  EXPECT_EQ(kyr_cam_select(1, KYR_CAM_PEOPLE_OFF), 0);
  EXPECT_EQ(kyr_cam_select(1, KYR_CAM_PEOPLE_ON), 0);
  EXPECT_EQ(kyr_cam_select(1, KYR_CAM_CONTENT_OFF), 0);
  auto sel = Sent("csCameraSelect");
  ASSERT_EQ(sel.size(), 4u);
  EXPECT_EQ(Param(sel[0], "select"), 3);
  EXPECT_EQ(Param(sel[1], "select"), 2);
  EXPECT_EQ(Param(sel[2], "select"), 3);
  EXPECT_EQ(Param(sel[3], "select"), 1);
  codec_sim_clear_requests(sim_);
  kyrtest::LogCapture log;
  EXPECT_EQ(kyr_cam_select(1, 4), -1);
  EXPECT_EQ(kyr_cam_select(1, -1), -1);
  EXPECT_EQ(codec_sim_request_count(sim_), 0u);
  EXPECT_EQ(log.Find("invalid camera operation, operation=4", KYR_CONTENT_TAG).size(), 1u);
  codec_sim_inject_error(sim_, "csCameraSelect", -21, "", 1);
  EXPECT_EQ(kyr_cam_select(1, KYR_CAM_PEOPLE_ON), -21);
}

TEST_F(Cameras, MovesGoToTheSelectedCameraAndStop) {
  EXPECT_EQ(kyr_cam_move(KYR_CAM_AXIS_PAN, 1, 0, 1), 0);
  EXPECT_EQ(kyr_cam_move(KYR_CAM_AXIS_PAN, 1, -5, 0), 0);
  EXPECT_EQ(kyr_cam_move(KYR_CAM_AXIS_ZOOM, 1, -1, 1), 0);
  auto moves = Sent("csCameraMove");
  ASSERT_EQ(moves.size(), 3u);
  EXPECT_EQ(Param(moves[0], "moveType"), 1);
  EXPECT_EQ(Param(moves[1], "moveType"), 6);
  EXPECT_EQ(Param(moves[2], "moveType"), 4);
  uint32_t cam1 = codec_sim_record_handles(sim_, "Camera")[0];
  EXPECT_EQ(Param(moves[0], "pCameraHandle"), cam1) << "the selected near camera";
  auto sel = Sent("csCameraGetSelected");
  ASSERT_FALSE(sel.empty());
  EXPECT_EQ(Param(sel[0], "isNear"), 1);
  EXPECT_EQ(Param(sel[0], "searchPeople"), 1);
  codec_sim_inject_error(sim_, "csCameraGetSelected", -4, "", 1);
  EXPECT_EQ(kyr_cam_move(KYR_CAM_AXIS_TILT, 1, 1, 1), -4);
}

TEST_F(Cameras, TrackingModeIsSentWithItsOwnBit) {
  EXPECT_EQ(kyr_cam_set_tracking(2, 3), 0);
  auto sets = Sent("csCameraSet");
  ASSERT_EQ(sets.size(), 1u);
  EXPECT_EQ(Param(sets[0], "flags"), 0x400000);
  EXPECT_EQ(Member(sets[0], "pCamera", "trackingMode"), 3);
  EXPECT_EQ(Member(sets[0], "pCamera", "id"), 2);
  EXPECT_EQ(kyr_cam_set_tracking(99, 3), -1) << "a camera that cannot be read";
  codec_sim_inject_error(sim_, "csCameraSet", -9, "", 1);
  kyrtest::LogCapture log;
  EXPECT_EQ(kyr_cam_set_tracking(2, 1), -9);
  EXPECT_EQ(log.Find("Failed to set Camera tracking mode, err=-9", KYR_CONTENT_TAG).size(), 1u);
}

TEST_F(Cameras, PresetsReadTheirRecordFirst) {
  EXPECT_EQ(kyr_cam_preset_is_set(1, 0), 1);
  EXPECT_EQ(kyr_cam_preset_is_set(1, 1), 0);
  EXPECT_EQ(kyr_cam_preset_is_set(1, 7), 0) << "no such preset";
  EXPECT_EQ(kyr_cam_preset_action(1, 0, KYR_PRESET_GOTO), 0);
  EXPECT_EQ(kyr_cam_preset_is_selected(1, 0), 1);
  EXPECT_EQ(kyr_cam_preset_is_selected(1, 2), 0);
  EXPECT_EQ(kyr_cam_preset_action(1, 1, KYR_PRESET_GOTO), -19) << "the codec's answer for an empty preset";
  EXPECT_EQ(kyr_cam_preset_action(1, 7, KYR_PRESET_GOTO), -1);
  EXPECT_EQ(kyr_cam_preset_action(1, 0, KYR_PRESET_CLEAR), 0);
  EXPECT_EQ(kyr_cam_preset_is_set(1, 0), 0);
  EXPECT_EQ(kyr_cam_preset_store(1, 2), 0);
  auto stores = Sent("csPresetSet");
  ASSERT_EQ(stores.size(), 1u);
  EXPECT_EQ(Param(stores[0], "flags"), 0);
  EXPECT_EQ(Member(stores[0], "pPreset", "instance"), 2);
  codec_sim_inject_error(sim_, "csPresetSet", -9, "", 1);
  EXPECT_EQ(kyr_cam_preset_store(1, 2), 0);
  for (auto &g : Sent("csPresetGet")) EXPECT_GE(Param(g, "instance"), 0);
}

TEST_F(Cameras, PresetSelectedWithoutAConnectionIsFF) {
  kyr_service_debug_set_server_instance(-1);
  EXPECT_EQ(kyr_cam_preset_is_selected(1, 0), 0xFF);
  EXPECT_EQ(kyr_cam_preset_is_set(1, 0), 0);
  EXPECT_EQ(kyr_cam_preset_action(1, 0, KYR_PRESET_CLEAR), -1);
}

}  // namespace
