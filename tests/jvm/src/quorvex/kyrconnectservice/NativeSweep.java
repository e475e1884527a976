package quorvex.kyrconnectservice;

import java.io.File;
import java.lang.reflect.Constructor;
import java.lang.reflect.InvocationTargetException;
import java.lang.reflect.Method;
import java.lang.reflect.Modifier;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Comparator;
import java.util.Enumeration;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import java.util.Set;
import java.util.jar.JarEntry;
import java.util.jar.JarFile;

/**
 * The child program of {@link NativeSweepTest}: calls every native method of
 * every class of the service's jar with hostile arguments, before set-up,
 * set up without a connection, connected to the codec simulator, after
 * disconnect and after release. It prints one "FAIL ..." line per broken
 * expectation and ends with "SWEEP calls=N failures=F"; the parent checks that
 * line and scans the output for JNI and sanitizer warnings.
 *
 * Expectations that hold for every entry point: no exception comes back (a
 * pending exception left by native code is thrown on return), an int result
 * is 0 or more or a CSAPI error code (-1 to -31), a getter's long is 0, a
 * CSAPI error code or a live handle (1..0x7FFFFFFF, readable through
 * newDirectByteBuffer) that one release of its class frees, a getter without
 * a connection gives no block (static structures aside), the service's entry
 * points give -15 before set-up, and newDirectByteBuffer gives null for any
 * handle that names nothing.
 */
public final class NativeSweep {
    static final String SERIAL = "KYR-JVM-SWEEP";
    static final String PKG = "quorvex.kyrconnectservice.";
    static final int NEVER_ISSUED = 0x7ffffff0;
    static final int BIG = 1 << 17;
    static final long SLOW_MS = 3000;
    static final long STUCK_MS = 20000;

    /** Entry points that change the service's life; the sweep drives them itself. */
    static final Set<String> LIFECYCLE = Set.of("NativeSetup", "NativeConnect", "NativeDisconnect",
            "NativeFinalize", "NativeRelease");
    /** Would re-pair an already paired session; swept only while not connected. */
    static final Set<String> NOT_WHILE_CONNECTED = Set.of("NativePair");
    /** Getters that list what the library cached from the codec, with or without a connection. */
    static final Set<String> FROM_CACHE = Set.of("NativeDirectoryGetServers");
    /** Long getters whose value is not a handle. */
    static final Set<String> NOT_A_HANDLE = Set.of("NativeGetSystemTime");
    /** Classes whose long results are modes and codes, not handles. */
    static final Set<String> LONG_IS_A_VALUE = Set.of("VideoSubSystemInterface");
    /** Service entry points that answer "Not initialized" (-15) before set-up. */
    static final Set<String> MINUS_15_BEFORE_SETUP = Set.of("NativeConnect", "NativePair",
            "NativeDisconnect", "NativeSendSystemInfoToKyr");

    enum Phase { BEFORE_SETUP, SET_UP, CONNECTED, DISCONNECTED, RELEASED }

    private final List<Method> natives = new ArrayList<>();
    private final Map<Class<?>, Object> instances = new HashMap<>();
    private KyrConnectService svc;
    private SimProcess sim;
    private Phase phase;
    private int calls;
    private int failures;
    private int released = NEVER_ISSUED - 1;
    private final List<Given> given = new ArrayList<>();
    private final List<Method[]> pairs = new ArrayList<>();
    /** The arguments of the round that gave each getter's block. */
    private final Map<Method, Object[]> givingArgs = new HashMap<>();
    private volatile String current = "";
    private volatile long currentSince;

    public static void main(String[] args) throws Exception {
        NativeSweep s = new NativeSweep();
        s.startWatchdog();
        long t0 = System.currentTimeMillis();
        s.run();
        System.out.println("SWEEP calls=" + s.calls + " failures=" + s.failures + " natives=" + s.natives.size()
                + " ms=" + (System.currentTimeMillis() - t0));
        System.exit(s.failures == 0 ? 0 : 1);
    }

    void fail(Method m, Object[] args, String why) {
        failures++;
        System.out.println("FAIL " + phase + " " + name(m) + describe(args) + ": " + why);
    }

    static String name(Method m) {
        return m.getDeclaringClass().getSimpleName() + "." + m.getName();
    }

    static String describe(Object[] args) {
        StringBuilder b = new StringBuilder("(");
        for (int i = 0; args != null && i < args.length; i++) {
            Object a = args[i];
            b.append(i == 0 ? "" : ", ");
            if (a instanceof String) {
                String s = (String) a;
                b.append(s.length() > 20 ? "\"" + s.charAt(0) + "...\"(" + s.length() + ")" : escape(s));
            } else if (a instanceof ByteBuffer) {
                ByteBuffer bb = (ByteBuffer) a;
                b.append(bb.isDirect() ? "direct" : "heap").append(bb.isReadOnly() ? "-ro" : "")
                        .append("[").append(bb.capacity()).append("]");
            } else {
                b.append(a);
            }
        }
        return b.append(")").toString();
    }

    static String escape(String s) {
        StringBuilder b = new StringBuilder("\"");
        for (char c : s.toCharArray()) {
            b.append(c >= 0x20 && c < 0x7f ? String.valueOf(c) : String.format("\\u%04x", (int) c));
        }
        return b.append("\"").toString();
    }

    void run() throws Exception {
        findNatives();
        svc = new KyrConnectService((code, v1, v2, obj) -> { });
        phase = Phase.BEFORE_SETUP;
        sweep();

        phase = Phase.SET_UP;
        check(svc.setup() == 0, "set-up failed");
        sweep();

        phase = Phase.CONNECTED;
        sim = SimProcess.start("--serial", SERIAL);
        int rc = svc.connect(sim.address(), SERIAL, "1.0.0", "1.0.0", "99.0.0");
        check(rc == 0, "connect gave " + rc);
        sweep();
        // Lists and records the sweep was given name real blocks: find the
        // release that frees each, release twice, hand lists to the wrong
        // release, then sweep again with a released handle among the values.
        pairReleases();
        wrongRelease();
        sweep();

        phase = Phase.DISCONNECTED;
        svc.disconnect();
        sweep();
        lifecycle();

        phase = Phase.RELEASED;
        svc.NativeFinalize();
        svc.release();
        svc.release();
        svc.NativeFinalize();
        sweep();
        sim.close();
    }

    void check(boolean ok, String why) {
        if (!ok) {
            failures++;
            System.out.println("FAIL " + phase + ": " + why);
        }
    }

    /** Every native method of every class in the jar that holds the service. */
    void findNatives() throws Exception {
        File jarFile = new File(KyrConnectService.class.getProtectionDomain().getCodeSource().getLocation().toURI());
        ClassLoader loader = KyrConnectService.class.getClassLoader();
        try (JarFile jar = new JarFile(jarFile)) {
            for (Enumeration<JarEntry> e = jar.entries(); e.hasMoreElements();) {
                String n = e.nextElement().getName();
                if (!n.endsWith(".class") || !n.startsWith("quorvex/kyrconnectservice/")) {
                    continue;
                }
                Class<?> c = Class.forName(n.substring(0, n.length() - 6).replace('/', '.'), false, loader);
                for (Method m : c.getDeclaredMethods()) {
                    if (Modifier.isNative(m.getModifiers())) {
                        m.setAccessible(true);
                        natives.add(m);
                    }
                }
            }
        }
        natives.sort(Comparator.comparing(NativeSweep::name).thenComparing(m -> Arrays.toString(m.getParameterTypes())));
        System.out.println("natives: " + natives.size() + " in " + jarFile.getName());
    }

    /** An object to call instance natives on: any constructor that works, given the service where it asks. */
    Object target(Method m) {
        if (Modifier.isStatic(m.getModifiers())) {
            return null;
        }
        Class<?> c = m.getDeclaringClass();
        if (c == KyrConnectService.class) {
            return svc;
        }
        if (instances.containsKey(c)) {
            return instances.get(c);
        }
        Object made = null;
        for (Constructor<?> k : c.getDeclaredConstructors()) {
            Class<?>[] types = k.getParameterTypes();
            Object[] a = new Object[types.length];
            for (int i = 0; i < types.length; i++) {
                a[i] = types[i] == KyrConnectService.class ? svc : zero(types[i]);
            }
            try {
                k.setAccessible(true);
                made = k.newInstance(a);
                break;
            } catch (ReflectiveOperationException | RuntimeException e) {
                // try the next constructor
            }
        }
        instances.put(c, made);
        return made;
    }

    static Object zero(Class<?> t) {
        if (!t.isPrimitive()) {
            return null;
        }
        if (t == boolean.class) {
            return false;
        }
        if (t == char.class) {
            return '\0';
        }
        return values(t, 0, 0)[0];
    }

    static ByteBuffer direct(int size, int fill) {
        ByteBuffer b = ByteBuffer.allocateDirect(size).order(ByteOrder.nativeOrder());
        for (int i = 0; i < size; i++) {
            b.put(i, (byte) fill);
        }
        return b;
    }

    /** Hostile values for one parameter type; released and cookie are handles of this run. */
    static Object[] values(Class<?> t, int released, int cookie) {
        if (t == int.class) {
            return new Object[] {0, -1, 1, Integer.MIN_VALUE, Integer.MAX_VALUE, NEVER_ISSUED, released, cookie};
        }
        if (t == long.class) {
            return new Object[] {0L, -1L, Long.MIN_VALUE, Long.MAX_VALUE, (long) Integer.MIN_VALUE, 0xffffffffL,
                (long) NEVER_ISSUED, (long) released, (long) cookie, 0x100000000L | cookie};
        }
        if (t == boolean.class) {
            return new Object[] {false, true};
        }
        if (t == byte.class) {
            return new Object[] {(byte) 0, (byte) -1, Byte.MIN_VALUE, Byte.MAX_VALUE};
        }
        if (t == short.class) {
            return new Object[] {(short) 0, (short) -1, Short.MIN_VALUE, Short.MAX_VALUE};
        }
        if (t == char.class) {
            return new Object[] {'\0', '\uffff', '\ud800'};
        }
        if (t == float.class) {
            return new Object[] {0f, Float.NaN, Float.NEGATIVE_INFINITY, Float.MAX_VALUE};
        }
        if (t == double.class) {
            return new Object[] {0d, Double.NaN, Double.NEGATIVE_INFINITY, Double.MAX_VALUE};
        }
        if (t == String.class) {
            return new Object[] {null, "", "a".repeat(5000), "\u0000x", "\ud83d", "%s%n%x%p%s%s%s",
                "\u00e9\ud83d\ude00", "-1"};
        }
        if (t == ByteBuffer.class) {
            return new Object[] {null, ByteBuffer.allocateDirect(0), direct(1, 0xff), direct(BIG, 0xff),
                direct(BIG, 0xff).asReadOnlyBuffer(), ByteBuffer.allocate(BIG), direct(BIG, 'A'), direct(BIG, 0),
                direct(BIG, 0x7f)};
        }
        if (t == Object.class) {
            return new Object[] {null, new Object(), "text", new int[0]};
        }
        if (t.isArray()) {
            return new Object[] {null, java.lang.reflect.Array.newInstance(t.getComponentType(), 0)};
        }
        return new Object[] {null};
    }

    /** One call through reflection, timed and checked for a thrown exception. */
    Object call(Method m, Object target, Object[] args, boolean[] threw) {
        current = name(m) + describe(args);
        currentSince = System.currentTimeMillis();
        calls++;
        try {
            return m.invoke(target, args);
        } catch (InvocationTargetException e) {
            threw[0] = true;
            fail(m, args, "threw " + e.getCause());
            return null;
        } catch (IllegalAccessException | IllegalArgumentException e) {
            threw[0] = true;
            fail(m, args, "could not be called: " + e);
            return null;
        } finally {
            long took = System.currentTimeMillis() - currentSince;
            if (took > SLOW_MS) {
                fail(m, args, "took " + took + " ms");
            }
            current = "";
        }
    }

    void sweep() throws Exception {
        int cookie = svc.nativeCookie();
        long t0 = System.currentTimeMillis();
        int before = calls;
        for (Method m : natives) {
            if (LIFECYCLE.contains(m.getName())
                    || (phase == Phase.CONNECTED && NOT_WHILE_CONNECTED.contains(m.getName()))) {
                continue;
            }
            Object target = target(m);
            if (target == null && !Modifier.isStatic(m.getModifiers())) {
                fail(m, null, "no instance of " + m.getDeclaringClass().getName() + " could be made");
                continue;
            }
            Class<?>[] types = m.getParameterTypes();
            Object[][] vals = new Object[types.length][];
            int rounds = 1;
            for (int j = 0; j < types.length; j++) {
                vals[j] = values(types[j], released, cookie);
                rounds = Math.max(rounds, vals[j].length);
            }
            for (int r = 0; r < rounds; r++) {
                Object[] args = new Object[types.length];
                for (int j = 0; j < types.length; j++) {
                    args[j] = vals[j][(r + j) % vals[j].length];
                }
                boolean[] threw = {false};
                Object result = call(m, target, args, threw);
                if (!threw[0]) {
                    expect(m, args, result);
                }
            }
            afterwards(m, target);
        }
        System.out.println("phase " + phase + ": " + (calls - before) + " calls in "
                + (System.currentTimeMillis() - t0) + " ms");
    }

    boolean connected() {
        return phase == Phase.CONNECTED;
    }

    void expect(Method m, Object[] args, Object result) {
        Class<?> rt = m.getReturnType();
        String n = m.getName();
        if (rt == int.class) {
            int r = (Integer) result;
            if (r < -31) {
                fail(m, args, "gave " + r + ", neither a result nor a CSAPI error code");
            }
            if (phase == Phase.BEFORE_SETUP && m.getDeclaringClass() == KyrConnectService.class
                    && MINUS_15_BEFORE_SETUP.contains(n) && r != -15) {
                fail(m, args, "gave " + r + " before set-up, not -15");
            }
        } else if (rt == long.class && isHandleGetter(m)) {
            long h = (Long) result;
            if (h > 0x7fffffffL || h < -31) {
                fail(m, args, "gave " + h + ", neither a handle nor a CSAPI error code");
            } else if (h > 0 && SettingsStruct.newDirectByteBuffer(h, 4) == null) {
                fail(m, args, "gave " + h + ", which names no native block");
            } else if (h > 0 && !connected() && !isStatic(m) && !FROM_CACHE.contains(n)) {
                fail(m, args, "gave " + h + " without a connection");
            } else if (h > 0 && !isStatic(m)) {
                given.add(new Given(m, target(m), h));
                givingArgs.putIfAbsent(m, args.clone());
            }
        } else if (rt == ByteBuffer.class && n.equals("newDirectByteBuffer")) {
            long h = (Long) args[0];
            if (result != null && (h >>> 32) == 0) {
                fail(m, args, "gave a buffer for a handle that names nothing");
            }
        }
    }

    /** Getters of the static structures (the same block every time, never released). */
    static boolean isStatic(Method m) {
        return m.getName().endsWith("System");
    }

    static boolean isHandleGetter(Method m) {
        String n = m.getName();
        return (n.startsWith("NativeGet") || n.startsWith("NativeDirectoryGet")) && !NOT_A_HANDLE.contains(n)
                && !LONG_IS_A_VALUE.contains(m.getDeclaringClass().getSimpleName());
    }

    /** Test hooks that store a setting are set back, so later calls are not slowed down or timed out. */
    void afterwards(Method m, Object target) {
        String n = m.getName();
        Class<?>[] types = m.getParameterTypes();
        if (m.getDeclaringClass().getSimpleName().equals("TestSubSystemInterface") && types.length == 1
                && types[0] == int.class && (n.contains("Rsp") || n.contains("Delay") || n.contains("Trigger")
                        || n.contains("Timeout"))) {
            call(m, target, new Object[] {0}, new boolean[1]);
        }
    }

    /** A live block a getter gave during the sweep. */
    static final class Given {
        final Method getter;
        final Object target;
        final long handle;

        Given(Method getter, Object target, long handle) {
            this.getter = getter;
            this.target = target;
            this.handle = handle;
        }
    }

    static boolean live(long h) {
        return SettingsStruct.newDirectByteBuffer(h, 4) != null;
    }

    static boolean isRelease(Method r) {
        Class<?>[] types = r.getParameterTypes();
        return r.getName().contains("Release") && !LIFECYCLE.contains(r.getName()) && types.length == 1
                && (types[0] == int.class || types[0] == long.class);
    }

    static Object handleArg(Method release, long h) {
        return release.getParameterTypes()[0] == int.class ? (Object) (int) h : (Object) h;
    }

    /**
     * For each block a getter gave: the release of the getter's class that
     * frees it (a release that refuses a block of another kind leaves it
     * alone). Once freed it must be gone, and releasing it again harmless.
     * A block no release of its class frees would leak.
     */
    void pairReleases() {
        Set<Method> done = new java.util.HashSet<>();
        for (Given g : given) {
            if (!live(g.handle)) {
                continue;  // already freed by an earlier pairing's release
            }
            Method freedBy = null;
            for (Method r : natives) {
                if (r.getDeclaringClass() != g.getter.getDeclaringClass() || !isRelease(r)) {
                    continue;
                }
                Object[] a = {handleArg(r, g.handle)};
                call(r, target(r), a, new boolean[1]);
                if (!live(g.handle)) {
                    freedBy = r;
                    call(r, target(r), a, new boolean[1]);
                    released = (int) g.handle;
                    break;
                }
            }
            if (freedBy == null) {
                fail(g.getter, null, "gave " + g.handle + ", which no release of its class frees");
            } else if (done.add(g.getter)) {
                pairs.add(new Method[] {g.getter, freedBy});
                System.out.println("pair " + name(g.getter) + " -> " + freedBy.getName());
            }
        }
        given.clear();
    }

    /** Every release entry point handed a live block another getter gave. */
    void wrongRelease() {
        for (Method[] p : pairs) {
            for (Method r : natives) {
                if (!isRelease(r) || r.equals(p[1])) {
                    continue;
                }
                Object[] none = fixedArgs(p[0]);
                Object got = call(p[0], target(p[0]), none, new boolean[1]);
                long h = got == null ? 0 : (Long) got;
                if (h <= 0) {
                    continue;
                }
                call(r, target(r), new Object[] {handleArg(r, h)}, new boolean[1]);
                // Whatever that did, the owner's release must still be safe.
                call(p[1], target(p[1]), new Object[] {handleArg(p[1], h)}, new boolean[1]);
                if (live(h)) {
                    fail(p[1], new Object[] {h}, "did not free what " + name(p[0]) + " gave");
                }
            }
        }
    }

    Object[] fixedArgs(Method getter) {
        Object[] a = givingArgs.get(getter);
        return a == null ? new Object[0] : a.clone();
    }

    /** The life-cycle entry points with hostile arguments, where they cannot dial out. */
    void lifecycle() throws Exception {
        String longText = "a".repeat(5000);
        // No address, or an address or serial number too long for its buffer.
        for (String[] a : new String[][] {{null, null, null, null, null}, {longText, SERIAL, "1", "1", "9"},
                {sim.address(), longText, "1", "1", "9"}}) {
            int rc = svc.connect(a[0], a[1], a[2], a[3], a[4]);
            check(rc == -10, "connect" + describe(a) + " gave " + rc + ", not -10");
        }
        for (String[] a : new String[][] {{sim.address(), null, "1", "1", "9"}, {"", "", "", "", ""}}) {
            int rc = svc.connect(a[0], a[1], a[2], a[3], a[4]);
            check(rc < 0 && rc >= -31, "connect" + describe(a) + " gave " + rc + ", not an error");
            check(svc.getConnectionState() != KyrEvents.KYR_Connect_Connected, "connect" + describe(a) + " connected");
            svc.disconnect();
        }
        // A loopback port nobody listens on: refused at once.
        int rc = svc.connect("127.0.0.1:1", SERIAL, "1", "1", "9");
        check(rc < 0 && rc >= -31, "connect to a closed port gave " + rc);
        check(svc.disconnect() <= 0, "disconnect while disconnected");
        check(svc.disconnect() <= 0, "disconnect twice");
    }

    void startWatchdog() {
        Thread t = new Thread(() -> {
            while (true) {
                try {
                    Thread.sleep(500);
                } catch (InterruptedException e) {
                    return;
                }
                String c = current;
                if (!c.isEmpty() && System.currentTimeMillis() - currentSince > STUCK_MS) {
                    System.out.println("FAIL STUCK in " + c);
                    for (Map.Entry<Thread, StackTraceElement[]> e : Thread.getAllStackTraces().entrySet()) {
                        System.out.println("thread " + e.getKey().getName());
                        for (StackTraceElement s : e.getValue()) {
                            System.out.println("    at " + s);
                        }
                    }
                    System.exit(3);
                }
            }
        }, "sweep-watchdog");
        t.setDaemon(true);
        t.start();
    }
}
