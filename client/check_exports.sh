#!/bin/sh
# check_exports.sh LIBRARY: the shared library's dynamic interface is what Java and C++ callers
# link against: every JNI native under its exact name, the public classes, a versioned soname,
# and nothing of the internals (context table, JNI helpers, protocol codec, SLP internals).
set -eu
lib=$1
symbols=$(nm -D --defined-only "$lib" | awk '{print $3}')
status=0

for name in \
  Java_com_orvanta_nvo_api_net_DomainSocketImpl_available \
  Java_com_orvanta_nvo_api_net_DomainSocketImpl_nativeClose \
  Java_com_orvanta_nvo_api_net_DomainSocketImpl_connect \
  Java_com_orvanta_nvo_api_net_DomainSocketImpl_read \
  Java_com_orvanta_nvo_api_net_DomainSocketImpl_write \
  Java_com_orvanta_nvo_api_net_DomainSocketImpl_sendUserCredentials__ \
  Java_com_orvanta_nvo_api_net_DomainSocketImpl_sendUserCredentials__II \
  Java_com_orvanta_nvo_api_net_DomainSocketImpl_waitForInput \
  Java_com_orvanta_nvo_api_net_DomainSocketImpl_waitForOutput \
  Java_com_orvanta_nvo_api_tolm_TolmClient_createTolmCtx \
  Java_com_orvanta_nvo_api_tolm_TolmClient_destroyTolmCtx \
  Java_com_orvanta_nvo_api_tolm_TolmClient_signalEvent; do
  if ! printf '%s\n' "$symbols" | grep -qx "$name"; then
    echo "missing export: $name"
    status=1
  fi
done
if [ "$(printf '%s\n' "$symbols" | grep -c '^Java_')" -ne 12 ]; then
  echo "unexpected JNI exports:"
  printf '%s\n' "$symbols" | grep '^Java_'
  status=1
fi

# Public C++ classes and functions (mangled names of namespace vokra).
for pattern in '_ZN5vokra10TolmClient11signalEvent' '_ZN5vokra14TolmServerInfo6shared' \
               '_ZN5vokra11TolmSLPInfo5clear' '_ZN5vokra10InetSocket7connect' \
               '_ZN5vokra15SocketException' '_ZN5vokra13waitForSockIO'; do
  if ! printf '%s\n' "$symbols" | grep -q "^$pattern"; then
    echo "missing export matching $pattern"
    status=1
  fi
done
# Internals that must stay hidden.
for pattern in '_ZN5vokra12ContextTable' '_ZN5vokra16throwIOException' '_ZN5vokra11connectUnix' \
               '_ZN5vokra20throwSocketException' '_ZN4tolm' '_ZN4vslp' '^SLP'; do
  if printf '%s\n' "$symbols" | grep -q "$pattern"; then
    echo "internal symbol exported: $pattern"
    status=1
  fi
done

soname=$(readelf -d "$lib" | sed -n 's/.*Library soname: \[\(.*\)\].*/\1/p')
if [ "$soname" != "libvokra.so.1" ]; then
  echo "soname is '$soname', expected libvokra.so.1"
  status=1
fi
[ "$status" -eq 0 ] && echo "exports of $lib as expected"
exit "$status"
