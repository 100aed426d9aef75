package com.orvanta.nvo.api.net;

import com.orvanta.nvo.vokratest.Check;
import com.orvanta.nvo.vokratest.UnixServer;
import java.io.FileInputStream;
import java.io.FileOutputStream;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.DirectoryStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;

/**
 * The Unix-domain socket natives of libvokra in a real JVM, against servers built on the JDK's
 * own Unix-domain channels. Run without arguments for the main cases; with "exhaust" (under a
 * low descriptor limit) for the socket-creation failure.
 */
public final class DomainSocketImplTest {
  // No process has this many descriptors open here: close and poll on it fail with EBADF.
  private static final int UNUSED_FD = 1_000_000;

  private final Path dir;
  private final Path echoPath;
  private final Path closePath;

  private DomainSocketImplTest() throws IOException {
    dir = Files.createTempDirectory("vokra-jni");
    echoPath = dir.resolve("echo");
    closePath = dir.resolve("close");
  }

  public static void main(String[] args) throws Exception {
    DomainSocketImplTest t = new DomainSocketImplTest();
    Check check = new Check();
    if (args.length == 1 && args[0].equals("exhaust")) {
      check.test("connect without free descriptors", t::connectWithoutFreeDescriptors);
    } else {
      try (UnixServer echo = new UnixServer(t.echoPath, UnixServer.Mode.ECHO);
           UnixServer closer = new UnixServer(t.closePath, UnixServer.Mode.CLOSE)) {
        t.runAll(check);
      }
    }
    System.exit(check.finish());
  }

  private void runAll(Check check) {
    check.test("echo round trip", this::echoRoundTrip);
    check.test("available before and after data", this::availableBeforeAndAfterData);
    check.test("read clamps length to the array", this::readClampsLength);
    check.test("write clamps length to the array", this::writeClampsLength);
    check.test("offset beyond the array", this::offsetBeyondArray);
    check.test("offset at the array end reads nothing", this::offsetAtArrayEnd);
    check.test("negative offset or length, null array", this::badArguments);
    check.test("end of stream reads 0, then writing fails", this::endOfStream);
    check.test("closed handle messages", this::closedHandleMessages);
    check.test("close failure keeps m_fd", this::closeFailureKeepsFd);
    check.test("connect on an open socket", this::connectOnOpenSocket);
    check.test("connect failures", this::connectFailures);
    check.test("path of 107 bytes connects, 108 refused", this::pathLengthBoundary);
    check.test("wait failures", this::waitFailures);
    check.test("system read and write failures", this::systemCallFailures);
    check.test("credentials are accepted", this::credentials);
  }

  private DomainSocketImpl connected(Path path) throws IOException {
    DomainSocketImpl socket = new DomainSocketImpl(path.toString());
    socket.connect();
    Check.isTrue(socket.m_fd >= 0, "connect stores a descriptor");
    return socket;
  }

  private static byte[] readExactly(DomainSocketImpl socket, int count) throws IOException {
    byte[] got = new byte[count];
    int have = 0;
    for (int round = 0; round < 100 && have < count; round++) {
      socket.waitForInput();
      int n = socket.read(got, have, count - have);
      Check.isTrue(n > 0, "read before all bytes arrived returned " + n);
      have += n;
    }
    Check.equal(count, have, "bytes read");
    return got;
  }

  private void echoRoundTrip() throws Exception {
    DomainSocketImpl socket = connected(echoPath);
    byte[] data = "hello, unix socket".getBytes(StandardCharsets.US_ASCII);
    socket.waitForOutput();
    Check.equal(data.length, socket.write(data, 0, data.length), "written");
    Check.bytesEqual(data, readExactly(socket, data.length), "echo");
    socket.close();
    Check.equal(-1, socket.m_fd, "m_fd after close");
  }

  private void availableBeforeAndAfterData() throws Exception {
    DomainSocketImpl socket = connected(echoPath);
    Check.equal(0, socket.available(), "available with nothing sent");
    socket.write(new byte[] {1}, 0, 1);
    socket.waitForInput();
    Check.equal(1, socket.available(), "available once the echo is there");
    readExactly(socket, 1);
    Check.equal(0, socket.available(), "available after reading it");
    socket.close();
  }

  private void readClampsLength() throws Exception {
    DomainSocketImpl socket = connected(echoPath);
    byte[] data = {10, 11, 12, 13, 14, 15, 16, 17};
    socket.write(data, 0, data.length);
    byte[] target = {-1, -1, -1, -1, -1, -1, -1, -1};
    socket.waitForInput();
    int n = socket.read(target, 2, 10);
    Check.isTrue(n > 0 && n <= 6, "offset 2, length 10 on 8 bytes read " + n);
    Check.equal((byte) -1, target[0], "byte before the offset");
    Check.equal((byte) -1, target[1], "byte before the offset");
    for (int i = 0; i < n; i++) {
      Check.equal(data[i], target[2 + i], "byte " + i);
    }
    socket.close();
  }

  private void writeClampsLength() throws Exception {
    DomainSocketImpl socket = connected(echoPath);
    byte[] data = {1, 2, 3, 4, 5, 6, 7, 8};
    Check.equal(3, socket.write(data, 5, 100), "offset 5, length 100 on 8 bytes writes");
    Check.bytesEqual(new byte[] {6, 7, 8}, readExactly(socket, 3), "echo of the tail");
    socket.close();
  }

  private void offsetBeyondArray() throws Exception {
    DomainSocketImpl socket = connected(echoPath);
    byte[] eight = new byte[8];
    Check.raises("\nDomainSocketImpl.read - Aborted. will overflow buffer",
        () -> socket.read(eight, 9, 1));
    Check.raises("\nDomainSocketImpl.write - Aborted. will overflow buffer",
        () -> socket.write(eight, 9, 0));
    Check.raises("\nDomainSocketImpl.read - Aborted. will overflow buffer",
        () -> socket.read(eight, Integer.MAX_VALUE, Integer.MAX_VALUE));
    socket.close();
  }

  private void offsetAtArrayEnd() throws Exception {
    DomainSocketImpl socket = connected(echoPath);
    socket.write(new byte[] {9}, 0, 1);
    socket.waitForInput();
    Check.equal(0, socket.read(new byte[8], 8, 5), "read at the array end");
    Check.equal(1, socket.available(), "the pending byte stays unread");
    socket.close();
  }

  private void badArguments() throws Exception {
    DomainSocketImpl socket = connected(echoPath);
    byte[] eight = new byte[8];
    Check.raises("\nDomainSocketImpl.read - Aborted. negative offset or length",
        () -> socket.read(eight, -1, 4));
    Check.raises("\nDomainSocketImpl.read - Aborted. negative offset or length",
        () -> socket.read(eight, 0, -4));
    Check.raises("\nDomainSocketImpl.write - Aborted. negative offset or length",
        () -> socket.write(eight, Integer.MIN_VALUE, 4));
    Check.raises("\nDomainSocketImpl.write - Aborted. negative offset or length",
        () -> socket.write(eight, 2, -1));
    Check.raises("\nDomainSocketImpl.read - Aborted. buffer is null",
        () -> socket.read(null, 0, 4));
    Check.raises("\nDomainSocketImpl.write - Aborted. buffer is null",
        () -> socket.write(null, 0, 4));
    // The socket is still usable afterwards.
    socket.write(new byte[] {42}, 0, 1);
    Check.bytesEqual(new byte[] {42}, readExactly(socket, 1), "echo after refusals");
    socket.close();
  }

  private void endOfStream() throws Exception {
    DomainSocketImpl socket = connected(closePath);
    socket.waitForInput();
    Check.equal(1, socket.available(), "end of stream counts as readable");
    Check.equal(0, socket.read(new byte[4], 0, 4), "read at end of stream");
    // Writing to the closed peer fails with EPIPE; the process lives on.
    Check.raises("\nDomainSocketImpl.write failed", () -> socket.write(new byte[4], 0, 4));
    socket.close();
  }

  private void closedHandleMessages() throws Exception {
    DomainSocketImpl socket = new DomainSocketImpl(echoPath.toString());
    byte[] four = new byte[4];
    Check.raises("\nInvalid socket handle DomainSocketImpl.available", socket::available);
    Check.raises("\nInvalid socket handle DomainSocketImpl.read", () -> socket.read(four, 0, 4));
    Check.raises("\nInvalid socket handle DomainSocketImpl.write",
        () -> socket.write(four, 0, 4));
    Check.raises("\nInvalid socket handle DomainSocketImpl.waitForInput", socket::waitForInput);
    Check.raises("\nInvalid socket handle DomainSocketImpl.waitForOutput", socket::waitForOutput);
    Check.raises("\nInvalid socket handle DomainSocketImpl.close", socket::nativeClose);
    Check.equal(-1, socket.m_fd, "m_fd stays -1");
  }

  private void closeFailureKeepsFd() throws Exception {
    DomainSocketImpl socket = new DomainSocketImpl(echoPath.toString());
    socket.m_fd = UNUSED_FD;
    Check.raises("\nDomainSocketImpl.close failed", socket::nativeClose);
    Check.equal(UNUSED_FD, socket.m_fd, "m_fd after a failed close");
  }

  private void connectOnOpenSocket() throws Exception {
    DomainSocketImpl socket = connected(echoPath);
    int fd = socket.m_fd;
    Check.raises("\nDomainSocketImpl.connect - socket not previously closed", socket::connect);
    Check.equal(-1, socket.m_fd, "m_fd after the refused connect");
    Check.isTrue(!Files.exists(Path.of("/proc/self/fd/" + fd)), "descriptor " + fd + " closed");
    socket.connect();
    Check.isTrue(socket.m_fd >= 0, "connect after the refusal");
    socket.close();
  }

  private void connectFailures() throws Exception {
    DomainSocketImpl missing = new DomainSocketImpl(dir.resolve("nobody-listens").toString());
    Check.raises("\nDomainSocketImpl.connect - failed to connect to server", missing::connect);
    Check.equal(-1, missing.m_fd, "m_fd after a failed connect");
    DomainSocketImpl unnamed = new DomainSocketImpl(null);
    Check.raises("\nDomainSocketImpl.connect - Aborted. m_name is null", unnamed::connect);
    Check.equal(-1, unnamed.m_fd, "m_fd after a null name");
  }

  private void pathLengthBoundary() throws Exception {
    // The JDK refuses to bind such long paths itself, so the 107-byte path reaches the echo
    // server's socket through "./" segments.
    String prefix = dir.toString() + "/";
    String padding = "./".repeat((107 - prefix.length() - "echo".length()) / 2);
    String longest = prefix + padding + "echo";
    if (longest.length() < 107) {
      longest = prefix + "/" + padding + "echo";
    }
    Check.equal(107, longest.getBytes(StandardCharsets.UTF_8).length, "path size");
    DomainSocketImpl socket = new DomainSocketImpl(longest);
    socket.connect();
    socket.write(new byte[] {7}, 0, 1);
    Check.bytesEqual(new byte[] {7}, readExactly(socket, 1), "echo over the longest path");
    socket.close();
    DomainSocketImpl tooLong = new DomainSocketImpl("/" + longest);
    Check.raises("\nDomainSocketImpl.connect - Aborted. path longer than 107 bytes",
        tooLong::connect);
    Check.equal(-1, tooLong.m_fd, "m_fd after a too long path");
    // 55 characters, but 109 bytes of UTF-8: the limit counts bytes.
    DomainSocketImpl wide = new DomainSocketImpl("/" + "\u00e9".repeat(54));
    Check.raises("\nDomainSocketImpl.connect - Aborted. path longer than 107 bytes",
        wide::connect);
  }

  private void waitFailures() throws Exception {
    DomainSocketImpl socket = new DomainSocketImpl(echoPath.toString());
    socket.m_fd = UNUSED_FD;
    byte[] four = new byte[4];
    Check.raises("\nDomainSocketImpl.waitForInput - failed", socket::waitForInput);
    Check.raises("\nDomainSocketImpl.waitForOutput - failed", socket::waitForOutput);
    Check.raises("\nDomainSocketImpl.read - Failed waiting for input",
        () -> socket.read(four, 0, 4));
    Check.raises("\nDomainSocketImpl.write - Failed waiting for output",
        () -> socket.write(four, 0, 4));
    Check.equal(0, socket.available(), "available on a descriptor that is not open");
    socket.m_fd = -5;
    Check.raises("\nDomainSocketImpl.waitForInput - failed", socket::waitForInput);
  }

  private void systemCallFailures() throws Exception {
    Path file = dir.resolve("plain-file");
    Files.write(file, new byte[] {1, 2, 3});
    DomainSocketImpl socket = new DomainSocketImpl(echoPath.toString());
    byte[] four = new byte[4];
    // A regular file is always ready, but a write-only descriptor cannot be read, and a
    // read-only one cannot be written.
    try (FileOutputStream out = new FileOutputStream(file.toFile(), true)) {
      socket.m_fd = descriptorOf(file);
      Check.raises("\nDomainSocketImpl.read failed", () -> socket.read(four, 0, 4));
    }
    try (FileInputStream in = new FileInputStream(file.toFile())) {
      socket.m_fd = descriptorOf(file);
      Check.raises("\nDomainSocketImpl.write failed", () -> socket.write(four, 0, 4));
    }
  }

  private void credentials() throws Exception {
    DomainSocketImpl socket = connected(echoPath);
    socket.sendUserCredentials();
    socket.sendUserCredentials(1234, 5678);
    socket.write(new byte[] {5}, 0, 1);
    Check.bytesEqual(new byte[] {5}, readExactly(socket, 1), "nothing extra was sent");
    socket.close();
  }

  private void connectWithoutFreeDescriptors() throws Exception {
    // Load the class, and with it the library, while descriptors are still free.
    DomainSocketImpl socket = new DomainSocketImpl(echoPath.toString());
    List<FileInputStream> hogs = new ArrayList<>();
    try {
      for (int i = 0; i < 100_000; i++) {
        hogs.add(new FileInputStream("/dev/null"));
      }
      throw new AssertionError("the descriptor limit was never reached");
    } catch (IOException expected) {
      Check.raises("\nDomainSocketImpl.connect - failed to create socket handle",
          socket::connect);
      Check.equal(-1, socket.m_fd, "m_fd after the failed socket creation");
    } finally {
      for (FileInputStream hog : hogs) {
        hog.close();
      }
    }
  }

  /** The descriptor number of the one open descriptor of this process that refers to `file`. */
  private static int descriptorOf(Path file) throws IOException {
    Path target = file.toAbsolutePath();
    try (DirectoryStream<Path> fds = Files.newDirectoryStream(Path.of("/proc/self/fd"))) {
      for (Path fd : fds) {
        try {
          if (Files.readSymbolicLink(fd).equals(target)) {
            return Integer.parseInt(fd.getFileName().toString());
          }
        } catch (IOException gone) {
          // The descriptor that listed the directory itself; skip it.
        }
      }
    }
    throw new IOException("no descriptor open for " + file);
  }
}
