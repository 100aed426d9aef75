#include "client/jni/jni_support.h"

namespace vokra {

void throwIOException(JNIEnv* env, const char* message) {
  if (env->ExceptionCheck() == JNI_TRUE) {
    env->ExceptionClear();
  }
  jclass ioException = env->FindClass("java/io/IOException");
  if (ioException == nullptr) {
    return;  // FindClass left its own error pending
  }
  env->ThrowNew(ioException, message);
  env->DeleteLocalRef(ioException);
}

UtfChars::UtfChars(JNIEnv* env, jstring string) : env_(env), string_(string) {
  if (string_ != nullptr) {
    chars_ = env_->GetStringUTFChars(string_, nullptr);
  }
}

UtfChars::~UtfChars() {
  if (chars_ != nullptr) {
    env_->ReleaseStringUTFChars(string_, chars_);
  }
}

ByteElements::ByteElements(JNIEnv* env, jbyteArray array) : env_(env), array_(array) {
  if (array_ != nullptr) {
    elements_ = env_->GetByteArrayElements(array_, nullptr);
  }
}

ByteElements::~ByteElements() {
  if (elements_ != nullptr) {
    env_->ReleaseByteArrayElements(array_, elements_, 0);
  }
}

}  // namespace vokra
