package com.orvanta.nvo.api.net;

import com.orvanta.nvo.vokratest.Check;

/** Every DomainSocketImpl native on a class whose m_fd is not an int field. */
public final class NoFdFieldTest {
  public static void main(String[] args) {
    Check check = new Check();
    check.test("field lookup failures", NoFdFieldTest::fieldLookupFailures);
    System.exit(check.finish());
  }

  private static void fieldLookupFailures() throws Exception {
    DomainSocketImpl socket = new DomainSocketImpl("/nonexistent");
    byte[] four = new byte[4];
    Check.raises("\nDomainSocketImpl.available - unable to get field m_fd", socket::available);
    Check.raises("\nDomainSocketImpl.close - unable to get field m_fd", socket::nativeClose);
    Check.raises("\nDomainSocketImpl.connect - Failed getting m_fd field id", socket::connect);
    Check.raises("\nDomainSocketImpl.read - Unable to get m_fd field",
        () -> socket.read(four, 0, 4));
    Check.raises("\nDomainSocketImpl.write - Unable to get m_fd field",
        () -> socket.write(four, 0, 4));
    Check.raises("\nDomainSocketImpl.waitForInput - Unable to get m_fd field",
        socket::waitForInput);
    Check.raises("\nDomainSocketImpl.waitForOutput - Unable to get m_fd field",
        socket::waitForOutput);
    Check.equal(-1L, socket.m_fd, "nothing written to the field");
  }
}
