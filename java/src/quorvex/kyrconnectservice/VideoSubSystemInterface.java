package quorvex.kyrconnectservice;

/**
 * How the codec lays out video on its main monitor: picture-in-picture (PIP)
 * on or off and where, swapping the two panels, the dual-monitor (DME) mode
 * and layout sequence, and the layout asked of a conference bridge (KLV).
 *
 * <p>Results are the codec's answer (0 or more) or a negative code; -1 also
 * means a value out of range, refused before anything was sent. Changes of
 * the main monitor arrive as {@code EVENT_VIDEO_PIP_MODE_CHANGED},
 * {@code _PIP_SWAP_CHANGED}, {@code _DME_MODE_CHANGED}, {@code _DME_SWAP_CHANGED},
 * {@code EVENT_VIDEO_ENDPOINT_TYPE} and {@code _PIP_LOCATION_CAP_CHANGED}.
 */
public class VideoSubSystemInterface {
    /** PIP mode meaning PIP is off; 0 to 3 are PIP on at that location. */
    public static final int PIP_OFF = -1;
    /** Highest PIP location. */
    public static final int PIP_LOCATION_MAX = 3;
    /** KLV layout value that asks the bridge for its default; values run up to {@link #KLV_MAX}. */
    public static final int KLV_DEFAULT = -1;
    /** Highest KLV layout value. */
    public static final int KLV_MAX = 100;

    /**
     * The video layout of a service that was set up (its library is loaded).
     *
     * @param service the service whose connection is used
     */
    public VideoSubSystemInterface(KyrConnectService service) {
        if (service == null) {
            throw new NullPointerException("service");
        }
    }

    /** The PIP location, {@link #PIP_OFF}, or a negative code below -1 when it cannot be read. */
    public long pipMode() {
        return NativeGetPipMode();
    }

    /** Switches PIP on at location 0 to 3, or off with {@link #PIP_OFF}. */
    public long setPipMode(int mode) {
        return NativeSetPipMode(mode);
    }

    /** The PIP locations the main monitor supports (bit mask), or a negative code. */
    public long pipCapabilities() {
        return NativeGetPipCapabilities();
    }

    /** Whether the two panels are swapped (1), not (0), or a negative code. */
    public long pipSwapMode() {
        return NativeGetPIPSwapMode();
    }

    /** Swaps the two panels of the PIP layout. */
    public long togglePipSwap() {
        return NativeTogglePIPSwapMode();
    }

    /** The dual-monitor mode (0 or 1), or a negative code. */
    public long dmeMode() {
        return NativeGetDMEMode();
    }

    /** Switches dual-monitor mode on or off. */
    public long setDmeMode(boolean on) {
        return NativeSetDMEMode(on ? 1 : 0);
    }

    /** Whether the dual-monitor panels are swapped (1), not (0), or a negative code. */
    public long dmeSwapMode() {
        return NativeGetDMESwapMode();
    }

    /** Swaps the two dual-monitor panels. */
    public long toggleDmeSwap() {
        return NativeToggleDMESwapMode();
    }

    /** Asks the codec for its next dual-monitor layout. */
    public long nextDmeLayout() {
        return NativeGotoNextDMELayout();
    }

    /** Asks a conference bridge for layout -1 to 100. */
    public long gotoKlvLayout(int layout) {
        return NativeGotoKLVLayout(layout);
    }

    /** The kind of endpoint connected: 4 or 3 for a bridge, else 0 or 1; or a negative code. */
    public long endpointType() {
        return NativeGetEndPointType();
    }

    // The library's entry points.
    native long NativeGetPipCapabilities();
    native long NativeGetPipMode();
    native long NativeSetPipMode(long mode);
    native long NativeGetPIPSwapMode();
    native long NativeTogglePIPSwapMode();
    native long NativeGetDMEMode();
    native long NativeSetDMEMode(long mode);
    native long NativeGetDMESwapMode();
    native long NativeToggleDMESwapMode();
    native long NativeGotoNextDMELayout();
    native long NativeGotoKLVLayout(long layout);
    native long NativeGetEndPointType();
    native long NativeGetVideoSettings();
    native long NativeSetVideoSettings(String key, String value);
    native void NativeVideoSettingsRelease(int list);
}
