// Native methods of com.orvanta.nvo.api.net.DomainSocketImpl: a client socket over a
// Unix-domain stream socket whose descriptor lives in the Java field m_fd (-1 when closed) and
// whose server path is the Java field m_name.
//
// Every failure raises java/io/IOException with a fixed message that starts with one line
// feed; callers match these texts. Inputs from Java (offsets, lengths, the array, the path) are
// checked before any memory is touched, so no call reads or writes outside the array or the
// socket address.
#include <jni.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "client/jni/jni_support.h"
#include "client/jni/unix_socket_ops.h"
#include "client/vokra_export.h"

namespace vokra {
namespace {

constexpr const char* kFdName = "m_fd";
constexpr const char* kFdSignature = "I";
constexpr const char* kNameName = "m_name";
constexpr const char* kNameSignature = "Ljava/lang/String;";
constexpr jint kClosed = -1;

// Where m_fd lives and what it holds, after the check every native but connect starts with.
struct Descriptor {
  jfieldID field = nullptr;
  jint fd = kClosed;
};

// Looks up and reads m_fd; raises `noField` when the class has no such int field and
// `invalidHandle` when it holds -1. False when something was raised.
bool readDescriptor(JNIEnv* env, jobject self, const char* noField, const char* invalidHandle,
                    Descriptor* out) {
  jclass cls = env->GetObjectClass(self);
  out->field = env->GetFieldID(cls, kFdName, kFdSignature);
  env->DeleteLocalRef(cls);
  if (out->field == nullptr) {
    throwIOException(env, noField);
    return false;
  }
  out->fd = env->GetIntField(self, out->field);
  if (out->fd == kClosed) {
    throwIOException(env, invalidHandle);
    return false;
  }
  return true;
}

// The texts of one direction of transfer.
struct TransferTexts {
  const char* noField;
  const char* invalidHandle;
  const char* nullArray;
  const char* negative;
  const char* overflow;
  const char* waitFailed;
  const char* callFailed;
  bool forInput;
};

constexpr TransferTexts kReadTexts{"\nDomainSocketImpl.read - Unable to get m_fd field",
                                   "\nInvalid socket handle DomainSocketImpl.read",
                                   "\nDomainSocketImpl.read - Aborted. buffer is null",
                                   "\nDomainSocketImpl.read - Aborted. negative offset or length",
                                   "\nDomainSocketImpl.read - Aborted. will overflow buffer",
                                   "\nDomainSocketImpl.read - Failed waiting for input",
                                   "\nDomainSocketImpl.read failed",
                                   true};

constexpr TransferTexts kWriteTexts{"\nDomainSocketImpl.write - Unable to get m_fd field",
                                    "\nInvalid socket handle DomainSocketImpl.write",
                                    "\nDomainSocketImpl.write - Aborted. buffer is null",
                                    "\nDomainSocketImpl.write - Aborted. negative offset or length",
                                    "\nDomainSocketImpl.write - Aborted. will overflow buffer",
                                    "\nDomainSocketImpl.write - Failed waiting for output",
                                    "\nDomainSocketImpl.write failed",
                                    false};

// Checks the array range and clamps `length` to the array's end. False (and raised) when the
// array is null, offset or length is negative, or offset lies beyond the array.
bool clampRange(JNIEnv* env, jbyteArray buffer, jint offset, jint* length,
                const TransferTexts& texts) {
  if (buffer == nullptr) {
    throwIOException(env, texts.nullArray);
    return false;
  }
  if (offset < 0 || *length < 0) {
    throwIOException(env, texts.negative);
    return false;
  }
  const jint arrayLength = env->GetArrayLength(buffer);
  if (int64_t{offset} + int64_t{*length} > int64_t{arrayLength}) {
    *length = arrayLength - offset;
    if (*length < 0) {
      throwIOException(env, texts.overflow);
      return false;
    }
  }
  return true;
}

// One system read or write of `length` bytes at `offset` of the array, after an unbounded
// readiness wait. Returns the system call's result, or -1 after a refusal.
jint transfer(JNIEnv* env, jobject self, jbyteArray buffer, jint offset, jint length,
              const TransferTexts& texts) {
  Descriptor descriptor;
  if (!readDescriptor(env, self, texts.noField, texts.invalidHandle, &descriptor) ||
      !clampRange(env, buffer, offset, &length, texts)) {
    return -1;
  }
  if (!waitReady(descriptor.fd, texts.forInput)) {
    throwIOException(env, texts.waitFailed);
    return -1;
  }
  const ByteElements elements(env, buffer);
  if (elements.get() == nullptr) {
    return -1;  // OutOfMemoryError pending
  }
  jbyte* at = elements.get() + offset;
  const auto count = static_cast<size_t>(length);
  const ssize_t result =
      texts.forInput ? ::read(descriptor.fd, at, count) : ::write(descriptor.fd, at, count);
  if (result == -1) {
    throwIOException(env, texts.callFailed);
  }
  return static_cast<jint>(result);
}

void waitFor(JNIEnv* env, jobject self, bool forInput) {
  const char* noField = forInput ? "\nDomainSocketImpl.waitForInput - Unable to get m_fd field"
                                 : "\nDomainSocketImpl.waitForOutput - Unable to get m_fd field";
  const char* invalid = forInput ? "\nInvalid socket handle DomainSocketImpl.waitForInput"
                                 : "\nInvalid socket handle DomainSocketImpl.waitForOutput";
  Descriptor descriptor;
  if (!readDescriptor(env, self, noField, invalid, &descriptor)) {
    return;
  }
  if (!waitReady(descriptor.fd, forInput)) {
    throwIOException(env, forInput ? "\nDomainSocketImpl.waitForInput - failed"
                                   : "\nDomainSocketImpl.waitForOutput - failed");
  }
}

// connect: refuses a still open m_fd (closing it), a null or too long m_name; then creates
// and connects the socket. m_fd ends as the new descriptor, or -1 after any failure.
void connectSocket(JNIEnv* env, jobject self) {
  jclass cls = env->GetObjectClass(self);
  const jfieldID fdField = env->GetFieldID(cls, kFdName, kFdSignature);
  const jfieldID nameField =
      fdField != nullptr ? env->GetFieldID(cls, kNameName, kNameSignature) : nullptr;
  env->DeleteLocalRef(cls);
  if (fdField == nullptr) {
    throwIOException(env, "\nDomainSocketImpl.connect - Failed getting m_fd field id");
    return;
  }
  if (nameField == nullptr) {
    throwIOException(env, "\nDomainSocketImpl.connect - Failed getting m_name field id");
    return;
  }
  const jint oldFd = env->GetIntField(self, fdField);
  const auto name = static_cast<jstring>(env->GetObjectField(self, nameField));
  env->SetIntField(self, fdField, kClosed);
  if (oldFd != kClosed) {
    closeDescriptor(oldFd);
    throwIOException(env, "\nDomainSocketImpl.connect - socket not previously closed");
    return;
  }
  if (name == nullptr) {
    throwIOException(env, "\nDomainSocketImpl.connect - Aborted. m_name is null");
    return;
  }
  const jsize length = env->GetStringUTFLength(name);
  if (length < 0 || static_cast<std::size_t>(length) > kMaxUnixPathLength) {
    throwIOException(env, "\nDomainSocketImpl.connect - Aborted. path longer than 107 bytes");
    return;
  }
  const UtfChars path(env, name);
  if (path.get() == nullptr) {
    return;  // OutOfMemoryError pending
  }
  int fd = kClosed;
  switch (connectUnix(path.get(), static_cast<std::size_t>(length), &fd)) {
    case UnixConnectResult::kNoSocket:
      throwIOException(env, "\nDomainSocketImpl.connect - failed to create socket handle");
      return;
    case UnixConnectResult::kConnectFailed:
      throwIOException(env, "\nDomainSocketImpl.connect - failed to connect to server");
      return;
    case UnixConnectResult::kConnected:
      env->SetIntField(self, fdField, fd);
      return;
  }
}

}  // namespace
}  // namespace vokra

using vokra::Descriptor;
using vokra::throwIOException;

extern "C" {

JNIEXPORT jint JNICALL Java_com_orvanta_nvo_api_net_DomainSocketImpl_available(JNIEnv* env,
                                                                               jobject self) {
  Descriptor descriptor;
  if (!vokra::readDescriptor(env, self, "\nDomainSocketImpl.available - unable to get field m_fd",
                             "\nInvalid socket handle DomainSocketImpl.available", &descriptor)) {
    return 0;
  }
  return vokra::readableNow(descriptor.fd) ? 1 : 0;
}

JNIEXPORT void JNICALL Java_com_orvanta_nvo_api_net_DomainSocketImpl_nativeClose(JNIEnv* env,
                                                                                 jobject self) {
  Descriptor descriptor;
  if (!vokra::readDescriptor(env, self, "\nDomainSocketImpl.close - unable to get field m_fd",
                             "\nInvalid socket handle DomainSocketImpl.close", &descriptor)) {
    return;
  }
  if (!vokra::closeDescriptor(descriptor.fd)) {
    throwIOException(env, "\nDomainSocketImpl.close failed");
    return;
  }
  env->SetIntField(self, descriptor.field, vokra::kClosed);
}

JNIEXPORT void JNICALL Java_com_orvanta_nvo_api_net_DomainSocketImpl_connect(JNIEnv* env,
                                                                             jobject self) {
  vokra::connectSocket(env, self);
}

JNIEXPORT jint JNICALL Java_com_orvanta_nvo_api_net_DomainSocketImpl_read(JNIEnv* env, jobject self,
                                                                          jbyteArray buffer,
                                                                          jint offset,
                                                                          jint length) {
  return vokra::transfer(env, self, buffer, offset, length, vokra::kReadTexts);
}

JNIEXPORT jint JNICALL Java_com_orvanta_nvo_api_net_DomainSocketImpl_write(
    JNIEnv* env, jobject self, jbyteArray buffer, jint offset, jint length) {
  return vokra::transfer(env, self, buffer, offset, length, vokra::kWriteTexts);
}

JNIEXPORT void JNICALL Java_com_orvanta_nvo_api_net_DomainSocketImpl_waitForInput(JNIEnv* env,
                                                                                  jobject self) {
  vokra::waitFor(env, self, true);
}

JNIEXPORT void JNICALL Java_com_orvanta_nvo_api_net_DomainSocketImpl_waitForOutput(JNIEnv* env,
                                                                                   jobject self) {
  vokra::waitFor(env, self, false);
}

// The JNI names of overloaded natives end in "__" and an argument signature.
// NOLINTNEXTLINE(bugprone-reserved-identifier)
JNIEXPORT void JNICALL Java_com_orvanta_nvo_api_net_DomainSocketImpl_sendUserCredentials__II(
    JNIEnv* /*env*/, jobject /*self*/, jint /*uid*/, jint /*gid*/) {
  // Credentials travel implicitly with a Unix-domain connection (the server reads them with
  // SO_PEERCRED); nothing has to be sent.
}

JNIEXPORT void JNICALL
// NOLINTNEXTLINE(bugprone-reserved-identifier)
Java_com_orvanta_nvo_api_net_DomainSocketImpl_sendUserCredentials__(JNIEnv* env, jobject self) {
  Java_com_orvanta_nvo_api_net_DomainSocketImpl_sendUserCredentials__II(
      env, self, static_cast<jint>(getuid()), static_cast<jint>(getgid()));
}

}  // extern "C"
