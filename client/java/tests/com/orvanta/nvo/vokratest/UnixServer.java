package com.orvanta.nvo.vokratest;

import java.io.IOException;
import java.net.StandardProtocolFamily;
import java.net.UnixDomainSocketAddress;
import java.nio.ByteBuffer;
import java.nio.channels.ServerSocketChannel;
import java.nio.channels.SocketChannel;
import java.nio.file.Files;
import java.nio.file.Path;

/**
 * A Unix-domain stream server for the tests, built on the JDK's own socket channels: it either
 * echoes every byte back until the client closes, or closes each connection as soon as it is
 * accepted. Each connection is served by its own daemon thread; close() stops accepting.
 */
public final class UnixServer implements AutoCloseable {
  public enum Mode { ECHO, CLOSE }

  private final ServerSocketChannel channel;
  private final Mode mode;

  public UnixServer(Path path, Mode mode) throws IOException {
    this.mode = mode;
    Files.deleteIfExists(path);
    channel = ServerSocketChannel.open(StandardProtocolFamily.UNIX);
    channel.bind(UnixDomainSocketAddress.of(path));
    Thread acceptor = new Thread(this::acceptLoop, "unix-server-accept");
    acceptor.setDaemon(true);
    acceptor.start();
  }

  @Override
  public void close() throws IOException {
    channel.close();
  }

  private void acceptLoop() {
    while (channel.isOpen()) {
      SocketChannel connection;
      try {
        connection = channel.accept();
      } catch (IOException e) {
        return;  // closed
      }
      Thread worker = new Thread(() -> serve(connection), "unix-server-conn");
      worker.setDaemon(true);
      worker.start();
    }
  }

  private void serve(SocketChannel connection) {
    try (connection) {
      if (mode == Mode.ECHO) {
        ByteBuffer buffer = ByteBuffer.allocate(4096);
        while (connection.read(buffer) > 0) {
          buffer.flip();
          while (buffer.hasRemaining()) {
            connection.write(buffer);
          }
          buffer.clear();
        }
      }
    } catch (IOException e) {
      // The client went away.
    }
  }
}
