package com.orvanta.nvo.api.net;

import java.io.IOException;

/**
 * Test fixture with the natives of DomainSocketImpl but no int field m_fd (it is a long here),
 * so every native's field lookup fails.
 */
public class DomainSocketImpl {
  static {
    System.loadLibrary("vokra");
  }

  long m_fd = -1;
  String m_name;

  public DomainSocketImpl(String name) {
    m_name = name;
  }

  public native int available() throws IOException;

  native void nativeClose() throws IOException;

  public native void connect() throws IOException;

  public native int read(byte[] buffer, int offset, int length) throws IOException;

  public native int write(byte[] buffer, int offset, int length) throws IOException;

  public native void waitForInput() throws IOException;

  public native void waitForOutput() throws IOException;
}
