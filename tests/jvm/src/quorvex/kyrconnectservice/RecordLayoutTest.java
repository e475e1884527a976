package quorvex.kyrconnectservice;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertNull;
import static org.junit.Assert.assertTrue;

import java.lang.reflect.Constructor;
import java.lang.reflect.Field;
import java.lang.reflect.Modifier;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.util.ArrayList;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;

import org.junit.Test;

/**
 * Every public field of the record classes is read from its own bytes of the
 * native layout: each field's bytes get a value no other field has (all four
 * bytes of an int set, a text filling its field up to the terminator) and the
 * record read from them must show each value in the field of the same name.
 * A field read at another offset, with the wrong width or byte order, cut
 * short or not read at all fails here. No connection is needed.
 */
public class RecordLayoutTest {
    private static final Class<?>[] RECORDS = {
        KyrCallStruct.class, KyrConferenceStruct.class, KyrCallMediaStruct.class, CommSystemStruct.class,
        AudioSystemStruct.class, DirectorySystemStruct.class, DirEntryChangedStruct.class,
        KyrDirServerStruct.class, KyrDirEntryStruct.class,
    };

    /** fieldName -> FIELD_NAME, the naming of the generated layout constants. */
    private static String constantName(String field) {
        return field.replaceAll("([a-z0-9])([A-Z])", "$1_$2").toUpperCase();
    }

    private static int constant(Class<?> layout, String name) throws Exception {
        return layout.getField(name).getInt(null);
    }

    /** Marks every public layout field of record in b at base; returns the value each must read back. */
    private static Map<String, Object> mark(Class<?> record, Class<?> layout, ByteBuffer b, int base) throws Exception {
        Map<String, Object> want = new LinkedHashMap<>();
        int k = 0;
        for (Field f : record.getFields()) {
            if (Modifier.isStatic(f.getModifiers())) {
                continue;
            }
            String c = constantName(f.getName());
            Class<?> t = f.getType();
            if (t == int.class || t == double.class || t == String.class) {
                int at = base + constant(layout, c + "_OFFSET");
                k++;
                if (t == int.class) {
                    int v = 0x81000000 | (k << 16) | (k << 8) | k;
                    b.putInt(at, v);
                    want.put(f.getName(), v);
                } else if (t == double.class) {
                    double v = k + 0.25;
                    b.putDouble(at, v);
                    want.put(f.getName(), v);
                } else {
                    int length = constant(layout, c + "_LENGTH");
                    StringBuilder s = new StringBuilder(f.getName()).append('#').append(k);
                    while (s.length() < length - 1) {
                        s.append((char) ('a' + s.length() % 26));
                    }
                    String v = s.substring(0, length - 1);
                    for (int i = 0; i < v.length(); i++) {
                        b.put(at + i, (byte) v.charAt(i));
                    }
                    b.put(at + v.length(), (byte) 0);
                    want.put(f.getName(), v);
                }
            }
        }
        return want;
    }

    private static void check(String what, Object record, Map<String, Object> want) throws Exception {
        for (Map.Entry<String, Object> e : want.entrySet()) {
            assertEquals(what + "." + e.getKey(), e.getValue(), record.getClass().getField(e.getKey()).get(record));
        }
    }

    private static ByteBuffer block(int size) {
        return ByteBuffer.allocateDirect(size).order(ByteOrder.nativeOrder());
    }

    @Test
    public void everyFieldIsReadFromItsOwnBytes() throws Exception {
        List<String> fields = new ArrayList<>();
        for (Class<?> record : RECORDS) {
            Class<?> layout = Class.forName(record.getName() + "Layout");
            ByteBuffer b = block(constant(layout, "SIZE"));
            Map<String, Object> want = mark(record, layout, b, 0);
            assertTrue(record.getSimpleName() + " has layout fields", want.size() >= 2);
            Constructor<?> ctor = record.getDeclaredConstructor(ByteBuffer.class);
            ctor.setAccessible(true);
            check(record.getSimpleName(), ctor.newInstance(b), want);
            fields.addAll(want.keySet());
        }
        assertTrue("the records expose their fields, got " + fields.size(), fields.size() > 100);
    }

    @Test
    public void aVideoDeviceIsReadAtItsPlaceInsideTheEntry() throws Exception {
        int at = KyrDirEntryStructLayout.VIDEO_DEVICE_OFFSET + DirVideoDeviceStructLayout.SIZE;
        ByteBuffer b = block(KyrDirEntryStructLayout.SIZE);
        Map<String, Object> want = mark(KyrDirEntryStruct.VideoDevice.class, DirVideoDeviceStructLayout.class, b, at);
        b.putInt(at + DirVideoDeviceStructLayout.ADDR_COUNT_OFFSET, 2);
        int second = at + DirVideoDeviceStructLayout.ADDR_OFFSET + DirVideoAddressStructLayout.SIZE;
        b.put(second, (byte) 'x');
        KyrDirEntryStruct.VideoDevice d = new KyrDirEntryStruct.VideoDevice(b, at);
        check("VideoDevice", d, want);
        assertEquals(List.of("", "x"), d.addresses);
    }

    @Test
    public void commDialOrderIsReadAsPairsUpToItsCount() throws Exception {
        ByteBuffer b = block(CommSystemStructLayout.SIZE);
        for (int i = 0; i < CommSystemStructLayout.DIAL_ORDER_LENGTH; i++) {
            b.putInt(CommSystemStructLayout.DIAL_ORDER_OFFSET + 4 * i, 100 + i);
        }
        Constructor<CommSystemStruct> ctor = CommSystemStruct.class.getDeclaredConstructor(ByteBuffer.class);
        ctor.setAccessible(true);
        b.putInt(CommSystemStructLayout.DIAL_ORDER_COUNT_OFFSET, 2);
        int[][] two = ctor.newInstance(b).dialOrder;
        assertEquals(2, two.length);
        assertEquals(102, two[1][0]);
        assertEquals(103, two[1][1]);
        b.putInt(CommSystemStructLayout.DIAL_ORDER_COUNT_OFFSET, 1 << 20);
        assertEquals("a count past the array is cut", CommSystemStructLayout.DIAL_ORDER_LENGTH / 2,
                ctor.newInstance(b).dialOrder.length);
        b.putInt(CommSystemStructLayout.DIAL_ORDER_COUNT_OFFSET, -3);
        assertEquals(0, ctor.newInstance(b).dialOrder.length);
    }

    @Test
    public void handlesThatNameNothingReadAsNull() {
        InterfaceSupport.loadLibrary();
        for (long h : new long[] {0, -1, Long.MIN_VALUE, 0x7FFFFFF0L}) {
            assertNull(KyrCallStruct.read(h));
            assertNull(AudioSystemStruct.read(h));
            assertTrue(KyrConferenceStruct.readList(h).isEmpty());
        }
    }
}
