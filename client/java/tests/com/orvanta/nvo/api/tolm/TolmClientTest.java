package com.orvanta.nvo.api.tolm;

import com.orvanta.nvo.vokratest.Check;
import java.util.ArrayList;
import java.util.HashSet;
import java.util.List;
import java.util.Set;
import java.util.concurrent.atomic.AtomicReference;

/**
 * The event client natives of libvokra in a real JVM: context handles (fresh, stale, forged)
 * and the results that need no server. With the argument "no-server" (run where no SLP agent
 * answers), also the result for an unknown server.
 */
public final class TolmClientTest {
  public static void main(String[] args) throws Exception {
    Check check = new Check();
    if (args.length == 1 && args[0].equals("no-server")) {
      check.test("no server gives -7", TolmClientTest::noServer);
    } else {
      check.test("handles are distinct and positive", TolmClientTest::distinctHandles);
      check.test("empty or null event name gives -9", TolmClientTest::emptyName);
      check.test("a null data array is refused", TolmClientTest::nullData);
      check.test("stale handles are refused", TolmClientTest::staleHandles);
      check.test("forged handles are refused", TolmClientTest::forgedHandles);
      check.test("handles from many threads", TolmClientTest::manyThreads);
    }
    System.exit(check.finish());
  }

  private static void distinctHandles() throws Exception {
    TolmClient client = new TolmClient();
    Set<Integer> seen = new HashSet<>();
    for (int i = 0; i < 100; i++) {
      int handle = client.createTolmCtx();
      Check.isTrue(handle > 0, "handle " + handle + " is positive");
      Check.isTrue(seen.add(handle), "handle " + handle + " is new");
    }
    for (int handle : seen) {
      client.destroyTolmCtx(handle);
    }
    client.close();
  }

  private static void emptyName() throws Exception {
    try (TolmClient client = new TolmClient()) {
      Check.equal(-9, client.signal("", new byte[] {1, 2}, 0), "empty name");
      Check.equal(-9, client.signal(null, new byte[] {1, 2}, 2), "null name");
      Check.equal(-9, client.signal("", new byte[0], 1), "empty name, empty data");
    }
  }

  private static void nullData() throws Exception {
    try (TolmClient client = new TolmClient()) {
      for (int stagger = 0; stagger < 3; stagger++) {
        final int type = stagger;
        Check.raises("Null data array passed to signalEvent",
            () -> client.signal("some.event", null, type));
      }
      Check.raises("Null data array passed to signalEvent", () -> client.signal("", null, 0));
      Check.raises("Null data array passed to signalEvent", () -> client.signal(null, null, 0));
      // The context stays usable after the refusal.
      Check.equal(-9, client.signal("", new byte[] {1}, 0), "empty name after a refusal");
    }
  }

  private static void staleHandles() throws Exception {
    TolmClient client = new TolmClient();
    int handle = client.createTolmCtx();
    client.destroyTolmCtx(handle);
    Check.raises("Invalid context passed to destroyTolmCtx", () -> client.destroyTolmCtx(handle));
    Check.raises("Invalid context passed to signalEvent",
        () -> client.signalEvent(handle, "event", new byte[1], 0, 0));
    // A handle created afterwards is a different one, and the stale one stays refused.
    int next = client.createTolmCtx();
    Check.isTrue(next != handle, "a destroyed handle is not handed out again at once");
    Check.raises("Invalid context passed to signalEvent",
        () -> client.signalEvent(handle, "", new byte[0], 0, 0));
    client.destroyTolmCtx(next);
    client.close();
  }

  private static void forgedHandles() throws Exception {
    TolmClient client = new TolmClient();
    int[] forged = {0, -1, Integer.MIN_VALUE, Integer.MAX_VALUE, 0x89ABCDEF, 123456789};
    for (int handle : forged) {
      Check.raises("Invalid context passed to destroyTolmCtx",
          () -> client.destroyTolmCtx(handle));
      Check.raises("Invalid context passed to signalEvent",
          () -> client.signalEvent(handle, "event", new byte[] {1}, 2, 0));
    }
    client.close();
  }

  private static void manyThreads() throws Exception {
    AtomicReference<Throwable> failure = new AtomicReference<>();
    List<Thread> threads = new ArrayList<>();
    for (int t = 0; t < 4; t++) {
      Thread thread = new Thread(() -> {
        try {
          for (int i = 0; i < 200; i++) {
            try (TolmClient client = new TolmClient()) {
              Check.equal(-9, client.signal("", new byte[] {1}, 0), "empty name");
            }
          }
        } catch (Throwable e) {
          failure.compareAndSet(null, e);
        }
      });
      threads.add(thread);
      thread.start();
    }
    for (Thread thread : threads) {
      thread.join(60_000);
      Check.isTrue(!thread.isAlive(), "worker finished");
    }
    if (failure.get() != null) {
      throw new AssertionError("worker failed", failure.get());
    }
  }

  private static void noServer() throws Exception {
    try (TolmClient client = new TolmClient()) {
      Check.equal(-7, client.signal("some.event", new byte[] {1, 2, 3}, 0), "first call");
      Check.equal(-7, client.signal("some.event", new byte[0], 2), "second call, empty data");
      Check.raises("Null data array passed to signalEvent",
          () -> client.signal("some.event", null, 2));
    }
  }
}
