package quorvex.kyrconnectservice.demo;

import java.io.File;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.util.List;

import quorvex.kyrconnectservice.TestSubSystemInterface;

/**
 * The test hooks as a tester uses them: metrics on, a synthetic volume change
 * and a scripted incoming call queued as if the codec had sent them, the
 * events they cause, and the start of the metrics report.
 */
public final class TestHooksScene implements DemoScene {
    @Override
    public void run(DemoSession demo) throws Exception {
        TestSubSystemInterface test = new TestSubSystemInterface();
        test.takeDeliveries();
        DemoSession.say("test hooks: metrics on (%d)", test.enableMetrics());
        demo.service().getMinDavixVersion(); // one codec-served call to count

        DemoSession.say("test hooks: synthetic volume change to 35, due now");
        test.emulateAudioVolume(35, 0);
        demo.drain(600);
        DemoSession.say("test hooks: scripted incoming call, due in 300 ms");
        test.emulateIncomingCall(300);
        demo.drain(1200);
        for (TestSubSystemInterface.Delivery d : test.takeDeliveries()) {
            DemoSession.say("test hooks: delivered %s", d);
        }

        File report = File.createTempFile("kyr_metrics", ".csv");
        try {
            int rc = test.writeMetrics(TestSubSystemInterface.Scope.ALL_TESTS, report);
            DemoSession.say("test hooks: metrics report %s (%d)", report, rc);
            List<String> lines = Files.readAllLines(report.toPath(), StandardCharsets.UTF_8);
            for (String line : lines.subList(0, Math.min(8, lines.size()))) {
                DemoSession.say("  %s", line);
            }
        } finally {
            report.delete();
            test.disableMetrics();
        }
    }
}
