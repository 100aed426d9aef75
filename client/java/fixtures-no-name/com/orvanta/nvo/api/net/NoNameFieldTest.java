package com.orvanta.nvo.api.net;

import com.orvanta.nvo.vokratest.Check;

/** connect on a class whose m_name is not a String field. */
public final class NoNameFieldTest {
  public static void main(String[] args) {
    Check check = new Check();
    check.test("m_name lookup failure", NoNameFieldTest::nameLookupFailure);
    System.exit(check.finish());
  }

  private static void nameLookupFailure() throws Exception {
    DomainSocketImpl socket = new DomainSocketImpl("/nonexistent");
    socket.m_fd = 1_000_000;
    Check.raises("\nDomainSocketImpl.connect - Failed getting m_name field id", socket::connect);
    Check.equal(1_000_000, socket.m_fd, "nothing written to m_fd");
  }
}
