package quorvex.kyrconnectservice.session;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertTrue;

import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicInteger;

import org.junit.Test;

/** The reconnection delays and the ordered delivery, without a codec. */
public class DeliveryAndBackoffTest {
    private static List<Long> delays(Backoff b, int n) {
        List<Long> out = new ArrayList<>();
        for (int i = 0; i < n; i++) {
            out.add(b.next());
        }
        return out;
    }

    @Test
    public void firstRetryAtOnceThenDoublingBoundsUpToTheCapStartingOverOnlyAfterAStableConnection() {
        List<Long> bounds = new ArrayList<>();
        Backoff b = new Backoff(100, 1000, bound -> {
            bounds.add(bound);
            return bound / 2; // a draw inside the bound
        });
        assertEquals(List.of(0L, 50L, 100L, 200L, 400L, 500L, 500L), delays(b, 7));
        assertEquals("full jitter: drawn below each bound", List.of(100L, 200L, 400L, 800L, 1000L, 1000L), bounds);
        // A codec that accepts and drops at once does not start the sequence over.
        b.connectionEnded(Backoff.STABLE_MS - 1);
        assertEquals(500L, b.next());
        b.connectionEnded(Backoff.STABLE_MS);
        assertEquals(List.of(0L, 50L), delays(b, 2));
        b.reset();
        assertEquals(0L, b.next());
    }

    @Test
    public void deliveriesRunOneAtATimeInPostingOrderWhateverTheExecutorsThreadsAndThrows() throws Exception {
        ExecutorService pool = Executors.newFixedThreadPool(4);
        try {
            Dispatcher d = new Dispatcher(pool);
            List<Integer> seen = new ArrayList<>(); // unsynchronised on purpose: one delivery at a time
            AtomicInteger running = new AtomicInteger();
            AtomicInteger overlap = new AtomicInteger();
            int n = 5000;
            for (int i = 0; i < n; i++) {
                int k = i;
                d.post(() -> {
                    if (running.incrementAndGet() > 1) {
                        overlap.incrementAndGet();
                    }
                    seen.add(k);
                    running.decrementAndGet();
                    if (k % 7 == 0) {
                        throw new IllegalStateException("delivery failure on purpose");
                    }
                });
            }
            d.close(10_000);
            assertEquals(0, overlap.get());
            assertEquals(n, seen.size());
            for (int i = 0; i < n; i++) {
                assertEquals(i, (int) seen.get(i));
            }
            d.post(() -> seen.add(-1));
            pool.shutdown();
            assertTrue(pool.awaitTermination(5, TimeUnit.SECONDS));
            assertEquals("nothing runs after close", n, seen.size());
        } finally {
            pool.shutdownNow();
        }
    }
}
