package quorvex.kyrconnectservice.session;

import java.util.Set;
import java.util.concurrent.CompletableFuture;
import java.util.concurrent.atomic.AtomicBoolean;

/** One operation of a session on its way: completed once, on the callback executor. */
final class Call<T> {
    /** The body of an operation, run on the session's worker thread. */
    interface Op<T> {
        T run(Natives n) throws KyrException;
    }

    final String operation;
    final CompletableFuture<T> future = new CompletableFuture<>();
    private final AtomicBoolean settled = new AtomicBoolean();
    private final Dispatcher out;
    /** The session's calls not yet settled (a lost connection fails them all). */
    private final Set<Call<?>> inFlight;

    Call(String operation, Dispatcher out, Set<Call<?>> inFlight) {
        this.operation = operation;
        this.out = out;
        this.inFlight = inFlight;
    }

    boolean settled() {
        return settled.get();
    }

    void succeed(T value) {
        if (settled.compareAndSet(false, true)) {
            inFlight.remove(this);
            out.post(() -> future.complete(value));
        }
    }

    void fail(Throwable t) {
        if (settled.compareAndSet(false, true)) {
            inFlight.remove(this);
            out.post(() -> future.completeExceptionally(t));
        }
    }

    void fail(int code) {
        fail(new KyrException(operation, code));
    }
}
