// Native methods of com.orvanta.nvo.api.tolm.TolmClient: event client contexts behind int
// handles (see ContextTable) and signalling through TolmClient.
//
// Invalid handles, null data arrays and unexpected C++ exceptions raise java/io/IOException
// with fixed texts; failures of the event client itself come back as its negative results.
// No C++ exception leaves these functions.
#include <jni.h>

#include <exception>
#include <string>

#include "client/jni/context_table.h"
#include "client/jni/jni_support.h"
#include "client/tolm_client.h"
#include "client/vokra_export.h"

namespace vokra {
namespace {

// Signals through a live context; the array elements and name characters are released on
// every path (mode 0 for the elements). A null array is refused before anything else (an empty
// payload is an empty array); a null name counts as empty.
jint signalThrough(JNIEnv* env, TolmContext& context, jstring eventName, jbyteArray data,
                   jint staggerType, jint reserved) {
  if (data == nullptr) {
    throwIOException(env, "Null data array passed to signalEvent");
    return 0;
  }
  if (eventName == nullptr) {
    return TolmClient::kEmptyEventName;
  }
  const UtfChars name(env, eventName);
  if (name.get() == nullptr) {
    return 0;  // OutOfMemoryError pending
  }
  const jsize length = env->GetArrayLength(data);
  const ByteElements elements(env, data);
  if (elements.get() == nullptr) {
    return 0;  // OutOfMemoryError pending
  }
  try {
    return context.client.signalEvent(std::string(name.get()), elements.get(), length, staggerType,
                                      reserved);
  } catch (...) {
    throwIOException(env, "Unexpected exception in signalEvent");
    return 0;
  }
}

}  // namespace
}  // namespace vokra

extern "C" {

JNIEXPORT jint JNICALL Java_com_orvanta_nvo_api_tolm_TolmClient_createTolmCtx(JNIEnv* env,
                                                                              jobject /*self*/) {
  try {
    return vokra::ContextTable::shared().create();
  } catch (...) {
    vokra::throwIOException(env, "Unable to create context in createTolmCtx");
    return 0;
  }
}

JNIEXPORT void JNICALL Java_com_orvanta_nvo_api_tolm_TolmClient_destroyTolmCtx(JNIEnv* env,
                                                                               jobject /*self*/,
                                                                               jint handle) {
  if (!vokra::ContextTable::shared().destroy(handle)) {
    vokra::throwIOException(env, "Invalid context passed to destroyTolmCtx");
  }
}

JNIEXPORT jint JNICALL Java_com_orvanta_nvo_api_tolm_TolmClient_signalEvent(
    JNIEnv* env, jobject /*self*/, jint handle, jstring eventName, jbyteArray data,
    jint staggerType, jint reserved) {
  std::shared_ptr<vokra::TolmContext> context;
  try {
    context = vokra::ContextTable::shared().find(handle);
  } catch (...) {
    vokra::throwIOException(env, "Unexpected exception in signalEvent");
    return 0;
  }
  if (context == nullptr) {
    vokra::throwIOException(env, "Invalid context passed to signalEvent");
    return 0;
  }
  return vokra::signalThrough(env, *context, eventName, data, staggerType, reserved);
}

}  // extern "C"
