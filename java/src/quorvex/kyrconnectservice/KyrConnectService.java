package quorvex.kyrconnectservice;

import java.lang.ref.WeakReference;

/**
 * The Java half of the service: sets the native library up, connects to and
 * pairs with the codec, and receives every change the codec reports as an
 * event.
 *
 * <p>Events arrive on native threads (the library's worker, dispatch and
 * main-loop threads, or the calling thread for state changes caused by a
 * call). They are delivered synchronously: any native record named by an
 * event value stays valid only while the listener runs, so a listener copies
 * what it needs and hands the rest to its own thread. A listener must not
 * block for long, and must not wait for another thread that is itself inside
 * a call into this class.
 *
 * <p>Typical use:
 * <pre>
 *   KyrConnectService svc = new KyrConnectService(listener);
 *   svc.setup();
 *   svc.connect("codec.example", serial, "1.0", "1.0", "99.0");
 *   // EVENT_CONNECT_STATE_CHANGED with KYR_Connect_PairingRequired: svc.pair(user, password);
 *   ...
 *   svc.disconnect();
 *   svc.release();
 * </pre>
 */
public class KyrConnectService {

    /** Receives events; see {@link KyrEvents} for the codes. */
    public interface EventListener {
        void onEvent(int code, int value1, int value2, Object obj);
    }

    static {
        // Tests and tools may point at a particular build of the library.
        String path = System.getProperty("kyrconnect.library");
        if (path != null && !path.isEmpty()) {
            System.load(path);
        } else {
            System.loadLibrary("kyrconnect");
        }
    }

    /** The native side's handle for this service; written by native code only. */
    private int mNativeCallbackCookie;

    private final EventListener mListener;

    public KyrConnectService(EventListener listener) {
        mListener = listener;
    }

    /** Starts the library's threads. 0, or -1 on failure. */
    public int setup() {
        return NativeSetup(new WeakReference<KyrConnectService>(this));
    }

    /**
     * Connects to the codec at address ("host" or "host:port") and
     * authenticates with the device's serial number. 0 when connected, -23
     * when the codec wants pairing first (see {@link #pair}), -32
     * ({@link KyrErrors#CSAPI_ERR_SERVER_IDENTITY}) when a fingerprint is
     * pinned and the codec does not present it, -15 before
     * {@link #setup}, -10 for a missing or over-long address or an
     * over-long serial, or another CSAPI error (an empty address, for
     * example, gives -8, a missing serial the codec's refusal).
     */
    public int connect(String address, String serialNumber, String clientVersion,
                       String minServerVersion, String maxServerVersion) {
        return NativeConnect(address, serialNumber, clientVersion, minServerVersion, maxServerVersion);
    }

    /** Pairs with administrator credentials after connect() answered -23. */
    public int pair(String adminName, String adminPassword) {
        return NativePair(adminName, adminPassword);
    }

    public int disconnect() {
        return NativeDisconnect();
    }

    /** One of the KyrEvents.KYR_Connect_* values. */
    public int getConnectionState() {
        return NativeGetConnectionState();
    }

    /** The lowest client version the codec accepts, or null. */
    public String getMinDavixVersion() {
        return NativeGetMinDavixVersion();
    }

    /**
     * The codec's fingerprint: the SHA-256 of its certificate's public key
     * (SubjectPublicKeyInfo) as 64 lowercase hex digits, available from the
     * moment the TLS connection is up (also while pairing is required).
     * Null without a connection or on a plain TCP one.
     *
     * <p>Show it to the user when pairing and, once the pairing succeeded,
     * store it with the codec's address; pass it to
     * {@link #setPinnedFingerprint} before every later connect.
     */
    public String getServerFingerprint() {
        return NativeGetServerFingerprint();
    }

    /**
     * Pins the codec's fingerprint (64 hex digits, either case) for every
     * following connect: a codec presenting another key, or a connection
     * without TLS, then fails with -32 ("Server identity changed") before
     * anything is sent to it, and the state becomes KYR_Connect_Failed.
     * Null or "" removes the pin. 0, or -10 for any other text (the pin
     * stays as it was). The pin holds for the whole process.
     */
    public int setPinnedFingerprint(String hex) {
        return NativeSetPinnedFingerprint(hex);
    }

    public int sendSystemInfo(String appVersion, String platformVersion, int addressMode, String language) {
        return NativeSendSystemInfoToKyr(appVersion, platformVersion, addressMode, language);
    }

    /** Stops the library's threads; no event is delivered to this object afterwards. */
    public void release() {
        NativeRelease();
    }

    int nativeCookie() {
        return mNativeCallbackCookie;
    }

    /** Called by the library on its own threads. */
    private static void postEventFromNative(Object ref, int code, int value1, int value2, Object obj) {
        if (!(ref instanceof WeakReference)) {
            return;
        }
        Object target = ((WeakReference<?>) ref).get();
        if (!(target instanceof KyrConnectService)) {
            return;
        }
        EventListener listener = ((KyrConnectService) target).mListener;
        if (listener != null) {
            listener.onEvent(code, value1, value2, obj);
        }
    }

    native int NativeSetup(Object ref);
    native int NativeConnect(String address, String serialNumber, String clientVersion,
                             String minServerVersion, String maxServerVersion);
    native int NativePair(String adminName, String adminPassword);
    native int NativeDisconnect();
    native int NativeGetConnectionState();
    native String NativeGetMinDavixVersion();
    native int NativeSendSystemInfoToKyr(String appVersion, String platformVersion, int addressMode,
                                         String language);
    native String NativeGetServerFingerprint();
    native int NativeSetPinnedFingerprint(String hex);
    native void NativeFinalize();
    native void NativeRelease();
}
