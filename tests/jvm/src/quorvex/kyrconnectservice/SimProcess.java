package quorvex.kyrconnectservice;

import java.io.BufferedReader;
import java.io.IOException;
import java.io.InputStreamReader;
import java.io.OutputStreamWriter;
import java.io.Writer;
import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.concurrent.TimeUnit;
import java.util.regex.Matcher;
import java.util.regex.Pattern;

/** The codec simulator in a child process, steered through its standard input. */
final class SimProcess implements AutoCloseable {
    final String host;
    final int port;
    /** The codec's key fingerprint (64 hex digits), "" when it has none. */
    final String fingerprint;
    private final Process process;
    private final BufferedReader out;
    private final Writer in;

    private SimProcess(Process p) throws IOException {
        process = p;
        out = new BufferedReader(new InputStreamReader(p.getInputStream(), StandardCharsets.UTF_8));
        in = new OutputStreamWriter(p.getOutputStream(), StandardCharsets.UTF_8);
        String first = out.readLine();
        Matcher m = first == null ? null
                : Pattern.compile("listening host=(\\S+) port=(\\d+) tls=on").matcher(first);
        if (m == null || !m.find()) {
            p.destroyForcibly();
            throw new IOException("simulator did not start over TLS: " + first);
        }
        host = m.group(1);
        port = Integer.parseInt(m.group(2));
        Matcher fp = Pattern.compile("fingerprint=([0-9a-f]{64})").matcher(first);
        fingerprint = fp.find() ? fp.group(1) : "";
    }

    static SimProcess start(String... args) throws IOException {
        String launcher = System.getProperty("kyr.sim.launcher");
        if (launcher == null) {
            throw new IOException("kyr.sim.launcher is not set");
        }
        List<String> cmd = program(launcher);
        cmd.addAll(Arrays.asList(args));
        ProcessBuilder pb = new ProcessBuilder(cmd);
        pb.redirectError(ProcessBuilder.Redirect.INHERIT);
        return new SimProcess(pb.start());
    }

    /**
     * The command that starts a program of the build: through KYR_EMULATOR
     * (e.g. "qemu-i386") when the build's programs need one on this host.
     */
    static List<String> program(String path) {
        List<String> cmd = new ArrayList<>();
        String emu = System.getenv("KYR_EMULATOR");
        if (emu != null && !emu.isBlank()) {
            cmd.addAll(Arrays.asList(emu.trim().split("\\s+")));
        }
        cmd.add(path);
        return cmd;
    }

    String address() {
        return host + ":" + port;
    }

    /** Sends one command and returns its answer lines. */
    synchronized List<String> command(String line) throws IOException {
        in.write(line + "\n");
        in.flush();
        List<String> lines = new ArrayList<>();
        for (String l = out.readLine(); l != null && !l.equals("."); l = out.readLine()) {
            lines.add(l);
        }
        return lines;
    }

    /** The simulator's first answer line to a command, or "" when it gave none. */
    String first(String line) throws IOException {
        List<String> a = command(line);
        return a.isEmpty() ? "" : a.get(0);
    }

    /** The model's record of a kind (first one, or by handle) as JSON, "" if none. */
    String record(String kind, long handle) throws IOException {
        String r = first("record " + kind + " " + handle);
        return r.startsWith("record ") ? r.substring("record ".length()) : "";
    }

    /** Merges JSON members into the model's record (handle 0: a new record); its handle. */
    long merge(String kind, long handle, String json) throws IOException {
        return Long.parseLong(first("merge " + kind + " " + handle + " " + json).substring("merged ".length()));
    }

    /** Answers method with an error code: times requests, or for ever when times is negative. */
    void error(String method, int code, int times) throws IOException {
        command("error " + method + " " + code + " " + times);
    }

    /** Pushes a notification with the model's record of its kind (handle 0: the first). */
    int notify(String method, long flags, long handle) throws IOException {
        return Integer.parseInt(first("notify " + method + " " + flags + " " + handle).substring("notified ".length()));
    }

    /** The params of every request of method logged so far, as JSON texts. */
    List<String> requests(String method) throws IOException {
        List<String> out = new ArrayList<>();
        for (String l : command("requests " + method)) {
            if (l.startsWith("params ")) {
                out.add(l.substring("params ".length()));
            }
        }
        return out;
    }

    int count(String method) throws IOException {
        List<String> a = command("count " + method);
        return Integer.parseInt(a.get(0).substring("count ".length()));
    }

    int connections() throws IOException {
        List<String> a = command("connections");
        return Integer.parseInt(a.get(0).substring("connections ".length()));
    }

    /** Waits (bounded) until at least n requests of method arrived. */
    boolean awaitCount(String method, int n, long ms) throws IOException, InterruptedException {
        long end = System.currentTimeMillis() + ms;
        while (System.currentTimeMillis() < end) {
            if (count(method) >= n) {
                return true;
            }
            Thread.sleep(20);
        }
        return count(method) >= n;
    }

    @Override
    public void close() {
        try {
            in.write("quit\n");
            in.close();
        } catch (IOException e) {
            // already gone
        }
        try {
            if (!process.waitFor(5, TimeUnit.SECONDS)) {
                process.destroyForcibly();
            }
        } catch (InterruptedException e) {
            process.destroyForcibly();
            Thread.currentThread().interrupt();
        }
    }
}
