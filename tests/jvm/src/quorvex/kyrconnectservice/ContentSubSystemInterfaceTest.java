package quorvex.kyrconnectservice;

import static org.junit.Assert.assertArrayEquals;
import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertFalse;
import static org.junit.Assert.assertNotNull;
import static org.junit.Assert.assertNull;
import static org.junit.Assert.assertTrue;

import java.nio.ByteBuffer;
import java.util.List;

import org.junit.AfterClass;
import org.junit.Before;
import org.junit.BeforeClass;
import org.junit.Test;

/** The camera interface on a real JVM against the codec simulator. */
public class ContentSubSystemInterfaceTest {
    private static MediaSession s;
    private static ContentSubSystemInterface cams;

    @BeforeClass
    public static void connect() throws Exception {
        s = new MediaSession("CamSubsys", "Camera", "Preset", "CameraFarGroup");
        cams = new ContentSubSystemInterface(s.svc);
    }

    @AfterClass
    public static void disconnect() {
        if (s != null) {
            s.close();
        }
    }

    @Before
    public void reset() throws Exception {
        s.reset();
    }

    private List<String> moves() throws Exception {
        return s.sent("csCameraMove");
    }

    @Test
    public void countsAndTheFarCameraList() throws Exception {
        assertEquals(4, cams.nearCameraCount());
        assertEquals(4, cams.farCameraCount());
        assertEquals(3, cams.presetCount(true));
        assertArrayEquals(new int[] {11}, cams.farCameraIds());
    }

    @Test
    public void noFarTerminalsGiveZeroAndZero() throws Exception {
        s.sim.merge("CamSubsys", s.handles("CamSubsys")[0], "{\"numFarTerminals\":0}");
        assertEquals(0, cams.NativeGetFarCameraList());
        assertEquals(0, cams.NativeGetNumFarCameras());
        assertArrayEquals(new int[0], cams.farCameraIds());
    }

    @Test
    public void aFarGroupThatCannotBeReadGivesItsCode() throws Exception {
        s.sim.error("csCameraFarGroupGet", -4, 1);
        assertEquals(-4, cams.NativeGetFarCameraList());
        assertArrayEquals("read again", new int[] {11}, cams.farCameraIds());
    }

    @Test
    public void operationFourIsRefusedWithNothingSent() throws Exception {
        assertEquals(-1, cams.NativeNearCameraSelect(1, 4));
        assertEquals(0, s.sim.count("csCameraSelect"));
        assertEquals(0, s.sim.count("csCameraGetById"));
        assertEquals(0, s.sim.count("csCamSubsysGet"));
    }

    @Test
    public void unsupportedResolutionPostsTheErrorEvent() throws Exception {
        s.sim.error("csCameraSelect", -21, 1);
        assertEquals(-21, cams.selectForContent(2, true));
        Recorder.Event e = s.next(KyrEvents.EVENT_ERROR, MediaSession.WAIT);
        assertNotNull(e);
        assertEquals(1282, e.value1);
        assertEquals(-1, e.value2);
        assertEquals("an accepted selection posts no error", 0, cams.selectForContent(2, true));
        for (Recorder.Event later : s.flush()) {
            assertTrue(later.toString(), later.code != KyrEvents.EVENT_ERROR);
        }
    }

    @Test
    public void panDirectionsAndStop() throws Exception {
        assertEquals(0, cams.NativePanCamera(1, 0, true));
        assertEquals(0, cams.NativePanCamera(1, -5, false));
        assertEquals(0, cams.NativePanCamera(1, -5, true));
        assertEquals(0, cams.tilt(true, 2));
        assertEquals(0, cams.zoom(true, -2));
        assertEquals(0, cams.stop(true));
        List<String> m = moves();
        assertEquals(6, m.size());
        String[] want = {"1", "6", "0", "3", "4", "6"};
        for (int i = 0; i < want.length; i++) {
            assertTrue(m.get(i), m.get(i).contains("\"moveType\":" + want[i]));
        }
        // The model moved the camera: pan +10 then -10, tilt +10, zoom clamped at its minimum.
        Recorder.Event e = s.next(KyrEvents.EVENT_CAMERA_CHANGED, x -> x.value2 != 0x100, MediaSession.WAIT);
        assertNotNull(e);
        assertEquals(1, e.value1);
        assertEquals(0x200, e.value2);
    }

    @Test
    public void selectedThreeGivesBothSelectionFields() throws Exception {
        s.sim.merge("Camera", s.handles("Camera")[0], "{\"selected\":3}");
        long h = cams.NativeGetCameraInfoId(1);
        assertTrue(h > 0);
        try {
            ByteBuffer c = KyrCameraStruct.wrap(h);
            assertEquals(156, KyrCameraStructLayout.SIZE);
            assertEquals(136, KyrCameraStructLayout.SELECTED_PEOPLE_OFFSET);
            assertEquals(148, KyrCameraStructLayout.SELECTED_CONTENT_OFFSET);
            assertEquals(1, c.get(136));
            assertEquals(2, c.getInt(148));
            ContentSubSystemInterface.Camera cam = KyrCameraStruct.read(c);
            assertTrue(cam.peopleSource);
            assertTrue(cam.contentSource);
            assertTrue(cam.near);
            assertEquals("Main camera", cam.name);
        } finally {
            cams.NativeReleaseCameraStruct((int) h);
        }
        assertNull("released", KyrCameraStruct.wrap(h));
    }

    @Test
    public void selectionChangesTheCameraOnTheCodec() throws Exception {
        assertEquals(0, cams.selectForPeople(2, true));
        Recorder.Event e = s.next(KyrEvents.EVENT_CAMERA_CHANGED, x -> x.value1 == 2, MediaSession.WAIT);
        assertNotNull(e);
        assertEquals(2, e.value1);
        assertEquals(0x100, e.value2);
        ContentSubSystemInterface.Camera doc = cams.camera(2);
        assertTrue(doc.peopleSource);
        assertFalse(doc.contentSource);
        assertEquals("Document camera", cams.nearCamera(1).name);
        assertEquals("far cameras have no index", -1, cams.NativeGetCameraInfoIndex(0, 0));
        assertNull(cams.camera(99));
    }

    @Test
    public void presetsRecallClearAndTheirEvents() throws Exception {
        assertTrue(cams.presetIsSet(true, 0));
        assertEquals(0, cams.gotoPreset(true, 0));
        Recorder.Event e = s.next(KyrEvents.EVENT_CAMERA_PRESET_SELECTED, MediaSession.WAIT);
        assertNotNull(e);
        assertEquals(1, e.value1);
        assertEquals(0, e.value2);
        assertEquals(1, cams.presetSelected(true, 0));
        assertEquals(0, cams.clearPreset(true, 0));
        Recorder.Event c = s.next(KyrEvents.EVENT_CAMERA_PRESET_CHANGED, MediaSession.WAIT);
        assertNotNull(c);
        assertFalse(cams.presetIsSet(true, 0));
        assertEquals(-1, cams.gotoPreset(true, 9));
    }

    @Test
    public void trackingModeIsSent() throws Exception {
        assertEquals(0, cams.setTrackingMode(1, 2));
        String set = s.sent("csCameraSet").get(0);
        assertTrue(set, set.contains("\"flags\":4194304"));
        assertTrue(set, set.contains("\"trackingMode\":2"));
    }

    @Test
    public void cameraAndGroupNotificationsPostTheirIds() throws Exception {
        s.sim.notify("csCameraAddedCB", 0x100000, 0);
        Recorder.Event a = s.next(KyrEvents.EVENT_CAMERA_ADDED, MediaSession.WAIT);
        assertNotNull(a);
        assertEquals(1, a.value1);
        assertEquals(0x100000, a.value2);
        s.sim.notify("csCameraFarGroupRemovedCB", 0x200, 0);
        Recorder.Event g = s.next(KyrEvents.EVENT_CAMERA_FAR_GROUP_REMOVED, MediaSession.WAIT);
        assertNotNull(g);
        assertEquals(1, g.value1);
        assertEquals(0x200, g.value2);
        s.sim.notify("csCamSubsysChangedCB", 0x20, 0);
        Recorder.Event st = s.next(KyrEvents.EVENT_CONTENT_SETTINGS_CHANGED, MediaSession.WAIT);
        assertNotNull(st);
        assertEquals(0, st.value2);
        cams.takeEventSettings(st.value1);
    }

    @Test
    public void presetSelectedWithoutAConnectionIsFF() throws Exception {
        assertEquals(0, s.svc.disconnect());
        assertEquals(0xFF, cams.presetSelected(true, 0));
        assertEquals(-1, cams.nearCameraCount());
    }
}
