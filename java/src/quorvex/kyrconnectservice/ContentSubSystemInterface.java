package quorvex.kyrconnectservice;

import java.nio.ByteBuffer;
import java.util.Map;

/**
 * The codec's cameras: near and far cameras, which near camera sends people
 * or content video, pan/tilt/zoom of the selected camera, presets and
 * tracking, and the two camera settings.
 *
 * <p>Every method talks to the codec on the calling thread. Changes arrive as
 * events: {@code EVENT_CAMERA_CHANGED}, {@code _ADDED}, {@code _REMOVED} with
 * the camera id, the far-group events with the group id, and the preset
 * events with (near, instance).
 */
public class ContentSubSystemInterface {
    /** What {@link #presetSelected} answers when the codec cannot say. */
    public static final int PRESET_UNKNOWN = 0xFF;

    // Selection operations of NativeNearCameraSelect.
    static final int PEOPLE_OFF = 0;
    static final int PEOPLE_ON = 1;
    static final int CONTENT_OFF = 2;
    static final int CONTENT_ON = 3;

    /** One camera as the codec describes it. */
    public static final class Camera {
        public final int id;
        public final String name;
        public final boolean near;
        public final boolean peopleSource;
        public final boolean contentSource;
        public final int portIndicator;
        public final int instance;
        public final int source;
        public final boolean enabled;
        public final int capabilities;
        public final int trackingMode;

        Camera(int id, String name, boolean near, boolean peopleSource, boolean contentSource, int portIndicator,
               int instance, int source, boolean enabled, int capabilities, int trackingMode) {
            this.id = id;
            this.name = name;
            this.near = near;
            this.peopleSource = peopleSource;
            this.contentSource = contentSource;
            this.portIndicator = portIndicator;
            this.instance = instance;
            this.source = source;
            this.enabled = enabled;
            this.capabilities = capabilities;
            this.trackingMode = trackingMode;
        }

        @Override
        public String toString() {
            return name + " (id " + id + (near ? ", near" : ", far") + (peopleSource ? ", people" : "")
                    + (contentSource ? ", content" : "") + ")";
        }
    }

    /**
     * The cameras of a service that was set up (its library is loaded).
     *
     * @param service the service whose connection is used
     */
    public ContentSubSystemInterface(KyrConnectService service) {
        if (service == null) {
            throw new NullPointerException("service");
        }
    }

    /** How many near cameras the codec supports; -1 when it cannot be read. */
    public int nearCameraCount() {
        return NativeGetNumNearCameras();
    }

    /** How many far cameras the far terminals support; -1 when it cannot be read. */
    public int farCameraCount() {
        return NativeGetNumFarCameras();
    }

    /** Presets available for near or far cameras; -1 when it cannot be read. */
    public int presetCount(boolean near) {
        return NativeGetNumPresets(near ? 1 : 0);
    }

    /** The ids of the far cameras (empty when there are none), or null when they cannot be read. */
    public int[] farCameraIds() {
        long head = NativeGetFarCameraList();
        if (head < 0) {
            return null;
        }
        try {
            return KyrFarCameraList.readIds(head);
        } finally {
            NativeReleaseFarCameraList((int) head);
        }
    }

    /** The camera with that id, or null. */
    public Camera camera(int id) {
        return takeCamera(NativeGetCameraInfoId(id));
    }

    /** Near camera number index (0 first), or null. */
    public Camera nearCamera(int index) {
        return takeCamera(NativeGetCameraInfoIndex(1, index));
    }

    private Camera takeCamera(long handle) {
        if (handle <= 0) {
            return null;
        }
        try {
            ByteBuffer c = KyrCameraStruct.wrap(handle);
            return c == null ? null : KyrCameraStruct.read(c);
        } finally {
            NativeReleaseCameraStruct((int) handle);
        }
    }

    /** Makes a near camera the people source or stops it being one: the codec's result. */
    public int selectForPeople(int id, boolean on) {
        return NativeNearCameraSelect(id, on ? PEOPLE_ON : PEOPLE_OFF);
    }

    /** Makes a near camera the content source or stops it being one: the codec's result. */
    public int selectForContent(int id, boolean on) {
        return NativeNearCameraSelect(id, on ? CONTENT_ON : CONTENT_OFF);
    }

    /** Sets a camera's tracking mode: the codec's result. */
    public int setTrackingMode(int id, int mode) {
        return NativeSetTrackingMode(id, mode);
    }

    /** Starts panning the selected camera right (direction 0 or more) or left. */
    public int pan(boolean near, int direction) {
        return NativePanCamera(near ? 1 : 0, direction, true);
    }

    /** Starts tilting the selected camera up (direction 0 or more) or down. */
    public int tilt(boolean near, int direction) {
        return NativeTiltCamera(near ? 1 : 0, direction, true);
    }

    /** Starts zooming the selected camera in (direction 0 or more) or out. */
    public int zoom(boolean near, int direction) {
        return NativeZoomCamera(near ? 1 : 0, direction, true);
    }

    /** Stops any movement of the selected camera. */
    public int stop(boolean near) {
        return NativePanCamera(near ? 1 : 0, 0, false);
    }

    /** Whether a preset holds a stored position. */
    public boolean presetIsSet(boolean near, int instance) {
        return NativeGetPreset(near ? 1 : 0, instance) != 0;
    }

    /** 1 when the preset is the one last recalled, 0 when not, {@link #PRESET_UNKNOWN} on failure. */
    public int presetSelected(boolean near, int instance) {
        return NativePresetIsSelected(near ? 1 : 0, instance) & 0xFF;
    }

    /** Moves the cameras to a stored preset: the codec's result, -1 on failure. */
    public int gotoPreset(boolean near, int instance) {
        return NativeGotoPreset(near ? 1 : 0, instance);
    }

    /** Clears a preset: the codec's result, -1 on failure. */
    public int clearPreset(boolean near, int instance) {
        return NativeClearPreset(near ? 1 : 0, instance);
    }

    /** Stores a preset again as the codec holds it: the codec's result, 0 when it failed. */
    public int storePreset(boolean near, int instance) {
        return NativeSetPreset(near ? 1 : 0, instance);
    }

    /** The camera settings as key/value pairs, in list order ({@link SettingsUnavailableException} if unreadable). */
    public Map<String, String> getSettings() {
        long head = NativeGetContentSettings();
        return InterfaceSupport.takeList(head, "content", h -> NativeContentSettingsRelease((int) h));
    }

    /** Changes one camera setting: the codec's result, or a negative code. */
    public int setSetting(String key, String value) {
        return NativeSetContentSettings(key, value);
    }

    /** Reads and releases the settings list of {@code EVENT_CONTENT_SETTINGS_CHANGED}. */
    public Map<String, String> takeEventSettings(int handle) {
        return InterfaceSupport.takeList(handle, "content update", h -> NativeContentSettingsRelease((int) h));
    }

    // The library's entry points; handles are positive, negative values are error codes.
    native int NativeGetNumNearCameras();
    native int NativeGetNumFarCameras();
    native int NativeGetNumPresets(int near);
    native long NativeGetFarCameraList();
    native void NativeReleaseFarCameraList(int list);
    native long NativeGetCameraInfoId(int id);
    native long NativeGetCameraInfoIndex(int near, int index);
    native void NativeReleaseCameraStruct(int handle);
    native int NativeNearCameraSelect(int id, int operation);
    native int NativeSetTrackingMode(int id, int mode);
    native int NativePanCamera(int near, int direction, boolean move);
    native int NativeTiltCamera(int near, int direction, boolean move);
    native int NativeZoomCamera(int near, int direction, boolean move);
    native byte NativeGetPreset(int near, int instance);
    native byte NativePresetIsSelected(int near, int instance);
    native int NativeGotoPreset(int near, int instance);
    native int NativeClearPreset(int near, int instance);
    native int NativeSetPreset(int near, int instance);
    native long NativeGetContentSettings();
    native int NativeSetContentSettings(String key, String value);
    native void NativeContentSettingsRelease(int list);
}
