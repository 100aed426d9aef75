package com.orvanta.nvo.api.tolm;

import java.util.HexFormat;

/**
 * Signals one event through the natives and prints "result N". Arguments: event name, payload
 * as hex (may be empty), stagger type. Exits 0 when the result is 0, else 1.
 */
public final class SignalEvent {
  public static void main(String[] args) throws Exception {
    if (args.length != 3) {
      System.err.println("usage: SignalEvent EVENT HEX-PAYLOAD STAGGER-TYPE");
      System.exit(2);
    }
    byte[] payload = HexFormat.of().parseHex(args[1]);
    int result;
    try (TolmClient client = new TolmClient()) {
      result = client.signal(args[0], payload, Integer.parseInt(args[2]));
    }
    System.out.println("result " + result);
    System.exit(result == 0 ? 0 : 1);
  }
}
