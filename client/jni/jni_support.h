// Small helpers shared by the Java natives: raising java/io/IOException, and owners that give
// back what a native borrowed from the virtual machine (string characters, array elements) on
// every path. Used only on the calling Java thread, with its JNIEnv.
#ifndef CLIENT_JNI_JNI_SUPPORT_H_
#define CLIENT_JNI_JNI_SUPPORT_H_

#include <jni.h>

namespace vokra {

// Raises a java/io/IOException with `message` in the calling thread. An exception already
// pending (for example the NoSuchFieldError of a failed field lookup) is cleared first, so the
// Java caller sees exactly this one.
void throwIOException(JNIEnv* env, const char* message);

// The modified UTF-8 characters of a Java string, released by the destructor. get() is null
// when the string is null or the virtual machine could not provide the characters (then an
// OutOfMemoryError is pending).
class UtfChars {
 public:
  UtfChars(JNIEnv* env, jstring string);
  ~UtfChars();
  UtfChars(const UtfChars&) = delete;
  UtfChars& operator=(const UtfChars&) = delete;

  const char* get() const { return chars_; }

 private:
  JNIEnv* env_;
  jstring string_;
  const char* chars_ = nullptr;
};

// The elements of a Java byte array, released with mode 0 (copied back, then freed) by the
// destructor. get() is null when the array is null or the elements could not be provided.
class ByteElements {
 public:
  ByteElements(JNIEnv* env, jbyteArray array);
  ~ByteElements();
  ByteElements(const ByteElements&) = delete;
  ByteElements& operator=(const ByteElements&) = delete;

  jbyte* get() const { return elements_; }

 private:
  JNIEnv* env_;
  jbyteArray array_;
  jbyte* elements_ = nullptr;
};

}  // namespace vokra

#endif  // CLIENT_JNI_JNI_SUPPORT_H_
