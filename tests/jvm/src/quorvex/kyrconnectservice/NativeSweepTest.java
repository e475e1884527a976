package quorvex.kyrconnectservice;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertTrue;
import static org.junit.Assert.fail;

import java.io.BufferedReader;
import java.io.File;
import java.io.IOException;
import java.io.InputStreamReader;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Collections;
import java.util.Comparator;
import java.util.List;
import java.util.concurrent.TimeUnit;
import java.util.regex.Pattern;
import java.util.stream.Stream;

import org.junit.Test;

/**
 * Every native entry point with hostile arguments in every state of the
 * service (see {@link NativeSweep}), in a child JVM under -Xcheck:jni so that
 * its warnings, a crash or a sanitizer report (the child inherits the
 * sanitizer build's environment) fail the test instead of passing unseen.
 */
public class NativeSweepTest {
    static final long LIMIT_S = 120;

    /** What -Xcheck:jni, the JVM's crash handler and the sanitizers print. */
    static final Pattern BAD = Pattern.compile(
            "^WARNING|WARNING in native method|FATAL ERROR in native method|JNI WARNING|SIGSEGV|hs_err_pid"
            + "|AddressSanitizer|LeakSanitizer|runtime error:|UndefinedBehaviorSanitizer");

    static List<String> runChild(String mainClass, Path dir) throws Exception {
        String java = System.getProperty("java.home") + File.separator + "bin" + File.separator + "java";
        List<String> cmd = SimProcess.program(java);
        cmd.addAll(List.of("-Xcheck:jni",
                "-Dkyrconnect.library=" + System.getProperty("kyrconnect.library"),
                "-Dkyr.sim.launcher=" + System.getProperty("kyr.sim.launcher"),
                "-cp", System.getProperty("java.class.path"), mainClass));
        ProcessBuilder pb = new ProcessBuilder(cmd).directory(dir.toFile()).redirectErrorStream(true);
        Process p = pb.start();
        p.getOutputStream().close();
        List<String> out = Collections.synchronizedList(new ArrayList<>());
        Thread reader = new Thread(() -> {
            try (BufferedReader r = new BufferedReader(new InputStreamReader(p.getInputStream(),
                    StandardCharsets.UTF_8))) {
                for (String l = r.readLine(); l != null; l = r.readLine()) {
                    out.add(l);
                }
            } catch (IOException e) {
                out.add("reader: " + e);
            }
        });
        reader.start();
        if (!p.waitFor(LIMIT_S, TimeUnit.SECONDS)) {
            p.destroyForcibly();
            reader.join(5000);
            fail("the sweep did not end within " + LIMIT_S + " s:\n" + tail(out, 60));
        }
        reader.join(10000);
        out.add("exit " + p.exitValue());
        return out;
    }

    static String tail(List<String> lines, int n) {
        synchronized (lines) {
            return String.join("\n", lines.subList(Math.max(0, lines.size() - n), lines.size()));
        }
    }

    static void deleteTree(Path dir) throws IOException {
        try (Stream<Path> s = Files.walk(dir)) {
            s.sorted(Comparator.reverseOrder()).forEach(f -> f.toFile().delete());
        }
    }

    @Test
    public void everyNativeEntryPointSurvivesHostileArgumentsInEveryState() throws Exception {
        Path dir = Files.createTempDirectory("kyr-sweep");
        List<String> out;
        try {
            out = runChild("quorvex.kyrconnectservice.NativeSweep", dir);
        } finally {
            deleteTree(dir);
        }
        List<String> bad = new ArrayList<>();
        String summary = null;
        for (String l : out) {
            if (l.startsWith("FAIL ") || BAD.matcher(l).find()) {
                bad.add(l);
            }
            if (l.startsWith("SWEEP ")) {
                summary = l;
            }
            if (l.startsWith("phase ") || l.startsWith("natives: ")) {
                System.out.println(l);
            }
        }
        assertTrue("findings:\n" + String.join("\n", bad.subList(0, Math.min(bad.size(), 80)))
                + "\n-- output tail:\n" + tail(out, 40), bad.isEmpty());
        assertTrue("no summary:\n" + tail(out, 40), summary != null);
        System.out.println(summary);
        assertTrue(summary, summary.contains(" failures=0 "));
        assertEquals(tail(out, 20), "exit 0", out.get(out.size() - 1));
        long natives = Long.parseLong(summary.replaceAll(".* natives=(\\d+).*", "$1"));
        assertTrue("natives found in the jar: " + natives, natives >= 20);
    }
}
