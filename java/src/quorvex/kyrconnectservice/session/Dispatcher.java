package quorvex.kyrconnectservice.session;

import java.util.ArrayDeque;
import java.util.concurrent.Executor;
import java.util.concurrent.RejectedExecutionException;
import java.util.logging.Level;
import java.util.logging.Logger;

/**
 * Runs a session's deliveries on the callback executor one at a time, in the
 * order they were posted, whatever the executor's threads: at most one drain
 * task is with the executor at any time. A throwing delivery is logged and
 * the next one runs.
 */
final class Dispatcher {
    private static final Logger LOG = Logger.getLogger("quorvex.kyrconnectservice.session");

    private final Executor executor;
    private final ArrayDeque<Runnable> queue = new ArrayDeque<>();
    private boolean scheduled;
    private boolean closed;
    private Thread runner;

    Dispatcher(Executor executor) {
        this.executor = executor;
    }

    /** Queues a delivery; dropped once the dispatcher is closed. */
    void post(Runnable r) {
        synchronized (this) {
            if (closed) {
                return;
            }
            queue.add(r);
            if (scheduled) {
                return;
            }
            scheduled = true;
        }
        try {
            executor.execute(this::drain);
        } catch (RejectedExecutionException e) {
            LOG.log(Level.WARNING, "callback executor refused the session's deliveries; they are dropped", e);
            synchronized (this) {
                queue.clear();
                scheduled = false;
                notifyAll();
            }
        }
    }

    /** True on the thread that is running deliveries now. */
    synchronized boolean isDeliveryThread() {
        return runner == Thread.currentThread();
    }

    private void drain() {
        synchronized (this) {
            runner = Thread.currentThread();
        }
        for (;;) {
            Runnable r;
            synchronized (this) {
                r = queue.poll();
                if (r == null) {
                    scheduled = false;
                    runner = null;
                    notifyAll();
                    return;
                }
            }
            run(r);
        }
    }

    private static void run(Runnable r) {
        try {
            r.run();
        } catch (RuntimeException | Error e) {
            LOG.log(Level.WARNING, "a session listener threw", e);
        }
    }

    /**
     * Lets what is queued run (up to waitMs), then drops the rest and
     * accepts nothing more: no delivery runs after this returns. Called on
     * the delivery thread itself, it runs what is queued inline.
     */
    void close(long waitMs) throws InterruptedException {
        if (isDeliveryThread()) {
            for (;;) {
                Runnable r;
                synchronized (this) {
                    r = queue.poll();
                    if (r == null) {
                        closed = true;
                        return;
                    }
                }
                run(r);
            }
        }
        long end = System.currentTimeMillis() + waitMs;
        synchronized (this) {
            for (long left = waitMs; scheduled && left > 0; left = end - System.currentTimeMillis()) {
                wait(left);
            }
            closed = true;
            queue.clear();
            // A delivery still running (a listener that blocks) is waited for, but not for ever.
            for (long left = end - System.currentTimeMillis(); runner != null && left > 0;
                    left = end - System.currentTimeMillis()) {
                wait(left);
            }
        }
    }
}
