#!/bin/sh
# check_install.sh BUILD_DIR CXX [EXTRA-FLAGS...]
# Installs libnvo's components (libnvo1, libnvo-dev, nvo-tools) into a scratch prefix and builds
# a small program against that installation with pkg-config only, as a program outside this tree
# would, then runs it.
# libvokra, which libnvo needs at run time, is taken from the build tree.
set -eu
build=$1 cxx=$2
shift 2
prefix=$(mktemp -d "${TMPDIR:-/tmp}/nvo-install.XXXXXX")
trap 'rm -rf "$prefix"' EXIT

# The library directory below the prefix: lib, or the multiarch one (lib/x86_64-linux-gnu).
libdir=$("$(dirname "$0")/../tests/support/install-components" "$build" "$prefix" libnvo.so.1 \
         libnvo1 libnvo-dev nvo-tools)
for file in "$libdir"/libnvo.so "$libdir"/libnvo.so.1 "$libdir"/libnvo.so.1.0.0 \
            "$libdir"/pkgconfig/nvo.pc \
            include/nvo/dom_node.h include/nvo/xml_parser.h include/nvo/mux_client.h \
            include/nvo/nvo_api.h include/nvo/nvo_export.h bin/nvo-call; do
  if [ ! -e "$prefix/$file" ]; then
    echo "not installed: $file"
    exit 1
  fi
done
if grep -q '#include "gateway/' "$prefix"/include/nvo/*.h; then
  echo "installed headers still include the source layout"
  exit 1
fi

cat >"$prefix/session.cc" <<'PROGRAM'
#include <nvo/mux_client.h>
#include <nvo/nvo_api.h>
#include <nvo/xml_parser.h>

int main() {
  nvo::XMLParser request;
  request.initXML();
  request.addCommand("enumerateBaseObjects", "catNone");
  nvo::MUXClient* client = new nvo::MUXClient;
  const bool open = client->initSession();  // NVO_AUTHENTICATION is unset: no session
  char* text = nullptr;
  const int cached = nvo::ReadCache(client->getApiCtx(), "orvantapolicy", &text);
  delete client;
  return open || cached == 0 || request.getXML(true).empty() ? 1 : 2;
}
PROGRAM
export PKG_CONFIG_PATH="$prefix/$libdir/pkgconfig"
cflags=$(pkg-config --define-variable=prefix="$prefix" --cflags nvo)
libs=$(pkg-config --define-variable=prefix="$prefix" --libs nvo)
case "$libs" in
  *"-L$prefix/$libdir"*"-lnvo"*) ;;
  *) echo "pkg-config --libs nvo gave: $libs"; exit 1 ;;
esac
# shellcheck disable=SC2086 # flag lists
"$cxx" -std=c++20 -Wall -Wextra -Werror "$@" $cflags "$prefix/session.cc" -o "$prefix/session" \
  $libs -Wl,-rpath-link,"$build/lib"
status=0
env -u NVO_AUTHENTICATION XDG_CACHE_HOME="$prefix/cache" LD_LIBRARY_PATH="$prefix/$libdir:$build/lib" \
  "$prefix/session" >/dev/null 2>&1 || status=$?
if [ "$status" -ne 2 ]; then
  echo "the program built against the installation exited with $status, expected 2"
  exit 1
fi
status=0
env -u NVO_AUTHENTICATION LD_LIBRARY_PATH="$prefix/$libdir:$build/lib" "$prefix/bin/nvo-call" \
  /dev/null >/dev/null 2>&1 || status=$?
if [ "$status" -ne 2 ]; then
  echo "the installed nvo-call without a session exited with $status, expected 2"
  exit 1
fi
echo "installation in $prefix builds and runs a session program"
