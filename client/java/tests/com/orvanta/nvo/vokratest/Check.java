package com.orvanta.nvo.vokratest;

import java.io.IOException;
import java.util.Arrays;
import java.util.Objects;

/**
 * A minimal test runner for the Java test programs of libvokra: named cases, exact checks, one
 * line per case, and an exit status that CTest reads (0 only when every case passed).
 */
public final class Check {
  /** A test case body. */
  public interface Body {
    void run() throws Exception;
  }

  /** The result of a call whose value is checked. */
  public interface IntBody {
    int run() throws Exception;
  }

  private int failures;
  private int passes;

  public void test(String name, Body body) {
    try {
      body.run();
      passes++;
      System.out.println("ok - " + name);
    } catch (Throwable t) {
      failures++;
      System.out.println("FAIL - " + name + ": " + t);
      t.printStackTrace(System.out);
    }
  }

  /** Prints the summary and returns the process exit status. */
  public int finish() {
    System.out.println(passes + " passed, " + failures + " failed");
    return failures == 0 && passes > 0 ? 0 : 1;
  }

  public static void equal(Object expected, Object actual, String what) {
    if (!Objects.equals(expected, actual)) {
      throw new AssertionError(what + ": expected <" + expected + "> but got <" + actual + ">");
    }
  }

  public static void bytesEqual(byte[] expected, byte[] actual, String what) {
    if (!Arrays.equals(expected, actual)) {
      throw new AssertionError(what + ": expected " + Arrays.toString(expected) + " but got "
          + Arrays.toString(actual));
    }
  }

  public static void isTrue(boolean condition, String what) {
    if (!condition) {
      throw new AssertionError(what);
    }
  }

  /** Runs `body` and requires a java.io.IOException with exactly `message`. */
  public static void raises(String message, Body body) throws Exception {
    try {
      body.run();
    } catch (IOException e) {
      equal(message, e.getMessage(), "IOException message");
      equal(IOException.class, e.getClass(), "exception class");
      return;
    }
    throw new AssertionError("no IOException raised; expected \"" + message + "\"");
  }

  /** Text with line feeds made visible, for messages that start with one. */
  public static String show(String text) {
    return text == null ? "null" : text.replace("\n", "\\n");
  }
}
