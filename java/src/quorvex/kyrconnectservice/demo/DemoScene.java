package quorvex.kyrconnectservice.demo;

/**
 * One part of the demo session, run while connected: a call, the volume, a
 * directory search and so on. KyrDemo runs the scenes in a fixed order.
 */
public interface DemoScene {
    /**
     * Runs the scene.
     *
     * @param demo the session: output, the events as they arrive, the service
     * @throws Exception when the scene cannot go on; the demo reports it and
     *     goes on with the next scene
     */
    void run(DemoSession demo) throws Exception;
}
