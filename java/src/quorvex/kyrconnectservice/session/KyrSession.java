package quorvex.kyrconnectservice.session;

import java.util.EnumSet;
import java.util.List;
import java.util.Set;
import java.util.concurrent.CompletableFuture;
import java.util.concurrent.ConcurrentHashMap;
import java.util.concurrent.LinkedBlockingQueue;
import java.util.concurrent.RejectedExecutionException;
import java.util.concurrent.ScheduledFuture;
import java.util.concurrent.ScheduledThreadPoolExecutor;
import java.util.concurrent.ThreadLocalRandom;
import java.util.concurrent.ThreadPoolExecutor;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicBoolean;
import java.util.concurrent.atomic.AtomicInteger;
import java.util.concurrent.atomic.AtomicReference;
import java.util.function.Consumer;
import java.util.function.Function;
import java.util.function.ToIntFunction;
import java.util.logging.Level;
import java.util.logging.Logger;

import quorvex.kyrconnectservice.AudioSystemStruct;
import quorvex.kyrconnectservice.CommSystemStruct;
import quorvex.kyrconnectservice.DirectorySubSystemInterface;
import quorvex.kyrconnectservice.KyrCallStruct;
import quorvex.kyrconnectservice.KyrEvents;

/**
 * One supervised session with a codec: the SDK an app uses instead of the
 * low-level {@code KyrConnectService} and interface classes.
 *
 * <ul>
 * <li>After {@link #start()} the session connects and stays connected: on
 * any loss it goes to {@link SessionState#RECONNECTING} and retries (the
 * first retry at once, then exponential delays with full jitter up to the
 * cap; the delays start over only after a connection stayed up 10 s). With
 * credentials it pairs and re-pairs by itself; without, it stops in
 * {@link SessionState#PAIRING_REQUIRED} until {@link #pair}. A codec that
 * refuses the serial number or the credentials for good stops the retries
 * and the state change carries the code.</li>
 * <li>Every listener runs on the callback executor, one delivery at a time,
 * in the order the library posted the events, each event exactly once.
 * Events are immutable copies; lists the library hands over are released by
 * the session. A throwing listener is logged; the others still run.</li>
 * <li>Every operation returns a {@link CompletableFuture} completed on the
 * callback executor. The native calls run on one worker thread of the
 * session, in the order they were made. A negative CSAPI code completes the
 * future with a {@link KyrException}. Calls made while not connected fail at
 * once with -18; calls in flight when the connection is lost fail with -18
 * as soon as the loss is known.</li>
 * <li>After every (re)connect the session reads the calls, the audio and the
 * communication subsystem and delivers them as ordinary events.</li>
 * </ul>
 *
 * <p>The library serves one session per process at a time: {@link #start()}
 * refuses while another session is open. The callback executor must run its
 * tasks on its own threads (not inline in {@code execute}).
 *
 * <pre>
 *   KyrSession session = KyrSession.builder("codec.example:4122", serial)
 *           .credentials(admin, password)
 *           .callbackExecutor(mainThreadExecutor)
 *           .build();
 *   session.addStateListener((state, previous, code) -&gt; showState(state));
 *   session.addCallListener(call -&gt; showCall(call));
 *   session.start();
 *   session.audio().setVolume(40).whenComplete((v, e) -&gt; ...);
 *   ...
 *   session.close();
 * </pre>
 */
public final class KyrSession implements AutoCloseable {
    private static final Logger LOG = Logger.getLogger("quorvex.kyrconnectservice.session");
    private static final AtomicReference<KyrSession> OPEN = new AtomicReference<>();
    private static final AtomicInteger IDS = new AtomicInteger();
    /**
     * How long close() waits for the worker to end. close() disconnects first,
     * so a native call in progress returns at once instead of after its own
     * time-out (30 s and more on a silent codec).
     */
    private static final long CLOSE_WAIT_MS = 10_000;
    private static final Set<SessionState> CONNECTED_ONLY = EnumSet.of(SessionState.CONNECTED);
    private static final Set<SessionState> PAIRABLE = EnumSet.of(SessionState.PAIRING_REQUIRED, SessionState.CONNECTED);

    /**
     * Starts a session description.
     *
     * @param address the codec, "host" or "host:port"
     * @param serialNumber the device's serial number (its identity with the codec)
     * @return a builder
     */
    public static SessionBuilder builder(String address, String serialNumber) {
        return new SessionBuilder(address, serialNumber);
    }

    private final int id = IDS.incrementAndGet();
    private final SessionBuilder cfg;
    private final Dispatcher out;
    private final ThreadPoolExecutor ownExecutor;
    private final Natives natives;
    private final Backoff backoff;
    private final Listeners listeners = new Listeners();
    private final Set<Call<?>> inFlight = ConcurrentHashMap.newKeySet();
    private final AtomicBoolean closed = new AtomicBoolean();
    private final AudioOps audio = new AudioOps(this);
    private final CommOps comm = new CommOps(this);
    private final DirectoryOps directory = new DirectoryOps(this);
    private final CalendarOps calendar = new CalendarOps(this);
    private final CameraOps cameras = new CameraOps(this);
    private final SystemOps system = new SystemOps(this);
    private final VideoOps video = new VideoOps(this);

    // Guarded by this.
    private SessionState state = SessionState.IDLE;
    private ScheduledThreadPoolExecutor worker;
    private volatile Thread workerThread;
    private volatile String fingerprint;
    private volatile boolean setUp; // read by close() on the app's thread
    private volatile boolean inConnect; // the worker is in the library's connect
    private long connectedAt;
    private int attempt; // stale scheduled attempts carry an older number
    private ScheduledFuture<?> retry;
    private String adminName;
    private String adminPassword;

    KyrSession(SessionBuilder b) {
        cfg = b;
        adminName = b.adminName;
        adminPassword = b.adminPassword;
        if (b.executor != null) {
            ownExecutor = null;
            out = new Dispatcher(b.executor);
        } else {
            // One delivery thread, there only while there is something to deliver.
            ownExecutor = new ThreadPoolExecutor(1, 1, 10, TimeUnit.SECONDS, new LinkedBlockingQueue<>(),
                    r -> named(r, "kyr-session-" + id + "-callbacks"));
            ownExecutor.allowCoreThreadTimeOut(true);
            out = new Dispatcher(ownExecutor);
        }
        backoff = new Backoff(b.firstDelay.toMillis(), b.maxDelay.toMillis(),
                bound -> ThreadLocalRandom.current().nextLong(bound + 1));
        natives = new Natives(this::onNativeEvent, new DirectorySubSystemInterface());
    }

    private static Thread named(Runnable r, String name) {
        Thread t = new Thread(r, name);
        t.setDaemon(true);
        return t;
    }

    // ---- listeners ----

    public void addStateListener(StateListener l) {
        listeners.addState(l);
    }

    public void addCallListener(SessionListener<? super CallInfo> l) {
        listeners.add(CallInfo.class, l);
    }

    /**
     * Adds a listener for one kind of event: {@link AudioEvent},
     * {@link CommEvent}, {@link DirectoryEvent}, {@link MeetingEvent},
     * {@link CameraEvent}, {@link SettingsEvent}, {@link VideoEvent},
     * {@link ErrorEvent} or {@link CallInfo} (Object.class: every event).
     */
    public <T> void addListener(Class<T> type, SessionListener<? super T> l) {
        listeners.add(type, l);
    }

    /** Removes a listener added with any add*Listener. */
    public void removeListener(Object l) {
        listeners.remove(l);
    }

    // ---- the interfaces ----

    public AudioOps audio() { return audio; }
    public CommOps comm() { return comm; }
    public DirectoryOps directory() { return directory; }
    public CalendarOps calendar() { return calendar; }
    public CameraOps cameras() { return cameras; }
    public SystemOps system() { return system; }
    public VideoOps video() { return video; }

    /**
     * The fingerprint of the codec's key (SHA-256 of its public key, 64 hex
     * digits) as last seen on a TLS connection, also while pairing is
     * required: show it when pairing, keep it with the codec's address and
     * pin it ({@link SessionBuilder#pinnedFingerprint}) from then on. Null
     * before the first TLS connection.
     */
    public String serverFingerprint() {
        return fingerprint;
    }

    /** @return the state now (listeners hear of each change in order) */
    public synchronized SessionState state() {
        return state;
    }

    // ---- lifecycle ----

    /**
     * Connects in the background and keeps the session up; returns at once.
     * Also starts a session over that stopped in {@link SessionState#IDLE}
     * after a refusal. Nothing happens in any other state.
     *
     * @throws IllegalStateException when the session is closed or another session is open
     */
    public void start() {
        synchronized (this) {
            if (state == SessionState.CLOSED) {
                throw new IllegalStateException("session closed");
            }
            if (state != SessionState.IDLE) {
                return;
            }
            if (worker == null) {
                if (!OPEN.compareAndSet(null, this)) {
                    throw new IllegalStateException("another KyrSession is open in this process");
                }
                worker = new ScheduledThreadPoolExecutor(1, r -> {
                    Thread t = named(r, "kyr-session-" + id + "-worker");
                    workerThread = t;
                    return t;
                });
                worker.setExecuteExistingDelayedTasksAfterShutdownPolicy(false);
                worker.setRemoveOnCancelPolicy(true);
            }
            backoff.reset();
            moveTo(SessionState.CONNECTING, 0);
            scheduleAttempt(0);
        }
    }

    /**
     * Pairs with administrator credentials when the session waits in
     * {@link SessionState#PAIRING_REQUIRED}. The credentials are used for
     * this pairing only (give them to the builder to re-pair by itself).
     */
    public CompletableFuture<Void> pair(String name, String password) {
        return run("pair", PAIRABLE, n -> {
            int rc = n.service.pair(name, password);
            if (rc != 0 && !Refusals.permanent(rc)) {
                failed(rc);
            }
            Results.check("pair", rc);
            connected();
            refresh();
            return null;
        });
    }

    /**
     * The app's connectivity callback: the network is back, so a session
     * waiting to reconnect tries at once (an attempt still hanging on the
     * old network is cut short).
     */
    public void networkAvailable() {
        synchronized (this) {
            if (state != SessionState.RECONNECTING) {
                return;
            }
            backoff.reset();
            scheduleAttempt(0);
        }
        if (inConnect) {
            // The library fails a connect a disconnect overtook, so a connect that just succeeded is not lost silently.
            natives.service.disconnect();
        }
    }

    /**
     * Stops everything: pending operations fail with -18, the connection is
     * closed and the native service released, the session's threads end. No
     * listener runs after this returns. A native call hanging on a silent
     * codec does not hold it up: the connection is cut first, so the call
     * returns at once.
     */
    @Override
    public void close() {
        if (!closed.compareAndSet(false, true)) {
            return;
        }
        ScheduledThreadPoolExecutor w;
        synchronized (this) {
            attempt++;
            if (retry != null) {
                retry.cancel(false);
            }
            moveTo(SessionState.CLOSED, 0);
            failInFlight();
            adminName = null;
            adminPassword = null;
            w = worker;
        }
        boolean fromDelivery = out.isDeliveryThread();
        try {
            if (w != null) {
                if (setUp) {
                    // A call the worker is in (a silent codec, a hanging connect) returns -18 at once.
                    natives.service.disconnect();
                }
                w.execute(this::releaseNative);
                w.shutdown();
                if (!w.awaitTermination(CLOSE_WAIT_MS, TimeUnit.MILLISECONDS)) {
                    LOG.warning("a native call did not come back; the session's worker is left behind");
                }
            }
            out.close(5000);
            if (ownExecutor != null) {
                ownExecutor.shutdown();
                if (!fromDelivery) { // a listener that closes: its thread ends when it returns
                    ownExecutor.awaitTermination(5, TimeUnit.SECONDS);
                }
            }
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        } finally {
            OPEN.compareAndSet(this, null);
        }
    }

    /** The last task of the worker: the connection goes and the native service is released. */
    private void releaseNative() {
        if (setUp) {
            natives.service.disconnect();
            // The pin and the liveness setting hold for the process: this session's go with it.
            if (cfg.pinnedFingerprint != null) {
                natives.service.setPinnedFingerprint(null);
            }
            natives.service.setLiveness(0);
            natives.service.release();
        }
    }

    // ---- supervision (state changes under the lock, native calls on the worker) ----

    /** Nothing leaves CLOSED: an attempt that ends after close() changes nothing. */
    private void moveTo(SessionState next, int code) {
        SessionState prev = state;
        if (prev == next || prev == SessionState.CLOSED) {
            return;
        }
        state = next;
        out.post(() -> listeners.stateChanged(next, prev, code));
    }

    private void scheduleAttempt(long delayMs) {
        if (retry != null) {
            retry.cancel(false);
        }
        int mine = ++attempt;
        try {
            retry = worker.schedule(() -> connectAttempt(mine), delayMs, TimeUnit.MILLISECONDS);
        } catch (RejectedExecutionException e) {
            retry = null; // closing
        }
    }

    private void connectAttempt(int mine) {
        String name;
        String password;
        synchronized (this) {
            if (mine != attempt || (state != SessionState.CONNECTING && state != SessionState.RECONNECTING)) {
                return;
            }
            name = adminName;
            password = adminPassword;
        }
        if (!setUp) {
            if (natives.service.setup() != 0) {
                failed(-15);
                return;
            }
            setUp = true;
            int pr = cfg.pinnedFingerprint == null ? 0 : natives.service.setPinnedFingerprint(cfg.pinnedFingerprint);
            if (pr < 0) {
                settle(SessionState.IDLE, pr);
                return;
            }
            // Kept by the library across connections.
            long live = (Math.max(0, cfg.liveness.toMillis()) + 999) / 1000; // whole seconds, rounded up
            int lr = natives.service.setLiveness((int) Math.min(Integer.MAX_VALUE, live));
            if (lr < 0) {
                LOG.warning("liveness not set: " + KyrException.text(lr) + " (" + lr + ")");
            }
        }
        // The library answers a connect while it still believes in the old connection by dropping it
        // and nothing else, so the old one is let go first.
        natives.service.disconnect();
        int rc;
        inConnect = true;
        try {
            rc = natives.service.connect(cfg.address, cfg.serialNumber, cfg.clientVersion, cfg.minServerVersion,
                                         cfg.maxServerVersion);
        } finally {
            inConnect = false;
        }
        if (rc == 0 || rc == KyrException.PAIRING_REQUIRED) {
            fingerprint = natives.service.getServerFingerprint();
        }
        if (rc == KyrException.PAIRING_REQUIRED && name != null) {
            rc = natives.service.pair(name, password);
            if (rc != 0 && Refusals.permanent(rc)) {
                settle(SessionState.PAIRING_REQUIRED, rc);
                return;
            }
        }
        if (rc == 0) {
            connected();
            refresh();
        } else if (rc == KyrException.PAIRING_REQUIRED) {
            settle(SessionState.PAIRING_REQUIRED, rc);
        } else if (Refusals.permanent(rc)) {
            natives.service.disconnect();
            settle(SessionState.IDLE, rc);
        } else {
            failed(rc);
        }
    }

    /** An attempt ended in a state that waits for the app (pair(), start()). */
    private synchronized void settle(SessionState next, int code) {
        moveTo(next, code);
    }

    private synchronized void connected() {
        if (closed.get()) {
            return;
        }
        connectedAt = System.nanoTime();
        moveTo(SessionState.CONNECTED, 0);
    }

    /** An attempt failed for a reason that may pass: retry after the next delay. */
    private synchronized void failed(int code) {
        if (closed.get()) {
            return;
        }
        moveTo(SessionState.RECONNECTING, code);
        scheduleAttempt(backoff.next());
    }

    /** The connection was lost (the library said so, or an operation found it gone). */
    void lost(int code) {
        synchronized (this) {
            if (state != SessionState.CONNECTED) {
                return;
            }
            backoff.connectionEnded((System.nanoTime() - connectedAt) / 1_000_000);
            failInFlight();
            moveTo(SessionState.RECONNECTING, code);
            scheduleAttempt(backoff.next());
        }
    }

    private void failInFlight() {
        for (Call<?> c : inFlight) {
            c.fail(KyrException.NO_CONNECTION);
        }
    }

    /** What the app shows, read again after each (re)connect and delivered as ordinary events. */
    private void refresh() {
        List<KyrCallStruct> calls = natives.comm.getCurrentCalls();
        if (natives.lastError() == KyrException.NO_CONNECTION) {
            lost(KyrException.NO_CONNECTION);
            return;
        }
        for (KyrCallStruct c : calls) {
            deliver(CallInfo.of(CallInfo.Change.CURRENT, c));
        }
        AudioSystemStruct a = natives.audio.getAudioSystem();
        if (a != null) {
            deliver(new AudioEvent(AudioEvent.Kind.SYSTEM, 0, a));
            deliver(new AudioEvent(AudioEvent.Kind.VOLUME, a.volume, null));
            deliver(new AudioEvent(AudioEvent.Kind.MUTE, a.muted, null));
        }
        CommSystemStruct s = natives.comm.getCommSystem();
        if (s != null) {
            deliver(new CommEvent(CommEvent.Kind.SYSTEM, 0, s, null));
        } else if (natives.lastError() == KyrException.NO_CONNECTION) {
            lost(KyrException.NO_CONNECTION);
        }
    }

    // ---- events from the library (on its threads) ----

    private void onNativeEvent(int code, int value1, int value2, Object obj) {
        if (code == KyrEvents.EVENT_CONNECT_STATE_CHANGED) {
            // Results of our own connect, pair and disconnect come back as return codes on the worker;
            // only a loss the library found by itself matters here.
            if (value1 == KyrEvents.KYR_Connect_Failed && Thread.currentThread() != workerThread) {
                lost(KyrException.NO_CONNECTION);
            }
            return;
        }
        Object event;
        try {
            event = EventTable.decode(natives, code, value1, value2);
        } catch (RuntimeException e) {
            LOG.log(Level.WARNING, "event " + KyrEvents.eventName(code) + " could not be read", e);
            return;
        }
        if (event != null) {
            deliver(event);
        } else if (KyrEvents.payloadKind(code) == KyrEvents.PAYLOAD_OWNED && value1 > 0) {
            LOG.warning("event " + KyrEvents.eventName(code) + " handed over a list the session cannot release");
        }
    }

    void deliver(Object event) {
        out.post(() -> listeners.deliver(event));
    }

    // ---- operations ----

    /** Runs body on the worker while connected; the future fails at once with -18 otherwise. */
    <T> CompletableFuture<T> call(String operation, Call.Op<T> body) {
        return run(operation, CONNECTED_ONLY, body);
    }

    /** Runs body on the worker in one of the states given; the future fails with -18 in any other. */
    private <T> CompletableFuture<T> run(String operation, Set<SessionState> admitted, Call.Op<T> body) {
        Call<T> c = new Call<>(operation, out, inFlight);
        synchronized (this) {
            if (!admitted.contains(state)) {
                if (closed.get()) {
                    // Nothing is delivered after close(): complete here.
                    c.future.completeExceptionally(new KyrException(operation, KyrException.NO_CONNECTION));
                } else {
                    c.fail(KyrException.NO_CONNECTION);
                }
                return c.future;
            }
            inFlight.add(c);
        }
        try {
            worker.execute(() -> {
                synchronized (this) {
                    if (c.settled()) {
                        return;
                    }
                    if (!admitted.contains(state)) {
                        c.fail(KyrException.NO_CONNECTION);
                        return;
                    }
                }
                try {
                    c.succeed(body.run(natives));
                } catch (KyrException e) {
                    c.fail(e);
                    if (e.code() == KyrException.NO_CONNECTION) {
                        lost(e.code());
                    }
                } catch (RuntimeException e) {
                    c.fail(e);
                }
            });
        } catch (RejectedExecutionException e) {
            c.fail(KyrException.NO_CONNECTION);
        }
        return c.future;
    }

    /** An operation whose native call returns a CSAPI code. */
    CompletableFuture<Void> code(String operation, ToIntFunction<Natives> f) {
        return call(operation, n -> {
            Results.check(operation, f.applyAsInt(n));
            return null;
        });
    }

    /** An operation whose native call has no result code: the thread's last code says how it went. */
    <T> CompletableFuture<T> read(String operation, Function<Natives, T> f) {
        return call(operation, n -> {
            T value = f.apply(n);
            Results.checkLast(n, operation);
            return value;
        });
    }

    /** As read, for a native call that returns nothing. */
    CompletableFuture<Void> action(String operation, Consumer<Natives> f) {
        return read(operation, n -> {
            f.accept(n);
            return null;
        });
    }

}
