package com.orvanta.nvo.api.net;

import java.io.IOException;

/**
 * Test fixture with the int field m_fd but no String field m_name (it is a char array here), so
 * connect's second field lookup fails.
 */
public class DomainSocketImpl {
  static {
    System.loadLibrary("vokra");
  }

  int m_fd = -1;
  char[] m_name;

  public DomainSocketImpl(String name) {
    m_name = name.toCharArray();
  }

  public native void connect() throws IOException;
}
