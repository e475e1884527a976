package quorvex.kyrconnectservice;

import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.util.ArrayList;
import java.util.List;
import java.util.function.Function;

/** Reads native lists whose nodes are linked through their first word. */
final class StructChain {
    /** Bound on the nodes read from one list, so a damaged chain cannot loop for ever. */
    static final int LIMIT = 100_000;

    /** Maps a handle and a size to a direct buffer, or null. */
    interface Wrapper {
        ByteBuffer wrap(long handle, long capacity);
    }

    private StructChain() {
    }

    /** The block named by handle in native byte order, or null when it names nothing (handles are positive). */
    static ByteBuffer view(Wrapper w, long handle, int size) {
        if (handle <= 0) {
            return null;
        }
        ByteBuffer b = w.wrap(handle, size);
        return b == null ? null : b.order(ByteOrder.nativeOrder());
    }

    /** Every node of the chain starting at head, read with reader, in list order. */
    static <T> List<T> read(long head, int size, Wrapper w, Function<ByteBuffer, T> reader) {
        List<T> out = new ArrayList<>();
        int limit = LIMIT;
        for (long h = head; h != 0 && limit-- > 0; ) {
            ByteBuffer b = view(w, h, size);
            if (b == null) {
                break;
            }
            out.add(reader.apply(b));
            h = b.getInt(0);
        }
        return out;
    }

    /** A NUL-terminated text of a fixed field. */
    static String text(ByteBuffer b, int offset, int length) {
        return SettingsStruct.text(b, offset, length);
    }
}
